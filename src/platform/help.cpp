#include "platform/help.h"

#include <htmlhelp.h>

#include "platform/automation.h"

namespace qp::platform {
namespace {

// Set by every engine's creation on its own thread and read by that thread's forms.
thread_local std::wstring g_appHelpFile;

}  // namespace

void SetAppHelpFile(const std::wstring& path) {
  g_appHelpFile = path;
}
std::wstring AppHelpFile() {
  return g_appHelpFile;
}

bool ShowHelp(HWND window, const std::wstring& helpFile, DWORD topicId) {
  std::string file = WideToAnsi(helpFile);
  HWND shown;
  if (topicId != 0) {
    shown = HtmlHelpA(window, file.c_str(), HH_HELP_CONTEXT, topicId);
  } else {
    static const DWORD kOne = 1;
    shown = HtmlHelpA(window, file.c_str(), HH_DISPLAY_TOC, reinterpret_cast<DWORD_PTR>(&kOne));
  }
  return shown != nullptr;
}

void ShowHelpPopup(HWND window, const std::wstring& popupTopics, DWORD topicId, POINT at) {
  if (popupTopics.empty()) return;
  HH_POPUP popup = {};
  popup.cbStruct = sizeof popup;
  popup.idString = topicId;
  popup.pt = at;
  popup.clrForeground = static_cast<COLORREF>(-1);
  popup.clrBackground = static_cast<COLORREF>(-1);
  popup.rcMargins = {-1, -1, -1, -1};
  HtmlHelpW(window, popupTopics.c_str(), HH_DISPLAY_TEXT_POPUP,
            reinterpret_cast<DWORD_PTR>(&popup));
}

}  // namespace qp::platform

#include "platform/error_display.h"

#include "platform/automation.h"
#include "platform/error.h"
#include "platform/product.h"
#include "platform/registry_component.h"
#include "platform/settings.h"
#include "platform/strings.h"

namespace qp::platform {
namespace {

thread_local HWND g_activeForm = nullptr;

std::wstring ResolveTitle(const std::wstring& title) {
  if (!title.empty()) return title;
  if (HWND form = g_activeForm) {
    wchar_t caption[512] = {};
    if (GetWindowTextW(form, caption, 512) > 0) return caption;
  }
  return kComponentTitle;
}

}  // namespace

int ShowMessage(const std::wstring& prompt, const std::wstring& title, UINT buttons,
                const std::wstring& helpFile, DWORD helpContext) noexcept {
  try {
    std::wstring caption = ResolveTitle(title);
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    MSGBOXPARAMSW params = {};
    params.cbSize = sizeof params;
    params.hwndOwner = g_activeForm;
    params.lpszText = prompt.c_str();
    params.lpszCaption = caption.c_str();
    params.dwStyle = buttons | (g_activeForm ? 0 : MB_TASKMODAL);
    params.dwContextHelpId = helpContext;
    (void)helpFile;  // message boxes here carry no help file of their own
    return MessageBoxIndirectW(&params);
  } catch (...) {
    return 0;
  }
}

void ShowError(const std::wstring& heading, const std::wstring& title, const std::wstring& extra) {
  const Error current = CurrentError();
  std::wstring message;
  if (long id = ErrorMessageId(current.number)) {
    message = GetResourceString(static_cast<UINT>(id), {extra});
  } else {
    message = current.description;
  }
  try {
    if (!heading.empty()) message = heading + L"\r\n" + message;
    ShowMessage(message, ResolveTitle(title), MB_OK | MB_ICONEXCLAMATION, L"", 0);
  } catch (...) {
  }
}

void ShowCurrentError() {
  ShowError(L"", kMessageTitle, L"");
}

void ShowCaughtError(const std::wstring& extra) {
  AdoptCurrentException();
  ShowError(L"", kMessageTitle, extra);
}

bool ShowErrorPrompt(const std::wstring& heading, const std::wstring& title,
                     const std::wstring& extra) {
  std::wstring message =
      CurrentError().description + L"\r\n\r\n" + GetResourceString(kMsgPromptQuestion, {extra});
  try {
    if (!heading.empty()) message = heading + L"\r\n" + message;
    return ShowMessage(message, ResolveTitle(title), MB_YESNO | MB_ICONEXCLAMATION, L"", 0) ==
           IDYES;
  } catch (...) {
    return false;
  }
}

bool IsErrorDisplayOn() {
  std::wstring value =
      Upper(RegistryGetValue(kHiveLocalMachine, kSettingsKey, L"DisplayErrors", nullptr));
  if (value.empty()) value = L"N";
  return value == L"-1" || value[0] == L'T' || value[0] == L'Y' || value[0] == L'1';
}

void SetActiveForm(HWND form) {
  g_activeForm = form;
}
HWND ActiveForm() {
  return g_activeForm;
}

}  // namespace qp::platform

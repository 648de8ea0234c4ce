#include "ui/modal_loop.h"

#include <vector>

#include "platform/error_display.h"

namespace qp::ui {
using namespace qp::platform;
namespace {

struct DisabledWindows {
  HWND except;
  std::vector<HWND> list;
};
// Called by the window manager: nothing may unwind through it. A window is disabled only once
// it is on the list that enables it again; when the list cannot grow, the rest stay enabled.
BOOL CALLBACK DisableOther(HWND hwnd, LPARAM param) noexcept {
  auto* windows = reinterpret_cast<DisabledWindows*>(param);
  if (hwnd != windows->except && IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) {
    try {
      windows->list.push_back(hwnd);
    } catch (...) {
      return FALSE;
    }
    EnableWindow(hwnd, FALSE);
  }
  return TRUE;
}

}  // namespace

void RunModal(HWND form, const std::function<void()>& activated,
              const std::function<void(const MSG&)>& previewKey) {
  DisabledWindows others{form, {}};
  EnumThreadWindows(GetCurrentThreadId(), DisableOther, reinterpret_cast<LPARAM>(&others));
  const HWND previousForm = ActiveForm();
  SetActiveForm(form);

  ShowWindow(form, SW_SHOW);
  SetForegroundWindow(form);
  activated();
  MSG msg;
  while (IsWindow(form) && IsWindowVisible(form)) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop that owns the thread
      break;
    }
    if (got < 0) break;
    previewKey(msg);
    if (!IsDialogMessageW(form, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  SetActiveForm(previousForm);
  for (HWND hwnd : others.list)
    EnableWindow(hwnd, TRUE);
}

}  // namespace qp::ui

// How the component shows its errors: the message boxes of the convention, over the dialog
// that is active on the thread, and its trace.
#pragma once

#include <windows.h>

#include <string>

namespace qp {

// Message boxes of the convention.
int ShowMessage(const std::wstring& prompt, const std::wstring& title, UINT buttons,
                const std::wstring& helpFile, DWORD helpContext) noexcept;
void ShowError(const std::wstring& heading, const std::wstring& title, const std::wstring& extra);
// Inside a catch: what was caught, shown in the component's error box (for the operations that
// report rather than raise).
void ShowCaughtError(const std::wstring& extra);
bool ShowErrorPrompt(const std::wstring& heading, const std::wstring& title,
                     const std::wstring& extra);
bool IsErrorDisplayOn();
void Trace(const std::wstring& text, const std::wstring& category);

// The component's dialog that is open and active on this thread, whose caption stands in for
// an empty message box title.
void SetActiveForm(HWND form);
HWND ActiveForm();

}  // namespace qp

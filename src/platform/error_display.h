// How the component shows its errors: the message boxes of the convention, over the dialog
// that is active on the thread, and its trace.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <type_traits>

namespace qp::platform {

// Message boxes of the convention.
int ShowMessage(const std::wstring& prompt, const std::wstring& title, UINT buttons,
                const std::wstring& helpFile, DWORD helpContext) noexcept;
void ShowError(const std::wstring& heading, const std::wstring& title, const std::wstring& extra);
// The thread's current error in the component's error box (for the operations that report
// rather than raise: what ComBoundary hands to their report).
void ShowCurrentError();
// Inside a catch: what was caught, shown in the component's error box.
void ShowCaughtError(const std::wstring& extra);
bool ShowErrorPrompt(const std::wstring& heading, const std::wstring& title,
                     const std::wstring& extra);
bool IsErrorDisplayOn();

// The trace hook: a text and a category, and no effect. It takes the text as it stands or as a
// function that makes it; the recognition path passes the function, so that nothing is built
// for a hook that writes nothing.
template <class Text>
constexpr void Trace(const Text&, std::wstring_view) noexcept {
  static_assert(std::is_convertible_v<const Text&, std::wstring_view> ||
                std::is_invocable_r_v<std::wstring, const Text&>);
}

// The component's dialog that is open and active on this thread, whose caption stands in for
// an empty message box title.
void SetActiveForm(HWND form);
HWND ActiveForm();

}  // namespace qp::platform

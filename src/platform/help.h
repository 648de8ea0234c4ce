// The component's HTML Help: the help file's contents and topics, and the What's-This popups
// of the dialog's controls.
#pragma once

#include <windows.h>

#include <string>

namespace qp::platform {

// The component's help file: the forms' What's-This topics come from it. One per thread, set
// by the engines created on it.
void SetAppHelpFile(const std::wstring& path);
std::wstring AppHelpFile();
bool ShowHelp(HWND window, const std::wstring& helpFile, DWORD topicId);
// The What's-This popup of a topic of the popup topics ("file.chm::/popups.txt"), at a point.
void ShowHelpPopup(HWND window, const std::wstring& popupTopics, DWORD topicId, POINT at);

}  // namespace qp::platform

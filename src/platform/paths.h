// Where the component's files are: the folder of the server DLL (which may hold the company's
// default terms) and its language folder "1033", which holds the resource library and the help
// file.
#pragma once

#include <windows.h>

#include <string>

namespace qp::platform {

inline constexpr wchar_t kResourceLibraryName[] = L"nvsqpres.dll";
inline constexpr wchar_t kHelpFileName[] = L"nvauthor.chm";
inline constexpr wchar_t kPopupTopics[] = L"::/popups.txt";

// The module whose folder holds the language folder (the server DLL itself).
void SetComponentModule(HMODULE module);
HMODULE ComponentModule();
// The path of that module.
std::wstring ComponentPath();

std::wstring AppendPathPart(const std::wstring& base, const std::wstring& part);
std::wstring GetLanguageFolder();
// A file in the component's own folder, beside the server DLL.
std::wstring GetComponentFilePath(const std::wstring& fileName);
// The language folder beside the module at that path.
std::wstring LanguageFolderOf(const std::wstring& modulePath);
std::wstring GetResourceFilePath(const std::wstring& fileName);
std::wstring GetHelpFilePath(const std::wstring& fileName, bool popupTopics);

}  // namespace qp::platform

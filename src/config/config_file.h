// Where the user's configuration file lives, how a missing one is made from the default document
// the component carries, and how a file is replaced without ever leaving a partial one behind.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace qp {

inline constexpr wchar_t kConfigFileName[] = L"nvstagQP.cfg";
inline constexpr wchar_t kConfigFolderName[] = L"Norvane\\";
inline constexpr wchar_t kDefaultConfigType[] = L"QPSTCONFIG";
inline constexpr WORD kDefaultConfigId = 101;

// The user's application data folder + "Norvane\" (with its trailing backslash).
std::wstring GetUserConfigFolder();
// An existing entry that is not a folder.
bool FileExists(const std::wstring& path);

// The default document as the component carries it (UTF-16, with its mark and closing NUL).
std::wstring DefaultConfigResource();
// The resource text made fit for the file: no closing NUL, no byte-order mark, nothing after
// the closing root tag.
std::wstring CleanDefaultConfig(std::wstring text);
// Writes the cleaned default document to `path` as ANSI text, creating the folder when needed.
void WriteDefaultConfigFile(const std::wstring& path);
// The configuration file's full path; writes the default file when there is none. Failures
// carry "SmarTagConfigGetConfigFilePath()" in front of their source.
std::wstring GetConfigFilePath();

// Replaces the file at `path` in one step with what `write` puts into the file it is given,
// a new file beside `path`. Either the old file or the complete new one is there afterwards,
// even when the process dies in between; the new files such deaths left are removed by the
// next replacement (those of saves still running in other processes stay).
void ReplaceFileSafely(const std::wstring& path,
                       const std::function<void(const std::wstring& newFile)>& write);

// The whole file; false when it cannot be read.
bool ReadFileBytes(const std::wstring& path, std::string& bytes);

}  // namespace qp

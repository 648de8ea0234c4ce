// Where the user's configuration file lives, how a missing one is made from the company's default
// terms or the default document the component carries, and the lock of its saves.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "platform/error.h"
#include "platform/files.h"

namespace qp::config {

inline constexpr wchar_t kConfigFileName[] = L"nvstagQP.cfg";
inline constexpr wchar_t kConfigFolderName[] = L"Norvane\\";
inline constexpr wchar_t kDefaultConfigType[] = L"QPSTCONFIG";
inline constexpr WORD kDefaultConfigId = 101;
// The company's default terms for its new users, which its administrator installs beside the
// server (the package's property COMPANYTERMS).
inline constexpr wchar_t kCompanyConfigName[] = L"nvstagQP.default.cfg";

// The user's application data folder + "Norvane\" (with its trailing backslash).
std::wstring GetUserConfigFolder();
// An existing entry that is not a folder.
bool FileExists(const std::wstring& path);

// The default document as the component carries it (UTF-16, with its mark and closing NUL).
std::wstring DefaultConfigResource();
// The resource text made fit for the file: no closing NUL, no byte-order mark, nothing after
// the closing root tag.
std::wstring CleanDefaultConfig(std::wstring text);
// Puts `bytes` at `path` as a user's first configuration file, creating the folder when needed.
// Only where there is no file yet: when several engines start at once, the first complete
// file stays and is what all of them read.
void PlaceFirstConfigFile(const std::wstring& path, const std::string& bytes);
// Writes the cleaned default document to `path` as ANSI text, as a first file.
void WriteDefaultConfigFile(const std::wstring& path);
// Why the company's default terms at `file` may not become a user's file: it does not load as a
// user's file loads, or lacks an element every configuration needs. Error 0x80040205 as for a
// user's file that cannot be read, naming the company's file; none when it is usable.
std::optional<platform::Error> CompanyConfigRefusal(const std::wstring& file);
// A user's first file: the company's default terms beside the server, byte for byte, when they
// are there and usable; else the built-in default, and a company file that is there but not
// usable is raised after the user's file is written.
void WriteFirstConfigFile(const std::wstring& path);
// The configuration file's full path; writes the first file when there is none. Failures
// carry "SmarTagConfigGetConfigFilePath()" in front of their source.
std::wstring GetConfigFilePath();

// The lock that every save of the user's configuration takes, in every process and on every
// machine that shares the folder: the file "nvstagQP.lock" beside the configuration, opened
// with no sharing and deleted when closed, so that the system lets it go when its owner ends,
// however it ends. Taking it waits up to five seconds for another save; then it raises the
// error of a refused replace.
class SaveLock {
 public:
  explicit SaveLock(const std::wstring& configPath);

 private:
  platform::FileHandle file_;
};

}  // namespace qp::config

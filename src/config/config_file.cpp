#include "config/config_file.h"

#include <shlobj.h>

#include "config/xml_document.h"
#include "platform/automation.h"
#include "platform/error.h"
#include "platform/error_display.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/product.h"
#include "platform/strings.h"

namespace qp::config {
using namespace qp::platform;
namespace {

inline constexpr int kAppDataFolder = 26;  // CSIDL_APPDATA
inline constexpr wchar_t kCompanyLoadSource[] = L"CompanyConfigFileLoad(): ";

char ToAnsi(wchar_t c) {
  char a[8] = {};
  WideCharToMultiByte(CP_ACP, 0, &c, 1, a, sizeof a, nullptr, nullptr);
  return a[0];
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

std::wstring GetUserConfigFolder() {
  char buffer[MAX_PATH] = {};
  // The result code is not looked at: a failure leaves the buffer empty.
  SHGetFolderPathA(nullptr, kAppDataFolder, nullptr, 0, buffer);
  return AppendPathPart(AnsiToWide(buffer), kConfigFolderName);  // up to the first NUL
}

bool FileExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring DefaultConfigResource() {
  HMODULE module = ComponentModule();
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(kDefaultConfigId), kDefaultConfigType);
  if (!found) RaiseLastError();
  HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) RaiseLastError();
  const DWORD size = SizeofResource(module, found);
  return std::wstring(static_cast<const wchar_t*>(data), size / sizeof(wchar_t));
}

std::wstring CleanDefaultConfig(std::wstring text) {
  if (!text.empty() && ToAnsi(text.back()) == 0) {
    text.pop_back();
    Trace(L"The special character is added when loadResData", L"");
  }
  // The byte-order mark has no ANSI form and comes out as "?".
  if (!text.empty() && ToAnsi(text.front()) == '?') text.erase(0, 1);
  while (!text.empty() && text.back() != L'>')
    text.pop_back();
  return text;
}

void PlaceFirstConfigFile(const std::wstring& path, const std::string& bytes) {
  const std::wstring folder = GetUserConfigFolder();
  // Another apartment or process of the user may make it at the same moment.
  if (!IsFolder(folder) && !CreateDirectoryW(folder.c_str(), nullptr)) {
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS || !IsFolder(folder)) {
      SetLastError(error);
      RaiseLastError();
    }
  }
  // Written whole beside the file and put in place only where there is none: of several
  // engines that start at once, the first one's file stays and the others read it.
  const std::wstring newFile = NewFileBeside(path);
  try {
    {
      FileHandle file(CreateFileW(newFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file.Ok()) RaiseLastError();
      DWORD written = 0;
      if (!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) ||
          written != bytes.size() || !FlushFileBuffers(file.Get()))
        RaiseLastError();
      file.Close();
    }
    if (!MoveFileExW(newFile.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
      const DWORD error = GetLastError();
      if ((error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) || !FileExists(path)) {
        SetLastError(error);
        RaiseLastError();
      }
      DeleteFileW(newFile.c_str());
    }
  } catch (...) {
    DeleteFileW(newFile.c_str());
    throw;
  }
}

void WriteDefaultConfigFile(const std::wstring& path) {
  PlaceFirstConfigFile(path, WideToAnsi(CleanDefaultConfig(DefaultConfigResource())));
}

std::optional<Error> CompanyConfigRefusal(const std::wstring& file) {
  ComPtr<IXMLDOMDocument2> doc = NewXmlDocument();
  // Read as a user's own file is read, with the same parser and settings.
  if (const std::optional<ParseFailure> failure = LoadXmlFile(doc.Get(), file)) {
    return Error{kErrConfigParse,
                 kCompanyLoadSource + (failure->srcText.empty() ? kLibraryName : failure->srcText),
                 failure->reason + L" " + file};
  }
  for (const wchar_t* required :
       {L"SmartTagConfig/Name", L"SmartTagConfig/RecognizerProvider/Recognizers/Recognizer",
        L"SmartTagConfig/ActionProvider/Actions/Action"}) {
    ComPtr<IXMLDOMNode> node;
    Bstr query(required);
    Check(doc->selectSingleNode(query.Get(), node.GetAddressOf()));
    if (!node)
      return Error{kErrConfigParse, kCompanyLoadSource + std::wstring(required),
                   GetResourceString(kMsgMissingElement, {required}) + L" " + file};
  }
  return std::nullopt;
}

void WriteFirstConfigFile(const std::wstring& path) {
  const std::wstring company = GetComponentFilePath(kCompanyConfigName);
  if (!FileExists(company)) return WriteDefaultConfigFile(path);
  if (const std::optional<Error> refusal = CompanyConfigRefusal(company)) {
    // The user starts from the built-in terms, and the failure is reported as that of a user's
    // file that cannot be read.
    WriteDefaultConfigFile(path);
    Raise(*refusal);
  }
  std::string bytes;
  if (!ReadFileBytes(company, bytes)) RaiseLastError();
  PlaceFirstConfigFile(path, bytes);
}

std::wstring GetConfigFilePath() {
  try {
    std::wstring path = GetUserConfigFolder() + kConfigFileName;
    if (!FileExists(path)) WriteFirstConfigFile(path);
    return path;
  } catch (...) {
    PassOn(L"SmarTagConfigGetConfigFilePath()");
  }
}

// A save holds the lock for the moments of one read, merge and write; another save that waits
// longer than this is stuck, and the user hears of it.
constexpr ULONGLONG kLockPatienceMs = 5000;
constexpr wchar_t kLockFileName[] = L"nvstagQP.lock";

namespace {

// The lock file beside the configuration, opened as the one owner; raises when another save
// holds it past the patience.
HANDLE OpenSaveLock(const std::wstring& configPath) {
  const std::wstring lockPath =
      configPath.substr(0, configPath.find_last_of(L'\\') + 1) + kLockFileName;
  HANDLE file = INVALID_HANDLE_VALUE;
  // A lock file being deleted by its last owner refuses with access denied for a moment.
  if (!PatientlyWhileShared(
          [&] {
            file =
                CreateFileW(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
            return file != INVALID_HANDLE_VALUE;
          },
          IsSharingRefusalThatWillPass, kLockPatienceMs))
    RaiseLastError();
  return file;
}

}  // namespace

SaveLock::SaveLock(const std::wstring& configPath) : file_(OpenSaveLock(configPath)) {}

}  // namespace qp::config

#include "config/config_file.h"

#include <shlobj.h>

#include <utility>

#include "support/error.h"
#include "support/resources.h"

namespace qp {
namespace {

inline constexpr int kAppDataFolder = 26;  // CSIDL_APPDATA

// A failed file or resource call, with the system's own text for it.
[[noreturn]] void RaiseLastError() {
  HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
  if (SUCCEEDED(hr)) hr = E_FAIL;
  SetErrorInfo(0, nullptr);  // no other call's error information may stick to this one
  RaiseComError(hr, nullptr, IID_NULL);
}

char ToAnsi(wchar_t c) {
  char a[8] = {};
  WideCharToMultiByte(CP_ACP, 0, &c, 1, a, sizeof a, nullptr, nullptr);
  return a[0];
}

std::string WideToAnsi(const std::wstring& s) {
  if (s.empty()) return std::string();
  const int len = static_cast<int>(s.size());
  int n = WideCharToMultiByte(CP_ACP, 0, s.data(), len, nullptr, 0, nullptr, nullptr);
  std::string a(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, s.data(), len, a.data(), n, nullptr, nullptr);
  return a;
}

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
  void close() {
    if (h_ != INVALID_HANDLE_VALUE && !CloseHandle(std::exchange(h_, INVALID_HANDLE_VALUE)))
      RaiseLastError();
  }

 private:
  HANDLE h_;
};

// The new file's name beside the target: unique per process, so that two engines saving at
// the same moment never write into one another's file.
std::wstring NewFileBeside(const std::wstring& path) {
  return path + L"." + std::to_wstring(GetCurrentProcessId()) + L"." +
         std::to_wstring(GetTickCount()) + L".new";
}

// What was written must be on the disk before the name points at it.
void FlushToDisk(const std::wstring& path) {
  Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok() || !FlushFileBuffers(file.get())) RaiseLastError();
  file.close();
}

}  // namespace

std::wstring GetUserConfigFolder() {
  char buffer[MAX_PATH] = {};
  // The result code is not looked at: a failure leaves the buffer empty.
  SHGetFolderPathA(nullptr, kAppDataFolder, nullptr, 0, buffer);
  std::string folder(buffer);  // up to the first NUL
  std::wstring wide;
  if (!folder.empty()) {
    int n = MultiByteToWideChar(CP_ACP, 0, folder.data(), static_cast<int>(folder.size()), nullptr, 0);
    wide.assign(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, folder.data(), static_cast<int>(folder.size()), wide.data(), n);
  }
  return AppendPathPart(wide, kConfigFolderName);
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
  while (!text.empty() && text.back() != L'>') text.pop_back();
  return text;
}

void WriteDefaultConfigFile(const std::wstring& path) {
  const std::string text = WideToAnsi(CleanDefaultConfig(DefaultConfigResource()));
  const std::wstring folder = GetUserConfigFolder();
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    if (!CreateDirectoryW(folder.c_str(), nullptr)) RaiseLastError();
  }
  ReplaceFileSafely(path, [&](const std::wstring& newFile) {
    Handle file(CreateFileW(newFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.ok()) RaiseLastError();
    DWORD written = 0;
    if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size())
      RaiseLastError();
    file.close();
  });
}

std::wstring GetConfigFilePath() {
  try {
    std::wstring path = GetUserConfigFolder() + kConfigFileName;
    if (!FileExists(path)) WriteDefaultConfigFile(path);
    return path;
  } catch (...) {
    AdoptCurrentException();
    PrefixErrorSource(L"SmarTagConfigGetConfigFilePath()");
    RaiseError(CurrentError().number, L"", L"", L"");
  }
}

void ReplaceFileSafely(const std::wstring& path,
                       const std::function<void(const std::wstring& newFile)>& write) {
  // Windows refuses to replace a read-only file, and so do we on every platform (Wine would
  // replace it): the user who protected the file keeps it.
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    SetLastError(ERROR_ACCESS_DENIED);
    RaiseLastError();
  }
  const std::wstring newFile = NewFileBeside(path);
  try {
    write(newFile);
    FlushToDisk(newFile);
    if (!MoveFileExW(newFile.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      RaiseLastError();
  } catch (...) {
    DeleteFileW(newFile.c_str());
    throw;
  }
}

bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
  Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) return false;
  bytes.assign(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!bytes.empty() &&
      (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
       read != bytes.size()))
    return false;
  return true;
}

}  // namespace qp

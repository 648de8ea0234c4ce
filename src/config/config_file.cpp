#include "config/config_file.h"

#include <shlobj.h>

#include <atomic>
#include <cwchar>
#include <utility>

#include "platform/error.h"
#include "platform/error_display.h"
#include "platform/resources.h"

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
  HANDLE Get() const { return h_; }
  bool Ok() const { return h_ != INVALID_HANDLE_VALUE; }
  void Close() {
    if (h_ != INVALID_HANDLE_VALUE && !CloseHandle(std::exchange(h_, INVALID_HANDLE_VALUE)))
      RaiseLastError();
  }

 private:
  HANDLE h_;
};

// A process as it names the new files it writes: its id and the moment it started, so that a
// later process with the same id is not taken for it.
struct FileOwner {
  DWORD pid = 0;
  unsigned long long started = 0;  // creation time, in 100 ns
};

unsigned long long StartOf(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

const FileOwner& ThisProcess() {
  static const FileOwner kSelf{GetCurrentProcessId(), StartOf(GetCurrentProcess())};
  return kSelf;
}

constexpr wchar_t kNewFileEnd[] = L".new";

// The new file's name beside the target: "<target>.<pid>-<start>.<n>.new". Unique per save, so
// that two engines saving at the same moment never write into one another's file, and naming
// its owner, so that the file of a save that was killed can be told from one in progress.
std::wstring NewFileBeside(const std::wstring& path) {
  static std::atomic<unsigned long> saves{0};
  wchar_t owner[48];
  wsprintfW(owner, L"%lu-%08lX%08lX", ThisProcess().pid,
            static_cast<unsigned long>(ThisProcess().started >> 32),
            static_cast<unsigned long>(ThisProcess().started & 0xFFFFFFFFu));
  return path + L"." + owner + L"." + std::to_wstring(++saves) + kNewFileEnd;
}

// The owner a new file's name gives (the part after "<target>."); false for any other name.
bool OwnerOf(const std::wstring& tail, FileOwner& owner) {
  unsigned long pid = 0, high = 0, low = 0, save = 0;
  wchar_t end[8] = {};
  if (swscanf(tail.c_str(), L"%lu-%8lx%8lx.%lu%7ls", &pid, &high, &low, &save, end) != 5 ||
      std::wstring(end) != kNewFileEnd)
    return false;
  owner = {pid, (static_cast<unsigned long long>(high) << 32) | low};
  return true;
}

// Whether the process that wrote a new file may still be saving. Only a process that is
// certainly gone (no such process, ended, or another one under its id) counts as dead.
bool MaySaveStill(const FileOwner& owner) {
  if (owner.pid == ThisProcess().pid) return owner.started == ThisProcess().started;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, owner.pid);
  if (!process) return GetLastError() != ERROR_INVALID_PARAMETER;
  DWORD exitCode = 0;
  const bool running = GetExitCodeProcess(process, &exitCode) && exitCode == STILL_ACTIVE &&
                       StartOf(process) == owner.started;
  CloseHandle(process);
  return running;
}

// Removes the new files that saves of processes no longer running left beside `path` when they
// were stopped between writing and replacing. Best effort: what cannot be removed stays.
void RemoveLeftNewFiles(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'\\');
  const std::wstring folder = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
  const std::wstring prefix = path.substr(folder.size()) + L".";
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((path + L".*" + kNewFileEnd).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    FileOwner owner;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name.rfind(prefix, 0) != 0 ||
        !OwnerOf(name.substr(prefix.size()), owner) || MaySaveStill(owner))
      continue;
    DeleteFileW((folder + name).c_str());
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

// What was written must be on the disk before the name points at it.
void FlushToDisk(const std::wstring& path) {
  Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Ok() || !FlushFileBuffers(file.Get())) RaiseLastError();
  file.Close();
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
    if (!file.Ok()) RaiseLastError();
    DWORD written = 0;
    if (!WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size())
      RaiseLastError();
    file.Close();
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
  RemoveLeftNewFiles(path);
}

bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
  Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Ok()) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.Get(), &size)) return false;
  bytes.assign(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!bytes.empty() &&
      (!ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
       read != bytes.size()))
    return false;
  return true;
}

}  // namespace qp

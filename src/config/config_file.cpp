#include "config/config_file.h"

#include <shlobj.h>

#include <atomic>
#include <cwchar>
#include <iterator>
#include <utility>

#include "config/xml_document.h"
#include "platform/automation.h"
#include "platform/error.h"
#include "platform/error_display.h"
#include "platform/paths.h"
#include "platform/strings.h"

namespace qp {
namespace {

inline constexpr int kAppDataFolder = 26;  // CSIDL_APPDATA
inline constexpr wchar_t kCompanyLoadSource[] = L"CompanyConfigFileLoad(): ";

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

// A call refused because another handle has the file open (a reader of another apartment or
// process, a virus scanner, an indexer) is tried again for this long before it is reported.
constexpr ULONGLONG kSharingPatienceMs = 2000;
constexpr DWORD kSharingRetryMs = 20;

bool IsSharingViolation(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}
// Windows refuses to replace a file that another handle holds open with access denied.
bool IsSharingRefusalThatWillPass(DWORD error) {
  return IsSharingViolation(error) || error == ERROR_ACCESS_DENIED;
}

// Runs `attempt` until it succeeds, fails for another reason, or the patience is spent; the
// last error stays that of the last attempt.
template <class Attempt>
bool PatientlyWhileShared(Attempt attempt, bool (*passing)(DWORD),
                          ULONGLONG patienceMs = kSharingPatienceMs) {
  const ULONGLONG until = GetTickCount64() + patienceMs;
  for (;;) {
    if (attempt()) return true;
    const DWORD error = GetLastError();
    if (!passing(error) || GetTickCount64() >= until) {
      SetLastError(error);
      return false;
    }
    Sleep(kSharingRetryMs);
  }
}

// A process as it names the new files it writes: its machine, its id and the moment it
// started, so that a later process with the same id is not taken for it, nor a process of
// another machine that shares the folder (a roaming or redirected profile) for one of ours.
struct FileOwner {
  std::wstring machine;
  DWORD pid = 0;
  unsigned long long started = 0;  // creation time, in 100 ns
};

unsigned long long StartOf(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

std::wstring MachineName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &size)) return L"UNKNOWN";
  // The name ends where the new file's parts begin.
  std::wstring machine(name, size);
  for (wchar_t& c : machine)
    if (c == L'.') c = L'_';
  return machine;
}

const FileOwner& ThisProcess() {
  static const FileOwner self{MachineName(), GetCurrentProcessId(), StartOf(GetCurrentProcess())};
  return self;
}

constexpr wchar_t kNewFileEnd[] = L".new";

// New files this old that no running save of this machine claims are leftovers, whoever wrote
// them: a save writes, flushes and renames its file within moments, so one of another machine
// that is still this old belongs to a save that was killed or a machine that went away.
constexpr ULONGLONG kLeftoverAge = 60ull * 60 * 10000000;  // an hour, in 100 ns

// The new file's name beside the target: "<target>.<machine>.<pid>-<start>.<n>.new". Unique
// per save, so that two engines saving at the same moment never write into one another's
// file, and naming its owner, so that the file of a save that was killed can be told from one
// in progress.
std::wstring NewFileBeside(const std::wstring& path) {
  static std::atomic<unsigned long> saves{0};
  const FileOwner& self = ThisProcess();
  wchar_t owner[48];
  wsprintfW(owner, L"%lu-%08lX%08lX", self.pid, static_cast<unsigned long>(self.started >> 32),
            static_cast<unsigned long>(self.started & 0xFFFFFFFFu));
  return path + L"." + self.machine + L"." + owner + L"." + std::to_wstring(++saves) + kNewFileEnd;
}

// The owner a new file's name gives (the part after "<target>."); false for any other name.
bool OwnerOf(const std::wstring& tail, FileOwner& owner) {
  const size_t endLength = std::size(kNewFileEnd) - 1;
  if (tail.size() <= endLength || tail.compare(tail.size() - endLength, endLength, kNewFileEnd))
    return false;
  const std::wstring rest = tail.substr(0, tail.size() - endLength);
  const size_t countAt = rest.find_last_of(L'.');
  if (countAt == std::wstring::npos || countAt == 0) return false;
  const size_t processAt = rest.find_last_of(L'.', countAt - 1);
  if (processAt == std::wstring::npos || processAt == 0) return false;
  unsigned long pid = 0, high = 0, low = 0;
  wchar_t more = 0;
  if (swscanf(rest.c_str() + processAt + 1, L"%lu-%8lx%8lx%lc", &pid, &high, &low, &more) != 4 ||
      more != L'.')
    return false;
  owner = {rest.substr(0, processAt), pid, (static_cast<unsigned long long>(high) << 32) | low};
  return true;
}

// Whether the process of this machine that wrote a new file may still be saving. Only a
// process that is certainly gone (no such process, ended, or another one under its id) counts
// as dead.
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

ULONGLONG AgeOf(const FILETIME& written) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const ULONGLONG then =
      (static_cast<ULONGLONG>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
  const ULONGLONG at = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return at > then ? at - then : 0;
}

// Whether a new file beside the target is a leftover that no save can still want: one of this
// machine's whose process is gone, or another machine's once it is old. A name that no save
// gives is not the sweep's to remove.
bool IsLeftover(const std::wstring& tail, const FILETIME& written) {
  FileOwner owner;
  if (!OwnerOf(tail, owner)) return false;
  if (CompareStringOrdinal(owner.machine.c_str(), -1, ThisProcess().machine.c_str(), -1, TRUE) ==
      CSTR_EQUAL)
    return !MaySaveStill(owner);
  return AgeOf(written) >= kLeftoverAge;
}

// Removes the new files that saves no longer running left beside `path` when they were stopped
// between writing and replacing. Best effort: what cannot be removed stays.
void RemoveLeftNewFiles(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'\\');
  const std::wstring folder =
      slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
  const std::wstring prefix = path.substr(folder.size()) + L".";
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((path + L".*" + kNewFileEnd).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name.size() <= prefix.size() ||
        CompareStringOrdinal(name.c_str(), static_cast<int>(prefix.size()), prefix.c_str(), -1,
                             TRUE) != CSTR_EQUAL ||
        !IsLeftover(name.substr(prefix.size()), found.ftLastWriteTime))
      continue;
    DeleteFileW((folder + name).c_str());
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
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
      Handle file(CreateFileW(newFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
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
    if (!PatientlyWhileShared(
            [&] {
              return MoveFileExW(newFile.c_str(), path.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
            },
            IsSharingRefusalThatWillPass))
      RaiseLastError();
  } catch (...) {
    DeleteFileW(newFile.c_str());
    throw;
  }
  RemoveLeftNewFiles(path);
}

// A save holds the lock for the moments of one read, merge and write; another save that waits
// longer than this is stuck, and the user hears of it.
constexpr ULONGLONG kLockPatienceMs = 5000;
constexpr wchar_t kLockFileName[] = L"nvstagQP.lock";

SaveLock::SaveLock(const std::wstring& configPath) : file_(INVALID_HANDLE_VALUE) {
  const std::wstring lockPath =
      configPath.substr(0, configPath.find_last_of(L'\\') + 1) + kLockFileName;
  // A lock file being deleted by its last owner refuses with access denied for a moment.
  if (!PatientlyWhileShared(
          [&] {
            file_ =
                CreateFileW(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
            return file_ != INVALID_HANDLE_VALUE;
          },
          IsSharingRefusalThatWillPass, kLockPatienceMs))
    RaiseLastError();
}

SaveLock::~SaveLock() {
  CloseHandle(file_);
}

bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
  // Shared for deletion too: a save replaces the file by renaming its new one over it.
  HANDLE opened = INVALID_HANDLE_VALUE;
  PatientlyWhileShared(
      [&] {
        opened = CreateFileW(path.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        return opened != INVALID_HANDLE_VALUE;
      },
      IsSharingViolation);
  Handle file(opened);
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

#include "platform/files.h"

#include <atomic>
#include <cwchar>
#include <iterator>
#include <utility>

#include "platform/error.h"

namespace qp::platform {
namespace {

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

// What was written must be on the disk before the name points at it.
void FlushToDisk(const std::wstring& path) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Ok() || !FlushFileBuffers(file.Get())) RaiseLastError();
  file.Close();
}

}  // namespace

std::wstring NewFileBeside(const std::wstring& path) {
  static std::atomic<unsigned long> saves{0};
  const FileOwner& self = ThisProcess();
  wchar_t owner[48];
  wsprintfW(owner, L"%lu-%08lX%08lX", self.pid, static_cast<unsigned long>(self.started >> 32),
            static_cast<unsigned long>(self.started & 0xFFFFFFFFu));
  return path + L"." + self.machine + L"." + owner + L"." + std::to_wstring(++saves) + kNewFileEnd;
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
  FileHandle file(opened);
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

}  // namespace qp::platform

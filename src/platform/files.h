// Files that several processes, apartments and machines share: reading while another
// replaces, replacing in one step, and the patience with a handle that holds a file open.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>

#include "platform/error.h"

namespace qp::platform {

// A failed file or resource call, with the system's own text for it.
[[noreturn]] inline void RaiseLastError() {
  HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
  if (SUCCEEDED(hr)) hr = E_FAIL;
  SetErrorInfo(0, nullptr);  // no other call's error information may stick to this one
  RaiseComError(hr, nullptr, IID_NULL);
}

class FileHandle {
 public:
  explicit FileHandle(HANDLE h) : h_(h) {}
  ~FileHandle() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
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
inline constexpr ULONGLONG kSharingPatienceMs = 2000;
inline constexpr DWORD kSharingRetryMs = 20;

inline bool IsSharingViolation(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}
// Windows refuses to replace a file that another handle holds open with access denied.
inline bool IsSharingRefusalThatWillPass(DWORD error) {
  return IsSharingViolation(error) || error == ERROR_ACCESS_DENIED;
}

// Runs `attempt` until it succeeds, fails for another reason, or an attempt begun after the
// patience was spent fails too; the last error stays that of the last attempt. Judging the time
// before an attempt, not after it, gives a thread that stood still for longer than the patience
// (a machine under load, a suspended process) one more try on a file that is free by now.
template <class Attempt>
bool PatientlyWhileShared(Attempt attempt, bool (*passing)(DWORD),
                          ULONGLONG patienceMs = kSharingPatienceMs) {
  const ULONGLONG until = GetTickCount64() + patienceMs;
  for (;;) {
    const bool last = GetTickCount64() >= until;
    if (attempt()) return true;
    const DWORD error = GetLastError();
    if (!passing(error) || last) {
      SetLastError(error);
      return false;
    }
    Sleep(kSharingRetryMs);
  }
}

// The new file's name beside the target: "<target>.<machine>.<pid>-<start>.<n>.new". Unique
// per save, so that two engines saving at the same moment never write into one another's
// file, and naming its owner, so that the file of a save that was killed can be told from one
// in progress.
std::wstring NewFileBeside(const std::wstring& path);

// Replaces the file at `path` in one step with what `write` puts into the file it is given,
// a new file beside `path`. Either the old file or the complete new one is there afterwards,
// even when the process dies in between. A replacement refused because another handle has the
// file open is tried again for about two seconds before it fails. The new files that such
// deaths left are removed by the next replacement: those of this machine's processes that are
// gone at once, any other (another machine's in a shared folder, or of an earlier naming)
// once it is an hour old, so that a save still running anywhere keeps its file.
void ReplaceFileSafely(const std::wstring& path,
                       const std::function<void(const std::wstring& newFile)>& write);

// The whole file; false when it cannot be read. Opened for reading only, sharing reading,
// writing and deletion with every other handle, so that a save may replace it meanwhile.
bool ReadFileBytes(const std::wstring& path, std::string& bytes);

}  // namespace qp::platform

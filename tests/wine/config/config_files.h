// The user's configuration folder as the store's tests prepare it.
#pragma once

#include <windows.h>

#include <string>

namespace qp::test {

// Sets a file's time of writing `seconds` back from now, as a file written earlier has it; false
// when the file cannot be opened or changed.
inline bool Backdate(const std::wstring& path, ULONGLONG seconds) {
  HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER at = {{now.dwLowDateTime, now.dwHighDateTime}};
  at.QuadPart -= seconds * 10000000ull;
  const FILETIME written = {at.LowPart, at.HighPart};
  const bool done = SetFileTime(file, nullptr, nullptr, &written);
  CloseHandle(file);
  return done;
}

}  // namespace qp::test

// Starts one command line many times, one start after another, as the Wine tests start their
// programs, and counts the starts that fail by error code: a start that fails one time in
// thousands shows here in minutes, where the test suites meet it once in several runs.
//   start_repeatedly N COMMAND-LINE
// Prints each failed start with its number and time, and at the end the counts; exit status 1
// when any start failed.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <map>
#include <string>

int wmain(int argc, wchar_t** argv) {
  const int starts = argc == 3 ? _wtoi(argv[1]) : 0;
  if (starts <= 0) {
    std::fputs("usage: start_repeatedly N COMMAND-LINE\n", stderr);
    return 2;
  }
  std::map<DWORD, int> failures;
  int nonZeroExits = 0;
  const ULONGLONG begin = GetTickCount64();
  for (int i = 1; i <= starts; ++i) {
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::wstring line = argv[2];  // CreateProcessW may write into its command line
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
      const DWORD error = GetLastError();
      ++failures[error];
      std::printf("start %d failed: error %lu, %llu s in\n", i, error,
                  (GetTickCount64() - begin) / 1000);
      std::fflush(stdout);
      continue;
    }
    DWORD code = 0;
    if (WaitForSingleObject(pi.hProcess, 120000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
    GetExitCodeProcess(pi.hProcess, &code);
    if (code != 0) ++nonZeroExits;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (i % 1000 == 0) {
      std::printf("%d starts, %llu s\n", i, (GetTickCount64() - begin) / 1000);
      std::fflush(stdout);
    }
  }
  int failed = 0;
  for (const auto& [error, count] : failures)
    failed += count;
  std::printf("%d starts: %d failed, %d ended with an exit code other than 0\n", starts, failed,
              nonZeroExits);
  for (const auto& [error, count] : failures)
    std::printf("  error %lu: %d\n", error, count);
  return failed ? 1 : 0;
}

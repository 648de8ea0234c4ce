// The helper program config_saver (tests/wine/config) run as another process of the user.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "wine_test_env.h"

namespace qp::test {

// One run of the helper that saves the terms again and again (or reads them: mode "read").
class Saver {
 public:
  static constexpr DWORD kStartLimitMs = 60000;  // a new process under Wine and its first save
  explicit Saver(unsigned long count = 0, const std::wstring& mode = L"") {
    static int runs = 0;
    const std::wstring tag =
        std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++runs);
    ready_ = CreateEventW(nullptr, TRUE, FALSE, (L"qp_saver_ready_" + tag).c_str());
    stop_ = CreateEventW(nullptr, TRUE, FALSE, (L"qp_saver_stop_" + tag).c_str());
    std::wstring command = L"\"" + BinFolder() + L"\\config_saver.exe\" qp_saver_ready_" + tag +
                           L" qp_saver_stop_" + tag + L" " + std::to_wstring(count) + L" " + mode;
    STARTUPINFOW startup = {sizeof startup};
    EXPECT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process_))
        << "config_saver did not start";
  }
  ~Saver() {
    Kill();
    for (HANDLE h : {process_.hThread, process_.hProcess, ready_, stop_})
      CloseHandle(h);
  }
  Saver(const Saver&) = delete;
  Saver& operator=(const Saver&) = delete;

  // Started, and through its first complete save (or read).
  ::testing::AssertionResult Saving() {
    HANDLE either[] = {ready_, process_.hProcess};
    switch (WaitForMultipleObjects(2, either, FALSE, kStartLimitMs)) {
      case WAIT_OBJECT_0:
        return ::testing::AssertionSuccess();
      case WAIT_OBJECT_0 + 1:
        return ::testing::AssertionFailure() << "config_saver ended before its first save";
      default:
        return ::testing::AssertionFailure() << "config_saver's first save never ended";
    }
  }
  // Lets a run that waits for it go on (mode "ok").
  void Go() { SetEvent(stop_); }
  // Ends by itself (a run with a count, or told to stop) with every save (or read) done.
  ::testing::AssertionResult Succeeds(bool stop = false) {
    if (stop) SetEvent(stop_);
    if (WaitForSingleObject(process_.hProcess, kStartLimitMs) != WAIT_OBJECT_0)
      return ::testing::AssertionFailure() << "config_saver did not end";
    DWORD code = 98;
    GetExitCodeProcess(process_.hProcess, &code);
    if (code != 0) return ::testing::AssertionFailure() << "config_saver failed, code " << code;
    return ::testing::AssertionSuccess();
  }
  void Kill() {
    TerminateProcess(process_.hProcess, 3);
    WaitForSingleObject(process_.hProcess, kStartLimitMs);
  }
  HANDLE Thread() const { return process_.hThread; }

 private:
  HANDLE ready_, stop_;
  PROCESS_INFORMATION process_ = {};
};

}  // namespace qp::test

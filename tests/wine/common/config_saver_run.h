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
  explicit Saver(unsigned long count = 0, const std::wstring& mode = L"")
      : tag_(std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++runs_)),
        ready_(CreateEventW(nullptr, TRUE, FALSE, (L"qp_saver_ready_" + tag_).c_str())),
        stop_(CreateEventW(nullptr, TRUE, FALSE, (L"qp_saver_stop_" + tag_).c_str())),
        program_(L"\"" + BinFolder() + L"\\config_saver.exe\" qp_saver_ready_" + tag_ +
                 L" qp_saver_stop_" + tag_ + L" " + std::to_wstring(count) + L" " + mode) {}
  ~Saver() {
    program_.End();
    CloseHandle(ready_);
    CloseHandle(stop_);
  }

  // Started, and through its first complete save (or read).
  ::testing::AssertionResult Saving() {
    HANDLE either[] = {ready_, program_.Process()};
    const DWORD which = WaitForMultipleObjects(2, either, FALSE, kStartLimitMs);
    if (which == WAIT_OBJECT_0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << (which == WAIT_OBJECT_0 + 1 ? "config_saver ended before its first save"
                                          : "config_saver's first save never ended");
  }
  // Lets a run that waits for it go on (mode "ok").
  void Go() { SetEvent(stop_); }
  // Ends by itself (a run with a count, or told to stop) with every save (or read) done.
  ::testing::AssertionResult Succeeds(bool stop = false) {
    if (stop) SetEvent(stop_);
    if (WaitForSingleObject(program_.Process(), kStartLimitMs) != WAIT_OBJECT_0)
      return ::testing::AssertionFailure() << "config_saver did not end";
    DWORD code = 98;
    GetExitCodeProcess(program_.Process(), &code);
    if (code != 0) return ::testing::AssertionFailure() << "config_saver failed, code " << code;
    return ::testing::AssertionSuccess();
  }
  void Kill() { program_.End(); }
  HANDLE Thread() const { return program_.Thread(); }

 private:
  static inline int runs_ = 0;
  std::wstring tag_;
  HANDLE ready_, stop_;
  Program program_;
};

}  // namespace qp::test

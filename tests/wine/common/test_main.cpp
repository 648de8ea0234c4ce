// The main of every Wine test program: GoogleTest with a watchdog. A program that runs past its
// time limit (a dialog that never came, a box nobody answers, a call that never returns) is
// ended by the watchdog, which says which test was running and what it waited for, reads and
// closes the program's windows and exits with a failure, well before CTest's own limit.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "window_watcher.h"

namespace {

// Whole seconds; "--time-limit=N" on the command line changes it.
unsigned long g_limitSeconds = 180;

class CurrentTest : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo& info) override {
    qp::test::SetActivity(std::string(info.test_suite_name()) + "." + info.name());
  }
};

DWORD WINAPI Watchdog(void* stop) {
  if (WaitForSingleObject(stop, g_limitSeconds * 1000) != WAIT_TIMEOUT) return 0;
  std::fprintf(stderr, "\n[watchdog] the program ran past its limit of %lu s, in %s\n",
               g_limitSeconds, qp::test::Activity().c_str());
  for (const qp::test::SeenWindow& w : qp::test::CloseOpenWindows())
    std::fprintf(stderr, "[watchdog] closed a window left open: %s\n",
                 qp::test::Narrow(qp::test::Describe(w)).c_str());
  std::fflush(stderr);
  std::fflush(stdout);
  // Destructors could wait on the stuck thread: end the process as it is.
  TerminateProcess(GetCurrentProcess(), 3);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i)
    if (!std::strncmp(argv[i], "--time-limit=", 13))
      g_limitSeconds = std::strtoul(argv[i] + 13, nullptr, 10);
  ::testing::UnitTest::GetInstance()->listeners().Append(new CurrentTest);
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE watchdog = CreateThread(nullptr, 0, Watchdog, stop, 0, nullptr);
  const int result = RUN_ALL_TESTS();
  SetEvent(stop);
  WaitForSingleObject(watchdog, INFINITE);
  return result;
}

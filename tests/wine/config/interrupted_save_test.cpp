// Saves of the terms that never finish: a process killed while it saves, at random moments, and
// a process frozen halfway through its save while another one saves. The user's file must be
// whole every time, what the killed saves left beside it must go with the next save, and a
// save still in progress must not be disturbed. The saves are those of the registered server,
// run by a helper program (config_saver).
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "wine_test_env.h"

namespace {

constexpr DWORD kStartLimitMs = 60000;  // a new process under Wine, its server and first save

using qp::test::ConfigFolder;
using qp::test::ConfigPath;

// Everything beside the configuration file whose name continues it: what saves left there.
std::vector<std::wstring> LeftBeside() {
  std::vector<std::wstring> names;
  for (const std::wstring& name : qp::test::ConfigFolderEntries())
    if (_wcsnicmp(name.c_str(), L"nvstagQP.cfg.", 13) == 0) names.push_back(name);
  return names;
}

// The file as a save writes it: the whole document up to its closing root tag, with the
// default configuration's four terms.
::testing::AssertionResult IsWhole(const std::string& file) {
  std::string text = file;
  while (!text.empty() && isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  const std::string end = "</SmartTagConfig>";
  if (text.size() < end.size() || text.compare(text.size() - end.size(), end.size(), end) != 0)
    return ::testing::AssertionFailure() << "the file stops short: " << file;
  size_t terms = 0;
  for (size_t at = text.find("<Recognizer "); at != std::string::npos;
       at = text.find("<Recognizer ", at + 1))
    ++terms;
  if (terms != 4) return ::testing::AssertionFailure() << terms << " terms in: " << file;
  return ::testing::AssertionSuccess();
}

// One run of the helper that saves the terms again and again.
class Saver {
 public:
  explicit Saver(unsigned long count = 0) {
    static int runs = 0;
    const std::wstring tag = std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++runs);
    const std::wstring readyName = L"qp_saver_ready_" + tag, stopName = L"qp_saver_stop_" + tag;
    ready_ = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
    stop_ = CreateEventW(nullptr, TRUE, FALSE, stopName.c_str());
    std::wstring command = L"\"" + qp::test::BinFolder() + L"\\config_saver.exe\" " + readyName +
                           L" " + stopName + L" " + std::to_wstring(count);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    started_ = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &startup, &process_);
  }
  ~Saver() {
    if (started_ && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
      TerminateProcess(process_.hProcess, 3);
    if (started_) {
      WaitForSingleObject(process_.hProcess, kStartLimitMs);
      CloseHandle(process_.hThread);
      CloseHandle(process_.hProcess);
    }
    CloseHandle(ready_);
    CloseHandle(stop_);
  }
  Saver(const Saver&) = delete;
  Saver& operator=(const Saver&) = delete;

  // Started, and through its first complete save.
  ::testing::AssertionResult Saving() {
    if (!started_) return ::testing::AssertionFailure() << "config_saver did not start";
    HANDLE either[] = {ready_, process_.hProcess};
    switch (WaitForMultipleObjects(2, either, FALSE, kStartLimitMs)) {
      case WAIT_OBJECT_0: return ::testing::AssertionSuccess();
      case WAIT_OBJECT_0 + 1:
        return ::testing::AssertionFailure() << "config_saver ended before its first save, code "
                                             << ExitCode();
      default: return ::testing::AssertionFailure() << "config_saver's first save never ended";
    }
  }
  void Kill() {
    TerminateProcess(process_.hProcess, 3);
    WaitForSingleObject(process_.hProcess, kStartLimitMs);
  }
  // Ends by itself (a run with a count): 0 when every save succeeded.
  DWORD Wait() {
    if (WaitForSingleObject(process_.hProcess, kStartLimitMs) != WAIT_OBJECT_0) return 99;
    return ExitCode();
  }
  // Finishes the save under way and ends.
  DWORD StopAndWait() {
    SetEvent(stop_);
    return Wait();
  }
  HANDLE Thread() const { return process_.hThread; }

 private:
  DWORD ExitCode() const {
    DWORD code = 98;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }
  HANDLE ready_ = nullptr, stop_ = nullptr;
  PROCESS_INFORMATION process_ = {};
  bool started_ = false;
};

class InterruptedSaves : public ::testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }
  static void Clean() {
    for (const std::wstring& name : LeftBeside()) DeleteFileW((ConfigFolder() + L"\\" + name).c_str());
    DeleteFileW(ConfigPath().c_str());
  }
};

TEST_F(InterruptedSaves, AKilledSaveLeavesAWholeFileAndTheNextSaveTakesWhatItLeft) {
  const unsigned seed = GetTickCount();
  SCOPED_TRACE("random seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<DWORD> moment(0, 120);
  int killsThatLeftAFile = 0;
  for (int kill = 1; kill <= 30; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill));
    Saver saver;
    ASSERT_TRUE(saver.Saving());
    // Not a wait for something: the moment of the kill, somewhere in the saves that follow.
    Sleep(moment(random));
    saver.Kill();
    ASSERT_TRUE(IsWhole(qp::test::FileBytes(ConfigPath())));
    // The saver's first save removed what the kill before left; only this kill's file can be
    // there now.
    const auto left = LeftBeside();
    EXPECT_LE(left.size(), 1u) << "files left by earlier kills pile up";
    if (!left.empty()) ++killsThatLeftAFile;
  }
  // Otherwise no kill came between writing and replacing, and the test showed nothing.
  EXPECT_GT(killsThatLeftAFile, 0);
  printf("kills that left a new file beside the configuration: %d of 30\n", killsThatLeftAFile);

  Saver next(1);
  EXPECT_EQ(next.Wait(), 0u) << "the next save failed";
  EXPECT_TRUE(IsWhole(qp::test::FileBytes(ConfigPath())));
  EXPECT_EQ(LeftBeside(), std::vector<std::wstring>{}) << "the next save left them there";
}

TEST_F(InterruptedSaves, ASaveInProgressInAnotherProcessIsNotDisturbed) {
  Saver frozen;
  ASSERT_TRUE(frozen.Saving());
  // Freeze it at random moments until one falls between writing its new file and replacing
  // the configuration with it.
  std::mt19937 random(GetTickCount());
  std::uniform_int_distribution<DWORD> moment(0, 15);
  std::vector<std::wstring> inProgress;
  for (int attempt = 0; attempt < 2000 && inProgress.empty(); ++attempt) {
    ASSERT_NE(SuspendThread(frozen.Thread()), static_cast<DWORD>(-1));
    inProgress = LeftBeside();
    if (inProgress.empty()) {
      ResumeThread(frozen.Thread());
      Sleep(moment(random));
    }
  }
  ASSERT_EQ(inProgress.size(), 1u) << "no freeze came between writing and replacing";

  // Another process saves meanwhile: the frozen save's file is not its to take.
  {
    Saver other(1);
    EXPECT_EQ(other.Wait(), 0u) << "the other save failed";
  }
  EXPECT_EQ(LeftBeside(), inProgress);

  // Thawed, the frozen save completes: its file becomes the configuration.
  ResumeThread(frozen.Thread());
  EXPECT_EQ(frozen.StopAndWait(), 0u) << "a save of the frozen process failed";
  EXPECT_EQ(LeftBeside(), std::vector<std::wstring>{});
  EXPECT_TRUE(IsWhole(qp::test::FileBytes(ConfigPath())));
}

}  // namespace

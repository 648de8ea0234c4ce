// Saves of the terms that never finish or must wait: killed, or frozen while another process
// saves, between writing and replacing, or refused while another program holds the file. The
// user's file stays whole, what killed saves left goes with the next save, a save in progress,
// even another machine's, is not disturbed, and a refused save completes once the file is free.
// And two processes saving at once while a third reads, from a first use on. The saves are the
// registered server's, run by a helper program (config_saver).
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "config_files.h"
#include "term_records.h"
#include "window_watcher.h"
#include "wine_test_env.h"

namespace {

using namespace qp::test;

constexpr DWORD kStartLimitMs = 60000;  // a new process under Wine, its server and first save

// Everything beside the configuration file whose name continues it: what saves left there.
std::vector<std::wstring> LeftBeside() {
  std::vector<std::wstring> names;
  for (const std::wstring& name : ConfigFolderEntries())
    if (_wcsnicmp(name.c_str(), L"nvstagQP.cfg.", 13) == 0) names.push_back(name);
  std::sort(names.begin(), names.end());
  return names;
}

// The file as a save writes it: a whole document with the default configuration's four terms.
void ExpectWhole() {
  EXPECT_EQ(TermsInFile().size(), 4u) << FileBytes(ConfigPath());
}

// The configuration held open by another program (a virus scanner, an indexer) that does not
// share it for deletion: a save cannot replace it meanwhile and keeps its new file beside it.
// Such a program opens it when a save in progress lets it.
class HeldOpen {
 public:
  HeldOpen() {
    WaitUntil("the configuration held open", [&] {
      file_ = CreateFileW(ConfigPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, 0, nullptr);
      return file_ != INVALID_HANDLE_VALUE;
    });
  }
  ~HeldOpen() { Release(); }
  HeldOpen(const HeldOpen&) = delete;
  HeldOpen& operator=(const HeldOpen&) = delete;
  void Release() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(std::exchange(file_, INVALID_HANDLE_VALUE));
  }

  // Waits until a save's new file is beside the configuration, besides the `already` there.
  static bool SaveRefused(size_t already = 0) {
    return WaitUntil("a refused save's new file beside the configuration",
                     [&] { return LeftBeside().size() > already; });
  }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

// One run of the helper that saves the terms again and again (or reads them: mode "read").
class Saver {
 public:
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

class InterruptedSaves : public ::testing::Test {
 protected:
  void SetUp() override { RemoveConfigFolder(); }
  ComApartment com_;  // the platform's parser reads the file
};

TEST_F(InterruptedSaves, KilledSavesLeaveAWholeFileAndTheNextSaveRetriedTakesWhatTheyLeft) {
  std::vector<std::wstring> before;
  for (int kill = 1; kill <= 2; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill));
    Saver saver;
    ASSERT_TRUE(saver.Saving());
    {
      HeldOpen held;
      ASSERT_TRUE(HeldOpen::SaveRefused());
      saver.Kill();
    }
    // Only this kill's file: the saver's first save took what the kill before left.
    const std::vector<std::wstring> left = LeftBeside();
    ASSERT_EQ(left.size(), 1u) << "files left by earlier kills pile up";
    EXPECT_NE(left, before) << "the file the kill before left is still there";
    before = left;
    ExpectWhole();
  }
  // The next save, refused while the file is held, completes once it is free.
  HeldOpen held;
  Saver next(1);
  ASSERT_TRUE(HeldOpen::SaveRefused(before.size()));
  held.Release();
  EXPECT_TRUE(next.Succeeds());
  ExpectWhole();
  EXPECT_EQ(LeftBeside(), std::vector<std::wstring>{}) << "the next save left them there";
}

TEST_F(InterruptedSaves, ASaveInProgressInAnotherProcessIsNotDisturbed) {
  Saver frozen;
  ASSERT_TRUE(frozen.Saving());
  // Frozen while its replacement is refused, its new file written and closed.
  std::vector<std::wstring> inProgress;
  {
    HeldOpen held;
    bool suspended = false;
    ASSERT_TRUE(
        WaitUntil("config_saver frozen with its new file closed beside the configuration", [&] {
          if (suspended) ResumeThread(frozen.Thread());
          inProgress = LeftBeside();
          suspended =
              inProgress.size() == 1 && SuspendThread(frozen.Thread()) != static_cast<DWORD>(-1);
          return suspended && FileBytes(ConfigFolder() + L"\\" + inProgress[0]) != "(missing)";
        }));
  }
  // Another process saves meanwhile: the frozen save's file is not its to take.
  Saver other(1);
  EXPECT_TRUE(other.Succeeds());
  EXPECT_EQ(LeftBeside(), inProgress);
  ExpectWhole();
}

TEST_F(InterruptedSaves, NewFilesOfOtherMachinesAndEarlierNamesStayUntilTheyAreOld) {
  ASSERT_TRUE(Saver(1).Succeeds());
  // A roaming profile's folder: a process of that number runs on the other machine, not here.
  const std::vector<std::wstring> young = {L"nvstagQP.cfg.4242-01DA000011112222.2.new",
                                           L"nvstagQP.cfg.4242.977001.new",
                                           L"nvstagQP.cfg.FARAWAY.4242-01DA000011112222.1.new"};
  const std::vector<std::wstring> old = {L"nvstagQP.cfg.FARAWAY.4242-01DA000011112222.3.new",
                                         L"nvstagQP.cfg.4242-01DA000011112222.4.new",
                                         L"nvstagQP.cfg.4242.977002.new"};
  for (const auto& [names, age] : {std::pair{young, 60ull}, std::pair{old, 2 * 60 * 60ull}})
    for (const std::wstring& name : names) {
      const std::wstring path = ConfigFolder() + L"\\" + name;
      ASSERT_TRUE(WriteFileBytes(path, "<SmartTagConfig>") && Backdate(path, age)) << Narrow(name);
    }
  ASSERT_TRUE(Saver(1).Succeeds());
  EXPECT_EQ(LeftBeside(), young) << "a save that may still run lost its file, or a leftover stayed";
  ExpectWhole();
}

TEST_F(InterruptedSaves, TwoProcessesSaveAtOnceWhileAThirdReadsFromAFirstUseOn) {
  // All three start at once with no configuration file.
  Saver reader(0, L"read"), first(6, L"mark:FIRST"), second(6, L"mark:SECOND");
  ASSERT_TRUE(reader.Saving());
  EXPECT_TRUE(first.Succeeds()) << "the first process";
  EXPECT_TRUE(second.Succeeds()) << "the second process";
  EXPECT_TRUE(reader.Succeeds(true)) << "the reader";

  // The last save wins whole: one process's last list, not an earlier one of either.
  const std::vector<Term> terms = TermsInFile();
  ASSERT_EQ(terms.size(), 4u);
  EXPECT_TRUE(terms.back().value == L"FIRST6" || terms.back().value == L"SECOND6")
      << Narrow(terms.back().value);
  EXPECT_EQ(LeftBeside(), std::vector<std::wstring>{});
}

}  // namespace

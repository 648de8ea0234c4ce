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
#include "config_saver_run.h"
#include "term_records.h"
#include "window_watcher.h"
#include "wine_test_env.h"

namespace {

using namespace qp::test;

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

TEST_F(InterruptedSaves, ASaveInProgressHoldsOffAnotherProcessAndKeepsItsFile) {
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
  // Another process's save waits for the save lock that the frozen one holds and is refused;
  // the frozen save's file stays, and the save completes once it goes on.
  Saver other(1);
  EXPECT_FALSE(other.Succeeds());
  EXPECT_EQ(LeftBeside(), inProgress);
  ResumeThread(frozen.Thread());
  EXPECT_TRUE(frozen.Succeeds(true));
  EXPECT_EQ(LeftBeside(), std::vector<std::wstring>{});
  ExpectWhole();
}

TEST_F(InterruptedSaves, NewFilesOfOtherMachinesStayUntilTheyAreOldOthersAlways) {
  ASSERT_TRUE(Saver(1).Succeeds());
  // A roaming profile's folder: a process of that number runs on the other machine, not here.
  // A name no save gives is no save's, however old.
  const std::vector<std::wstring> stay = {L"nvstagQP.cfg.4242.977002.new",
                                          L"nvstagQP.cfg.FARAWAY.4242-01DA000011112222.1.new"};
  const std::wstring old = L"nvstagQP.cfg.FARAWAY.4242-01DA000011112222.3.new";
  for (const std::wstring& name : {stay[0], stay[1], old}) {
    const std::wstring path = ConfigFolder() + L"\\" + name;
    ASSERT_TRUE(WriteFileBytes(path, "<SmartTagConfig>") &&
                Backdate(path, name == stay[1] ? 60 : 7200))
        << Narrow(name);
  }
  ASSERT_TRUE(Saver(1).Succeeds());
  EXPECT_EQ(LeftBeside(), stay) << "a save that may still run lost its file, or a leftover stayed";
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

TEST_F(InterruptedSaves, TwentyOksAtOnceInTwoProcessesLoseNeither) {
  // Each OK of either process adds its own term to the terms the file holds at that moment.
  Saver p(20, L"ok:P"), q(20, L"ok:Q");
  ASSERT_TRUE(p.Saving());
  ASSERT_TRUE(q.Saving());
  p.Go();
  q.Go();
  EXPECT_TRUE(p.Succeeds());
  EXPECT_TRUE(q.Succeeds());
  std::vector<std::wstring> expected = {L"", L"QP", L"QUILLPOINT", L"FIELD"}, found;
  for (int n = 1; n <= 20; ++n)
    for (const wchar_t* process : {L"P", L"Q"})
      expected.push_back(process + std::to_wstring(n));
  for (const Term& t : TermsInFile())
    found.push_back(t.value);
  std::sort(expected.begin(), expected.end());
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, expected);
}

}  // namespace

// Saves of the terms that never finish: a process killed while it saves, between writing and
// replacing, and a process frozen halfway through its save while another one saves. The user's file
// must be whole every time, what the killed saves left beside it must go with the next save, and a
// save still in progress must not be disturbed, not even one of another machine that shares
// the folder. And saves that all finish: two processes saving at once while a third reads,
// from a first use on. The saves are those of the registered server, run by a helper program
// (config_saver).
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
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
  while (!text.empty() && isspace(static_cast<unsigned char>(text.back())))
    text.pop_back();
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

// One run of the helper that saves the terms again and again (or reads them: mode "read").
class Saver {
 public:
  explicit Saver(unsigned long count = 0, const std::wstring& mode = L"") {
    static int runs = 0;
    const std::wstring tag =
        std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++runs);
    const std::wstring readyName = L"qp_saver_ready_" + tag, stopName = L"qp_saver_stop_" + tag;
    ready_ = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
    stop_ = CreateEventW(nullptr, TRUE, FALSE, stopName.c_str());
    std::wstring command = L"\"" + qp::test::BinFolder() + L"\\config_saver.exe\" " + readyName +
                           L" " + stopName + L" " + std::to_wstring(count) + L" " + mode;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    started_ = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &process_);
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

  // Started, and through its first complete save (or read).
  ::testing::AssertionResult Saving() {
    if (!started_) return ::testing::AssertionFailure() << "config_saver did not start";
    HANDLE either[] = {ready_, process_.hProcess};
    switch (WaitForMultipleObjects(2, either, FALSE, kStartLimitMs)) {
      case WAIT_OBJECT_0:
        return ::testing::AssertionSuccess();
      case WAIT_OBJECT_0 + 1:
        return ::testing::AssertionFailure()
               << "config_saver ended before its first save, code " << ExitCode();
      default:
        return ::testing::AssertionFailure() << "config_saver's first save never ended";
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
    for (const std::wstring& name : LeftBeside())
      DeleteFileW((ConfigFolder() + L"\\" + name).c_str());
    DeleteFileW(ConfigPath().c_str());
  }
};

// Freezes the saver at moments drawn at random until one falls between writing its new file
// and replacing the configuration with it; the saver stays frozen. What it left beside the file.
std::vector<std::wstring> FreezeBetweenWritingAndReplacing(Saver& saver, std::mt19937& random) {
  std::uniform_int_distribution<DWORD> moment(0, 15);
  for (int attempt = 0; attempt < 2000; ++attempt) {
    EXPECT_NE(SuspendThread(saver.Thread()), static_cast<DWORD>(-1));
    const std::vector<std::wstring> left = LeftBeside();
    if (!left.empty()) return left;
    ResumeThread(saver.Thread());
    // Not a wait for something: the moment of the next freeze.
    Sleep(moment(random));
  }
  ADD_FAILURE() << "no freeze in 2000 came between writing and replacing";
  return {};
}

TEST_F(InterruptedSaves, AKilledSaveLeavesAWholeFileAndTheNextSaveTakesWhatItLeft) {
  const unsigned seed = GetTickCount();
  SCOPED_TRACE("random seed " + std::to_string(seed));
  std::mt19937 random(seed);
  // Every saver is killed between writing and replacing, the moment that leaves a file beside
  // the configuration; the next saver's first save must take it away.
  std::vector<std::wstring> before;
  for (int kill = 1; kill <= 5; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill));
    Saver saver;
    ASSERT_TRUE(saver.Saving());
    // Only this kill's file: the saver's first save took what the kill before left.
    const std::vector<std::wstring> left = FreezeBetweenWritingAndReplacing(saver, random);
    ASSERT_EQ(left.size(), 1u) << "files left by earlier kills pile up";
    EXPECT_NE(left, before) << "the file the kill before left is still there";
    before = left;
    saver.Kill();
    ASSERT_TRUE(IsWhole(qp::test::FileBytes(ConfigPath())));
    EXPECT_EQ(LeftBeside().size(), 1u);
  }
  Saver next(1);
  EXPECT_EQ(next.Wait(), 0u) << "the next save failed";
  EXPECT_TRUE(IsWhole(qp::test::FileBytes(ConfigPath())));
  EXPECT_EQ(LeftBeside(), std::vector<std::wstring>{}) << "the next save left them there";
}

TEST_F(InterruptedSaves, ASaveInProgressInAnotherProcessIsNotDisturbed) {
  Saver frozen;
  ASSERT_TRUE(frozen.Saving());
  std::mt19937 random(GetTickCount());
  const std::vector<std::wstring> inProgress = FreezeBetweenWritingAndReplacing(frozen, random);
  ASSERT_EQ(inProgress.size(), 1u);

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

// A new file of another machine's save, or of the earlier naming, with its time of writing.
void PutBeside(const std::wstring& name, ULONGLONG ageSeconds) {
  const std::wstring path = ConfigFolder() + L"\\" + name;
  ASSERT_TRUE(qp::test::WriteFileBytes(path, "<SmartTagConfig>")) << qp::test::Narrow(name);
  HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER at = {{now.dwLowDateTime, now.dwHighDateTime}};
  at.QuadPart -= ageSeconds * 10000000ull;
  const FILETIME written = {at.LowPart, at.HighPart};
  EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &written));
  CloseHandle(file);
}

TEST_F(InterruptedSaves, NewFilesOfOtherMachinesAndEarlierNamesStayUntilTheyAreOld) {
  {
    Saver first(1);
    ASSERT_EQ(first.Wait(), 0u) << "the first save failed";
  }
  // A roaming profile's folder: a process of that number runs on the other machine, not here.
  const std::vector<std::wstring> young = {L"nvstagQP.cfg.FARAWAY.4242-01DA000011112222.1.new",
                                           L"nvstagQP.cfg.4242-01DA000011112222.2.new",
                                           L"nvstagQP.cfg.4242.977001.new"};
  const std::vector<std::wstring> old = {L"nvstagQP.cfg.FARAWAY.4242-01DA000011112222.3.new",
                                         L"nvstagQP.cfg.4242-01DA000011112222.4.new",
                                         L"nvstagQP.cfg.4242.977002.new"};
  for (const std::wstring& name : young)
    PutBeside(name, 60);
  for (const std::wstring& name : old)
    PutBeside(name, 2 * 60 * 60);

  Saver next(1);
  ASSERT_EQ(next.Wait(), 0u) << "the next save failed";
  std::vector<std::wstring> left = LeftBeside();
  std::sort(left.begin(), left.end());
  std::vector<std::wstring> expected = young;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(left, expected) << "a save that may still run lost its file, or a leftover stayed";
  EXPECT_TRUE(IsWhole(qp::test::FileBytes(ConfigPath())));
}

TEST_F(InterruptedSaves, TwoProcessesSaveAtOnceWhileAThirdReadsFromAFirstUseOn) {
  qp::test::RemoveConfigFolder();
  constexpr unsigned long kSaves = 6;
  // All three start at once with no configuration file.
  Saver reader(0, L"read"), first(kSaves, L"mark:FIRST"), second(kSaves, L"mark:SECOND");
  ASSERT_TRUE(reader.Saving());
  EXPECT_EQ(first.Wait(), 0u) << "a save of the first process failed";
  EXPECT_EQ(second.Wait(), 0u) << "a save of the second process failed";
  EXPECT_EQ(reader.StopAndWait(), 0u) << "a read failed";

  // The last save wins whole: one process's last list, not an earlier one of either.
  const std::string file = qp::test::FileBytes(ConfigPath());
  EXPECT_TRUE(IsWhole(file));
  const bool firstLast = file.find(">FIRST6<") != std::string::npos;
  const bool secondLast = file.find(">SECOND6<") != std::string::npos;
  EXPECT_TRUE(firstLast != secondLast) << file;
  EXPECT_EQ(LeftBeside(), std::vector<std::wstring>{});
}

}  // namespace

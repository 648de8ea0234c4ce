// Word's threads in one process, from a user's very first use (no configuration file yet):
// recognizers on background apartments whose objects Word releases and creates again now and
// then, an action handler on another, and the terms editor on a third that saves a changed
// term again and again. No call may fail, every recognition must give exactly the tags of one
// saved list (never a mix of two, never a torn tag), a save must reach every recognizer at its
// next Recognize, nothing may hang, and the server must be free to unload at the end.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "action_host.h"
#include "late_bound.h"
#include "nvstagQP.h"
#include "office_host.h"
#include "window_watcher.h"
#include "wine_test_env.h"

namespace {

using namespace qp::test;
using qp::host::Tag;

constexpr int kRecognizerThreads = 4;
constexpr int kSaves = 12;
constexpr int kRecognitionsPerObject = 5;  // then Word releases the recognizer and makes another
// Starting a thread's apartment and its first objects under a loaded Wine; the end of the run
// after the last save (every recognizer through one more Recognize); the threads' ends.
constexpr DWORD kStartLimitMs = 60000;
constexpr DWORD kFinishLimitMs = 60000;

// The two terms (first, or second) that the editor's save `version` holds in place of the
// default list's QUILLPOINT and FIELD (version 0: the default list itself).
std::wstring VersionTerm(int version, bool first) {
  if (version == 0) return first ? L"QUILLPOINT" : L"FIELD";
  return (first ? L"ALPHA" : L"OMEGA") + std::to_wstring(100 + version).substr(1);
}

// One paragraph with the terms of every version and a catalog name, each word once.
std::wstring TestParagraph() {
  std::wstring text = L"QP";
  for (int version = 0; version <= kSaves; ++version)
    text += L" " + VersionTerm(version, true) + L" " + VersionTerm(version, false);
  return text + L" Judge ends.";
}

// The tags a recognizer must commit on the paragraph when its list is that of `version`.
std::vector<Tag> ExpectedTags(const std::wstring& text, const std::wstring& type, int version) {
  std::vector<Tag> tags;
  for (const std::wstring& word : {std::wstring(L"QP"), VersionTerm(version, true),
                                   VersionTerm(version, false), std::wstring(L"Judge")})
    tags.push_back({type, static_cast<int>(text.find(word)) + 1, static_cast<int>(word.size())});
  return tags;  // in text order, as the paragraph holds the words
}

std::string Describe(const std::vector<Tag>& tags) {
  std::string s;
  for (const Tag& t : tags)
    s += " [" + Narrow(t.type) + " " + std::to_string(t.start) + "+" + std::to_string(t.length) +
         "]";
  return s.empty() ? " none" : s;
}

// What the threads share: the start signal, how far the editor got, and what went wrong.
struct Shared {
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::wstring paragraph = TestParagraph();
  std::atomic<int> saved{0};  // the version of the last save that returned
  std::atomic<int> saves{0};  // how many of them succeeded
  std::atomic<bool> editorDone{false};
  std::atomic<long> failures{0};
  std::atomic<int> recognizersUpToDate{0};  // through a Recognize begun after the editor's end
  std::mutex mutex;
  std::vector<std::string> problems;

  ~Shared() {
    CloseHandle(go);
    CloseHandle(stop);
  }
  void Problem(const std::string& what) {
    ++failures;
    std::lock_guard<std::mutex> lock(mutex);
    if (problems.size() < 20) problems.push_back(what);
  }
  bool Check(HRESULT hr, const std::string& what) {
    if (SUCCEEDED(hr)) return true;
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    Problem(what + " failed: " + code);
    return false;
  }
  bool Started(const char* who) {
    if (WaitForSingleObject(go, kStartLimitMs) == WAIT_OBJECT_0) return true;
    Problem(std::string(who) + ": the start signal never came");
    return false;
  }
  bool Stopping() const { return WaitForSingleObject(stop, 0) == WAIT_OBJECT_0; }
};

// A background recognizer thread of Word: one object after another, each asked what Office
// asks and then handed the paragraph a few times.
void RecognizerThread(Shared& run, int number) {
  ComApartment com;
  const std::string me = "recognizer thread " + std::to_string(number);
  if (!run.Started(me.c_str())) return;
  int lastVersion = 0;
  bool upToDate = false;
  while (!run.Stopping()) {
    qp::ComPtr<ISmartTagRecognizer> recognizer;
    if (!run.Check(qp::host::CreateRecognizer(kRecognizerProgId, recognizer.GetAddressOf()),
                   me + ": creating a Recognizer"))
      continue;
    qp::host::RecognizerInfo info;
    if (!run.Check(qp::host::Describe(recognizer.Get(), info), me + ": what Office asks")) continue;
    if (info.smartTagName.empty()) run.Problem(me + ": a Recognizer without a type name");
    for (int i = 0; i < kRecognitionsPerObject && !run.Stopping(); ++i) {
      const bool editorDone = run.editorDone;
      const int savedBefore = run.saved;
      std::vector<Tag> tags;
      if (!run.Check(qp::host::RecognizeParagraph(recognizer.Get(), run.paragraph, tags),
                     me + ": Recognize"))
        continue;
      std::sort(tags.begin(), tags.end(),
                [](const Tag& a, const Tag& b) { return a.start < b.start; });
      int version = -1;
      for (int v = 0; v <= kSaves && version < 0; ++v)
        if (Describe(tags) == Describe(ExpectedTags(run.paragraph, info.smartTagName, v)))
          version = v;
      if (version < 0) {
        run.Problem(me + ": tags of no single list:" + Describe(tags));
      } else if (version < savedBefore || version < lastVersion) {
        run.Problem(me + ": the list of save " + std::to_string(version) + " after save " +
                    std::to_string(std::max(savedBefore, lastVersion)) +
                    " had returned or been seen");
      } else {
        lastVersion = version;
      }
      if (editorDone && !upToDate) {
        upToDate = true;
        ++run.recognizersUpToDate;
      }
    }
  }
}

// The action handler on Word's UI thread: created, asked for its types and verbs, released.
void ActionThread(Shared& run) {
  ComApartment com;
  if (!run.Started("action thread")) return;
  while (!run.Stopping()) {
    qp::ComPtr<ISmartTagAction> action;
    if (!run.Check(qp::host::CreateAction(kActionProgId, action.GetAddressOf()),
                   "action thread: creating an Action"))
      continue;
    const qp::host::ActionInfo info =
        qp::host::DescribeAction(action.Get(), L"Word.Application.10");
    if (run.Check(info.failure, "action thread: what Office asks") &&
        (info.types.empty() || info.types[0].verbs.size() != 2))
      run.Problem("action thread: the verbs are not both there");
  }
}

// The terms editor: each save changes the list's last two terms to the next version's. A save
// that fails is counted and the next version saved.
void EditorThread(Shared& run) {
  struct Done {
    Shared& run;
    ~Done() { run.editorDone = true; }
  } done{run};
  ComApartment com;
  if (!run.Started("editor thread")) return;
  qp::ComPtr<_Controller> controller;
  if (!run.Check(CreateByProgId(kControllerProgId, IID__Controller,
                                reinterpret_cast<void**>(controller.GetAddressOf())),
                 "editor thread: creating a Controller"))
    return;
  qp::ComPtr<_SmartTagConfig> config;
  if (!run.Check(controller->get_SmartTagConfiguration(config.GetAddressOf()),
                 "editor thread: SmartTagConfiguration"))
    return;
  for (int version = 1; version <= kSaves; ++version) {
    const std::string save = "editor thread: save " + std::to_string(version);
    qp::ComPtr<_Records> terms;
    if (!run.Check(config->GetRecognizers(VARIANT_FALSE, terms.GetAddressOf()),
                   save + ", GetRecognizers"))
      continue;
    const long count = ByName(terms.Get(), L"Count").AsLong();
    if (count != 4) {
      run.Problem(save + ": " + std::to_string(count) + " terms in the list");
      return;
    }
    for (long item : {3, 4}) {
      const qp::ComPtr<IDispatch> record =
          ByName(terms.Get(), L"Item", {Variant::FromLong(item)}).AsObject();
      PutByName(record.Get(), L"Value", Variant::FromString(VersionTerm(version, item == 3)));
    }
    IDispatch* list = terms.Get();
    if (!run.Check(config->UpdateRecognizers(&list), save + ", UpdateRecognizers")) continue;
    run.saved = version;
    ++run.saves;
  }
}

TEST(WordThreads, FirstUseSavesAndRecognitionsInManyApartmentsNeverFailNorGoStale) {
  ResetProductState();
  SetQuillpoints({L"Judge"});
  // The very module COM loads, held so that its object count can be read at the end.
  const HMODULE server = LoadLibraryW(RegisteredServerPath().c_str());
  ASSERT_NE(server, nullptr) << "the registered server cannot be loaded";
  ASSERT_EQ(GetFileAttributesW(ConfigPath().c_str()), INVALID_FILE_ATTRIBUTES) << "not a first use";
  // An error box would stop its thread until answered: each one is closed and fails the test.
  WindowWatcher watcher(WindowWatcher::Always(L"OK"));

  Shared run;
  std::atomic<size_t> ended{0};
  std::vector<std::thread> threads;
  auto start = [&](auto body) {
    threads.emplace_back([&ended, body] {
      body();
      ++ended;
    });
  };
  for (int n = 1; n <= kRecognizerThreads; ++n)
    start([&run, n] { RecognizerThread(run, n); });
  start([&run] { ActionThread(run); });
  start([&run] { EditorThread(run); });
  SetEvent(run.go);

  // Done when the editor has made its last save and every recognizer has recognized once since.
  const bool finished = WaitUntil(
      "the editor's last save and a Recognize on every recognizer thread after it",
      [&] { return run.editorDone && run.recognizersUpToDate == kRecognizerThreads; },
      kFinishLimitMs + kStartLimitMs);
  SetEvent(run.stop);
  // A thread that hangs is left to the program's watchdog rather than joined for ever.
  const bool allEnded = WaitUntil(
      "the end of every thread", [&] { return ended == threads.size(); }, kFinishLimitMs);
  for (std::thread& t : threads)
    allEnded ? t.join() : t.detach();

  for (const std::string& problem : run.problems)
    ADD_FAILURE() << problem;
  EXPECT_TRUE(finished);
  EXPECT_EQ(run.saves, kSaves);
  EXPECT_EQ(run.failures, 0);
  ExpectNoBoxes(watcher);
  // Every thread released what it made: COM may unload the server.
  auto canUnloadNow = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void*>(GetProcAddress(server, "DllCanUnloadNow")));
  ASSERT_NE(canUnloadNow, nullptr);
  EXPECT_EQ(canUnloadNow(), S_OK) << "an object of the server outlives its apartment";
  FreeLibrary(server);
}

}  // namespace

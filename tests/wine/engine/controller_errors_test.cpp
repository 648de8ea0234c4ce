// How the engine's failures reach the user and other clients, seen from outside through the
// registered server: the configuration store's own failure when the user's "Norvane\" folder
// cannot be made, the error prompt whose Yes silences it, and a verb list that a failed
// re-read must not lose. The boxes are the real ones, read and answered by a watcher thread.
//
// Yes to the prompt holds for as long as the process keeps the server loaded, so the case that
// answers Yes runs in a process of its own.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "late_bound.h"
#include "nvstagQP.h"
#include "office_host.h"
#include "window_watcher.h"
#include "wine_test_env.h"

namespace {

using namespace qp::test;
using Microsoft::WRL::ComPtr;

// A file where the folder should be: the folder cannot be made, nor the configuration in it.
void BlockConfigFolder() {
  RemoveConfigFolder();
  ASSERT_TRUE(WriteFileBytes(ConfigFolder(), "")) << "no file in the folder's place";
}

// The platform's own text for a failure code.
std::wstring SystemText(HRESULT hr) {
  wchar_t* text = nullptr;
  FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring s = text ? text : L"";
  LocalFree(text);
  while (!s.empty() && iswspace(s.back()))
    s.pop_back();
  return s;
}

// The failure of making "Norvane\" where a file of that name stands, as the store reports it.
const HRESULT kFolderTaken = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);

class ControllerErrors : public ::testing::Test {
 protected:
  void SetUp() override { ResetProductState(); }

  static ComPtr<_Controller> NewController() {
    ComPtr<_Controller> c;
    EXPECT_HRESULT_SUCCEEDED(CreateByProgId(kControllerProgId, c.GetAddressOf()));
    return c;
  }

  ComApartment com_;
};

TEST_F(ControllerErrors, TheStoresOwnFailureReachesAutomationCallersAndTheBoxes) {
  BlockConfigFolder();
  const std::wstring taken = SystemText(kFolderTaken);
  WindowWatcher watcher(WindowWatcher::Question(L"No"));
  ComPtr<_Controller> controller = NewController();
  ASSERT_TRUE(controller);

  // A script that asks for SmartTagConfiguration by name.
  ComPtr<IDispatch> late;
  ASSERT_HRESULT_SUCCEEDED(controller.As(&late));
  const CallError e = FailureOf(late.Get(), L"SmartTagConfiguration");
  EXPECT_EQ(e.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(e.code, kFolderTaken);
  EXPECT_EQ(e.source.rfind(L"SmarTagConfigGetConfigFilePath()", 0), 0u) << Narrow(e.source);
  EXPECT_EQ(e.description, taken);
  // A client through the vtable gets the same code (the words above come from its error
  // information) and no object.
  ComPtr<_SmartTagConfig> config;
  EXPECT_EQ(controller->get_SmartTagConfiguration(&config), kFolderTaken);
  EXPECT_FALSE(config);
  EXPECT_TRUE(watcher.Seen().empty()) << "SmartTagConfiguration reports nothing itself";

  // The descriptive properties show the same failure: the action side in a box, the recognizer
  // side in the prompt once errors are to be shown.
  EXPECT_EQ(TextOf([&](BSTR* b) { return controller->get_ActionName(1033, b); }), L"");
  EXPECT_EQ(TextOf([&](BSTR* b) { return controller->get_RecognizerName(1033, b); }), L"");
  SetSetting(HKEY_LOCAL_MACHINE, kDisplayErrors, L"Yes");
  EXPECT_EQ(TextOf([&](BSTR* b) { return controller->get_RecognizerName(1033, b); }), L"");
  auto seen = watcher.Seen();
  ASSERT_EQ(seen.size(), 2u);
  ExpectBox(seen[0], taken);
  ExpectPrompt(seen[1], taken);

  // The folder can be made again: the same Controller makes its store and answers.
  RemoveConfigFolder();
  EXPECT_EQ(TextOf([&](BSTR* b) { return controller->get_ActionCaption(1033, b); }),
            L"Norvane Quillpoint");
  EXPECT_EQ(watcher.Seen().size(), 2u);
}

TEST_F(ControllerErrors, AFailedVerbListKeepsTheVerbsOfferedBefore) {
  WindowWatcher watcher(WindowWatcher::Question(L"No"));
  ComPtr<_Controller> controller = NewController();
  ASSERT_TRUE(controller);
  // The verbs are read from the document the store holds: a caption question loads it.
  EXPECT_EQ(TextOf([&](BSTR* b) { return controller->get_ActionCaption(1033, b); }),
            L"Norvane Quillpoint");
  LONG count = 0;
  ASSERT_EQ(controller->get_ActionVerbCount(&count), S_OK);
  ASSERT_EQ(count, 2);

  // The store drops its document; asking for the verbs again fails and is reported.
  ComPtr<_SmartTagConfig> config;
  ASSERT_HRESULT_SUCCEEDED(controller->get_SmartTagConfiguration(&config));
  ASSERT_HRESULT_SUCCEEDED(config->Initialize());
  count = -1;
  EXPECT_EQ(controller->get_ActionVerbCount(&count), S_OK);
  EXPECT_EQ(count, 0);
  auto seen = watcher.Seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].title, kBoxTitle);

  // The verbs offered before still answer, without another box.
  EXPECT_EQ(TextOf([&](BSTR* b) { return controller->get_ActionVerbName(2, b); }), L"ViewConfig");
  BSTR word = SysAllocString(L"Word.Application.10");
  EXPECT_EQ(TextOf([&](BSTR* b) { return controller->get_ActionVerbCaption(1, word, 1033, b); }),
            L"Replace Smart Tag with Quillpoint");
  SysFreeString(word);
  EXPECT_EQ(watcher.Seen().size(), 1u);

  // A successful answer does replace the list: the user switched the first verb off.
  std::string file = FileBytes(ConfigPath());
  const std::string insert = "Name=\"Insert\" ClassCode=\"I\" Enabled=\"Yes\"";
  const size_t at = file.find(insert);
  ASSERT_NE(at, std::string::npos) << "the default verbs are not in the file";
  file.replace(at, insert.size(), "Name=\"Insert\" ClassCode=\"I\" Enabled=\"No\"");
  ASSERT_TRUE(WriteFileBytes(ConfigPath(), file));
  EXPECT_EQ(TextOf([&](BSTR* b) { return controller->get_ActionName(1033, b); }), L"Quillpoint");
  ASSERT_EQ(controller->get_ActionVerbCount(&count), S_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(TextOf([&](BSTR* b) { return controller->get_ActionVerbName(1, b); }), L"ViewConfig");
  EXPECT_EQ(watcher.Seen().size(), 1u);
}

// Yes silences the prompts for as long as the server stays loaded: the case runs once in a new
// process of this program, whatever ran here before or runs after.
TEST(ControllerErrorsPrompt, YesToTheErrorPromptSilencesItNoKeepsIt) {
  EXPECT_EQ(RunThisProgram(L"--gtest_also_run_disabled_tests --gtest_repeat=1 --time-limit=60 "
                           L"--gtest_filter=ControllerErrors.DISABLED_YesInItsOwnProcess",
                           90000),
            0u)
      << "the case in its own process failed (its output is above)";
}

TEST_F(ControllerErrors, DISABLED_YesInItsOwnProcess) {
  BlockConfigFolder();
  const std::wstring taken = SystemText(kFolderTaken);
  SetSetting(HKEY_LOCAL_MACHINE, kDisplayErrors, L"Yes");
  // The prompts are answered No, No and Yes; the action side's box OK.
  WindowWatcher watcher(WindowWatcher::InTurn({L"No", L"No", L"Yes", L"OK"}));
  ComPtr<ISmartTagRecognizer> first;
  ASSERT_HRESULT_SUCCEEDED(qp::host::CreateRecognizer(kRecognizerProgId, &first));

  // No: the next failure asks again.
  EXPECT_EQ(TextOf([&](BSTR* b) { return first->get_Name(1033, b); }), L"");
  EXPECT_EQ(TextOf([&](BSTR* b) { return first->get_Desc(1033, b); }), L"");
  ASSERT_EQ(watcher.Seen().size(), 2u);
  // Yes: this one is the last.
  EXPECT_EQ(TextOf([&](BSTR* b) { return first->get_SmartTagName(1, b); }), L"");
  auto seen = watcher.Seen();
  ASSERT_EQ(seen.size(), 3u);
  for (const SeenWindow& w : seen)
    ExpectPrompt(w, taken);

  // Every recognizer of the process stays quiet now, and still answers empty.
  ComPtr<ISmartTagRecognizer> second;
  ASSERT_HRESULT_SUCCEEDED(qp::host::CreateRecognizer(kRecognizerProgId, &second));
  for (ISmartTagRecognizer* r : {first.Get(), second.Get()}) {
    EXPECT_EQ(TextOf([&](BSTR* b) { return r->get_Name(1033, b); }), L"");
    EXPECT_EQ(TextOf([&](BSTR* b) { return r->get_SmartTagName(1, b); }), L"");
    std::vector<qp::host::Tag> tags;
    EXPECT_EQ(qp::host::RecognizeParagraph(r, L"QP and FIELD", tags), S_OK);
    EXPECT_TRUE(tags.empty());
  }
  EXPECT_EQ(watcher.Seen().size(), 3u);

  // The action side's boxes are not prompts: they still show.
  ComPtr<_Controller> controller = NewController();
  EXPECT_EQ(TextOf([&](BSTR* b) { return controller->get_ActionName(1033, b); }), L"");
  seen = watcher.Seen();
  ASSERT_EQ(seen.size(), 4u);
  ExpectBox(seen[3], taken);
}

}  // namespace

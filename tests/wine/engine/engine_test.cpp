// The recognizer as Office meets it: found through Office's discovery key, created by ProgID
// from the registry, asked what Office asks and handed paragraphs through the Smart Tag vtable
// with a site that records the tags. Behind it run the real engine, the user's configuration
// file, the cache flush flag in the real registry, and the stand-in catalog and registry
// component. Message boxes are the real ones, read and answered by a watcher thread.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "nvstagQP.h"
#include "office_host.h"
#include "platform/automation.h"
#include "window_watcher.h"
#include "wine_test_env.h"

namespace {

using Microsoft::WRL::ComPtr;
using qp::test::Message;
using qp::test::SeenWindow;
using qp::test::WindowWatcher;

using qp::test::kActionProgId;
using qp::test::kControllerProgId;
using qp::test::kRecognizerProgId;
constexpr wchar_t kCatalogProgId[] = L"NVObjectLibrary.Catalog";
constexpr wchar_t kRegistryProgId[] = L"HiveLibrary.Registry";
constexpr wchar_t kTypeName[] = L"urn:test:engine#quillpoint";
constexpr wchar_t kDownloadUrl[] = L"http://example.invalid/quillpoint";
using qp::test::ConfigPath;
using qp::test::ExpectPrompt;
using qp::test::kBoxTitle;
using qp::test::kDisplayErrors;
using qp::test::kFlag;
using qp::test::SetQuillpoints;
using qp::test::SetStandInSetting;
// The flag's resolution is a second: a change must come at least a second after the last one.
constexpr DWORD kNextSecond = 1100;

// ---- the user's configuration and the catalog's list ------------------------------------

struct Term {
  std::wstring classCode, enabled, value;
};

// Literal terms of every kind: only enabled ones of class "LI" (in any letter case) count.
std::vector<Term> StandardTerms() {
  return {
      {L"D", L"Yes", L""},        {L"LI", L"Yes", L"Field"},      {L"LI", L"Yes", L"matter ref"},
      {L"li", L"yes", L"Docket"}, {L"LI", L"No", L"Hidden Term"}, {L"LE", L"Yes", L"Excluded"}};
}

std::wstring ConfigDocument(const std::vector<Term>& terms) {
  std::wstring xml =
      L"<!-- engine test configuration -->\r\n<SmartTagConfig>\r\n"
      L"\t<Caption>Norvane Quillpoint</Caption>\r\n"
      L"\t<Name>" +
      std::wstring(kTypeName) +
      L"</Name>\r\n"
      L"\t<NameExt/>\r\n\t<DownloadURL>" +
      std::wstring(kDownloadUrl) +
      L"</DownloadURL>\r\n"
      L"\t<RecognizerProvider>\r\n\t\t<Name>Engine Test Recognizer</Name>\r\n"
      L"\t\t<Description>Recognizes the engine test's terms</Description>\r\n"
      L"\t\t<Recognizers>\r\n";
  for (const Term& t : terms)
    xml += L"\t\t\t<Recognizer ClassCode=\"" + t.classCode + L"\" Enabled=\"" + t.enabled +
           L"\" CaseSensitive=\"Yes\" Mask=\"\">" + t.value + L"</Recognizer>\r\n";
  xml +=
      L"\t\t</Recognizers>\r\n\t</RecognizerProvider>\r\n\t<ActionProvider>\r\n"
      L"\t\t<Name>Quillpoint</Name>\r\n\t\t<Description>Inserts Quillpoints</Description>\r\n"
      L"\t\t<Actions>\r\n"
      L"\t\t\t<Action Name=\"Insert\" ClassCode=\"I\" Enabled=\"Yes\" InsertPosition=\"RT\">"
      L"Replace Smart Tag with Quillpoint</Action>\r\n"
      L"\t\t\t<Action Name=\"ViewConfig\" ClassCode=\"V\" Enabled=\"Yes\">"
      L"Maintain Recognizer Terms</Action>\r\n"
      L"\t\t</Actions>\r\n\t</ActionProvider>\r\n</SmartTagConfig>";
  return xml;
}

void WriteConfigText(const std::wstring& text) {
  qp::test::WriteConfig(qp::test::Narrow(text));
}

std::wstring Flag(bool* found = nullptr) {
  return qp::test::GetSetting(HKEY_CURRENT_USER, kFlag, found);
}

// ---- a component made unreachable for a while ----------------------------------------------

// Points a ProgID at a class that is not registered, as when a component was never installed
// or was removed, and puts the registered class back when it goes out of scope.
class ProgIdAway {
 public:
  explicit ProgIdAway(std::wstring progId) : key_(std::move(progId) + L"\\CLSID") {
    wchar_t clsid[64] = {};
    DWORD size = sizeof clsid;
    EXPECT_EQ(RegGetValueW(HKEY_CLASSES_ROOT, key_.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, clsid,
                           &size),
              ERROR_SUCCESS)
        << "not registered: " << key_;
    saved_ = clsid;
    Set(L"{6A1C0E52-3B1D-4C7E-9F00-0000DEADBEEF}");
  }
  ~ProgIdAway() { Set(saved_); }
  ProgIdAway(const ProgIdAway&) = delete;
  ProgIdAway& operator=(const ProgIdAway&) = delete;

 private:
  void Set(const std::wstring& clsid) {
    EXPECT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, key_.c_str(), nullptr, REG_SZ, clsid.c_str(),
                              static_cast<DWORD>((clsid.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  std::wstring key_, saved_;
};

// ---- tags ------------------------------------------------------------------------------------

using Tags = std::vector<std::tuple<std::wstring, int, int>>;

Tags Of(const std::vector<qp::host::Tag>& tags) {
  Tags out;
  for (const auto& t : tags)
    out.emplace_back(t.type, t.start, t.length);
  return out;
}

// The tag Office expects over the n-th occurrence (from 0) of `words` in `text`.
std::tuple<std::wstring, int, int> TagOver(const std::wstring& text, const std::wstring& words,
                                           const std::wstring& type = kTypeName, int n = 0) {
  size_t at = text.find(words);
  while (n-- > 0 && at != std::wstring::npos)
    at = text.find(words, at + 1);
  EXPECT_NE(at, std::wstring::npos) << "the test's text lacks its own term";
  return {type, static_cast<int>(at) + 1, static_cast<int>(words.size())};
}

using qp::test::Take;

// Presses No on a question and OK on anything else: an unexpected box must not hang the test;
// the test then finds it among the windows seen. (Yes to the error prompt would silence it for
// the rest of the program.)
qp::test::Answer Dismiss() {
  return WindowWatcher::Question(L"No");
}

// A paragraph with one catalog name and one configured term, and its tags.
constexpr wchar_t kJudgeAndField[] = L"The Judge and the Field";
Tags JudgeAndFieldTags(const std::wstring& type = kTypeName) {
  return {TagOver(kJudgeAndField, L"Judge", type), TagOver(kJudgeAndField, L"Field", type)};
}

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    qp::test::ResetProductState();
    WriteConfigText(ConfigDocument(StandardTerms()));
    SetQuillpoints(
        {L"Client Name", L"Matter Number", L"Judge", L"$MAXWORDS$", L"One Two Three Four"});
  }

  // A recognizer as Office loads it: created by ProgID and asked its descriptive questions
  // (among them SmartTagName(1), which fixes the type name of its tags).
  static ComPtr<ISmartTagRecognizer> Load() {
    ComPtr<ISmartTagRecognizer> r;
    EXPECT_HRESULT_SUCCEEDED(qp::host::CreateRecognizer(kRecognizerProgId, r.GetAddressOf()));
    if (!r) return r;
    qp::host::RecognizerInfo info;
    EXPECT_HRESULT_SUCCEEDED(qp::host::Describe(r.Get(), info));
    EXPECT_EQ(info.smartTagName, kTypeName);
    return r;
  }
  static ComPtr<ISmartTagRecognizer> Create() {
    ComPtr<ISmartTagRecognizer> r;
    EXPECT_HRESULT_SUCCEEDED(qp::host::CreateRecognizer(kRecognizerProgId, r.GetAddressOf()));
    return r;
  }

  static Tags Recognize(ISmartTagRecognizer* r, const std::wstring& text, HRESULT expected = S_OK,
                        IF_TYPE type = IF_TYPE_PARA) {
    std::vector<qp::host::Tag> tags;
    EXPECT_EQ(qp::host::RecognizeParagraph(r, text, tags, type), expected) << "on: " << text;
    return Of(tags);
  }

  // The user's terms saved by the configuration store of a Controller of its own (as the terms
  // dialog of an action handler saves them): the record with `from` gets `to`.
  static void RenameTermAndSave(_Controller* controller, const std::wstring& from,
                                const std::wstring& to) {
    ComPtr<_SmartTagConfig> config;
    ASSERT_HRESULT_SUCCEEDED(controller->get_SmartTagConfiguration(config.GetAddressOf()));
    ComPtr<_Records> records;
    ASSERT_HRESULT_SUCCEEDED(config->GetRecognizers(VARIANT_FALSE, records.GetAddressOf()));
    LONG count = 0;
    ASSERT_HRESULT_SUCCEEDED(records->get_Count(&count));
    bool renamed = false;
    for (LONG i = 1; i <= count && !renamed; ++i) {
      VARIANT index, item;
      index.vt = VT_I4;
      index.lVal = i;
      VariantInit(&item);
      ASSERT_HRESULT_SUCCEEDED(records->get_Item(index, &item));
      ComPtr<_RecognizerProps> record;
      ASSERT_EQ(item.vt, VT_DISPATCH);
      item.pdispVal->QueryInterface(IID__RecognizerProps,
                                    reinterpret_cast<void**>(record.GetAddressOf()));
      VariantClear(&item);
      ASSERT_TRUE(record);
      BSTR value = nullptr;
      record->get_Value(&value);
      if (Take(value) != from) continue;
      BSTR now = SysAllocString(to.c_str());
      ASSERT_HRESULT_SUCCEEDED(record->put_Value(now));
      SysFreeString(now);
      renamed = true;
    }
    ASSERT_TRUE(renamed) << "no term " << from;
    IDispatch* list = nullptr;
    records->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&list));
    ASSERT_HRESULT_SUCCEEDED(config->UpdateRecognizers(&list));
    if (list) list->Release();
  }
  static void RenameTermAndSave(const std::wstring& from, const std::wstring& to) {
    ComPtr<_Controller> controller = NewController();
    ASSERT_TRUE(controller);
    RenameTermAndSave(controller.Get(), from, to);
  }

  static ComPtr<_Controller> NewController() {
    ComPtr<_Controller> c;
    EXPECT_HRESULT_SUCCEEDED(qp::test::CreateByProgId(kControllerProgId, c.GetAddressOf()));
    return c;
  }

  // A Controller's own recognition, through its vtable, with a site like Office's.
  static Tags ControllerRecognize(_Controller* c, const std::wstring& text) {
    qp::host::RecognizerSite* site = qp::host::RecognizerSite::New();
    ISmartTagRecognizerSite* byRef = site;
    BSTR b = SysAllocString(text.c_str());
    EXPECT_HRESULT_SUCCEEDED(c->DoRecognize(b, 1033, &byRef));
    SysFreeString(b);
    Tags tags = Of(site->tags);
    site->Release();
    return tags;
  }

  qp::test::ComApartment com_;
};

TEST_F(Engine, TagsConfiguredAndCatalogTermsInParagraphsOnly) {
  WindowWatcher watcher(Dismiss());
  // Office finds the recognizer through its discovery key and the registered ProgID.
  CLSID recognizer, action;
  ASSERT_HRESULT_SUCCEEDED(CLSIDFromProgID(kRecognizerProgId, &recognizer));
  ASSERT_HRESULT_SUCCEEDED(CLSIDFromProgID(kActionProgId, &action));
  qp::host::RegisterForOffice(recognizer, action);
  const std::vector<std::wstring> found = qp::host::FindRecognizers();
  for (const wchar_t* root : {qp::host::kRecognizersKey, qp::host::kActionsKey})
    RegDeleteTreeW(HKEY_CURRENT_USER, root);
  ASSERT_NE(std::find(found.begin(), found.end(), kRecognizerProgId), found.end());

  ComPtr<ISmartTagRecognizer> r = Load();
  ASSERT_TRUE(r);

  // Catalog names (the catalog compares without case), configured terms in any case, each
  // with its 1-based start and length, in text order.
  const std::wstring first =
      L"Dear client name: the FIELD of Matter Number 12 and Matter Ref go to the Judge.";
  EXPECT_EQ(Recognize(r.Get(), first),
            (Tags{TagOver(first, L"client name"), TagOver(first, L"FIELD"),
                  TagOver(first, L"Matter Number"), TagOver(first, L"Matter Ref"),
                  TagOver(first, L"Judge")}));
  EXPECT_EQ(std::get<1>(TagOver(first, L"client name")), 6);

  // Disabled and excluded terms, the word limit's own key, a name of four words and a term
  // glued to another word stay untagged; a term after a tab and a delimiter is found.
  const std::wstring second =
      L"Hidden Term, Excluded; $MAXWORDS$ One Two Three Four.\tdocket! Judges";
  EXPECT_EQ(Recognize(r.Get(), second), (Tags{TagOver(second, L"docket")}));

  // Every input type but the paragraph is passed over; the paragraph after them still works.
  for (int type : {0, 1, 2, 4, 16, 32, 9})
    EXPECT_EQ(Recognize(r.Get(), first, S_OK, static_cast<IF_TYPE>(type)), Tags{})
        << "input type " << type;
  EXPECT_EQ(Recognize(r.Get(), first).size(), 5u);
  EXPECT_TRUE(watcher.Seen().empty());
}

TEST_F(Engine, TermsThatAreThereAlreadyAndTextsWithoutWords) {
  // With prompts switched on, so that a failure of the rebuild or of the matching shows.
  qp::test::SetSetting(HKEY_LOCAL_MACHINE, kDisplayErrors, L"Yes");
  // A configured term that is a catalog name too, and two that differ only in case.
  std::vector<Term> terms = StandardTerms();
  terms.push_back({L"LI", L"Yes", L"Judge"});
  terms.push_back({L"LI", L"Yes", L"DOCKET"});
  WriteConfigText(ConfigDocument(terms));
  WindowWatcher watcher(Dismiss());
  ComPtr<ISmartTagRecognizer> r = Load();
  ASSERT_TRUE(r);
  const std::wstring text = L"The judge keeps the Docket";
  EXPECT_EQ(Recognize(r.Get(), text), (Tags{TagOver(text, L"judge"), TagOver(text, L"Docket")}));

  // Nothing but delimiters and spaces: no tag; the word limit's entry is back after each call,
  // so the next paragraph is matched as before.
  for (const wchar_t* empty : {L"", L" ", L".?,!;:\r\n\t\v", L" . ,  ;\t ! ? "}) {
    EXPECT_EQ(Recognize(r.Get(), empty), Tags{});
    EXPECT_EQ(Recognize(r.Get(), text).size(), 2u);
  }
  EXPECT_TRUE(watcher.Seen().empty());
}

TEST_F(Engine, RebuildsTheTermsOnlyAfterASaveOrACatalogChange) {
  WindowWatcher watcher(Dismiss());
  bool found = true;
  Flag(&found);
  ASSERT_FALSE(found) << "the flag must start unwritten";

  // The first check rebuilds although the flag was never written, and writes it.
  ComPtr<ISmartTagRecognizer> r = Load();
  ASSERT_TRUE(r);
  const std::wstring text = L"Field, Docket, Escrow, Ledger and the Judge and the Clerk";
  EXPECT_EQ(Recognize(r.Get(), text),
            (Tags{TagOver(text, L"Field"), TagOver(text, L"Docket"), TagOver(text, L"Judge")}));
  const std::wstring built = Flag(&found);
  ASSERT_TRUE(found);
  // YYYYMMDDHH:MM:SS with the locale's time separator.
  EXPECT_EQ(built.size(), 14 + 2 * qp::test::TimeSeparator().size()) << qp::test::Narrow(built);

  // Without a change nothing is rebuilt: the flag stays where the rebuild put it.
  Sleep(kNextSecond);
  EXPECT_EQ(Recognize(r.Get(), text).size(), 3u);
  EXPECT_EQ(Flag(), built);

  // A saved configuration: the renamed term is found, the old name no more.
  RenameTermAndSave(L"Docket", L"Escrow");
  const std::wstring saved = Flag();
  EXPECT_NE(saved, built);
  EXPECT_EQ(Recognize(r.Get(), text),
            (Tags{TagOver(text, L"Field"), TagOver(text, L"Escrow"), TagOver(text, L"Judge")}));

  // A catalog change: a name added and one taken away.
  Sleep(kNextSecond);
  SetQuillpoints({L"Client Name", L"Clerk"});
  EXPECT_EQ(Recognize(r.Get(), text),
            (Tags{TagOver(text, L"Field"), TagOver(text, L"Escrow"), TagOver(text, L"Clerk")}));
  const std::wstring changed = Flag();
  EXPECT_NE(changed, saved);

  // The list written again with the same names is no change.
  Sleep(kNextSecond);
  SetQuillpoints({L"Client Name", L"Clerk"});
  EXPECT_EQ(Recognize(r.Get(), text).size(), 3u);
  EXPECT_EQ(Flag(), changed);

  // The catalog's setting names another list.
  const std::wstring other = qp::test::TempPath(L"engine_test_other_quillpoints.txt");
  ASSERT_TRUE(qp::test::WriteFileBytes(other, "Ledger\r\n"));
  SetStandInSetting(L"QuillpointList", other);
  EXPECT_EQ(Recognize(r.Get(), text),
            (Tags{TagOver(text, L"Field"), TagOver(text, L"Escrow"), TagOver(text, L"Ledger")}));
  EXPECT_NE(Flag(), changed);
  DeleteFileW(other.c_str());

  EXPECT_TRUE(watcher.Seen().empty());
}

TEST_F(Engine, TwoControllersRebuildAlternatelyAndSeeEachOthersSaves) {
  WindowWatcher watcher(Dismiss());
  ComPtr<_Controller> a = NewController(), b = NewController();
  ASSERT_TRUE(a && b);
  for (_Controller* c : {a.Get(), b.Get()}) {
    BSTR name = nullptr;
    ASSERT_HRESULT_SUCCEEDED(c->get_SmartTagName(1, &name));
    EXPECT_EQ(Take(name), kTypeName);
  }
  const std::wstring text = L"Docket, Escrow or Ledger";

  // Each rebuild moves the flag, so the other one rebuilds at its next check.
  std::vector<std::wstring> flags;
  for (_Controller* c : {a.Get(), b.Get(), a.Get(), b.Get()}) {
    if (!flags.empty()) Sleep(kNextSecond);
    EXPECT_EQ(ControllerRecognize(c, text), (Tags{TagOver(text, L"Docket")}));
    flags.push_back(Flag());
    if (flags.size() > 1) {
      EXPECT_NE(flags.back(), flags[flags.size() - 2]) << "no rebuild";
    }
  }

  // One's save is the other's next term list, and its own.
  Sleep(kNextSecond);
  RenameTermAndSave(a.Get(), L"Docket", L"Escrow");
  EXPECT_EQ(ControllerRecognize(b.Get(), text), (Tags{TagOver(text, L"Escrow")}));
  EXPECT_EQ(ControllerRecognize(a.Get(), text), (Tags{TagOver(text, L"Escrow")}));
  Sleep(kNextSecond);
  RenameTermAndSave(b.Get(), L"Escrow", L"Ledger");
  EXPECT_EQ(ControllerRecognize(a.Get(), text), (Tags{TagOver(text, L"Ledger")}));
  EXPECT_EQ(ControllerRecognize(b.Get(), text), (Tags{TagOver(text, L"Ledger")}));
  EXPECT_TRUE(watcher.Seen().empty());
}

TEST_F(Engine, AMissingCatalogRecognisesNothingAndPromptsOnlyWhenErrorsAreShown) {
  const std::wstring text = kJudgeAndField;
  {
    ProgIdAway away(kCatalogProgId);
    // Switched off: every check fails quietly.
    {
      WindowWatcher watcher(Dismiss());
      ComPtr<ISmartTagRecognizer> r = Load();
      ASSERT_TRUE(r);
      EXPECT_EQ(Recognize(r.Get(), text), Tags{});
      EXPECT_EQ(Recognize(r.Get(), text), Tags{});
      EXPECT_TRUE(watcher.Seen().empty());
    }
    // Switched on: every check asks, as long as the user answers No.
    qp::test::SetSetting(HKEY_LOCAL_MACHINE, kDisplayErrors, L"yes");
    WindowWatcher watcher(WindowWatcher::Always(L"No"));
    ComPtr<ISmartTagRecognizer> r = Load();
    ASSERT_TRUE(r);
    EXPECT_EQ(Recognize(r.Get(), text), Tags{});
    EXPECT_EQ(Recognize(r.Get(), text), Tags{});
    const auto seen = watcher.Seen();
    ASSERT_EQ(seen.size(), 2u);
    for (const SeenWindow& w : seen)
      ExpectPrompt(w, Message(102, L""));
  }
  // The catalog installed again: the next recognizer works.
  WindowWatcher watcher(Dismiss());
  ComPtr<ISmartTagRecognizer> r = Load();
  ASSERT_TRUE(r);
  EXPECT_EQ(Recognize(r.Get(), text), JudgeAndFieldTags());
  EXPECT_TRUE(watcher.Seen().empty());
}

TEST_F(Engine, ACatalogWithoutItsListRecognisesNothingUntilTheListComesBack) {
  qp::test::SetSetting(HKEY_LOCAL_MACHINE, kDisplayErrors, L"Yes");
  WindowWatcher watcher(Dismiss());
  const std::wstring text = kJudgeAndField;
  qp::test::RemoveStandInSettings();
  ComPtr<ISmartTagRecognizer> r = Load();
  ASSERT_TRUE(r);
  // No catalog present is no failure: nothing is shown. The term list stays absent while the
  // flag stands still, so the following call fails back to Office, with no tag and no box.
  EXPECT_EQ(Recognize(r.Get(), text), Tags{});
  std::vector<qp::host::Tag> tags;
  EXPECT_TRUE(FAILED(qp::host::RecognizeParagraph(r.Get(), text, tags)));
  EXPECT_TRUE(tags.empty());
  EXPECT_TRUE(watcher.Seen().empty());

  // The list is back: the catalog reports a change, and the terms are built.
  Sleep(kNextSecond);
  SetQuillpoints({L"Judge"});
  EXPECT_EQ(Recognize(r.Get(), text), JudgeAndFieldTags());
  EXPECT_TRUE(watcher.Seen().empty());
}

// A rebuild that fails after the catalog handed over its names (the user's file is read after
// them) leaves no term list: recognition fails back to Office until the flag moves again,
// even once the file is repaired; it does not go on with the names and no terms.
TEST_F(Engine, ARebuildOverABrokenFileRecognisesNothingUntilTheFlagMoves) {
  WindowWatcher watcher(Dismiss());
  const std::wstring text = kJudgeAndField;
  ComPtr<ISmartTagRecognizer> r = Load();
  ASSERT_TRUE(r);
  EXPECT_EQ(Recognize(r.Get(), text), JudgeAndFieldTags());

  WriteConfigText(L"<SmartTagConfig>\r\n\t<Name>" + std::wstring(kTypeName) + L"</Name>\r\n");
  Sleep(kNextSecond);
  SetQuillpoints({L"Judge", L"Clerk"});
  // The check that rebuilds fails: no tag, and nothing for Office to see.
  EXPECT_EQ(Recognize(r.Get(), text), Tags{});
  const std::wstring failed = Flag();
  auto expectFailure = [&](const char* when) {
    std::vector<qp::host::Tag> tags;
    EXPECT_TRUE(FAILED(qp::host::RecognizeParagraph(r.Get(), text, tags))) << when;
    EXPECT_TRUE(tags.empty()) << when;
  };
  expectFailure("after the failed rebuild");
  expectFailure("after the failed rebuild, again");
  WriteConfigText(ConfigDocument(StandardTerms()));
  expectFailure("with the file repaired and the flag where it was");
  EXPECT_EQ(Flag(), failed);

  Sleep(kNextSecond);
  SetQuillpoints({L"Judge"});
  EXPECT_EQ(Recognize(r.Get(), text), JudgeAndFieldTags());
  EXPECT_TRUE(watcher.Seen().empty());
}

TEST_F(Engine, ARegistryComponentGoneFailsTheNextCallWithoutABoxAndIsFoundWhenBack) {
  // The switch itself is read through the registry component, so not even a prompt can be
  // shown: the failure goes back to Office.
  qp::test::SetSetting(HKEY_LOCAL_MACHINE, kDisplayErrors, L"Yes");
  WindowWatcher watcher(Dismiss());
  const std::wstring text = kJudgeAndField;
  ComPtr<ISmartTagRecognizer> r = Load();
  ASSERT_TRUE(r);
  // The recognizer has used the component before it goes.
  EXPECT_EQ(Recognize(r.Get(), text), JudgeAndFieldTags());
  auto expectFailures = [&](const char* how) {
    for (int i = 0; i < 2; ++i) {
      std::vector<qp::host::Tag> tags;
      SetErrorInfo(0, nullptr);
      EXPECT_TRUE(FAILED(qp::host::RecognizeParagraph(r.Get(), text, tags))) << how;
      EXPECT_TRUE(tags.empty()) << how;
      ComPtr<IErrorInfo> info;
      EXPECT_EQ(GetErrorInfo(0, info.GetAddressOf()), S_OK) << how << ": no error information";
    }
  };
  {
    ProgIdAway away(kRegistryProgId);
    expectFailures("ProgID pointed at an unregistered class");
    EXPECT_TRUE(watcher.Seen().empty());
  }
  // The component is back: the same recognizer goes on with its terms.
  EXPECT_EQ(Recognize(r.Get(), text), JudgeAndFieldTags());

  // Unregistered by its own server and registered again.
  HMODULE server = LoadLibraryW(L"hivereg.dll");
  ASSERT_NE(server, nullptr);
  using Entry = HRESULT(STDAPICALLTYPE*)();
  auto unregister = reinterpret_cast<Entry>(
      reinterpret_cast<void*>(GetProcAddress(server, "DllUnregisterServer")));
  auto reregister =
      reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(server, "DllRegisterServer")));
  ASSERT_TRUE(unregister && reregister);
  ASSERT_HRESULT_SUCCEEDED(unregister());
  expectFailures("unregistered");
  ASSERT_HRESULT_SUCCEEDED(reregister());
  EXPECT_EQ(Recognize(r.Get(), text), JudgeAndFieldTags());
  FreeLibrary(server);
  EXPECT_TRUE(watcher.Seen().empty());
}

// Any dictionary with Exists, Add, Remove and Item will do as the catalog's: the scripting
// runtime's, one that cannot list its keys, one that lists them as strings, and one that lends
// its own array of keys by reference, which must come back unwritten and unlocked (its next
// call fails otherwise).
TEST_F(Engine, CatalogDictionariesOfEveryShapeGiveTheSameTags) {
  WindowWatcher watcher(Dismiss());
  const std::wstring first =
      L"Dear client name: the FIELD of Matter Number 12 and Matter Ref go to the Judge.";
  const std::wstring second =
      L"Hidden Term, Excluded; $MAXWORDS$ One Two Three Four.\tdocket! Judges";
  const std::wstring third = L"The judge, THE JUDGE and the Judge's clerk";
  const std::vector<std::pair<std::wstring, Tags>> expected = {
      {first,
       {TagOver(first, L"client name"), TagOver(first, L"FIELD"), TagOver(first, L"Matter Number"),
        TagOver(first, L"Matter Ref"), TagOver(first, L"Judge")}},
      {second, {TagOver(second, L"docket")}},
      {third, {TagOver(third, L"judge"), TagOver(third, L"JUDGE")}},
  };
  for (const wchar_t* kind : {L"", L"Scripting", L"ExistsOnly", L"TextKeys", L"LentKeys"}) {
    SCOPED_TRACE(::testing::Message()
                 << "dictionary \"" << std::string(kind, kind + wcslen(kind)) << "\"");
    SetStandInSetting(L"NamesDictionary", kind);
    ComPtr<ISmartTagRecognizer> r = Load();
    ASSERT_TRUE(r);
    for (int pass = 0; pass < 2; ++pass)  // the word limit is taken out and put back each time
      for (const auto& [text, tags] : expected)
        EXPECT_EQ(Recognize(r.Get(), text), tags);
    // A catalog change reaches a dictionary of this shape too.
    Sleep(kNextSecond);
    SetQuillpoints({L"Clerk"});
    EXPECT_EQ(Recognize(r.Get(), third), (Tags{TagOver(third, L"clerk")}));
    SetQuillpoints(
        {L"Client Name", L"Matter Number", L"Judge", L"$MAXWORDS$", L"One Two Three Four"});
    Sleep(kNextSecond);
  }
  EXPECT_TRUE(watcher.Seen().empty());
}

// The catalog's own dictionary: the list's names compared without case, a name listed twice
// kept once; what a caller removes or adds stays in the dictionary it was given.
TEST_F(Engine, EachRecognizerHasItsOwnAnswers) {
  WindowWatcher watcher(Dismiss());
  ComPtr<ISmartTagRecognizer> first = Load(), second = Create();
  ASSERT_TRUE(first && second);
  // The type name cached by one recognizer's SmartTagName(1) is not the other's.
  const std::wstring text = L"The Field";
  EXPECT_EQ(Recognize(first.Get(), text), (Tags{TagOver(text, L"Field")}));
  EXPECT_EQ(Recognize(second.Get(), text), (Tags{TagOver(text, L"Field", L"")}));
  // Every index gets the one download address.
  for (int index : {1, 2}) {
    BSTR url = nullptr;
    EXPECT_EQ(second->get_SmartTagDownloadURL(index, &url), S_OK);
    EXPECT_EQ(Take(url), kDownloadUrl) << index;
  }
  // One released, the other goes on.
  first.Reset();
  EXPECT_EQ(Recognize(second.Get(), text), (Tags{TagOver(text, L"Field", L"")}));
  EXPECT_TRUE(watcher.Seen().empty());
}

TEST_F(Engine, SmartTagNameTwoAnswersOnlyAfterSmartTagNameOne) {
  const std::wstring text = L"The Field";
  {
    // Switched off: empty and silent; tags before SmartTagName(1) carry no type name.
    WindowWatcher watcher(Dismiss());
    ComPtr<ISmartTagRecognizer> r = Create();
    ASSERT_TRUE(r);
    BSTR name = nullptr;
    EXPECT_EQ(r->get_SmartTagName(2, &name), S_OK);
    EXPECT_EQ(Take(name), L"");
    EXPECT_EQ(Recognize(r.Get(), text), (Tags{TagOver(text, L"Field", L"")}));
    EXPECT_TRUE(watcher.Seen().empty());
  }
  qp::test::SetSetting(HKEY_LOCAL_MACHINE, kDisplayErrors, L"1");
  WindowWatcher watcher(WindowWatcher::Always(L"No"));
  ComPtr<ISmartTagRecognizer> r = Create();
  ASSERT_TRUE(r);
  BSTR name = nullptr;
  EXPECT_EQ(r->get_SmartTagName(2, &name), S_OK);
  EXPECT_NE(name, nullptr);
  EXPECT_EQ(Take(name), L"");
  ASSERT_EQ(watcher.Seen().size(), 1u);
  ExpectPrompt(watcher.Seen()[0], Message(107, L""));

  name = nullptr;
  EXPECT_EQ(r->get_SmartTagName(1, &name), S_OK);
  EXPECT_EQ(Take(name), kTypeName);
  name = nullptr;
  EXPECT_EQ(r->get_SmartTagName(2, &name), S_OK);
  EXPECT_EQ(Take(name), kTypeName);
  EXPECT_EQ(Recognize(r.Get(), text), (Tags{TagOver(text, L"Field")}));
  EXPECT_EQ(watcher.Seen().size(), 1u);
}

TEST_F(Engine, AMalformedConfigurationGivesEmptyAnswersAndWordKeepsWorking) {
  WriteConfigText(L"<SmartTagConfig>\r\n\t<Name>" + std::wstring(kTypeName) + L"</Name>\r\n");
  const std::wstring text = kJudgeAndField;
  {
    // Switched off: empty answers, no box.
    WindowWatcher watcher(Dismiss());
    ComPtr<ISmartTagRecognizer> r = Create();
    ASSERT_TRUE(r);
    qp::host::RecognizerInfo info;
    EXPECT_HRESULT_SUCCEEDED(qp::host::Describe(r.Get(), info));
    EXPECT_EQ(info.name, L"");
    EXPECT_EQ(info.smartTagName, L"");
    EXPECT_EQ(Recognize(r.Get(), text), Tags{});
    EXPECT_TRUE(watcher.Seen().empty());
  }
  qp::test::SetSetting(HKEY_LOCAL_MACHINE, kDisplayErrors, L"True");
  WindowWatcher watcher(Dismiss());
  ComPtr<ISmartTagRecognizer> r = Create();
  ASSERT_TRUE(r);
  auto textOf = [&](auto get) {
    BSTR b = nullptr;
    EXPECT_EQ(get(&b), S_OK);
    return Take(b);
  };
  // The first reading reports the parser's reason and the file; the document then held is
  // empty, so the next questions find no value.
  EXPECT_EQ(textOf([&](BSTR* b) { return r->get_Name(1033, b); }), L"");
  EXPECT_EQ(textOf([&](BSTR* b) { return r->get_Desc(1033, b); }), L"");
  INT count = 0;
  EXPECT_EQ(r->get_SmartTagCount(&count), S_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(textOf([&](BSTR* b) { return r->get_SmartTagName(1, b); }), L"");
  EXPECT_EQ(textOf([&](BSTR* b) { return r->get_SmartTagDownloadURL(1, b); }), L"");
  auto seen = watcher.Seen();
  ASSERT_EQ(seen.size(), 3u);
  const std::wstring tail = L" " + ConfigPath() + L"\r\n\r\n" + Message(111, L"");
  EXPECT_EQ(seen[0].title, kBoxTitle);
  EXPECT_EQ(seen[0].buttons, (std::vector<std::wstring>{L"Yes", L"No"}));
  ASSERT_GT(seen[0].text.size(), tail.size()) << "no reason before the file";
  EXPECT_EQ(seen[0].text.substr(seen[0].text.size() - tail.size()), tail);
  for (size_t i : {1u, 2u})
    ExpectPrompt(seen[i], Message(107, L""));

  // The term list is read from the file again, and reported the same way.
  EXPECT_EQ(Recognize(r.Get(), text), Tags{});
  seen = watcher.Seen();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[3].text, seen[0].text);

  // The user repairs the file and saves the terms: the same recognizer works again.
  WriteConfigText(ConfigDocument(StandardTerms()));
  Sleep(kNextSecond);
  RenameTermAndSave(L"Field", L"Field");
  EXPECT_EQ(Recognize(r.Get(), text), JudgeAndFieldTags(L""));
  EXPECT_EQ(textOf([&](BSTR* b) { return r->get_SmartTagName(1, b); }), kTypeName);
  EXPECT_EQ(textOf([&](BSTR* b) { return r->get_Name(1033, b); }), L"Engine Test Recognizer");
  EXPECT_EQ(Recognize(r.Get(), text), JudgeAndFieldTags());
  EXPECT_EQ(watcher.Seen().size(), 4u);
}

}  // namespace

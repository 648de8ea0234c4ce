// The recognizer as Office meets it: created by ProgID from the registry, asked what Office
// asks and handed paragraphs through the Smart Tag vtable with a site that records the tags.
// Behind it run the real engine, the user's configuration file, the cache flush flag in the real
// registry, and the stand-in catalog and registry component. Message boxes are the real ones, read
// and answered by a watcher thread.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <wrl/client.h>

#include <string>
#include <tuple>
#include <vector>

#include "nvstagQP.h"
#include "office_host.h"
#include "term_records.h"
#include "window_watcher.h"
#include "wine_test_env.h"

namespace {

using namespace qp::test;
using Microsoft::WRL::ComPtr;

constexpr wchar_t kTypeName[] = L"urn:test:engine#quillpoint";
constexpr wchar_t kDownloadUrl[] = L"http://example.invalid/quillpoint";
const std::vector<std::wstring> kNames = {L"Client Name", L"Matter Number", L"Judge", L"$MAXWORDS$",
                                          L"One Two Three Four"};

// Literal terms of every kind: only enabled ones of class "LI" (in any letter case) count. The
// fourth term is the one the tests rename.
std::vector<Term> StandardTerms(const std::wstring& fourth = L"Docket") {
  return {{L"D", L""},
          LI(L"Field"),
          LI(L"matter ref"),
          {L"li", fourth, L"yes"},
          LI(L"Hidden Term", L"No"),
          {L"LE", L"Excluded"}};
}

std::wstring ConfigDocument(const std::vector<Term>& terms) {
  std::wstring recognizers;
  for (const Term& t : terms)
    recognizers += L"<Recognizer ClassCode=\"" + t.classCode + L"\" Enabled=\"" + t.enabled +
                   L"\" CaseSensitive=\"" + t.caseSensitive + L"\" Mask=\"" + t.mask + L"\">" +
                   t.value + L"</Recognizer>\r\n";
  return L"<SmartTagConfig><Caption>Norvane Quillpoint</Caption><Name>" + std::wstring(kTypeName) +
         L"</Name><NameExt/><DownloadURL>" + kDownloadUrl +
         LR"(</DownloadURL>
<RecognizerProvider><Name>Engine Test Recognizer</Name>
<Description>Recognizes the engine test's terms</Description><Recognizers>
)" + recognizers +
         LR"(</Recognizers></RecognizerProvider>
<ActionProvider><Name>Quillpoint</Name><Description>Inserts Quillpoints</Description><Actions>
<Action Name="Insert" ClassCode="I" Enabled="Yes"
 InsertPosition="RT">Replace Smart Tag with Quillpoint</Action>
<Action Name="ViewConfig" ClassCode="V" Enabled="Yes">Maintain Recognizer Terms</Action>
</Actions></ActionProvider></SmartTagConfig>)";
}

void WriteConfigText(const std::wstring& text) {
  WriteConfig(Narrow(text));
}
const std::wstring kBrokenConfig =
    L"<SmartTagConfig>\r\n\t<Name>" + std::wstring(kTypeName) + L"</Name>\r\n";

std::wstring Flag(bool* found = nullptr) {
  return GetSetting(HKEY_CURRENT_USER, kFlag, found);
}

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
        << "not registered: " << Narrow(key_);
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

using Tags = std::vector<std::tuple<std::wstring, int, int>>;

// The tags Office expects over the first occurrence of each of `words` in `text`.
Tags TagsOver(const std::wstring& text, std::initializer_list<const wchar_t*> words,
              const std::wstring& type = kTypeName) {
  Tags tags;
  for (const wchar_t* w : words) {
    const size_t at = text.find(w);
    EXPECT_NE(at, std::wstring::npos) << "the test's text lacks its own term";
    tags.emplace_back(type, static_cast<int>(at) + 1, static_cast<int>(wcslen(w)));
  }
  return tags;
}

// Presses No on a question and OK on anything else: an unexpected box must not hang the test;
// the test then finds it among the windows seen. (Yes to the error prompt would silence it for
// the rest of the program.)
Answer Dismiss() {
  return WindowWatcher::Question(L"No");
}

// A paragraph with one catalog name and one configured term, and its tags.
constexpr wchar_t kJudgeAndField[] = L"The Judge and the Field";
Tags JudgeAndFieldTags(const std::wstring& type = kTypeName) {
  return TagsOver(kJudgeAndField, {L"Judge", L"Field"}, type);
}

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProductState();
    WriteConfigText(ConfigDocument(StandardTerms()));
    SetQuillpoints(kNames);
  }

  // A recognizer created by ProgID; as Office loads it, also asked its descriptive questions
  // (among them SmartTagName(1), which fixes the type name of its tags).
  static ComPtr<ISmartTagRecognizer> Create(bool describe = false) {
    ComPtr<ISmartTagRecognizer> r;
    EXPECT_HRESULT_SUCCEEDED(qp::host::CreateRecognizer(kRecognizerProgId, &r));
    qp::host::RecognizerInfo info;
    if (r && describe) {
      EXPECT_HRESULT_SUCCEEDED(qp::host::Describe(r.Get(), info));
      EXPECT_EQ(info.smartTagName, kTypeName);
    }
    return r;
  }
  static ComPtr<ISmartTagRecognizer> Load() { return Create(true); }

  static Tags Recognize(ISmartTagRecognizer* r, const std::wstring& text, HRESULT expected = S_OK,
                        IF_TYPE type = IF_TYPE_PARA) {
    std::vector<qp::host::Tag> tags;
    EXPECT_EQ(qp::host::RecognizeParagraph(r, text, tags, type), expected)
        << "on: " << Narrow(text);
    Tags out;
    for (const auto& t : tags)
      out.emplace_back(t.type, t.start, t.length);
    return out;
  }
  // A call that fails back to Office, with no tag.
  static void ExpectFailure(ISmartTagRecognizer* r, const char* when) {
    std::vector<qp::host::Tag> tags;
    EXPECT_TRUE(FAILED(qp::host::RecognizeParagraph(r, kJudgeAndField, tags))) << when;
    EXPECT_TRUE(tags.empty()) << when;
  }

  // The user's terms saved by the configuration store of an engine of its own, as the terms
  // dialog of an action handler saves them.
  static void SaveTerms(const std::vector<Term>& terms) {
    ComPtr<_Controller> controller;
    ASSERT_HRESULT_SUCCEEDED(CreateByProgId(kControllerProgId, controller.GetAddressOf()));
    ComPtr<_SmartTagConfig> config;
    ASSERT_HRESULT_SUCCEEDED(controller->get_SmartTagConfiguration(&config));
    // Read first, as the dialog reads them.
    ComPtr<_Records> before;
    ASSERT_HRESULT_SUCCEEDED(config->GetRecognizers(VARIANT_FALSE, &before));
    ComPtr<IDispatch> records = NewCollection(terms);
    IDispatch* list = records.Get();
    ASSERT_HRESULT_SUCCEEDED(config->UpdateRecognizers(&list));
  }

  ComApartment com_;
};

// Any dictionary with Exists, Add, Remove and Item will do as the catalog's: its own, the
// scripting runtime's, one that cannot list its keys, one that lists them as strings, and one
// that lends its own array of keys by reference, which must come back unwritten and unlocked
// (its next call fails otherwise). One recognizer is handed each in turn at a catalog change:
// the member ids one dictionary gave must not be used on the next, whose ids differ.
TEST_F(Engine, CatalogDictionariesOfEveryShapeInTurnGiveTheSameTags) {
  // With prompts switched on, so that a failure of a rebuild or of the matching shows.
  SetSetting(HKEY_LOCAL_MACHINE, kDisplayErrors, L"Yes");
  // A configured term that is a catalog name too, and two that differ only in case.
  std::vector<Term> terms = StandardTerms();
  terms.push_back(LI(L"Judge"));
  terms.push_back(LI(L"DOCKET"));
  WriteConfigText(ConfigDocument(terms));
  WindowWatcher watcher(Dismiss());
  ComPtr<ISmartTagRecognizer> r = Load();
  ASSERT_TRUE(r);

  // Catalog names (the catalog compares without case) and configured terms in any case, each
  // with its 1-based start and length, in text order. Disabled and excluded terms, the word
  // limit's own key, a name of four words and a term glued to another word stay untagged; a
  // term after a tab and a delimiter is found.
  const std::wstring first =
      L"Dear client name: the FIELD of Matter Number 12 and Matter Ref go to the Judge.";
  const std::wstring second =
      L"Hidden Term, Excluded; $MAXWORDS$ One Two Three Four.\tdocket! Judges";
  const std::wstring third = L"The judge, THE JUDGE and the Judge's clerk";
  const Tags firstTags =
      TagsOver(first, {L"client name", L"FIELD", L"Matter Number", L"Matter Ref", L"Judge"});
  EXPECT_EQ(std::get<1>(firstTags[0]), 6);
  // Every input type but the paragraph is passed over.
  for (int type : {0, 1, 2, 4, 16, 32, 9})
    EXPECT_EQ(Recognize(r.Get(), first, S_OK, static_cast<IF_TYPE>(type)), Tags{})
        << "input type " << type;
  const wchar_t* kinds[] = {L"",         L"Scripting", L"ExistsOnly",
                            L"TextKeys", L"LentKeys",  L"Scripting"};
  for (size_t i = 0; i < std::size(kinds); ++i) {
    SCOPED_TRACE(::testing::Message() << "dictionary \"" << Narrow(kinds[i]) << "\"");
    SetStandInSetting(L"NamesDictionary", kinds[i]);
    // The list changes with every shape, a clerk in it every other time.
    std::vector<std::wstring> names = kNames;
    if (i % 2) names.push_back(L"Clerk");
    SetQuillpoints(names);
    Tags thirdTags = TagsOver(third, {L"judge", L"JUDGE"});
    if (i % 2) thirdTags.push_back(TagsOver(third, {L"clerk"})[0]);
    // The word limit is taken out and put back at each call, texts without words included.
    for (const wchar_t* empty : {L"", L" ", L".?,!;:\r\n\t\v", L" . ,  ;\t ! ? "}) {
      EXPECT_EQ(Recognize(r.Get(), first), firstTags);
      EXPECT_EQ(Recognize(r.Get(), second), TagsOver(second, {L"docket"}));
      EXPECT_EQ(Recognize(r.Get(), third), thirdTags);
      EXPECT_EQ(Recognize(r.Get(), empty), Tags{});
    }
  }
  ExpectNoBoxes(watcher);
}

// The flag moves at every save and every catalog change, even in the second of the last
// rebuild, and every recognizer rebuilds at its next check; while it stands still, none does.
TEST_F(Engine, EveryRecognizerRebuildsAfterASaveOrACatalogChangeAndOnlyThen) {
  WindowWatcher watcher(Dismiss());
  bool found = true;
  Flag(&found);
  ASSERT_FALSE(found) << "the flag must start unwritten";
  ComPtr<ISmartTagRecognizer> a = Load(), b = Load();
  ASSERT_TRUE(a && b);
  const std::wstring text = L"Field, Docket, Escrow, Ledger and the Judge and the Clerk";
  auto expectTags = [&](std::initializer_list<const wchar_t*> words, const char* when) {
    for (ISmartTagRecognizer* r : {a.Get(), b.Get()})
      EXPECT_EQ(Recognize(r, text), TagsOver(text, words)) << when;
  };

  // The first checks rebuild although the flag was never written, and write it.
  expectTags({L"Field", L"Docket", L"Judge"}, "first");
  const std::wstring built = Flag(&found);
  ASSERT_TRUE(found);

  // The file changed behind the store's back, and the catalog's list written again with the
  // same names: no change, so the terms are not read again.
  WriteConfigText(ConfigDocument(StandardTerms(L"Escrow")));
  SetQuillpoints(kNames);
  expectTags({L"Field", L"Docket", L"Judge"}, "with the flag standing still");
  EXPECT_EQ(Flag(), built);

  // A name added and one taken away: the terms are read again too.
  SetQuillpoints({L"Client Name", L"Clerk"});
  expectTags({L"Field", L"Escrow", L"Clerk"}, "after a catalog change");
  EXPECT_NE(Flag(), built);
  SaveTerms(StandardTerms(L"Ledger"));
  expectTags({L"Field", L"Ledger", L"Clerk"}, "after a save");
  // The catalog's setting names another list.
  const std::wstring other = TempPath(L"engine_test_other_quillpoints.txt");
  ASSERT_TRUE(WriteFileBytes(other, "Judge\r\n"));
  SetStandInSetting(L"QuillpointList", other);
  expectTags({L"Field", L"Ledger", L"Judge"}, "with another list");

  // A flag another engine moved makes each rebuild, and each rebuild writes the flag anew for
  // the others.
  SYSTEMTIME past = {2001, 1, 1, 1, 0, 0, 0, 0};
  const std::wstring earlier = Stamp(past);
  const wchar_t* renamed[] = {L"Escrow", L"Docket"};
  for (int i = 0; i < 2; ++i) {
    WriteConfigText(ConfigDocument(StandardTerms(renamed[i])));
    SetSetting(HKEY_CURRENT_USER, kFlag, earlier.c_str());
    ISmartTagRecognizer* r = i == 0 ? a.Get() : b.Get();
    EXPECT_EQ(Recognize(r, text), TagsOver(text, {L"Field", renamed[i], L"Judge"}));
    EXPECT_NE(Flag(), earlier) << "a rebuild that left the flag where it was";
  }
  DeleteFileW(other.c_str());
  ExpectNoBoxes(watcher);
}

// A missing catalog: nothing is recognised, and each check prompts only when errors are shown.
// A rebuild that finds no list in the catalog, or fails after the catalog handed over its
// names (the user's file is read after them), leaves no term list: recognition fails back to
// Office, with no tag and no further box, until the flag moves again, even once the file is
// repaired; it does not go on with the names and no terms. A registry component gone fails
// each call without a box until it is back.
TEST_F(Engine, MissingOrFailingPartsRecogniseNothingUntilRepaired) {
  {
    ProgIdAway away(L"NVObjectLibrary.Catalog");
    // Switched off, every check fails quietly; switched on, every check asks, as long as the
    // user answers No.
    for (bool shown : {false, true}) {
      SetSetting(HKEY_LOCAL_MACHINE, kDisplayErrors, shown ? L"yes" : nullptr);
      WindowWatcher watcher(WindowWatcher::Always(L"No"));
      ComPtr<ISmartTagRecognizer> r = Load();
      ASSERT_TRUE(r);
      EXPECT_EQ(Recognize(r.Get(), kJudgeAndField), Tags{});
      EXPECT_EQ(Recognize(r.Get(), kJudgeAndField), Tags{});
      const auto seen = watcher.Seen();
      ASSERT_EQ(seen.size(), shown ? 2u : 0u) << "errors shown: " << shown;
      for (const SeenWindow& w : seen)
        ExpectPrompt(w, Message(102, L""));
    }
  }
  // The catalog installed again: the next recognizer works.
  SetSetting(HKEY_LOCAL_MACHINE, kDisplayErrors, L"Yes");
  WindowWatcher watcher(Dismiss());
  ComPtr<ISmartTagRecognizer> r = Load();
  ASSERT_TRUE(r);
  EXPECT_EQ(Recognize(r.Get(), kJudgeAndField), JudgeAndFieldTags());

  // No catalog present is no failure: nothing is shown.
  RemoveStandInSettings();
  EXPECT_EQ(Recognize(r.Get(), kJudgeAndField), Tags{});
  ExpectFailure(r.Get(), "with no list");
  SetQuillpoints({L"Judge"});
  EXPECT_EQ(Recognize(r.Get(), kJudgeAndField), JudgeAndFieldTags());

  ExpectNoBoxes(watcher);
  // The check that rebuilds over the broken file fails and says so, once.
  WriteConfigText(kBrokenConfig);
  SetQuillpoints({L"Judge", L"Clerk"});
  EXPECT_EQ(Recognize(r.Get(), kJudgeAndField), Tags{});
  ASSERT_EQ(watcher.Seen().size(), 1u);
  EXPECT_EQ(watcher.Seen()[0].buttons, (std::vector<std::wstring>{L"Yes", L"No"}));
  const std::wstring failed = Flag();
  ExpectFailure(r.Get(), "after the failed rebuild");
  WriteConfigText(ConfigDocument(StandardTerms()));
  ExpectFailure(r.Get(), "with the file repaired and the flag where it was");
  EXPECT_EQ(Flag(), failed);
  SetQuillpoints({L"Judge"});
  EXPECT_EQ(Recognize(r.Get(), kJudgeAndField), JudgeAndFieldTags());

  // The registry component gone: the switch itself is read through it, so not even a prompt
  // can be shown; the next call fails back to Office, with the error's information.
  {
    ProgIdAway away(L"HiveLibrary.Registry");
    for (int i = 0; i < 2; ++i) {
      SetErrorInfo(0, nullptr);
      ExpectFailure(r.Get(), "with the component gone");
      ComPtr<IErrorInfo> info;
      EXPECT_EQ(GetErrorInfo(0, &info), S_OK) << "no error information";
    }
  }
  // The component is back: the same recognizer goes on with its terms.
  EXPECT_EQ(Recognize(r.Get(), kJudgeAndField), JudgeAndFieldTags());
  EXPECT_EQ(watcher.Seen().size(), 1u);
}

// The type name of the tags is the one SmartTagName(1) read on the same recognizer; before
// that, SmartTagName(2) fails (a prompt, when errors are shown) and the tags carry no type.
TEST_F(Engine, EachRecognizerHasItsOwnTypeNameFromSmartTagNameOne) {
  SetSetting(HKEY_LOCAL_MACHINE, kDisplayErrors, L"1");
  WindowWatcher watcher(WindowWatcher::Always(L"No"));
  ComPtr<ISmartTagRecognizer> first = Load(), second = Create();
  ASSERT_TRUE(first && second);
  auto name = [&](int id) {
    BSTR b = nullptr;
    EXPECT_EQ(second->get_SmartTagName(id, &b), S_OK);
    EXPECT_NE(b, nullptr);
    return Take(b);
  };
  EXPECT_EQ(name(2), L"");
  ASSERT_EQ(watcher.Seen().size(), 1u);
  ExpectPrompt(watcher.Seen()[0], Message(107, L""));
  EXPECT_EQ(Recognize(first.Get(), kJudgeAndField), JudgeAndFieldTags());
  EXPECT_EQ(Recognize(second.Get(), kJudgeAndField), JudgeAndFieldTags(L""));
  // Every index gets the one download address.
  for (int index : {1, 2})
    EXPECT_EQ(TextOf([&](BSTR* b) { return second->get_SmartTagDownloadURL(index, b); }),
              kDownloadUrl)
        << index;
  // One released, the other goes on, and takes its name.
  first.Reset();
  EXPECT_EQ(Recognize(second.Get(), kJudgeAndField), JudgeAndFieldTags(L""));
  EXPECT_EQ(name(1), kTypeName);
  EXPECT_EQ(name(2), kTypeName);
  EXPECT_EQ(Recognize(second.Get(), kJudgeAndField), JudgeAndFieldTags());
  EXPECT_EQ(watcher.Seen().size(), 1u);
}

TEST_F(Engine, AMalformedConfigurationGivesEmptyAnswersAndWordKeepsWorking) {
  WriteConfigText(kBrokenConfig);
  SetSetting(HKEY_LOCAL_MACHINE, kDisplayErrors, L"True");
  WindowWatcher watcher(Dismiss());
  ComPtr<ISmartTagRecognizer> r = Create();
  ASSERT_TRUE(r);
  // The first reading reports the parser's reason and the file; the document then held is
  // empty, so the next questions find no value.
  EXPECT_EQ(TextOf([&](BSTR* b) { return r->get_Name(1033, b); }), L"");
  EXPECT_EQ(TextOf([&](BSTR* b) { return r->get_Desc(1033, b); }), L"");
  INT count = 0;
  EXPECT_EQ(r->get_SmartTagCount(&count), S_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(TextOf([&](BSTR* b) { return r->get_SmartTagName(1, b); }), L"");
  EXPECT_EQ(TextOf([&](BSTR* b) { return r->get_SmartTagDownloadURL(1, b); }), L"");
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
  EXPECT_EQ(Recognize(r.Get(), kJudgeAndField), Tags{});
  seen = watcher.Seen();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[3].text, seen[0].text);

  // The user repairs the file and saves the terms: the same recognizer works again.
  WriteConfigText(ConfigDocument(StandardTerms()));
  SaveTerms(StandardTerms());
  EXPECT_EQ(Recognize(r.Get(), kJudgeAndField), JudgeAndFieldTags(L""));
  EXPECT_EQ(TextOf([&](BSTR* b) { return r->get_SmartTagName(1, b); }), kTypeName);
  EXPECT_EQ(TextOf([&](BSTR* b) { return r->get_Name(1033, b); }), L"Engine Test Recognizer");
  EXPECT_EQ(Recognize(r.Get(), kJudgeAndField), JudgeAndFieldTags());
  EXPECT_EQ(watcher.Seen().size(), 4u);
}

}  // namespace

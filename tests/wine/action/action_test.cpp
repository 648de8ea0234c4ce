// The action handler as Office meets it: created by ProgID, asked through the Smart Tag vtable
// for its names and verbs, and told to run a verb on a tag in a Word stand-in whose COM add-in
// is the Norvane Word add-in stand-in. The message boxes are the real ones, answered by a
// watcher thread as a user would answer them.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "action_host.h"
#include "late_bound.h"
#include "nvstagQP.h"
#include "office_host.h"
#include "window_watcher.h"
#include "wine_test_env.h"
#include "word_standin.h"

namespace {

using qp::host::ComPtr;
using qp::host::kWordProgId;
using qp::host::kWordTemplate;
using qp::host::WordStandIn;
using qp::platform::Bstr;
using namespace qp::test;

// The default configuration's texts, and a paragraph with three of its terms.
constexpr wchar_t kTypeName[] = L"urn:norvane:quillpoint:smarttag#insertquillpoint";
const std::wstring kParagraph = L"The Field of the Client Name, QP.";
using Tags = std::vector<qp::host::Tag>;
constexpr wchar_t kInsertCaption[] = L"Replace Smart Tag with Quillpoint";
constexpr wchar_t kTermsCaption[] = L"Maintain Recognizer Terms";

// Office's identifiers, written out here so that a wrong one in our IDL fails.
IID Iid(const wchar_t* text) {
  IID iid = IID_NULL;
  EXPECT_HRESULT_SUCCEEDED(IIDFromString(text, &iid)) << Narrow(text);
  return iid;
}
const IID kIidSmartTagRecognizer = Iid(L"{3C6C0440-A27D-11D3-BD33-D80C46980A07}");
const IID kIidSmartTagRecognizer2 = Iid(L"{D4C62D17-6162-41DE-BE24-5B1D3F529CC3}");
const IID kIidSmartTagAction2 = Iid(L"{5073BDEB-E480-4024-887E-22923C004444}");

// A call through slot `slot` of the object's vtable, as a client compiled against Office's
// type library calls it.
template <class... Args>
HRESULT Slot(IUnknown* object, int slot, Args... args) {
  using Fn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, Args...);
  void** table = *reinterpret_cast<void***>(object);
  return reinterpret_cast<Fn>(table[slot])(object, args...);
}

// Interfaces as the registered library describes them to Office, written out here: base,
// vtable slot of the first own member, members in vtable order with their dispatch ids.
using Described = std::pair<IID, const wchar_t*>;
// What Office XP binds to, unchanged by the version-2 interfaces beside them.
const Described kVersion1[] = {
    {Iid(L"{3B744D8F-B8A5-11D3-B2CF-00500489D6A3}"),
     L"IDispatch +7: get ProgId=1 get Name=2 get Desc=3 get SmartTagCount=4 get SmartTagName=5 "
     L"get SmartTagCaption=6 get VerbCount=7 get VerbID=8 get VerbCaptionFromID=9 "
     L"get VerbNameFromID=10 InvokeVerb=11"},
    {kIidSmartTagRecognizer,
     L"IDispatch +7: get ProgId=1 get Name=2 get Desc=3 get SmartTagCount=4 get SmartTagName=5 "
     L"get SmartTagDownloadURL=6 Recognize=7"},
    {Iid(L"{9BF068D0-B735-11D3-B2CF-00500489D6A3}"),
     L"IDispatch +7: GetNewPropertyBag=1 CommitSmartTag=2"}};
// Office 2003's, from "Microsoft Smart Tags 2.0 Type Library" 1.2.
const Described kVersion2[] = {
    {kIidSmartTagRecognizer2,
     L"IDispatch +7: Recognize2=8 get PropertyPage=9 DisplayPropertyPage=10 SmartTagInitialize=16"},
    {Iid(L"{347958C0-E86F-4865-97C8-BED31E4C28E0}"),
     L"ISmartTagRecognizerSite +9: CommitSmartTag2=3"},
    {Iid(L"{9BF068D0-B736-11D3-B2CF-00500489D6A4}"), L"IDispatch +7: get Item=1 get Count=2"},
    {Iid(L"{9BF068D0-B736-11D3-B2CF-00500489D6A5}"),
     L"IDispatch +7: get Start=1 get Length=2 get Text=3 get Properties=4"},
    {Iid(L"{9BF068D0-B736-11D3-B2CF-00500489D6A6}"),
     L"IDispatch +7: get Read=1 get Count=3 get KeyFromIndex=4 get ValueFromIndex=5"},
    {kIidSmartTagAction2,
     L"IDispatch +7: get VerbCaptionFromID2=12 InvokeVerb2=13 get IsCaptionDynamic=14 "
     L"get ShowSmartTagIndicator=15 SmartTagInitialize=16"}};

// By name through the interface's own IDispatch (a dual interface's pointer is one), as a
// script bound to it calls.
ComPtr<IDispatch> DispatchOf(IUnknown* object, REFIID iid) {
  ComPtr<IDispatch> dispatch;
  EXPECT_HRESULT_SUCCEEDED(object->QueryInterface(iid, &dispatch));
  return dispatch;
}

// The one type's name and its verbs as Office asked for them: "type: id name caption; ...".
std::wstring Verbs(const qp::host::ActionInfo& info) {
  EXPECT_HRESULT_SUCCEEDED(info.failure);
  if (info.types.size() != 1) return L"types: " + std::to_wstring(info.types.size());
  std::wstring out = info.types[0].name + L":";
  for (const qp::host::VerbInfo& v : info.types[0].verbs)
    out += L" " + std::to_wstring(v.id) + L" " + v.name + L" " + v.caption + L";";
  return out;
}
const std::wstring kBothVerbs = std::wstring(kTypeName) + L": 1 Insert " + kInsertCaption +
                                L"; 2 ViewConfig " + kTermsCaption + L";";

// The default configuration with the verbs' Enabled texts and the action provider's name.
std::string Configuration(const char* insertEnabled, const char* providerName) {
  return std::string("<SmartTagConfig><Caption>Norvane Quillpoint</Caption><Name>") +
         Narrow(kTypeName) + "</Name><ActionProvider><Name>" + providerName +
         "</Name><Description>Inserts</Description><Actions>"
         "<Action Name=\"Insert\" ClassCode=\"I\" Enabled=\"" +
         insertEnabled +
         "\" InsertPosition=\"RT\">Replace Smart Tag with Quillpoint</Action>"
         "<Action Name=\"ViewConfig\" ClassCode=\"V\" Enabled=\"Yes\">Maintain Recognizer Terms"
         "</Action></Actions></ActionProvider></SmartTagConfig>";
}

class Action : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProductState();
    ASSERT_HRESULT_SUCCEEDED(qp::host::CreateAction(kActionProgId, &action_));
    SetQuillpoints({L"Client Name", L"Matter Number", L"Matter Number", L"Closing Date"});
  }

  static bool Called(const std::vector<std::wstring>& calls, const std::wstring& member) {
    return std::any_of(calls.begin(), calls.end(),
                       [&](const std::wstring& c) { return c.find(member) != std::wstring::npos; });
  }

  // Word with a template active and the Norvane add-in connected behind another add-in.
  static std::unique_ptr<WordStandIn> NorvaneWord() {
    auto word = std::make_unique<WordStandIn>();
    word->SetDocumentType(kWordTemplate);
    word->AddComAddIn(L"Other.Connect", nullptr);
    EXPECT_HRESULT_SUCCEEDED(word->AddNorvaneAddIn());
    return word;
  }

  // A new action as Office holds it: asked for its verbs when loaded, before any tag's menu.
  static ComPtr<ISmartTagAction> AskedAction() {
    ComPtr<ISmartTagAction> action;
    EXPECT_HRESULT_SUCCEEDED(qp::host::CreateAction(kActionProgId, &action));
    WindowWatcher watcher(WindowWatcher::Always(L"OK"));
    if (action) {
      EXPECT_EQ(Verbs(qp::host::DescribeAction(action.Get(), kWordProgId)), kBothVerbs);
    }
    EXPECT_TRUE(watcher.Seen().empty());
    return action;
  }

  struct Outcome {
    HRESULT hr = E_FAIL;
    std::vector<SeenWindow> windows;
  };
  static Outcome Run(ISmartTagAction* action, int verb, IDispatch* range, const std::wstring& text,
                     Answer answer) {
    WindowWatcher watcher(std::move(answer));
    Outcome o;
    o.hr = qp::host::InvokeVerbOnTag(action, verb, kWordProgId, range, text);
    o.windows = watcher.Seen();
    return o;
  }
  // One error box with the message; OK pressed.
  static void ExpectOneError(const Outcome& o, const std::wstring& message) {
    EXPECT_HRESULT_SUCCEEDED(o.hr);
    ASSERT_EQ(o.windows.size(), 1u);
    ExpectBox(o.windows[0], message);
  }

  ComApartment com_;
  ComPtr<ISmartTagAction> action_;
};

// Office XP never asks for the version-2 interfaces: what it binds to is as before, and its
// version-1 site, which has no CommitSmartTag2, gets the tags as before.
TEST_F(Action, DescribesItselfToOfficeByItsIdentifiersAndVtableOrder) {
  for (const auto& [iid, members] : kVersion1)
    EXPECT_EQ(qp::host::DescribeInterface(iid), members);
  // Every box is answered, so that an unexpected one fails the test instead of hanging it.
  WindowWatcher watcher(WindowWatcher::Always(L"OK"));
  ComPtr<ISmartTagRecognizer> recognizer;
  ASSERT_HRESULT_SUCCEEDED(qp::host::CreateRecognizer(kRecognizerProgId, &recognizer));
  qp::host::RecognizerInfo info;
  EXPECT_HRESULT_SUCCEEDED(qp::host::Describe(recognizer.Get(), info));
  Tags tags;
  EXPECT_HRESULT_SUCCEEDED(qp::host::RecognizeParagraph(recognizer.Get(), kParagraph, tags));
  EXPECT_EQ(tags, (Tags{{kTypeName, 5, 5}, {kTypeName, 18, 11}, {kTypeName, 31, 2}}));
  ASSERT_TRUE(watcher.Seen().empty());

  const qp::host::ActionInfo described = qp::host::DescribeAction(action_.Get(), kWordProgId);
  EXPECT_EQ(described.progId, L"Norvane Quillpoint Smart Tag.Action");
  EXPECT_EQ(described.name, L"Quillpoint");
  EXPECT_EQ(described.desc, L"This Action Provider provides Actions to insert Norvane Fields");
  // Any letter case of Word's ProgID gets the captions; Excel gets the same verbs, uncaptioned.
  EXPECT_EQ(Verbs(described), kBothVerbs);
  EXPECT_EQ(Verbs(qp::host::DescribeAction(action_.Get(), L"word.application.11")), kBothVerbs);
  EXPECT_EQ(Verbs(qp::host::DescribeAction(action_.Get(), L"Excel.Application")),
            std::wstring(kTypeName) + L": 1 Insert ; 2 ViewConfig ;");

  // The fixture's action was created by ProgID and asked for Office's action interface.
  ComPtr<IUnknown> notRecognizer;
  EXPECT_EQ(action_->QueryInterface(kIidSmartTagRecognizer, &notRecognizer), E_NOINTERFACE);

  IUnknown* p = action_.Get();
  // Slots 0-2 IUnknown, 3-6 IDispatch, then the members in Office's order (the type library
  // below): slot 17 runs a verb. An unknown one on a tag in a Norvane template is reported; so
  // it is when a script runs it by name on the default interface.
  // Office reads the type's caption as it loads the action, and the verb count before a menu:
  // one caption for every type index, one count for every type name, and VerbID is the index.
  Bstr caption, type(L"urn:other#thing"), word(kWordProgId), text(L"Client Name"), xml(L"<xml/>");
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 12, INT{5}, INT{1031}, caption.Out()));
  EXPECT_EQ(caption.Str(), L"Norvane Quillpoint");
  INT n = 0, id = 0;
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 13, type.Get(), &n));
  EXPECT_EQ(n, 2);
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 14, type.Get(), INT{9}, &id));
  EXPECT_EQ(id, 9);
  auto wordApp = NorvaneWord();
  ComPtr<IDispatch> range = wordApp->NewRange(L"Client Name");
  ComPtr<ISmartTagProperties> bag;
  bag.Attach(qp::host::PropertyBag::New());
  ASSERT_TRUE(watcher.Seen().empty()) << "a question failed";
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 17, INT{3}, word.Get(), static_cast<IDispatch*>(range.Get()),
                                bag.Get(), text.Get(), xml.Get()));
  ComPtr<IDispatch> dispatch;
  ASSERT_HRESULT_SUCCEEDED(action_.As(&dispatch));
  ComPtr<IUnknown> byName;
  EXPECT_HRESULT_SUCCEEDED(dispatch->QueryInterface(IID__Action, &byName));
  // Described by the registered library, as every class of the server is.
  UINT infos = 0;
  EXPECT_HRESULT_SUCCEEDED(dispatch->GetTypeInfoCount(&infos));
  EXPECT_EQ(infos, 1u);
  // Verb, application, target, properties, text, XML.
  ByName(dispatch.Get(), L"ISmartTagAction_InvokeVerb",
         {Variant::FromLong(7), Variant::FromString(kWordProgId), Variant::FromObject(range.Get()),
          Variant::FromObject(nullptr), Variant::FromString(L"Client Name"),
          Variant::FromString(L"")});
  ASSERT_EQ(watcher.Seen().size(), 2u);
  EXPECT_EQ(watcher.Seen()[0].text, Message(104, L"3"));
  ExpectBox(watcher.Seen()[1], Message(104, L"7"));
}

TEST_F(Action, ADisabledFirstActionShiftsTheVerbs) {
  WriteConfig(Configuration("No", "Quillpoint"));
  WindowWatcher watcher(WindowWatcher::Question(L"Cancel"));
  EXPECT_EQ(Verbs(qp::host::DescribeAction(action_.Get(), kWordProgId)),
            std::wstring(kTypeName) + L": 1 ViewConfig " + kTermsCaption + L";");
  EXPECT_TRUE(watcher.Seen().empty());
  // What a verb does follows its number: the menu's only verb, 1, inserts.
  auto app = NorvaneWord();
  ComPtr<IDispatch> range = app->NewRange(L"Client Name");
  EXPECT_HRESULT_SUCCEEDED(
      qp::host::InvokeVerbOnTag(action_.Get(), 1, kWordProgId, range.Get(), L"Client Name"));
  ASSERT_EQ(watcher.Seen().size(), 1u);
  EXPECT_EQ(watcher.Seen()[0].text, Message(108, L"Client Name"));
  EXPECT_TRUE(Called(AddInCalls(), L"GetQuillpointsByName"));
}

// A question that fails is answered empty after one box.
TEST_F(Action, FailingQuestionsShowOneBoxEach) {
  // Each Action has its own Controller: the verb list another Action built does not count.
  ComPtr<ISmartTagAction> asked = AskedAction();
  ASSERT_TRUE(asked);
  WindowWatcher watcher(WindowWatcher::Always(L"OK"));
  EXPECT_EQ(TextOf([&](BSTR* b) { return action_->get_VerbNameFromID(1, b); }), L"");
  ASSERT_EQ(watcher.Seen().size(), 1u);
  EXPECT_EQ(watcher.Seen()[0].title, kBoxTitle);
  EXPECT_EQ(watcher.Seen()[0].buttons, std::vector<std::wstring>{L"OK"});
  // The Action that asked has its list.
  EXPECT_EQ(TextOf([&](BSTR* b) { return asked->get_VerbNameFromID(1, b); }), L"Insert");

  // An action provider without a name.
  WriteConfig(Configuration("Yes", ""));
  ComPtr<ISmartTagAction> unnamed;
  ASSERT_HRESULT_SUCCEEDED(qp::host::CreateAction(kActionProgId, &unnamed));
  EXPECT_EQ(TextOf([&](BSTR* b) { return unnamed->get_Name(1033, b); }), L"");
  ASSERT_EQ(watcher.Seen().size(), 2u);
  ExpectBox(watcher.Seen()[1], Message(107, L""));
}

// One match is offered in a question (Yes inserts it, No opens the chooser); none or several
// open the chooser at once.
TEST_F(Action, InsertsOneMatchOnAskingAndOpensTheChooserOtherwise) {
  struct Case {
    const wchar_t *text, *answer;
    bool asks, inserts, opensChooser;
  };
  for (const Case& c : {Case{L"client name", L"Yes", true, true, false},
                        Case{L"client name", L"No", true, false, true},
                        Case{L"client name", L"Cancel", true, false, false},
                        Case{L"Matter Number", L"Cancel", false, false, true},
                        Case{L"Unknown Words", L"Cancel", false, false, true}}) {
    SCOPED_TRACE(Narrow(c.text + std::wstring(L" ") + c.answer));
    ComPtr<ISmartTagAction> action = AskedAction();
    ASSERT_TRUE(action);
    SetQuillpoints({L"Client Name", L"Matter Number", L"Matter Number"});
    auto word = NorvaneWord();
    ComPtr<IDispatch> range = word->NewRange(c.text);
    Outcome o = Run(action.Get(), 1, range.Get(), c.text, WindowWatcher::Question(c.answer));
    EXPECT_HRESULT_SUCCEEDED(o.hr);
    // The question names the Quillpoint as the add-in spells it, not as the tag does.
    ASSERT_EQ(o.windows.size(), c.asks ? 1u : 0u);
    if (c.asks) ExpectBox(o.windows[0], Message(108, L"Client Name"), {L"Yes", L"No", L"Cancel"});
    EXPECT_EQ(word->Selection(), c.text);
    const std::vector<std::wstring> calls = AddInCalls();
    EXPECT_TRUE(Called(calls, L"GetQuillpointsByName"));
    EXPECT_EQ(Called(calls, L"InsertQuillpoint(Client Name)"), c.inserts);
    EXPECT_EQ(Called(calls, L"doShowQuillpoints"), c.opensChooser);
    // The range was selected before its text was read.
    const std::vector<std::wstring> wordCalls = word->Calls();
    auto select = std::find(wordCalls.begin(), wordCalls.end(), L"Range.Select");
    ASSERT_NE(select, wordCalls.end());
    EXPECT_NE(std::find(select, wordCalls.end(), L"Range.Text"), wordCalls.end());
  }
}

// Each failure is one box, the verb returns, and neither the add-in nor the selection is touched.
TEST_F(Action, FailuresAreShownAndTheVerbReturns) {
  const Answer cancel = WindowWatcher::Question(L"Cancel");
  struct Case {
    const char* what;
    long documentType;
    const wchar_t* addIn;  // another add-in in place of the Norvane one
    std::vector<int> verbs;
    UINT message;  // 104 names the verb
  };
  for (const Case& c :
       {Case{"unknown verbs", kWordTemplate, nullptr, {3, 0}, 104},
        Case{"not a template", qp::host::kWordDocument, nullptr, {1, 2, 3}, 105},
        // Only an exact ProgID counts.
        Case{"no Norvane add-in", kWordTemplate, L"nvwordaddin.connect", {1, 3}, 102}}) {
    SCOPED_TRACE(c.what);
    ComPtr<ISmartTagAction> action = AskedAction();
    ASSERT_TRUE(action);
    WordStandIn word;
    word.SetDocumentType(c.documentType);
    if (c.addIn)
      word.AddComAddIn(c.addIn, nullptr);
    else
      ASSERT_HRESULT_SUCCEEDED(word.AddNorvaneAddIn());
    ComPtr<IDispatch> range = word.NewRange(L"Client Name");
    for (int verb : c.verbs)
      ExpectOneError(Run(action.Get(), verb, range.Get(), L"Client Name", cancel),
                     Message(c.message, c.message == 104 ? std::to_wstring(verb) : L""));
    EXPECT_TRUE(AddInCalls().empty());
    EXPECT_EQ(word.Selection(), L"");
    if (!c.addIn) continue;
    // Word's add-ins were looked at once; a later connection of the add-in is not seen.
    ASSERT_HRESULT_SUCCEEDED(word.AddNorvaneAddIn());
    word.ClearCalls();
    ExpectOneError(
        Run(action.Get(), 1, range.Get(), L"Client Name", WindowWatcher::Question(L"Yes")),
        Message(102, L""));
    EXPECT_FALSE(Called(word.Calls(), L"COMAddIns"));
    EXPECT_TRUE(AddInCalls().empty());
  }
}

// In test mode there is no catalog to ask after the lookup; the verb still inserts.
TEST_F(Action, InsertsInTestModeWithoutACatalog) {
  std::thread([this] {
    ComApartment com;
    ComPtr<_Controller> controller;
    ASSERT_HRESULT_SUCCEEDED(CreateByProgId(kControllerProgId, controller.GetAddressOf()));
    ASSERT_HRESULT_SUCCEEDED(controller->SetTestModeOn());
    ComPtr<ISmartTagAction> action = AskedAction();
    ASSERT_TRUE(action);
    auto word = NorvaneWord();
    ComPtr<IDispatch> range = word->NewRange(L"Closing Date");
    Outcome o = Run(action.Get(), 1, range.Get(), L"Closing Date", WindowWatcher::Question(L"Yes"));
    ASSERT_EQ(o.windows.size(), 1u);
    EXPECT_EQ(o.windows[0].text, Message(108, L"Closing Date"));
    EXPECT_TRUE(Called(AddInCalls(), L"InsertQuillpoint"));
  }).join();
}

// ---- Word 2003 and later: the version-2 interfaces

constexpr wchar_t kWord2003[] = L"Word.Application.11";

// The terms dialog is dismissed with Cancel, a message box with OK.
Answer CancelTheDialog() {
  return [](const SeenWindow& w) { return w.title == Message(110, L"") ? L"Cancel" : L"OK"; };
}

// Word 2003 asks for the version-2 interfaces first and calls their members through the vtable
// of the pointer QueryInterface gave it; a script calls them by name.
TEST_F(Action, Word2003CallsEveryVersionTwoMemberByItsSlotAndByName) {
  for (const auto& [iid, members] : kVersion2)
    EXPECT_EQ(qp::host::DescribeInterface(iid), members);
  WindowWatcher watcher(CancelTheDialog());
  ComPtr<ISmartTagRecognizer2> r2;
  ASSERT_HRESULT_SUCCEEDED(qp::host::CreateRecognizer2(kRecognizerProgId, kWord2003, &r2));
  ComPtr<IDispatch> byName = DispatchOf(r2.Get(), kIidSmartTagRecognizer2);
  Bstr app(kWord2003), text(kParagraph), xml(L"<xml/>");
  EXPECT_HRESULT_SUCCEEDED(Slot(r2.Get(), 10, app.Get()));  // SmartTagInitialize
  // Recognize2 commits what Recognize commits, on the version-2 site through CommitSmartTag.
  ComPtr<ISmartTagRecognizer> r1;
  ASSERT_HRESULT_SUCCEEDED(r2.As(&r1));
  qp::host::RecognizerInfo info;
  EXPECT_HRESULT_SUCCEEDED(qp::host::Describe(r1.Get(), info));
  Tags once;
  EXPECT_HRESULT_SUCCEEDED(qp::host::RecognizeParagraph(r1.Get(), kParagraph, once));
  EXPECT_EQ(once.size(), 3u);
  Tags twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  ComPtr<qp::host::RecognizerSite> site;
  site.Attach(qp::host::RecognizerSite::New(true));
  ComPtr<ISmartTagTokenList> tokens;
  tokens.Attach(qp::host::NewTokenList(kParagraph));
  EXPECT_HRESULT_SUCCEEDED(Slot(r2.Get(), 7, text.Get(), IF_TYPE_PARA, INT{1033},
                                static_cast<ISmartTagRecognizerSite2*>(site.Get()), app.Get(),
                                tokens.Get()));
  ByName(byName.Get(), L"Recognize2",
         {Variant::FromString(kParagraph), Variant::FromLong(IF_TYPE_PARA), Variant::FromLong(1033),
          Variant::FromObject(site.Get()), Variant::FromString(kWord2003),
          Variant::FromObject(tokens.Get())});
  EXPECT_EQ(site->tags, twice);
  // A page for the one type, in every language, and for no other.
  for (const auto& [type, lcid, page] :
       {std::tuple{1, 1031, VARIANT_TRUE}, {2, 1033, VARIANT_FALSE}, {0, 1033, VARIANT_FALSE}}) {
    VARIANT_BOOL answer = 7;
    EXPECT_HRESULT_SUCCEEDED(Slot(r2.Get(), 8, INT{type}, INT{lcid}, &answer));
    EXPECT_EQ(answer, page) << type;
    EXPECT_EQ(
        ByName(byName.Get(), L"PropertyPage", {Variant::FromLong(type), Variant::FromLong(lcid)})
            .AsBool(),
        page == VARIANT_TRUE);
  }
  ByName(byName.Get(), L"SmartTagInitialize", {Variant::FromString(L"Excel.Application.11")});
  ASSERT_TRUE(watcher.Seen().empty());
  // The page is the terms dialog, both ways.
  EXPECT_HRESULT_SUCCEEDED(Slot(r2.Get(), 9, INT{1}, INT{1033}));
  ByName(byName.Get(), L"DisplayPropertyPage", {Variant::FromLong(1), Variant::FromLong(1033)});
  ASSERT_EQ(watcher.Seen().size(), 2u);

  // The action, asked for its version-2 interface once Word has its verbs.
  ComPtr<IDispatch> a2 = byName = DispatchOf(AskedAction().Get(), kIidSmartTagAction2);
  ASSERT_TRUE(a2);
  EXPECT_HRESULT_SUCCEEDED(Slot(a2.Get(), 11, app.Get()));  // SmartTagInitialize
  auto word = NorvaneWord();
  ComPtr<IDispatch> range = word->NewRange(L"Client Name");
  ComPtr<ISmartTagProperties> bag;
  bag.Attach(qp::host::PropertyBag::New());
  // The captions of VerbCaptionFromID: offered to Word only; fixed; the indicator shown.
  for (const auto& [host, caption] :
       {std::pair{kWord2003, kInsertCaption}, {L"Excel.Application.11", L""}}) {
    Bstr hostName(host), got;
    EXPECT_HRESULT_SUCCEEDED(Slot(a2.Get(), 7, INT{1}, hostName.Get(), INT{1033}, bag.Get(),
                                  text.Get(), xml.Get(), static_cast<IDispatch*>(range.Get()),
                                  got.Out()));
    EXPECT_EQ(got.Str(), caption);
    EXPECT_EQ(ByName(byName.Get(), L"VerbCaptionFromID2",
                     {Variant::FromLong(2), Variant::FromString(host), Variant::FromLong(1033),
                      Variant::FromObject(nullptr), Variant::FromString(kParagraph),
                      Variant::FromString(L""), Variant::FromObject(range.Get())})
                  .AsString(),
              *caption ? kTermsCaption : L"");
  }
  for (const auto& [slot, member, yes] :
       {std::tuple{9, L"IsCaptionDynamic", false}, {10, L"ShowSmartTagIndicator", true}}) {
    VARIANT_BOOL answer = 7;
    EXPECT_HRESULT_SUCCEEDED(Slot(a2.Get(), slot, INT{1}, app.Get(), INT{1033}, &answer));
    EXPECT_EQ(answer, yes ? VARIANT_TRUE : VARIANT_FALSE) << Narrow(member);
    EXPECT_EQ(
        ByName(byName.Get(), member,
               {Variant::FromLong(2), Variant::FromString(kWord2003), Variant::FromLong(1033)})
            .AsBool(),
        yes);
  }
  // InvokeVerb2 runs the verb as InvokeVerb does: an unknown one is reported.
  EXPECT_HRESULT_SUCCEEDED(Slot(a2.Get(), 8, INT{3}, app.Get(),
                                static_cast<IDispatch*>(range.Get()), bag.Get(), text.Get(),
                                xml.Get(), INT{1033}));
  ByName(byName.Get(), L"InvokeVerb2",
         {Variant::FromLong(7), Variant::FromString(kWord2003), Variant::FromObject(range.Get()),
          Variant::FromObject(nullptr), Variant::FromString(kParagraph), Variant::FromString(L""),
          Variant::FromLong(1033)});
  const std::vector<SeenWindow> seen = watcher.Seen();
  ASSERT_EQ(seen.size(), 4u);
  for (int i : {0, 1})
    EXPECT_EQ(seen[i].title, Message(110, L"")) << "the terms dialog";
  ExpectBox(seen[2], Message(104, L"3"));
  ExpectBox(seen[3], Message(104, L"7"));
}

// Word 2003's Properties button in its smart tag options: verb 2's dialog, modal on the thread
// that pressed it, whichever apartment made the recognizer, in any host and with no document
// open; what fails is shown as verb 2 shows it, never passed back.
TEST_F(Action, PropertiesOpenVerbTwosDialogOnThePressingThreadAndFailAsVerbTwoDoes) {
  ComPtr<ISmartTagRecognizer2> recognizer;
  ASSERT_HRESULT_SUCCEEDED(
      qp::host::CreateRecognizer2(kRecognizerProgId, L"PowerPnt.Application.11", &recognizer));
  std::vector<DWORD> dialogThreads;
  WindowWatcher watcher([&](const SeenWindow& w) {
    dialogThreads.push_back(GetWindowThreadProcessId(w.hwnd, nullptr));
    return CancelTheDialog()(w);
  });
  auto press = [&] {
    DWORD pressing = 0;
    std::thread([&] {
      ComApartment com;
      pressing = GetCurrentThreadId();
      EXPECT_TRUE(qp::host::PressProperties(recognizer.Get()));
    }).join();
    return pressing;
  };
  const DWORD pressing = press();
  ASSERT_EQ(watcher.Seen().size(), 1u);
  EXPECT_EQ(watcher.Seen()[0].title, Message(110, L""));
  EXPECT_EQ(dialogThreads, std::vector<DWORD>{pressing});

  // A file where the configuration's folder belongs: no store, and the same box as verb 2's.
  RemoveConfigFolder();
  ASSERT_TRUE(WriteFileBytes(ConfigFolder(), "not a folder"));
  press();
  auto word = NorvaneWord();
  ComPtr<IDispatch> range = word->NewRange(L"Client Name");
  EXPECT_HRESULT_SUCCEEDED(
      qp::host::InvokeVerbOnTag(action_.Get(), 2, kWordProgId, range.Get(), L"Client Name"));
  const std::vector<SeenWindow> seen = watcher.Seen();
  ASSERT_EQ(seen.size(), 3u);
  ExpectBox(seen[1], seen[2].text);
  EXPECT_FALSE(seen[1].text.empty());
  RemoveConfigFolder();
}

}  // namespace

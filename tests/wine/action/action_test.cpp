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
#include "window_watcher.h"
#include "wine_test_env.h"
#include "word_standin.h"

namespace {

using qp::Bstr;
using qp::host::ComPtr;
using qp::host::kWordProgId;
using qp::host::kWordTemplate;
using qp::host::WordStandIn;
using namespace qp::test;

// The default configuration's texts.
constexpr wchar_t kTypeName[] = L"urn:norvane:quillpoint:smarttag#insertquillpoint";
constexpr wchar_t kInsertCaption[] = L"Replace Smart Tag with Quillpoint";
constexpr wchar_t kTermsCaption[] = L"Maintain Recognizer Terms";

// Office's identifiers, written out here so that a wrong one in our IDL fails.
constexpr IID kIidSmartTagAction = {
    0x3B744D8F, 0xB8A5, 0x11D3, {0xB2, 0xCF, 0x00, 0x50, 0x04, 0x89, 0xD6, 0xA3}};
constexpr IID kIidSmartTagProperties = {
    0x54F37842, 0xCDD7, 0x11D3, {0xB2, 0xD4, 0x00, 0x50, 0x04, 0x89, 0xD6, 0xA3}};
constexpr IID kIidSmartTagRecognizer = {
    0x3C6C0440, 0xA27D, 0x11D3, {0xBD, 0x33, 0xD8, 0x0C, 0x46, 0x98, 0x0A, 0x07}};

// A call through slot `slot` of the object's vtable, as a client compiled against Office's
// type library calls it.
template <class... Args>
HRESULT Slot(IUnknown* object, int slot, Args... args) {
  using Fn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, Args...);
  void** table = *reinterpret_cast<void***>(object);
  return reinterpret_cast<Fn>(table[slot])(object, args...);
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

TEST_F(Action, DescribesItselfToOfficeByItsIdentifiersAndVtableOrder) {
  // Every box is answered, so that an unexpected one fails the test instead of hanging it.
  WindowWatcher watcher(WindowWatcher::Always(L"OK"));
  const qp::host::ActionInfo described = qp::host::DescribeAction(action_.Get(), kWordProgId);
  EXPECT_EQ(described.progId, L"Norvane Quillpoint Smart Tag.Action");
  EXPECT_EQ(described.name, L"Quillpoint");
  EXPECT_EQ(described.desc, L"This Action Provider provides Actions to insert Norvane Fields");
  // Any letter case of Word's ProgID gets the captions; Excel gets the same verbs, uncaptioned.
  EXPECT_EQ(Verbs(described), kBothVerbs);
  EXPECT_EQ(Verbs(qp::host::DescribeAction(action_.Get(), L"word.application.11")), kBothVerbs);
  EXPECT_EQ(Verbs(qp::host::DescribeAction(action_.Get(), L"Excel.Application")),
            std::wstring(kTypeName) + L": 1 Insert ; 2 ViewConfig ;");

  EXPECT_EQ(IID_ISmartTagAction, kIidSmartTagAction);
  EXPECT_EQ(IID_ISmartTagProperties, kIidSmartTagProperties);
  // The fixture's action was created by ProgID and asked for Office's action interface.
  ComPtr<IUnknown> recognizer;
  EXPECT_EQ(action_->QueryInterface(kIidSmartTagRecognizer, &recognizer), E_NOINTERFACE);

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

  // The registered description of the interface: names, dispatch ids and vtable offsets.
  ComPtr<ITypeLib> lib;
  ASSERT_HRESULT_SUCCEEDED(LoadRegTypeLib(LIBID_NVSmartTagQuillpoint, 1, 1, 0, &lib));
  ComPtr<ITypeInfo> info;
  ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfoOfGuid(kIidSmartTagAction, &info));
  // A dual interface is described twice; the vtable half is the one Office binds to.
  HREFTYPE vtableHalf = 0;
  ASSERT_HRESULT_SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableHalf));
  ComPtr<ITypeInfo> vtable;
  ASSERT_HRESULT_SUCCEEDED(info->GetRefTypeInfo(vtableHalf, &vtable));
  info = vtable;
  const wchar_t* members[] = {L"ProgId",         L"Name",         L"Desc",
                              L"SmartTagCount",  L"SmartTagName", L"SmartTagCaption",
                              L"VerbCount",      L"VerbID",       L"VerbCaptionFromID",
                              L"VerbNameFromID", L"InvokeVerb"};
  for (int i = 0; i < 11; ++i) {
    FUNCDESC* f = nullptr;
    ASSERT_HRESULT_SUCCEEDED(info->GetFuncDesc(static_cast<UINT>(i), &f));
    BSTR member = nullptr;
    UINT got = 0;
    info->GetNames(f->memid, &member, 1, &got);
    EXPECT_EQ(Take(member), members[i]);
    EXPECT_EQ(f->memid, i + 1) << members[i];
    EXPECT_EQ(f->oVft, static_cast<SHORT>((7 + i) * sizeof(void*))) << members[i];
    EXPECT_EQ(f->invkind, i == 10 ? INVOKE_FUNC : INVOKE_PROPERTYGET) << members[i];
    info->ReleaseFuncDesc(f);
  }
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
  BSTR b = nullptr;
  EXPECT_HRESULT_SUCCEEDED(action_->get_VerbNameFromID(1, &b));
  EXPECT_EQ(Take(b), L"");
  ASSERT_EQ(watcher.Seen().size(), 1u);
  EXPECT_EQ(watcher.Seen()[0].title, kBoxTitle);
  EXPECT_EQ(watcher.Seen()[0].buttons, std::vector<std::wstring>{L"OK"});
  // The Action that asked has its list.
  ASSERT_HRESULT_SUCCEEDED(asked->get_VerbNameFromID(1, &(b = nullptr)));
  EXPECT_EQ(Take(b), L"Insert");

  // An action provider without a name.
  WriteConfig(Configuration("Yes", ""));
  ComPtr<ISmartTagAction> unnamed;
  ASSERT_HRESULT_SUCCEEDED(qp::host::CreateAction(kActionProgId, &unnamed));
  EXPECT_HRESULT_SUCCEEDED(unnamed->get_Name(1033, &(b = nullptr)));
  EXPECT_EQ(Take(b), L"");
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

}  // namespace

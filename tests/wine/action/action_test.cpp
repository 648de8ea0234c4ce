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
#include "nvstagQP.h"
#include "window_watcher.h"
#include "wine_test_env.h"
#include "word_standin.h"

namespace {

using qp::host::ComPtr;
using qp::host::kWordProgId;
using qp::host::kWordTemplate;
using qp::host::WordStandIn;
using qp::test::AddInCalls;
using qp::test::kBoxTitle;
using qp::test::Message;
using qp::test::SeenWindow;
using qp::test::WindowWatcher;

using qp::test::kActionProgId;
using qp::test::kControllerProgId;
constexpr wchar_t kExcelProgId[] = L"Excel.Application";

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

using qp::test::Take;

// A call through slot `slot` of the object's vtable, as a client compiled against Office's
// type library calls it.
template <class... Args>
HRESULT Slot(IUnknown* object, int slot, Args... args) {
  using Fn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, Args...);
  void** table = *reinterpret_cast<void***>(object);
  return reinterpret_cast<Fn>(table[slot])(object, args...);
}

// The default configuration with the verbs' Enabled texts and the action provider's name.
std::string Configuration(const char* insertEnabled, const char* providerName) {
  return std::string("<SmartTagConfig><Caption>Norvane Quillpoint</Caption><Name>") +
         qp::test::Narrow(kTypeName) + "</Name><ActionProvider><Name>" + providerName +
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
    qp::test::ResetProductState();
    ASSERT_HRESULT_SUCCEEDED(qp::host::CreateAction(kActionProgId, &action_));
    qp::test::SetQuillpoints({L"Client Name", L"Matter Number", L"Matter Number", L"Closing Date"});
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

  // Office reads the type's caption when it loads the action, and asks for the verb list
  // before it shows a tag's menu.
  static void AskForVerbs(ISmartTagAction* action, int verbs = 2) {
    WindowWatcher watcher(WindowWatcher::Always(L"OK"));
    BSTR caption = nullptr;
    ASSERT_HRESULT_SUCCEEDED(action->get_SmartTagCaption(1, 1033, &caption));
    SysFreeString(caption);
    INT count = 0;
    BSTR name = SysAllocString(L"any");
    ASSERT_HRESULT_SUCCEEDED(action->get_VerbCount(name, &count));
    SysFreeString(name);
    ASSERT_EQ(count, verbs);
    ASSERT_TRUE(watcher.Seen().empty());
  }
  void AskForVerbs() { AskForVerbs(action_.Get()); }

  struct Outcome {
    HRESULT hr = E_FAIL;
    std::vector<SeenWindow> windows;
  };
  static Outcome Run(ISmartTagAction* action, int verb, IDispatch* range, const std::wstring& text,
                     qp::test::Answer answer) {
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
    qp::test::ExpectBox(o.windows[0], message);
  }

  qp::test::ComApartment com_;
  ComPtr<ISmartTagAction> action_;
};

TEST_F(Action, AnswersOfficeIdentifiersAndVtableOrder) {
  // Every box is answered, so that an unexpected one fails the test instead of hanging it.
  WindowWatcher watcher(WindowWatcher::Always(L"OK"));
  EXPECT_EQ(IID_ISmartTagAction, kIidSmartTagAction);
  EXPECT_EQ(IID_ISmartTagProperties, kIidSmartTagProperties);
  ComPtr<IUnknown> unknown;
  ASSERT_HRESULT_SUCCEEDED(qp::test::CreateByProgId(kActionProgId, unknown.GetAddressOf()));
  ComPtr<IUnknown> action, recognizer;
  ASSERT_HRESULT_SUCCEEDED(unknown->QueryInterface(kIidSmartTagAction, &action));
  EXPECT_EQ(unknown->QueryInterface(kIidSmartTagRecognizer, &recognizer), E_NOINTERFACE);

  IUnknown* p = action.Get();
  BSTR b = nullptr;
  INT n = 0;
  // Slots 0-2 IUnknown, 3-6 IDispatch, then the members in Office's order.
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 7, &b));
  EXPECT_EQ(Take(b), L"Norvane Quillpoint Smart Tag.Action");
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 8, INT{1033}, &(b = nullptr)));
  EXPECT_EQ(Take(b), L"Quillpoint");
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 9, INT{1033}, &(b = nullptr)));
  EXPECT_EQ(Take(b), L"This Action Provider provides Actions to insert Norvane Fields");
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 10, &n));
  EXPECT_EQ(n, 1);
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 11, INT{1}, &(b = nullptr)));
  EXPECT_EQ(Take(b), kTypeName);
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 12, INT{1}, INT{1033}, &(b = nullptr)));
  EXPECT_EQ(Take(b), L"Norvane Quillpoint");
  BSTR type = SysAllocString(kTypeName);
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 13, type, &(n = 0)));
  EXPECT_EQ(n, 2);
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 14, type, INT{2}, &(n = 0)));
  EXPECT_EQ(n, 2);
  BSTR word = SysAllocString(kWordProgId);
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 15, INT{1}, word, INT{1033}, &(b = nullptr)));
  EXPECT_EQ(Take(b), kInsertCaption);
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 16, INT{2}, &(b = nullptr)));
  EXPECT_EQ(Take(b), L"ViewConfig");

  // Slot 17 runs a verb: an unknown one on a tag in a Norvane template is reported.
  auto wordApp = NorvaneWord();
  ComPtr<IDispatch> range = wordApp->NewRange(L"Client Name");
  qp::host::PropertyBag* bag = qp::host::PropertyBag::New();
  BSTR text = SysAllocString(L"Client Name"), xml = SysAllocString(L"<xml/>");
  ASSERT_TRUE(watcher.Seen().empty()) << "a question failed";
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 17, INT{3}, word, static_cast<IDispatch*>(range.Get()),
                                static_cast<ISmartTagProperties*>(bag), text, xml));
  ASSERT_EQ(watcher.Seen().size(), 1u);
  EXPECT_EQ(watcher.Seen()[0].text, Message(104, L"3"));
  bag->Release();
  SysFreeString(text);
  SysFreeString(xml);
  SysFreeString(word);
  SysFreeString(type);

  // The registered description of the interface: names, dispatch ids and vtable offsets.
  ComPtr<IDispatch> dispatch;
  ASSERT_HRESULT_SUCCEEDED(action.As(&dispatch));
  ITypeLib* lib = nullptr;
  ASSERT_HRESULT_SUCCEEDED(LoadRegTypeLib(LIBID_NVSmartTagQuillpoint, 1, 1, 0, &lib));
  ComPtr<ITypeInfo> info;
  ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfoOfGuid(kIidSmartTagAction, &info));
  lib->Release();
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

TEST_F(Action, DefaultInterfaceRunsAVerbByName) {
  ComPtr<IDispatch> dispatch;
  ASSERT_HRESULT_SUCCEEDED(action_.As(&dispatch));
  ComPtr<IUnknown> byName;
  EXPECT_HRESULT_SUCCEEDED(dispatch->QueryInterface(IID__Action, &byName));
  DISPID id = 0;
  LPOLESTR name = const_cast<LPOLESTR>(L"ISmartTagAction_InvokeVerb");
  ASSERT_HRESULT_SUCCEEDED(dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));

  auto word = NorvaneWord();
  ComPtr<IDispatch> range = word->NewRange(L"Client Name");
  AskForVerbs();
  // Arguments last to first: verb, application, target, properties, text, XML.
  VARIANT args[6];
  for (VARIANT& a : args)
    VariantInit(&a);
  args[5].vt = VT_I4;
  args[5].lVal = 7;
  args[4].vt = VT_BSTR;
  args[4].bstrVal = SysAllocString(kWordProgId);
  args[3].vt = VT_DISPATCH;
  args[3].pdispVal = range.Get();
  args[2].vt = VT_DISPATCH;
  args[2].pdispVal = nullptr;
  args[1].vt = VT_BSTR;
  args[1].bstrVal = SysAllocString(L"Client Name");
  args[0].vt = VT_BSTR;
  args[0].bstrVal = SysAllocString(L"");
  DISPPARAMS params = {args, nullptr, 6, 0};
  HRESULT hr;
  std::vector<SeenWindow> seen;
  {
    WindowWatcher watcher(WindowWatcher::Always(L"OK"));
    hr = dispatch->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    seen = watcher.Seen();
  }
  EXPECT_HRESULT_SUCCEEDED(hr);
  ASSERT_EQ(seen.size(), 1u);
  qp::test::ExpectBox(seen[0], Message(104, L"7"));
  SysFreeString(args[4].bstrVal);
  SysFreeString(args[1].bstrVal);
  SysFreeString(args[0].bstrVal);
}

TEST_F(Action, DescribesItsVerbsAndOffersThemOnlyInWord) {
  WindowWatcher watcher(WindowWatcher::Always(L"OK"));
  qp::host::ActionInfo word = qp::host::DescribeAction(action_.Get(), kWordProgId);
  EXPECT_HRESULT_SUCCEEDED(word.failure);
  EXPECT_EQ(word.progId, L"Norvane Quillpoint Smart Tag.Action");
  EXPECT_EQ(word.name, L"Quillpoint");
  EXPECT_EQ(word.desc, L"This Action Provider provides Actions to insert Norvane Fields");
  ASSERT_EQ(word.smartTagCount, 1);
  ASSERT_EQ(word.types.size(), 1u);
  EXPECT_EQ(word.types[0].name, kTypeName);
  EXPECT_EQ(word.types[0].caption, L"Norvane Quillpoint");
  ASSERT_EQ(word.types[0].verbs.size(), 2u);
  EXPECT_EQ(word.types[0].verbs[0].id, 1);
  EXPECT_EQ(word.types[0].verbs[0].name, L"Insert");
  EXPECT_EQ(word.types[0].verbs[0].caption, kInsertCaption);
  EXPECT_EQ(word.types[0].verbs[1].id, 2);
  EXPECT_EQ(word.types[0].verbs[1].name, L"ViewConfig");
  EXPECT_EQ(word.types[0].verbs[1].caption, kTermsCaption);

  // Any letter case of Word's ProgID gets the captions; Excel gets the same verbs, uncaptioned.
  qp::host::ActionInfo later = qp::host::DescribeAction(action_.Get(), L"word.application.11");
  ASSERT_EQ(later.types.size(), 1u);
  ASSERT_EQ(later.types[0].verbs.size(), 2u);
  EXPECT_EQ(later.types[0].verbs[0].caption, kInsertCaption);
  qp::host::ActionInfo excel = qp::host::DescribeAction(action_.Get(), kExcelProgId);
  EXPECT_HRESULT_SUCCEEDED(excel.failure);
  EXPECT_EQ(excel.name, L"Quillpoint");
  ASSERT_EQ(excel.types.size(), 1u);
  EXPECT_EQ(excel.types[0].name, kTypeName);
  ASSERT_EQ(excel.types[0].verbs.size(), 2u);
  for (const auto& verb : excel.types[0].verbs)
    EXPECT_EQ(verb.caption, L"") << verb.name;
  EXPECT_EQ(excel.types[0].verbs[1].name, L"ViewConfig");

  // One caption for every type index, one verb count for every type name, VerbID is the index.
  BSTR b = nullptr;
  ASSERT_HRESULT_SUCCEEDED(action_->get_SmartTagCaption(5, 1031, &b));
  EXPECT_EQ(Take(b), L"Norvane Quillpoint");
  INT n = 0;
  BSTR other = SysAllocString(L"urn:other#thing");
  ASSERT_HRESULT_SUCCEEDED(action_->get_VerbCount(other, &n));
  EXPECT_EQ(n, 2);
  ASSERT_HRESULT_SUCCEEDED(action_->get_VerbID(other, 9, &n));
  EXPECT_EQ(n, 9);
  SysFreeString(other);
  EXPECT_TRUE(watcher.Seen().empty()) << "no question should fail";
}

TEST_F(Action, ADisabledFirstActionShiftsTheVerbs) {
  qp::test::WriteConfig(Configuration("No", "Quillpoint"));
  WindowWatcher watcher(WindowWatcher::Question(L"Cancel"));
  qp::host::ActionInfo word = qp::host::DescribeAction(action_.Get(), kWordProgId);
  ASSERT_EQ(word.types.size(), 1u);
  ASSERT_EQ(word.types[0].verbs.size(), 1u);
  EXPECT_EQ(word.types[0].verbs[0].id, 1);
  EXPECT_EQ(word.types[0].verbs[0].name, L"ViewConfig");
  EXPECT_EQ(word.types[0].verbs[0].caption, kTermsCaption);
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

TEST_F(Action, AFailingNameShowsOneBox) {
  qp::test::WriteConfig(Configuration("Yes", ""));
  WindowWatcher watcher(WindowWatcher::Always(L"OK"));
  BSTR name = nullptr;
  EXPECT_HRESULT_SUCCEEDED(action_->get_Name(1033, &name));
  EXPECT_EQ(Take(name), L"");
  const auto seen = watcher.Seen();
  ASSERT_EQ(seen.size(), 1u);
  qp::test::ExpectBox(seen[0], Message(107, L""));
}

TEST_F(Action, VerbQuestionsBeforeTheVerbCountAreReported) {
  // Each Action has its own Controller: the verb list another Action built does not count.
  ComPtr<ISmartTagAction> other;
  ASSERT_HRESULT_SUCCEEDED(qp::host::CreateAction(kActionProgId, &other));
  AskForVerbs();
  WindowWatcher watcher(WindowWatcher::Always(L"OK"));
  BSTR b = nullptr;
  EXPECT_HRESULT_SUCCEEDED(other->get_VerbNameFromID(1, &b));
  EXPECT_EQ(Take(b), L"");
  ASSERT_TRUE(watcher.WaitFor(1));
  EXPECT_EQ(watcher.Seen()[0].title, kBoxTitle);
  EXPECT_EQ(watcher.Seen()[0].buttons, std::vector<std::wstring>{L"OK"});
  // The Action that asked has its list.
  ASSERT_HRESULT_SUCCEEDED(action_->get_VerbNameFromID(1, &(b = nullptr)));
  EXPECT_EQ(Take(b), L"Insert");
  EXPECT_EQ(watcher.Seen().size(), 1u);
}

TEST_F(Action, OneMatchAsksBeforeInserting) {
  struct Case {
    const wchar_t* answer;
    bool inserts, opensChooser;
  };
  for (const Case& c :
       {Case{L"Yes", true, false}, Case{L"No", false, true}, Case{L"Cancel", false, false}}) {
    SCOPED_TRACE(c.answer);
    ComPtr<ISmartTagAction> action;
    ASSERT_HRESULT_SUCCEEDED(qp::host::CreateAction(kActionProgId, &action));
    action_ = action;
    AskForVerbs();
    qp::test::SetQuillpoints({L"Client Name", L"Matter Number", L"Matter Number"});
    auto word = NorvaneWord();
    // The tag's own spelling; the question names the Quillpoint as the add-in spells it.
    ComPtr<IDispatch> range = word->NewRange(L"client name");
    Outcome o =
        Run(action.Get(), 1, range.Get(), L"client name", WindowWatcher::Question(c.answer));
    EXPECT_HRESULT_SUCCEEDED(o.hr);
    ASSERT_EQ(o.windows.size(), 1u);
    qp::test::ExpectBox(o.windows[0], Message(108, L"Client Name"), {L"Yes", L"No", L"Cancel"});
    EXPECT_EQ(word->Selection(), L"client name");
    const std::vector<std::wstring> calls = AddInCalls();
    EXPECT_TRUE(Called(calls, L"GetQuillpointsByName"));
    EXPECT_EQ(Called(calls, L"InsertQuillpoint"), c.inserts);
    if (c.inserts) {
      EXPECT_TRUE(Called(calls, L"Client Name"));
    }
    EXPECT_EQ(Called(calls, L"doShowQuillpoints"), c.opensChooser);
    // The range was selected before its text was read.
    const std::vector<std::wstring> wordCalls = word->Calls();
    auto select = std::find(wordCalls.begin(), wordCalls.end(), L"Range.Select");
    ASSERT_NE(select, wordCalls.end());
    EXPECT_NE(std::find(select, wordCalls.end(), L"Range.Text"), wordCalls.end());
  }
}

TEST_F(Action, NoneOrSeveralMatchesOpenTheChooser) {
  AskForVerbs();
  auto word = NorvaneWord();
  for (const wchar_t* text : {L"Matter Number", L"Unknown Words"}) {
    SCOPED_TRACE(text);
    qp::test::SetQuillpoints({L"Client Name", L"Matter Number", L"Matter Number"});
    ComPtr<IDispatch> range = word->NewRange(text);
    Outcome o = Run(action_.Get(), 1, range.Get(), text, WindowWatcher::Question(L"Cancel"));
    EXPECT_HRESULT_SUCCEEDED(o.hr);
    EXPECT_TRUE(o.windows.empty()) << "asked without a single match";
    const std::vector<std::wstring> calls = AddInCalls();
    EXPECT_TRUE(Called(calls, L"GetQuillpointsByName"));
    EXPECT_TRUE(Called(calls, L"doShowQuillpoints"));
    EXPECT_FALSE(Called(calls, L"InsertQuillpoint"));
    EXPECT_EQ(word->Selection(), text);
  }
}

TEST_F(Action, FailuresAreShownAndTheVerbReturns) {
  AskForVerbs();
  const qp::test::Answer cancel = WindowWatcher::Question(L"Cancel");
  {
    SCOPED_TRACE("unknown verbs");
    auto word = NorvaneWord();
    ComPtr<IDispatch> range = word->NewRange(L"Client Name");
    for (int verb : {3, 0}) {
      ExpectOneError(Run(action_.Get(), verb, range.Get(), L"Client Name", cancel),
                     Message(104, std::to_wstring(verb)));
    }
    EXPECT_TRUE(AddInCalls().empty());
    EXPECT_EQ(word->Selection(), L"");
  }
  {
    SCOPED_TRACE("not a template");
    ComPtr<ISmartTagAction> action;
    ASSERT_HRESULT_SUCCEEDED(qp::host::CreateAction(kActionProgId, &action));
    auto word = NorvaneWord();
    word->SetDocumentType(qp::host::kWordDocument);
    ComPtr<IDispatch> range = word->NewRange(L"Client Name");
    for (int verb : {1, 2, 3}) {
      ExpectOneError(Run(action.Get(), verb, range.Get(), L"Client Name", cancel),
                     Message(105, L""));
    }
    EXPECT_TRUE(AddInCalls().empty());
    EXPECT_EQ(word->Selection(), L"");
  }
  {
    SCOPED_TRACE("no Norvane add-in");
    ComPtr<ISmartTagAction> action;
    ASSERT_HRESULT_SUCCEEDED(qp::host::CreateAction(kActionProgId, &action));
    WordStandIn word;
    word.SetDocumentType(kWordTemplate);
    // Only an exact ProgID counts.
    word.AddComAddIn(L"nvwordaddin.connect", nullptr);
    ComPtr<IDispatch> range = word.NewRange(L"Client Name");
    for (int verb : {1, 3})
      ExpectOneError(Run(action.Get(), verb, range.Get(), L"Client Name", cancel),
                     Message(102, L""));
    // Word's add-ins were looked at once; a later connection of the add-in is not seen.
    ASSERT_HRESULT_SUCCEEDED(word.AddNorvaneAddIn());
    word.ClearCalls();
    const qp::test::Answer yes = WindowWatcher::Question(L"Yes");
    ExpectOneError(Run(action.Get(), 1, range.Get(), L"Client Name", yes), Message(102, L""));
    EXPECT_FALSE(Called(word.Calls(), L"COMAddIns"));
    EXPECT_TRUE(AddInCalls().empty());
  }
}

// Waits for the terms dialog.
TEST_F(Action, MaintainTermsOpensTheTermsDialog) {
  AskForVerbs();
  auto word = NorvaneWord();
  ComPtr<IDispatch> range = word->NewRange(L"Client Name");
  // The terms dialog is a dialog of its own, not a message box: cancel it.
  Outcome o = Run(action_.Get(), 2, range.Get(), L"Client Name", [](const SeenWindow& w) {
    const bool cancel = std::find(w.buttons.begin(), w.buttons.end(), L"Cancel") != w.buttons.end();
    return std::wstring(cancel ? L"Cancel" : L"OK");
  });
  EXPECT_HRESULT_SUCCEEDED(o.hr);
  ASSERT_EQ(o.windows.size(), 1u);
  EXPECT_EQ(o.windows[0].title, Message(110, L""));
  EXPECT_NE(std::find(o.windows[0].buttons.begin(), o.windows[0].buttons.end(), L"Cancel"),
            o.windows[0].buttons.end());
  EXPECT_TRUE(AddInCalls().empty());
  EXPECT_EQ(word->Selection(), L"");
}

// In test mode there is no catalog to ask after the lookup; the verb still inserts.
TEST_F(Action, InsertsInTestModeWithoutACatalog) {
  std::thread([this] {
    qp::test::ComApartment com;
    ComPtr<_Controller> controller;
    ASSERT_HRESULT_SUCCEEDED(
        qp::test::CreateByProgId(kControllerProgId, controller.GetAddressOf()));
    ASSERT_HRESULT_SUCCEEDED(controller->SetTestModeOn());
    ComPtr<ISmartTagAction> action;
    ASSERT_HRESULT_SUCCEEDED(qp::host::CreateAction(kActionProgId, &action));
    AskForVerbs(action.Get());
    auto word = NorvaneWord();
    ComPtr<IDispatch> range = word->NewRange(L"Closing Date");
    qp::test::SetQuillpoints({L"Closing Date"});
    Outcome o = Run(action.Get(), 1, range.Get(), L"Closing Date", WindowWatcher::Question(L"Yes"));
    ASSERT_EQ(o.windows.size(), 1u);
    EXPECT_EQ(o.windows[0].text, Message(108, L"Closing Date"));
    EXPECT_TRUE(Called(AddInCalls(), L"InsertQuillpoint"));
  }).join();
}

}  // namespace

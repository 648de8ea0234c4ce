// The action handler as Office meets it: created by ProgID, asked through the Smart Tag vtable
// for its names and verbs, and told to run a verb on a tag in a Word stand-in whose COM add-in
// is the Norvane Word add-in stand-in. The message boxes are the real ones, answered by a
// watcher thread as a user would answer them.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <fstream>
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
using qp::test::SeenWindow;
using qp::test::WindowWatcher;
using qp::test::Message;

constexpr wchar_t kActionProgId[] = L"NVSmartTagQuillpoint.Action";
constexpr wchar_t kControllerProgId[] = L"NVSmartTagQuillpoint.Controller";
constexpr wchar_t kTitle[] = L"Quillpoint Smart Tag";
constexpr wchar_t kExcelProgId[] = L"Excel.Application";

// Office's identifiers, written out here so that a wrong one in our IDL fails.
constexpr IID kIidSmartTagAction = {0x3B744D8F, 0xB8A5, 0x11D3,
                                    {0xB2, 0xCF, 0x00, 0x50, 0x04, 0x89, 0xD6, 0xA3}};
constexpr IID kIidSmartTagProperties = {0x54F37842, 0xCDD7, 0x11D3,
                                        {0xB2, 0xD4, 0x00, 0x50, 0x04, 0x89, 0xD6, 0xA3}};
constexpr IID kIidSmartTagRecognizer = {0x3C6C0440, 0xA27D, 0x11D3,
                                        {0xBD, 0x33, 0xD8, 0x0C, 0x46, 0x98, 0x0A, 0x07}};

// Where the Norvane add-in stand-in finds its Quillpoints and writes down its calls.
constexpr wchar_t kStandInKey[] = L"Software\\Brantolu\\Norvane\\Stand-ins";

std::wstring Take(BSTR b) {
  std::wstring s = b ? std::wstring(b, SysStringLen(b)) : std::wstring();
  SysFreeString(b);
  return s;
}

// A property of an automation object by name (no arguments or one number).
std::wstring ByName(IDispatch* object, const wchar_t* member, const VARIANT* argument = nullptr) {
  DISPID id = 0;
  LPOLESTR name = const_cast<LPOLESTR>(member);
  EXPECT_HRESULT_SUCCEEDED(object->GetIDsOfNames(IID_NULL, &name, 1, 0, &id)) << member;
  VARIANT arg = argument ? *argument : VARIANT{};
  DISPPARAMS params = {&arg, nullptr, argument ? 1u : 0u, 0};
  VARIANT result;
  VariantInit(&result);
  EXPECT_HRESULT_SUCCEEDED(object->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &params,
                                          &result, nullptr, nullptr))
      << member;
  VariantChangeType(&result, &result, 0, VT_BSTR);
  std::wstring s = result.vt == VT_BSTR ? Take(result.bstrVal) : std::wstring();
  if (result.vt != VT_BSTR) VariantClear(&result);
  return s;
}

VARIANT Number(long n) {
  VARIANT v;
  v.vt = VT_I4;
  v.lVal = n;
  return v;
}

// A call through slot `slot` of the object's vtable, as a client compiled against Office's
// type library calls it.
template <class... Args>
HRESULT Slot(IUnknown* object, int slot, Args... args) {
  using Fn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, Args...);
  void** table = *reinterpret_cast<void***>(object);
  return reinterpret_cast<Fn>(table[slot])(object, args...);
}

// Presses `button` on the question and OK on anything else (an unexpected box must not hang
// the test; the test then sees it among the windows).
qp::test::Answer AnswerQuestion(std::wstring button) {
  return [button](const SeenWindow& w) {
    const bool question = std::find(w.buttons.begin(), w.buttons.end(), L"Yes") != w.buttons.end();
    return question ? button : std::wstring(L"OK");
  };
}

class Action : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(qp::host::CreateAction(kActionProgId, &action_));
    WriteQuillpoints({L"Client Name", L"Matter Number", L"Matter Number", L"Closing Date"});
  }
  void TearDown() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, kStandInKey);
    DeleteFileW(listPath_.c_str());
    DeleteFileW(logPath_.c_str());
  }

  // The add-in stand-in's list of Quillpoints and a fresh call log.
  void WriteQuillpoints(const std::vector<std::wstring>& names) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    listPath_ = std::wstring(folder) + L"action_test_quillpoints.txt";
    logPath_ = std::wstring(folder) + L"action_test_addin.log";
    // The names here are ASCII, which UTF-8 writes unchanged.
    std::string text;
    for (const auto& n : names) text += std::string(n.begin(), n.end()) + "\r\n";
    std::ofstream(listPath_.c_str(), std::ios::binary | std::ios::trunc) << text;
    DeleteFileW(logPath_.c_str());
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kStandInKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    for (auto [name, value] : {std::pair{L"QuillpointList", &listPath_}, {L"AddInCallLog", &logPath_}})
      RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value->c_str()),
                     static_cast<DWORD>((value->size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }

  // The calls the add-in stand-in wrote down, one a line.
  std::vector<std::wstring> AddInCalls() const {
    std::ifstream in(logPath_.c_str(), std::ios::binary);
    std::vector<std::wstring> lines;
    // ASCII names only (see WriteQuillpoints), so each byte is one character.
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) lines.emplace_back(line.begin(), line.end());
    }
    return lines;
  }
  static bool Called(const std::vector<std::wstring>& calls, const std::wstring& member) {
    return std::any_of(calls.begin(), calls.end(),
                       [&](const std::wstring& c) { return c.find(member) != std::wstring::npos; });
  }

  // Word with a template active and the Norvane add-in connected behind another add-in.
  std::unique_ptr<WordStandIn> NorvaneWord() {
    auto word = std::make_unique<WordStandIn>();
    word->SetDocumentType(kWordTemplate);
    word->AddComAddIn(L"Other.Connect", nullptr);
    EXPECT_HRESULT_SUCCEEDED(word->AddNorvaneAddIn());
    return word;
  }

  // Office reads the type's caption when it loads the action, and asks for the verb list
  // before it shows a tag's menu.
  static void AskForVerbs(ISmartTagAction* action) {
    WindowWatcher watcher(WindowWatcher::Always(L"OK"));
    BSTR caption = nullptr;
    ASSERT_HRESULT_SUCCEEDED(action->get_SmartTagCaption(1, 1033, &caption));
    SysFreeString(caption);
    INT count = 0;
    BSTR name = SysAllocString(L"any");
    ASSERT_HRESULT_SUCCEEDED(action->get_VerbCount(name, &count));
    SysFreeString(name);
    ASSERT_EQ(count, 2);
    ASSERT_TRUE(watcher.Seen().empty());
  }
  void AskForVerbs() { AskForVerbs(action_.Get()); }

  struct Outcome {
    HRESULT hr = E_FAIL;
    std::vector<SeenWindow> windows;
  };
  Outcome Run(ISmartTagAction* action, int verb, IDispatch* range, const std::wstring& text,
              qp::test::Answer answer) {
    WindowWatcher watcher(std::move(answer));
    Outcome o;
    o.hr = qp::host::InvokeVerbOnTag(action, verb, kWordProgId, range, text);
    o.windows = watcher.Seen();
    return o;
  }
  // One error box with the message; OK pressed.
  void ExpectOneError(const Outcome& o, const std::wstring& message) {
    EXPECT_HRESULT_SUCCEEDED(o.hr);
    ASSERT_EQ(o.windows.size(), 1u);
    EXPECT_EQ(o.windows[0].title, kTitle);
    EXPECT_EQ(o.windows[0].text, message);
    EXPECT_EQ(o.windows[0].buttons, std::vector<std::wstring>{L"OK"});
  }

  qp::test::ComApartment com_;
  ComPtr<ISmartTagAction> action_;
  std::wstring listPath_, logPath_;
};

TEST_F(Action, AnswersOfficeIdentifiersAndVtableOrder) {
  // Every box is answered, so that an unexpected one fails the test instead of hanging it.
  WindowWatcher watcher(WindowWatcher::Always(L"OK"));
  EXPECT_EQ(IID_ISmartTagAction, kIidSmartTagAction);
  EXPECT_EQ(IID_ISmartTagProperties, kIidSmartTagProperties);
  CLSID clsid;
  ASSERT_HRESULT_SUCCEEDED(CLSIDFromProgID(kActionProgId, &clsid));
  ComPtr<IUnknown> unknown;
  ASSERT_HRESULT_SUCCEEDED(
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&unknown)));
  ComPtr<IUnknown> action, recognizer;
  ASSERT_HRESULT_SUCCEEDED(unknown->QueryInterface(kIidSmartTagAction, &action));
  EXPECT_EQ(unknown->QueryInterface(kIidSmartTagRecognizer, &recognizer), E_NOINTERFACE);

  // The Controller answers the same questions by name; the slots must give its answers.
  ComPtr<IDispatch> controller;
  CLSID controllerClsid;
  ASSERT_HRESULT_SUCCEEDED(CLSIDFromProgID(kControllerProgId, &controllerClsid));
  ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(controllerClsid, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_PPV_ARGS(&controller)));
  const VARIANT lcid = Number(1033), one = Number(1);
  const std::wstring name = ByName(controller.Get(), L"ActionName", &lcid);
  const std::wstring desc = ByName(controller.Get(), L"ActionDescription", &lcid);
  const std::wstring caption = ByName(controller.Get(), L"ActionCaption", &lcid);
  const std::wstring typeName = ByName(controller.Get(), L"SmartTagName", &one);
  ASSERT_FALSE(name.empty());
  ASSERT_NE(name, desc);
  ASSERT_NE(caption, name);
  ASSERT_NE(typeName.find(L'#'), std::wstring::npos);
  ASSERT_TRUE(watcher.Seen().empty()) << "the Controller's answers failed";

  IUnknown* p = action.Get();
  BSTR b = nullptr;
  INT n = 0;
  // Slots 0-2 IUnknown, 3-6 IDispatch, then the members in Office's order.
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 7, &b));
  EXPECT_EQ(Take(b), L"Norvane Quillpoint Smart Tag.Action");
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 8, INT{1033}, &(b = nullptr)));
  EXPECT_EQ(Take(b), name);
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 9, INT{1033}, &(b = nullptr)));
  EXPECT_EQ(Take(b), desc);
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 10, &n));
  EXPECT_EQ(n, 1);
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 11, INT{1}, &(b = nullptr)));
  EXPECT_EQ(Take(b), typeName);
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 12, INT{1}, INT{1033}, &(b = nullptr)));
  EXPECT_EQ(Take(b), caption);
  BSTR type = SysAllocString(typeName.c_str());
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 13, type, &(n = 0)));
  EXPECT_EQ(n, 2);
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 14, type, INT{2}, &(n = 0)));
  EXPECT_EQ(n, 2);
  BSTR word = SysAllocString(kWordProgId);
  EXPECT_HRESULT_SUCCEEDED(Slot(p, 15, INT{1}, word, INT{1033}, &(b = nullptr)));
  EXPECT_EQ(Take(b), L"Replace Smart Tag with Quillpoint");
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
  const wchar_t* members[] = {L"ProgId",          L"Name",           L"Desc",
                              L"SmartTagCount",   L"SmartTagName",   L"SmartTagCaption",
                              L"VerbCount",       L"VerbID",         L"VerbCaptionFromID",
                              L"VerbNameFromID",  L"InvokeVerb"};
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
  for (VARIANT& a : args) VariantInit(&a);
  args[5] = Number(7);
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
  EXPECT_EQ(seen[0].title, kTitle);
  EXPECT_EQ(seen[0].text, Message(104, L"7"));
  SysFreeString(args[4].bstrVal);
  SysFreeString(args[1].bstrVal);
  SysFreeString(args[0].bstrVal);
}

TEST_F(Action, DescribesItsVerbsAndOffersThemOnlyInWord) {
  WindowWatcher watcher(WindowWatcher::Always(L"OK"));
  qp::host::ActionInfo word = qp::host::DescribeAction(action_.Get(), kWordProgId);
  EXPECT_HRESULT_SUCCEEDED(word.failure);
  EXPECT_EQ(word.progId, L"Norvane Quillpoint Smart Tag.Action");
  EXPECT_FALSE(word.name.empty());
  EXPECT_FALSE(word.desc.empty());
  ASSERT_EQ(word.smartTagCount, 1);
  ASSERT_EQ(word.types.size(), 1u);
  ASSERT_EQ(word.types[0].verbs.size(), 2u);
  EXPECT_EQ(word.types[0].verbs[0].id, 1);
  EXPECT_EQ(word.types[0].verbs[0].name, L"Insert");
  EXPECT_EQ(word.types[0].verbs[0].caption, L"Replace Smart Tag with Quillpoint");
  EXPECT_EQ(word.types[0].verbs[1].id, 2);
  EXPECT_EQ(word.types[0].verbs[1].name, L"ViewConfig");
  EXPECT_FALSE(word.types[0].verbs[1].caption.empty());
  EXPECT_NE(word.types[0].verbs[1].caption, word.types[0].verbs[0].caption);

  // Any letter case of Word's ProgID gets the captions; Excel gets the same verbs, uncaptioned.
  qp::host::ActionInfo later = qp::host::DescribeAction(action_.Get(), L"word.application.11");
  ASSERT_EQ(later.types.size(), 1u);
  ASSERT_EQ(later.types[0].verbs.size(), 2u);
  EXPECT_EQ(later.types[0].verbs[0].caption, word.types[0].verbs[0].caption);
  qp::host::ActionInfo excel = qp::host::DescribeAction(action_.Get(), kExcelProgId);
  EXPECT_HRESULT_SUCCEEDED(excel.failure);
  EXPECT_EQ(excel.name, word.name);
  ASSERT_EQ(excel.types.size(), 1u);
  EXPECT_EQ(excel.types[0].name, word.types[0].name);
  ASSERT_EQ(excel.types[0].verbs.size(), 2u);
  for (const auto& verb : excel.types[0].verbs) EXPECT_EQ(verb.caption, L"") << verb.name;
  EXPECT_EQ(excel.types[0].verbs[1].name, L"ViewConfig");

  // One caption for every type index, one verb count for every type name, VerbID is the index.
  BSTR b = nullptr;
  ASSERT_HRESULT_SUCCEEDED(action_->get_SmartTagCaption(5, 1031, &b));
  EXPECT_EQ(Take(b), word.types[0].caption);
  INT n = 0;
  BSTR other = SysAllocString(L"urn:other#thing");
  ASSERT_HRESULT_SUCCEEDED(action_->get_VerbCount(other, &n));
  EXPECT_EQ(n, 2);
  ASSERT_HRESULT_SUCCEEDED(action_->get_VerbID(other, 9, &n));
  EXPECT_EQ(n, 9);
  SysFreeString(other);
  EXPECT_TRUE(watcher.Seen().empty()) << "no question should fail";
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
  EXPECT_EQ(watcher.Seen()[0].title, kTitle);
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
  for (const Case& c : {Case{L"Yes", true, false}, Case{L"No", false, true},
                        Case{L"Cancel", false, false}}) {
    SCOPED_TRACE(c.answer);
    ComPtr<ISmartTagAction> action;
    ASSERT_HRESULT_SUCCEEDED(qp::host::CreateAction(kActionProgId, &action));
    action_ = action;
    AskForVerbs();
    WriteQuillpoints({L"Client Name", L"Matter Number", L"Matter Number"});
    auto word = NorvaneWord();
    // The tag's own spelling; the question names the Quillpoint as the add-in spells it.
    ComPtr<IDispatch> range = word->NewRange(L"client name");
    Outcome o = Run(action.Get(), 1, range.Get(), L"client name", AnswerQuestion(c.answer));
    EXPECT_HRESULT_SUCCEEDED(o.hr);
    ASSERT_EQ(o.windows.size(), 1u);
    EXPECT_EQ(o.windows[0].title, kTitle);
    EXPECT_EQ(o.windows[0].text, Message(108, L"Client Name"));
    EXPECT_EQ(o.windows[0].buttons, (std::vector<std::wstring>{L"Yes", L"No", L"Cancel"}));
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
    WriteQuillpoints({L"Client Name", L"Matter Number", L"Matter Number"});
    ComPtr<IDispatch> range = word->NewRange(text);
    Outcome o = Run(action_.Get(), 1, range.Get(), text, AnswerQuestion(L"Cancel"));
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
  {
    SCOPED_TRACE("unknown verbs");
    auto word = NorvaneWord();
    ComPtr<IDispatch> range = word->NewRange(L"Client Name");
    for (int verb : {3, 0}) {
      ExpectOneError(Run(action_.Get(), verb, range.Get(), L"Client Name", AnswerQuestion(L"Cancel")),
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
      ExpectOneError(Run(action.Get(), verb, range.Get(), L"Client Name", AnswerQuestion(L"Cancel")),
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
      ExpectOneError(Run(action.Get(), verb, range.Get(), L"Client Name", AnswerQuestion(L"Cancel")),
                     Message(102, L""));
    // Word's add-ins were looked at once; a later connection of the add-in is not seen.
    ASSERT_HRESULT_SUCCEEDED(word.AddNorvaneAddIn());
    word.ClearCalls();
    ExpectOneError(Run(action.Get(), 1, range.Get(), L"Client Name", AnswerQuestion(L"Yes")),
                   Message(102, L""));
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
    const bool cancel =
        std::find(w.buttons.begin(), w.buttons.end(), L"Cancel") != w.buttons.end();
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
    CLSID clsid;
    ASSERT_HRESULT_SUCCEEDED(CLSIDFromProgID(kControllerProgId, &clsid));
    ComPtr<_Controller> controller;
    ASSERT_HRESULT_SUCCEEDED(
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&controller)));
    ASSERT_HRESULT_SUCCEEDED(controller->SetTestModeOn());
    ComPtr<ISmartTagAction> action;
    ASSERT_HRESULT_SUCCEEDED(qp::host::CreateAction(kActionProgId, &action));
    AskForVerbs(action.Get());
    auto word = NorvaneWord();
    ComPtr<IDispatch> range = word->NewRange(L"Closing Date");
    WriteQuillpoints({L"Closing Date"});
    Outcome o = Run(action.Get(), 1, range.Get(), L"Closing Date", AnswerQuestion(L"Yes"));
    ASSERT_EQ(o.windows.size(), 1u);
    EXPECT_EQ(o.windows[0].text, Message(108, L"Closing Date"));
    EXPECT_TRUE(Called(AddInCalls(), L"InsertQuillpoint"));
  }).join();
}

}  // namespace

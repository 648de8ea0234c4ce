// The server's life as COM sees it: after a whole Office session (recognition, both verbs with
// the terms dialog, the records by name) every object is gone and DllCanUnloadNow lets COM
// unload the DLL; locks count; a foreign class is refused. The test holds the very module that
// COM loads (the registered path), so the entry points it calls read COM's object count.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <wrl/client.h>

#include <algorithm>
#include <string>
#include <vector>

#include "action_host.h"
#include "nvstagQP.h"
#include "office_host.h"
#include "window_watcher.h"
#include "wine_test_env.h"
#include "word_standin.h"

namespace {

using Microsoft::WRL::ComPtr;
using qp::test::Message;
using qp::test::SeenWindow;
using qp::test::WindowWatcher;

using qp::test::kActionProgId;
using qp::test::kControllerProgId;
using qp::test::kRecognizerProgId;

using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

// A member by name, as a script calls it; the arguments first to last.
VARIANT ByName(IDispatch* object, const wchar_t* member, std::vector<VARIANT> args = {}) {
  VARIANT result;
  VariantInit(&result);
  DISPID id = 0;
  LPOLESTR name = const_cast<LPOLESTR>(member);
  EXPECT_HRESULT_SUCCEEDED(object->GetIDsOfNames(IID_NULL, &name, 1, 0, &id)) << member;
  std::reverse(args.begin(), args.end());
  DISPPARAMS params = {args.data(), nullptr, static_cast<UINT>(args.size()), 0};
  EXPECT_HRESULT_SUCCEEDED(object->Invoke(id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                          &params, &result, nullptr, nullptr))
      << member;
  return result;
}

// An object answer taken over (VT_DISPATCH, or VT_UNKNOWN that answers IDispatch).
ComPtr<IDispatch> ObjectOf(VARIANT v) {
  ComPtr<IDispatch> object;
  if ((v.vt == VT_DISPATCH || v.vt == VT_UNKNOWN) && v.punkVal)
    v.punkVal->QueryInterface(IID_PPV_ARGS(&object));
  VariantClear(&v);
  return object;
}

std::wstring TextOf(VARIANT v) {
  VariantChangeType(&v, &v, 0, VT_BSTR);
  std::wstring s = v.vt == VT_BSTR && v.bstrVal ? v.bstrVal : L"";
  VariantClear(&v);
  return s;
}

VARIANT Long(long n) {
  VARIANT v;
  v.vt = VT_I4;
  v.lVal = n;
  return v;
}

VARIANT Bool(bool b) {
  VARIANT v;
  v.vt = VT_BOOL;
  v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

class ServerLifetime : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryW(qp::test::RegisteredServerPath().c_str());
    ASSERT_NE(module_, nullptr) << "the registered server cannot be loaded";
    canUnloadNow_ = reinterpret_cast<CanUnloadNow>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
    getClassObject_ = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    ASSERT_TRUE(canUnloadNow_ && getClassObject_);

    // The catalog and the Word add-in stand-ins read their Quillpoints from this list.
    qp::test::SetQuillpoints({L"Client Name", L"Matter Number", L"Judge"});
  }
  void TearDown() override {
    qp::test::RemoveStandInSettings();
    if (module_) FreeLibrary(module_);
  }

  // Every object of the server released: COM may unload it.
  void ExpectUnloadable(const char* after) {
    EXPECT_EQ(canUnloadNow_(), S_OK) << "an object of the server outlives " << after;
  }

  qp::test::ComApartment com_;
  HMODULE module_ = nullptr;
  CanUnloadNow canUnloadNow_ = nullptr;
  GetClassObject getClassObject_ = nullptr;
};

TEST_F(ServerLifetime, AWholeOfficeSessionLeavesNothingBehind) {
  ExpectUnloadable("nothing at all");
  // The Quillpoint question is answered Yes, the terms dialog confirmed with OK.
  const std::wstring dialogTitle = Message(110, L"");
  WindowWatcher watcher([&](const SeenWindow& w) {
    if (w.title == dialogTitle) return std::wstring(L"OK");
    const bool question = std::find(w.buttons.begin(), w.buttons.end(), L"Yes") != w.buttons.end();
    return std::wstring(question ? L"Yes" : L"OK");
  });

  {
    SCOPED_TRACE("recognition");
    ComPtr<ISmartTagRecognizer> recognizer;
    ASSERT_HRESULT_SUCCEEDED(qp::host::CreateRecognizer(kRecognizerProgId, &recognizer));
    qp::host::RecognizerInfo info;
    ASSERT_HRESULT_SUCCEEDED(qp::host::Describe(recognizer.Get(), info));
    ASSERT_FALSE(info.smartTagName.empty());
    size_t tags = 0;
    for (int i = 0; i < 300; ++i) {
      std::vector<qp::host::Tag> found;
      const std::wstring paragraph = L"Paragraph " + std::to_wstring(i) +
                                     L": the Judge asks the Client Name. Nothing else here.";
      ASSERT_HRESULT_SUCCEEDED(qp::host::RecognizeParagraph(recognizer.Get(), paragraph, found));
      tags += found.size();
    }
    EXPECT_EQ(tags, 600u);
  }
  ExpectUnloadable("a recognizer's session");

  {
    SCOPED_TRACE("both verbs");
    ComPtr<ISmartTagAction> action;
    ASSERT_HRESULT_SUCCEEDED(qp::host::CreateAction(kActionProgId, &action));
    const qp::host::ActionInfo info = qp::host::DescribeAction(action.Get(), qp::host::kWordProgId);
    ASSERT_HRESULT_SUCCEEDED(info.failure);
    qp::host::WordStandIn word;
    word.SetDocumentType(qp::host::kWordTemplate);
    ASSERT_HRESULT_SUCCEEDED(word.AddNorvaneAddIn());
    ComPtr<IDispatch> range = word.NewRange(L"Judge");
    for (int verb : {1, 2})
      EXPECT_HRESULT_SUCCEEDED(qp::host::InvokeVerbOnTag(action.Get(), verb, qp::host::kWordProgId,
                                                         range.Get(), L"Judge"));
    const auto seen = watcher.Seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, Message(108, L"Judge"));
    EXPECT_EQ(seen[1].title, dialogTitle);
  }
  ExpectUnloadable("an action's session with both verbs and the terms dialog");

  {
    SCOPED_TRACE("the records by name");
    ComPtr<IDispatch> controller;
    ASSERT_HRESULT_SUCCEEDED(
        qp::test::CreateByProgId(kControllerProgId, controller.GetAddressOf()));
    ComPtr<IDispatch> config = ObjectOf(ByName(controller.Get(), L"SmartTagConfiguration"));
    ASSERT_TRUE(config);
    for (const wchar_t* list : {L"GetRecognizers", L"GetActions"}) {
      ComPtr<IDispatch> records = ObjectOf(ByName(config.Get(), list, {Bool(false)}));
      ASSERT_TRUE(records) << list;
      VARIANT count = ByName(records.Get(), L"Count");
      ASSERT_HRESULT_SUCCEEDED(VariantChangeType(&count, &count, 0, VT_I4));
      ASSERT_GT(count.lVal, 0) << list;
      ComPtr<IDispatch> first = ObjectOf(ByName(records.Get(), L"Item", {Long(1)}));
      ASSERT_TRUE(first) << list;
      EXPECT_FALSE(TextOf(ByName(first.Get(), L"Enabled")).empty()) << list;
      // For Each over the list.
      DISPPARAMS none = {nullptr, nullptr, 0, 0};
      VARIANT enumerator;
      VariantInit(&enumerator);
      ASSERT_HRESULT_SUCCEEDED(records->Invoke(DISPID_NEWENUM, IID_NULL, 0,
                                               DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none,
                                               &enumerator, nullptr, nullptr));
      ComPtr<IEnumVARIANT> items;
      ASSERT_TRUE(enumerator.punkVal);
      ASSERT_HRESULT_SUCCEEDED(enumerator.punkVal->QueryInterface(IID_PPV_ARGS(&items)));
      VariantClear(&enumerator);
      long seen = 0;
      for (VARIANT item; VariantInit(&item), items->Next(1, &item, nullptr) == S_OK; ++seen)
        VariantClear(&item);
      EXPECT_EQ(seen, count.lVal) << list;
    }
  }
  ExpectUnloadable("a client that read the records by name");
  EXPECT_EQ(watcher.Seen().size(), 2u);
}

TEST_F(ServerLifetime, LocksCountAndForeignClassesAreRefused) {
  ExpectUnloadable("nothing at all");
  ComPtr<IClassFactory> factory;
  ASSERT_HRESULT_SUCCEEDED(getClassObject_(CLSID_Recognizer, IID_PPV_ARGS(&factory)));
  EXPECT_EQ(canUnloadNow_(), S_FALSE) << "a class object is alive";
  ASSERT_HRESULT_SUCCEEDED(factory->LockServer(TRUE));
  factory.Reset();
  EXPECT_EQ(canUnloadNow_(), S_FALSE) << "the server is locked";
  ASSERT_HRESULT_SUCCEEDED(getClassObject_(CLSID_Action, IID_PPV_ARGS(&factory)));
  ASSERT_HRESULT_SUCCEEDED(factory->LockServer(TRUE));
  ASSERT_HRESULT_SUCCEEDED(factory->LockServer(FALSE));
  factory.Reset();
  EXPECT_EQ(canUnloadNow_(), S_FALSE) << "one lock is left";
  ASSERT_HRESULT_SUCCEEDED(getClassObject_(CLSID_Controller, IID_PPV_ARGS(&factory)));
  ASSERT_HRESULT_SUCCEEDED(factory->LockServer(FALSE));
  factory.Reset();
  ExpectUnloadable("the last lock");

  // A class this server does not serve: refused, and the out value cleared.
  const CLSID foreign = {
      0x6A1C0E52, 0x3B1D, 0x4C7E, {0x9F, 0x00, 0x00, 0x00, 0xDE, 0xAD, 0xBE, 0xEF}};
  void* out = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(getClassObject_(foreign, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  // A served class asked for an interface a class object does not have.
  out = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(getClassObject_(CLSID_Recognizer, IID_IDispatch, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  ExpectUnloadable("refused requests");
}

// Each class object of the server: an object inside another is refused, whatever it is asked.
TEST_F(ServerLifetime, ClassObjectsRefuseAggregation) {
  for (const CLSID& clsid : {CLSID_Recognizer, CLSID_Action, CLSID_Controller}) {
    ComPtr<IClassFactory> factory;
    ASSERT_HRESULT_SUCCEEDED(getClassObject_(clsid, IID_PPV_ARGS(&factory)));
    ComPtr<IUnknown> outer;
    ASSERT_HRESULT_SUCCEEDED(factory.As(&outer));  // any object will do as the outer one
    void* out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(factory->CreateInstance(outer.Get(), IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
  }
  ExpectUnloadable("refused aggregation");
}

// No place for the answer: refused before anything is made.
TEST_F(ServerLifetime, ANullOutIsRefused) {
  EXPECT_EQ(getClassObject_(CLSID_Recognizer, IID_IClassFactory, nullptr), E_POINTER);
  ComPtr<IClassFactory> factory;
  ASSERT_HRESULT_SUCCEEDED(getClassObject_(CLSID_Controller, IID_PPV_ARGS(&factory)));
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
  factory.Reset();
  ExpectUnloadable("refused requests");
}

}  // namespace

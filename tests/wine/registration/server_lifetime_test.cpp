// The server's life as COM sees it: after an Office session (both verbs with a term added in the
// terms dialog, the records by name; recognition is Word's threads' test) every object is gone and
// DllCanUnloadNow lets COM unload the DLL; locks count; a foreign class is refused. The test holds
// the very module that COM loads (the registered path), so the entry points it calls read COM's
// object count.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <wrl/client.h>

#include <string>

#include "action_host.h"
#include "dialog_driver.h"
#include "late_bound.h"
#include "nvstagQP.h"
#include "window_watcher.h"
#include "wine_test_env.h"
#include "word_standin.h"

namespace {

using Microsoft::WRL::ComPtr;
using namespace qp::test;

using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

constexpr int kNewButton = 1002;  // the terms dialog's New

class ServerLifetime : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryW(RegisteredServerPath().c_str());
    ASSERT_NE(module_, nullptr) << "the registered server cannot be loaded";
    canUnloadNow_ = reinterpret_cast<CanUnloadNow>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
    getClassObject_ = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    ASSERT_TRUE(canUnloadNow_ && getClassObject_);

    // No terms of an earlier run: the term added below is new each time.
    ResetProductState();
    // The Word add-in stand-in's one Quillpoint, which verb 1 offers.
    SetQuillpoints({L"Judge"});
  }
  void TearDown() override {
    RemoveStandInSettings();
    if (module_) FreeLibrary(module_);
  }

  // Every object of the server released: COM may unload it.
  void ExpectUnloadable(const char* after) {
    EXPECT_EQ(canUnloadNow_(), S_OK) << "an object of the server outlives " << after;
  }

  ComApartment com_;
  HMODULE module_ = nullptr;
  CanUnloadNow canUnloadNow_ = nullptr;
  GetClassObject getClassObject_ = nullptr;
};

TEST_F(ServerLifetime, AnOfficeSessionLeavesNothingBehind) {
  ExpectUnloadable("nothing at all");
  {
    SCOPED_TRACE("both verbs");
    ComPtr<ISmartTagAction> action;
    ASSERT_HRESULT_SUCCEEDED(qp::host::CreateAction(kActionProgId, &action));
    ASSERT_HRESULT_SUCCEEDED(qp::host::DescribeAction(action.Get(), qp::host::kWordProgId).failure);
    qp::host::WordStandIn word;
    word.SetDocumentType(qp::host::kWordTemplate);
    ASSERT_HRESULT_SUCCEEDED(word.AddNorvaneAddIn());
    ComPtr<IDispatch> range = word.NewRange(L"Judge");
    {
      // The one Quillpoint is inserted.
      WindowWatcher watcher(WindowWatcher::Question(L"Yes"));
      EXPECT_HRESULT_SUCCEEDED(
          qp::host::InvokeVerbOnTag(action.Get(), 1, qp::host::kWordProgId, range.Get(), L"Judge"));
      ASSERT_EQ(watcher.Seen().size(), 1u) << "the question, and no error";
    }
    // A term added with New is a record the dialog makes; the terms are kept with OK.
    RunDialog(
        Message(110, L""),
        [&] {
          EXPECT_HRESULT_SUCCEEDED(qp::host::InvokeVerbOnTag(action.Get(), 2, qp::host::kWordProgId,
                                                             range.Get(), L"Judge"));
        },
        [](DialogDriver& d) {
          d.Click(kNewButton);
          ASSERT_NE(d.WaitForEditor(), nullptr);
          d.Type(L"Docket");
          d.Click(IDOK);
        });
  }
  ExpectUnloadable("an action's session with both verbs and a term added in the terms dialog");

  {
    SCOPED_TRACE("the records by name");
    ComPtr<IDispatch> controller;
    ASSERT_HRESULT_SUCCEEDED(CreateByProgId(kControllerProgId, controller.GetAddressOf()));
    ComPtr<IDispatch> config = ByName(controller.Get(), L"SmartTagConfiguration").AsObject();
    ASSERT_TRUE(config);
    for (const wchar_t* list : {L"GetRecognizers", L"GetActions"}) {
      ComPtr<IDispatch> records = ByName(config.Get(), list, {Variant::FromBool(false)}).AsObject();
      ASSERT_TRUE(records) << list;
      const long count = ByName(records.Get(), L"Count").AsLong();
      ASSERT_GT(count, 0) << list;
      ComPtr<IEnumVARIANT> items;
      ASSERT_HRESULT_SUCCEEDED(
          ComPtr<IUnknown>(ByName(records.Get(), L"_NewEnum").Get()->punkVal).As(&items));
      long seen = 0;
      for (Variant item; items->Next(1, item.Out(), nullptr) == S_OK; ++seen) {
      }
      EXPECT_EQ(seen, count) << list;
    }
  }
  ExpectUnloadable("a client that read the records by name");
}

TEST_F(ServerLifetime, LocksCountAndForeignClassesAggregationAndNullOutsAreRefused) {
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
  EXPECT_EQ(getClassObject_(CLSID_Recognizer, IID_IClassFactory, nullptr), E_POINTER);
  // Each class object refuses an object inside another, and a call with no place for the answer.
  for (const CLSID& clsid : {CLSID_Recognizer, CLSID_Action, CLSID_Controller}) {
    ComPtr<IClassFactory> factory;
    ASSERT_HRESULT_SUCCEEDED(getClassObject_(clsid, IID_PPV_ARGS(&factory)));
    ComPtr<IUnknown> outer;
    ASSERT_HRESULT_SUCCEEDED(factory.As(&outer));  // any object will do as the outer one
    void* out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(factory->CreateInstance(outer.Get(), IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
  }
  ExpectUnloadable("refused requests");
}

}  // namespace

// regsvr32 writes what Office and automation clients need to find and create the server (and
// they create it so), and regsvr32 /u takes away exactly that.
#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>

#include "nvstagQP.h"
#include "window_watcher.h"
#include "wine_test_env.h"

namespace {

using namespace qp::test;

bool Has(const std::set<std::wstring>& snapshot, const std::wstring& line) {
  return snapshot.count(Upper(line)) != 0;
}

// Every key and value below the class registrations of HKCR.
std::set<std::wstring> Snapshot() {
  std::set<std::wstring> all;
  // ProgIDs live at the top level: take the top-level keys and what lies below ours.
  HKEY root = HKEY_CLASSES_ROOT;
  for (const std::wstring& top : SubkeyNames(root)) {
    const std::wstring upper = Upper(top);
    if (upper == L"CLSID" || upper == L"INTERFACE" || upper == L"TYPELIB" ||
        upper.rfind(L"NVSMARTTAG", 0) == 0)
      CollectRegistry(root, top, top, all);
    else
      all.insert(upper);
  }
  return all;
}

std::wstring DllPath() {
  return BinFolder() + L"\\nvstagQP.dll";
}

DWORD Regsvr32(const wchar_t* options) {
  return RunProgram(L"regsvr32 /s " + std::wstring(options) + L"\"" + DllPath() + L"\"");
}

TEST(Registration, RegisterWritesTheClassesAndUnregisterTakesAwayExactlyThat) {
  ComApartment com;
  ASSERT_EQ(Regsvr32(L"/u "), 0u);
  const std::set<std::wstring> before = Snapshot();
  for (const auto& line : before)
    ASSERT_EQ(line.find(L"NVSMARTTAGQUILLPOINT."), std::wstring::npos) << line;

  ASSERT_EQ(Regsvr32(L""), 0u);
  const std::set<std::wstring> registered = Snapshot();

  const std::wstring libid = GuidText(LIBID_NVSmartTagQuillpoint);
  const struct {
    const wchar_t* progId;
    CLSID clsid;
  } classes[] = {{kRecognizerProgId, CLSID_Recognizer},
                 {kActionProgId, CLSID_Action},
                 {kControllerProgId, CLSID_Controller}};
  for (const auto& c : classes) {
    const std::wstring clsid = GuidText(c.clsid);
    const std::wstring key = L"CLSID\\" + clsid;
    EXPECT_TRUE(Has(registered, std::wstring(c.progId) + L"\\CLSID|=" + clsid)) << c.progId;
    EXPECT_TRUE(Has(registered, key + L"\\InprocServer32|=" + DllPath())) << c.progId;
    EXPECT_TRUE(Has(registered, key + L"\\InprocServer32|ThreadingModel=Apartment")) << c.progId;
    EXPECT_TRUE(Has(registered, key + L"\\ProgID|=" + c.progId)) << c.progId;
    EXPECT_TRUE(Has(registered, key + L"\\TypeLib|=" + libid)) << c.progId;
  }
  const std::wstring lib = L"TypeLib\\" + libid + L"\\1.1";
  EXPECT_TRUE(Has(registered, lib + L"|=Norvane Quillpoint Smart Tag"));
  EXPECT_TRUE(
      Has(registered, lib + (sizeof(void*) == 8 ? L"\\0\\win64|=" : L"\\0\\win32|=") + DllPath()));
  for (const IID* iid : {&IID__Recognizer, &IID__Action, &IID__Controller, &IID__SmartTagConfig,
                         &IID__RecognizerProps, &IID__ActionProps, &IID__Records})
    EXPECT_TRUE(Has(registered, L"Interface\\" + GuidText(*iid) + L"\\TypeLib|=" + libid))
        << GuidText(*iid);
  // Office's own interfaces are Office's to register.
  EXPECT_FALSE(Has(registered, L"Interface\\" + GuidText(IID_ISmartTagRecognizer)));

  // The registered library loads, complete, from the DLL.
  ITypeLib* tlb = nullptr;
  ASSERT_EQ(LoadRegTypeLib(LIBID_NVSmartTagQuillpoint, 1, 1, LOCALE_NEUTRAL, &tlb), S_OK);
  std::set<std::wstring> names;
  for (UINT i = 0; i < tlb->GetTypeInfoCount(); ++i) {
    BSTR name = nullptr;
    tlb->GetDocumentation(static_cast<INT>(i), &name, nullptr, nullptr, nullptr);
    names.insert(Take(name));
  }
  tlb->Release();
  for (const wchar_t* n :
       {L"Recognizer", L"Action", L"Controller", L"SmartTagConfig", L"RecognizerProps",
        L"ActionProps", L"_Recognizer", L"_Action", L"_Controller", L"_SmartTagConfig",
        L"_RecognizerProps", L"_ActionProps", L"ISmartTagRecognizer", L"ISmartTagAction",
        L"ISmartTagRecognizerSite", L"ISmartTagProperties", L"IF_TYPE"})
    EXPECT_TRUE(names.count(n)) << n;

  // What registration added is exactly what unregistration removes.
  ASSERT_EQ(Regsvr32(L"/u "), 0u);
  const std::set<std::wstring> after = Snapshot();
  EXPECT_EQ(after, before);
  size_t added = 0;
  for (const auto& line : registered)
    added += before.count(line) == 0;
  EXPECT_GT(added, 40u);

  // Leave the prefix as the fixture made it.
  ASSERT_EQ(Regsvr32(L""), 0u);
}

}  // namespace

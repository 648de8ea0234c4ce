// Self-registration: the three creatable classes with their ProgIDs, the type library and our
// own interfaces. Written from a table rather than with RegisterTypeLib, because the library
// also declares Office's Smart Tag interfaces, whose registration belongs to Office and must
// survive our unregistration.
#include <windows.h>

#include <string>

#include "com/classes.h"
#include "platform/com_object.h"
#include "platform/paths.h"

namespace qp::com {
using namespace qp::platform;
namespace {

struct InterfaceInfo {
  const IID* iid;
  const wchar_t* name;
};

const InterfaceInfo kInterfaces[] = {
    {&IID__Recognizer, L"_Recognizer"},
    {&IID__Action, L"_Action"},
    {&IID__Controller, L"_Controller"},
    {&IID__SmartTagConfig, L"_SmartTagConfig"},
    {&IID__RecognizerProps, L"_RecognizerProps"},
    {&IID__ActionProps, L"_ActionProps"},
    {&IID__Records, L"_Records"},
};

constexpr wchar_t kTypeLibVersion[] = L"1.1";
constexpr wchar_t kTypeLibDescription[] = L"Norvane Quillpoint Smart Tag";
constexpr wchar_t kUniversalMarshaler[] = L"{00020424-0000-0000-C000-000000000046}";

std::wstring GuidText(const GUID& g) {
  wchar_t text[40] = {};
  StringFromGUID2(g, text, 40);
  return text;
}

void SetKey(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY h = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h,
                            nullptr);
  if (rc != ERROR_SUCCESS) Check(HRESULT_FROM_WIN32(rc));
  rc = RegSetValueExW(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(h);
  if (rc != ERROR_SUCCESS) Check(HRESULT_FROM_WIN32(rc));
}

void DeleteKey(const std::wstring& key) {
  LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
  if (rc == ERROR_SUCCESS) rc = RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) Check(HRESULT_FROM_WIN32(rc));
}

bool HasSubkeys(const std::wstring& key) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  DWORD subkeys = 0;
  RegQueryInfoKeyW(h, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                   nullptr, nullptr, nullptr);
  RegCloseKey(h);
  return subkeys > 0;
}

void Register() {
  const std::wstring path = ComponentPath();
  const std::wstring libid = GuidText(LIBID_NVSmartTagQuillpoint);
  for (const auto& c : ServerClasses()) {
    const std::wstring key = L"CLSID\\" + GuidText(*c.clsid);
    SetKey(key, nullptr, c.description);
    SetKey(key + L"\\InprocServer32", nullptr, path);
    SetKey(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    SetKey(key + L"\\ProgID", nullptr, c.progId);
    SetKey(key + L"\\TypeLib", nullptr, libid);
    SetKey(key + L"\\Version", nullptr, kTypeLibVersion);
    SetKey(c.progId, nullptr, c.description);
    SetKey(std::wstring(c.progId) + L"\\CLSID", nullptr, GuidText(*c.clsid));
  }
  const std::wstring lib = L"TypeLib\\" + libid + L"\\" + kTypeLibVersion;
  SetKey(lib, nullptr, kTypeLibDescription);
  SetKey(lib + (sizeof(void*) == 8 ? L"\\0\\win64" : L"\\0\\win32"), nullptr, path);
  SetKey(lib + L"\\FLAGS", nullptr, L"0");
  SetKey(lib + L"\\HELPDIR", nullptr, path.substr(0, path.find_last_of(L'\\')));
  for (const auto& i : kInterfaces) {
    const std::wstring key = L"Interface\\" + GuidText(*i.iid);
    SetKey(key, nullptr, i.name);
    SetKey(key + L"\\ProxyStubClsid", nullptr, kUniversalMarshaler);
    SetKey(key + L"\\ProxyStubClsid32", nullptr, kUniversalMarshaler);
    SetKey(key + L"\\TypeLib", nullptr, libid);
    SetKey(key + L"\\TypeLib", L"Version", kTypeLibVersion);
  }
}

void Unregister() {
  for (const auto& c : ServerClasses()) {
    DeleteKey(L"CLSID\\" + GuidText(*c.clsid));
    DeleteKey(c.progId);
  }
  // The other platform's build may still be registered under the same library version.
  const std::wstring lib = L"TypeLib\\" + GuidText(LIBID_NVSmartTagQuillpoint);
  DeleteKey(lib + L"\\" + kTypeLibVersion + (sizeof(void*) == 8 ? L"\\0\\win64" : L"\\0\\win32"));
  if (!HasSubkeys(lib + L"\\" + kTypeLibVersion + L"\\0")) DeleteKey(lib);
  for (const auto& i : kInterfaces)
    DeleteKey(L"Interface\\" + GuidText(*i.iid));
}

}  // namespace
}  // namespace qp::com

extern "C" {
STDAPI DllRegisterServer() noexcept {
  return qp::platform::ComBoundary([] { qp::com::Register(); });
}
STDAPI DllUnregisterServer() noexcept {
  return qp::platform::ComBoundary([] { qp::com::Unregister(); });
}
}

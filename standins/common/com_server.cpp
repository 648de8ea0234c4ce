// DllGetClassObject, DllCanUnloadNow, DllRegisterServer and DllUnregisterServer for whatever
// classes the DLL lists in ServerClasses().
#include "com_server.h"

#include <olectl.h>

#include <atomic>
#include <new>
#include <string>
#include <vector>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace standin {
namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

// Static, one per class; its references count only as locks on the server.
class Factory final : public IClassFactory {
 public:
  explicit Factory(const ServerClass* cls = nullptr) : class_(cls) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++g_locks); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--g_locks); }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return class_->create(iid, out);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      ++g_locks;
    } else {
      --g_locks;
    }
    return S_OK;
  }

 private:
  const ServerClass* class_;
};

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring ModulePath() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path.data(),
                                 static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) return std::wstring(path.data(), n);
    path.resize(path.size() * 2);
  }
}

// Every key a class owns, each below the one before it or below the root, so removing them
// deepest first removes exactly what registration wrote.
std::vector<std::wstring> OwnKeys(const ServerClass& cls) {
  const std::wstring classKey = L"CLSID\\" + GuidText(cls.clsid);
  return {cls.progId, std::wstring(cls.progId) + L"\\CLSID", classKey,
          classKey + L"\\InprocServer32", classKey + L"\\ProgID"};
}

struct Setting {
  std::wstring key;
  const wchar_t* name;  // null for the key's default value
  std::wstring value;
};

std::vector<Setting> OwnSettings(const ServerClass& cls, const std::wstring& modulePath) {
  const std::vector<std::wstring> keys = OwnKeys(cls);
  return {
      {keys[0], nullptr, cls.description},        {keys[1], nullptr, GuidText(cls.clsid)},
      {keys[2], nullptr, cls.description},        {keys[3], nullptr, modulePath},
      {keys[3], L"ThreadingModel", L"Apartment"}, {keys[4], nullptr, cls.progId},
  };
}

LONG Store(const Setting& setting) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, setting.key.c_str(), 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExW(key, setting.name, 0, REG_SZ,
                      reinterpret_cast<const BYTE*>(setting.value.c_str()),
                      static_cast<DWORD>((setting.value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return rc;
}

// Keys already gone count as removed, so unregistering twice succeeds.
LONG RemoveOwnKeys() {
  LONG first = ERROR_SUCCESS;
  for (const ServerClass& cls : ServerClasses()) {
    const std::vector<std::wstring> keys = OwnKeys(cls);
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
      LONG rc = RegDeleteKeyW(HKEY_CLASSES_ROOT, it->c_str());
      if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND && first == ERROR_SUCCESS) first = rc;
    }
  }
  return first;
}

Factory* FactoryFor(REFCLSID clsid) {
  static std::vector<Factory> factories = [] {
    std::vector<Factory> all;
    for (const ServerClass& cls : ServerClasses())
      all.emplace_back(&cls);
    return all;
  }();
  std::span<const ServerClass> classes = ServerClasses();
  for (size_t i = 0; i < classes.size(); ++i) {
    if (classes[i].clsid == clsid) return &factories[i];
  }
  return nullptr;
}

}  // namespace

void ObjectCreated() noexcept {
  ++g_objects;
}
void ObjectDestroyed() noexcept {
  --g_objects;
}

}  // namespace standin

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    standin::Factory* factory = standin::FactoryFor(clsid);
    if (!factory) return CLASS_E_CLASSNOTAVAILABLE;
    return factory->QueryInterface(iid, out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

STDAPI DllCanUnloadNow() {
  return standin::g_objects == 0 && standin::g_locks == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
  try {
    const std::wstring path = standin::ModulePath();
    if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
    for (const standin::ServerClass& cls : standin::ServerClasses()) {
      for (const standin::Setting& setting : standin::OwnSettings(cls, path)) {
        LONG rc = standin::Store(setting);
        if (rc != ERROR_SUCCESS) {
          standin::RemoveOwnKeys();  // no half registration left behind
          return HRESULT_FROM_WIN32(rc);
        }
      }
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

STDAPI DllUnregisterServer() {
  try {
    LONG rc = standin::RemoveOwnKeys();
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// The in-process server's entry points: DllMain keeps the module handle and nothing else,
// DllGetClassObject serves the creatable classes from one table, DllCanUnloadNow reads the
// module count.
#include <windows.h>

#include "com/classes.h"
#include "com/com_object.h"
#include "support/resources.h"

namespace qp {
namespace {

std::atomic<long> g_moduleCount{0};

struct ClassEntry {
  const CLSID* clsid;
  HRESULT (*create)(REFIID, void**);
};

const ClassEntry kClasses[] = {
    {&CLSID_Recognizer, CreateRecognizer},
    {&CLSID_Action, CreateAction},
    {&CLSID_Controller, CreateController},
};

class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(HRESULT (*create)(REFIID, void**)) : create_(create) { ModuleAddRef(); }
  ~ClassFactory() { ModuleRelease(); }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return create_(iid, out);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      ModuleAddRef();
    } else {
      ModuleRelease();
    }
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{1};
  HRESULT (*create_)(REFIID, void**);
};

ITypeLib* LoadOwnTypeLib() {
  ITypeLib* lib = nullptr;
  if (HMODULE module = ComponentModule()) {
    wchar_t path[MAX_PATH * 2] = {};
    GetModuleFileNameW(module, path, MAX_PATH * 2);
    Check(LoadTypeLibEx(path, REGKIND_NONE, &lib));
  } else {
    // Linked into a program rather than loaded as the server: the registered library.
    Check(LoadRegTypeLib(LIBID_NVSmartTagQuillpoint, 1, 1, LOCALE_NEUTRAL, &lib));
  }
  return lib;  // kept for the life of the process
}

}  // namespace

void ModuleAddRef() noexcept { ++g_moduleCount; }
void ModuleRelease() noexcept { --g_moduleCount; }
long ModuleCount() noexcept { return g_moduleCount; }

ITypeInfo* TypeInfoFor(REFIID iid) {
  static ITypeLib* const lib = LoadOwnTypeLib();
  // A handful of interfaces: a short list beats a map here.
  struct Cached {
    IID iid;
    ITypeInfo* info;
  };
  static thread_local Cached cache[16];
  static thread_local int used = 0;
  for (int i = 0; i < used; ++i)
    if (cache[i].iid == iid) return cache[i].info;
  ITypeInfo* info = nullptr;
  Check(lib->GetTypeInfoOfGuid(iid, &info));
  if (used < 16) cache[used++] = {iid, info};
  return info;
}

}  // namespace qp

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    qp::SetComponentModule(instance);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  for (const auto& entry : qp::kClasses) {
    if (clsid != *entry.clsid) continue;
    auto* factory = new (std::nothrow) qp::ClassFactory(entry.create);
    if (!factory) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return qp::ModuleCount() == 0 ? S_OK : S_FALSE; }

}  // extern "C"

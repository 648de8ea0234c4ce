// The in-process server's entry points: DllMain keeps the module handle and nothing else,
// DllGetClassObject serves the creatable classes from one table, DllCanUnloadNow reads the
// module count.
#include <windows.h>

#include <mutex>
#include <utility>
#include <vector>

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

class ClassFactory final : public ComClass<ClassFactory, IClassFactory> {
 public:
  explicit ClassFactory(HRESULT (*create)(REFIID, void**)) : create_(create) {}

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
  return lib;
}

// The type information of our interfaces, one for the process: a type library's objects are not
// bound to an apartment, and Word calls us from several. Let go when the server may unload.
class TypeInfoCache {
 public:
  ITypeInfo* For(REFIID iid) {
    std::lock_guard<std::mutex> hold(lock_);
    for (const auto& [known, info] : infos_)
      if (known == iid) return info.Get();
    if (!lib_) *lib_.GetAddressOf() = LoadOwnTypeLib();
    ComPtr<ITypeInfo> info;
    Check(lib_->GetTypeInfoOfGuid(iid, info.GetAddressOf()));
    infos_.emplace_back(iid, info);
    return info.Get();
  }
  void Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    infos_.clear();
    lib_.Reset();
  }

 private:
  std::mutex lock_;
  ComPtr<ITypeLib> lib_;
  std::vector<std::pair<IID, ComPtr<ITypeInfo>>> infos_;  // a handful: a list beats a map
};
// Never destroyed: at the process's end, releasing into oleaut32 from our DllMain is not safe.
TypeInfoCache& g_typeInfo = *new TypeInfoCache;

}  // namespace

void ModuleAddRef() noexcept { ++g_moduleCount; }
void ModuleRelease() noexcept { --g_moduleCount; }
long ModuleCount() noexcept { return g_moduleCount; }

ITypeInfo* TypeInfoFor(REFIID iid) { return g_typeInfo.For(iid); }

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

STDAPI DllCanUnloadNow() {
  if (qp::ModuleCount() != 0) return S_FALSE;
  // No object of ours is left to use the type information; one created later loads it again.
  qp::g_typeInfo.Clear();
  return S_OK;
}

}  // extern "C"

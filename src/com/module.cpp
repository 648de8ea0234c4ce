// The in-process server's entry points: DllMain keeps the module handle and nothing else,
// DllGetClassObject serves the creatable classes from their table, DllCanUnloadNow reads the
// module count.
#include <windows.h>

#include "com/classes.h"
#include "platform/com_object.h"
#include "platform/paths.h"

namespace qp::com {
using namespace qp::platform;

std::span<const ServerClass> ServerClasses() {
  static const ServerClass classes[] = {
      {&CLSID_Recognizer, L"NVSmartTagQuillpoint.Recognizer", L"Quillpoint Smart Tag recognizer",
       CreateRecognizer},
      {&CLSID_Action, L"NVSmartTagQuillpoint.Action", L"Quillpoint Smart Tag actions",
       CreateAction},
      {&CLSID_Controller, L"NVSmartTagQuillpoint.Controller", L"Quillpoint Smart Tag engine",
       CreateController},
  };
  return classes;
}

namespace {

class ClassFactory final : public ComClass<ClassFactory, IClassFactory> {
 public:
  explicit ClassFactory(CreateFunction create) : create_(create) {}

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) noexcept override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return create_(iid, out);
  }
  STDMETHODIMP LockServer(BOOL lock) noexcept override {
    if (lock) {
      ModuleAddRef();
    } else {
      ModuleRelease();
    }
    return S_OK;
  }

 private:
  CreateFunction create_;
};

// The exports' bodies: the SDK declares the exports themselves without noexcept.
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  for (const auto& entry : ServerClasses())
    if (clsid == *entry.clsid) return ClassFactory::Create(iid, out, entry.create);
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CanUnloadNow() noexcept {
  if (ModuleCount() != 0) return S_FALSE;
  // No object of ours is left to use the type information; one created later loads it again.
  return ComBoundary([] { ReleaseTypeInfo(); });
}

}  // namespace
}  // namespace qp::com

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) noexcept {
  if (reason == DLL_PROCESS_ATTACH) {
    qp::platform::SetComponentModule(instance);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return qp::com::GetClassObject(clsid, iid, out);
}

STDAPI DllCanUnloadNow() {
  return qp::com::CanUnloadNow();
}

}  // extern "C"

#include "platform/registry_component.h"

#include <windows.h>

#include "platform/automation.h"
#include "platform/error.h"

namespace qp::platform {
namespace {

// The registry component's class as this thread last found it, while engines hold it, and a
// watch on the class registrations of the user and of the machine. Plain values: a thread's
// storage of this module must not release COM objects when the thread or the module goes.
struct KeptRegistryClass {
  unsigned holders;
  IClassFactory* factory;
  HANDLE changed;  // signalled by any change below the watched keys
  HKEY watched[2];
};
thread_local KeptRegistryClass g_registryClass = {};

void StopWatching(KeptRegistryClass& kept) {
  for (HKEY& key : kept.watched) {
    if (key) RegCloseKey(key);
    key = nullptr;
  }
}

void DropFactory(KeptRegistryClass& kept) {
  if (kept.factory) {
    kept.factory->LockServer(FALSE);
    kept.factory->Release();
    kept.factory = nullptr;
  }
  StopWatching(kept);
}

// A registration changes under "Software\Classes" of either hive (HKEY_CLASSES_ROOT shows the
// two merged). A notification fires once, so the keys are opened and watched anew each time.
bool WatchClassRegistrations(KeptRegistryClass& kept) {
  StopWatching(kept);
  if (!kept.changed) kept.changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!kept.changed) return false;
  ResetEvent(kept.changed);
  const HKEY roots[] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
  for (size_t i = 0; i < 2; ++i) {
    // Every Windows profile has the key; a fresh one of Wine may lack it until first used.
    HKEY key = nullptr;
    if (RegCreateKeyExW(roots[i], L"Software\\Classes", 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_NOTIFY, nullptr, &key, nullptr) != ERROR_SUCCESS) {
      StopWatching(kept);
      return false;
    }
    kept.watched[i] = key;
    if (RegNotifyChangeKeyValue(key, TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                kept.changed, TRUE) != ERROR_SUCCESS) {
      StopWatching(kept);
      return false;
    }
  }
  return true;
}

// A new registry component. Kept, the factory cannot go stale: it is dropped as soon as any
// class registration changes, and it holds the component's server loaded (LockServer) while
// it is kept.
ComPtr<IDispatch> NewRegistryComponent() {
  KeptRegistryClass& kept = g_registryClass;
  if (kept.holders == 0) return CreateObject(kRegistryProgId);
  if (kept.factory && WaitForSingleObject(kept.changed, 0) != WAIT_TIMEOUT) DropFactory(kept);
  ComPtr<IClassFactory> factory = kept.factory;
  if (!factory) {
    // Watched before the look-up, so that a change during it is seen at the next use.
    const bool watching = WatchClassRegistrations(kept);
    CLSID clsid;
    Check(CLSIDFromProgID(kRegistryProgId, &clsid));
    Check(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, nullptr,
                           IID_PPV_ARGS(&factory)));
    if (watching && SUCCEEDED(factory->LockServer(TRUE))) {
      kept.factory = factory.Get();
      kept.factory->AddRef();
    }
  }
  ComPtr<IDispatch> component;
  Check(factory->CreateInstance(nullptr, IID_PPV_ARGS(&component)));
  return component;
}

}  // namespace

RegistryClassHold::RegistryClassHold() {
  ++g_registryClass.holders;
}

RegistryClassHold::~RegistryClassHold() {
  KeptRegistryClass& kept = g_registryClass;
  if (--kept.holders != 0) return;
  DropFactory(kept);
  if (kept.changed) CloseHandle(kept.changed);
  kept.changed = nullptr;
}

std::wstring RegistryGetValue(long hive, const std::wstring& key, const std::wstring& name,
                              const std::wstring* defaultValue) {
  ComPtr<IDispatch> registry = NewRegistryComponent();
  if (defaultValue) {
    return Call(registry.Get(), L"getValue",
                {Variant::FromLong(hive), Variant::FromString(key), Variant::FromString(name),
                 Variant::FromString(*defaultValue)})
        .AsString();
  }
  return Call(registry.Get(), L"getValue",
              {Variant::FromLong(hive), Variant::FromString(key), Variant::FromString(name)})
      .AsString();
}

void RegistrySetValue(long hive, const std::wstring& key, const std::wstring& name,
                      const std::wstring& value) {
  ComPtr<IDispatch> registry = NewRegistryComponent();
  Call(registry.Get(), L"setValue",
       {Variant::FromLong(hive), Variant::FromString(key), Variant::FromString(name),
        Variant::FromString(value)});
}

}  // namespace qp::platform

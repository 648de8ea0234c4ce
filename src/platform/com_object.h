// The shape of every COM class of the server: one IUnknown for all (reference counting that
// keeps the module alive, QueryInterface over the interfaces the class lists), and for the
// automation classes IDispatch from the embedded type library and ISupportErrorInfo.
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <atomic>
#include <new>
#include <type_traits>
#include <utility>

#include "nvstagQP.h"
#include "platform/automation.h"
#include "platform/error.h"

namespace qp::platform {

// Live objects and server locks; DllCanUnloadNow answers from it.
void ModuleAddRef() noexcept;
void ModuleRelease() noexcept;
long ModuleCount() noexcept;

// The type information of one of our interfaces, from the library embedded in the DLL.
// Raises on failure; not AddRef'd: kept for the process until the server may unload.
ITypeInfo* TypeInfoFor(REFIID iid);
// When no object of the module is left: the type information goes, and comes again with the next.
void ReleaseTypeInfo();

// IDispatch of one dual interface, delegated to its type information.
template <class Iface>
class DualImpl : public Iface {
 public:
  STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) noexcept override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return ComBoundary([&] {
      *info = TypeInfoFor(__uuidof(Iface));
      (*info)->AddRef();
    });
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                             DISPID* ids) noexcept override {
    ITypeInfo* info = nullptr;
    HRESULT hr = ComBoundary([&] { info = TypeInfoFor(__uuidof(Iface)); });
    if (FAILED(hr)) return hr;
    return info->GetIDsOfNames(names, count, ids);
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excep, UINT* argErr) noexcept override {
    ITypeInfo* info = nullptr;
    HRESULT hr = ComBoundary([&] { info = TypeInfoFor(__uuidof(Iface)); });
    if (FAILED(hr)) return hr;
    return info->Invoke(static_cast<Iface*>(this), id, flags, params, result, excep, argErr);
  }
};

template <class Base>
struct InterfaceOf {
  using type = Base;
};
template <class Iface>
struct InterfaceOf<DualImpl<Iface>> {
  using type = Iface;
};
// An interface's identifier; specialised where the SDK's headers declare none.
template <class Iface>
const IID& IidOf() {
  return __uuidof(Iface);
}

// The one IUnknown of the server's classes: reference counting that keeps the module alive, and
// QueryInterface over the interfaces the class names as its bases, in their order (the first
// also answers for IUnknown, and for IDispatch when it is a dispatch interface).
template <class Derived, class FirstBase, class... Bases>
class ComClass : public FirstBase, public Bases... {
 public:
  ComClass() { ModuleAddRef(); }
  virtual ~ComClass() { ModuleRelease(); }
  ComClass(const ComClass&) = delete;
  ComClass& operator=(const ComClass&) = delete;

  // New object whose one reference the returned pointer holds. Adopted through GetAddressOf:
  // this WRL's ComPtr::Attach adds a reference of its own, which the object would never lose.
  template <class... Args>
  static ComPtr<Derived> New(Args&&... args) {
    ComPtr<Derived> object;
    *object.GetAddressOf() = new Derived(std::forward<Args>(args)...);
    return object;
  }
  // "new with one reference, QueryInterface, Release".
  template <class... Args>
  static HRESULT Create(REFIID iid, void** out, Args&&... args) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    Derived* object = nullptr;
    HRESULT hr = ComBoundary([&] { object = new Derived(std::forward<Args>(args)...); });
    if (FAILED(hr)) return hr;
    hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) noexcept override {
    if (!out) return E_POINTER;
    *out = nullptr;
    using First = typename InterfaceOf<FirstBase>::type;
    if (iid == IID_IUnknown || iid == IidOf<First>() ||
        (std::is_base_of_v<IDispatch, First> && iid == IID_IDispatch)) {
      *out = static_cast<First*>(static_cast<FirstBase*>(this));
    } else {
      (void)((iid == IidOf<typename InterfaceOf<Bases>::type>() &&
              (*out = static_cast<typename InterfaceOf<Bases>::type*>(static_cast<Bases*>(this)),
               true)) ||
             ...);
    }
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() noexcept override {
    ULONG n = --refs_;
    if (n == 0) delete static_cast<Derived*>(this);
    return n;
  }

 private:
  std::atomic<ULONG> refs_{1};
};

// An automation class: Derived implements the members of its dual interfaces, the first of which
// is the default dispatch one, and says that they carry error information.
template <class Derived, class First, class... Rest>
class ComObject : public ComClass<Derived, DualImpl<First>, DualImpl<Rest>..., ISupportErrorInfo> {
 public:
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) noexcept override {
    if (iid == __uuidof(First)) return S_OK;
    return ((iid == __uuidof(Rest)) || ...) ? S_OK : S_FALSE;
  }

  // The default interface, for handing the object out as IDispatch.
  IDispatch* AsDispatch() { return static_cast<First*>(this); }
};

}  // namespace qp::platform

// The shape of every automation class of the server: reference counting that keeps the module
// alive, QueryInterface over the class's interfaces, IDispatch from the embedded type library,
// and ISupportErrorInfo.
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <atomic>
#include <new>

#include "nvstagQP.h"
#include "support/automation.h"
#include "support/error.h"

namespace qp {

// Live objects and server locks; DllCanUnloadNow answers from it.
void ModuleAddRef() noexcept;
void ModuleRelease() noexcept;
long ModuleCount() noexcept;

// The type information of one of our interfaces, from the library embedded in the DLL.
ITypeInfo* TypeInfoFor(REFIID iid);  // raises on failure; not AddRef'd (cached for the process)

// IDispatch of one dual interface, delegated to its type information.
template <class Iface>
class DualImpl : public Iface {
 public:
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return ComBoundary([&] {
      *info = TypeInfoFor(__uuidof(Iface));
      (*info)->AddRef();
    });
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                             DISPID* ids) override {
    ITypeInfo* info = nullptr;
    HRESULT hr = ComBoundary([&] { info = TypeInfoFor(__uuidof(Iface)); });
    if (FAILED(hr)) return hr;
    return info->GetIDsOfNames(names, count, ids);
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excep, UINT* argErr) override {
    ITypeInfo* info = nullptr;
    HRESULT hr = ComBoundary([&] { info = TypeInfoFor(__uuidof(Iface)); });
    if (FAILED(hr)) return hr;
    return info->Invoke(static_cast<Iface*>(this), id, flags, params, result, excep, argErr);
  }
};

// Derived implements the members of Ifaces; the first interface is the default dispatch one.
template <class Derived, class First, class... Rest>
class ComObject : public DualImpl<First>, public DualImpl<Rest>..., public ISupportErrorInfo {
 public:
  ComObject() { ModuleAddRef(); }
  virtual ~ComObject() { ModuleRelease(); }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

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

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *out = static_cast<First*>(this);
    } else if (iid == IID_ISupportErrorInfo) {
      *out = static_cast<ISupportErrorInfo*>(this);
    } else if (iid == __uuidof(First)) {
      *out = static_cast<First*>(this);
    } else {
      ((iid == __uuidof(Rest) ? (void)(*out = static_cast<Rest*>(this)) : (void)0), ...);
    }
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG n = --refs_;
    if (n == 0) delete static_cast<Derived*>(this);
    return n;
  }
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override {
    if (iid == __uuidof(First)) return S_OK;
    return ((iid == __uuidof(Rest)) || ...) ? S_OK : S_FALSE;
  }

  // The default interface, for handing the object out as IDispatch.
  IDispatch* AsDispatch() { return static_cast<First*>(this); }

 private:
  std::atomic<ULONG> refs_{1};
};

}  // namespace qp

#include "dispatch_object.h"

#include <oleauto.h>

#include <new>

#include "com_server.h"

namespace standin {

bool Arguments::Given(UINT index) const {
  if (index >= params_.cArgs) return false;
  const VARIANT& v = Value(index);
  return !(V_VT(&v) == VT_ERROR && V_ERROR(&v) == DISP_E_PARAMNOTFOUND);
}

const VARIANT& Arguments::Value(UINT index) const {
  const VARIANT* v = Raw(index);
  if (V_VT(v) == (VT_VARIANT | VT_BYREF) && V_VARIANTREF(v)) v = V_VARIANTREF(v);
  return *v;
}

HRESULT Arguments::Mismatch(UINT index, HRESULT hr) const {
  if (argErr_) *argErr_ = params_.cArgs - 1 - index;
  return hr;
}

HRESULT Arguments::Coerce(UINT index, VARTYPE type, VARIANT& out) const {
  // VariantChangeTypeEx looks through VT_BYREF itself.
  HRESULT hr = VariantChangeTypeEx(&out, Raw(index), lcid_, 0, type);
  return FAILED(hr) ? Mismatch(index, hr) : hr;
}

HRESULT Arguments::Text(UINT index, std::wstring& out) const {
  VARIANT v;
  VariantInit(&v);
  HRESULT hr = Coerce(index, VT_BSTR, v);
  if (FAILED(hr)) return hr;
  out.assign(V_BSTR(&v) ? V_BSTR(&v) : L"", SysStringLen(V_BSTR(&v)));
  VariantClear(&v);
  return S_OK;
}

HRESULT Arguments::Int64(UINT index, std::int64_t& out) const {
  VARIANT v;
  VariantInit(&v);
  HRESULT hr = Coerce(index, VT_I8, v);
  if (FAILED(hr)) return hr;
  out = V_I8(&v);
  return S_OK;
}

HRESULT Arguments::Object(UINT index, IDispatch** out) const {
  *out = nullptr;
  const VARIANT& v = Value(index);
  IUnknown* unknown = nullptr;
  switch (V_VT(&v)) {
    case VT_DISPATCH:
      unknown = V_DISPATCH(&v);
      break;
    case VT_DISPATCH | VT_BYREF:
      unknown = V_DISPATCHREF(&v) ? *V_DISPATCHREF(&v) : nullptr;
      break;
    case VT_UNKNOWN:
      unknown = V_UNKNOWN(&v);
      break;
    case VT_UNKNOWN | VT_BYREF:
      unknown = V_UNKNOWNREF(&v) ? *V_UNKNOWNREF(&v) : nullptr;
      break;
    default:
      return Mismatch(index, DISP_E_TYPEMISMATCH);
  }
  if (!unknown) return Mismatch(index, DISP_E_TYPEMISMATCH);
  HRESULT hr = unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(out));
  return FAILED(hr) ? Mismatch(index, DISP_E_TYPEMISMATCH) : S_OK;
}

HRESULT ReturnText(VARIANT* result, std::wstring_view text) {
  if (!result) return S_OK;
  BSTR b = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!b) return E_OUTOFMEMORY;
  V_VT(result) = VT_BSTR;
  V_BSTR(result) = b;
  return S_OK;
}

HRESULT ReturnBool(VARIANT* result, bool value) {
  if (!result) return S_OK;
  V_VT(result) = VT_BOOL;
  V_BOOL(result) = value ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT ReturnLong(VARIANT* result, long value) {
  if (!result) return S_OK;
  V_VT(result) = VT_I4;
  V_I4(result) = value;
  return S_OK;
}

HRESULT ReturnObject(VARIANT* result, IDispatch* object) {
  if (!result) return S_OK;
  if (object) object->AddRef();
  V_VT(result) = VT_DISPATCH;
  V_DISPATCH(result) = object;
  return S_OK;
}

HRESULT ReturnCopy(VARIANT* result, const VARIANT& value) {
  if (!result) return S_OK;
  return VariantCopyInd(result, const_cast<VARIANT*>(&value));  // the API is not const-correct
}

DispatchObject::DispatchObject(const wchar_t* source, std::span<const Member> members)
    : source_(source), members_(members) {
  ObjectCreated();
}

DispatchObject::~DispatchObject() {
  ObjectDestroyed();
}

STDMETHODIMP DispatchObject::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IDispatch) {
    *out = static_cast<IDispatch*>(this);
  } else if (iid == IID_ISupportErrorInfo) {
    *out = static_cast<ISupportErrorInfo*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) DispatchObject::AddRef() {
  return ++refs_;
}

STDMETHODIMP_(ULONG) DispatchObject::Release() {
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP DispatchObject::InterfaceSupportsErrorInfo(REFIID iid) {
  return iid == IID_IDispatch ? S_OK : S_FALSE;
}

STDMETHODIMP DispatchObject::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

STDMETHODIMP DispatchObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  return DISP_E_BADINDEX;
}

// Extra names would be parameter names, and the members take positional arguments only.
STDMETHODIMP DispatchObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                           DISPID* ids) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (count == 0) return S_OK;
  if (!names || !ids) return E_POINTER;
  for (UINT i = 0; i < count; ++i)
    ids[i] = DISPID_UNKNOWN;
  if (!names[0]) return DISP_E_UNKNOWNNAME;
  for (const Member& m : members_) {
    if (CompareStringOrdinal(names[0], -1, m.name, -1, TRUE) == CSTR_EQUAL) {
      ids[0] = m.id;
      return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
  }
  return DISP_E_UNKNOWNNAME;
}

STDMETHODIMP DispatchObject::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                    DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                                    UINT* argErr) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  bool known = false;
  for (const Member& m : members_)
    known = known || m.id == id;
  if (!known) return DISP_E_MEMBERNOTFOUND;
  if (!params || (params->cArgs && !params->rgvarg)) return E_INVALIDARG;
  // The one named argument allowed is the value of a property put.
  if (params->cNamedArgs > 1) return DISP_E_NONAMEDARGS;
  if (params->cNamedArgs == 1 && (!IsPut(flags) || !params->rgdispidNamedArgs ||
                                  params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)) {
    return DISP_E_NONAMEDARGS;
  }
  if (result) VariantInit(result);
  try {
    return Call(id, flags, Arguments(*params, lcid, argErr), result, excep);
  } catch (const std::bad_alloc&) {
    if (result) VariantClear(result);
    return E_OUTOFMEMORY;
  }
}

HRESULT DispatchObject::Raise(const Failure& failure, EXCEPINFO* excep) const {
  ICreateErrorInfo* create = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&create))) {
    create->SetGUID(IID_IDispatch);
    create->SetSource(const_cast<LPOLESTR>(source_));
    create->SetDescription(const_cast<LPOLESTR>(failure.description.c_str()));
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
      SetErrorInfo(0, info);
      info->Release();
    }
    create->Release();
  }
  if (excep) {
    *excep = EXCEPINFO{};
    excep->scode = failure.scode;
    excep->bstrSource = SysAllocString(source_);
    excep->bstrDescription = SysAllocString(failure.description.c_str());
  }
  return DISP_E_EXCEPTION;
}

}  // namespace standin

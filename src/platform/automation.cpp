#include "automation.h"

#include <iterator>
#include <vector>

#include "error.h"
#include "product.h"

namespace qp::platform {

Bstr::Bstr(const std::wstring& s) : b_(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {
  if (!b_) throw std::bad_alloc();
}
Bstr::Bstr(const wchar_t* s) : Bstr(std::wstring(s ? s : L"")) {}
Bstr& Bstr::operator=(Bstr&& o) noexcept {
  if (this != &o) {
    SysFreeString(b_);
    b_ = std::exchange(o.b_, nullptr);
  }
  return *this;
}
BSTR* Bstr::Out() {
  SysFreeString(b_);
  b_ = nullptr;
  return &b_;
}

HRESULT ReturnString(const std::wstring& s, BSTR* out) noexcept {
  if (!out) return E_POINTER;
  *out = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

std::wstring Upper(std::wstring s) {
  if (!s.empty()) CharUpperBuffW(s.data(), static_cast<DWORD>(s.size()));
  return s;
}

std::wstring AnsiToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int len = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), len, nullptr, 0);
  std::wstring s(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), len, s.data(), n);
  return s;
}

std::string WideToAnsi(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int len = static_cast<int>(text.size());
  const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), len, nullptr, 0, nullptr, nullptr);
  std::string a(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), len, a.data(), n, nullptr, nullptr);
  return a;
}

std::wstring ToString(BSTR b) {
  return b ? std::wstring(b, SysStringLen(b)) : std::wstring();
}

Variant::Variant(const Variant& o) {
  VariantInit(&v_);
  Check(VariantCopy(&v_, const_cast<VARIANT*>(&o.v_)));
}
Variant& Variant::operator=(const Variant& o) {
  if (this != &o) Check(VariantCopy(&v_, const_cast<VARIANT*>(&o.v_)));
  return *this;
}
Variant Variant::FromString(const std::wstring& s) {
  Variant v;
  v.v_.vt = VT_BSTR;
  v.v_.bstrVal = Bstr(s).Detach();
  return v;
}
Variant Variant::FromLong(long n) {
  Variant v;
  v.v_.vt = VT_I4;
  v.v_.lVal = n;
  return v;
}
Variant Variant::FromShort(short n) {
  Variant v;
  v.v_.vt = VT_I2;
  v.v_.iVal = n;
  return v;
}
Variant Variant::FromBool(bool b) {
  Variant v;
  v.v_.vt = VT_BOOL;
  v.v_.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}
Variant Variant::FromObject(IDispatch* d) {
  Variant v;
  v.v_.vt = VT_DISPATCH;
  v.v_.pdispVal = d;
  if (d) d->AddRef();
  return v;
}
Variant Variant::ByRef(VARIANT* target) {
  Variant v;
  v.v_.vt = VT_VARIANT | VT_BYREF;
  v.v_.pvarVal = target;
  return v;
}

std::wstring Variant::AsString() const {
  if (v_.vt == VT_BSTR) return ToString(v_.bstrVal);
  if (v_.vt == VT_EMPTY) return std::wstring();
  VARIANT t;
  VariantInit(&t);
  Check(VariantChangeType(&t, const_cast<VARIANT*>(&v_), VARIANT_ALPHABOOL, VT_BSTR));
  std::wstring s = ToString(t.bstrVal);
  VariantClear(&t);
  return s;
}

long Variant::AsLong() const {
  if (v_.vt == VT_I4) return v_.lVal;
  VARIANT t;
  VariantInit(&t);
  Check(VariantChangeType(&t, const_cast<VARIANT*>(&v_), 0, VT_I4));
  return t.lVal;
}

bool Variant::AsBool() const {
  if (IsEmptyOrNull()) return false;
  VARIANT t;
  VariantInit(&t);
  Check(VariantChangeType(&t, const_cast<VARIANT*>(&v_), 0, VT_BOOL));
  return t.boolVal != VARIANT_FALSE;
}

ComPtr<IDispatch> Variant::AsObject() const {
  ComPtr<IDispatch> d;
  const VARIANT* v = &v_;
  if (v->vt == (VT_VARIANT | VT_BYREF)) v = v->pvarVal;
  if (v->vt == VT_DISPATCH) {
    d = v->pdispVal;
  } else if (v->vt == (VT_DISPATCH | VT_BYREF)) {
    d = *v->ppdispVal;
  } else if (v->vt == VT_UNKNOWN && v->punkVal) {
    Check(v->punkVal->QueryInterface(IID_PPV_ARGS(&d)));
  } else if (v->vt != VT_EMPTY && v->vt != VT_NULL && v->vt != VT_UNKNOWN) {
    Check(DISP_E_TYPEMISMATCH);
  }
  return d;
}

Variant Invoke(IDispatch* object, const wchar_t* member, WORD flags,
               std::initializer_list<Variant> args) {
  if (!object) RaiseObjectNotSet();
  DISPID id = 0;
  LPOLESTR name = const_cast<LPOLESTR>(member);
  HRESULT hr = object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
  Check(hr);
  return InvokeId(object, id, flags, args);
}

Variant InvokeId(IDispatch* object, DISPID id, WORD flags, std::initializer_list<Variant> args) {
  if (!object) RaiseObjectNotSet();
  // DISPPARAMS holds the arguments last to first; the members called take a few.
  VARIANT few[4];
  std::vector<VARIANT> many;
  VARIANT* reversed = few;
  if (args.size() > std::size(few)) {
    many.resize(args.size());
    reversed = many.data();
  }
  size_t i = args.size();
  for (const Variant& a : args)
    reversed[--i] = *a.Get();
  DISPPARAMS params = {args.size() ? reversed : nullptr, nullptr, static_cast<UINT>(args.size()),
                       0};
  DISPID named = DISPID_PROPERTYPUT;
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.rgdispidNamedArgs = &named;
    params.cNamedArgs = 1;
  }
  return InvokeId(object, id, flags, params);
}

Variant InvokeId(IDispatch* object, DISPID id, WORD flags, DISPPARAMS& params) {
  if (!object) RaiseObjectNotSet();
  Variant result;
  EXCEPINFO excep = {};
  UINT argErr = 0;
  HRESULT hr = object->Invoke(
      id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
      (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) ? nullptr : result.Out(), &excep,
      &argErr);
  if (hr == DISP_E_EXCEPTION) {
    if (excep.pfnDeferredFillIn) excep.pfnDeferredFillIn(&excep);
    Error e;
    HRESULT code = excep.scode ? excep.scode : (excep.wCode ? 0x800A0000 | excep.wCode : E_FAIL);
    e.number = HresultToErrorNumber(code);
    e.source = ToString(excep.bstrSource);
    e.description = ToString(excep.bstrDescription);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    if (e.source.empty()) e.source = kLibraryName;
    Raise(std::move(e));
  }
  if (FAILED(hr)) RaiseComError(hr, nullptr, IID_NULL);
  return result;
}

void Put(IDispatch* object, const wchar_t* member, const Variant& value) {
  Invoke(object, member, DISPATCH_PROPERTYPUT, {value});
}

LateBound& LateBound::operator=(ComPtr<IDispatch> object) {
  if (object.Get() != object_.Get()) ids_.clear();
  object_ = std::move(object);
  return *this;
}

void LateBound::Reset() {
  object_.Reset();
  ids_.clear();
}

DISPID LateBound::IdOf(const wchar_t* member) {
  if (!object_) RaiseObjectNotSet();
  for (const auto& [name, id] : ids_)
    if (name == member) return id;
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR name = const_cast<LPOLESTR>(member);
  Check(object_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id));
  ids_.emplace_back(member, id);
  return id;
}

Variant LateBound::Call(const wchar_t* member, std::initializer_list<Variant> args) {
  return InvokeId(object_.Get(), IdOf(member), DISPATCH_METHOD | DISPATCH_PROPERTYGET, args);
}

ComPtr<IDispatch> CreateObject(const std::wstring& progId) {
  CLSID clsid;
  Check(CLSIDFromProgID(progId.c_str(), &clsid));
  ComPtr<IDispatch> object;
  Check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                         IID_PPV_ARGS(&object)));
  return object;
}

}  // namespace qp::platform

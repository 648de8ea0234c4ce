// Small RAII wrappers over BSTR and VARIANT, and late-bound calls by member name, the way the
// component reaches the host's objects and the Norvane components.
#pragma once

#include <oaidl.h>
#include <windows.h>
#include <wrl/client.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace qp {
// COM pointers of every layer are WRL's.
using Microsoft::WRL::ComPtr;
}  // namespace qp

namespace qp::platform {

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const std::wstring& s);
  explicit Bstr(const wchar_t* s);
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  Bstr(Bstr&& o) noexcept : b_(std::exchange(o.b_, nullptr)) {}
  Bstr& operator=(Bstr&& o) noexcept;
  ~Bstr() { SysFreeString(b_); }
  BSTR Get() const { return b_; }
  BSTR* Out();  // frees the held string first
  BSTR Detach() { return std::exchange(b_, nullptr); }
  std::wstring Str() const { return b_ ? std::wstring(b_, SysStringLen(b_)) : std::wstring(); }

 private:
  BSTR b_ = nullptr;
};

// A text out-parameter for the caller: a new string it owns.
HRESULT ReturnString(const std::wstring& s, BSTR* out) noexcept;
std::wstring ToString(BSTR b);
// The text upper-cased as the platform upper-cases a BSTR (not ASCII only).
std::wstring Upper(std::wstring s);
// Text in the ANSI code page, which the platform's "A" functions take and give.
std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const std::wstring& text);

class Variant {
 public:
  Variant() { VariantInit(&v_); }
  Variant(const Variant& o);
  Variant& operator=(const Variant& o);
  Variant(Variant&& o) noexcept : v_(o.v_) { o.v_.vt = VT_EMPTY; }
  ~Variant() { VariantClear(&v_); }
  static Variant FromString(const std::wstring& s);
  static Variant FromLong(long n);
  static Variant FromShort(short n);
  static Variant FromBool(bool b);
  static Variant FromObject(IDispatch* d);  // AddRefs
  static Variant ByRef(VARIANT* target);
  VARIANT* Get() { return &v_; }
  const VARIANT* Get() const { return &v_; }
  VARIANT* Out() {
    VariantClear(&v_);
    return &v_;
  }
  VARTYPE Vt() const { return v_.vt; }
  bool IsEmptyOrNull() const { return v_.vt == VT_EMPTY || v_.vt == VT_NULL; }
  // Conversions as automation does them; raise the conversion's error.
  std::wstring AsString() const;
  long AsLong() const;
  bool AsBool() const;                 // null and empty count as False
  ComPtr<IDispatch> AsObject() const;  // null for Nothing

 private:
  VARIANT v_;
};

// Member access by name at run time. Arguments are given first to last.
Variant Invoke(IDispatch* object, const wchar_t* member, WORD flags,
               std::initializer_list<Variant> args = {});
// A method or a property read: automation lets the object decide which the member is.
inline Variant Call(IDispatch* object, const wchar_t* member,
                    std::initializer_list<Variant> args = {}) {
  return Invoke(object, member, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args);
}
void Put(IDispatch* object, const wchar_t* member, const Variant& value);
// A member whose dispatch id is known; or with its arguments laid out already (last to first,
// the value of a property put named).
Variant InvokeId(IDispatch* object, DISPID id, WORD flags, std::initializer_list<Variant> args);
Variant InvokeId(IDispatch* object, DISPID id, WORD flags, DISPPARAMS& params);

// An automation object that its owner keeps and calls by member name again and again. The
// dispatch ids the object gave are kept with the reference: an object's ids stay the same for
// as long as it lives (the contract of IDispatch), and another object starts with none.
class LateBound {
 public:
  LateBound() = default;
  LateBound(ComPtr<IDispatch> object) : object_(std::move(object)) {}
  LateBound& operator=(ComPtr<IDispatch> object);
  IDispatch* Get() const { return object_.Get(); }
  explicit operator bool() const { return object_ != nullptr; }
  void Reset();

  // As the free Call (method or property get), the member's id asked of the object once.
  Variant Call(const wchar_t* member, std::initializer_list<Variant> args = {});
  // The member's id; raises the object's refusal as a name look-up does, and keeps no refusal.
  DISPID IdOf(const wchar_t* member);

 private:
  ComPtr<IDispatch> object_;
  std::vector<std::pair<std::wstring, DISPID>> ids_;
};

// CreateObject(progId) for an in-process or local automation server.
ComPtr<IDispatch> CreateObject(const std::wstring& progId);

}  // namespace qp::platform

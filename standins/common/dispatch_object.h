// Late-bound automation objects without a type library: IDispatch over a table of member names,
// case-insensitive as automation names are, with positional arguments and errors raised as
// automation exceptions (EXCEPINFO and the thread's error object).
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <span>
#include <string>

namespace standin {

struct Member {
  const wchar_t* name;
  DISPID id;
};

// A call that failed: raised as an automation error with this code and description.
struct Failure {
  HRESULT scode;
  std::wstring description;
};

// Positional arguments of one call, first to last (DISPPARAMS holds them last to first). For a
// property put the value is the last argument.
class Arguments {
 public:
  Arguments(const DISPPARAMS& params, LCID lcid, UINT* argErr)
      : params_(params), lcid_(lcid), argErr_(argErr) {}

  UINT Count() const { return params_.cArgs; }
  bool CountIn(UINT least, UINT most) const { return Count() >= least && Count() <= most; }

  // An optional argument the caller left out arrives as VT_ERROR / DISP_E_PARAMNOTFOUND.
  bool Given(UINT index) const;
  // The argument itself, looked through one level of VT_BYREF | VT_VARIANT.
  const VARIANT& Value(UINT index) const;

  HRESULT Text(UINT index, std::wstring& out) const;
  HRESULT Int64(UINT index, std::int64_t& out) const;
  // An object argument (VT_DISPATCH or VT_UNKNOWN, by value or by reference); AddRef'ed.
  HRESULT Object(UINT index, IDispatch** out) const;

 private:
  VARIANT* Raw(UINT index) const { return &params_.rgvarg[params_.cArgs - 1 - index]; }
  HRESULT Coerce(UINT index, VARTYPE type, VARIANT& out) const;
  HRESULT Mismatch(UINT index, HRESULT hr) const;

  const DISPPARAMS& params_;
  LCID lcid_;
  UINT* argErr_;
};

// Results; each returns S_OK or E_OUTOFMEMORY. A null result (caller wants none) is fine.
HRESULT ReturnText(VARIANT* result, std::wstring_view text);
HRESULT ReturnBool(VARIANT* result, bool value);
HRESULT ReturnLong(VARIANT* result, long value);
HRESULT ReturnObject(VARIANT* result, IDispatch* object);  // AddRef'ed into the result
HRESULT ReturnCopy(VARIANT* result, const VARIANT& value);

// The objects of every stand-in: reference counting, the module's object count, error info
// support, and dispatch by name to Call().
class DispatchObject : public IDispatch, public ISupportErrorInfo {
 public:
  DispatchObject(const DispatchObject&) = delete;
  DispatchObject& operator=(const DispatchObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override;
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* excep, UINT* argErr) override;

 protected:
  // source names the object in raised errors; members are the names it answers.
  DispatchObject(const wchar_t* source, std::span<const Member> members);
  virtual ~DispatchObject();

  // One call of a member of the table (or DISPID_VALUE / DISPID_NEWENUM when listed). flags is
  // the caller's; result is initialised to VT_EMPTY or null.
  virtual HRESULT Call(DISPID id, WORD flags, const Arguments& args, VARIANT* result,
                       EXCEPINFO* excep) = 0;

  HRESULT Raise(const Failure& failure, EXCEPINFO* excep) const;

  static bool IsGet(WORD flags) { return flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET); }
  static bool IsPut(WORD flags) { return flags & DISPATCH_PROPERTYPUT; }

 private:
  const wchar_t* source_;
  std::span<const Member> members_;
  std::atomic<ULONG> refs_{1};
};

}  // namespace standin

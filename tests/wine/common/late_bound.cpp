#include "late_bound.h"

#include <gtest/gtest.h>

#include <vector>

#include "wine_test_env.h"

namespace qp::test {
namespace {

constexpr WORD kCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

// Invoke's answer and any raised error; the result in *result.
CallError InvokeByName(IDispatch* object, const wchar_t* member, WORD flags,
                       std::initializer_list<Variant> args, VARIANT* result) {
  CallError f;
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR name = const_cast<LPOLESTR>(member);
  f.hr = object ? object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id) : E_POINTER;
  if (FAILED(f.hr)) {
    f.code = f.hr;
    return f;
  }
  // DISPPARAMS holds the arguments last to first; a property write names its value.
  std::vector<VARIANT> reversed;
  for (auto it = args.end(); it != args.begin();)
    reversed.push_back(*(--it)->Get());
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params = {reversed.data(), flags == DISPATCH_PROPERTYPUT ? &put : nullptr,
                       static_cast<UINT>(reversed.size()), flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
  EXCEPINFO error = {};
  f.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &error, nullptr);
  f.code = error.scode ? error.scode : f.hr;
  f.source = Take(error.bstrSource);
  f.description = Take(error.bstrDescription);
  SysFreeString(error.bstrHelpFile);
  return f;
}

void ExpectCalled(const CallError& f, const wchar_t* member, std::source_location at) {
  if (FAILED(f.hr))
    ADD_FAILURE_AT(at.file_name(), static_cast<int>(at.line()))
        << Narrow(member) << " failed: 0x" << std::hex << f.hr << " " << Narrow(f.description);
}

}  // namespace

Variant ByName(IDispatch* object, const wchar_t* member, std::initializer_list<Variant> args,
               std::source_location caller) {
  Variant result;
  ExpectCalled(InvokeByName(object, member, kCall, args, result.Out()), member, caller);
  return result;
}

void PutByName(IDispatch* object, const wchar_t* member, const Variant& value,
               std::source_location caller) {
  ExpectCalled(InvokeByName(object, member, DISPATCH_PROPERTYPUT, {value}, nullptr), member,
               caller);
}

CallError FailureOf(IDispatch* object, const wchar_t* member, std::initializer_list<Variant> args) {
  Variant result;
  return InvokeByName(object, member, kCall, args, result.Out());
}

}  // namespace qp::test

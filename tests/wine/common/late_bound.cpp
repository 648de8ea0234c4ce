#include "late_bound.h"

#include <gtest/gtest.h>

#include <vector>

#include "wine_test_env.h"

namespace qp::test {
namespace {

// Invoke's answer, the result in *result and any raised error in *error.
HRESULT InvokeByName(IDispatch* object, const wchar_t* member, WORD flags,
                     std::initializer_list<Variant> args, VARIANT* result, EXCEPINFO* error) {
  if (!object) return E_POINTER;
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR name = const_cast<LPOLESTR>(member);
  if (HRESULT hr = object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id); FAILED(hr))
    return hr;
  // DISPPARAMS holds the arguments last to first; a property write names its value.
  std::vector<VARIANT> reversed;
  for (auto it = args.end(); it != args.begin();)
    reversed.push_back(*(--it)->Get());
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params = {reversed.data(), flags == DISPATCH_PROPERTYPUT ? &put : nullptr,
                       static_cast<UINT>(reversed.size()), flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, error, nullptr);
}

void ExpectCalled(HRESULT hr, EXCEPINFO& error, const wchar_t* member, std::source_location at) {
  const std::wstring said = error.bstrDescription ? error.bstrDescription : L"";
  SysFreeString(error.bstrSource);
  SysFreeString(error.bstrDescription);
  SysFreeString(error.bstrHelpFile);
  if (FAILED(hr))
    ADD_FAILURE_AT(at.file_name(), static_cast<int>(at.line()))
        << Narrow(member) << " failed: 0x" << std::hex << hr << " " << Narrow(said);
}

}  // namespace

Variant ByName(IDispatch* object, const wchar_t* member, std::initializer_list<Variant> args,
               std::source_location caller) {
  Variant result;
  EXCEPINFO error = {};
  const HRESULT hr = InvokeByName(object, member, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args,
                                  result.Out(), &error);
  ExpectCalled(hr, error, member, caller);
  return result;
}

void PutByName(IDispatch* object, const wchar_t* member, const Variant& value,
               std::source_location caller) {
  EXCEPINFO error = {};
  const HRESULT hr = InvokeByName(object, member, DISPATCH_PROPERTYPUT, {value}, nullptr, &error);
  ExpectCalled(hr, error, member, caller);
}

CallError FailureOf(IDispatch* object, const wchar_t* member, std::initializer_list<Variant> args) {
  Variant result;
  EXCEPINFO error = {};
  CallError failure;
  failure.hr = InvokeByName(object, member, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args,
                            result.Out(), &error);
  failure.code = error.scode ? error.scode : failure.hr;
  failure.source = error.bstrSource ? error.bstrSource : L"";
  failure.description = error.bstrDescription ? error.bstrDescription : L"";
  SysFreeString(error.bstrSource);
  SysFreeString(error.bstrDescription);
  SysFreeString(error.bstrHelpFile);
  return failure;
}

}  // namespace qp::test

// Members called by name as a script calls them (GetIDsOfNames, then Invoke), written apart from
// the product's own late-bound calls so that a fault in those shows here instead of being shared.
// A call that fails fails the test at the caller's line and gives an empty value.
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <initializer_list>
#include <source_location>
#include <string>

#include "platform/automation.h"

namespace qp::test {

using qp::ComPtr;
using qp::platform::Variant;

// A method or a property read; the arguments first to last.
Variant ByName(IDispatch* object, const wchar_t* member, std::initializer_list<Variant> args = {},
               std::source_location caller = std::source_location::current());
// A property write.
void PutByName(IDispatch* object, const wchar_t* member, const Variant& value,
               std::source_location caller = std::source_location::current());

// What a call that raised an error handed back.
struct CallError {
  HRESULT hr = S_OK;  // Invoke's own answer (DISP_E_EXCEPTION when the object raised one)
  SCODE code = S_OK;  // the raised error
  std::wstring source, description;
};
// A call expected to fail (a method or property read): how it failed.
CallError FailureOf(IDispatch* object, const wchar_t* member,
                    std::initializer_list<Variant> args = {});

}  // namespace qp::test

// Calls from a stand-in to another automation object by member name, as a script would.
#pragma once

#include <oaidl.h>

#include <initializer_list>

namespace standin {

// Arguments first to last; result may be null. Returns the call's own result code.
HRESULT CallByName(IDispatch* object, const wchar_t* name, WORD flags,
                   std::initializer_list<VARIANT> args, VARIANT* result);

inline VARIANT TextArgument(BSTR text) {
  VARIANT v;
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = text;
  return v;
}

inline VARIANT LongArgument(long value) {
  VARIANT v;
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  return v;
}

}  // namespace standin

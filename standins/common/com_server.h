// The in-process server shared by the stand-in DLLs: one class factory per class, the unload
// counts, and self-registration of ProgID, CLSID and InprocServer32 (apartment threaded).
#pragma once

#include <windows.h>

#include <span>

namespace standin {

struct ServerClass {
  const wchar_t* progId;
  CLSID clsid;
  const wchar_t* description;
  HRESULT (*create)(REFIID iid, void** out);  // a new object answering iid
};

// Defined once by every DLL: the classes it serves.
std::span<const ServerClass> ServerClasses();

// Live objects keep the DLL loaded.
void ObjectCreated() noexcept;
void ObjectDestroyed() noexcept;

// A new object of type T (default-constructed, reference count 1), queried for iid.
template <class T>
HRESULT CreateObject(REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  T* object = nullptr;
  try {
    object = new T;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  HRESULT hr = object->QueryInterface(iid, out);
  object->Release();  // the caller's reference, if any, is now the only one
  return hr;
}

}  // namespace standin

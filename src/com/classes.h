// Creation functions of the server's classes, for the class factory and for one another.
#pragma once

#include <windows.h>

#include <span>

namespace qp::com {

HRESULT CreateRecognizer(REFIID iid, void** out) noexcept;
HRESULT CreateAction(REFIID iid, void** out) noexcept;
// The Controller with the terms dialog: the engine and the store below it know no window.
HRESULT CreateController(REFIID iid, void** out) noexcept;
// The terms dialog as verb 2 opens it, over a Controller made for the calling thread (its
// resource strings loaded for that thread, its store shared with no other apartment); modal on
// that thread. Failures are shown as verb 2's are, never passed on.
void MaintainTermsOnCallingThread() noexcept;

// The creatable classes, for the class factory and self-registration.
using CreateFunction = HRESULT (*)(REFIID iid, void** out) noexcept;
struct ServerClass {
  const CLSID* clsid;
  const wchar_t* progId;
  const wchar_t* description;
  CreateFunction create;
};
std::span<const ServerClass> ServerClasses();

}  // namespace qp::com

// The one error convention of the component: a failure is an error with number, source and
// description. Inner operations put their name in front of the source and raise it again;
// outer operations report it and return their result as far as it was set.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <string>

namespace qp::platform {

// The component's own error numbers (object-error base 0x80040000 plus 514 to 518) and the
// list control's refusal of a taken key.
inline constexpr long kErrBadVerb = static_cast<long>(0x80040202);
inline constexpr long kErrMissingComponent = static_cast<long>(0x80040203);
inline constexpr long kErrNotTemplate = static_cast<long>(0x80040204);
inline constexpr long kErrConfigParse = static_cast<long>(0x80040205);
inline constexpr long kErrEmptyValue = static_cast<long>(0x80040206);
inline constexpr long kErrKeyNotUnique = 35602;

// What travels when an operation fails. Thrown by value, caught by reference.
struct Error {
  long number = 0;
  std::wstring source;
  std::wstring description;
};

// The calling thread's current error: the one raised last on this thread.
const Error& CurrentError();
void SetCurrentError(const Error& error);

// Raises exactly what it is given (and makes it the current error). Every raiser below ends
// here, inline: clang-tidy's exception-escape check follows calls only into code it can see,
// so each raise must show its throw in the file that calls it.
[[noreturn]] inline void Raise(Error error) {
  SetCurrentError(error);
  throw error;
}

// The error RaiseError raises, with the convention's defaults: number 0 keeps the current
// number, a mapped number gets its localized message (formatted with extra), an empty
// description keeps the current one, an empty source keeps the current source.
Error ConventionError(long number, const std::wstring& source, const std::wstring& description,
                      const std::wstring& extra);
[[noreturn]] inline void RaiseError(long number, const std::wstring& source,
                                    const std::wstring& description, const std::wstring& extra) {
  Raise(ConventionError(number, source, description, extra));
}
// An object that is not there was used (automation's error 91).
inline constexpr long kErrObjectNotSet = 91;
inline constexpr long kErrOverflow = 6;
Error ObjectNotSetError();
[[noreturn]] inline void RaiseObjectNotSet() {
  Raise(ObjectNotSetError());
}
// Inside a catch: makes whatever was caught the current error (a C++ failure that is not an
// Error becomes one) and returns it.
const Error& AdoptCurrentException() noexcept;
// Context + ": " in front of the current error's source; raises nothing.
void PrefixErrorSource(const std::wstring& context);
// Inside a catch: what was caught, with the operation's name ("Name()") and ": " in front of its
// source and `where` (when given) after its description, after a space.
Error PassedOnError(const std::wstring& name, const std::wstring& where);
// Inside a catch: what was caught goes on to the caller, named as PassedOnError names it. The
// one way an operation that works for another passes a failure on.
[[noreturn]] inline void PassOn(const std::wstring& name, const std::wstring& where = {}) {
  Raise(PassedOnError(name, where));
}

long ErrorMessageId(long number);

// The system's text for a failure code, as a failure without a description of its own shows.
std::wstring SystemMessage(HRESULT hr);
// A failed HRESULT from a call into COM, carrying the callee's error information when it set
// any; RaiseComError raises it.
Error ComError(HRESULT hr, IUnknown* callee, REFIID iid);
[[noreturn]] inline void RaiseComError(HRESULT hr, IUnknown* callee, REFIID iid) {
  Raise(ComError(hr, callee, iid));
}
inline void Check(HRESULT hr) {
  if (FAILED(hr)) RaiseComError(hr, nullptr, IID_NULL);
}
// An error number as a COM result and back (small positive numbers travel in the 0x800A
// facility, as automation clients expect).
HRESULT ErrorNumberToHresult(long number);
long HresultToErrorNumber(HRESULT hr);

// Turns the current C++ exception (inside a catch) into a COM failure result with IErrorInfo.
HRESULT ReportToCaller() noexcept;

// Runs body; whatever escapes becomes the COM method's failure result with error information.
template <class Body>
HRESULT ComBoundary(Body&& body) noexcept {
  try {
    body();
    return S_OK;
  } catch (...) {
    return ReportToCaller();
  }
}

// The same for the operations that report rather than raise: a failure of body becomes the
// current error and goes to report, and only what escapes report reaches the caller.
template <class Body, class Report>
HRESULT ComBoundary(Body&& body, Report&& report) noexcept {
  return ComBoundary([&] {
    try {
      body();
    } catch (...) {
      AdoptCurrentException();
      report();
    }
  });
}

}  // namespace qp::platform

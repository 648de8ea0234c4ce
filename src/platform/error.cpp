#include "platform/error.h"

#include <oleauto.h>

#include <new>

#include "platform/automation.h"
#include "platform/product.h"
#include "platform/strings.h"

namespace qp::platform {
namespace {

thread_local Error g_current;
thread_local bool g_hasCurrent = false;

}  // namespace

std::wstring SystemMessage(HRESULT hr) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring s;
  if (n && text) s.assign(text, n);
  LocalFree(text);
  while (!s.empty() && (s.back() == L'\n' || s.back() == L'\r' || s.back() == L' '))
    s.pop_back();
  if (s.empty()) {
    wchar_t buf[32];
    wsprintfW(buf, L"Error 0x%08X", static_cast<unsigned>(hr));
    s = buf;
  }
  return s;
}

const Error& CurrentError() {
  return g_current;
}

void SetCurrentError(const Error& error) {
  g_current = error;
  g_hasCurrent = true;
}

Error ObjectNotSetError() {
  return {kErrObjectNotSet, kLibraryName, L"Object variable or With block variable not set"};
}

const Error& AdoptCurrentException() noexcept {
  try {
    throw;
  } catch (const Error& e) {
    g_current = e;
  } catch (const std::bad_alloc&) {
    g_current = {static_cast<long>(E_OUTOFMEMORY), kLibraryName, L"Out of memory"};
  } catch (...) {
    g_current = {static_cast<long>(E_UNEXPECTED), kLibraryName, L"Catastrophic failure"};
  }
  g_hasCurrent = true;
  return g_current;
}

long ErrorMessageId(long number) {
  switch (number) {
    case kErrMissingComponent:
      return kMsgMissingComponent;
    case kErrEmptyValue:
      return kMsgEmptyValue;
    case kErrKeyNotUnique:
      return kMsgTermExists;
    default:
      return 0;
  }
}

Error ConventionError(long number, const std::wstring& source, const std::wstring& description,
                      const std::wstring& extra) {
  Error e;
  e.number = number != 0 ? number : g_current.number;
  if (long id = ErrorMessageId(e.number)) {
    e.description = GetResourceString(static_cast<UINT>(id), {extra});
  } else {
    e.description = description.empty() ? g_current.description : description;
  }
  if (!source.empty()) {
    e.source = source;
  } else {
    e.source = g_hasCurrent ? g_current.source : std::wstring(kLibraryName);
  }
  return e;
}

void PrefixErrorSource(const std::wstring& context) {
  g_current.source = context + L": " + g_current.source;
}

Error PassedOnError(const std::wstring& name, const std::wstring& where) {
  AdoptCurrentException();
  PrefixErrorSource(name);
  if (!where.empty()) g_current.description += L" " + where;
  return ConventionError(0, L"", L"", L"");
}

HRESULT ErrorNumberToHresult(long number) {
  if (number < 0) return static_cast<HRESULT>(number);
  if (number == 0) return E_FAIL;
  return static_cast<HRESULT>(0x800A0000u | (static_cast<unsigned long>(number) & 0xFFFFu));
}

long HresultToErrorNumber(HRESULT hr) {
  if ((static_cast<unsigned long>(hr) & 0xFFFF0000u) == 0x800A0000u) return hr & 0xFFFF;
  return static_cast<long>(hr);
}

Error ComError(HRESULT hr, IUnknown* callee, REFIID iid) {
  Error e;
  e.number = HresultToErrorNumber(hr);
  bool hasInfo = true;
  if (callee) {
    ComPtr<ISupportErrorInfo> support;
    hasInfo = SUCCEEDED(callee->QueryInterface(IID_PPV_ARGS(&support))) &&
              support->InterfaceSupportsErrorInfo(iid) == S_OK;
  }
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, &info) == S_OK && info && hasInfo) {
    Bstr source, description;
    info->GetSource(source.Out());
    info->GetDescription(description.Out());
    e.source = source.Str();
    e.description = description.Str();
  }
  if (e.source.empty()) e.source = kLibraryName;
  if (e.description.empty()) e.description = SystemMessage(hr);
  return e;
}

HRESULT ReportToCaller() noexcept {
  Error e = AdoptCurrentException();
  if (e.description.empty()) e.description = SystemMessage(ErrorNumberToHresult(e.number));
  if (e.source.empty()) e.source = kLibraryName;
  ComPtr<ICreateErrorInfo> create;
  if (SUCCEEDED(CreateErrorInfo(&create))) {
    create->SetGUID(IID_NULL);
    create->SetSource(const_cast<LPOLESTR>(e.source.c_str()));
    create->SetDescription(const_cast<LPOLESTR>(e.description.c_str()));
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.As(&info))) SetErrorInfo(0, info.Get());
  }
  return ErrorNumberToHresult(e.number);
}

}  // namespace qp::platform

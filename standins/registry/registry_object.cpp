
// The registry object: getValue and setValue over the current user's and the machine's hives,
// reached late-bound only.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "../common/com_server.h"
#include "../common/dispatch_object.h"
#include "hivereg_ids.h"

namespace hivereg {
namespace {

using standin::Arguments;
using standin::Failure;

enum : DISPID { kGetValue = 1, kSetValue = 2 };

const standin::Member kMembers[] = {
    {L"getValue", kGetValue},  // hive, key, valueName [, default]
    {L"setValue", kSetValue},  // hive, key, valueName, value
};

std::wstring SystemMessage(LONG error) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n ? std::wstring(text, n) : std::wstring();
  LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.')) {
    message.pop_back();
  }
  if (message.empty()) message = L"error " + std::to_wstring(error);
  return message;
}

struct Hive {
  HKEY handle;
  const wchar_t* name;
};

bool ResolveHive(std::int64_t number, Hive& hive) {
  if (number < INT32_MIN || number > UINT32_MAX) return false;
  switch (static_cast<std::uint32_t>(number)) {
    case 0x80000001u:
      hive = {HKEY_CURRENT_USER, L"HKEY_CURRENT_USER"};
      return true;
    case 0x80000002u:
      hive = {HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE"};
      return true;
    default:
      return false;
  }
}

Failure UnknownHive(std::int64_t number) {
  wchar_t text[160];
  std::swprintf(text, sizeof text / sizeof *text,
                L"Unknown registry hive 0x%08X: use HKEY_CURRENT_USER (0x80000001) or "
                L"HKEY_LOCAL_MACHINE (0x80000002)",
                static_cast<unsigned>(number));
  return {HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER), text};
}

std::wstring Where(const Hive& hive, const std::wstring& key, const std::wstring& name) {
  return L"value \"" + name + L"\" of key \"" + hive.name + L"\\" + key + L"\"";
}

Failure RegistryFailure(LONG error, const wchar_t* action, const Hive& hive,
                        const std::wstring& key, const std::wstring& name) {
  return {HRESULT_FROM_WIN32(error), std::wstring(L"Cannot ") + action + L" " +
                                         Where(hive, key, name) + L": " + SystemMessage(error)};
}

// The stored text of a REG_SZ or REG_EXPAND_SZ (environment references left as written), or a
// REG_DWORD in decimal. absent is set when the key or the value does not exist.
bool ReadValue(const Hive& hive, const std::wstring& key, const std::wstring& name,
               std::wstring& text, bool& absent, Failure& failure) {
  absent = false;
  HKEY opened = nullptr;
  LONG rc = RegOpenKeyExW(hive.handle, key.c_str(), 0, KEY_QUERY_VALUE, &opened);
  if (rc == ERROR_FILE_NOT_FOUND) {
    absent = true;
    return true;
  }
  if (rc != ERROR_SUCCESS) {
    failure = RegistryFailure(rc, L"open the key for", hive, key, name);
    return false;
  }
  std::vector<BYTE> data(256);
  DWORD type = REG_NONE;
  for (;;) {
    DWORD size = static_cast<DWORD>(data.size());
    rc = RegQueryValueExW(opened, name.c_str(), nullptr, &type, data.data(), &size);
    if (rc == ERROR_MORE_DATA) {
      data.resize(size);  // the value grew between the calls: ask again
      continue;
    }
    if (rc == ERROR_SUCCESS) data.resize(size);
    break;
  }
  RegCloseKey(opened);
  if (rc == ERROR_FILE_NOT_FOUND) {
    absent = true;
    return true;
  }
  if (rc != ERROR_SUCCESS) {
    failure = RegistryFailure(rc, L"read", hive, key, name);
    return false;
  }
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    // Stored strings need not be terminated; the text ends at the first null either way.
    const auto* chars = reinterpret_cast<const wchar_t*>(data.data());
    size_t length = data.size() / sizeof(wchar_t);
    size_t end = 0;
    while (end < length && chars[end] != L'\0')
      ++end;
    text.assign(chars, end);
    return true;
  }
  if (type == REG_DWORD && data.size() == sizeof(DWORD)) {
    DWORD number = 0;
    memcpy(&number, data.data(), sizeof number);
    text = std::to_wstring(number);
    return true;
  }
  failure = {HRESULT_FROM_WIN32(ERROR_UNSUPPORTED_TYPE),
             L"Cannot read " + Where(hive, key, name) + L": registry type " +
                 std::to_wstring(type) + L" is neither text nor a DWORD"};
  return false;
}

bool WriteValue(const Hive& hive, const std::wstring& key, const std::wstring& name,
                const std::wstring& value, Failure& failure) {
  HKEY created = nullptr;
  LONG rc = RegCreateKeyExW(hive.handle, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_SET_VALUE, nullptr, &created, nullptr);
  if (rc != ERROR_SUCCESS) {
    failure = RegistryFailure(rc, L"create the key for", hive, key, name);
    return false;
  }
  rc =
      RegSetValueExW(created, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(created);
  if (rc != ERROR_SUCCESS) {
    failure = RegistryFailure(rc, L"write", hive, key, name);
    return false;
  }
  return true;
}

class RegistryObject final : public standin::DispatchObject {
 public:
  RegistryObject() : DispatchObject(kProgId, kMembers) {}

 protected:
  HRESULT Call(DISPID id, WORD flags, const Arguments& args, VARIANT* result,
               EXCEPINFO* excep) override {
    if (!IsGet(flags)) return DISP_E_MEMBERNOTFOUND;
    if (id == kGetValue) {
      if (!args.CountIn(3, 4)) return DISP_E_BADPARAMCOUNT;
      return GetValue(args, result, excep);
    }
    if (!args.CountIn(4, 4)) return DISP_E_BADPARAMCOUNT;
    return SetValue(args, excep);
  }

 private:
  // The three leading arguments both members share.
  struct Target {
    Hive hive;
    std::wstring key;
    std::wstring name;
  };

  // Callers keep the predefined hive handles in a signed 32-bit Long, so 0x80000001 arrives
  // as -2147483647 as often as unsigned; widening to 64 bits accepts both spellings.
  HRESULT ReadTarget(const Arguments& args, Target& target, EXCEPINFO* excep) const {
    std::int64_t number = 0;
    HRESULT hr = args.Int64(0, number);
    if (SUCCEEDED(hr)) hr = args.Text(1, target.key);
    if (SUCCEEDED(hr)) hr = args.Text(2, target.name);
    if (FAILED(hr)) return hr;
    if (!ResolveHive(number, target.hive)) return Raise(UnknownHive(number), excep);
    return S_OK;
  }

  HRESULT GetValue(const Arguments& args, VARIANT* result, EXCEPINFO* excep) const {
    Target target;
    HRESULT hr = ReadTarget(args, target, excep);
    if (FAILED(hr)) return hr;
    std::wstring fallback;
    if (args.Given(3)) {
      hr = args.Text(3, fallback);
      if (FAILED(hr)) return hr;
    }
    std::wstring text;
    bool absent = false;
    Failure failure;
    if (!ReadValue(target.hive, target.key, target.name, text, absent, failure)) {
      return Raise(failure, excep);
    }
    return standin::ReturnText(result, absent ? fallback : text);
  }

  HRESULT SetValue(const Arguments& args, EXCEPINFO* excep) const {
    Target target;
    HRESULT hr = ReadTarget(args, target, excep);
    if (FAILED(hr)) return hr;
    std::wstring value;
    hr = args.Text(3, value);
    if (FAILED(hr)) return hr;
    Failure failure;
    if (!WriteValue(target.hive, target.key, target.name, value, failure)) {
      return Raise(failure, excep);
    }
    return S_OK;
  }
};

}  // namespace

HRESULT CreateRegistryObject(REFIID iid, void** out) noexcept {
  return standin::CreateObject<RegistryObject>(iid, out);
}

}  // namespace hivereg

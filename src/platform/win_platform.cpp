#include "platform/win_platform.h"

#include <windows.h>
#include <oleauto.h>

#include <memory>
#include <utility>
#include <vector>

namespace qp::platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");

void WindowsUpperCase(std::u16string& text) {
  if (!text.empty()) CharUpperBuffW(reinterpret_cast<wchar_t*>(text.data()), DWORD(text.size()));
}

bool WindowsVarDateFromStr(std::u16string_view candidate, std::u16string* dateText) {
  std::wstring in(reinterpret_cast<const wchar_t*>(candidate.data()), candidate.size());
  DATE value = 0;
  if (FAILED(VarDateFromStr(in.data(), LOCALE_USER_DEFAULT, 0, &value))) return false;
  if (dateText) {
    BSTR text = nullptr;
    if (FAILED(VarBstrFromDate(value, LOCALE_USER_DEFAULT, 0, &text))) return false;
    dateText->assign(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
    SysFreeString(text);
  }
  return true;
}

core::DateTokens UserDateTokens() {
  static const LCTYPE kTypes[] = {
      LOCALE_SMONTHNAME1,        LOCALE_SMONTHNAME2,        LOCALE_SMONTHNAME3,
      LOCALE_SMONTHNAME4,        LOCALE_SMONTHNAME5,        LOCALE_SMONTHNAME6,
      LOCALE_SMONTHNAME7,        LOCALE_SMONTHNAME8,        LOCALE_SMONTHNAME9,
      LOCALE_SMONTHNAME10,       LOCALE_SMONTHNAME11,       LOCALE_SMONTHNAME12,
      LOCALE_SMONTHNAME13,       LOCALE_SABBREVMONTHNAME1,  LOCALE_SABBREVMONTHNAME2,
      LOCALE_SABBREVMONTHNAME3,  LOCALE_SABBREVMONTHNAME4,  LOCALE_SABBREVMONTHNAME5,
      LOCALE_SABBREVMONTHNAME6,  LOCALE_SABBREVMONTHNAME7,  LOCALE_SABBREVMONTHNAME8,
      LOCALE_SABBREVMONTHNAME9,  LOCALE_SABBREVMONTHNAME10, LOCALE_SABBREVMONTHNAME11,
      LOCALE_SABBREVMONTHNAME12, LOCALE_SABBREVMONTHNAME13};
  std::vector<std::u16string> names;
  for (LCTYPE type : kTypes) {
    wchar_t buffer[128] = {};
    const int n = GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buffer, 128);
    if (n <= 1) continue;
    CharLowerBuffW(buffer, DWORD(n - 1));
    names.emplace_back(reinterpret_cast<const char16_t*>(buffer), size_t(n - 1));
  }
  // The English names too: harmless, and safe should the parser fall back to them.
  for (const auto& name : core::DateTokens::English().MonthNames())
    names.push_back(name);
  return core::DateTokens(std::move(names));
}

core::PlatformServices WindowsPlatform() {
  core::PlatformServices p;
  p.upperCase = &WindowsUpperCase;
  auto tokens = std::make_shared<const core::DateTokens>(UserDateTokens());
  p.toDate = [tokens](std::u16string_view candidate, std::u16string& dateText) {
    return core::MayBeDate(candidate, *tokens) && WindowsVarDateFromStr(candidate, &dateText);
  };
  return p;
}

}  // namespace qp::platform

#include "platform/settings.h"

#include "platform/registry_component.h"

namespace qp::platform {

std::wstring GetCacheFlushFlag() {
  const std::wstring none;
  return RegistryGetValue(kHiveCurrentUser, kSettingsKey, L"SmartTagCacheFlushFlag", &none);
}

std::wstring FormatCacheFlushStamp(const SYSTEMTIME& t, const std::wstring& sep) {
  wchar_t date[16];
  wsprintfW(date, L"%04u%02u%02u%02u", t.wYear, t.wMonth, t.wDay, t.wHour);
  wchar_t minute[4], second[4];
  wsprintfW(minute, L"%02u", t.wMinute);
  wsprintfW(second, L"%02u", t.wSecond);
  return std::wstring(date) + sep + minute + sep + second;
}

namespace {

std::wstring StampNow(const SYSTEMTIME& now) {
  wchar_t sep[8] = L":";
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, sep, 8) <= 0) lstrcpyW(sep, L":");
  return FormatCacheFlushStamp(now, sep);
}

void WriteCacheFlushFlag(const std::wstring& stamp) {
  RegistrySetValue(kHiveCurrentUser, kSettingsKey, L"SmartTagCacheFlushFlag", stamp);
}

}  // namespace

void SetCacheFlushFlag() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  WriteCacheFlushFlag(StampNow(now));
}

void SetCacheFlushFlagAfter(const SYSTEMTIME& moment) {
  const std::wstring then = StampNow(moment);
  for (;;) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    const std::wstring stamp = StampNow(now);
    if (stamp != then) return WriteCacheFlushFlag(stamp);
    Sleep(1001u - now.wMilliseconds);
  }
}

void MoveCacheFlushFlag() {
  // Read before the clock, so that the second compared with it is never older than its own.
  const std::wstring flag = GetCacheFlushFlag();
  SYSTEMTIME now;
  GetLocalTime(&now);
  const std::wstring stamp = StampNow(now);
  if (flag == stamp) return SetCacheFlushFlagAfter(now);
  WriteCacheFlushFlag(stamp);
}

}  // namespace qp::platform

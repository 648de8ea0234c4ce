// The component's settings in the registry: the machine-wide error switch's key and the user's
// term-cache stamp, which tells every engine of the user that the term list must be rebuilt.
#pragma once

#include <windows.h>

#include <string>

namespace qp::platform {

inline constexpr wchar_t kSettingsKey[] = L"Software\\Brantolu\\Norvane\\Quillpoint\\Smart Tag";

// Term-cache invalidation stamp, shared by every engine of the user.
std::wstring GetCacheFlushFlag();
void SetCacheFlushFlag();
// Writes the stamp of a moment later than `moment` by at least its second: when the clock
// still shows that second, waits for the next one (at most a second). An engine that took the
// flag as its stamp at or before `moment` thus finds the flag changed at its next check, even
// where it rebuilt in the very second of the moment.
void SetCacheFlushFlagAfter(const SYSTEMTIME& moment);
// Writes a stamp other than the flag's value: this second's, or, when the flag already holds
// this second, the next one's, waited for (at most a second). An engine may have rebuilt from
// the old state in the flag's second; it too finds the flag changed at its next check.
void MoveCacheFlushFlag();
// "YYYYMMDDHH:MM:SS" with the locale's time separator.
std::wstring FormatCacheFlushStamp(const SYSTEMTIME& time, const std::wstring& timeSeparator);

}  // namespace qp::platform

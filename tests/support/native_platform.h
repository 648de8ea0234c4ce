// Portable stand-ins for the Windows services, used natively (tests, fuzzing, benchmark).
//
// Upper-casing: the Unicode simple upper-case mapping of the BMP as glibc's C.UTF-8
// locale defines it (towupper_l); built for Windows, CharUpperBuffW's. Surrogates and
// unmapped units are kept.
//
// Dates: a small parser in the spirit of the en-US VarDateFromStr. It accepts
//   numeric dates      5/5/2026  12-31-99  2026/5/5  5/5 (current year)  5/2026 (month/year)
//   times              10:30  10:30:15  10:30 PM  10:30:15PM  5 PM  10:30 A
//   month names        MAY 5  5 MAY  MAY 5 2026  MAY 5, 2026  5 MAY 2026  JANUARY 2026
//                      (full English names, three-letter abbreviations and SEPT)
//   date and time      5/5/2026 10:30  10:30 5/5/2026
// Day names (MONDAY, MON, ...) are allowed and ignored. Two-digit years: < 30 is 20xx,
// otherwise 19xx. Numeric order tried: M/D/Y, then D/M/Y, then Y/M/D. Anything else is
// rejected, in particular every string without a digit or a month name.
// The text form is en-US general date: "5/5/2026", "10:30:00 PM", "5/5/2026 10:30:00 PM";
// the zero date (12/30/1899) prints as the time alone, midnight as the date alone.
#pragma once

#include "core/platform_services.h"

#include <optional>

namespace qp::core {

void NativeUpperCase(std::u16string& text);

struct DateTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
  bool operator==(const DateTime&) const = default;
};

// referenceYear is used where the text gives no year (0: the current year).
std::optional<DateTime> ParseNativeDate(std::u16string_view text, int referenceYear = 0);
std::u16string FormatNativeDate(const DateTime& value);

// Both services above; referenceYear as for ParseNativeDate.
PlatformServices NativePlatform(int referenceYear = 0);

}  // namespace qp::core

#include "native_platform.h"

#include "core/date_shortcut.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <locale.h>
#include <wctype.h>
#endif

#include <chrono>
#include <cstddef>
#include <memory>
#include <stdexcept>

namespace qp::core {

namespace {

// The BMP's simple upper-case mapping, one unit for one, read once into a full table: one load
// per unit in the hot loop. On Linux glibc's C.UTF-8 locale gives it (Debian's libc-bin always
// carries that locale); it keeps the surrogates, and so is a unit that would map beyond the BMP.
// Built for Windows (the benchmark there), it is the system's own, which the matcher uses there.
const char16_t* UpperTable() {
  static const std::unique_ptr<char16_t[]> kTable = [] {
    auto t = std::make_unique<char16_t[]>(0x10000);
    for (std::size_t c = 0; c < 0x10000; ++c)
      t[c] = char16_t(c);
#ifdef _WIN32
    CharUpperBuffW(reinterpret_cast<wchar_t*>(t.get()), 0x10000);
#else
    const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    if (!utf8) throw std::runtime_error("the C.UTF-8 locale is missing");
    for (std::size_t c = 0; c < 0x10000; ++c)
      if (const wint_t upper = towupper_l(wint_t(c), utf8); upper <= 0xFFFF) t[c] = char16_t(upper);
    freelocale(utf8);
#endif
    return t;
  }();
  return kTable.get();
}

int CurrentYear() {
  const auto now = std::chrono::system_clock::now();
  return int(std::chrono::year_month_day(std::chrono::floor<std::chrono::days>(now)).year());
}

// ---- native date parser -------------------------------------------------------------

struct Field {
  int value = 0;
  bool month = false;       // given as a month name
  bool timeJoined = false;  // followed by ':' (part of a time)
};

struct Parsed {
  Field fields[6];
  int count = 0;
  int ampm = 0;  // 1 AM, 2 PM
  int dateSeps = 0;
};

const char16_t* const kMonths[] = {u"JANUARY",   u"FEBRUARY", u"MARCH",    u"APRIL",
                                   u"MAY",       u"JUNE",     u"JULY",     u"AUGUST",
                                   u"SEPTEMBER", u"OCTOBER",  u"NOVEMBER", u"DECEMBER"};
const char16_t* const kDays[] = {u"SUNDAY",   u"MONDAY", u"TUESDAY", u"WEDNESDAY",
                                 u"THURSDAY", u"FRIDAY", u"SATURDAY"};

bool IsLetter(char16_t c) {
  return c >= u'A' && c <= u'Z';
}
bool IsDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}

// 1 + the index of the name that the word is, in full or its first three letters; 0 for none.
template <size_t N>
int NameNumber(std::u16string_view word, const char16_t* const (&names)[N]) {
  for (size_t i = 0; i < N; ++i) {
    const std::u16string_view name(names[i]);
    if (word == name || (word.size() == 3 && name.substr(0, 3) == word)) return int(i) + 1;
  }
  return 0;
}

// A month's name or SEPT.
int MonthOf(std::u16string_view word) {
  return word == u"SEPT" ? 9 : NameNumber(word, kMonths);
}

bool ValidDay(int day, int month, int year) {
  static const int kDays[] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month] || (month == 2 && day == 29 && leap);
}

bool Tokenize(std::u16string_view s, Parsed& p) {
  size_t i = 0;
  while (i < s.size()) {
    const char16_t c = s[i];
    if (IsDigit(c)) {
      if (p.count == 6) return false;
      long v = 0;
      size_t digits = 0;
      while (i < s.size() && IsDigit(s[i])) {
        if (++digits > 5) return false;
        v = v * 10 + (s[i++] - u'0');
      }
      p.fields[p.count++].value = int(v);
      continue;
    }
    if (IsLetter(c)) {
      size_t j = i;
      while (j < s.size() && IsLetter(s[j]))
        ++j;
      const std::u16string_view word = s.substr(i, j - i);
      i = j;
      if (int m = MonthOf(word)) {
        if (p.count == 6) return false;
        p.fields[p.count].value = m;
        p.fields[p.count++].month = true;
      } else if (word == u"AM" || word == u"A" || word == u"PM" || word == u"P") {
        if (p.count == 0 || p.ampm) return false;
        p.ampm = word[0] == u'A' ? 1 : 2;
      } else if (!NameNumber(word, kDays)) {
        return false;
      }
      continue;
    }
    if (c == u':') {
      if (p.count == 0 || i + 1 == s.size()) return false;
      p.fields[p.count - 1].timeJoined = true;
    } else if (c == u'/' || c == u'-') {
      if (p.count == 0 || i + 1 == s.size() || ++p.dateSeps > 2) return false;
    } else if (c != u' ' && c != u'\t' && c != u',') {
      return false;
    }
    ++i;
  }
  return p.count > 0;
}

// Date from up to three fields (month names fix the month's position).
bool MakeDate(const Field* f, int n, int referenceYear, DateTime& out) {
  auto accept = [&](int d, int m, int y) {
    if (y < 100) y += y < 30 ? 2000 : 1900;  // two-digit years
    if (y > 9999 || !ValidDay(d, m, y)) return false;
    out.day = d, out.month = m, out.year = y;
    return true;
  };
  if (n == 0) return true;  // time alone: the zero date
  if (n == 1) return false;
  const int a = f[0].value, b = f[1].value;
  if (n == 2) {
    if (f[0].month) return accept(b, a, referenceYear) || accept(1, a, b);
    if (f[1].month) return accept(a, b, referenceYear) || accept(1, b, a);
    return accept(b, a, referenceYear) || accept(a, b, referenceYear) || accept(1, a, b);
  }
  const int c = f[2].value;
  if (f[0].month) return accept(b, a, c);
  if (f[1].month) return accept(a, b, c) || accept(c, b, a);
  if (f[2].month) return false;
  return accept(b, a, c) || accept(a, b, c) || accept(c, b, a);
}

}  // namespace

void NativeUpperCase(std::u16string& text) {
  const char16_t* table = UpperTable();
  for (char16_t& c : text)
    c = table[c];
}

std::optional<DateTime> ParseNativeDate(std::u16string_view text, int referenceYear) {
  if (!MayBeDate(text)) return std::nullopt;
  std::u16string upper(text);
  NativeUpperCase(upper);
  Parsed p;
  if (!Tokenize(upper, p)) return std::nullopt;

  // The time is the run of fields joined by ':' (at the start or at the end), or a
  // single number directly followed by AM/PM.
  DateTime out;
  int first = 0, n = p.count;
  int timeStart = -1, timeLen = 0;
  for (int i = 0; i < p.count; ++i) {
    if (p.fields[i].timeJoined) {
      timeStart = i;
      timeLen = 1;
      while (i + timeLen < p.count && p.fields[i + timeLen - 1].timeJoined)
        ++timeLen;
      break;
    }
  }
  if (timeStart >= 0) {
    // The run ends on the field after its last ':', or there is no time.
    if (timeLen < 2 || p.fields[timeStart + timeLen - 1].timeJoined) return std::nullopt;
    if (timeLen > 3 || (timeStart != 0 && timeStart + timeLen != p.count)) return std::nullopt;
    for (int i = timeStart; i < timeStart + timeLen; ++i)
      if (p.fields[i].month) return std::nullopt;
    // A later ':' outside the run makes no sense.
    for (int i = timeStart + timeLen; i < p.count; ++i)
      if (p.fields[i].timeJoined) return std::nullopt;
    out.hour = p.fields[timeStart].value;
    out.minute = p.fields[timeStart + 1].value;
    out.second = timeLen == 3 ? p.fields[timeStart + 2].value : 0;
    first = timeStart == 0 ? timeLen : 0;
    n = p.count - timeLen;
  } else if (p.ampm) {
    if (p.fields[p.count - 1].month) return std::nullopt;
    out.hour = p.fields[p.count - 1].value;  // "5 PM", possibly after a date
    n = p.count - 1;
  }
  if (p.ampm) {
    if (out.hour < 1 || out.hour > 12) return std::nullopt;
    if (p.ampm == 2 && out.hour < 12) out.hour += 12;
    if (p.ampm == 1 && out.hour == 12) out.hour = 0;
  }
  if (out.hour > 23 || out.minute > 59 || out.second > 59) return std::nullopt;
  if (n > 3 || !MakeDate(p.fields + first, n, referenceYear ? referenceYear : CurrentYear(), out))
    return std::nullopt;
  return out;
}

std::u16string FormatNativeDate(const DateTime& v) {
  auto num = [](std::u16string& s, int x, int width) {
    char16_t buf[8];
    int len = 0;
    do {
      buf[len++] = char16_t(u'0' + x % 10);
      x /= 10;
    } while (x || len < width);
    while (len)
      s += buf[--len];
  };
  std::u16string s;
  const bool zeroDate = v.year == 1899 && v.month == 12 && v.day == 30;
  const bool midnight = v.hour == 0 && v.minute == 0 && v.second == 0;
  if (!zeroDate) {
    num(s, v.month, 1), s += u'/', num(s, v.day, 1), s += u'/', num(s, v.year, 1);
  }
  if (!midnight || zeroDate) {
    if (!s.empty()) s += u' ';
    const int h12 = v.hour % 12 == 0 ? 12 : v.hour % 12;
    num(s, h12, 1), s += u':', num(s, v.minute, 2), s += u':', num(s, v.second, 2);
    s += v.hour < 12 ? u" AM" : u" PM";
  }
  return s;
}

PlatformServices NativePlatform(int referenceYear) {
  PlatformServices p;
  p.upperCase = &NativeUpperCase;
  p.toDate = [referenceYear](std::u16string_view candidate, std::u16string& dateText) {
    auto value = ParseNativeDate(candidate, referenceYear);
    if (!value) return false;
    dateText = FormatNativeDate(*value);
    return true;
  };
  return p;
}

}  // namespace qp::core

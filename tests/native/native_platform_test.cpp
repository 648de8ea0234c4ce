#include "core/date_shortcut.h"
#include "native_platform.h"

#include <gtest/gtest.h>

#include <string>

namespace qp::core {
namespace {

std::u16string DateText(std::u16string_view s) {
  auto v = ParseNativeDate(s, 2026);
  return v ? FormatNativeDate(*v) : u"-";
}

TEST(NativeDate, AcceptsDatesAndTimes) {
  EXPECT_EQ(DateText(u"5/5/2026"), u"5/5/2026");
  EXPECT_EQ(DateText(u"12-31-99"), u"12/31/1999");
  EXPECT_EQ(DateText(u"1/2/29"), u"1/2/2029");
  EXPECT_EQ(DateText(u"31/12/2026"), u"12/31/2026");  // D/M when M/D is impossible
  EXPECT_EQ(DateText(u"2026/5/6"), u"5/6/2026");
  EXPECT_EQ(DateText(u"5/6"), u"5/6/2026");
  EXPECT_EQ(DateText(u"5/2027"), u"5/1/2027");
  EXPECT_EQ(DateText(u"2/29/2024"), u"2/29/2024");
  EXPECT_EQ(DateText(u"10:30"), u"10:30:00 AM");
  EXPECT_EQ(DateText(u"22:30:15"), u"10:30:15 PM");
  EXPECT_EQ(DateText(u"10:30:15 PM"), u"10:30:15 PM");
  EXPECT_EQ(DateText(u"12:05 am"), u"12:05:00 AM");
  EXPECT_EQ(DateText(u"12:00 PM"), u"12:00:00 PM");
  EXPECT_EQ(DateText(u"5 PM"), u"5:00:00 PM");
  EXPECT_EQ(DateText(u"MAY 5"), u"5/5/2026");
  EXPECT_EQ(DateText(u"5 may"), u"5/5/2026");
  EXPECT_EQ(DateText(u"MAY 5 2026"), u"5/5/2026");
  EXPECT_EQ(DateText(u"May 5, 2027"), u"5/5/2027");
  EXPECT_EQ(DateText(u"5 SEPT 2026"), u"9/5/2026");
  EXPECT_EQ(DateText(u"JANUARY 2026"), u"1/1/2026");
  EXPECT_EQ(DateText(u"Monday, May 4, 2026"), u"5/4/2026");
  EXPECT_EQ(DateText(u"5/5/2026 10:30"), u"5/5/2026 10:30:00 AM");
  EXPECT_EQ(DateText(u"10:30 PM 5/5/2026"), u"5/5/2026 10:30:00 PM");
}

TEST(NativeDate, RejectsWordsAndImpossibleValues) {
  for (std::u16string_view s :
       {u"", u"MAY", u"2026", u"5", u"HELLO", u"MAYBE", u"MAY BE", u"MARCHING 5", u"AM", u"PM 5",
        u"MONDAY", u"2/30/2026", u"2/29/2025", u"13/13/2026", u"25:00", u"10:60", u"10:30:61",
        u"13 PM", u"0 AM", u"5/5/5/5", u"10:", u"5-", u"1:2:3:4", u"5/5 X", u"#5/5",
        u"MAY MAY MAY MAY", u"123456/1/1", u"5/5/10000", u"\u0665/5/2026",
        // A ':' must join two fields: a time that ends on one is no time.
        u"10: ", u"5: PM", u"1 2 3 4 5 6: ", u"5/5/2026 10:30: "}) {
    EXPECT_EQ(DateText(s), u"-") << std::string(s.begin(), s.end());
  }
}

TEST(NativeDate, TextFormReadsBackAsItself) {
  // The matcher relies on this: a date's text form is its own date text.
  for (std::u16string_view s : {u"5/5/2026", u"MAY 5", u"10:30", u"12-31-99 11:59:59 PM",
                                u"JANUARY 2026", u"5 PM", u"12:00 AM", u"12/30/1899"}) {
    const std::u16string once = DateText(s);
    ASSERT_NE(once, u"-");
    EXPECT_EQ(DateText(once), once);
  }
}

TEST(DateShortcut, SaysNoOnlyWithoutDigitsAndMonthNames) {
  for (std::u16string_view s :
       {u"", u"HELLO WORLD", u"THE", u"MONDAY", u"AM", u"PM", u"A P", u"NOON", u"-/:,", u"QUIZ"}) {
    EXPECT_FALSE(MayBeDate(s)) << std::string(s.begin(), s.end());
  }
  for (std::u16string_view s : {u"5", u"X1", u"MAY", u"MAYOR", u"SEPTIC", u"DECK", u"JAN", u"JUNK",
                                u"caf\u00E9", u"\uFF15", u"\u0665", u"apr", u"LATE MARCH"}) {
    EXPECT_TRUE(MayBeDate(s)) << std::string(s.begin(), s.end());
  }
  DateTokens french{{u"mai", u"ao\u00FBt", u"juin"}};
  EXPECT_TRUE(MayBeDate(u"MAIS", french));
  EXPECT_FALSE(MayBeDate(u"MAY", french));
  EXPECT_FALSE(MayBeDate(u"AOUT", french));  // an ASCII run cannot equal "août"
  // Everything the native parser reads passes the shortcut.
  for (std::u16string_view s : {u"MAY 5", u"10:30", u"5 PM", u"JANUARY 2026"}) {
    EXPECT_TRUE(ParseNativeDate(s, 2026).has_value());
    EXPECT_TRUE(MayBeDate(s));
  }
}

TEST(NativeUpperCase, SimpleMappingOfTheBmp) {
  std::u16string s =
      u"abc xyz \u00E9\u00FF\u0131\u017F\u03B1\u0430\u00DF\u0130 123 \uFFFC\U0001F600";
  NativeUpperCase(s);
  EXPECT_EQ(s, u"ABC XYZ \u00C9\u0178IS\u0391\u0410\u00DF\u0130 123 \uFFFC\U0001F600");
}

}  // namespace
}  // namespace qp::core

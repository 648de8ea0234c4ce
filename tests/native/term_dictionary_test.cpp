#include "core/term_dictionary.h"

#include <gtest/gtest.h>

#include <string>

namespace qp::core {
namespace {

std::u16string TermNumber(int i) {
  std::u16string s = u"T";
  for (; i; i /= 26)
    s += char16_t(u'A' + i % 26);
  return s;
}

TEST(TermDictionary, TermsAndPrefixes) {
  TermDictionary d;
  EXPECT_EQ(d.Size(), 0u);
  EXPECT_TRUE(d.Add(u"NEW YORK CITY"));
  EXPECT_FALSE(d.Add(u"NEW YORK CITY"));
  EXPECT_TRUE(d.Add(u"NEW"));
  EXPECT_EQ(d.Size(), 2u);
  EXPECT_EQ(d.Probe(u"NEW"), TermDictionary::kTerm | TermDictionary::kPrefix);
  EXPECT_EQ(d.Probe(u"NEW YORK"), TermDictionary::kPrefix);
  EXPECT_EQ(d.Probe(u"NEW YORK CITY"), TermDictionary::kTerm);
  EXPECT_EQ(d.Probe(u"YORK"), 0);
  EXPECT_EQ(d.Probe(u"NEW YORK CIT"), 0);
  EXPECT_FALSE(d.Contains(u"NEW YORK"));  // a prefix is no term
  EXPECT_FALSE(d.Contains(u"new"));

  const uint64_t before = d.Generation();
  EXPECT_TRUE(d.Remove(u"NEW YORK CITY"));
  EXPECT_FALSE(d.Remove(u"NEW YORK CITY"));
  EXPECT_FALSE(d.Remove(u"NEW YORK"));
  EXPECT_NE(d.Generation(), before);
  EXPECT_EQ(d.Probe(u"NEW"), TermDictionary::kTerm);
  EXPECT_EQ(d.Probe(u"NEW YORK"), 0);
  EXPECT_EQ(d.Size(), 1u);

  // Shared prefixes are counted: removing one term keeps the other's.
  d.Add(u"A B C");
  d.Add(u"A B D");
  d.Remove(u"A B C");
  EXPECT_EQ(d.Probe(u"A B"), TermDictionary::kPrefix);
  EXPECT_EQ(d.Probe(u"A"), TermDictionary::kPrefix);
  d.Remove(u"A B D");
  EXPECT_EQ(d.Probe(u"A"), 0);
  int prefixes = 0;
  d.ForEachPrefix([&](std::u16string_view) { ++prefixes; });
  EXPECT_EQ(prefixes, 0);

  // Double and outer spaces are kept as given.
  d.Add(u"X  Y");
  EXPECT_EQ(d.Probe(u"X"), TermDictionary::kPrefix);
  EXPECT_EQ(d.Probe(u"X "), TermDictionary::kPrefix);
  d.Add(u" Z");
  EXPECT_EQ(d.Probe(u"Z"), 0);
  EXPECT_TRUE(d.Contains(u" Z"));

  d.Clear();
  EXPECT_EQ(d.Size(), 0u);
  EXPECT_EQ(d.Probe(u"NEW"), 0);
}

TEST(TermDictionary, ManyTermsSurviveGrowthAndRemoval) {
  TermDictionary d;
  constexpr int kCount = 50000;
  for (int i = 0; i < kCount; ++i)
    ASSERT_TRUE(d.Add(TermNumber(i) + u" " + TermNumber(i + 1)));
  for (int i = 0; i < kCount; i += 2)
    ASSERT_TRUE(d.Remove(TermNumber(i) + u" " + TermNumber(i + 1)));
  // Re-adding after removals reuses slots without losing anything.
  for (int i = 0; i < kCount; i += 4)
    ASSERT_TRUE(d.Add(TermNumber(i) + u" " + TermNumber(i + 1)));
  EXPECT_EQ(d.Size(), size_t(kCount / 2 + kCount / 4));
  int wrong = 0;
  for (int i = 0; i < kCount; ++i) {
    const bool expected = i % 2 == 1 || i % 4 == 0;
    wrong += d.Contains(TermNumber(i) + u" " + TermNumber(i + 1)) != expected;
    wrong += bool(d.Probe(TermNumber(i)) & TermDictionary::kPrefix) != expected;
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(d.MemoryBytes(), size_t(kCount) * 8);
  EXPECT_NE(TermDictionary::Hash(u"AB"), TermDictionary::Hash(u"BA"));
  EXPECT_NE(TermDictionary::Hash(u"A"), TermDictionary::Hash(std::u16string_view(u"A\0", 2)));
}

}  // namespace
}  // namespace qp::core

#include "core/term_dictionary.h"

#include <gtest/gtest.h>

#include <string>

namespace qp::engine {
namespace {

std::u16string termNumber(int i) {
    std::u16string s = u"T";
    for (; i; i /= 26) s += char16_t(u'A' + i % 26);
    return s;
}

TEST(TermDictionary, TermsAndPrefixes) {
    TermDictionary d;
    EXPECT_EQ(d.size(), 0u);
    EXPECT_TRUE(d.add(u"NEW YORK CITY"));
    EXPECT_FALSE(d.add(u"NEW YORK CITY"));
    EXPECT_TRUE(d.add(u"NEW"));
    EXPECT_EQ(d.size(), 2u);
    EXPECT_EQ(d.probe(u"NEW"), TermDictionary::kTerm | TermDictionary::kPrefix);
    EXPECT_EQ(d.probe(u"NEW YORK"), TermDictionary::kPrefix);
    EXPECT_EQ(d.probe(u"NEW YORK CITY"), TermDictionary::kTerm);
    EXPECT_EQ(d.probe(u"YORK"), 0);
    EXPECT_EQ(d.probe(u"NEW YORK CIT"), 0);
    EXPECT_FALSE(d.contains(u"NEW YORK"));  // a prefix is no term
    EXPECT_FALSE(d.contains(u"new"));

    const uint64_t before = d.generation();
    EXPECT_TRUE(d.remove(u"NEW YORK CITY"));
    EXPECT_FALSE(d.remove(u"NEW YORK CITY"));
    EXPECT_FALSE(d.remove(u"NEW YORK"));
    EXPECT_NE(d.generation(), before);
    EXPECT_EQ(d.probe(u"NEW"), TermDictionary::kTerm);
    EXPECT_EQ(d.probe(u"NEW YORK"), 0);
    EXPECT_EQ(d.size(), 1u);

    // Shared prefixes are counted: removing one term keeps the other's.
    d.add(u"A B C");
    d.add(u"A B D");
    d.remove(u"A B C");
    EXPECT_EQ(d.probe(u"A B"), TermDictionary::kPrefix);
    EXPECT_EQ(d.probe(u"A"), TermDictionary::kPrefix);
    d.remove(u"A B D");
    EXPECT_EQ(d.probe(u"A"), 0);
    int prefixes = 0;
    d.forEachPrefix([&](std::u16string_view) { ++prefixes; });
    EXPECT_EQ(prefixes, 0);

    // Double and outer spaces are kept as given.
    d.add(u"X  Y");
    EXPECT_EQ(d.probe(u"X"), TermDictionary::kPrefix);
    EXPECT_EQ(d.probe(u"X "), TermDictionary::kPrefix);
    d.add(u" Z");
    EXPECT_EQ(d.probe(u"Z"), 0);
    EXPECT_TRUE(d.contains(u" Z"));

    d.clear();
    EXPECT_EQ(d.size(), 0u);
    EXPECT_EQ(d.probe(u"NEW"), 0);
}

TEST(TermDictionary, MaxWordsEntry) {
    TermDictionary d;
    EXPECT_FALSE(d.maxWordsEntry());
    EXPECT_FALSE(d.contains(TermDictionary::kMaxWordsKey));
    const uint64_t generation = d.generation();
    d.setMaxWords(5);
    EXPECT_EQ(d.maxWordsEntry(), std::optional<int16_t>(5));
    EXPECT_TRUE(d.contains(u"$MAXWORDS$"));
    EXPECT_EQ(d.size(), 1u);
    EXPECT_EQ(d.probe(u"$MAXWORDS$"), 0);  // never a term for the matcher
    EXPECT_EQ(d.generation(), generation);
    EXPECT_FALSE(d.add(u"$MAXWORDS$"));     // present: unchanged
    EXPECT_EQ(d.maxWordsEntry(), std::optional<int16_t>(5));
    EXPECT_TRUE(d.remove(u"$MAXWORDS$"));
    EXPECT_FALSE(d.maxWordsEntry());
    EXPECT_TRUE(d.add(u"$MAXWORDS$"));      // an empty entry reads as 0
    EXPECT_EQ(d.maxWordsEntry(), std::optional<int16_t>(0));
    d.removeMaxWords();
    EXPECT_EQ(d.size(), 0u);
}

TEST(TermDictionary, ManyTermsSurviveGrowthAndRemoval) {
    TermDictionary d;
    constexpr int kCount = 50000;
    for (int i = 0; i < kCount; ++i) ASSERT_TRUE(d.add(termNumber(i) + u" " + termNumber(i + 1)));
    for (int i = 0; i < kCount; i += 2) ASSERT_TRUE(d.remove(termNumber(i) + u" " + termNumber(i + 1)));
    // Re-adding after removals reuses slots without losing anything.
    for (int i = 0; i < kCount; i += 4) ASSERT_TRUE(d.add(termNumber(i) + u" " + termNumber(i + 1)));
    EXPECT_EQ(d.size(), size_t(kCount / 2 + kCount / 4));
    int wrong = 0;
    for (int i = 0; i < kCount; ++i) {
        const bool expected = i % 2 == 1 || i % 4 == 0;
        wrong += d.contains(termNumber(i) + u" " + termNumber(i + 1)) != expected;
        wrong += bool(d.probe(termNumber(i)) & TermDictionary::kPrefix) != expected;
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(d.memoryBytes(), size_t(kCount) * 8);
    EXPECT_NE(TermDictionary::hash(u"AB"), TermDictionary::hash(u"BA"));
    EXPECT_NE(TermDictionary::hash(u"A"), TermDictionary::hash(std::u16string_view(u"A\0", 2)));
}

}  // namespace
}  // namespace qp::engine

#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace qp::core::test {
namespace {

const std::u16string kObj(1, char16_t(0xFFFC));

TEST(Matcher, FindsTermsAtTheirPositions) {
  EXPECT_EQ(TagsOf(u"New York", {u"NEW YORK", u"YORK"}), (Tags{{1, 8}, {5, 4}}));
  EXPECT_EQ(TagsOf(u"AB CD. EF", {u"CD", u"EF"}), (Tags{{4, 2}, {8, 2}}));
  EXPECT_EQ(TagsOf(u"new york", {u"NEW YORK"}), (Tags{{1, 8}}));
  // Keys are compared as stored: a lower-case key never matches the upper-cased text.
  EXPECT_EQ(TagsOf(u"york", {u"york"}), Tags{});
  // Two spaces make an empty word: the pair is broken, the later word still matches.
  EXPECT_EQ(TagsOf(u"NEW  YORK", {u"NEW YORK", u"YORK"}), (Tags{{6, 4}}));
  EXPECT_EQ(TagsOf(u" YORK", {u"YORK"}), (Tags{{2, 4}}));
  EXPECT_EQ(TagsOf(u"NEW.YORK", {u"NEW YORK"}), Tags{});
  EXPECT_EQ(TagsOf(u"NEW,YORK", {u"NEW YORK"}), Tags{});
  EXPECT_EQ(TagsOf(u"York.", {u"YORK"}), (Tags{{1, 4}}));
  EXPECT_EQ(TagsOf(u"(YORK YORK'S YORKS", {u"YORK"}), Tags{});
  // Shorter before longer from the same word, overlaps and repeats all committed.
  EXPECT_EQ(TagsOf(u"a b a b", {u"A", u"A B", u"B", u"B A"}),
            (Tags{{1, 1}, {1, 3}, {3, 1}, {3, 3}, {5, 1}, {5, 3}, {7, 1}}));
  EXPECT_EQ(TagsOf(u"A B C", {u"A B C", u"B"}), (Tags{{1, 5}, {3, 1}}));
  // Terms that cannot match: four words (limit 3), delimiters, outer spaces.
  EXPECT_EQ(TagsOf(u"a b c d", {u"A B C D", u"B C", u" C", u"C ", u"A,B"}), (Tags{{3, 3}}));
  EXPECT_EQ(TagsOf(u"A,B", {u"A,B", u"A%*SPLITHERE*%B"}), Tags{});
  EXPECT_EQ(TagsOf(u"", {u"", u"YORK"}), Tags{});
}

TEST(Matcher, EveryDelimiterEndsASentence) {
  const std::u16string delimiters = u".?,!;:\r\n\t\v";
  for (char16_t d : delimiters) {
    SCOPED_TRACE(int(d));
    const std::u16string text = u"NEW" + std::u16string(1, d) + u"YORK";
    EXPECT_EQ(TagsOf(text, {u"NEW YORK", u"YORK", u"NEW"}), (Tags{{1, 3}, {5, 4}}));
  }
  // Not delimiters: the word keeps them.
  for (std::u16string_view text : {u"NEW-YORK", u"NEW/YORK", u"NEW'YORK", u"NEW\u00A0YORK"})
    EXPECT_EQ(TagsOf(text, {u"YORK", u"NEW"}), Tags{});
  // Adjacent delimiters give an empty sentence that still counts one position.
  EXPECT_EQ(TagsOf(u"AB.. CD", {u"CD"}), (Tags{{6, 2}}));
  EXPECT_EQ(TagsOf(u"AB\r\nCD\v\vEF", {u"CD", u"EF"}), (Tags{{5, 2}, {9, 2}}));
}

TEST(Matcher, SplitMarkerTypedInTheText) {
  // Upper-casing comes before the split, so the marker splits in any letter case and the
  // 13 characters count as one position.
  EXPECT_EQ(TagsOf(u"a%*splithere*%York", {u"YORK", u"A"}), (Tags{{1, 1}, {3, 4}}));
  EXPECT_EQ(TagsOf(u"AB %*SplitHere*% CD", {u"CD"}), (Tags{{6, 2}}));
  // Long s and dotless i upper-case to S and I.
  EXPECT_EQ(TagsOf(u"A%*\u017Fpl\u0131there*%YORK", {u"YORK"}), (Tags{{3, 4}}));
  // A delimiter right after a partial marker: the split takes the first 13 characters,
  // leaving "*SPLITHERE*%YORK" as one word.
  EXPECT_EQ(TagsOf(u"%*SPLITHERE*.YORK", {u"YORK", u"*SPLITHERE*%YORK"}), (Tags{{2, 16}}));
}

TEST(Matcher, EmbeddedObjects) {
  EXPECT_EQ(TagsOf(kObj + u"Field" + kObj, {u"FIELD"}), Tags{});
  EXPECT_EQ(TagsOf(u"Field" + kObj, {u"FIELD"}), (Tags{{1, 5}}));
  EXPECT_EQ(TagsOf(kObj + u"Field", {u"FIELD"}), (Tags{{2, 5}}));
  EXPECT_EQ(TagsOf(u"x " + kObj + u"Field" + kObj + u" y", {u"FIELD", u"Y"}), (Tags{{11, 1}}));
  // The first occurrence decides: the later one sits after an object and is skipped too.
  EXPECT_EQ(TagsOf(u"Field" + kObj + u"Field" + kObj, {u"FIELD"}), (Tags{{1, 5}}));
  // Objects read as spaces and keep positions: one between two words joins them.
  EXPECT_EQ(TagsOf(u"New" + kObj + u"York", {u"NEW YORK", u"YORK"}), (Tags{{1, 8}, {5, 4}}));
  {
    TermDictionary d = DictionaryOf({u"FIELD"});
    Outcome run = Recognize(u"Field" + kObj + u"Field" + kObj, d);
    EXPECT_FALSE(run.result.Failed());
    EXPECT_FALSE(run.result.lastSentenceResult);  // the last hit was skipped
    EXPECT_EQ(run.result.commits, 1);
    run = Recognize(u"Field" + kObj + u"x", d);
    EXPECT_TRUE(run.result.lastSentenceResult);
  }
}

TEST(Matcher, DatesAreNeverTerms) {
  // A month name or a number alone is no date.
  EXPECT_EQ(TagsOf(u"May 5", {u"MAY 5", u"MAY", u"5"}), (Tags{{1, 3}, {5, 1}}));
  EXPECT_EQ(TagsOf(u"5 May", {u"5 MAY", u"MAY"}), (Tags{{3, 3}}));
  EXPECT_EQ(TagsOf(u"10 PM", {u"10 PM", u"PM"}), (Tags{{4, 2}}));
  EXPECT_EQ(TagsOf(u"on 5/5/2026 at noon", {u"5/5/2026", u"AT NOON", u"ON"}),
            (Tags{{1, 2}, {13, 7}}));
  // Candidates after a date continue from the date's text form; the tag spans the words
  // of the text (shorter or longer than the date's text), never past the text's end.
  EXPECT_EQ(TagsOf(u"May 5 meeting", {u"MAY 5 MEETING"}), Tags{});
  EXPECT_EQ(TagsOf(u"May 5 meeting", {u"5/5/2026 MEETING"}), (Tags{{1, 13}}));
  EXPECT_EQ(TagsOf(u"5/5/2026 Meeting", {u"5/5/2026 MEETING"}), (Tags{{1, 16}}));
  EXPECT_EQ(TagsOf(u"January 2026 sale now", {u"JANUARY 2026 SALE", u"1/1/2026 SALE", u"NOW"}),
            (Tags{{1, 17}, {19, 3}}));
  EXPECT_EQ(TagsOf(u"x 10:30 pm", {u"10:30:00 PM"}), Tags{});  // a date itself is no term
  // A word that only looks like a month starts terms as usual.
  EXPECT_EQ(TagsOf(u"March hare. May", {u"MARCH HARE", u"MAY"}), (Tags{{1, 10}, {13, 3}}));
}

// A dictionary that cannot list its keys: the table asks its owner about every candidate, and
// the tags are those of a table that holds the same terms.
TEST(Matcher, ATableThatAsksItsOwnerFindsWhatAFullTableFinds) {
  struct Case {
    std::u16string text;
    std::vector<std::u16string> terms;
    Tags tags;
  };
  const Case cases[] = {
      {u"New York", {u"NEW YORK", u"YORK"}, {{1, 8}, {5, 4}}},
      {u"a b a b",
       {u"A", u"A B", u"B", u"B A"},
       {{1, 1}, {1, 3}, {3, 1}, {3, 3}, {5, 1}, {5, 3}, {7, 1}}},
      {u"a b c d", {u"A B C D", u"B C", u" C", u"C ", u"A,B"}, {{3, 3}}},
      {u"NEW  YORK, York. (YORK", {u"NEW YORK", u"YORK"}, {{6, 4}, {12, 4}}},
      {u"May 5", {u"MAY 5", u"MAY", u"5"}, {{1, 3}, {5, 1}}},
      {u"May 5 meeting", {u"5/5/2026 MEETING"}, {{1, 13}}},
      {kObj + u"Field" + kObj + u" x Field", {u"FIELD"}, {{11, 5}}},
      {u"$MAXWORDS$ x", {u"X"}, {{12, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    TermDictionary table;
    for (const auto& t : c.terms)
      table.Add(t);
    EXPECT_EQ(Recognize(c.text, table).tags, c.tags);

    std::vector<std::u16string> asked;
    TermDictionary owned;
    owned.Add(u"NOT A TERM");  // what the table held before is gone
    owned.AskOwner([&](std::u16string_view s) {
      asked.emplace_back(s);
      return std::find(c.terms.begin(), c.terms.end(), s) != c.terms.end();
    });
    EXPECT_TRUE(owned.AsksOwner());
    EXPECT_EQ(Recognize(c.text, owned).tags, c.tags);
    EXPECT_FALSE(asked.empty());
    // A candidate that reads as a date is never looked up as text.
    EXPECT_EQ(std::find(asked.begin(), asked.end(), u"MAY 5"), asked.end());
    owned.Clear();
    EXPECT_FALSE(owned.AsksOwner());
  }
  // The owner's failure ends matching like a failing commit.
  TermDictionary failing;
  failing.AskOwner([](std::u16string_view) -> bool { throw std::runtime_error("owner gone"); });
  Outcome run = Recognize(u"a b", failing);
  EXPECT_EQ(run.result.outcome, RecognizeResult::Outcome::Error);
  EXPECT_TRUE(run.tags.empty());
}

TEST(Matcher, TermsAreAtMostTheWordLimitLong) {
  const TermDictionary d = DictionaryOf({u"A B C D", u"A B C", u"A B"});
  const std::pair<int, Tags> limits[] = {
      {3, {{1, 3}, {1, 5}}}, {4, {{1, 3}, {1, 5}, {1, 7}}}, {2, {{1, 3}}}, {-1, {}}};
  for (const auto& [limit, tags] : limits)
    EXPECT_EQ(Recognize(u"a b c d", d, limit).tags, tags) << limit;
}

TEST(Matcher, PositionOverflowStopsMatching) {
  TermDictionary d = DictionaryOf({u"YORK"});
  // The last start that fits is 32766: the sum before the final "- 1" must stay <= 32767.
  const std::u16string fits = std::u16string(32764, u'x') + u" York";
  Outcome run = Recognize(fits, d);
  EXPECT_EQ(run.tags, (Tags{{32766, 4}}));
  EXPECT_EQ(run.result.outcome, RecognizeResult::Outcome::Completed);
  EXPECT_TRUE(run.result.lastSentenceResult);

  run = Recognize(u"York " + std::u16string(32761, u'x') + u" York. York", d);
  EXPECT_EQ(run.tags, (Tags{{1, 4}}));
  EXPECT_EQ(run.result.outcome, RecognizeResult::Outcome::PositionOverflow);
  EXPECT_TRUE(run.result.Failed());
  EXPECT_FALSE(run.result.lastSentenceResult);  // no sentence completed

  // The last completed sentence ended on a tag: the caller reports the failure.
  run = Recognize(u"York. " + std::u16string(40000, u'x') + u" York", d);
  EXPECT_EQ(run.tags, (Tags{{1, 4}}));
  EXPECT_EQ(run.result.outcome, RecognizeResult::Outcome::PositionOverflow);
  EXPECT_TRUE(run.result.lastSentenceResult);
  run = Recognize(u"York. x. " + std::u16string(40000, u'x') + u" York", d);
  EXPECT_FALSE(run.result.lastSentenceResult);

  // A long text without a late hit is fine.
  run = Recognize(u"York " + std::u16string(70000, u'x'), d);
  EXPECT_EQ(run.tags, (Tags{{1, 4}}));
  EXPECT_FALSE(run.result.Failed());

  // Positions count typed split markers as one character, so they postpone the overflow.
  std::u16string marked;
  for (int i = 0; i < 2600; ++i)
    marked += u"%*SPLITHERE*%";  // 33800 characters
  run = Recognize(marked + u"York", d);
  EXPECT_EQ(run.tags, (Tags{{2601, 4}}));
}

TEST(Matcher, FailingCommitEndsMatching) {
  TermDictionary d = DictionaryOf({u"A", u"B"});
  Matcher matcher(NativePlatform(2026));
  Tags tags;
  auto commit = [&](std::u16string_view, int32_t start, int32_t length) {
    if (tags.size() == 2) throw std::runtime_error("site gone");
    tags.emplace_back(start, length);
  };
  RecognizeResult r = matcher.Recognize(u"a. b a. a b", d, 3, u"t", commit);
  EXPECT_EQ(tags, (Tags{{1, 1}, {4, 1}}));
  EXPECT_EQ(r.outcome, RecognizeResult::Outcome::Error);
  EXPECT_TRUE(r.lastSentenceResult);  // the first sentence ended on a tag
  EXPECT_EQ(r.commits, 2);
  ASSERT_TRUE(r.error);
  EXPECT_THROW(std::rethrow_exception(r.error), std::runtime_error);

  // The same matcher keeps working afterwards.
  tags.clear();
  r = matcher.Recognize(u"b", d, 3, u"t", commit);
  EXPECT_EQ(tags, (Tags{{1, 1}}));
  EXPECT_FALSE(r.Failed());
}

}  // namespace
}  // namespace qp::core::test

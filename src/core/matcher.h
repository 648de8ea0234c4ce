// Recognition of dictionary terms in the text Office hands to the recognizer.
//
// The text is cut into sentences at . ? , ! ; : CR LF TAB VT, each sentence into words at
// single spaces, and every run of one to maxWords words is looked up, upper-cased, in the
// term dictionary. A run the platform reads as a date is never a term, and longer runs from
// the same first word continue from the date's text form (a tag found that way still spans
// the words of the text, so that it never reaches past the text's end). Tags are committed
// in text order of their first word, shorter before longer; overlapping and nested tags are
// all committed.
#pragma once

#include "core/platform_services.h"
#include "core/term_dictionary.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qp::core {

struct RecognizeResult {
  enum class Outcome {
    Completed,
    PositionOverflow,  // a tag would start past 32767: matching stopped there
    Error,             // the commit callback or a platform service threw: see `error`
  };
  Outcome outcome = Outcome::Completed;
  // Whether the last sentence matched completely ended on a committed tag. After a
  // failure this tells the caller whether to report it (only when true).
  bool lastSentenceResult = false;
  std::exception_ptr error;
  int32_t commits = 0;

  bool Failed() const { return outcome != Outcome::Completed; }
};

class Matcher {
 public:
  explicit Matcher(PlatformServices platform);

  // Recognizes `text` (as received, embedded objects as U+FFFC) and commits a tag of
  // `typeName` for every term found, of at most `maxWords` words. Tags committed before a
  // failure stay committed; the remaining sentences are not matched.
  RecognizeResult Recognize(std::u16string_view text, const TermDictionary& terms, int maxWords,
                            std::u16string_view typeName, const CommitFn& commit);

 private:
  struct Word {
    uint32_t offset, length;  // within the sentence
  };
  struct Sentence {
    std::u16string_view all;  // the text it was cut from
    std::u16string_view text;
    int32_t number;  // 1-based
    int64_t before;  // total length of the sentences before it
  };
  // Matches `sentence`, whose words are in words_ (offsets within the sentence).
  bool MatchSentence(const Sentence& sentence, const TermDictionary& terms, int maxWords,
                     std::u16string_view typeName, const CommitFn& commit, int32_t& commits);
  // Fills work_ from the text (objects as spaces, upper-cased); true when a '%' was typed.
  bool Prepare(std::u16string_view text);
  // Cut work_ into sentences and the sentences into words_, handing each sentence's place
  // (begin, end) in its text to match: at delimiters and spaces, or, where a marker may have
  // been typed, at the split markers of the marked text.
  using SentenceFn = std::function<void(size_t begin, size_t end)>;
  void CutAtBreaks(const SentenceFn& match);
  void CutAtMarkers(const SentenceFn& match);
  bool IsDate(std::u16string_view candidate);
  bool EmbeddedObjectOnly(std::u16string_view candidate, int32_t start);
  void RefreshDatePrefixes(const TermDictionary& terms);

  PlatformServices platform_;
  bool hasObject_ = false;
  std::u16string upperReceived_;  // upper-cased text as received, U+FFFC kept
  std::u16string work_;           // upper-cased, objects as spaces
  std::u16string marked_;         // work_ with every delimiter as the split marker
  std::u16string scratch_;        // candidates that continue from a date's text
  std::u16string dateText_;
  std::u16string pattern_;
  std::vector<Word> words_;
  uint64_t prefixGeneration_ = 0;
  bool datePrefixes_ = false;  // some prefix is itself a date's text form
};

}  // namespace qp::core

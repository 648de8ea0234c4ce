#include "core/matcher.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <utility>

namespace qp::core {

namespace {

constexpr char16_t kObject = 0xFFFC;
constexpr std::u16string_view kSplitMarker = u"%*SPLITHERE*%";
constexpr int32_t kMaxPosition = 32767;  // positions are 16-bit signed

// Every delimiter and the space lie below 64: one comparison settles a letter.
constexpr uint64_t Bit(char16_t c) {
  return uint64_t(1) << c;
}
constexpr uint64_t kDelimiters = Bit(u'.') | Bit(u'?') | Bit(u',') | Bit(u'!') | Bit(u';') |
                                 Bit(u':') | Bit(0x000D) | Bit(0x000A) | Bit(0x0009) | Bit(0x000B);
constexpr uint64_t kBreaks = kDelimiters | Bit(u' ');

bool IsDelimiter(char16_t c) {
  return c < 64 && ((kDelimiters >> c) & 1);
}

std::u16string_view TrimLeft(std::u16string_view s) {
  size_t i = 0;
  while (i < s.size() && s[i] == u' ')
    ++i;
  return s.substr(i);
}

struct PositionOverflow {};

}  // namespace

Matcher::Matcher(PlatformServices platform) : platform_(std::move(platform)) {}

bool Matcher::IsDate(std::u16string_view candidate) {
  return platform_.toDate(candidate, dateText_);
}

// Where a later word can only be reached through a date's text form, pruning on the
// prefix set is not enough; see MatchSentence.
void Matcher::RefreshDatePrefixes(const TermDictionary& terms) {
  if (prefixGeneration_ == terms.Generation()) return;
  bool found = false;
  std::u16string text;
  terms.ForEachPrefix([&](std::u16string_view prefix) {
    if (!found && platform_.toDate(prefix, text) && text == prefix) found = true;
  });
  datePrefixes_ = found;
  prefixGeneration_ = terms.Generation();
}

// A tag whose text sits between two embedded objects right where it starts is the
// object's own caption, not text of the document.
bool Matcher::EmbeddedObjectOnly(std::u16string_view candidate, int32_t start) {
  if (!hasObject_) return false;  // the pattern needs U+FFFC: no occurrence
  pattern_.assign(1, kObject);
  pattern_.append(candidate);
  pattern_.push_back(kObject);
  const size_t found = upperReceived_.find(pattern_);
  const int64_t p = found == std::u16string::npos ? 0 : int64_t(found) + 1;
  return p == start - 1 && start != 1;
}

// Candidates from start word s: c0 = w[s], c(j+1) = trim(e(j) + " " + w[s+j+1]) where e(j)
// is c(j), or its date text when c(j) reads as a date. Words hold no space and are not
// empty, so c(j+1) begins with TrimLeft(e(j)) + " " (or is the word alone when that is
// empty). Hence c(j+1) and every longer candidate can only be a term if
//   TrimLeft(e(j)) is a prefix of a term (kPrefix), or
//   some later candidate reads as a date whose text is a prefix of a term.
// A date's text form reads back as the same text (the general date format round-trips),
// so the second case needs a prefix that is its own date text: RefreshDatePrefixes()
// finds out once per dictionary. Without such a prefix, extension stops at the first
// candidate that is no prefix, and the date conversion is needed only for candidates that
// are terms or prefixes: for any other candidate its outcome changes nothing.
bool Matcher::MatchSentence(const Sentence& sentence, const TermDictionary& terms, int maxWords,
                            std::u16string_view typeName, const CommitFn& commit,
                            int32_t& commits) {
  const std::u16string_view text = sentence.text;
  const bool exhaustive = datePrefixes_;
  bool result = false;
  const size_t count = words_.size();
  for (size_t s = 0; s < count; ++s) {
    bool fromDate = false;   // e(j) is dateText_
    bool inScratch = false;  // c(j) lives in scratch_
    std::u16string_view candidate;
    for (int j = 0; j < maxWords; ++j) {
      const size_t k = s + size_t(j);
      if (k >= count || words_[k].length == 0) break;
      const std::u16string_view word = text.substr(words_[k].offset, words_[k].length);
      if (j == 0) {
        candidate = word;
      } else if (fromDate) {
        const std::u16string_view head = TrimLeft(dateText_);
        scratch_.assign(head);
        if (!head.empty()) scratch_.push_back(u' ');
        scratch_.append(word);
        candidate = scratch_;
        inScratch = true;
      } else if (inScratch) {
        scratch_.push_back(u' ');
        scratch_.append(word);
        candidate = scratch_;
      } else {
        candidate =
            text.substr(words_[s].offset, words_[k].offset + words_[k].length - words_[s].offset);
      }

      const uint8_t flags = terms.Probe(candidate);
      if ((flags || exhaustive) && IsDate(candidate)) {
        fromDate = true;
        if (!exhaustive) {
          const std::u16string_view head = TrimLeft(dateText_);
          if (!head.empty() && !(terms.Probe(head) & TermDictionary::kPrefix)) break;
        }
        continue;
      }
      fromDate = false;
      if ((flags & TermDictionary::kTerm) && terms.Confirm(candidate)) {
        // Start = sentences before + sentence number + words before + word number - 1,
        // in 16-bit arithmetic: every term is non-negative, so the total decides.
        const int64_t wordsBefore = int64_t(words_[s].offset) - int64_t(s);
        const int64_t total = sentence.before + sentence.number + wordsBefore + int64_t(s + 1);
        if (total > kMaxPosition) throw PositionOverflow{};
        const int32_t start = int32_t(total - 1);
        if (EmbeddedObjectOnly(candidate, start)) {
          result = false;
        } else {
          // The tag covers the words it was read from. That is the candidate's
          // length, except where it continues a date's text form, which may be
          // longer than the words and would reach past the end of the text.
          const uint32_t span = words_[k].offset + words_[k].length - words_[s].offset;
          commit(typeName, start, int32_t(span));
          ++commits;
          result = true;
        }
      }
      if (!exhaustive && !(flags & TermDictionary::kPrefix)) break;
    }
  }
  return result;
}

bool Matcher::Prepare(std::u16string_view text) {
  // One pass: objects become spaces, and it tells whether there are objects and whether a
  // split marker may be typed (nothing upper-cases to '%').
  size_t length = text.size();
  work_.resize(length);
  unsigned objects = 0, percents = 0;
  const char16_t* in = text.data();
  char16_t* out = work_.data();
  for (size_t i = 0; i < length; ++i) {
    const char16_t c = in[i];
    const unsigned object = c == kObject;
    objects |= object;
    percents |= unsigned(c == u'%');
    out[i] = object ? char16_t(u' ') : c;
  }
  hasObject_ = objects != 0;
  if (hasObject_) {
    upperReceived_.assign(text);
    platform_.upperCase(upperReceived_);
    // Objects read as spaces; trailing ones are dropped.
    while (length && work_[length - 1] == u' ')
      --length;
    work_.resize(length);
  }
  // Upper-casing maps unit to unit, so it may come before the delimiters are marked.
  platform_.upperCase(work_);
  return percents != 0;
}

void Matcher::CutAtBreaks(const SentenceFn& match) {
  // Without a '%' no marker can be typed or formed with a delimiter's marker: every
  // delimiter ends a sentence, nothing else does. Words and sentences are cut in one pass.
  const char16_t* const data = work_.data();
  const size_t size = work_.size();
  size_t begin = 0, word = 0;
  words_.clear();
  auto cut = [&](size_t i, char16_t c) {
    words_.push_back({uint32_t(word - begin), uint32_t(i - word)});
    word = i + 1;
    if (c == u' ') return;
    match(begin, i);
    words_.clear();
    begin = word;
  };
  size_t i = 0;
#ifdef __SSE2__
  // Eight units at a time: only units below 64 can be breaks.
  const __m128i zero = _mm_setzero_si128();
  for (; i + 8 <= size; i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    unsigned low =
        unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_srli_epi16(v, 6), zero))) & 0x5555u;
    while (low) {
      const size_t at = i + size_t(__builtin_ctz(low)) / 2;
      low &= low - 1;
      const char16_t c = data[at];
      if ((kBreaks >> c) & 1) cut(at, c);
    }
  }
#endif
  for (; i < size; ++i) {
    const char16_t c = data[i];
    if (c < 64 && ((kBreaks >> c) & 1)) cut(i, c);
  }
  words_.push_back({uint32_t(word - begin), uint32_t(size - word)});
  match(begin, size);
}

void Matcher::CutAtMarkers(const SentenceFn& match) {
  // A typed marker splits too, and a partial one can take the first characters of a
  // delimiter's marker: split the marked text exactly as it reads.
  marked_.clear();
  marked_.reserve(work_.size() + work_.size() / 4);
  for (char16_t c : work_) {
    if (IsDelimiter(c))
      marked_.append(kSplitMarker);
    else
      marked_.push_back(c);
  }
  const std::u16string_view all = marked_;
  size_t begin = 0;
  auto matchWords = [&](size_t end) {
    words_.clear();
    size_t word = begin;
    for (size_t i = begin; i < end; ++i) {
      if (marked_[i] != u' ') continue;
      words_.push_back({uint32_t(word - begin), uint32_t(i - word)});
      word = i + 1;
    }
    words_.push_back({uint32_t(word - begin), uint32_t(end - word)});
    match(begin, end);
  };
  for (size_t at; (at = all.find(kSplitMarker, begin)) != std::u16string_view::npos;
       begin = at + kSplitMarker.size())
    matchWords(at);
  matchWords(all.size());
}

RecognizeResult Matcher::Recognize(std::u16string_view text, const TermDictionary& terms,
                                   int maxWords, std::u16string_view typeName,
                                   const CommitFn& commit) {
  RecognizeResult r;
  try {
    const bool typedPercent = Prepare(text);
    RefreshDatePrefixes(terms);
    if (work_.empty()) return r;  // no sentence at all

    Sentence sentence{};
    const SentenceFn match = [&](size_t begin, size_t end) {
      // The text the sentences are cut from; the marked one is made by CutAtMarkers.
      sentence.all = typedPercent ? marked_ : work_;
      sentence.text = sentence.all.substr(begin, end - begin);
      ++sentence.number;
      r.lastSentenceResult = MatchSentence(sentence, terms, maxWords, typeName, commit, r.commits);
      sentence.before += int64_t(end - begin);
    };
    if (typedPercent) {
      CutAtMarkers(match);
    } else {
      CutAtBreaks(match);
    }
  } catch (const PositionOverflow&) {
    r.outcome = RecognizeResult::Outcome::PositionOverflow;
  } catch (...) {
    r.outcome = RecognizeResult::Outcome::Error;
    r.error = std::current_exception();
  }
  return r;
}

}  // namespace qp::core

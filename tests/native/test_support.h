// Shared helpers: run the matcher over a text with a fake commit site.
#pragma once

#include "native_platform.h"
#include "core/matcher.h"

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace qp::core::test {

using Tag = std::pair<int32_t, int32_t>;  // start, length
using Tags = std::vector<Tag>;

struct Outcome {
  Tags tags;
  RecognizeResult result;
};

inline TermDictionary DictionaryOf(std::initializer_list<std::u16string_view> terms) {
  TermDictionary d;
  for (auto t : terms)
    d.Add(t);
  return d;
}

// Dates without a year fall in 2026 so that the date text forms are fixed.
inline Outcome Recognize(std::u16string_view text, const TermDictionary& terms, int maxWords = 3) {
  Matcher matcher(NativePlatform(2026));
  Outcome run;
  run.result = matcher.Recognize(text, terms, maxWords, u"qp#terms",
                                 [&](std::u16string_view type, int32_t start, int32_t length) {
                                   if (type != u"qp#terms") throw std::logic_error("type");
                                   run.tags.emplace_back(start, length);
                                 });
  return run;
}

inline Tags TagsOf(std::u16string_view text, std::initializer_list<std::u16string_view> terms) {
  TermDictionary d = DictionaryOf(terms);
  return Recognize(text, d).tags;
}

}  // namespace qp::core::test

// Platform services the recognition core needs: upper-casing and date conversion.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qp::core {

struct PlatformServices {
  // Upper-cases `text` in place, one UTF-16 unit for one (CharUpperBuffW semantics).
  std::function<void(std::u16string& text)> upperCase;
  // Reads `candidate` as a date/time. On success stores the date's text form (the
  // locale's general date format) in `dateText` and returns true.
  std::function<bool(std::u16string_view candidate, std::u16string& dateText)> toDate;
};

// Called for each tag: type name, 1-based start in the text as received, length.
// Throwing ends the recognition of the current text (see RecognizeResult).
using CommitFn = std::function<void(std::u16string_view typeName, int32_t start, int32_t length)>;

}  // namespace qp::core

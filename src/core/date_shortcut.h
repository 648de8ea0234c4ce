// A cheap, conservative test run before the platform date conversion.
//
// VarDateFromStr only builds a date from numeric fields and month names: digits and
// month-name tokens (full or abbreviated, matched case-insensitively as a prefix at a
// letter) are the only things that count as date fields, and a string with no field at
// all is refused. Day names, AM/PM markers, separators and white space never make a
// field by themselves. So a candidate with no digit and no month name cannot be a date.
//
// MayBeDate() answers "no" only for candidates made of ASCII characters without a digit
// and without any month token of the locale as a substring. Anything beyond ASCII is
// "maybe": Unicode has many other decimal digits, and case folding outside ASCII
// (U+0130, U+212A, ...) can make a token match where a plain comparison would not.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qp::core {

// The month names of a locale, prepared for MayBeDate(): it runs for nearly every word
// that can start a term, so the token search is a trigram filter before any comparison.
class DateTokens {
 public:
  // Month names and abbreviations of the locale, lower-cased (towlower semantics).
  DateTokens(std::vector<std::u16string> monthNames);

  const std::vector<std::u16string>& MonthNames() const { return names_; }
  bool MayBeDate(std::u16string_view candidate) const;

  static const DateTokens& English();

 private:
  bool ContainsAny(std::u16string_view lowered) const;

  std::vector<std::u16string> names_;
  // ASCII tokens, none containing another one (the shorter one is found anyway).
  std::vector<std::u16string> search_;
  // Three leading letters a-z of a searched token, 26^3 bits.
  std::vector<uint64_t> trigrams_;
  bool untrigrammed_ = false;  // some searched token is shorter or has other characters
};

inline bool MayBeDate(std::u16string_view candidate,
                      const DateTokens& tokens = DateTokens::English()) {
  return tokens.MayBeDate(candidate);
}

}  // namespace qp::core

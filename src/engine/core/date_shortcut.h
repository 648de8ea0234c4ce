// A cheap, conservative test run before the platform date conversion.
//
// VarDateFromStr only builds a date from numeric fields and month names: digits and
// month-name tokens (full or abbreviated, matched case-insensitively as a prefix at a
// letter) are the only things that count as date fields, and a string with no field at
// all is refused. Day names, AM/PM markers, separators and white space never make a
// field by themselves. So a candidate with no digit and no month name cannot be a date.
//
// mayBeDate() answers "no" only for candidates made of ASCII characters without a digit
// and without any month token of the locale as a substring. Anything beyond ASCII is
// "maybe": Unicode has many other decimal digits, and case folding outside ASCII
// (U+0130, U+212A, ...) can make a token match where a plain comparison would not.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qp::engine {

struct DateTokens {
    // Month names and abbreviations of the locale, lower-cased (towlower semantics).
    std::vector<std::u16string> monthNames;

    static const DateTokens& english();
};

bool mayBeDate(std::u16string_view candidate, const DateTokens& tokens = DateTokens::english());

}  // namespace qp::engine

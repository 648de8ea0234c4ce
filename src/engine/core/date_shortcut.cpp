#include "date_shortcut.h"

#include <algorithm>

namespace qp::engine {

const DateTokens& DateTokens::english() {
    static const DateTokens tokens{{u"january", u"february", u"march", u"april", u"may", u"june",
                                    u"july", u"august", u"september", u"october", u"november",
                                    u"december", u"jan", u"feb", u"mar", u"apr", u"jun", u"jul",
                                    u"aug", u"sep", u"oct", u"nov", u"dec"}};
    return tokens;
}

namespace {

char16_t asciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }

bool isAsciiToken(const std::u16string& token) {
    return std::all_of(token.begin(), token.end(), [](char16_t c) { return c < 0x80; });
}

// Case-insensitive substring test; the candidate is known to be ASCII.
bool containsToken(std::u16string_view candidate, const std::u16string& token) {
    if (token.empty() || token.size() > candidate.size()) return false;
    const size_t last = candidate.size() - token.size();
    for (size_t i = 0; i <= last; ++i) {
        if (asciiLower(candidate[i]) != token[0]) continue;
        size_t k = 1;
        while (k < token.size() && asciiLower(candidate[i + k]) == token[k]) ++k;
        if (k == token.size()) return true;
    }
    return false;
}

}  // namespace

bool mayBeDate(std::u16string_view candidate, const DateTokens& tokens) {
    bool hasLetter = false;
    for (char16_t c : candidate) {
        if (c >= 0x80 || (c >= u'0' && c <= u'9')) return true;
        hasLetter |= (asciiLower(c) >= u'a' && asciiLower(c) <= u'z');
    }
    if (!hasLetter) return false;
    for (const auto& token : tokens.monthNames) {
        // A token with a non-ASCII unit cannot equal an ASCII run after lower-casing.
        if (isAsciiToken(token) && containsToken(candidate, token)) return true;
    }
    return false;
}

}  // namespace qp::engine

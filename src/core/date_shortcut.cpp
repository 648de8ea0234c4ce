#include "core/date_shortcut.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace qp::core {

namespace {

constexpr size_t kTrigrams = 26 * 26 * 26;

char16_t AsciiLower(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
}
bool IsLowerLetter(char16_t c) {
  return c >= u'a' && c <= u'z';
}

bool IsAscii(std::u16string_view s) {
  return std::all_of(s.begin(), s.end(), [](char16_t c) { return c < 0x80; });
}

size_t TrigramOf(const char16_t* p) {
  return size_t(p[0] - u'a') * 676 + size_t(p[1] - u'a') * 26 + size_t(p[2] - u'a');
}

}  // namespace

DateTokens::DateTokens(std::vector<std::u16string> monthNames)
    : names_(std::move(monthNames)), trigrams_(kTrigrams / 64 + 1) {
  // A token with a non-ASCII unit cannot equal an ASCII run after lower-casing, and
  // non-ASCII candidates never get as far as the search.
  std::vector<std::u16string> ascii;
  for (const auto& name : names_)
    if (!name.empty() && IsAscii(name)) ascii.push_back(name);
  std::sort(ascii.begin(), ascii.end(), [](const auto& a, const auto& b) {
    return a.size() < b.size() || (a.size() == b.size() && a < b);
  });
  ascii.erase(std::unique(ascii.begin(), ascii.end()), ascii.end());
  for (const auto& token : ascii) {
    const bool covered = std::any_of(search_.begin(), search_.end(), [&](const auto& shorter) {
      return token.find(shorter) != std::u16string::npos;
    });
    if (covered) continue;
    search_.push_back(token);
    if (token.size() >= 3 && IsLowerLetter(token[0]) && IsLowerLetter(token[1]) &&
        IsLowerLetter(token[2])) {
      const size_t t = TrigramOf(token.data());
      trigrams_[t / 64] |= uint64_t(1) << (t % 64);
    } else {
      untrigrammed_ = true;
    }
  }
}

const DateTokens& DateTokens::English() {
  static const DateTokens kTokens{
      {u"january",   u"february", u"march",    u"april",    u"may", u"june", u"july", u"august",
       u"september", u"october",  u"november", u"december", u"jan", u"feb",  u"mar",  u"apr",
       u"jun",       u"jul",      u"aug",      u"sep",      u"oct", u"nov",  u"dec"}};
  return kTokens;
}

// `lowered` is ASCII and lower-cased.
bool DateTokens::ContainsAny(std::u16string_view lowered) const {
  bool candidateTrigram = untrigrammed_;
  for (size_t i = 0; !candidateTrigram && i + 3 <= lowered.size(); ++i) {
    const char16_t* p = lowered.data() + i;
    if (!IsLowerLetter(p[0]) || !IsLowerLetter(p[1]) || !IsLowerLetter(p[2])) continue;
    const size_t t = TrigramOf(p);
    candidateTrigram = (trigrams_[t / 64] >> (t % 64)) & 1;
  }
  if (!candidateTrigram) return false;
  for (const auto& token : search_)
    if (lowered.find(token) != std::u16string_view::npos) return true;
  return false;
}

bool DateTokens::MayBeDate(std::u16string_view candidate) const {
  char16_t buffer[64];
  std::u16string heap;
  char16_t* lowered = buffer;
  if (candidate.size() > std::size(buffer)) {
    heap.resize(candidate.size());
    lowered = heap.data();
  }
  bool hasLetter = false;
  for (size_t i = 0; i < candidate.size(); ++i) {
    const char16_t c = candidate[i];
    if (c >= 0x80 || (c >= u'0' && c <= u'9')) return true;
    lowered[i] = AsciiLower(c);
    hasLetter |= IsLowerLetter(lowered[i]);
  }
  return hasLetter && ContainsAny(std::u16string_view(lowered, candidate.size()));
}

}  // namespace qp::core

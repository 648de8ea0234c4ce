// libFuzzer target of the recognition core: terms and text from the input, the matcher
// against a literal, slow model of the matching rules.
//
// Input: byte 0 picks the word limit and after which commit the site fails; the
// rest holds terms separated by 0x01, then 0x00, then the text. Bytes map onto a small
// alphabet of letters, spaces, delimiters, marker characters, objects, digits and date
// characters, so that hits, dates and markers are frequent; 0xFF takes the next two bytes
// as a raw UTF-16 unit.
//
// Checked on every input: no crash or hang; every tag starts at 1 or later and ends
// inside the text as received; the tags, their order, the outcome and the last
// sentence's result equal the model's (a tag spans the words it was read from).
#include "native_platform.h"
#include "core/matcher.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

using namespace qp::core;

namespace {

constexpr char16_t kAlphabet[64] = {
    u'A',   u'B',   u'C',   u'N',  u'E', u'W', u'Y', u'O', u'R', u'K', u'a', u'b', u'n',
    u'e',   u'w',   u'y',   u' ',  u' ', u' ', u' ', u'.', u'?', u',', u'!', u';', u':',
    u'\r',  u'\n',  u'\t',  u'\v', u'%', u'*', u'S', u'P', u'L', u'I', u'T', u'H', 0xFFFC,
    0xFFFC, u'0',   u'1',   u'2',  u'5', u'/', u'-', u'M', u'J', u'U', u'D', u'F', u'G',
    0x017F, 0x0131, 0x00E9, u'\'', u'(', u'$', u'X', u'm', u'a', u'y', u'p', u'i'};

constexpr std::u16string_view kMarker = u"%*SPLITHERE*%";
constexpr std::u16string_view kDelimiters = u".?,!;:\r\n\t\v";

struct Tag {
  int32_t start, length;
  bool operator==(const Tag&) const = default;
};

struct ModelResult {
  std::vector<Tag> tags;
  RecognizeResult::Outcome outcome = RecognizeResult::Outcome::Completed;
  bool lastSentenceResult = false;
};

std::vector<std::u16string_view> Split(std::u16string_view s, std::u16string_view at) {
  std::vector<std::u16string_view> parts;
  size_t begin = 0;
  while (true) {
    const size_t found = s.find(at, begin);
    if (found == std::u16string_view::npos) break;
    parts.push_back(s.substr(begin, found - begin));
    begin = found + at.size();
  }
  parts.push_back(s.substr(begin));
  return parts;
}

std::u16string TrimSpaces(std::u16string s) {
  const size_t first = s.find_first_not_of(u' ');
  if (first == std::u16string::npos) return {};
  return s.substr(first, s.find_last_not_of(u' ') - first + 1);
}

struct Overflow {};
struct SiteFailure {};

// The matching rules step by step, with strings and 16-bit checks, no pruning.
ModelResult Model(std::u16string_view received, const std::set<std::u16string>& keys, int maxWords,
                  const PlatformServices& platform, int failAt) {
  ModelResult out;
  std::u16string upperReceived(received);
  platform.upperCase(upperReceived);
  std::u16string t(received);
  if (t.find(char16_t(0xFFFC)) != std::u16string::npos) {
    for (char16_t& c : t)
      if (c == 0xFFFC) c = u' ';
    while (!t.empty() && t.back() == u' ')
      t.pop_back();
  }
  for (char16_t d : kDelimiters) {
    std::u16string next;
    for (char16_t c : t) {
      if (c == d)
        next.append(kMarker);
      else
        next.push_back(c);
    }
    t = next;
  }
  platform.upperCase(t);
  const std::vector<std::u16string_view> sentences =
      t.empty() ? std::vector<std::u16string_view>{} : Split(t, kMarker);

  auto add16 = [](int64_t a, int64_t b) {
    const int64_t sum = a + b;
    if (sum > 32767 || sum < -32768) throw Overflow{};
    return sum;
  };
  try {
    for (size_t si = 0; si < sentences.size(); ++si) {
      const std::vector<std::u16string_view> words = Split(sentences[si], u" ");
      bool result = false;
      for (size_t i = 0; i < words.size(); ++i) {
        std::u16string candidate;
        int64_t span = -1;  // the words' length in the text, joining spaces included
        for (int j = 0; j < maxWords; ++j) {
          const size_t k = i + size_t(j);
          if (k >= words.size() || words[k].empty()) break;
          span += int64_t(words[k].size()) + 1;
          candidate = TrimSpaces(candidate + u" " + std::u16string(words[k]));
          std::u16string dateText;
          if (platform.toDate(candidate, dateText)) {
            candidate = dateText;  // a date value: never a key
            continue;
          }
          if (!keys.count(candidate)) continue;
          int64_t start = 0;
          for (size_t p = 0; p + 1 <= si; ++p)
            start = add16(start, int64_t(sentences[p].size()));
          start = add16(start, int64_t(si + 1));
          for (size_t w = 0; w < i; ++w)
            start = add16(start, int64_t(words[w].size()));
          start = add16(start, int64_t(i + 1));
          start = add16(start, -1);
          result = false;
          const std::u16string enclosed = u"\uFFFC" + candidate + u"\uFFFC";
          const size_t found = upperReceived.find(enclosed);
          const int64_t p = found == std::u16string::npos ? 0 : int64_t(found) + 1;
          if (p != start - 1 || start == 1) {
            if (int(out.tags.size()) + 1 == failAt) throw SiteFailure{};
            out.tags.push_back({int32_t(start), int32_t(span)});
            result = true;
          }
        }
      }
      out.lastSentenceResult = result;
    }
  } catch (const Overflow&) {
    out.outcome = RecognizeResult::Outcome::PositionOverflow;
  } catch (const SiteFailure&) {
    out.outcome = RecognizeResult::Outcome::Error;
  }
  return out;
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "recognition_fuzz: %s\n", what);
  std::abort();
}

std::u16string Decode(const uint8_t* data, size_t size) {
  std::u16string s;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF && i + 2 < size) {
      s.push_back(char16_t(data[i + 1] | (data[i + 2] << 8)));
      i += 2;
    } else {
      s.push_back(kAlphabet[data[i] & 63]);
    }
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // One matcher for all inputs: its buffers and caches must not carry one text or
  // dictionary over to the next.
  static Matcher matcher(NativePlatform(2026));
  static const PlatformServices kPlatform = NativePlatform(2026);

  const uint8_t control = data[0];
  ++data, --size;
  size_t split = 0;
  while (split < size && data[split] != 0x00)
    ++split;
  const std::u16string text =
      split < size ? Decode(data + split + 1, size - split - 1) : std::u16string();

  TermDictionary terms;
  std::set<std::u16string> keys;
  for (size_t begin = 0, i = 0; i <= split; ++i) {
    if (i < split && data[i] != 0x01) continue;
    std::u16string key = Decode(data + begin, i - begin);
    kPlatform.upperCase(key);
    terms.Add(key);
    keys.insert(key);
    begin = i + 1;
  }
  const int used = (control & 7) - 1;     // the word limit, -1 to 6
  const int failAt = (control >> 3) & 7;  // 0: the site never fails

  std::vector<Tag> tags;
  const RecognizeResult r = matcher.Recognize(
      text, terms, used, u"t", [&](std::u16string_view type, int32_t start, int32_t length) {
        if (type != u"t") Fail("wrong type name");
        if (start < 1 || length < 1 || int64_t(start) - 1 + length > int64_t(text.size()))
          Fail("tag outside the text as received");
        if (int(tags.size()) + 1 == failAt) throw std::runtime_error("site failed");
        tags.push_back({start, length});
      });

  if (r.commits != int32_t(tags.size())) Fail("commit count");

  const ModelResult expected = Model(text, keys, used, kPlatform, failAt);
  if (tags != expected.tags) Fail("tags differ from the model");
  if (r.outcome != expected.outcome) Fail("outcome differs from the model");
  if (r.lastSentenceResult != expected.lastSentenceResult) Fail("last sentence result differs");
  return 0;
}

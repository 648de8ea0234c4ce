// Checks under Wine/Windows that MayBeDate() never refuses a string VarDateFromStr accepts.
//   date_shortcut_check [--limit N] [--words FILE [--word-step K]] TEXT...
// Candidates: every run of one to three words of the texts, cut into sentences and words
// the way the recognizer does and upper-cased (at most N distinct ones), every K-th word of
// the word list, and a set of tricky strings. Prints counts; exits 1 on any disagreement.
#include "bench_support.h"
#include "core/date_shortcut.h"
#include "platform/win_platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

using namespace qp::core;
using namespace qp::bench;

namespace {

bool IsDelimiter(char16_t c) {
  return std::u16string_view(u".?,!;:\r\n\t\v").find(c) != std::u16string_view::npos;
}

void AddRuns(const std::u16string& text, std::unordered_set<std::u16string>& out, size_t limit) {
  std::u16string upper = text;
  qp::platform::WindowsUpperCase(upper);
  std::vector<std::u16string_view> words;
  size_t begin = 0;
  for (size_t i = 0; i <= upper.size() && out.size() < limit; ++i) {
    if (i < upper.size() && !IsDelimiter(upper[i])) continue;
    const std::u16string_view sentence(upper.data() + begin, i - begin);
    begin = i + 1;
    words.clear();
    size_t w = 0;
    for (size_t k = 0; k <= sentence.size(); ++k) {
      if (k == sentence.size() || sentence[k] == u' ') {
        words.push_back(sentence.substr(w, k - w));
        w = k + 1;
      }
    }
    for (size_t s = 0; s < words.size(); ++s) {
      std::u16string candidate;
      for (size_t j = s; j < words.size() && j < s + 3 && !words[j].empty(); ++j) {
        if (!candidate.empty()) candidate += u' ';
        candidate.append(words[j]);
        out.insert(candidate);
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  size_t limit = 3000000, wordStep = 1;
  std::string wordsPath;
  std::vector<std::string> texts;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--limit") && i + 1 < argc)
      limit = std::strtoull(argv[++i], nullptr, 10);
    else if (!std::strcmp(argv[i], "--words") && i + 1 < argc)
      wordsPath = argv[++i];
    else if (!std::strcmp(argv[i], "--word-step") && i + 1 < argc)
      wordStep = std::max(1ull, std::strtoull(argv[++i], nullptr, 10));
    else
      texts.push_back(argv[i]);
  }

  std::unordered_set<std::u16string> candidates;
  for (const auto& path : texts)
    AddRuns(Utf16(ReadWholeFile(path)), candidates, limit);
  const size_t fromText = candidates.size();
  if (!wordsPath.empty()) {
    size_t n = 0;
    for (const auto& line : Lines(ReadWholeFile(wordsPath))) {
      if (line.empty() || n++ % wordStep) continue;
      std::u16string word = Utf16(line);
      qp::platform::WindowsUpperCase(word);
      candidates.insert(word);
    }
  }
  // Strings near the edges of what the parser takes.
  for (std::u16string_view s : {u"MAY",
                                u"MAY MAY",
                                u"MAY MAY MAY",
                                u"MAYMAY",
                                u"MAY5",
                                u"MARCHMAY",
                                u"JANFEB",
                                u"DEC DEC",
                                u"A",
                                u"P",
                                u"AM",
                                u"PM",
                                u"A P",
                                u"AM PM",
                                u"T",
                                u"TT",
                                u"MONDAY",
                                u"MON",
                                u"SUN SAT",
                                u"MONDAY MONDAY",
                                u"NOON",
                                u"MIDNIGHT",
                                u"TODAY",
                                u"NOW",
                                u"-",
                                u"/",
                                u"--",
                                u"- -",
                                u"/ /",
                                u", ,",
                                u"'",
                                u"SEPTEMBER",
                                u"SEPT",
                                u"JUNE JULY",
                                u"JULY AUGUST",
                                u"OCTOBER A",
                                u"APRIL P",
                                u"I",
                                u"II",
                                u"III",
                                u"IV",
                                u"MCMXCIX",
                                u"X",
                                u"XII",
                                u"E",
                                u"INF",
                                u"NAN",
                                u"\u0661\u0662",
                                u"\uFF11 \uFF12",
                                u"\u00B2\u00B3",
                                u"\u00BD",
                                u"\u2160 \u2161",
                                u"\u0130",
                                u"K\u212A",
                                u"\u00C9T\u00C9",
                                u"GMT",
                                u"UTC",
                                u"Z",
                                u"AD",
                                u"BC",
                                u"$",
                                u"#",
                                u"%*SPLITHERE*%",
                                u"$MAXWORDS$",
                                u"\uFFFC",
                                u"\u00A0",
                                u"\u3000",
                                u"\u5E74",
                                u"\u6708 \u65E5",
                                u"\u5348\u524D",
                                u"\u5348\u5F8C",
                                u"\u4EE4\u548C",
                                u"\u5E73\u6210",
                                u"\u660E\u6CBB",
                                u"MARCH MARCH",
                                u"NOVEMBER DECEMBER",
                                u"FEB FEB FEB"}) {
    candidates.emplace(s);
  }

  // Forms the parser does take: month names of the locale with numbers, numeric dates,
  // times. They show the check is not vacuous (the conversion accepts them).
  const DateTokens tokens = qp::platform::UserDateTokens();
  size_t generated = 0;
  std::vector<std::u16string> generatedForms;
  auto addGenerated = [&](std::u16string s) {
    qp::platform::WindowsUpperCase(s);
    generatedForms.push_back(s);
    generated += candidates.insert(std::move(s)).second;
  };
  auto num = [](int n) {
    std::u16string out;
    for (char c : std::to_string(n))
      out += char16_t(c);
    return out;
  };
  for (const auto& month : tokens.MonthNames()) {
    for (int day : {1, 5, 12, 28, 31}) {
      addGenerated(month + u" " + num(day));
      addGenerated(num(day) + u" " + month);
      addGenerated(month + u" " + num(day) + u" 2026");
      addGenerated(month + u" " + num(day) + u", 1999");
    }
    addGenerated(month + u" 2026");
    addGenerated(month + u" " + month);
  }
  for (int a : {1, 5, 12, 13, 31})
    for (int b : {1, 5, 12, 13, 31}) {
      addGenerated(num(a) + u"/" + num(b));
      addGenerated(num(a) + u"/" + num(b) + u"/2026");
      addGenerated(num(a) + u"-" + num(b) + u"-99");
      addGenerated(num(a) + u":" + num(b));
      addGenerated(num(a) + u":" + num(b) + u" PM");
      addGenerated(num(a) + u" " + num(b));
    }

  size_t maybe = 0, accepted = 0, disagreements = 0;
  for (const auto& c : candidates) {
    const bool predicate = MayBeDate(c, tokens);
    const bool isDate = qp::platform::WindowsVarDateFromStr(c, nullptr);
    maybe += predicate;
    accepted += isDate;
    if (isDate && !predicate) {
      if (++disagreements <= 20) {
        std::printf("  disagreement:");
        for (char16_t ch : c)
          std::printf(ch < 0x80 ? " %c" : " U+%04X", unsigned(ch));
        std::printf("\n");
      }
    }
  }
  std::printf(
      "candidates %zu (%zu from text runs, %zu generated date forms), mayBeDate yes %zu, "
      "VarDateFromStr accepted %zu, accepted but refused by mayBeDate %zu\n",
      candidates.size(), fromText, generated, maybe, accepted, disagreements);
  std::printf("%zu passed, %zu failed\n", candidates.size() - disagreements, disagreements);
  // A platform that takes no date at all would agree with any shortcut: the comparison shows
  // something only when the conversion accepts the usual forms.
  size_t acceptedForms = 0;
  for (const auto& form : generatedForms)
    acceptedForms += qp::platform::WindowsVarDateFromStr(form, nullptr);
  const bool takesTimes = qp::platform::WindowsVarDateFromStr(u"10:30", nullptr);
  std::printf("VarDateFromStr accepted %zu of %zu generated date forms%s\n", acceptedForms,
              generatedForms.size(), takesTimes ? "" : ", and refused \"10:30\"");
  if (!takesTimes || acceptedForms < generatedForms.size() / 2) {
    std::printf(
        "the platform's date conversion accepts too few dates for the check to show anything\n");
    return 1;
  }
  return disagreements ? 1 : 0;
}

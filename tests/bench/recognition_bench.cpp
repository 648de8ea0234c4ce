// Recognition throughput over a large text with dictionaries of 10, 10,000 and 100,000
// terms, next to GNU grep on the same text and terms (natively).
//   recognition_bench --data DIR [--runs N] [--grep]
// DIR holds text.txt and terms-10.txt, terms-10000.txt, terms-100000.txt (see tools/bench).
#include "bench_support.h"
#include "native_platform.h"
#include "core/matcher.h"
#ifdef _WIN32
#include "platform/win_platform.h"

#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

using namespace qp::core;
using namespace qp::bench;
using Clock = std::chrono::steady_clock;

namespace {

struct Counters {
  uint64_t asked = 0;      // date conversions the matcher asked for
  uint64_t converted = 0;  // of those, passed on past the shortcut
};

PlatformServices MeasuredPlatform(Counters& counters, bool shortcut) {
  PlatformServices p;
#ifdef _WIN32
  p.upperCase = &qp::platform::WindowsUpperCase;
  static const DateTokens kTokens = qp::platform::UserDateTokens();
  p.toDate = [&counters, shortcut](std::u16string_view c, std::u16string& text) {
    ++counters.asked;
    if (shortcut && !MayBeDate(c, kTokens)) return false;
    ++counters.converted;
    return qp::platform::WindowsVarDateFromStr(c, &text);
  };
#else
  (void)shortcut;
  p.upperCase = &NativeUpperCase;
  PlatformServices native = NativePlatform();
  p.toDate = [&counters, date = native.toDate](std::u16string_view c, std::u16string& text) {
    ++counters.asked;
    ++counters.converted;
    return date(c, text);
  };
#endif
  return p;
}

struct Measured {
  double seconds = 0;  // median
  int64_t hits = 0, failures = 0;
  Counters counters;
};

// One recognize call per paragraph, all paragraphs per run; a fresh matcher per
// measurement (the first run pays for its one-time set-up).
Measured Measure(const std::vector<std::u16string_view>& parts, TermDictionary& terms, int runs,
                 bool shortcut) {
  Measured m;
  Matcher matcher(MeasuredPlatform(m.counters, shortcut));
  auto commit = [&](std::u16string_view, int32_t, int32_t) { ++m.hits; };
  std::vector<double> times;
  for (int r = 0; r < runs; ++r) {
    m.hits = m.failures = 0;
    m.counters = {};
    const auto t0 = Clock::now();
    for (auto p : parts)
      m.failures += matcher.Recognize(p, terms, 3, u"bench", commit).Failed();
    times.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
  }
  m.seconds = Median(times);
  return m;
}

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

size_t CountLines(const std::string& path) {
  const std::string data = ReadWholeFile(path);
  return size_t(std::count(data.begin(), data.end(), '\n'));
}

// Median wall time of `command` (a shell command line) over `runs` runs.
double TimeCommand(const std::string& command, int runs) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = Clock::now();
    const int rc = std::system(command.c_str());
    times.push_back(Seconds(t0, Clock::now()));
    if (rc != 0 && rc != 256) {  // grep exits 1 when nothing matched
      std::printf("    (command failed: %s)\n", command.c_str());
      return -1;
    }
  }
  return Median(times);
}

// Peak resident memory so far (on Windows the peak working set).
long MaxRssKb() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return -1;
  return long(counters.PeakWorkingSetSize / 1024);
#else
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir;
  int runs = 5;
  bool grep = false;
  std::string only;  // comma-separated dictionary sizes, all when empty
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--data") && i + 1 < argc)
      dir = argv[++i];
    else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
      runs = std::max(1, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--grep"))
      grep = true;
    else if (!std::strcmp(argv[i], "--sizes") && i + 1 < argc)
      only = argv[++i];
  }
  if (dir.empty()) {
    std::fprintf(stderr, "usage: recognition_bench --data DIR [--runs N] [--grep]\n");
    return 2;
  }
  const std::string textPath = dir + "/text.txt";
  const std::string text8 = ReadWholeFile(textPath);
  const std::u16string text = Utf16(text8);
  const auto parts = Paragraphs(text);
  const double mb = double(text8.size()) / 1e6;
  std::printf("text: %.2f MB UTF-8, %zu paragraphs (one recognize call each), %d runs, median\n",
              mb, parts.size(), runs);
#ifdef _WIN32
  std::printf("platform: CharUpperBuffW, VarDateFromStr/VarBstrFromDate (LOCALE_USER_DEFAULT)\n");
#else
  std::printf("platform: native upper-case table, native date parser\n");
#endif

  // grep in the C locale: its fast path for -i (the UTF-8 locale turns -F -i with many
  // terms into a regular expression, 100 times slower); the terms are ASCII, so the
  // matches are the same.
  const std::string grepCommand = "LC_ALL=C grep -F -i ";
  for (const char* size : {"10", "10000", "100000"}) {
    if (!only.empty() &&
        ("," + only + ",").find(std::string(",") + size + ",") == std::string::npos)
      continue;
    const std::string termsPath = dir + "/terms-" + size + ".txt";
    const long rssBefore = MaxRssKb();
    TermDictionary terms;
    const auto b0 = Clock::now();
    for (const std::string& line : Lines(ReadWholeFile(termsPath))) {
      if (line.empty()) continue;
      std::u16string key = Utf16(line);
      NativeUpperCase(key);
      terms.Add(key);
    }
    const double build = Seconds(b0, Clock::now());

    const Measured ours = Measure(parts, terms, runs, true);
    std::printf(
        "ours             %6s terms: %8.1f MB/s  %9lld tags      (%lld overflows; date "
        "conversions asked %llu, to the platform %llu)\n",
        size, mb / ours.seconds, (long long)ours.hits, (long long)ours.failures,
        (unsigned long long)ours.counters.asked, (unsigned long long)ours.counters.converted);
    std::printf("      dictionary: %zu keys, %.1f MB table+keys, built in %.0f ms", terms.Size(),
                terms.MemoryBytes() / 1e6, build * 1e3);
    if (rssBefore >= 0)
      std::printf(", peak memory of the process %.1f MB (+%.1f MB for this dictionary)",
                  MaxRssKb() / 1e3, (MaxRssKb() - rssBefore) / 1e3);
    std::printf("\n");
#ifdef _WIN32
    if (!std::strcmp(size, "10000")) {
      const Measured slow = Measure(parts, terms, 1, false);
      std::printf(
          "ours without the date shortcut %6s terms: %8.1f MB/s  %9lld tags  "
          "(VarDateFromStr calls %llu)\n",
          size, mb / slow.seconds, (long long)slow.hits,
          (unsigned long long)slow.counters.converted);
    }
#endif
    if (!grep) continue;
    const std::string out = dir + "/grep-out.txt";
    double g = TimeCommand(
        grepCommand + "-o -f '" + termsPath + "' '" + textPath + "' > '" + out + "'", runs);
    if (g > 0)
      std::printf("grep -F -i -o    %6s terms: %8.1f MB/s  %9zu matches   ours/grep %.1fx\n", size,
                  mb / g, CountLines(out), (mb / ours.seconds) / (mb / g));
    // -w is far slower with many terms: grep and ours on the text's first part then.
    const size_t wBytes = !std::strcmp(size, "10")      ? text8.size()
                          : !std::strcmp(size, "10000") ? size_t(1000000)
                                                        : size_t(50000);
    std::string wText = textPath;
    double wMb = mb;
    Measured wOurs = ours;
    std::vector<std::u16string_view> wParts;
    std::u16string wText16;
    if (wBytes < text8.size()) {
      const size_t cut = text8.rfind('\n', wBytes) + 1;  // whole lines
      wText = dir + "/text-" + size + "-slice.txt";
      std::FILE* f = std::fopen(HostPath(wText).c_str(), "wb");
      std::fwrite(text8.data(), 1, cut, f);
      std::fclose(f);
      wMb = double(cut) / 1e6;
      wText16 = Utf16(text8.substr(0, cut));
      wParts = Paragraphs(wText16);
      wOurs = Measure(wParts, terms, runs, true);
    }
    g = TimeCommand(grepCommand + "-w -o -f '" + termsPath + "' '" + wText + "' > '" + out + "'",
                    wBytes < text8.size() ? 1 : runs);
    if (g > 0) {
      if (wMb < mb)
        std::printf("ours             %6s terms: %8.1f MB/s  %9lld tags      (first %.2f MB)\n",
                    size, wMb / wOurs.seconds, (long long)wOurs.hits, wMb);
      std::printf("grep -F -i -w -o %6s terms: %8.2f MB/s  %9zu matches   ours/grep %.1fx%s\n",
                  size, wMb / g, CountLines(out), (wMb / wOurs.seconds) / (wMb / g),
                  wMb < mb ? "  (same first part, 1 run)" : "");
    }
  }
  return 0;
}

// Recognition throughput over a large text with dictionaries of 10, 10,000 and 100,000
// terms, next to GNU grep on the same text and terms (natively).
//   recognition_bench --data DIR [--runs N] [--grep]
// DIR holds text.txt and terms-10.txt, terms-10000.txt, terms-100000.txt (see tools/bench).
#include "bench_support.h"
#include "native_platform.h"
#include "recognizer.h"
#ifdef _WIN32
#include "win_platform.h"

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

using namespace qp::engine;
using namespace qp::bench;
using Clock = std::chrono::steady_clock;

namespace {

struct Counters {
    uint64_t asked = 0;      // date conversions the matcher asked for
    uint64_t converted = 0;  // of those, passed on past the shortcut
};

PlatformServices measuredPlatform(Counters& counters, bool shortcut) {
    PlatformServices p;
#ifdef _WIN32
    p.upperCase = &windowsUpperCase;
    static const DateTokens tokens = userDateTokens();
    p.toDate = [&counters, shortcut](std::u16string_view c, std::u16string& text) {
        ++counters.asked;
        if (shortcut && !mayBeDate(c, tokens)) return false;
        ++counters.converted;
        return windowsVarDateFromStr(c, &text);
    };
#else
    (void)shortcut;
    p.upperCase = &nativeUpperCase;
    PlatformServices native = nativePlatform();
    p.toDate = [&counters, date = native.toDate](std::u16string_view c, std::u16string& text) {
        ++counters.asked;
        ++counters.converted;
        return date(c, text);
    };
#endif
    return p;
}

// Paragraphs as Office hands them over: up to a blank line, cut at a line end past 4000 units.
std::vector<std::u16string_view> paragraphs(std::u16string_view text) {
    std::vector<std::u16string_view> out;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = begin;
        while (end < text.size()) {
            const size_t nl = text.find(u'\n', end);
            if (nl == std::u16string_view::npos) { end = text.size(); break; }
            const bool blank = nl + 1 < text.size() && text[nl + 1] == u'\n';
            end = nl + 1;
            if (blank || end - begin > 4000) break;
        }
        out.push_back(text.substr(begin, end - begin));
        while (end < text.size() && text[end] == u'\n') ++end;
        begin = end;
    }
    return out;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

size_t countLines(const std::string& path) {
    const std::string data = readFile(path);
    return size_t(std::count(data.begin(), data.end(), '\n'));
}

// Median wall time of `command` (a shell command line) over `runs` runs.
double timeCommand(const std::string& command, int runs) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        const int rc = std::system(command.c_str());
        times.push_back(seconds(t0, Clock::now()));
        if (rc != 0 && rc != 256) {  // grep exits 1 when nothing matched
            std::printf("    (command failed: %s)\n", command.c_str());
            return -1;
        }
    }
    return median(times);
}

// Peak resident memory so far (on Windows the peak working set).
long maxRssKb() {
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
        if (!std::strcmp(argv[i], "--data") && i + 1 < argc) dir = argv[++i];
        else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--grep")) grep = true;
        else if (!std::strcmp(argv[i], "--sizes") && i + 1 < argc) only = argv[++i];
    }
    if (dir.empty()) {
        std::fprintf(stderr, "usage: recognition_bench --data DIR [--runs N] [--grep]\n");
        return 2;
    }
    const std::string textPath = dir + "/text.txt";
    const std::string text8 = readFile(textPath);
    const std::u16string text = utf16(text8);
    const auto parts = paragraphs(text);
    const double mb = double(text8.size()) / 1e6;
    std::printf("text: %.2f MB UTF-8, %zu paragraphs (one recognize call each), %d runs, median\n",
                mb, parts.size(), runs);
#ifdef _WIN32
    std::printf("platform: CharUpperBuffW, VarDateFromStr/VarBstrFromDate (LOCALE_USER_DEFAULT)\n");
#else
    std::printf("platform: native upper-case table, native date parser\n");
#endif

    for (const char* size : {"10", "10000", "100000"}) {
        if (!only.empty() && ("," + only + ",").find(std::string(",") + size + ",") == std::string::npos)
            continue;
        const std::string termsPath = dir + "/terms-" + size + ".txt";
        const long rssBefore = maxRssKb();
        TermDictionary terms;
        const auto b0 = Clock::now();
        for (const std::string& line : lines(readFile(termsPath))) {
            if (line.empty()) continue;
            std::u16string key = utf16(line);
            nativeUpperCase(key);
            terms.add(key);
        }
        const double build = seconds(b0, Clock::now());

        for (bool shortcut : {true, false}) {
#ifndef _WIN32
            if (!shortcut) break;  // natively the shortcut sits inside the parser
#else
            if (!shortcut && std::strcmp(size, "10000") != 0) continue;
#endif
            Counters counters;
            Recognizer recognizer(measuredPlatform(counters, shortcut));
            int64_t hits = 0, failures = 0;
            auto commit = [&](std::u16string_view, int32_t, int32_t) { ++hits; };
            std::vector<double> times;
            for (int r = 0; r < (shortcut ? runs : 1); ++r) {
                hits = failures = 0;
                counters = {};
                const auto t0 = Clock::now();
                for (auto p : parts) failures += recognizer.recognize(p, terms, u"bench", commit).failed();
                times.push_back(seconds(t0, Clock::now()));
            }
            const double t = median(times);
            std::printf("ours  %6s terms%s: %8.1f MB/s  %9lld tags  %lld overflows  "
                        "date conversions asked %llu, to the platform %llu\n",
                        size, shortcut ? "" : " (no date shortcut)", mb / t, (long long)hits,
                        (long long)failures, (unsigned long long)counters.asked,
                        (unsigned long long)counters.converted);
            if (shortcut) {
                std::printf("      dictionary: %zu keys, %.1f MB table+keys, built in %.0f ms",
                            terms.size(), terms.memoryBytes() / 1e6, build * 1e3);
                if (rssBefore >= 0)
                    std::printf(", peak RSS %.1f MB (+%.1f MB)", maxRssKb() / 1e3,
                                (maxRssKb() - rssBefore) / 1e3);
                std::printf("\n");
            }
            if (shortcut && grep) {
                const std::string out = dir + "/grep-out.txt";
                const std::string base = "grep -F -i -o -f '" + termsPath + "' ";
                double g = timeCommand(base + "'" + textPath + "' > '" + out + "'", runs);
                if (g > 0)
                    std::printf("grep -F -i -o    %6s terms: %8.1f MB/s  %9zu matches   ours/grep %.1fx\n",
                                size, mb / g, countLines(out), (mb / t) / (mb / g));
                // -w is far slower with many terms: measure it on a slice of the text.
                std::string wText = textPath;
                double wMb = mb;
                if (std::strcmp(size, "100000") == 0) {
                    wText = dir + "/text-slice.txt";
                    std::FILE* f = std::fopen(wText.c_str(), "wb");
                    const size_t n = std::min<size_t>(text8.size(), 200000);
                    std::fwrite(text8.data(), 1, n, f);
                    std::fclose(f);
                    wMb = n / 1e6;
                }
                const int wRuns = std::strcmp(size, "10") == 0 ? runs : 1;
                g = timeCommand("grep -F -i -w -o -f '" + termsPath + "' '" + wText + "' > '" + out + "'",
                                wRuns);
                if (g > 0)
                    std::printf("grep -F -i -w -o %6s terms: %8.1f MB/s  %9zu matches   ours/grep %.1fx%s\n",
                                size, wMb / g, countLines(out), (mb / t) / (wMb / g),
                                wMb < mb ? "  (grep on the first 0.2 MB only, 1 run)" : "");
            }
        }
    }
    return 0;
}

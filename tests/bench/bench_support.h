// Helpers of the benchmark programs: files, UTF-8 to UTF-16, Wine-friendly paths.
#pragma once

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qp::bench {

// Under Wine a Unix path is reached through drive Z:.
inline std::string HostPath(std::string path) {
#ifdef _WIN32
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
#endif
  return path;
}

inline std::string ReadWholeFile(const std::string& path) {
  std::FILE* f = std::fopen(HostPath(path).c_str(), "rb");
  if (!f) throw std::runtime_error("cannot open " + path);
  std::string data;
  char buffer[1 << 16];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
    data.append(buffer, n);
  std::fclose(f);
  return data;
}

// Malformed sequences become U+FFFD; code points above the BMP become surrogate pairs.
inline std::u16string Utf16(const std::string& s) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = s[i];
    unsigned cp = 0xFFFD;
    size_t len = 1;
    if (c < 0x80)
      cp = c;
    else if ((c >> 5) == 6)
      len = 2, cp = c & 0x1F;
    else if ((c >> 4) == 14)
      len = 3, cp = c & 0x0F;
    else if ((c >> 3) == 30)
      len = 4, cp = c & 0x07;
    bool ok = c < 0x80 || (len > 1 && i + len <= s.size());
    for (size_t k = 1; ok && k < len; ++k) {
      const unsigned char d = s[i + k];
      ok = (d >> 6) == 2;
      cp = (cp << 6) | (d & 0x3F);
    }
    if (!ok || cp > 0x10FFFF) cp = 0xFFFD, len = 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += char16_t(0xD800 + (cp >> 10));
      out += char16_t(0xDC00 + (cp & 0x3FF));
    } else {
      out += char16_t(cp);
    }
    i += len;
  }
  return out;
}

inline std::vector<std::string> Lines(const std::string& data) {
  std::vector<std::string> out;
  size_t begin = 0;
  while (begin < data.size()) {
    size_t end = data.find('\n', begin);
    if (end == std::string::npos) end = data.size();
    std::string line = data.substr(begin, end - begin);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(std::move(line));
    begin = end + 1;
  }
  return out;
}

// Paragraphs as Office hands them over: up to a blank line, cut at a line end past 4000 units.
inline std::vector<std::u16string_view> Paragraphs(std::u16string_view text) {
  std::vector<std::u16string_view> out;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = begin;
    while (end < text.size()) {
      const size_t nl = text.find(u'\n', end);
      if (nl == std::u16string_view::npos) {
        end = text.size();
        break;
      }
      const bool blank = nl + 1 < text.size() && text[nl + 1] == u'\n';
      end = nl + 1;
      if (blank || end - begin > 4000) break;
    }
    out.push_back(text.substr(begin, end - begin));
    while (end < text.size() && text[end] == u'\n')
      ++end;
    begin = end;
  }
  return out;
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace qp::bench

#include "text.h"

#include <cctype>
#include <cstdio>

#include <unicode/uchar.h>

namespace orvo {

std::string CutUtf8(std::string_view s, size_t maxBytes) {
  if (s.size() <= maxBytes) return std::string(s);
  size_t end = maxBytes;
  // Step back over continuation bytes to the start of the cut character.
  while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  return std::string(s.substr(0, end));
}

std::string CutChars(std::string_view s, size_t maxChars) {
  if (s.size() <= maxChars) return std::string(s);
  size_t chars = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
    if (chars == maxChars) return std::string(s.substr(0, i));
    ++chars;
  }
  return std::string(s);
}

std::string FormatLocalTime(std::time_t t, const char* format) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[128];
  size_t n = std::strftime(buf, sizeof buf, format, &tm);
  return std::string(buf, n);
}

std::string FormatDbTime(std::time_t t) { return FormatLocalTime(t, "%Y-%m-%d %H:%M:%S"); }

std::optional<std::time_t> ParseDbTime(std::string_view s) {
  std::tm tm{};
  int y, mo, d, h = 0, mi = 0, se = 0;
  std::string str(s);
  int n = std::sscanf(str.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &se);
  if (n != 3 && n != 6) return std::nullopt;
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || se < 0 || se > 60)
    return std::nullopt;
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = se;
  tm.tm_isdst = -1;
  std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return std::nullopt;
  return t;
}

char32_t FoldCase(char32_t c) {
  // Simple case folding of the Unicode data: one code point for one, so
  // matching can go character by character (final sigma folds to sigma).
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if (c > 0x10FFFF) return c;
  return static_cast<char32_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT));
}

char32_t NextCodePoint(std::string_view s, size_t& i) {
  unsigned char b = static_cast<unsigned char>(s[i]);
  int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
  if (len == 0 || i + len > s.size()) {
    ++i;
    return b;
  }
  char32_t c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
  for (int k = 1; k < len; ++k) {
    unsigned char cb = static_cast<unsigned char>(s[i + k]);
    if ((cb & 0xC0) != 0x80) {
      ++i;
      return b;
    }
    c = (c << 6) | (cb & 0x3F);
  }
  i += len;
  return c;
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return std::string(s.substr(b, e - b));
}

std::vector<std::string> SplitWords(std::string_view keywords) {
  std::vector<std::string> words;
  size_t start = 0;
  while (start <= keywords.size()) {
    size_t end = keywords.find(' ', start);
    if (end == std::string_view::npos) end = keywords.size();
    std::string word = Trim(keywords.substr(start, end - start));
    if (!word.empty()) words.push_back(std::move(word));
    start = end + 1;
  }
  return words;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (FoldCase(NextCodePoint(a, i)) != FoldCase(NextCodePoint(b, j))) return false;
  }
  return i == a.size() && j == b.size();
}

}  // namespace orvo

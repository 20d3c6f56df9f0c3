#include "text.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>

#include <unicode/uchar.h>
#include <unicode/uset.h>

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

namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool IsDigits(std::string_view s, size_t at, size_t n) {
  for (size_t i = at; i < at + n; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

int Number(std::string_view s, size_t at, size_t n) {
  int v = 0;
  for (size_t i = at; i < at + n; ++i) v = v * 10 + (s[i] - '0');
  return v;
}

long OffsetAt(std::time_t t) {
  std::tm tm{};
  return localtime_r(&t, &tm) ? tm.tm_gmtoff : LONG_MIN;
}

}  // namespace

std::optional<std::time_t> ParseStoredTime(std::string_view s) {
  if (s.size() != 19 || !IsDigits(s, 0, 4) || s[4] != '-' || !IsDigits(s, 5, 2) || s[7] != '-' ||
      !IsDigits(s, 8, 2) || s[10] != ' ' || !IsDigits(s, 11, 2) || s[13] != ':' || !IsDigits(s, 14, 2) ||
      s[16] != ':' || !IsDigits(s, 17, 2))
    return ParseDbTime(s);
  const int y = Number(s, 0, 4), mo = Number(s, 5, 2), d = Number(s, 8, 2);
  const int h = Number(s, 11, 2), mi = Number(s, 14, 2), se = Number(s, 17, 2);
  // Days past a month's end roll over in mktime; those go to it.
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
  const int monthDays = kDays[(mo >= 1 && mo <= 12 ? mo : 1) - 1] + (mo == 2 && leap);
  if (mo < 1 || mo > 12 || d < 1 || d > monthDays || h > 23 || mi > 59 || se > 59) return ParseDbTime(s);
  const std::time_t wall = static_cast<std::time_t>(DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + se);
  // One offset over more than a day around the moment: no change of the
  // clocks is near, so the wall-clock time names that one moment and no other.
  constexpr std::time_t kNear = 26 * 3600;
  const long offset = OffsetAt(wall);
  const std::time_t t = wall - offset;
  if (offset == LONG_MIN || OffsetAt(t) != offset || OffsetAt(t - kNear) != offset || OffsetAt(t + kNear) != offset)
    return ParseDbTime(s);
  if (t == static_cast<std::time_t>(-1)) return std::nullopt;  // mktime's failure value, as ParseDbTime reads it
  return t;
}

char32_t FoldCase(char32_t c) {
  // Simple case folding of the Unicode data: one code point for one, so
  // matching can go character by character (final sigma folds to sigma).
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if (c > 0x10FFFF) return c;
  return static_cast<char32_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT));
}

std::vector<char32_t> FoldPreimages(char32_t folded) {
  std::vector<char32_t> out;
  if (FoldCase(folded) == folded) out.push_back(folded);
  if (folded > 0x10FFFF) return out;
  // The characters case-equivalent to it, narrowed to those that fold to it.
  UErrorCode ec = U_ZERO_ERROR;
  USet* set = uset_open(static_cast<UChar32>(folded), static_cast<UChar32>(folded));
  uset_closeOver(set, USET_CASE_INSENSITIVE);
  for (int32_t r = 0, n = uset_getRangeCount(set); r < n && U_SUCCESS(ec); ++r) {
    UChar32 lo = 0, hi = 0;
    if (uset_getItem(set, r, &lo, &hi, nullptr, 0, &ec) != 0) continue;
    for (UChar32 c = lo; c <= hi; ++c)
      if (static_cast<char32_t>(c) != folded && FoldCase(static_cast<char32_t>(c)) == folded)
        out.push_back(static_cast<char32_t>(c));
  }
  uset_close(set);
  return out;
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

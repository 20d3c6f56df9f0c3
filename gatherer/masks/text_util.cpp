#include "gatherer/masks/text_util.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

namespace orvo {

bool IsAsciiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

std::string AsciiUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string Utf8Lower(std::string_view s) {
  std::string out(s);
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (c >= 'A' && c <= 'Z') {
      out[i] = char(c - 'A' + 'a');
      continue;
    }
    if (c < 0xC3 || c > 0xD1 || i + 1 >= out.size()) continue;
    unsigned char c2 = static_cast<unsigned char>(out[i + 1]);
    if ((c2 & 0xC0) != 0x80) continue;
    char32_t cp = char32_t(((c & 0x1F) << 6) | (c2 & 0x3F));
    char32_t lower = cp;
    if ((cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) || (cp >= 0x391 && cp <= 0x3AB && cp != 0x3A2) ||
        (cp >= 0x410 && cp <= 0x42F)) {
      lower = cp + 0x20;
    } else if (cp >= 0x400 && cp <= 0x40F) {
      lower = cp + 0x50;
    } else if ((cp >= 0x100 && cp <= 0x137 && cp != 0x130) || (cp >= 0x14A && cp <= 0x177)) {
      if (cp % 2 == 0) lower = cp + 1;  // capital even, small odd
    } else if ((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E)) {
      if (cp % 2 == 1) lower = cp + 1;  // capital odd, small even
    } else if (cp == 0x178) {
      lower = 0xFF;
    } else if (cp == 0x386) {
      lower = 0x3AC;
    } else if (cp >= 0x388 && cp <= 0x38A) {
      lower = cp + 0x25;
    } else if (cp == 0x38C || cp == 0x38E || cp == 0x38F) {
      lower = cp + 0x40 - (cp == 0x38C ? 0 : 1);
    }
    if (lower != cp && lower < 0x800) {
      out[i] = char(0xC0 | (lower >> 6));
      out[i + 1] = char(0x80 | (lower & 0x3F));
    }
    ++i;
  }
  return out;
}

std::string_view TrimView(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsAsciiSpace(s[b])) ++b;
  while (e > b && IsAsciiSpace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string TrimCopy(std::string_view s) { return std::string(TrimView(s)); }

std::string CollapseSpaces(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  bool pending = false;
  for (char c : s) {
    if (IsAsciiSpace(c)) {
      pending = true;
      continue;
    }
    if (pending && !out.empty()) out += ' ';
    pending = false;
    out += c;
  }
  return out;
}

int LeadingInt(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsAsciiSpace(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) {
    negative = s[i] == '-';
    ++i;
  }
  long long v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    v = v * 10 + (s[i] - '0');
    if (v > INT_MAX) {
      v = INT_MAX;
      break;
    }
  }
  return int(negative ? -v : v);
}

size_t Utf8Advance(std::string_view s, size_t from, size_t count) {
  size_t i = from;
  while (count > 0 && i < s.size()) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    --count;
  }
  return std::min(i, s.size());
}

size_t Utf8Length(std::string_view s) {
  size_t n = 0;
  for (char c : s)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

std::string Utf8CutChars(std::string_view s, size_t max_chars) {
  size_t chars = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (chars == max_chars) return std::string(s.substr(0, i));
      ++chars;
    }
  }
  return std::string(s);
}

std::string Utf8CutBytes(std::string_view s, size_t max_bytes) {
  if (s.size() <= max_bytes) return std::string(s);
  size_t end = max_bytes;
  // Back off over continuation bytes so the cut lands before a lead byte.
  while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  return std::string(s.substr(0, end));
}

bool IsValidUtf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  size_t n = s.size(), i = 0;
  while (i < n) {
    // Most page text is ASCII: eight bytes at a time.
    for (uint64_t word; i + 8 <= n; i += 8) {
      std::memcpy(&word, p + i, 8);
      if (word & 0x8080808080808080ull) break;
    }
    if (i >= n) break;
    unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    char32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

}  // namespace orvo

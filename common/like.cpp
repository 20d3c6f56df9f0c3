#include "like.h"

#include <string.h>

#include <algorithm>
#include <cctype>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform.h"
#include "text.h"

namespace orvo {

namespace {

struct Token {
  enum Kind { kAnySeq, kAnyOne, kChar, kSet };
  Token(Kind k, char32_t c = 0) : kind(k), ch(c) {}
  Kind kind;
  char32_t ch = 0;                                   // kChar, folded
  std::vector<std::pair<char32_t, char32_t>> ranges;  // kSet, folded
  bool negate = false;

  bool Matches(char32_t c) const {
    if (kind == kAnyOne) return true;
    if (kind == kChar) return c == ch;
    bool in = false;
    for (auto [lo, hi] : ranges)
      if (c >= lo && c <= hi) {
        in = true;
        break;
      }
    return in != negate;
  }
};

// Parses "[...]" starting after '['. A ']' right after the opening (or after
// the negation sign) is a member, so "[]]" is ']'; a lone "[^]" is '^'.
// Returns false for an unclosed bracket, which then stands for itself.
bool ParseSet(const std::u32string& p, size_t& i, Token& t) {
  size_t j = i;
  if (j < p.size() && (p[j] == '^' || p[j] == '!') && j + 1 < p.size() && p[j + 1] != ']') {
    t.negate = true;
    ++j;
  }
  bool first = true;
  while (j < p.size()) {
    char32_t c = p[j];
    if (c == ']' && !first) {
      i = j + 1;
      return true;
    }
    if (j + 2 < p.size() && p[j + 1] == '-' && p[j + 2] != ']') {
      char32_t lo = FoldCase(c), hi = FoldCase(p[j + 2]);
      if (lo > hi) std::swap(lo, hi);
      t.ranges.emplace_back(lo, hi);
      j += 3;
    } else {
      t.ranges.emplace_back(FoldCase(c), FoldCase(c));
      ++j;
    }
    first = false;
  }
  return false;
}

std::u32string Decode(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) out.push_back(NextCodePoint(s, i));
  return out;
}

std::vector<Token> Compile(std::string_view pattern, char32_t escape) {
  std::u32string p = Decode(pattern);
  std::vector<Token> tokens;
  for (size_t i = 0; i < p.size();) {
    char32_t c = p[i];
    if (escape && c == escape && i + 1 < p.size()) {
      tokens.emplace_back(Token::kChar, FoldCase(p[i + 1]));
      i += 2;
    } else if (c == '%') {
      if (tokens.empty() || tokens.back().kind != Token::kAnySeq) tokens.emplace_back(Token::kAnySeq);
      ++i;
    } else if (c == '_') {
      tokens.emplace_back(Token::kAnyOne);
      ++i;
    } else if (c == '[') {
      Token t(Token::kSet);
      size_t j = i + 1;
      if (ParseSet(p, j, t)) {
        tokens.push_back(std::move(t));
        i = j;
      } else {
        tokens.emplace_back(Token::kChar, U'[');
        ++i;
      }
    } else {
      tokens.emplace_back(Token::kChar, FoldCase(c));
      ++i;
    }
  }
  return tokens;
}

// Wildcard match with one back-track point: linear for the usual patterns.
bool Match(const std::vector<Token>& tokens, const std::u32string& text) {
  size_t t = 0, s = 0;
  size_t starT = std::string::npos, starS = 0;
  while (s < text.size()) {
    if (t < tokens.size() && tokens[t].kind == Token::kAnySeq) {
      starT = t++;
      starS = s;
    } else if (t < tokens.size() && tokens[t].Matches(text[s])) {
      ++t;
      ++s;
    } else if (starT != std::string::npos) {
      t = starT + 1;
      s = ++starS;
    } else {
      return false;
    }
  }
  while (t < tokens.size() && tokens[t].kind == Token::kAnySeq) ++t;
  return t == tokens.size();
}

// The text folded as the match folds it, into a buffer kept per thread: a
// search calls this once per row, and the row's text is a whole body.
const std::u32string& FoldedText(std::string_view text) {
  thread_local std::u32string folded;
  folded.clear();
  folded.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      folded.push_back(b >= 'A' && b <= 'Z' ? b + 32 : b);
      ++i;
    } else {
      folded.push_back(FoldCase(NextCodePoint(text, i)));
    }
  }
  return folded;
}

// Appends c to out as UTF-8; returns the new end.
char* PutUtf8(char* out, char32_t c) {
  if (c < 0x80) {
    *out++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *out++ = static_cast<char>(0xC0 | (c >> 6));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (c >> 12));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (c >> 18));
    *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

constexpr std::array<char, 128> kLower = [] {
  std::array<char, 128> t{};
  for (int c = 0; c < 128; ++c) t[size_t(c)] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return t;
}();

// The fold of the character at text[i], in UTF-8, into buf; i moves past it.
// ASCII and the two-byte scripts (Cyrillic, Greek, Latin with accents: most
// bodies) go through tables.
size_t FoldNext(std::string_view text, size_t& i, char* buf) {
  static const auto kTwoByte = [] {
    auto t = std::make_unique<char32_t[]>(0x800);
    for (char32_t c = 0; c < 0x800; ++c) t[c] = FoldCase(c);
    return t;
  }();
  const unsigned char b = static_cast<unsigned char>(text[i]);
  if (b < 0x80) {
    buf[0] = kLower[b];
    ++i;
    return 1;
  }
  if ((b >> 5) == 6 && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) {
    const char32_t c = kTwoByte[((b & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu)];
    i += 2;
    return static_cast<size_t>(PutUtf8(buf, c) - buf);
  }
  return static_cast<size_t>(PutUtf8(buf, FoldCase(NextCodePoint(text, i))) - buf);
}

// Whether text, folded, holds literal (folded, UTF-8). Folding maps code
// point to code point, and a UTF-8 string holds another exactly where its
// code points hold the other's, so this is a byte search of the folded
// text. The text is folded a stretch at a time and searched as it goes, so
// a word near the start costs only that much of a body.
bool ContainsFoldedByStretch(std::string_view text, std::string_view literal) {
  // A folded character takes at most twice its bytes (a stray byte is read
  // as the character of its value); the buffer only grows.
  thread_local std::vector<char> folded;
  if (folded.size() < 2 * text.size() + 8) folded.resize(2 * text.size() + 8);
  constexpr size_t kStretch = 1024;
  char* const begin = folded.data();
  char* out = begin;
  const char* unsearched = begin;  // where a match not yet ruled out may start
  const size_t n = literal.size();
  for (size_t i = 0; i < text.size();) {
    for (const size_t stop = std::min(text.size(), i + kStretch); i < stop;) out += FoldNext(text, i, out);
    const size_t have = static_cast<size_t>(out - unsearched);
    if (have < n) continue;
    if (memmem(unsearched, have, literal.data(), n) != nullptr) return true;
    unsearched = out - (n - 1);
  }
  return false;
}

// Whether the folded text from text[i], a character's start, begins with literal.
bool FoldedStartsWith(std::string_view text, size_t i, std::string_view literal) {
  char buf[4];
  for (size_t j = 0; j < literal.size();) {
    if (i >= text.size()) return false;
    const size_t len = FoldNext(text, i, buf);
    if (j + len > literal.size() || memcmp(buf, literal.data() + j, len) != 0) return false;
    j += len;
  }
  return true;
}

// The bytes a character whose fold is `first` can start with: every lead
// byte NextCodePoint reads such a character from (overlong forms too) and
// its stray byte. With them the search skips, eight bytes at a time, all
// text that cannot start a match, and folds only where one may start, as
// SQLite's own LIKE does for ASCII. Every such byte starts a character when
// the text is read from its start (ASCII and lead bytes are never part of
// another), except a stray continuation byte: a first character that can be
// one (U+0080 to U+00BF) leaves the search to ContainsFoldedByStretch.
struct FirstBytes {
  bool usable = false;
  std::array<bool, 256> starts{};
  std::vector<unsigned char> ascii;  // the ASCII ones
  bool high = false;                 // any of 0x80 and up
};

FirstBytes FirstBytesOf(char32_t first) {
  std::vector<char32_t> chars = FoldPreimages(first);
  chars.push_back(first);
  FirstBytes f;
  for (char32_t c : chars) {
    if (c >= 0x80 && c <= 0xBF) return {};
    if (c < 0x80) f.starts[c] = true;
    if (c >= 0x80 && c <= 0xFF) f.starts[c] = true;  // a stray byte
    if (c < 0x800) f.starts[0xC0 | (c >> 6)] = true;
    if (c < 0x10000) f.starts[0xE0 | (c >> 12)] = true;
    if (c < 0x200000) f.starts[0xF0 | (c >> 18)] = true;
  }
  for (int b = 0; b < 256; ++b) {
    if (!f.starts[size_t(b)]) continue;
    if (b < 0x80) f.ascii.push_back(static_cast<unsigned char>(b));
    else f.high = true;
  }
  f.usable = true;
  return f;
}

// The first position from i whose byte may start a match, or text.size().
size_t NextStart(std::string_view text, size_t i, const FirstBytes& f) {
  constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull, kLow = 0x7F7F7F7F7F7F7F7Full;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  while (i + 8 <= n) {
    uint64_t w;
    memcpy(&w, p + i, 8);
    uint64_t hits = f.high ? (w & kHigh) : 0;
    for (unsigned char a : f.ascii) {
      const uint64_t x = w ^ (kOnes * a);
      hits |= ~(((x & kLow) + kLow) | x | kLow);  // 0x80 in each byte equal to a
    }
    if (hits != 0) break;
    i += 8;
  }
  while (i < n && !f.starts[p[i]]) ++i;
  return i;
}

// Sixteen bytes at a time, in the compiler's portable vectors (SSE2 or NEON).
using Bytes16 = unsigned char __attribute__((vector_size(16)));

Bytes16 Load16(const unsigned char* p) {
  Bytes16 v;
  memcpy(&v, p, sizeof v);
  return v;
}

template <typename V>
bool Any(V v) {
  uint64_t half[2];
  memcpy(half, &v, sizeof half);
  return (half[0] | half[1]) != 0;
}

// The first byte from i of 0x80 or above, or n.
size_t NextHigh(const unsigned char* p, size_t i, size_t n) {
  for (; i + 16 <= n && !Any(Load16(p + i) & 0x80); i += 16) {
  }
  while (i < n && p[i] < 0x80) ++i;
  return i;
}

// Whether the ASCII text s[0, len) holds lit (folded ASCII, two bytes or
// more): ASCII folds byte for byte, so this is a case-blind byte search. It
// tests a literal's first and last bytes sixteen places at a time and looks
// closer only where both agree, so a frequent first letter costs little.
bool AsciiHolds(const unsigned char* s, size_t len, std::string_view lit) {
  const size_t n = lit.size();
  if (len < n) return false;
  // Or-ing 0x20 lowers a letter; other bytes must be equal as they are.
  auto caseBit = [](char c) { return static_cast<unsigned char>(c >= 'a' && c <= 'z' ? 0x20 : 0); };
  const unsigned char firstBit = caseBit(lit.front()), lastBit = caseBit(lit.back());
  const Bytes16 first = Bytes16{} + static_cast<unsigned char>(lit.front());
  const Bytes16 last = Bytes16{} + static_cast<unsigned char>(lit.back());
  auto at = [&](size_t p) {
    for (size_t k = 0; k < n; ++k)
      if (kLower[s[p + k]] != lit[k]) return false;
    return true;
  };
  size_t p = 0;
  for (; p + 16 + n - 1 <= len; p += 16) {
    const auto hit = ((Load16(s + p) | firstBit) == first) & ((Load16(s + p + n - 1) | lastBit) == last);
    if (!Any(hit)) continue;
    for (size_t j = 0; j < 16; ++j)
      if (hit[j] && at(p + j)) return true;
  }
  for (; p + n <= len; ++p)
    if (at(p)) return true;
  return false;
}

// ContainsFolded for an ASCII literal of two bytes or more, the usual
// keyword. A match wholly inside a run of ASCII text is found by the byte
// search; one that may start in or take in other characters (a KELVIN SIGN
// for k, an overlong form) is tested from each such start by folding.
bool ContainsAscii(std::string_view text, std::string_view literal, const FirstBytes& first) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size(), len = literal.size();
  for (size_t i = 0; i < n;) {
    const size_t high = NextHigh(p, i, n);
    if (high - i >= len && AsciiHolds(p + i, high - i, literal)) return true;
    if (high == n) return false;
    // The ASCII starts whose match would reach the character at `high`, and it.
    for (size_t q = high - i >= len ? high - len + 1 : i; q <= high; ++q)
      if (first.starts[p[q]] && FoldedStartsWith(text, q, literal)) return true;
    i = high;
    NextCodePoint(text, i);
  }
  return false;
}

bool ContainsFolded(std::string_view text, std::string_view literal, const FirstBytes& first) {
  if (literal.empty()) return true;
  if (!first.usable) return ContainsFoldedByStretch(text, literal);
  for (size_t i = NextStart(text, 0, first); i < text.size(); i = NextStart(text, i, first)) {
    if (FoldedStartsWith(text, i, literal)) return true;
    NextCodePoint(text, i);
  }
  return false;
}

struct CompiledPattern {
  std::vector<Token> tokens;
  // For "%literal%", the usual keyword: the literal, folded, in UTF-8.
  bool contains = false;
  std::string literal;
  FirstBytes first;
  bool asciiLiteral = false;  // of two bytes or more, for ContainsAscii
};

CompiledPattern CompilePattern(std::string_view pattern, char32_t escape) {
  CompiledPattern c;
  c.tokens = Compile(pattern, escape);
  const auto& t = c.tokens;
  if (t.size() < 2 || t.front().kind != Token::kAnySeq || t.back().kind != Token::kAnySeq) return c;
  std::string literal;
  for (size_t i = 1; i + 1 < t.size(); ++i) {
    const bool single = t[i].kind == Token::kSet && !t[i].negate && t[i].ranges.size() == 1 &&
                        t[i].ranges[0].first == t[i].ranges[0].second;
    if (t[i].kind != Token::kChar && !single) return c;
    AppendUtf8(literal, t[i].kind == Token::kChar ? t[i].ch : t[i].ranges[0].first);
  }
  c.contains = true;
  if (!literal.empty()) {
    size_t i = 0;
    c.first = FirstBytesOf(NextCodePoint(literal, i));
    c.asciiLiteral = c.first.usable && literal.size() >= 2 &&
                     std::all_of(literal.begin(), literal.end(), [](char ch) { return (ch & 0x80) == 0; });
  }
  c.literal = std::move(literal);
  return c;
}

bool Matches(const CompiledPattern& p, std::string_view text) {
  if (p.asciiLiteral) return ContainsAscii(text, p.literal, p.first);
  if (p.contains) return ContainsFolded(text, p.literal, p.first);
  return Match(p.tokens, FoldedText(text));
}

void FreePattern(void* p) { delete static_cast<CompiledPattern*>(p); }

void LikeFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  const unsigned char* pattern = sqlite3_value_text(argv[0]);
  const unsigned char* text = sqlite3_value_text(argv[1]);
  if (!pattern || !text) return;  // NULL
  // The pattern is usually the same for every row of a search: compile it once.
  auto* compiled = static_cast<CompiledPattern*>(sqlite3_get_auxdata(ctx, 0));
  std::unique_ptr<CompiledPattern> fresh;
  if (!compiled) {
    char32_t escape = 0;
    if (argc == 3) {
      const unsigned char* e = sqlite3_value_text(argv[2]);
      if (e && *e) {
        std::string_view es(reinterpret_cast<const char*>(e));
        size_t i = 0;
        escape = NextCodePoint(es, i);
      }
    }
    fresh = std::make_unique<CompiledPattern>(CompilePattern(reinterpret_cast<const char*>(pattern), escape));
    compiled = fresh.get();
  }
  sqlite3_result_int(ctx, Matches(*compiled, reinterpret_cast<const char*>(text)) ? 1 : 0);
  // Last: SQLite may free it at once when the pattern is not a constant.
  if (fresh) sqlite3_set_auxdata(ctx, 0, fresh.release(), FreePattern);
}

}  // namespace

bool LikeMatch(std::string_view pattern, std::string_view text, char32_t escape) {
  return Matches(CompilePattern(pattern, escape), text);
}

std::vector<std::u32string> LikeLiteralRuns(std::string_view pattern, char32_t escape) {
  std::vector<std::u32string> runs(1);
  for (const Token& t : Compile(pattern, escape)) {
    bool single = t.kind == Token::kSet && !t.negate && t.ranges.size() == 1 && t.ranges[0].first == t.ranges[0].second;
    if (t.kind == Token::kChar || single) {
      runs.back().push_back(t.kind == Token::kChar ? t.ch : t.ranges[0].first);
    } else if (!runs.back().empty()) {
      runs.emplace_back();
    }
  }
  if (runs.back().empty()) runs.pop_back();
  return runs;
}

namespace {

// One character of a regular expression, outside or inside brackets: ASCII
// other than letters and digits behind a backslash, which makes it literal.
void AppendRegexChar(std::string& out, char32_t c) {
  if (c < 0x80 && !std::isalnum(static_cast<int>(c))) out += '\\';
  AppendUtf8(out, c);
}

// The characters that fold to one of `folded`'s, in brackets, or the one
// character itself when nothing else folds to it.
void AppendFoldClass(std::string& out, const std::vector<std::pair<char32_t, char32_t>>& folded, bool negate) {
  constexpr char32_t kEnumerateAtMost = 512;
  std::string members;
  size_t count = 0;
  char32_t only = 0;
  for (auto [lo, hi] : folded) {
    if (hi - lo >= kEnumerateAtMost) {
      AppendRegexChar(members, lo);
      members += '-';
      AppendRegexChar(members, hi);
      count += 2;
      continue;
    }
    for (char32_t f = lo;; ++f) {
      for (char32_t c : FoldPreimages(f)) {
        AppendRegexChar(members, c);
        only = c;
        ++count;
      }
      if (f == hi) break;
    }
  }
  if (count == 1 && !negate) {
    AppendRegexChar(out, only);
    return;
  }
  // An empty set matches nothing, as LikeMatch's does ("^" inside is an anchor).
  if (count == 0) {
    out += negate ? "." : ".^";
    return;
  }
  out += negate ? "[^" : "[";
  out += members;
  out += ']';
}

}  // namespace

std::string LikeToRegex(std::string_view pattern, char32_t escape) {
  const std::vector<Token> tokens = Compile(pattern, escape);
  // "%" at either end leaves that end free rather than writing ".*".
  const bool openStart = !tokens.empty() && tokens.front().kind == Token::kAnySeq;
  const bool openEnd = !tokens.empty() && tokens.back().kind == Token::kAnySeq;
  const size_t begin = openStart ? 1 : 0;
  const size_t end = std::max(begin, tokens.size() - (openEnd ? 1 : 0));
  std::string out = openStart ? "" : "^";
  for (size_t i = begin; i < end; ++i) {
    const Token& t = tokens[i];
    switch (t.kind) {
      case Token::kAnySeq: out += ".*"; break;
      case Token::kAnyOne: out += '.'; break;
      case Token::kChar: AppendFoldClass(out, {{t.ch, t.ch}}, false); break;
      case Token::kSet: AppendFoldClass(out, t.ranges, t.negate); break;
    }
  }
  if (!openEnd) out += '$';
  return out;
}

std::optional<std::string> LikeToFoldedLike(std::string_view pattern, char32_t escape) {
  std::string out;
  for (const Token& t : Compile(pattern, escape)) {
    switch (t.kind) {
      case Token::kAnySeq: out += '%'; break;
      case Token::kAnyOne: out += '_'; break;
      case Token::kSet:
        if (t.negate || t.ranges.size() != 1 || t.ranges[0].first != t.ranges[0].second) return std::nullopt;
        [[fallthrough]];
      case Token::kChar: {
        const char32_t c = t.kind == Token::kChar ? t.ch : t.ranges[0].first;
        if (c == '%' || c == '_' || c == '\\') out += '\\';
        AppendUtf8(out, c);
        break;
      }
    }
  }
  return out;
}

int RegisterLike(sqlite3* db) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  int rc = sqlite3_create_function(db, "like", 2, flags, nullptr, LikeFunction, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_create_function(db, "like", 3, flags, nullptr, LikeFunction, nullptr, nullptr);
  return rc;
}

std::string LikeEscape(std::string_view keyword) {
  std::string out;
  for (char c : keyword) {
    switch (c) {
      case '[': out += "[[]"; break;
      case ']': out += "[]]"; break;
      case '%': out += "[%]"; break;
      case '_': out += "[_]"; break;
      case '^': out += "[^]"; break;
      default: out += c;
    }
  }
  return out;
}

std::string LikeUnescape(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    if (s[i] == '[' && i + 2 < s.size() && s[i + 2] == ']' &&
        std::string_view("[]%_^").find(s[i + 1]) != std::string_view::npos) {
      out += s[i + 1];
      i += 3;
    } else {
      out += s[i++];
    }
  }
  return out;
}

}  // namespace orvo

// UTF-8 text helpers shared by the mask library: ASCII-only case folding and
// trimming, white space collapsing, and cuts that never split a character.
#pragma once

#include <string>
#include <string_view>

#include "platform.h"  // AppendUtf8

namespace orvo {

bool IsAsciiSpace(char c);
std::string AsciiLower(std::string_view s);
std::string AsciiUpper(std::string_view s);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// Lower case for ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic capitals
// (the scripts of the code pages this system knows); other text unchanged.
// Never changes the byte length.
std::string Utf8Lower(std::string_view s);
std::string_view TrimView(std::string_view s);
std::string TrimCopy(std::string_view s);

// Runs of ASCII white space become one space; ends are trimmed.
std::string CollapseSpaces(std::string_view s);

// Leading decimal number as atoi reads it ("12ab" -> 12, "x" -> 0), with an
// optional sign; saturates instead of overflowing.
int LeadingInt(std::string_view s);

// Byte offset just past `count` code points from offset `from` (or the end).
size_t Utf8Advance(std::string_view s, size_t from, size_t count);

// Number of code points in valid UTF-8 (continuation bytes are not counted).
size_t Utf8Length(std::string_view s);

// The first max_chars code points of s.
std::string Utf8CutChars(std::string_view s, size_t max_chars);

// The longest prefix of s of at most max_bytes bytes that ends on a
// character boundary.
std::string Utf8CutBytes(std::string_view s, size_t max_bytes);

// True when s is well-formed UTF-8 (no overlongs, no surrogates).
bool IsValidUtf8(std::string_view s);

}  // namespace orvo

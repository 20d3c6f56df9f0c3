// Small text helpers shared by every program. All text is UTF-8.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvo {

// The longest prefix of `s` of at most maxBytes bytes that does not end in the
// middle of a UTF-8 sequence.
std::string CutUtf8(std::string_view s, size_t maxBytes);

// The first maxChars characters (code points) of UTF-8 text.
std::string CutChars(std::string_view s, size_t maxChars);

// Text for a column or buffer of bufferSize: at most bufferSize - 1
// characters, counted as characters, not bytes.
inline std::string FitBuffer(std::string_view s, size_t bufferSize) {
  return CutChars(s, bufferSize > 0 ? bufferSize - 1 : 0);
}

// `t` in local time through strftime's `format`.
std::string FormatLocalTime(std::time_t t, const char* format);

// Database date-times are local time as "YYYY-MM-DD HH:MM:SS".
std::string FormatDbTime(std::time_t t);
std::optional<std::time_t> ParseDbTime(std::string_view s);
// ParseDbTime for the stored form exactly ("YYYY-MM-DD HH:MM:SS"), without
// mktime, which looks at the time-zone file on every call: a grid or an eBook
// reads a date a row. Within a few hours of a change of the clocks, and for
// any other text, it is ParseDbTime itself, so the two always agree. Like
// localtime_r, it sees a change of TZ after tzset().
std::optional<std::time_t> ParseStoredTime(std::string_view s);

// Unicode case folding of one character, the one folding of every
// case-insensitive match: LIKE, keyword search, mask classes, settings keys.
char32_t FoldCase(char32_t c);
// Every character that FoldCase maps to `folded`, `folded` first when it is
// its own fold (an unfolded character has none but itself).
std::vector<char32_t> FoldPreimages(char32_t folded);

// Decodes one UTF-8 sequence at s[i], advancing i; a malformed byte yields
// itself (as if Latin-1) so matching never stalls on broken input.
char32_t NextCodePoint(std::string_view s, size_t& i);

std::string Trim(std::string_view s);

// The words of a filter's keywords: pieces between blanks, trimmed, empty ones
// dropped. The reader and the eBook generator must split alike.
std::vector<std::string> SplitWords(std::string_view keywords);
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace orvo

// LIKE as the reader's keywords need it: % and _ wildcards, bracket sets
// ([abc], [a-z], [!x] / [^x]) so that [%] [_] [[] []] [^] stand for the
// characters themselves, compared case-insensitively.
#pragma once

#include <sqlite3.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvo {

// `escape` (0 for none) makes the next pattern character literal.
bool LikeMatch(std::string_view pattern, std::string_view text, char32_t escape = 0);

// The runs of literal characters of a pattern, case-folded as the match
// folds them: every text the pattern matches holds each run. Wildcards and
// sets of more than one character end a run.
std::vector<std::u32string> LikeLiteralRuns(std::string_view pattern, char32_t escape = 0);

// The pattern as a regular expression of PostgreSQL's (~) that matches the
// texts LikeMatch does: each character becomes the class of the characters
// that fold to its fold, so the match does not hang on the server's locale.
// A range of more than a few hundred characters keeps its bounds only.
std::string LikeToRegex(std::string_view pattern, char32_t escape = 0);

// The pattern as a PostgreSQL LIKE (backslash escapes) that matches the texts
// holding each character of it in its folded form: some of the texts that
// LikeMatch matches, tested byte by byte, far faster than the regular
// expression. None when the pattern has a set of more than one character.
std::optional<std::string> LikeToFoldedLike(std::string_view pattern, char32_t escape = 0);

// Replaces SQLite's like() (2 and 3 arguments) on a connection.
int RegisterLike(sqlite3* db);

// The reader's escaping of a keyword: [ ] % _ ^ each inside brackets.
std::string LikeEscape(std::string_view keyword);
// The reverse, for showing a stored keyword for editing.
std::string LikeUnescape(std::string_view escaped);

}  // namespace orvo

// Where the layer's statements differ between SQLite and PostgreSQL: every
// switch on the back end that the reader's statements need is here, so the
// statements themselves are written once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "database.h"

namespace orvo::dialect {

using Backend = Database::Backend;

// A case-insensitive sort key: SQLite's NOCASE, and its order on PostgreSQL
// (NoCaseKey, what the schema's NOCASE indexes become there).
std::string NoCase(Backend b, std::string_view expr);

// " ASC" or " DESC", with NULLs where SQLite puts them (first going up, last
// going down); PostgreSQL puts them the other way by default. Every key of a
// sort that an index serves takes it, the tie-break too, as the sort
// indexes' keys keep that order (kSortIndexPrefix).
std::string Direction(Backend b, bool ascending);

// "expr LIKE ?" with the reader's LIKE: bracket escapes, case folded by
// the characters' own folding. SQLite has it as its like(); on PostgreSQL it
// is a regular expression (LikeToRegex) with every character's case forms
// spelled out, since ILIKE folds by the server's locale (none at all under
// C); the pg_trgm indexes serve it as they serve ILIKE. A byte-wise LIKE of
// the folded pattern (LikeToFoldedLike) goes before it: most matching texts
// hold the keyword as it is typed, and the regular expression converts every
// text it tests to wide characters first. `values` are to be bound in order.
struct LikeTest {
  std::string sql;
  std::vector<std::string> values;
};
LikeTest Like(Backend b, std::string_view expr, std::string_view pattern, bool negated = false);
// Whether any of the expressions is like the pattern, every LIKE before the
// first regular expression.
LikeTest LikeAny(Backend b, const std::vector<std::string_view>& exprs, std::string_view pattern);

// "column IN (the ids bound to ?index)", and the value to bind there:
// json_each over a JSON array on SQLite, = ANY over an array on PostgreSQL.
std::string InIdList(Backend b, std::string_view column, int index);
std::string IdList(Backend b, const std::vector<int32_t>& ids);
std::string IdList(Backend b, const std::vector<int64_t>& ids);

}  // namespace orvo::dialect

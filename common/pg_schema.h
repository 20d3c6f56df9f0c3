// The news schema on PostgreSQL, derived from the one SQLite schema source
// (schema.sql and the numbered upgrades) rather than kept twice by hand.
#pragma once

#include <string>
#include <string_view>

namespace orvo {

// The table of picture bytes on PostgreSQL, one row per newsimages row: with
// a shared server every machine needs the pictures, not just their paths.
inline constexpr const char* kImageBytesTable = "newsimage_bytes";

// SQLite's NOCASE order of `expr` on PostgreSQL, on a server of any locale:
// the ASCII letters folded (and nothing else, as NOCASE folds) by lower()
// under the "C" collation, then the bytes compared, which in UTF-8 is code
// point order. The sorts and the indexes that serve them are both written
// with it, so that they match.
std::string NoCaseKey(std::string_view expr);

// The reader's sort indexes: their keys keep SQLite's NULL order (first going
// up), which PostgreSQL's default reverses, so that the sorts walk them
// forwards or backwards with nothing to sort.
inline constexpr std::string_view kSortIndexPrefix = "newsitem_grid_";

// Translates SQLite DDL to PostgreSQL: PRAGMAs dropped; INTEGER as BIGINT and
// INTEGER PRIMARY KEY AUTOINCREMENT as an identity column; an index key
// "x COLLATE NOCASE" as NoCaseKey(x), with x itself included so that the
// index still holds the text, as SQLite's does; the keys of a sort index
// (kSortIndexPrefix) in SQLite's NULL order; virtual tables (the FTS5 search
// index) and the triggers that feed them or their companion tables
// (<name>_...) stay on SQLite; a line "-- PostgreSQL: statement", a comment
// to SQLite, is a statement here. A statement it does not know how to carry over
// gives false with `error` naming it, so a new kind of statement in the schema
// cannot slip past unnoticed.
bool TranslateDdlToPostgres(std::string_view sqlite, std::string* out, std::string* error);

// The whole schema for a new PostgreSQL database: the translated schema.sql
// plus what only PostgreSQL has (pg_trgm and trigram indexes on the searched
// texts, the picture bytes table). Empty with `error` set if it cannot be
// translated.
std::string PostgresSchemaSql(std::string* error);

}  // namespace orvo

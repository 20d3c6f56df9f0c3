// The news schema on PostgreSQL, derived from the one SQLite schema source
// (schema.sql and the numbered upgrades) rather than kept twice by hand.
#pragma once

#include <string>
#include <string_view>

namespace orvo {

// The table of picture bytes on PostgreSQL, one row per newsimages row: with
// a shared server every machine needs the pictures, not just their paths.
inline constexpr const char* kImageBytesTable = "newsimage_bytes";

// Translates SQLite DDL to PostgreSQL: PRAGMAs dropped; INTEGER as BIGINT and
// INTEGER PRIMARY KEY AUTOINCREMENT as an identity column; an index key
// "x COLLATE NOCASE" as lower(x); virtual tables (the FTS5 search index) and
// the triggers that feed them or their companion tables (<name>_...) stay on
// SQLite. A statement it does not know
// how to carry over gives false with `error` naming it, so a new kind of
// statement in the schema cannot slip past unnoticed.
bool TranslateDdlToPostgres(std::string_view sqlite, std::string* out, std::string* error);

// The whole schema for a new PostgreSQL database: the translated schema.sql
// plus what only PostgreSQL has (pg_trgm and trigram indexes on the searched
// texts, the picture bytes table). Empty with `error` set if it cannot be
// translated.
std::string PostgresSchemaSql(std::string* error);

}  // namespace orvo

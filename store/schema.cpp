#include "schema.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "pg_schema.h"
#include "text.h"

namespace orvo {

namespace {

struct ParsedSchema {
  std::string base;
  std::vector<SchemaUpgrade> upgrades;
};

// "-- Upgrade N[, SQLite only|, PostgreSQL only][, in the background]: what"
// starts a part.
bool ParseMarker(std::string_view line, SchemaUpgrade* out) {
  constexpr std::string_view kMarker = "-- Upgrade ";
  if (line.substr(0, kMarker.size()) != kMarker) return false;
  line.remove_prefix(kMarker.size());
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view head = line.substr(0, colon);
  const size_t comma = head.find(',');
  const std::string number(head.substr(0, comma));
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return false;
  out->version = std::stoi(number);
  const std::string_view flags = comma == std::string_view::npos ? std::string_view() : head.substr(comma);
  out->sqliteOnly = flags.find("SQLite only") != std::string_view::npos;
  out->postgresOnly = flags.find("PostgreSQL only") != std::string_view::npos;
  out->background = flags.find("in the background") != std::string_view::npos;
  out->what = Trim(line.substr(colon + 1));
  return true;
}

ParsedSchema Parse(std::string_view text) {
  ParsedSchema parsed;
  std::string* into = &parsed.base;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    SchemaUpgrade upgrade;
    if (ParseMarker(line, &upgrade)) {
      // The source is ours: a gap or a repeat is a fault of the build.
      const int expected = parsed.upgrades.empty() ? 2 : parsed.upgrades.back().version + 1;
      if (upgrade.version != expected) throw std::logic_error("schema.sql: upgrade " + std::to_string(expected) + " expected");
      parsed.upgrades.push_back(std::move(upgrade));
      into = &parsed.upgrades.back().sql;
      continue;
    }
    into->append(line);
    into->push_back('\n');
  }
  return parsed;
}

const ParsedSchema& Schema() {
  static const ParsedSchema parsed = Parse(NewsSchemaSql());
  return parsed;
}

bool Postgres(Database& db) { return db.backend() == Database::Backend::kPostgres; }

// The key of the upgrade's advisory lock on PostgreSQL: any number, the same
// in every program.
constexpr const char* kSchemaLockKey = "4837461003";

bool HasVersionTable(Database& db) { return TableExists(db, "schema_version"); }

// The statements of `sql` about the version table.
std::string VersionStatements(const std::string& sql) {
  std::string out;
  for (const std::string& s : SchemaStatements(sql))
    if (s.find("schema_version") != std::string::npos) out += s + "\n";
  return out;
}

// Statements of the schema source, translated for PostgreSQL.
int RunSql(Database& db, const std::string& sql) {
  if (!Postgres(db)) return db.Exec(sql.c_str());
  std::string pg, error;
  if (!TranslateDdlToPostgres(sql, &pg, &error)) return SQLITE_ERROR;
  return db.Exec(pg.c_str());
}

// An upgrade's statements for the database's back end: a SQLite-only part has
// none on PostgreSQL, a PostgreSQL-only part only its version's record on SQLite.
int RunPart(Database& db, const SchemaUpgrade& part) {
  if (Postgres(db) && part.sqliteOnly) return 0;
  if (!Postgres(db) && part.postgresOnly) return RunSql(db, VersionStatements(part.sql));
  return RunSql(db, part.sql);
}

// The base's own statements about the version table, for a file made before
// it existed: such a file is of version 1.
std::string VersionTableSql() { return VersionStatements(Schema().base); }

}  // namespace

const std::vector<SchemaUpgrade>& SchemaUpgrades() { return Schema().upgrades; }

const SchemaUpgrade& SchemaUpgradeTo(int version) {
  const auto& all = SchemaUpgrades();
  if (version < 2 || version > LatestSchemaVersion()) throw std::out_of_range("no schema upgrade " + std::to_string(version));
  return all[static_cast<size_t>(version - 2)];
}

int LatestSchemaVersion() { return 1 + static_cast<int>(SchemaUpgrades().size()); }

std::vector<std::string> SchemaStatements(std::string_view sql) {
  std::vector<std::string> out;
  std::string current;
  bool trigger = false;
  while (!sql.empty()) {
    const size_t end = sql.find('\n');
    const std::string_view line = sql.substr(0, end);
    sql.remove_prefix(end == std::string_view::npos ? sql.size() : end + 1);
    const std::string bare = Trim(line);
    if (bare.empty() || bare.substr(0, 2) == "--") continue;
    if (current.empty()) trigger = bare.substr(0, 14) == "CREATE TRIGGER";
    current.append(line);
    // A trigger's body holds statements of its own: it ends at its END.
    if (bare.back() == ';' && (!trigger || bare == "END;")) {
      out.push_back(std::move(current));
      current.clear();
    } else {
      current.push_back('\n');
    }
  }
  if (!Trim(current).empty()) out.push_back(std::move(current));
  return out;
}

namespace {
// The recorded version; 1 for a file made before versions were recorded
// (then `table` is false), 0 for an empty version table.
int ReadVersion(Database& db, bool* table) {
  *table = HasVersionTable(db);
  if (!*table) return 1;
  Statement s(db, "SELECT max(version) FROM schema_version");
  return s.Next() && !s.IsNull(0) ? static_cast<int>(s.Int(0)) : 0;
}
}  // namespace

bool TableExists(Database& db, std::string_view name) {
  Statement s(db, Postgres(db) ? "SELECT count(*) FROM information_schema.tables WHERE table_schema = current_schema()"
                                 " AND table_name = ?"
                               : "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?");
  s.Bind(1, name);
  return s.Next() && s.Int(0) == 1;
}

int SchemaVersion(Database& db) {
  bool table = false;
  return ReadVersion(db, &table);
}

int RunSchemaUpgrades(Database& db, int from, int through) {
  from = std::max(from, 2);
  through = std::min(through, LatestSchemaVersion());
  std::unique_ptr<Transaction> own;
  // PostgreSQL's schema is made whole by orvo init; an upgrade there runs in
  // a transaction of its own.
  if (Postgres(db) || !db.InTransaction()) {
    own = std::make_unique<Transaction>(db);
    if (int rc = own->status()) return rc;
  }
  if (Postgres(db)) {
    // Several machines may open an older database at once: one upgrades it,
    // the others wait and then find it done.
    if (int rc = db.Exec((std::string("SELECT pg_advisory_xact_lock(") + kSchemaLockKey + ")").c_str())) return rc;
    bool table = false;
    from = std::max(from, ReadVersion(db, &table) + 1);
  }
  if (!HasVersionTable(db))
    if (int rc = RunSql(db, VersionTableSql())) return rc;
  for (int v = from; v <= through; ++v)
    if (int rc = RunPart(db, SchemaUpgradeTo(v))) return rc;
  return own ? own->Commit() : 0;
}

int UpgradeSchema(Database& db) {
  // PostgreSQL has no background builder and runs them all, but not inside a
  // caller's transaction (an engine's item, say), which they would hold
  // their locks to the end of, or commit half-done.
  const bool all = Postgres(db) && !db.InTransaction();
  int through = LatestSchemaVersion();
  for (const SchemaUpgrade& u : SchemaUpgrades())
    if (u.background && !all) {
      through = u.version - 1;
      break;
    }
  bool table = false;
  const int version = ReadVersion(db, &table);
  if (version == 0) return SQLITE_CORRUPT;
  if (version >= through && table) return 0;
  return RunSchemaUpgrades(db, version + 1, through);
}

}  // namespace orvo

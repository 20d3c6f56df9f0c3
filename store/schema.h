// The schema's versions: common/schema.sql is the one source, a version-1
// base followed by numbered upgrades ("-- Upgrade N" parts). A new file runs
// it whole; an older file runs the upgrades above the version it records in
// schema_version (a file from before versions were recorded counts as 1, and
// the upgrades' IF NOT EXISTS take what it already has).
//
// The upgrades up to the first one marked "in the background" run whenever
// the layer is used (UpgradeSchema); that one and those after it may take
// long on a large file and are left to IndexUpgrade (store/search_index.h),
// which builds them a step at a time beside a download. A PostgreSQL server
// builds an index without stopping the readers, and has no IndexUpgrade:
// there UpgradeSchema runs them all when called outside a transaction.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "database.h"

namespace orvo {

struct SchemaUpgrade {
  int version = 0;
  std::string what;
  bool sqliteOnly = false;
  bool postgresOnly = false;
  bool background = false;
  std::string sql;  // the part's statements, its version's record last
};

// The upgrades of the schema source, in order, versions 2 to the latest.
const std::vector<SchemaUpgrade>& SchemaUpgrades();
// The background upgrades, which IndexUpgrade builds.
inline constexpr int kGridIndexesVersion = 4;
inline constexpr int kSearchIndexVersion = 5;
inline constexpr int kIndexDeleteQueueVersion = 6;
inline constexpr int kUniqueAddressVersion = 7;
inline constexpr int kSortOrderVersion = 8;
inline constexpr int kLz4BodiesVersion = 9;
inline constexpr int kInlineBodiesVersion = 10;
inline constexpr int kCheapTitleKeyVersion = 11;
const SchemaUpgrade& SchemaUpgradeTo(int version);
int LatestSchemaVersion();

// The statements of a part of the schema source, one each (a trigger's body
// stays with its trigger), without comments.
std::vector<std::string> SchemaStatements(std::string_view sql);

// True when the database has a table of that name: sqlite_master on SQLite,
// information_schema (the current schema) on PostgreSQL.
bool TableExists(Database& db, std::string_view name);

// The version the database records; 1 for a file from before versions were
// recorded; 0 when it cannot be read.
int SchemaVersion(Database& db);

// Runs upgrades `from` to `through` in one transaction (inside the caller's
// when one is open), even those the file records as done: their statements
// take what exists, and the record never goes back. 0, or the failure's code.
int RunSchemaUpgrades(Database& db, int from, int through);

// Brings the database up to the last upgrade before the background ones.
// Cheap when it is there: one read. 0, or the failure's code.
int UpgradeSchema(Database& db);

}  // namespace orvo

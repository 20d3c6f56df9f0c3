#include "store/schema.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "database.h"
#include "pg_server.h"
#include "store/pairs.h"
#include "store/search_index.h"
#include "test_support.h"

namespace orvo {
namespace {

using testing::ReadFile;
using testing::TempDir;

// Tables the old code made itself, beside the schema of its time.
constexpr const char* kReaderStartupIndexes =
    "CREATE INDEX IF NOT EXISTS newsitem_title_nocase ON newsitem(title COLLATE NOCASE);"
    "CREATE INDEX IF NOT EXISTS newsitem_pair_date ON newsitem(fk_site_cat_rel, publication_date);";
constexpr const char* kEngineHealthTables =
    "CREATE TABLE IF NOT EXISTS mask_health ( id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " fk_site_cat_rel INTEGER REFERENCES site_cat_rel(id) ON DELETE CASCADE, run_time TEXT NOT NULL DEFAULT '',"
    " list_loaded INTEGER NOT NULL DEFAULT 0, links_found INTEGER NOT NULL DEFAULT 0,"
    " feed_links INTEGER NOT NULL DEFAULT 0, pages_walked INTEGER NOT NULL DEFAULT 0,"
    " empty_bodies INTEGER NOT NULL DEFAULT 0, empty_titles INTEGER NOT NULL DEFAULT 0,"
    " items_stored INTEGER NOT NULL DEFAULT 0, auto_items INTEGER NOT NULL DEFAULT 0,"
    " state INTEGER NOT NULL DEFAULT 0, symptom TEXT NOT NULL DEFAULT '', broken_since TEXT);"
    "CREATE INDEX IF NOT EXISTS mask_health_pair ON mask_health(fk_site_cat_rel, id);"
    "CREATE TABLE IF NOT EXISTS newsitem_auto ( fk_newsitem INTEGER PRIMARY KEY REFERENCES newsitem(id)"
    " ON DELETE CASCADE, how INTEGER NOT NULL DEFAULT 1);"
    "INSERT INTO mask_health (fk_site_cat_rel, run_time, links_found, state) VALUES (1, '2026-01-02 03:04:05', 7, 0);";

// Rows every version's tables take.
constexpr const char* kStoredRows =
    "INSERT INTO news_config (site_name) VALUES ('Harbour Gazette');"
    "INSERT INTO news_cat (name) VALUES ('City');"
    "INSERT INTO site_cat_rel (is_selected, fk_news_cat, fk_news_config) VALUES (1, 1, 1);"
    "INSERT INTO newsitem (recvdate, newsdate, fk_site_cat_rel, publication_date, src_url, title, body, is_read)"
    " VALUES ('2026-01-02 03:04:05', '2026-01-02 03:04:05', 1, '2026-01-02 03:04:05', 'http://h.example/1',"
    " 'Ferry timetable', 'The lighthouse keeper retires', 1),"
    " ('2026-01-03 03:04:05', '2026-01-03 03:04:05', 1, '2026-01-03 03:04:05', 'http://h.example/2',"
    " 'Market day', 'Fish and bread', 0);"
    "INSERT INTO newsimages (bodypos, image_path, imagetext, fk_newsitem) VALUES (4, 'Images/1_0.jpg', 'Pier', 1);"
    "INSERT INTO news_masks (mask, mask_version, type, fk_site_cat_rel) VALUES ('<mask/>', 3, 1, 1);"
    "INSERT INTO filter (name, keywords, search_mode) VALUES ('Sea', 'lighthouse', 0);"
    "INSERT INTO filter_site_cat_rel (fk_filter, fk_site_cat_rel) VALUES (1, 1);";

// What an older file may hold that a new one refuses: an address stored
// twice (the later copy goes), and items without an address (they stay).
constexpr const char* kOldOnlyRows =
    "INSERT INTO newsitem (fk_site_cat_rel, src_url, title) VALUES (1, 'http://h.example/1', 'Ferry again'),"
    " (1, '', 'No address'), (1, '', 'No address either');";

struct OldFile {
  const char* script;  // under old_schemas/; empty: a file of the current schema
  const char* byCode;  // what that version's code added to it
};

std::set<std::pair<std::string, std::string>> Objects(Database& db) {
  std::set<std::pair<std::string, std::string>> out;
  Statement s(db, "SELECT type, name FROM sqlite_master WHERE name NOT LIKE 'sqlite[_]%' ESCAPE '['");
  while (s.Next()) out.emplace(s.Text(0), s.Text(1));
  return out;
}

std::set<std::string> TriggerSql(Database& db) {
  std::set<std::string> out;
  Statement s(db, "SELECT sql FROM sqlite_master WHERE type = 'trigger'");
  while (s.Next()) out.insert(s.Text(0));
  return out;
}

int64_t Count(Database& db, const std::string& sql) {
  Statement s(db, sql);
  return s.Next() ? s.Int(0) : -1;
}

int64_t Found(Database& db, const char* like) {
  Statement s(db, "SELECT count(*) FROM newsitem WHERE " + IndexCandidatesSql("id") + " AND body LIKE ?");
  s.Bind(1, *IndexQueryForLike(like)).Bind(2, like);
  return s.Next() ? s.Int(0) : -1;
}

// A file made by every earlier version opens, takes the upgrades that do not
// wait for the background at once, the rest from the index upgrade, and ends
// as a new file would be, with its rows.
TEST(SchemaUpgradeTest, AFileOfEveryEarlierVersionIsUpgradedWithItsRows) {
  const OldFile kFiles[] = {
      {"2_0_base.sql", ""},
      {"2_0_base.sql", kReaderStartupIndexes},
      {"mask_health.sql", kReaderStartupIndexes},
      {"search_index.sql", kEngineHealthTables},
      {"index_delete_queue.sql", ""},
      {"own_sites.sql", ""},
      {"", ""},
  };
  TempDir dir;
  std::unique_ptr<Database> fresh;
  ASSERT_EQ(Database::Open(dir.File("fresh.db"), Database::Mode::kCreate, &fresh), 0);
  EXPECT_EQ(SchemaVersion(*fresh), LatestSchemaVersion());
  EXPECT_EQ(LatestSchemaVersion(), kCheapTitleKeyVersion);
  int n = 0;
  for (const OldFile& old : kFiles) {
    SCOPED_TRACE(std::string(*old.script ? old.script : "current") + (*old.byCode ? " and its code's tables" : ""));
    const std::string path = dir.File("old" + std::to_string(++n) + ".db");
    if (*old.script) {
      const std::string sql = ReadFile(std::string(ORVO_OLD_SCHEMAS) + "/" + old.script);
      ASSERT_FALSE(sql.empty());
      sqlite3* raw = nullptr;
      ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
      char* error = nullptr;
      for (const char* part : {sql.c_str(), kStoredRows, kOldOnlyRows, old.byCode})
        EXPECT_EQ(sqlite3_exec(raw, part, nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
      sqlite3_close(raw);
    } else {
      std::unique_ptr<Database> made;
      ASSERT_EQ(Database::Open(path, Database::Mode::kCreate, &made), 0);
      ASSERT_EQ(made->Exec(kStoredRows), 0);
      EXPECT_EQ(made->Exec(kOldOnlyRows), SQLITE_CONSTRAINT_UNIQUE);
    }

    std::unique_ptr<Database> db;
    ASSERT_EQ(Database::Open(path, Database::Mode::kExisting, &db), 0);
    const bool current = !*old.script;
    EXPECT_EQ(SchemaVersion(*db), current ? LatestSchemaVersion() : 1);
    EXPECT_EQ(UpgradeSchema(*db), 0);
    EXPECT_EQ(SchemaVersion(*db), current ? LatestSchemaVersion() : kGridIndexesVersion - 1);
    EXPECT_EQ(Count(*db, "SELECT count(*) FROM own_site"), 0);  // the tables the layer needs at once
    EXPECT_EQ(Count(*db, "SELECT count(*) FROM newsitem_auto"), 0);

    std::atomic<bool> stop{false};
    UpgradePace pace;
    pace.quietMs = 0;
    pace.gapMs = 0;
    EXPECT_EQ(UpgradeIndexes(path, stop, nullptr, pace), 0);
    EXPECT_EQ(SchemaVersion(*db), LatestSchemaVersion());
    EXPECT_TRUE(IndexUpgrade(*db).Done());
    EXPECT_EQ(Objects(*db), Objects(*fresh));
    EXPECT_EQ(TriggerSql(*db), TriggerSql(*fresh));

    EXPECT_EQ(Count(*db, "SELECT count(*) FROM newsitem WHERE is_read = 1 AND title = 'Ferry timetable'"), 1);
    EXPECT_EQ(Count(*db, "SELECT count(*) FROM newsimages WHERE fk_newsitem = 1 AND imagetext = 'Pier'"), 1);
    EXPECT_EQ(Count(*db, "SELECT count(*) FROM newsitem WHERE src_url = 'http://h.example/1'"), 1);
    EXPECT_EQ(Count(*db, "SELECT count(*) FROM newsitem WHERE title LIKE 'No address%'"), current ? 0 : 2);
    EXPECT_EQ(db->Exec("INSERT INTO newsitem (fk_site_cat_rel, src_url) VALUES (1, 'http://h.example/2')"),
              SQLITE_CONSTRAINT_UNIQUE);
    EXPECT_EQ(Count(*db, "SELECT count(*) FROM news_masks WHERE mask_version = 3"), 1);
    EXPECT_EQ(Count(*db, "SELECT count(*) FROM filter_site_cat_rel WHERE fk_filter = 1"), 1);
    EXPECT_EQ(Count(*db, "SELECT count(*) FROM mask_health WHERE links_found = 7"), old.byCode == kEngineHealthTables ? 1 : 0);
    // The index holds the old items and keeps up with new ones and deletes.
    EXPECT_EQ(Found(*db, "%lighthouse%"), 1);
    ASSERT_EQ(db->Exec("INSERT INTO newsitem (fk_site_cat_rel, title, body) VALUES (1, 'New', 'a lighthouse again')"), 0);
    EXPECT_EQ(Found(*db, "%lighthouse%"), 2);
    ASSERT_EQ(db->Exec("DELETE FROM newsitem WHERE title = 'Market day'"), 0);
    EXPECT_EQ(Count(*db, "SELECT count(*) FROM newsitem_fts_gone"), 1);
    EXPECT_EQ(Database::Open(path, Database::Mode::kExisting, &db), 0);  // and opens again
  }
}

// The source's parts: numbered without gaps, each recording its own number,
// and a statement split that keeps a trigger whole.
TEST(SchemaUpgradeTest, EachUpgradeRecordsItsVersionAndSplitsIntoStatements) {
  int expected = 2;
  for (const SchemaUpgrade& u : SchemaUpgrades()) {
    SCOPED_TRACE(u.what);
    EXPECT_EQ(u.version, expected++);
    const std::vector<std::string> statements = SchemaStatements(u.sql);
    ASSERT_FALSE(statements.empty());
    EXPECT_EQ(statements.back(), "UPDATE schema_version SET version = " + std::to_string(u.version) +
                                     " WHERE version = " + std::to_string(u.version - 1) + ";");
  }
  EXPECT_TRUE(SchemaUpgradeTo(kGridIndexesVersion).background);
  EXPECT_FALSE(SchemaUpgradeTo(kGridIndexesVersion - 1).background);
  EXPECT_TRUE(SchemaUpgradeTo(kSearchIndexVersion).sqliteOnly);
  const auto split = SchemaStatements(
      "-- a comment; with a semicolon\nCREATE TABLE a (x);\nCREATE TRIGGER t AFTER INSERT ON a\nBEGIN\n"
      "  DELETE FROM a;\n  DELETE FROM a;\nEND;\nDROP TABLE a;");
  ASSERT_EQ(split.size(), 3u);
  EXPECT_EQ(split[1], "CREATE TRIGGER t AFTER INSERT ON a\nBEGIN\n  DELETE FROM a;\n  DELETE FROM a;\nEND;");
}

// A PostgreSQL database made before the grid's indexes kept the sorts' order
// (lower() in the server's collation, NULLs last), or before the title's key
// was folded by lower() under "C" (translate()), gets them made again when a
// program opens it, after which every grid sort walks an index, either way,
// with nothing left to sort.
TEST(SchemaUpgradeOnPostgres, TheGridIndexesOfAnOlderDatabaseAreMadeAgainForItsSorts) {
  ORVO_NEED_POSTGRES(server);
  struct Older {
    int version;
    std::string indexes;
  };
  const std::string datePair =
      "DROP INDEX newsitem_grid_date; DROP INDEX newsitem_grid_pair;"
      "CREATE INDEX newsitem_grid_date ON newsitem(publication_date, id, is_del, is_read, title, fk_site_cat_rel);"
      "CREATE INDEX newsitem_grid_pair ON newsitem(fk_site_cat_rel, publication_date, id, is_del, is_read, title);";
  const std::string sortOrder = " NULLS FIRST, id NULLS FIRST, is_del NULLS FIRST, is_read NULLS FIRST,"
                                " publication_date NULLS FIRST, fk_site_cat_rel NULLS FIRST) INCLUDE (title)";
  for (const Older& older :
       {Older{kSortOrderVersion - 1, datePair + "DROP INDEX newsitem_grid_title; CREATE INDEX newsitem_grid_title"
                                                " ON newsitem(lower(title), id, is_del, is_read, publication_date,"
                                                " fk_site_cat_rel)"},
        Older{kCheapTitleKeyVersion - 1,
              "DROP INDEX newsitem_grid_title; CREATE INDEX newsitem_grid_title ON newsitem(translate(title,"
              " 'ABCDEFGHIJKLMNOPQRSTUVWXYZ', 'abcdefghijklmnopqrstuvwxyz') COLLATE \"C\"" + sortOrder}}) {
    SCOPED_TRACE("version " + std::to_string(older.version));
    const std::string url = server->NewDatabase();
    ASSERT_FALSE(url.empty());
    std::unique_ptr<Database> db;
    std::string why;
    ASSERT_EQ(Database::Open(url, Database::Mode::kCreate, &db, &why), 0) << why;
    auto definitions = [&] {
      std::string out;
      Statement s(*db, "SELECT indexdef FROM pg_indexes WHERE tablename = 'newsitem' ORDER BY indexname");
      while (s.Next()) out += s.Text(0) + "\n";
      return out;
    };
    const std::string fresh = definitions();
    const std::string make = older.indexes + "; UPDATE schema_version SET version = " + std::to_string(older.version);
    ASSERT_EQ(db->Exec(make.c_str()), 0)
        << db->ErrorMessage();
    // The grid's statements as the list writes them, the planner told to sort
    // only where no index gives the order.
    const std::string columns = "SELECT n.id, n.fk_site_cat_rel, n.publication_date, n.title, n.is_read FROM newsitem n";
    const std::string title = "lower(n.title COLLATE \"C\")";
    const std::vector<std::string> sorts = {
        columns + " WHERE n.is_del = 0 ORDER BY " + title + " ASC NULLS FIRST, n.id ASC NULLS FIRST",
        columns + " WHERE n.is_del = 0 ORDER BY " + title + " DESC NULLS LAST, n.id DESC NULLS LAST",
        columns + " WHERE n.is_del = 0 ORDER BY n.publication_date ASC NULLS FIRST, n.id ASC NULLS FIRST",
        columns + " WHERE n.is_del = 0 ORDER BY n.publication_date DESC NULLS LAST, n.id DESC NULLS LAST",
        columns + " WHERE n.is_del = 0 AND n.fk_site_cat_rel = 1 ORDER BY n.publication_date DESC NULLS LAST,"
                  " n.id DESC NULLS LAST",
    };
    ASSERT_EQ(db->Exec("SET enable_sort = off"), 0);
    auto sorted = [&](const std::string& sql) {
      Statement s(*db, "EXPLAIN " + sql);
      std::string plan;
      while (s.Next()) plan += s.Text(0) + "\n";
      EXPECT_EQ(s.error(), 0) << db->ErrorMessage();
      return plan.find("Sort") != std::string::npos ? plan : std::string();
    };
    int sortedBefore = 0;
    for (const std::string& sql : sorts) sortedBefore += sorted(sql).empty() ? 0 : 1;
    EXPECT_EQ(sortedBefore, older.version < kSortOrderVersion ? 5 : 2);

    // Inside an engine's transaction the upgrade waits: it would commit the
    // caller's half-done work.
    ASSERT_EQ(db->Begin(), 0);
    const int64_t pair = EnsurePair(*db, "site", "category");
    EXPECT_EQ(UpgradeSchema(*db), 0);
    EXPECT_EQ(SchemaVersion(*db), older.version);
    ASSERT_EQ(db->Rollback(), 0);
    EXPECT_EQ(Count(*db, "SELECT count(*) FROM site_cat_rel WHERE id = " + std::to_string(pair)), 0);

    std::atomic<bool> stop{false};
    std::vector<std::string> heard;
    EXPECT_EQ(UpgradeIndexes(url, stop, [&](const std::string& what, int percent) {
                heard.push_back(what + " " + std::to_string(percent));
              }),
              0);
    EXPECT_EQ(heard, (std::vector<std::string>{"grid 0", "grid 100"}));
    EXPECT_EQ(SchemaVersion(*db), LatestSchemaVersion());
    EXPECT_EQ(definitions(), fresh);
    for (const std::string& sql : sorts) EXPECT_EQ(sorted(sql), "") << sql;
    heard.clear();
    EXPECT_EQ(UpgradeIndexes(url, stop, [&](const std::string& what, int) { heard.push_back(what); }), 0);
    EXPECT_TRUE(heard.empty());  // nothing more to do
  }
}

// A PostgreSQL database of before lz4 and of bodies kept in their rows:
// opened, it keeps a body in its row while the row fits a page, packed with
// lz4 when that makes it smaller, and still stores one that does not fit a
// page even packed; the bodies stored before read as they were.
TEST(SchemaUpgradeOnPostgres, BodiesStoredAfterTheUpgradesStayInTheirRowsOrArePackedWithLz4) {
  ORVO_NEED_POSTGRES(server);
  const std::string url = server->NewDatabase();
  ASSERT_FALSE(url.empty());
  std::unique_ptr<Database> db;
  std::string why;
  ASSERT_EQ(Database::Open(url, Database::Mode::kCreate, &db, &why), 0) << why;
  std::string packable;
  for (int i = 0; packable.size() < 12000; ++i) packable += "<p>Paragraph " + std::to_string(i * 7919 % 1000) + " of the news.</p>";
  // Letters no packing shrinks much, of a given length.
  auto unpackable = [](size_t size) {
    std::string text;
    for (uint32_t x = static_cast<uint32_t>(size); text.size() < size;) {
      x = x * 1103515245u + 12345u;
      text += static_cast<char>('a' + (x >> 16) % 26);
    }
    return text;
  };
  std::vector<std::pair<std::string, std::string>> stored;  // title, body
  auto store = [&](const std::string& title, const std::string& body) {
    Statement s(*db, "INSERT INTO newsitem (title, body) VALUES (?, ?)");
    s.Bind(1, title).Bind(2, body);
    EXPECT_EQ(s.Execute(), 0) << db->ErrorMessage();
    stored.emplace_back(title, body);
  };
  // The body's packing ("" when none), or what is wrong with it.
  auto packing = [&](const std::string& title) {
    Statement s(*db, "SELECT coalesce(pg_column_compression(body), ''), body FROM newsitem WHERE title = ?");
    s.Bind(1, title);
    if (!s.Next()) return std::string("no row");
    for (const auto& [t, body] : stored)
      if (t == title) return s.Text(1) == body ? s.Text(0) : "another body";
    return std::string("not stored");
  };
  // How many bodies the server keeps out of their rows.
  auto outOfRow = [&]() -> int64_t {
    Statement t(*db, "SELECT reltoastrelid::regclass::text FROM pg_class WHERE relname = 'newsitem'");
    if (!t.Next()) return -1;
    Statement s(*db, "SELECT count(DISTINCT chunk_id) FROM " + t.Text(0));
    return s.Next() ? s.Int(0) : -1;
  };
  ASSERT_EQ(db->Exec("ALTER TABLE newsitem ALTER COLUMN body SET COMPRESSION pglz;"
                     "ALTER TABLE newsitem ALTER COLUMN body SET STORAGE EXTENDED;"
                     "UPDATE schema_version SET version = 8"),
            0)
      << db->ErrorMessage();
  store("packed before", packable);
  store("moved out before", unpackable(6000));
  ASSERT_EQ(packing("packed before"), "pglz");
  ASSERT_EQ(outOfRow(), 1);
  std::atomic<bool> stop{false};
  EXPECT_EQ(UpgradeIndexes(url, stop, nullptr), 0);
  EXPECT_EQ(SchemaVersion(*db), LatestSchemaVersion());
  store("in its row", unpackable(6000));
  EXPECT_EQ(packing("in its row"), "");
  EXPECT_EQ(outOfRow(), 1);
  store("packed in its row", packable);
  EXPECT_EQ(packing("packed in its row"), "lz4");
  EXPECT_EQ(outOfRow(), 1);
  store("longer than a page", unpackable(20000));
  EXPECT_EQ(packing("longer than a page"), "");
  EXPECT_EQ(outOfRow(), 2);
  EXPECT_EQ(packing("packed before"), "pglz");
  EXPECT_EQ(packing("moved out before"), "");
}

}  // namespace
}  // namespace orvo

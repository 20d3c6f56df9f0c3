#include "backends.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

#include "bench/news_data.h"
#include "bench/pg_scratch.h"
#include "database.h"
#include "settings.h"
#include "store/cleanup.h"
#include "store/news_list.h"
#include "store/schema.h"
#include "store/search_index.h"

namespace orvo::bench {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

struct Figure {
  bool ok = true;
  std::string error;
  double first = 0, all = 0;
  size_t rows = 0;
  uint64_t order = 0;  // of the ids as they came
};

Figure Failed(std::string why) {
  Figure f;
  f.ok = false;
  f.error = std::move(why);
  return f;
}

// The list as the reader walks it: time to the first row and to the last.
Figure Walk(Database& db, const NewsListQuery& q) {
  Figure f;
  NewsList list;
  auto start = Clock::now();
  if (list.Open(db, q) != 0) return Failed(db.ErrorMessage());
  NewsListRow row;
  uint64_t h = 1469598103934665603ull;
  while (list.Next(&row)) {
    if (f.rows++ == 0) f.first = Since(start);
    h = (h ^ static_cast<uint64_t>(row.id)) * 1099511628211ull;
  }
  f.all = Since(start);
  if (list.error() != 0) return Failed(db.ErrorMessage());
  f.order = h;
  return f;
}

// The fastest of `runs`, the back ends taking turns so that neither has the
// cache to itself.
template <typename Take>
std::pair<Figure, Figure> Fastest(int runs, Take take) {
  std::optional<Figure> best[2];
  for (int r = 0; r < runs; ++r) {
    for (int side = 0; side < 2; ++side) {
      Figure f = take(side);
      if (!best[side] || (f.ok && (!best[side]->ok || f.all < best[side]->all))) best[side] = f;
    }
  }
  return {*best[0], *best[1]};
}

std::string Time(const Figure& f, bool firstToo) {
  char buf[96];
  if (firstToo)
    std::snprintf(buf, sizeof buf, "first row %7.1f ms, all %8.3f s", f.first * 1000, f.all);
  else
    std::snprintf(buf, sizeof buf, "%8.3f s", f.all);
  return buf;
}

void Line(const char* what, const Figure& s, const Figure& p, bool firstToo, const char* missing = "failed") {
  std::string sqlite = s.ok ? Time(s, firstToo) : "failed: " + s.error;
  std::string pg = p.ok ? Time(p, firstToo) : std::string(missing) + " (" + p.error + ")";
  std::string tail;
  if (s.ok && p.ok) {
    char buf[160];
    std::snprintf(buf, sizeof buf, " | %6.2fx | %zu rows", s.all > 0 ? p.all / s.all : 0.0, s.rows);
    tail = buf;
    if (s.rows != p.rows)
      tail += " ROWS DIFFER (PostgreSQL " + std::to_string(p.rows) + ")";
    else if (s.order && p.order && s.order != p.order)
      tail += ", ORDER DIFFERS";
  }
  std::printf("  %-38s SQLite %s | PostgreSQL %s%s\n", what, sqlite.c_str(), pg.c_str(), tail.c_str());
  std::fflush(stdout);
}

// Read once per database and run: it walks every item, and nothing is
// changed before the clean-up, the last step.
std::string Signature(Database& db) {
  static std::map<std::string, std::string> known;
  if (auto it = known.find(db.path()); it != known.end()) return it->second;
  Statement s(db,
              "SELECT count(*), sum(is_del), sum(is_read), sum(fk_site_cat_rel), sum(length(title)),"
              " sum(length(body)), min(publication_date), max(publication_date), max(id) FROM newsitem");
  std::string out;
  if (s.Next())
    for (int c = 0; c < 9; ++c) out += (c ? " " : "") + s.Text(c);
  if (s.error()) return "(" + db.ErrorMessage() + ")";
  return known[db.path()] = out;
}

// A file of a run broken off before its clean-up serves the next one; with
// `indexed`, only once its upgrade has ended.
bool SameItems(const std::string& path, const std::string& kept, bool indexed) {
  std::unique_ptr<Database> a, b;
  if (!fs::exists(path) || Database::Open(path, Database::Mode::kExisting, &a) != 0 ||
      Database::Open(kept, Database::Mode::kExisting, &b) != 0)
    return false;
  return (!indexed || SearchIndexReady(*a)) && Signature(*a) == Signature(*b);
}

int64_t ItemCount(const std::string& location) {
  std::unique_ptr<Database> db;
  if (Database::Open(location, Database::Mode::kExisting, &db) != 0) return -1;
  Statement s(*db, "SELECT count(*) FROM newsitem");
  return s.Next() ? s.Int(0) : -1;
}

// The background upgrade a new SQLite file gets from the reader; with
// `gridOnly`, its search index is then marked complete without being filled.
// The deletes of a clean-up are queued for the index either way (their texts
// copied to the queue), which is all a clean-up does to it.
bool UpgradeSqlite(const std::string& path, bool gridOnly) {
  std::atomic<bool> stop{false};
  auto up = Clock::now();
  double gridDone = 0;
  int lastPercent = -25;
  int rc = UpgradeIndexes(path, stop, [&](const std::string& what, int percent) {
    if (what == "search" && gridDone == 0) {
      gridDone = Since(up);
      if (gridOnly) stop = true;
    }
    if (what == "search" && percent >= lastPercent + 25) {
      lastPercent = percent;
      std::printf("  SQLite: search index %d%% after %.0f s\n", percent, Since(up));
      std::fflush(stdout);
    }
  });
  if (rc != 0 && !(gridOnly && stop)) {
    std::printf("  SQLite: the index upgrade failed (%s)\n", HexCode(rc).c_str());
    return false;
  }
  if (gridOnly) {
    std::unique_ptr<Database> db;
    if (Database::Open(path, Database::Mode::kExisting, &db) != 0 ||
        db->Exec("UPDATE newsitem_fts_fill SET filled_upto = fill_end") != 0)
      return false;
    std::printf("  SQLite: grid indexes %.1f s; search index marked complete, not filled\n", gridDone);
  } else {
    std::printf("  SQLite: grid indexes %.1f s, search index %.1f s\n", gridDone, Since(up) - gridDone);
  }
  return true;
}

// The engine's clean-up of the items older than 3 months 14 days: an eighth.
Figure Cleanup(const std::string& location, const Settings& settings, std::time_t now) {
  const int64_t before = ItemCount(location);
  CloseDatabase();
  SetProcessDatabasePath(location);
  auto t = Clock::now();
  DeleteOldNews(settings, [](const std::string&) {}, now);
  Figure f;
  f.all = Since(t);
  CloseDatabase();
  const int64_t after = ItemCount(location);
  if (before < 0 || after < 0) return Failed("cannot count the items");
  f.rows = static_cast<size_t>(before - after);
  if (f.rows == 0) return Failed("nothing deleted: see the event log in the folder");
  return f;
}

struct Sides {
  std::string sqlite;   // the file the reads run on
  std::string cleanup;  // the file the clean-up runs on; empty: none
  bool ownSqlite = false;
  std::string url;
  std::time_t now = 0;
};

void Measure(const Sides& sides, int runs, bool readsOnly, double ebookLimit, const std::string& folder) {
  std::unique_ptr<Database> db[2];
  std::string why;
  if (Database::Open(sides.sqlite, Database::Mode::kExisting, &db[0], &why) != 0 ||
      Database::Open(sides.url, Database::Mode::kExisting, &db[1], &why) != 0) {
    std::printf("  cannot open: %s\n", why.c_str());
    return;
  }
  for (auto& d : db) PrepareForLists(*d);
  {
    const std::string a = Signature(*db[0]), b = Signature(*db[1]);
    if (a == b)
      std::printf("  same items on both: count, deleted, read, pairs' sum, title and body characters, dates, last id: %s\n",
                  a.c_str());
    else
      std::printf("  ITEMS DIFFER: SQLite %s; PostgreSQL %s\n", a.c_str(), b.c_str());
  }
  std::printf("  each figure the fastest of %d, the back ends taking turns; PostgreSQL/SQLite after the times\n", runs);
  auto list = [&](int sort, const std::vector<std::string>& keywords) {
    return Fastest(runs, [&](int side) {
      NewsListQuery q;
      q.sort = sort;
      q.ascending = true;
      q.keywords = keywords;
      q.now = sides.now;
      return Walk(*db[side], q);
    });
  };
  struct Grid {
    const char* what;
    int sort;
  };
  for (const Grid& g : {Grid{"grid, all rows by title", kSortByTitle}, Grid{"grid, all rows by site", kSortBySite},
                        Grid{"grid, all rows by date", kSortByDate}}) {
    auto [s, p] = list(g.sort, {});
    Line(g.what, s, p, true);
  }
  struct Search {
    const char* what;
    const char* keyword;
  };
  // "the tax" stands in one item of 40 only (see news_data.cpp).
  for (const Search& k : {Search{"keyword search, rare word", "гравитация"},
                          Search{"keyword search, word in 1 of 40 items", "the tax"},
                          Search{"keyword search, common word", "budget"}}) {
    auto [s, p] = list(kSortByTitle, {k.keyword});
    Line(k.what, s, p, true, "not yet on PostgreSQL");
  }
  {
    EbookFigure last[2];
    auto [s, p] = Fastest(runs, [&](int side) {
      const EbookFigure e = EbookInChild(side == 0 ? sides.sqlite : sides.url, "generator", ebookLimit);
      if (e.stopped) return Failed("stopped after " + std::to_string(static_cast<int>(e.seconds)) + " s");
      if (!e.ran) return Failed("the query failed: its message is above");
      if (!last[side].ran || e.seconds < last[side].seconds) last[side] = e;
      Figure f;
      f.all = e.seconds;
      f.rows = e.rows;
      return f;
    });
    Line("eBook filter query, 2 filters", s, p, false);
    if (last[0].ran && last[1].ran)
      std::printf("  %-38s SQLite %8.3f s, PostgreSQL %8.3f s of it the matching ids (the rest: the rows by id)\n", "",
                  last[0].openSeconds, last[1].openSeconds);
  }
  for (auto& d : db) d.reset();
  if (readsOnly) return;

  Settings settings((fs::path(folder) / "ORVO.ini").string());
  settings.WriteInt(kCleanupSection, "DeleteOlder", 1);
  settings.WriteInt(kCleanupSection, "Month", 3);
  settings.WriteInt(kCleanupSection, "Day", 14);
  const Figure s = sides.cleanup.empty() ? Failed("no file of ours to delete from") : Cleanup(sides.cleanup, settings, sides.now);
  const Figure p = Cleanup(sides.url, settings, sides.now);
  Line("old-news clean-up of an eighth", s, p, false);

  // What each leaves for later: SQLite's queued index deletes, PostgreSQL's
  // dead rows (autovacuum's work).
  Figure drain, vacuum;
  if (sides.ownSqlite) {
    std::atomic<bool> stop{false};
    int64_t dropped = 0;
    auto t = Clock::now();
    if (int rc = DropAllDeletedFromIndex(sides.cleanup, stop, &dropped); rc != 0) drain = Failed(HexCode(rc));
    drain.all = Since(t);
    drain.rows = static_cast<size_t>(dropped);
  } else {
    drain = Failed("its search index was not filled");
  }
  {
    std::unique_ptr<Database> pg;
    auto t = Clock::now();
    if (Database::Open(sides.url, Database::Mode::kExisting, &pg) != 0 || pg->Exec("VACUUM newsitem") != 0)
      vacuum = Failed(pg ? pg->ErrorMessage() : "cannot open");
    vacuum.all = Since(t);
    vacuum.rows = drain.rows;
  }
  std::printf("  %-38s SQLite search index drain %s | PostgreSQL VACUUM newsitem %s\n", "afterwards, not in the above",
              drain.ok ? Time(drain, false).c_str() : drain.error.c_str(),
              vacuum.ok ? Time(vacuum, false).c_str() : vacuum.error.c_str());
  std::fflush(stdout);
}

int RunSize(const BackendsRun& run, const ScratchServer* server, int64_t items) {
  Sides sides;
  auto start = Clock::now();
  if (!run.sqliteFile.empty()) {
    std::unique_ptr<Database> db;
    std::string why;
    if (Database::Open(run.sqliteFile, Database::Mode::kExisting, &db, &why) != 0) {
      std::printf("cannot open %s: %s\n", run.sqliteFile.c_str(), why.c_str());
      return 1;
    }
    sides.now = GeneratedNow(*db, &why);
    if (sides.now == 0) {
      std::printf("%s was not made by news_db_bench --generate: %s\n", run.sqliteFile.c_str(), why.c_str());
      return 1;
    }
    Statement n(*db, "SELECT max(id) FROM newsitem");
    items = n.Next() ? n.Int(0) : 0;
    sides.sqlite = run.sqliteFile;
    std::printf("%lld items: SQLite %s (kept, read only) beside PostgreSQL\n", static_cast<long long>(items),
                sides.sqlite.c_str());
  } else {
    sides.now = std::time(nullptr);
    sides.sqlite = (fs::path(run.folder) / ("news_" + std::to_string(items) + ".db")).string();
    sides.ownSqlite = true;
    std::printf("%lld items: SQLite %s beside PostgreSQL\n", static_cast<long long>(items), sides.sqlite.c_str());
  }
  // The clean-up deletes: on a kept file it runs on a new one of the same items.
  sides.cleanup = sides.ownSqlite ? sides.sqlite
                                  : (fs::path(run.folder) / ("cleanup_" + std::to_string(items) + ".db")).string();
  if (!sides.ownSqlite && !run.readsOnly && SameItems(sides.cleanup, sides.sqlite, true)) {
    std::printf("  SQLite: %s holds these items already, its indexes made: used as it is\n", sides.cleanup.c_str());
  } else if (sides.ownSqlite || !run.readsOnly) {
    for (const char* end : {"", "-wal", "-shm"}) fs::remove(sides.cleanup + end);
    auto t = Clock::now();
    if (!GenerateSqlite(sides.cleanup, items, sides.now)) {
      std::printf("SQLite: generation of %s failed\n", sides.cleanup.c_str());
      return 1;
    }
    std::printf("  SQLite: %s generated in %.0f s\n", sides.cleanup.c_str(), Since(t));
    if (!UpgradeSqlite(sides.cleanup, !sides.ownSqlite)) return 1;
  } else {
    sides.cleanup.clear();
  }

  const std::string name = "orvo_bench_" + std::to_string(items);
  std::string why;
  if (server) {
    server->DropDatabase(name);
    if (!server->CreateDatabase(name, &why)) {
      std::printf("PostgreSQL: cannot create database %s: %s\n", name.c_str(), why.c_str());
      return 1;
    }
    sides.url = server->Url(name);
  } else {
    sides.url = run.url;
  }
  std::unique_ptr<Database> given;
  if (!server && Database::Open(sides.url, Database::Mode::kExisting, &given, &why) == 0) {
    // Filled before: usable only with SQLite's very items.
    std::unique_ptr<Database> sqlite;
    if (Database::Open(sides.sqlite, Database::Mode::kExisting, &sqlite, &why) != 0 ||
        Signature(*given) != Signature(*sqlite)) {
      std::printf("PostgreSQL: %s holds other news than %s: give an empty database\n", given->Describe().c_str(),
                  sides.sqlite.c_str());
      return 1;
    }
    std::printf("  PostgreSQL: %s holds these items already: used as it is\n", given->Describe().c_str());
    // A database of an older schema gets what a program opening it would do.
    if (const int version = SchemaVersion(*given); version < LatestSchemaVersion()) {
      std::atomic<bool> stop{false};
      auto t = Clock::now();
      if (int rc = UpgradeIndexes(sides.url, stop, nullptr); rc != 0) {
        std::printf("PostgreSQL: the schema upgrade failed (%s)\n", HexCode(rc).c_str());
        return 1;
      }
      std::printf("  PostgreSQL: schema upgraded from version %d to %d in %.1f s\n", version, LatestSchemaVersion(),
                  Since(t));
    }
  } else if (!FillPostgres(sides.url, items, sides.now, &why)) {
    std::printf("PostgreSQL: the load failed: %s\n", why.c_str());
    return 1;
  }
  given.reset();
  Measure(sides, run.runs, run.readsOnly, run.ebookLimit, run.folder);
  if (!sides.cleanup.empty())
    for (const char* end : {"", "-wal", "-shm"}) fs::remove(sides.cleanup + end);
  if (server) server->DropDatabase(name);
  std::printf("  %lld items done in %.0f s\n", static_cast<long long>(items), Since(start));
  return 0;
}

}  // namespace

int RunBackends(const BackendsRun& run, const std::vector<int64_t>& sizes) {
  std::unique_ptr<ScratchServer> server;
  if (run.url.empty()) {
    std::string why;
    server = ScratchServer::Start((fs::path(run.folder) / "postgres").string(), &why);
    if (!server) {
      std::printf("PostgreSQL server not started: %s\n", why.c_str());
      return 1;
    }
    std::printf("PostgreSQL server of its own in %s (the server's default settings, a Unix socket only)\n",
                server->folder().c_str());
  } else if (sizes.size() != 1 && run.sqliteFile.empty()) {
    std::printf("--database fills one database: give one size with --items\n");
    return 2;
  }
  int rc = 0;
  for (int64_t n : sizes) {
    rc = RunSize(run, server.get(), n);
    if (rc != 0 || !run.sqliteFile.empty()) break;
  }
  return rc;
}

}  // namespace orvo::bench

// The news database at scale: generates databases of real-size items (about
// 4 KB bodies) the way a database made before the search and grid indexes
// looks, measures the reader's searches and grid, the eBook filter query and
// the clean-ups on the old query forms and indexes, runs the background
// upgrade, and measures again.
//
//   news_db_bench [--items 100000,1000000] [--folder DIR]
//   news_db_bench --generate FILE [--items N]
//   news_db_bench --grid FILE [--way collect|mark|walk]
//   news_db_bench --upgrade FILE [--stop-after SECONDS]
//
// The databases go to DIR (default: a folder under /tmp), one at a time, and
// are removed afterwards (a million items take about 5 GB with the indexes).
// A million items take long to generate: --generate writes one old database
// to keep, --upgrade runs the background index upgrade on a kept file while
// a writer stores news as a download does (and prints how long it waited),
// and --grid measures the reader's open, grid and searches on a kept file.
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>
#include <algorithm>
#include <atomic>

#include <sqlite3.h>

#include "database.h"
#include "bench/backends.h"
#include "bench/news_data.h"
#include "like.h"
#include "store/cleanup.h"
#include "store/news_list.h"
#include "store/search_index.h"
#include "settings.h"
#include "text.h"
#include "vaultmap/dbmanager.h"

namespace orvo {

// In their own file: the eBook generator's names meet the reader's otherwise.
std::optional<size_t> RunEbookQuery(const std::string& location, double* openSeconds);
size_t RunRawEbookQuery(const std::string& path);

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

struct GridFigure {
  double first = 0, all = 0;
  size_t rows = 0;
  SearchWay way = SearchWay::kChosen;
};

const char* WayName(SearchWay way) {
  switch (way) {
    case SearchWay::kCollect: return "collect";
    case SearchWay::kMark: return "mark";
    case SearchWay::kWalk: return "walk";
    default: return "-";
  }
}

SearchWay WayNamed(std::string_view name) {
  for (SearchWay w : {SearchWay::kCollect, SearchWay::kMark, SearchWay::kWalk})
    if (name == WayName(w)) return w;
  return SearchWay::kChosen;
}

// The grid's list as the reader walks it: time to the first row and to the last.
GridFigure WalkList(CDBManager& m) {
  GridFigure g;
  auto start = Clock::now();
  m.BeginNewsListEnum();
  while (m.EnumNextNewsListItem()) {
    if (g.rows++ == 0) g.first = Seconds(start);
  }
  m.EndNewsListEnum();
  g.all = Seconds(start);
  return g;
}

GridFigure Grid(CDBManager& m, int column) {
  m.ClearSearchKeywords();
  m.SetSearchWithFilter(false);
  if (m.sortColumn() != column) m.SetSort(column);
  m.SetSortOrder(1);
  return WalkList(m);
}

GridFigure Search(CDBManager& m, const std::string& keyword) {
  m.ClearSearchKeywords();
  m.AddSearchKeyword(keyword);
  m.SetSort(3);
  m.SetSortOrder(1);
  GridFigure g = WalkList(m);
  g.way = m.lastSearchWay();
  m.ClearSearchKeywords();
  return g;
}

// The reader's search as SQLite alone runs it, on a plain connection to the
// same file: the list's SQL with the index's candidates (when the index is
// complete) and SQLite's own LIKE (or, with `ourLike`, the reader's, which
// folds every script's case), every column of every row read.
GridFigure RawSearch(const std::string& path, const std::string& keyword, bool ourLike) {
  GridFigure g;
  sqlite3* raw = nullptr;
  if (sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(raw);
    return g;
  }
  if (ourLike) RegisterLike(raw);
  bool indexed = false;
  {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(raw, "SELECT filled_upto >= fill_end FROM newsitem_fts_fill", -1, &st, nullptr) == SQLITE_OK)
      indexed = sqlite3_step(st) == SQLITE_ROW && sqlite3_column_int(st, 0) != 0;
    sqlite3_finalize(st);
  }
  const std::string like = "%" + keyword + "%";
  const IndexQuery match = IndexQueryForLike(like);
  std::string sql =
      "SELECT n.id, n.fk_site_cat_rel, n.publication_date, n.title, n.is_read FROM newsitem n"
      " WHERE n.is_del = 0 AND (n.title LIKE ?1 OR n.body LIKE ?1)";
  if (indexed && match) sql += " AND n.id IN (SELECT rowid FROM newsitem_fts WHERE newsitem_fts MATCH ?2)";
  sql += " ORDER BY n.title COLLATE NOCASE, n.id";
  auto start = Clock::now();
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(raw, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
    sqlite3_bind_text(st, 1, like.c_str(), -1, SQLITE_TRANSIENT);
    if (indexed && match) sqlite3_bind_text(st, 2, match->c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(st) == SQLITE_ROW) {
      for (int c = 0; c < sqlite3_column_count(st); ++c) sqlite3_column_text(st, c);
      if (g.rows++ == 0) g.first = Seconds(start);
    }
  }
  sqlite3_finalize(st);
  g.all = Seconds(start);
  sqlite3_close(raw);
  return g;
}

// Ours beside SQLite alone's, on the same file, one after the other: ours first,
// so a cold file counts against ours, never for it.
GridFigure SearchBeside(CDBManager& m, const std::string& path, const char* what, const char* phase,
                       const std::string& keyword) {
  const GridFigure ours = Search(m, keyword);
  const GridFigure raw = RawSearch(path, keyword, false);
  const GridFigure rawOurLike = RawSearch(path, keyword, true);
  std::printf("  %-44s %-6s first row %8.1f ms, all %8.3f s, %zu rows (%s); SQLite alone %.3f s (%.2fx), with our LIKE "
              "%.3f s%s\n",
              what, phase, ours.first * 1000, ours.all, ours.rows, WayName(ours.way), raw.all,
              raw.all > 0 ? ours.all / raw.all : 0.0,
              rawOurLike.all, raw.rows == ours.rows && rawOurLike.rows == ours.rows ? "" : " ROWS DIFFER");
  return ours;
}

}  // namespace

// The eBook query in a process of its own, so that its peak memory is its
// own: "generator" runs it as Bookbinder does, "raw" as SQLite alone would.
bench::EbookFigure bench::EbookInChild(const std::string& location, const char* how, double limitSeconds) {
  std::fflush(stdout);
  EbookFigure f;
  int out[2];
  if (::pipe(out) != 0) return f;
  const auto start = Clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    ::close(out[1]);
    ::execl("/proc/self/exe", "news_db_bench", "--ebook-child", location.c_str(), how, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  std::string text;
  char buf[256];
  for (;;) {
    int wait = -1;
    if (limitSeconds > 0) {
      const double left = limitSeconds - Seconds(start);
      if (left <= 0) {
        ::kill(pid, SIGKILL);
        f.stopped = true;
        break;
      }
      wait = static_cast<int>(left * 1000) + 1;
    }
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, wait) == 0) continue;
    ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (f.stopped) {
    f.seconds = Seconds(start);
    return f;
  }
  unsigned long long rows = 0;
  double peakKb = 0;
  if (std::sscanf(text.c_str(), "%llu %lf %lf %lf", &rows, &f.seconds, &peakKb, &f.openSeconds) >= 3 &&
      WIFEXITED(status) && WEXITSTATUS(status) == 0)
    f.ran = true;
  f.rows = static_cast<size_t>(rows);
  f.peakMb = peakKb / 1024.0;
  return f;
}

namespace {

int EbookChild(const std::string& path, const std::string& how) {
  auto start = Clock::now();
  double openSeconds = 0;
  const std::optional<size_t> rows = how == "raw" ? RunRawEbookQuery(path) : RunEbookQuery(path, &openSeconds);
  if (!rows) return 1;
  const double seconds = Seconds(start);
  // The peak of this process's own memory since its exec (a forked copy of
  // the bench would count the parent's).
  long peakKb = 0;
  if (FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f))
      if (std::sscanf(line, "VmHWM: %ld kB", &peakKb) == 1) break;
    std::fclose(f);
  }
  std::printf("%zu %.6f %ld %.6f\n", *rows, seconds, peakKb, openSeconds);
  return 0;
}

void EbookRows(const std::string& path, const char* phase, GridFigure* generator) {
  const bench::EbookFigure gen = bench::EbookInChild(path, "generator");
  const bench::EbookFigure raw = bench::EbookInChild(path, "raw");
  generator->all = gen.seconds;
  generator->rows = gen.rows;
  std::printf("  %-44s %-6s all %8.3f s, %zu rows, peak %.0f MB; SQLite alone %.3f s (%.2fx), peak %.0f MB%s\n",
              "eBook filter query, 2 filters", phase, gen.seconds, gen.rows, gen.peakMb, raw.seconds,
              raw.seconds > 0 ? gen.seconds / raw.seconds : 0.0, raw.peakMb, raw.rows == gen.rows ? "" : " ROWS DIFFER");
}

GridFigure Timed(Database& db, const char* sql) {
  GridFigure g;
  auto start = Clock::now();
  Statement s(db, sql);
  while (s.Next()) ++g.rows;
  g.all = Seconds(start);
  return g;
}

const char* kOldOrphans =
    "SELECT id FROM site_cat_rel WHERE id IN (SELECT DISTINCT fk_site_cat_rel FROM news_masks WHERE mask_version = 0)"
    " AND id NOT IN (SELECT DISTINCT fk_site_cat_rel FROM newsitem WHERE is_del = 0 AND fk_site_cat_rel IS NOT NULL)";
const char* kNewOrphans =
    "SELECT r.id FROM site_cat_rel r"
    " WHERE EXISTS (SELECT 1 FROM news_masks m WHERE m.fk_site_cat_rel = r.id AND m.mask_version = 0)"
    " AND NOT EXISTS (SELECT 1 FROM newsitem n WHERE n.fk_site_cat_rel = r.id AND n.is_del = 0)";

void Row(const char* what, const char* phase, const GridFigure& g, bool firstToo = false) {
  if (firstToo)
    std::printf("  %-44s %-6s first row %8.1f ms, all %8.3f s, %zu rows\n", what, phase, g.first * 1000, g.all,
                g.rows);
  else
    std::printf("  %-44s %-6s %8.1f ms, %zu rows\n", what, phase, g.all * 1000, g.rows);
  std::fflush(stdout);
}

struct Measures {
  GridFigure open, title, site, date, rare, fortieth, common, ebook, orphans, cleanup;
};

// `way`, when set, is every search's way through the index's candidates
// (see store/news_list.h) instead of the one the reader chooses.
void Measure(const std::string& path, const char* phase, Measures* out, bool oldOpen,
             SearchWay way = SearchWay::kChosen) {
  CDBManager m;
  m.searchWay = way;
  auto start = Clock::now();
  if (!m.Init(path)) {
    std::printf("cannot open %s\n", path.c_str());
    std::exit(1);
  }
  if (oldOpen) {
    // What the reader's start did before: add its two indexes.
    m.database()->Exec("CREATE INDEX IF NOT EXISTS newsitem_title_nocase ON newsitem(title COLLATE NOCASE);"
                       "CREATE INDEX IF NOT EXISTS newsitem_pair_date ON newsitem(fk_site_cat_rel, publication_date)");
  }
  out->open.all = Seconds(start);
  Row("reader's first open", phase, out->open);
  out->title = Grid(m, 3);
  Row("grid, all rows by title", phase, out->title, true);
  out->site = Grid(m, 0);
  Row("grid, all rows by site", phase, out->site, true);
  out->date = Grid(m, 2);
  Row("grid, all rows by date", phase, out->date, true);
  out->rare = SearchBeside(m, path, "keyword search, rare word", phase, "гравитация");
  // "the tax" stands in one item of 40 only (see bench/news_data.cpp).
  out->fortieth = SearchBeside(m, path, "keyword search, word in 1 of 40 items", phase, "the tax");
  out->common = SearchBeside(m, path, "keyword search, common word", phase, "budget");
  EbookRows(path, phase, &out->ebook);
}

void RunSize(const std::string& folder, int64_t items) {
  const std::string path = folder + "/news_" + std::to_string(items) + ".db";
  std::filesystem::remove(path);
  std::filesystem::remove(path + "-wal");
  std::filesystem::remove(path + "-shm");
  std::printf("%lld items\n", static_cast<long long>(items));
  auto start = Clock::now();
  std::time_t now = std::time(nullptr);
  if (!bench::GenerateSqlite(path, items, now)) {
    std::printf("generation failed\n");
    std::exit(1);
  }
  struct stat st {};
  ::stat(path.c_str(), &st);
  std::printf("  generated in %.0f s, %.0f MB\n", Seconds(start), st.st_size / 1e6);

  Measures before, after;
  Measure(path, "before", &before, true);
  {
    std::unique_ptr<Database> db;
    Database::Open(path, Database::Mode::kExisting, &db);
    before.orphans = Timed(*db, kOldOrphans);
    Row("orphan-pair query", "before", before.orphans);
    after.orphans = Timed(*db, kNewOrphans);
    Row("orphan-pair query", "after", after.orphans);
  }

  std::atomic<bool> stop{false};
  auto up = Clock::now();
  double gridDone = 0;
  int lastPercent = -10;
  UpgradeIndexes(path, stop, [&](const std::string& what, int percent) {
    if (what == "grid") gridDone = Seconds(up);
    if (what == "search" && percent >= lastPercent + 25) {
      lastPercent = percent;
      std::printf("  upgrade: search index %d%% after %.0f s\n", percent, Seconds(up));
      std::fflush(stdout);
    }
  });
  ::stat(path.c_str(), &st);
  std::printf("  background upgrade: grid indexes %.1f s, search index %.1f s; %.0f MB\n", gridDone,
              Seconds(up) - gridDone, st.st_size / 1e6);

  Measure(path, "after", &after, false);
  {
    // The clean-up as the engine runs it: batched, with the search index kept in step.
    std::filesystem::path ini = std::filesystem::path(folder) / "ORVO.ini";
    Settings s(ini.string());
    s.WriteInt(kCleanupSection, "DeleteOlder", 1);
    s.WriteInt(kCleanupSection, "Month", 3);
    s.WriteInt(kCleanupSection, "Day", 14);
    CloseDatabase();
    SetProcessDatabasePath(path);
    std::unique_ptr<Database> db;
    Database::Open(path, Database::Mode::kExisting, &db);
    auto items = [&] {
      Statement count(*db, "SELECT count(*) FROM newsitem");
      return count.Next() ? count.Int(0) : -1;
    };
    int64_t total = items();

    // The same clean-up on copies: one whose index drops each deleted item
    // at once, as it did before deletes were queued (the old text is
    // tokenised again for the index's delete), and one whose deletes leave
    // the index alone, the floor the queue is measured against.
    db->Exec("PRAGMA wal_checkpoint(TRUNCATE)");
    // Every figure is taken on the same file, committed: SQLite's own one
    // statement, the engine's batches on copies, the engine's on the file.
    auto engineCleanup = [&](const std::string&) { DeleteOldNews(s, [](const std::string&) {}, now); };
    auto onCopy = [&](const char* what, const char* phase, const char* triggerSql,
                      const std::function<void(const std::string&)>& cleanup) {
      const std::string copy = path + ".copy";
      std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing);
      {
        std::unique_ptr<Database> c;
        Database::Open(copy, Database::Mode::kExisting, &c);
        c->Exec(triggerSql);
      }
      SetProcessDatabasePath(copy);
      GridFigure g;
      auto t = Clock::now();
      cleanup(copy);
      g.all = Seconds(t);
      CloseDatabase();
      {
        std::unique_ptr<Database> c;
        Database::Open(copy, Database::Mode::kExisting, &c);
        Statement count(*c, "SELECT count(*) FROM newsitem");
        g.rows = static_cast<size_t>(total - (count.Next() ? count.Int(0) : 0));
      }
      Row(what, phase, g);
      for (const char* end : {"", "-wal", "-shm"}) std::filesystem::remove(copy + end);
      SetProcessDatabasePath(path);
      return g;
    };
    // SQLite alone: one statement on a plain connection, the deletes queued
    // by the same trigger as the engine's.
    before.cleanup = onCopy("old-news clean-up (one statement, SQLite)", "floor", "", [&](const std::string& copy) {
      sqlite3* raw = nullptr;
      if (sqlite3_open_v2(copy.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        // The pictures' rows go with their items, as on the engine's connection.
        sqlite3_exec(raw, "PRAGMA foreign_keys = ON", nullptr, nullptr, nullptr);
        sqlite3_stmt* del = nullptr;
        const std::string cut = CleanupCutoff(now, 3, 14, 0, 0);
        sqlite3_prepare_v2(raw, "DELETE FROM newsitem WHERE publication_date < ?", -1, &del, nullptr);
        sqlite3_bind_text(del, 1, cut.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(del);
        sqlite3_finalize(del);
      }
      sqlite3_close(raw);
    });
    onCopy("old-news clean-up (batched, index drops at once)", "before",
           "DROP TRIGGER newsitem_fts_delete;"
           "CREATE TRIGGER newsitem_fts_delete AFTER DELETE ON newsitem BEGIN"
           "  INSERT INTO newsitem_fts(newsitem_fts, rowid, title, body)"
           "  VALUES ('delete', old.id, old.title, old.body); END",
           engineCleanup);
    onCopy("old-news clean-up (batched, no index work)", "floor", "DROP TRIGGER newsitem_fts_delete", engineCleanup);

    auto t = Clock::now();
    DeleteOldNews(s, [](const std::string&) {}, now);
    after.cleanup.all = Seconds(t);
    after.cleanup.rows = static_cast<size_t>(total - items());
    Row("old-news clean-up (batched, deletes queued)", "after", after.cleanup);
    if (before.cleanup.all > 0)
      std::printf("  %-44s %-6s %8.2fx SQLite's one statement\n", "", "", after.cleanup.all / before.cleanup.all);
    CloseDatabase();

    // The queue leaving the index afterwards, as the Gatherer does it after
    // a run: the total, and the longest write lock one batch holds.
    GridFigure drain;
    double longest = 0;
    int batches = 0;
    t = Clock::now();
    for (int n = 1; n > 0; ++batches) {
      auto b = Clock::now();
      if (DropDeletedFromIndex(*db, IndexUpgrade::kDropBatch, &n) != 0) {
        std::printf("  drain failed: %s\n", db->ErrorMessage().c_str());
        break;
      }
      longest = std::max(longest, Seconds(b));
      drain.rows += static_cast<size_t>(n);
    }
    drain.all = Seconds(t);
    Row("search index drain of the deleted items", "after", drain);
    std::printf("  %-44s %-6s %8.1f ms longest of %d batches of %d\n", "", "", longest * 1000, batches,
                IndexUpgrade::kDropBatch);
    Statement check(*db, "INSERT INTO newsitem_fts(newsitem_fts, rank) VALUES ('integrity-check', 1)");
    std::printf("  %-44s %s\n", "search index after the drain", check.Execute() == 0 ? "intact" : "NOT INTACT");
  }
  auto same = [](const char* what, const GridFigure& a, const GridFigure& b) {
    std::printf("  %-44s %s (%zu / %zu)\n", what, a.rows == b.rows ? "same rows" : "ROWS DIFFER", a.rows, b.rows);
  };
  same("grid rows", before.title, after.title);
  same("rare word rows", before.rare, after.rare);
  same("1 of 40 word rows", before.fortieth, after.fortieth);
  same("common word rows", before.common, after.common);
  same("eBook query rows", before.ebook, after.ebook);
  same("orphan pairs", before.orphans, after.orphans);
  same("clean-up rows", before.cleanup, after.cleanup);
  std::filesystem::remove(path);
  std::filesystem::remove(path + "-wal");
  std::filesystem::remove(path + "-shm");
}

int GenerateOnly(const std::string& path, int64_t items) {
  if (std::filesystem::exists(path)) {
    std::printf("%s exists: not generating over it\n", path.c_str());
    return 1;
  }
  auto start = Clock::now();
  if (!bench::GenerateSqlite(path, items, std::time(nullptr))) {
    std::printf("generation failed\n");
    return 1;
  }
  struct stat st {};
  ::stat(path.c_str(), &st);
  std::printf("%lld items generated in %.0f s, %.0f MB\n", static_cast<long long>(items), Seconds(start),
              st.st_size / 1e6);
  return 0;
}

// The background upgrade against downloads: a writer that stores an item
// every 50 ms for 30 s, then pauses 8 s, as runs of a schedule do (the stores
// are rolled back, so the file stays as generated), and notes how long each
// store waited for the write lock. With `stopAfter`, the reader closes
// then: the time until the upgrade returns is printed.
int UpgradeOnly(const std::string& path, double stopAfter) {
  std::atomic<bool> stop{false}, writing{true};
  std::vector<double> waits;
  int failedStores = 0;
  std::thread writer([&] {
    std::unique_ptr<Database> db;
    if (Database::Open(path, Database::Mode::kExisting, &db) != 0) return;
    while (writing) {
      auto t = Clock::now();
      int rc = db->Exec("BEGIN IMMEDIATE");
      if (rc == 0) {
        rc = db->Exec("INSERT INTO newsitem (recvdate, newsdate, publication_date, src_url, author, title, smalldescr,"
                      " body, is_del, is_read) VALUES ('2026-01-01 00:00:00', '2026-01-01 00:00:00',"
                      " '2026-01-01 00:00:00', 'https://w.example/', '', 'A stored item', '', 'The body.', 0, 0)");
        db->Rollback();
      }
      waits.push_back(Seconds(t));
      if (rc != 0) ++failedStores;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (waits.size() % 600 == 0)
        for (int i = 0; i < 160 && writing; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  auto up = Clock::now();
  std::thread stopper;
  if (stopAfter > 0)
    stopper = std::thread([&] {
      while (Seconds(up) < stopAfter) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      stop = true;
    });
  std::string lastWhat;
  int lastPercent = -100;
  double lastCall = 0, longestSilence = 0;
  int rc = UpgradeIndexes(path, stop, [&](const std::string& what, int percent) {
    double now = Seconds(up);
    longestSilence = std::max(longestSilence, now - lastCall);
    lastCall = now;
    if (what != lastWhat || percent >= lastPercent + 10 || percent == 100) {
      std::printf("  %6.1f s  %s %d%%\n", now, what.c_str(), percent);
      std::fflush(stdout);
      lastWhat = what;
      lastPercent = percent;
    }
  });
  double took = Seconds(up);
  if (stopper.joinable()) stopper.join();
  writing = false;
  writer.join();
  std::sort(waits.begin(), waits.end());
  auto over = [&](double s) { return std::count_if(waits.begin(), waits.end(), [s](double w) { return w > s; }); };
  std::printf("upgrade returned %d after %.1f s%s; longest time without progress %.1f s\n", rc, took,
              stopAfter > 0 ? " (stopped)" : "", std::max(longestSilence, took - lastCall));
  if (stopAfter > 0) std::printf("  the stop at %.1f s was honoured after %.0f ms\n", stopAfter, (took - stopAfter) * 1000);
  if (!waits.empty())
    std::printf("writer: %zu stores, %d failed; wait median %.1f ms, max %.0f ms, %ld over 100 ms, %ld over 1 s\n",
                waits.size(), failedStores, waits[waits.size() / 2] * 1000, waits.back() * 1000, over(0.1), over(1.0));
  return rc == 0 ? 0 : 1;
}

int GridOnly(const std::string& path, SearchWay way) {
  if (!std::filesystem::exists(path)) {
    std::printf("%s: no such database\n", path.c_str());
    return 1;
  }
  Measures m;
  Measure(path, "", &m, false, way);
  return 0;
}

}  // namespace
}  // namespace orvo

int main(int argc, char** argv) {
  std::vector<int64_t> sizes = {100000, 1000000};
  std::string folder, generate, grid, upgrade;
  double stopAfter = 0;
  bool backends = false;
  orvo::bench::BackendsRun both;
  orvo::SearchWay way = orvo::SearchWay::kChosen;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--items" && i + 1 < argc) {
      sizes.clear();
      std::string list = argv[++i];
      for (size_t p = 0; p <= list.size();) {
        size_t e = list.find(',', p);
        if (e == std::string::npos) e = list.size();
        sizes.push_back(std::atoll(list.substr(p, e - p).c_str()));
        p = e + 1;
      }
    } else if (a == "--folder" && i + 1 < argc) {
      folder = argv[++i];
    } else if (a == "--generate" && i + 1 < argc) {
      generate = argv[++i];
    } else if (a == "--grid" && i + 1 < argc) {
      grid = argv[++i];
    } else if (a == "--upgrade" && i + 1 < argc) {
      upgrade = argv[++i];
    } else if (a == "--postgres") {
      backends = true;
    } else if (a == "--database" && i + 1 < argc) {
      backends = true;
      both.url = argv[++i];
    } else if (a == "--sqlite" && i + 1 < argc) {
      both.sqliteFile = argv[++i];
    } else if (a == "--ebook-limit" && i + 1 < argc && std::atof(argv[i + 1]) > 0) {
      both.ebookLimit = std::atof(argv[++i]);
    } else if (a == "--reads-only") {
      both.readsOnly = true;
    } else if (a == "--runs" && i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
      both.runs = std::atoi(argv[++i]);
    } else if (a == "--stop-after" && i + 1 < argc) {
      stopAfter = std::atof(argv[++i]);
    } else if (a == "--ebook-child" && i + 2 < argc) {
      return orvo::EbookChild(argv[i + 1], argv[i + 2]);
    } else if (a == "--way" && i + 1 < argc && (orvo::WayNamed(argv[i + 1]) != orvo::SearchWay::kChosen)) {
      way = orvo::WayNamed(argv[++i]);
    } else {
      std::printf("usage: news_db_bench [--items 100000,1000000] [--folder DIR]\n"
                  "       news_db_bench --generate FILE [--items N]\n"
                  "       news_db_bench --grid FILE [--way collect|mark|walk]\n"
                  "       news_db_bench --upgrade FILE [--stop-after SECONDS]\n"
                  "       news_db_bench --postgres [--items 100000,1000000] [--folder DIR] [--sqlite FILE] [--runs N]\n"
                  "       news_db_bench --database postgresql://... [--items N] [--folder DIR] [--sqlite FILE] [--runs N]\n"
                  "                     [--reads-only] [--ebook-limit SECONDS]\n"
                  "Generates news databases of real-size items and prints the timings of the reader's grid and\n"
                  "searches, the eBook filter query and the clean-ups, before and after the index upgrade.\n"
                  "--postgres (a server of its own in DIR/postgres, run as nobody under root) or --database (an\n"
                  "empty database of a server, its schema made here) stores the same items on PostgreSQL and\n"
                  "prints each figure on SQLite and PostgreSQL side by side, the fastest of N runs (default 2);\n"
                  "--sqlite takes SQLite's reads from a file made by --generate (kept, not written) and the\n"
                  "clean-up from a new file of the same items. A --database that holds the same items already is\n"
                  "used as it is; --reads-only leaves the clean-up out, so that it still does next time;\n"
                  "--ebook-limit ends an eBook query that takes longer and prints how long it ran.\n");
      return a == "--help" || a == "-h" ? 0 : 2;
    }
  }
  if (!generate.empty()) return orvo::GenerateOnly(generate, sizes.front());
  if (!grid.empty()) return orvo::GridOnly(grid, way);
  if (!upgrade.empty()) return orvo::UpgradeOnly(upgrade, stopAfter);
  if (folder.empty()) {
    char tmpl[] = "/tmp/news_db_bench.XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    folder = tmpl;
    // A server of our own may run as another user, who must reach it.
    ::chmod(folder.c_str(), 0711);
  }
  std::filesystem::create_directories(folder);
  // The engine's clean-up logs to the program folder: keep it in ours.
  ::setenv("ORVO_HOME", folder.c_str(), 1);
  if (backends) {
    both.folder = folder;
    return orvo::bench::RunBackends(both, sizes);
  }
  for (int64_t n : sizes) orvo::RunSize(folder, n);
  return 0;
}

// The eBook generator's news query over every marked filter, walked to the
// end: as the generator runs it, and as SQLite alone runs the same rows.
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>

#include "database.h"
#include "store/filter_query.h"

namespace orvo {

// On a connection opened as the generator opens its own; nullopt, with the
// reason on standard error, when the query fails. `openSeconds` receives the
// time of the matching ids' query (the rest is reading the rows by id).
std::optional<size_t> RunEbookQuery(const std::string& location, double* openSeconds) {
  std::unique_ptr<Database> db;
  std::string why;
  if (Database::Open(location, Database::Mode::kExisting, &db, &why) != 0) {
    std::fprintf(stderr, "eBook query: %s\n", why.c_str());
    return std::nullopt;
  }
  NewsQuery q;
  size_t rows = 0;
  const auto start = std::chrono::steady_clock::now();
  int rc = q.Open(*db, std::time(nullptr));
  *openSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (rc == 0) {
    while (q.Fetch()) ++rows;
    rc = q.error();
  }
  if (rc != 0) {
    std::fprintf(stderr, "eBook query on %s: %s\n", db->Describe().c_str(), db->ErrorMessage().c_str());
    return std::nullopt;
  }
  return rows;
}

// The same filters as one statement with every column, on a plain SQLite
// connection, every column of every row read: the floor the generator's
// path is measured against.
size_t RunRawEbookQuery(const std::string& path) {
  std::unique_ptr<Database> db;
  if (Database::Open(path, Database::Mode::kExisting, &db) != 0) return 0;
  SqlCondition all;
  if (MarkedFiltersCondition(*db, std::time(nullptr), &all) != 0) return 0;
  db.reset();
  std::string sql = NewsStatementText(all.text);
  const std::string idsOnly = "SELECT ni.id FROM";
  sql.replace(sql.find(idsOnly), idsOnly.size(),
              "SELECT ni.id, ni.recvdate, ni.newsdate, ni.fk_site_cat_rel, ni.publication_date, ni.src_url, "
              "ni.author, ni.title, ni.smalldescr, ni.body, nc.name, nc.id FROM");

  sqlite3* raw = nullptr;
  if (sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return 0;
  sqlite3_stmt* st = nullptr;
  size_t rows = 0;
  if (sqlite3_prepare_v2(raw, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
    int i = 1;
    for (const SqlValue& v : all.values) {
      if (const int64_t* n = std::get_if<int64_t>(&v))
        sqlite3_bind_int64(st, i++, *n);
      else
        sqlite3_bind_text(st, i++, std::get<std::string>(v).c_str(), -1, SQLITE_TRANSIENT);
    }
    size_t bytes = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        sqlite3_column_text(st, c);
        bytes += static_cast<size_t>(sqlite3_column_bytes(st, c));
      }
      ++rows;
    }
    if (bytes == 0) rows = 0;
  }
  sqlite3_finalize(st);
  sqlite3_close(raw);
  return rows;
}

}  // namespace orvo

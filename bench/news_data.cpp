#include "news_data.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <utility>

#include "database.h"
#include "pg.h"
#include "text.h"

namespace orvo::bench {

namespace {

std::vector<std::string> Vocabulary(Random& r) {
  const char* syllables[] = {"ka", "lo", "men", "ti", "ra", "sto", "ve", "un", "der", "pol", "is", "an", "gre",
                             "ment", "or", "ex", "bu", "dget", "tax", "ri", "ver", "no", "wa", "che"};
  std::vector<std::string> words;
  for (int i = 0; i < 6000; ++i) {
    std::string w;
    int n = 1 + static_cast<int>(r.Below(4));
    for (int k = 0; k < n; ++k) w += syllables[r.Below(std::size(syllables))];
    words.push_back(w);
  }
  // Some Cyrillic and Greek, in both cases, for the case-folding paths.
  for (const char* w : {"новости", "Правительство", "ЭКОНОМИКА", "выборы", "Αθήνα", "ΚΥΒΕΡΝΗΣΗ", "οικονομία"})
    words.push_back(w);
  return words;
}

std::string Sentence(Random& r, const std::vector<std::string>& words, int count) {
  std::string s;
  for (int i = 0; i < count; ++i) {
    if (i) s += ' ';
    s += words[r.Skewed(words.size())];
  }
  return s;
}

}  // namespace

ItemGenerator::ItemGenerator(std::time_t now) : now_(now) { words_ = Vocabulary(r_); }

std::time_t ItemGenerator::FirstItemAge() {
  Random r;
  Vocabulary(r);
  return static_cast<std::time_t>(r.Below(kDays * 86400));
}

// The draws keep the order of the first generator's, so files it made can
// be made again.
void ItemGenerator::Next(int64_t i, const std::vector<int64_t>& pairs, NewsItemRow* out) {
  const std::time_t published = now_ - static_cast<std::time_t>(r_.Below(kDays * 86400));
  out->date = FormatDbTime(published);
  out->body.clear();
  while (out->body.size() < 3800) {
    const int count = 12 + static_cast<int>(r_.Below(20));
    out->body += "<p>" + Sentence(r_, words_, count) + ".</p>";
  }
  if (i % 500 == 7) out->body += "<p>Die Gravitationswelle und гравитация.</p>";
  if (i % 40 == 3) out->body += "<p>The budget and the tax.</p>";
  out->pair = pairs[r_.Below(pairs.size())];
  out->url = "https://site" + std::to_string(i % kSites) + ".example/news/" + std::to_string(i);
  const int titleWords = 6 + static_cast<int>(r_.Below(6));
  out->title = Sentence(r_, words_, titleWords);
  out->isDel = r_.Below(20) == 0 ? 1 : 0;
  out->isRead = static_cast<int>(r_.Below(2));
}

bool WriteCatalogue(Database& db, std::vector<int64_t>* pairs) {
  Transaction t(db);
  for (int s = 0; s < kSites; ++s) {
    Statement site(db, "INSERT INTO news_config (site_name) VALUES (?)");
    site.Bind(1, "Site " + std::to_string(s)).Execute();
    int64_t siteId = db.LastInsertId();
    for (int c = 0; c < kCategories; ++c) {
      if (s == 0) {
        Statement cat(db, "INSERT INTO news_cat (name) VALUES (?)");
        cat.Bind(1, "Category " + std::to_string(c)).Execute();
      }
      Statement rel(db, "INSERT INTO site_cat_rel (is_selected, fk_news_cat, fk_news_config) VALUES (1, ?, ?)");
      rel.Bind(1, c + 1).Bind(2, siteId).Execute();
      int64_t pair = db.LastInsertId();
      pairs->push_back(pair);
      // A tenth of the pairs have withdrawn masks but live news: the
      // orphan query must look at their news and keep them.
      Statement mask(db, "INSERT INTO news_masks (mask, mask_version, type, fk_site_cat_rel) VALUES ('', ?, ?, ?)");
      for (int type = 0; type < 2; ++type) {
        mask.Reset();
        mask.Bind(1, pairs->size() % 10 == 0 ? 0 : 3).Bind(2, type).Bind(3, pair);
        if (mask.Execute() != 0) return false;
      }
    }
  }
  return t.Commit() == 0;
}

bool WriteFilters(Database& db) {
  Statement f(db, "INSERT INTO filter (name, keywords, search_mode, time_kind, days, lit_gen) VALUES (?, ?, ?, ?, ?, 1)");
  f.Bind(1, "all").Bind(2, "budget tax").Bind(3, 0).Bind(4, 0).Bind(5, 0).Execute();
  f.Reset();
  f.Bind(1, "any").Bind(2, "гравитация Gravitationswelle").Bind(3, 1).Bind(4, 2).Bind(5, 30);
  if (f.Execute() != 0) return false;
  return db.Exec("INSERT INTO filter_site_cat_rel SELECT f.id, r.id FROM filter f, site_cat_rel r") == 0;
}

bool GenerateSqlite(const std::string& path, int64_t items, std::time_t now) {
  std::unique_ptr<Database> db;
  if (Database::Open(path, Database::Mode::kCreate, &db) != 0) return false;
  if (db->Exec("DROP TRIGGER newsitem_fts_insert; DROP TRIGGER newsitem_fts_delete;"
               "DROP TRIGGER newsitem_fts_update; DROP TABLE newsitem_fts; DROP TABLE newsitem_fts_fill;"
               "DROP TABLE newsitem_fts_gone;"
               "DROP INDEX newsitem_grid_title; DROP INDEX newsitem_grid_date; DROP INDEX newsitem_grid_pair;"
               "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF") != 0)
    return false;
  ItemGenerator gen(now);
  std::vector<int64_t> pairs;
  if (!WriteCatalogue(*db, &pairs)) return false;
  Statement ins(*db,
                "INSERT INTO newsitem (recvdate, newsdate, fk_site_cat_rel, publication_date, src_url, author, title,"
                " smalldescr, body, is_del, is_read) VALUES (?, ?, ?, ?, ?, 'Desk', ?, '', ?, ?, ?)");
  NewsItemRow row;
  db->Begin();
  for (int64_t i = 0; i < items; ++i) {
    gen.Next(i, pairs, &row);
    ins.Reset();
    ins.Bind(1, row.date).Bind(2, row.date).Bind(3, row.pair).Bind(4, row.date).Bind(5, row.url);
    ins.Bind(6, row.title).Bind(7, row.body).Bind(8, row.isDel).Bind(9, row.isRead);
    if (ins.Execute() != 0) return false;
    if (i % 20000 == 19999) {
      db->Commit();
      db->Begin();
    }
  }
  if (db->Commit() != 0) return false;
  return WriteFilters(*db) && db->Exec("ANALYZE") == 0;
}

std::time_t GeneratedNow(Database& db, std::string* why) {
  std::vector<int64_t> pairs;
  {
    Statement p(db, "SELECT id FROM site_cat_rel ORDER BY id");
    while (p.Next()) pairs.push_back(p.Int(0));
  }
  Statement first(db, "SELECT publication_date, src_url, title, body FROM newsitem WHERE id <= 3 ORDER BY id");
  std::vector<NewsItemRow> stored;
  while (first.Next()) {
    NewsItemRow r;
    r.date = first.Text(0);
    r.url = first.Text(1);
    r.title = first.Text(2);
    r.body = first.Text(3);
    stored.push_back(std::move(r));
  }
  const std::optional<std::time_t> published = stored.empty() ? std::nullopt : ParseDbTime(stored[0].date);
  if (pairs.size() != kSites * kCategories || stored.size() != 3 || !published) {
    *why = "it holds no generated news";
    return 0;
  }
  const std::time_t now = *published + ItemGenerator::FirstItemAge();
  ItemGenerator gen(now);
  NewsItemRow row;
  for (int64_t i = 0; i < 3; ++i) {
    gen.Next(i, pairs, &row);
    const NewsItemRow& s = stored[static_cast<size_t>(i)];
    if (row.date != s.date || row.url != s.url || row.title != s.title || row.body != s.body) {
      *why = "its item " + std::to_string(i + 1) + " is not the generator's";
      return 0;
    }
  }
  return now;
}

}  // namespace orvo::bench

namespace orvo::bench {

namespace {

using Clock = std::chrono::steady_clock;
double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// A text field of COPY's text format.
void CopyField(std::string_view s, std::string* out) {
  for (char c : s) {
    switch (c) {
      case '\\': *out += "\\\\"; break;
      case '\t': *out += "\\t"; break;
      case '\n': *out += "\\n"; break;
      case '\r': *out += "\\r"; break;
      default: *out += c;
    }
  }
}

bool Command(PGconn* conn, const char* sql, std::string* why) {
  pg::Result r{PQexec(conn, sql)};
  if (PQresultStatus(r.get()) == PGRES_COMMAND_OK) return true;
  *why = std::string(sql).substr(0, 60) + ": " + pg::Message(conn, r.get());
  return false;
}

// Ends the COPY under way and commits it.
bool EndCopy(PGconn* conn, std::string* why) {
  if (PQputCopyEnd(conn, nullptr) != 1) {
    *why = "COPY: " + pg::Message(conn, nullptr);
    return false;
  }
  bool ok = true;
  while (pg::Result r{PQgetResult(conn)}) {
    if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) {
      *why = "COPY: " + pg::Message(conn, r.get());
      ok = false;
    }
  }
  return ok && Command(conn, "COMMIT", why);
}

}  // namespace

bool FillPostgres(const std::string& url, int64_t items, std::time_t now, std::string* why) {
  std::unique_ptr<Database> db;
  if (Database::Open(url, Database::Mode::kCreate, &db, why) != 0) return false;
  // The indexes on the news go while they load (those of constraints stay),
  // and come back as the schema made them.
  std::vector<std::pair<std::string, std::string>> indexes;
  {
    Statement s(*db,
                "SELECT i.relname, pg_get_indexdef(i.oid) FROM pg_index x JOIN pg_class i ON i.oid = x.indexrelid"
                " WHERE x.indrelid = 'newsitem'::regclass"
                " AND NOT EXISTS (SELECT 1 FROM pg_constraint c WHERE c.conindid = x.indexrelid) ORDER BY i.relname");
    while (s.Next()) indexes.emplace_back(s.Text(0), s.Text(1));
    if (s.error()) {
      *why = db->ErrorMessage();
      return false;
    }
  }
  for (const auto& [name, def] : indexes) {
    if (db->Exec(("DROP INDEX " + name).c_str()) != 0) {
      *why = db->ErrorMessage();
      return false;
    }
  }
  std::vector<int64_t> pairs;
  if (!WriteCatalogue(*db, &pairs)) {
    *why = "the catalogue: " + db->ErrorMessage();
    return false;
  }

  pg::Connection conn = pg::Connection::Open(url, 10, why);
  if (!conn) return false;
  const char* kCopy =
      "COPY newsitem (recvdate, newsdate, fk_site_cat_rel, publication_date, src_url, author, title, smalldescr, body,"
      " is_del, is_read) FROM STDIN";
  constexpr int64_t kPerTransaction = 100000;
  ItemGenerator gen(now);
  NewsItemRow row;
  std::string buffer;
  size_t bytes = 0;
  auto start = Clock::now();
  for (int64_t i = 0; i < items; ++i) {
    if (i % kPerTransaction == 0) {
      if (i > 0 && !EndCopy(conn.get(), why)) return false;
      if (!Command(conn.get(), "BEGIN", why)) return false;
      pg::Result r{PQexec(conn.get(), kCopy)};
      if (PQresultStatus(r.get()) != PGRES_COPY_IN) {
        *why = "COPY: " + pg::Message(conn.get(), r.get());
        return false;
      }
      if (i > 0) {
        std::printf("  PostgreSQL: %lld items stored after %.0f s\n", static_cast<long long>(i), Since(start));
        std::fflush(stdout);
      }
    }
    gen.Next(i, pairs, &row);
    for (const std::string* date : {&row.date, &row.date}) {
      CopyField(*date, &buffer);
      buffer += '\t';
    }
    buffer += std::to_string(row.pair) + '\t';
    CopyField(row.date, &buffer);
    buffer += '\t';
    CopyField(row.url, &buffer);
    buffer += "\tDesk\t";
    CopyField(row.title, &buffer);
    buffer += "\t\t";
    CopyField(row.body, &buffer);
    buffer += '\t' + std::to_string(row.isDel) + '\t' + std::to_string(row.isRead) + '\n';
    if (buffer.size() > (1 << 20) || i + 1 == items) {
      if (PQputCopyData(conn.get(), buffer.data(), static_cast<int>(buffer.size())) != 1) {
        *why = "COPY: " + pg::Message(conn.get(), nullptr);
        return false;
      }
      bytes += buffer.size();
      buffer.clear();
    }
  }
  if (items > 0 && !EndCopy(conn.get(), why)) return false;
  const double loaded = Since(start);
  std::printf("  PostgreSQL: %lld items stored by COPY in %.0f s (%.0f items/s, %.0f MB/s)\n",
              static_cast<long long>(items), loaded, loaded > 0 ? static_cast<double>(items) / loaded : 0.0,
              loaded > 0 ? static_cast<double>(bytes) / 1e6 / loaded : 0.0);
  if (!WriteFilters(*db)) {
    *why = "the filters: " + db->ErrorMessage();
    return false;
  }
  // A bulk load's usual memory for building indexes.
  if (!Command(conn.get(), "SET maintenance_work_mem = '1GB'", why)) return false;
  for (const auto& [name, def] : indexes) {
    auto t = Clock::now();
    if (!Command(conn.get(), def.c_str(), why)) return false;
    std::printf("  PostgreSQL: index %s built in %.1f s\n", name.c_str(), Since(t));
    std::fflush(stdout);
  }
  // What autovacuum does soon after a load: the statistics, and the
  // visibility map that lets the grid's covering indexes answer alone.
  auto t = Clock::now();
  if (!Command(conn.get(), "VACUUM ANALYZE", why)) return false;
  pg::Result size{PQexec(conn.get(), "SELECT pg_database_size(current_database())")};
  std::printf("  PostgreSQL: VACUUM ANALYZE %.1f s; database %.0f MB; load and indexes %.0f s in all\n", Since(t),
              PQresultStatus(size.get()) == PGRES_TUPLES_OK ? std::atof(PQgetvalue(size.get(), 0, 0)) / 1e6 : 0.0,
              Since(start));
  std::fflush(stdout);
  return true;
}

}  // namespace orvo::bench

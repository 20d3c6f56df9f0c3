#include "filters.h"

#include "dialect.h"
#include "savepoint.h"

namespace orvo {

int ListFilters(Database& db, std::vector<FilterName>* filters) {
  filters->clear();
  const Database::Backend b = db.backend();
  Statement s(db, "SELECT id, name FROM filter ORDER BY " + dialect::NoCase(b, "name") + dialect::Direction(b, true) +
                      ", id");
  while (s.Next()) filters->push_back({s.Int(0), s.Text(1)});
  return s.error();
}

int ReadFilter(Database& db, int64_t id, FilterRow* f) {
  Statement s(db,
              "SELECT id, name, keywords, search_mode, time_kind, date_from, date_to, days, hours, minutes,"
              " lit_gen FROM filter WHERE id = ?");
  s.Bind(1, id);
  if (!s.Next()) return s.error() ? s.error() : SQLITE_NOTFOUND;
  f->id = s.Int(0);
  f->name = s.Text(1);
  f->keywords = s.Text(2);
  f->searchMode = static_cast<int>(s.Int(3));
  f->timeKind = static_cast<int>(s.Int(4));
  f->dateFrom = s.Time(5);
  f->dateTo = s.Time(6);
  f->days = static_cast<int>(s.Int(7));
  f->hours = static_cast<int>(s.Int(8));
  f->minutes = static_cast<int>(s.Int(9));
  f->litGen = s.Int(10) != 0;
  return 0;
}

int ListFilterPairs(Database& db, int64_t filterId, std::vector<PairRow>* pairs) {
  pairs->clear();
  Statement s(db,
              "SELECT k.id, k.name, c.id, c.site_name FROM filter_site_cat_rel l"
              " JOIN site_cat_rel r ON r.id = l.fk_site_cat_rel"
              " JOIN news_config c ON c.id = r.fk_news_config"
              " JOIN news_cat k ON k.id = r.fk_news_cat"
              " WHERE l.fk_filter = ?" +
                  SiteThenCategoryOrder(db.backend()));
  s.Bind(1, filterId);
  while (s.Next()) {
    PairRow p;
    p.categoryId = static_cast<int32_t>(s.Int(0));
    p.categoryName = s.Text(1);
    p.siteId = static_cast<int32_t>(s.Int(2));
    p.siteName = s.Text(3);
    pairs->push_back(std::move(p));
  }
  return s.error();
}

namespace {

int WriteLinks(Database& db, int64_t filterId, const std::vector<PairKey>& pairs) {
  Statement clear(db, "DELETE FROM filter_site_cat_rel WHERE fk_filter = ?");
  clear.Bind(1, filterId);
  if (int rc = clear.Execute()) return rc;
  Statement add(db,
                "INSERT INTO filter_site_cat_rel (fk_filter, fk_site_cat_rel)"
                " SELECT ?, id FROM site_cat_rel WHERE fk_news_cat = ? AND fk_news_config = ?");
  for (const PairKey& p : pairs) {
    add.Reset();
    add.Bind(1, filterId).Bind(2, p.categoryId).Bind(3, p.siteId);
    if (int rc = add.Execute()) return rc;
  }
  return 0;
}

void BindFilter(Statement& s, const FilterRow& f) {
  s.BindText(1, f.name, kTextColumn).BindText(2, f.keywords, kTextColumn);
  s.Bind(3, f.searchMode).Bind(4, f.timeKind);
  f.dateFrom ? s.BindTime(5, *f.dateFrom) : s.BindNull(5);
  f.dateTo ? s.BindTime(6, *f.dateTo) : s.BindNull(6);
  s.Bind(7, f.days).Bind(8, f.hours).Bind(9, f.minutes).Bind(10, f.litGen ? 1 : 0);
}

}  // namespace

int CreateFilter(Database& db, const FilterRow& filter, const std::vector<PairKey>& pairs, int64_t* id) {
  Savepoint sp(db);
  if (sp.status()) return sp.status();
  Statement s(db,
              "INSERT INTO filter (name, keywords, search_mode, time_kind, date_from, date_to, days, hours,"
              " minutes, lit_gen) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  BindFilter(s, filter);
  if (int rc = s.Execute()) return rc;
  const int64_t made = db.LastInsertId();
  if (int rc = WriteLinks(db, made, pairs)) return rc;
  if (int rc = sp.Release()) return rc;
  *id = made;
  return 0;
}

int UpdateFilter(Database& db, const FilterRow& filter, const std::vector<PairKey>& pairs) {
  Savepoint sp(db);
  if (sp.status()) return sp.status();
  Statement s(db,
              "UPDATE filter SET name = ?, keywords = ?, search_mode = ?, time_kind = ?, date_from = ?,"
              " date_to = ?, days = ?, hours = ?, minutes = ?, lit_gen = ? WHERE id = ?");
  BindFilter(s, filter);
  s.Bind(11, filter.id);
  if (int rc = s.Execute()) return rc;
  if (db.Changes() == 0) return SQLITE_NOTFOUND;
  if (int rc = WriteLinks(db, filter.id, pairs)) return rc;
  return sp.Release();
}

int DeleteFilter(Database& db, int64_t id) {
  Savepoint sp(db);
  if (sp.status()) return sp.status();
  Statement links(db, "DELETE FROM filter_site_cat_rel WHERE fk_filter = ?");
  links.Bind(1, id);
  if (int rc = links.Execute()) return rc;
  Statement s(db, "DELETE FROM filter WHERE id = ?");
  s.Bind(1, id);
  if (int rc = s.Execute()) return rc;
  return sp.Release();
}

}  // namespace orvo

#include "catalogue_rows.h"

#include <algorithm>

#include "eventlog.h"
#include "store/own_sites.h"
#include "store/schema.h"

namespace orvo {

int ReadCatalogueRows(Database& db, CatalogueRows* out) {
  *out = {};
  // The user's own sites, categories and pairs are none of the catalogue's
  // business, even under a catalogue name.
  UpgradeSchema(db);
  {
    Statement st(db, std::string("SELECT id, site_name FROM news_config WHERE id NOT IN ") + kOwnSiteIds + " ORDER BY id");
    while (st.Next()) out->sites.emplace_back(st.Text(1), st.Int(0));
    if (st.error()) return st.error();
  }
  {
    Statement st(db, std::string("SELECT id, name FROM news_cat WHERE id NOT IN ") + kOwnCategoryIds + " ORDER BY id");
    while (st.Next()) out->categories.emplace_back(st.Text(1), st.Int(0));
    if (st.error()) return st.error();
  }
  {
    Statement st(db, std::string("SELECT rel.id, rel.is_selected, ns.site_name, nc.name FROM site_cat_rel rel"
                                 " INNER JOIN news_config ns ON rel.fk_news_config = ns.id"
                                 " INNER JOIN news_cat nc ON rel.fk_news_cat = nc.id WHERE rel.id NOT IN ") +
                         kOwnPairIds + " ORDER BY rel.id");
    while (st.Next()) out->pairs.push_back({st.Int(0), st.Int(1) != 0, st.Text(2), st.Text(3)});
    if (st.error()) return st.error();
  }
  Statement st(db, "SELECT id, mask_version, type, fk_site_cat_rel FROM news_masks ORDER BY type, id");
  while (st.Next())
    out->masks.push_back({st.Int(0), static_cast<int>(st.Int(1)), static_cast<int>(st.Int(2)), st.Int(3)});
  return st.error();
}

CatalogueWriter::CatalogueWriter(Database& db)
    : db_(db),
      site_(db, "INSERT INTO news_config (site_name) VALUES(?)"),
      category_(db, "INSERT INTO news_cat (name) VALUES(?)"),
      pair_(db, "INSERT INTO site_cat_rel (is_selected, fk_news_cat, fk_news_config) VALUES(?,?,?)"),
      mask_(db, "INSERT INTO news_masks (mask, mask_version, type, fk_site_cat_rel) VALUES('', 1, ?, ?)"),
      filters_(db,
               "SELECT DISTINCT fr.fk_filter FROM filter_site_cat_rel fr"
               " INNER JOIN site_cat_rel sc ON fr.fk_site_cat_rel = sc.id"
               " INNER JOIN news_config s ON sc.fk_news_config = s.id"
               " INNER JOIN news_cat c ON sc.fk_news_cat = c.id WHERE c.name LIKE ?"),
      link_(db, "INSERT INTO filter_site_cat_rel (fk_filter, fk_site_cat_rel) VALUES(?, ?)"),
      version_(db, "UPDATE news_masks SET mask_version = ?, type = ? WHERE id = ?") {}

int CatalogueWriter::Run(Statement& st, int64_t* id) {
  if (int rc = st.Execute(); rc != 0) {
    failedSql_ = st.sql();
    return rc;
  }
  if (id) *id = db_.LastInsertId();
  return 0;
}

int CatalogueWriter::AddSite(const std::string& name, int64_t* id) {
  site_.Reset();
  site_.Bind(1, name);
  return Run(site_, id);
}

int CatalogueWriter::AddCategory(const std::string& name, int64_t* id) {
  category_.Reset();
  category_.Bind(1, name);
  return Run(category_, id);
}

int CatalogueWriter::AddPair(bool selected, int64_t category, int64_t site, int64_t* id) {
  pair_.Reset();
  pair_.Bind(1, selected ? 1 : 0).Bind(2, category).Bind(3, site);
  return Run(pair_, id);
}

int CatalogueWriter::AddMask(int type, int64_t pair, int64_t* id) {
  mask_.Reset();
  mask_.Bind(1, type).Bind(2, pair);
  return Run(mask_, id);
}

int CatalogueWriter::FiltersOfCategory(const std::string& pattern, std::vector<int64_t>* filters) {
  filters->clear();
  filters_.Reset();
  filters_.Bind(1, pattern);
  while (filters_.Next()) filters->push_back(filters_.Int(0));
  if (filters_.error() != 0) failedSql_ = filters_.sql();
  return filters_.error();
}

int CatalogueWriter::AddFilterLink(int64_t filter, int64_t pair) {
  link_.Reset();
  link_.Bind(1, filter).Bind(2, pair);
  return Run(link_, nullptr);
}

int CatalogueWriter::SetMaskVersion(int64_t mask, int version, int type) {
  version_.Reset();
  version_.Bind(1, version).Bind(2, type).Bind(3, mask);
  return Run(version_, nullptr);
}

void CatalogueWriter::BeginPair() { db_.Exec("SAVEPOINT new_pair"); }
void CatalogueWriter::KeepPair() { db_.Exec("RELEASE new_pair"); }
void CatalogueWriter::DropPair() {
  db_.Exec("ROLLBACK TO new_pair");
  db_.Exec("RELEASE new_pair");
}

MaskTextWriter::MaskTextWriter(Database& db) : st_(db, "UPDATE news_masks SET mask = ?, mask_version = ? WHERE id = ?") {}

int MaskTextWriter::Store(int64_t mask, const std::string& hexText, int version) {
  st_.Reset();
  st_.Bind(1, hexText).Bind(2, version).Bind(3, mask);
  return st_.Execute();
}

int MarkAllMasks(Database& db) {
  // A mask that carries a mark already keeps that one: a mark applied twice
  // would survive its withdrawal and withdraw the mask on the next run.
  Statement st(db, "UPDATE news_masks SET type = type + 128 WHERE type < 128");
  int rc = st.Execute();
  if (rc != 0) WriteEventLog("Can not delete news items " + std::to_string(rc) + " SQL : \n" + st.sql());
  return rc;
}

int WithdrawUnconfirmedMasks(Database& db) {
  Statement st(db, "UPDATE news_masks SET mask_version = 0, mask = '', type = type - 128 WHERE type >= 128");
  int rc = st.Execute();
  if (rc != 0) WriteEventLog("Can not delete news items " + std::to_string(rc) + " SQL : \n" + st.sql());
  return rc;
}

std::vector<std::string> SelectedPairsLeftOut(Database& db) {
  Statement st(db,
               "SELECT c.site_name, k.name FROM site_cat_rel r"
               " JOIN news_config c ON c.id = r.fk_news_config JOIN news_cat k ON k.id = r.fk_news_cat"
               " WHERE r.is_selected <> 0 AND EXISTS (SELECT 1 FROM news_masks m"
               " WHERE m.fk_site_cat_rel = r.id AND m.type >= 128 AND m.mask_version > 0)"
               " ORDER BY c.site_name, k.name");
  std::vector<std::string> pairs;
  while (st.Next()) pairs.push_back(st.Text(0) + " / " + st.Text(1));
  return pairs;
}

int RemoveMarks(Database& db, int* removed) {
  // type % 128 also mends the 256/257 that marking twice once left behind.
  Statement st(db, "UPDATE news_masks SET type = type % 128 WHERE type >= 128");
  int rc = st.Execute();
  if (rc != 0) WriteEventLog("Can not update mask " + std::to_string(rc) + " SQL : \n" + st.sql());
  if (removed) *removed = rc == 0 ? db.Changes() : 0;
  return rc;
}

namespace {
// The advisory lock's key: any number, the same in every engine.
constexpr const char* kCatalogueLockKey = "4837461002";
}  // namespace

int TryLockCatalogue(Database& db, bool* held) {
  *held = true;
  if (db.backend() != Database::Backend::kPostgres) return 0;
  Statement st(db, std::string("SELECT pg_try_advisory_xact_lock(") + kCatalogueLockKey + ")");
  if (!st.Next()) return st.error() ? st.error() : SQLITE_ERROR;
  *held = st.Int(0) != 0;
  return 0;
}

int WaitForCatalogueLock(Database& db, int seconds) {
  if (db.backend() != Database::Backend::kPostgres) return 0;
  const std::string limit = "SET LOCAL lock_timeout = '" + std::to_string(std::max(seconds, 1)) + "s'";
  if (int rc = db.Exec(limit.c_str()); rc != 0) return rc;
  if (int rc = db.Exec((std::string("SELECT pg_advisory_xact_lock(") + kCatalogueLockKey + ")").c_str()); rc != 0)
    return rc;
  // The update's own row locks wait as long as they must.
  return db.Exec("SET LOCAL lock_timeout = DEFAULT");
}

}  // namespace orvo

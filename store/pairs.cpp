#include "pairs.h"

#include "savepoint.h"

namespace orvo {

int ListPairs(Database& db, std::vector<PairRow>* pairs) {
  pairs->clear();
  Statement s(db,
              "SELECT k.id, c.id, k.name, c.site_name, r.is_selected FROM site_cat_rel r"
              " JOIN news_config c ON c.id = r.fk_news_config"
              " JOIN news_cat k ON k.id = r.fk_news_cat"
              " ORDER BY c.site_name COLLATE NOCASE, c.id, k.name COLLATE NOCASE, k.id");
  while (s.Next()) {
    PairRow p;
    p.categoryId = static_cast<int32_t>(s.Int(0));
    p.siteId = static_cast<int32_t>(s.Int(1));
    p.categoryName = s.Text(2);
    p.siteName = s.Text(3);
    p.selected = s.Int(4) != 0;
    pairs->push_back(std::move(p));
  }
  return s.error();
}

int SelectPairs(Database& db, const std::vector<PairKey>& pairs, bool selected) {
  Savepoint sp(db);
  if (sp.status()) return sp.status();
  Statement s(db, "UPDATE site_cat_rel SET is_selected = ? WHERE fk_news_cat = ? AND fk_news_config = ?");
  for (const PairKey& p : pairs) {
    s.Reset();
    s.Bind(1, selected ? 1 : 0).Bind(2, p.categoryId).Bind(3, p.siteId);
    if (int rc = s.Execute()) return rc;
  }
  return sp.Release();
}

int AnyPairSelected(Database& db, bool* any) {
  Statement s(db, "SELECT EXISTS (SELECT 1 FROM site_cat_rel WHERE is_selected <> 0)");
  *any = s.Next() && s.Int(0) != 0;
  return s.error();
}

int64_t EnsurePair(Database& db, const std::string& site, const std::string& category, bool selected) {
  auto idOf = [&](const char* find, const char* add, const std::string& name) -> int64_t {
    Statement s(db, find);
    s.Bind(1, name);
    if (s.Next()) return s.Int(0);
    Statement ins(db, add);
    ins.BindText(1, name, kTextColumn);
    return ins.Execute() == 0 ? db.LastInsertId() : -1;
  };
  int64_t siteId = idOf("SELECT id FROM news_config WHERE site_name = ?",
                        "INSERT INTO news_config (site_name) VALUES (?)", site);
  int64_t catId = idOf("SELECT id FROM news_cat WHERE name = ?", "INSERT INTO news_cat (name) VALUES (?)", category);
  if (siteId < 0 || catId < 0) return -1;
  Statement s(db, "SELECT id FROM site_cat_rel WHERE fk_news_config = ? AND fk_news_cat = ?");
  s.Bind(1, siteId).Bind(2, catId);
  if (s.Next()) return s.Int(0);
  Statement ins(db, "INSERT INTO site_cat_rel (is_selected, fk_news_cat, fk_news_config) VALUES (?, ?, ?)");
  ins.Bind(1, selected ? 1 : 0).Bind(2, catId).Bind(3, siteId);
  return ins.Execute() == 0 ? db.LastInsertId() : -1;
}

}  // namespace orvo

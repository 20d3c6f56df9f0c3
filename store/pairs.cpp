#include "pairs.h"

#include <algorithm>
#include <optional>
#include <tuple>

#include "dialect.h"
#include "savepoint.h"
#include "schema.h"

namespace orvo {

std::string SiteThenCategoryOrder(Database::Backend b) {
  const std::string up = dialect::Direction(b, true);
  return " ORDER BY " + dialect::NoCase(b, "c.site_name") + up + ", c.id, " + dialect::NoCase(b, "k.name") + up +
         ", k.id";
}

int ListPairs(Database& db, std::vector<PairRow>* pairs) {
  pairs->clear();
  Statement s(db,
              "SELECT k.id, c.id, k.name, c.site_name, r.is_selected FROM site_cat_rel r"
              " JOIN news_config c ON c.id = r.fk_news_config"
              " JOIN news_cat k ON k.id = r.fk_news_cat" +
                  SiteThenCategoryOrder(db.backend()));
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


namespace {

// Columns 0-5 of a pair, by the name of both tables it joins.
constexpr const char* kPairColumns = "rel.id, ns.site_name, nc.name, rel.is_selected, ns.id, nc.id";
constexpr const char* kPairTables =
    "site_cat_rel rel JOIN news_config ns ON ns.id = rel.fk_news_config JOIN news_cat nc ON nc.id = rel.fk_news_cat";

SitePair ReadPair(const Statement& st) {
  return SitePair{st.Int(0), st.Text(1), st.Text(2), st.Int(3) != 0, st.Int(4), st.Int(5)};
}

// Names compare by their bytes on both back ends (a server's collation would
// order them by its locale).
bool ByName(const SitePair& a, const SitePair& b) {
  return std::tie(a.site, a.category, a.id) < std::tie(b.site, b.category, b.id);
}

int64_t Count(Database& db, const char* sql, std::optional<int64_t> arg = std::nullopt) {
  Statement st(db, sql);
  if (arg) st.Bind(1, *arg);
  return st.Next() ? st.Int(0) : 0;
}

}  // namespace

std::vector<SitePair> ReadSitePairs(Database& db) {
  std::vector<SitePair> pairs;
  Statement st(db, std::string("SELECT ") + kPairColumns + " FROM " + kPairTables);
  while (st.Next()) pairs.push_back(ReadPair(st));
  std::sort(pairs.begin(), pairs.end(), ByName);
  return pairs;
}

std::optional<SitePair> ReadSitePair(Database& db, int64_t id) {
  Statement st(db, std::string("SELECT ") + kPairColumns + " FROM " + kPairTables + " WHERE rel.id = ?");
  st.Bind(1, id);
  if (!st.Next()) return std::nullopt;
  return ReadPair(st);
}

int64_t CountPairsToVisit(Database& db) {
  return Count(db,
               "SELECT COUNT(*) FROM site_cat_rel rel WHERE rel.is_selected <> 0 AND "
               "(SELECT COUNT(*) FROM news_masks nm WHERE nm.fk_site_cat_rel = rel.id AND nm.mask_version > 0) >= 2");
}

NewsCounts CountNews(Database& db) {
  NewsCounts c;
  c.sites = Count(db, "SELECT COUNT(*) FROM news_config");
  c.categories = Count(db, "SELECT COUNT(*) FROM news_cat");
  c.pairs = Count(db, "SELECT COUNT(*) FROM site_cat_rel");
  c.selectedPairs = Count(db, "SELECT COUNT(*) FROM site_cat_rel WHERE is_selected <> 0");
  c.items = Count(db, "SELECT COUNT(*) FROM newsitem");
  c.unreadItems = Count(db, "SELECT COUNT(*) FROM newsitem WHERE is_read = 0 AND is_del = 0");
  c.deletedItems = Count(db, "SELECT COUNT(*) FROM newsitem WHERE is_del <> 0");
  c.images = Count(db, "SELECT COUNT(*) FROM newsimages");
  return c;
}

std::optional<NewestItem> ReadNewestItem(Database& db) {
  Statement st(db,
               "SELECT ni.publication_date, ni.title, ns.site_name, nc.name FROM newsitem ni "
               "LEFT JOIN site_cat_rel rel ON rel.id = ni.fk_site_cat_rel "
               "LEFT JOIN news_config ns ON ns.id = rel.fk_news_config "
               "LEFT JOIN news_cat nc ON nc.id = rel.fk_news_cat "
               "WHERE ni.is_del = 0 ORDER BY ni.publication_date DESC, ni.id DESC LIMIT 1");
  if (!st.Next()) return std::nullopt;
  return NewestItem{st.Text(0), st.Text(1), st.Text(2), st.Text(3)};
}

std::vector<PairSummary> SummarisePairs(Database& db) {
  const bool withOwn = TableExists(db, "own_site");
  Statement st(db, std::string("SELECT ") + kPairColumns +
                       ", (SELECT COUNT(*) FROM newsitem ni WHERE ni.fk_site_cat_rel = rel.id AND ni.is_del = 0), "
                       "(SELECT MAX(ni.publication_date) FROM newsitem ni WHERE ni.fk_site_cat_rel = rel.id), "
                       "(SELECT COUNT(*) FROM news_masks nm WHERE nm.fk_site_cat_rel = rel.id AND nm.mask_version > 0 "
                       "AND nm.mask <> ''), " +
                       (withOwn ? "(SELECT COUNT(*) FROM own_site o WHERE o.fk_site_cat_rel = rel.id) " : "0 ") +
                       "FROM " + kPairTables);
  std::vector<PairSummary> pairs;
  while (st.Next())
    pairs.push_back(PairSummary{ReadPair(st), st.Int(6), st.IsNull(7) ? std::string() : st.Text(7), st.Int(8),
                                st.Int(9) != 0});
  std::sort(pairs.begin(), pairs.end(), [](const PairSummary& a, const PairSummary& b) { return ByName(a.pair, b.pair); });
  return pairs;
}

std::vector<std::string> OwnSitesNamedLikeCatalogueSites(Database& db) {
  std::vector<std::string> names;
  if (!TableExists(db, "own_site")) return names;
  Statement st(db,
               "SELECT DISTINCT ns.site_name FROM news_config ns WHERE ns.id IN (SELECT rel.fk_news_config FROM "
               "site_cat_rel rel JOIN own_site o ON o.fk_site_cat_rel = rel.id WHERE o.removed = 0) AND EXISTS "
               "(SELECT 1 FROM news_config c WHERE c.site_name = ns.site_name AND c.id NOT IN (SELECT "
               "rel.fk_news_config FROM site_cat_rel rel JOIN own_site o ON o.fk_site_cat_rel = rel.id))");
  while (st.Next()) names.push_back(st.Text(0));
  std::sort(names.begin(), names.end());
  return names;
}

int64_t CountImagesOfItemsAbove(Database& db, int64_t id) {
  return Count(db, "SELECT COUNT(*) FROM newsimages WHERE fk_newsitem > ?", id);
}

}  // namespace orvo

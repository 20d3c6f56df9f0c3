#include "mask_health.h"

#include <algorithm>
#include <tuple>

#include "database.h"
#include "eventlog.h"
#include "schema.h"
#include "text.h"

namespace orvo {

namespace {

// The news mask failed this run: the body stayed empty on at least half of
// the pages walked, and on at least two of them.
bool NewsMaskFailed(const PairRun& run) {
  int empty = run.newsMaskEmpty ? run.pagesWalked : run.emptyBodies;
  return run.pagesWalked > 0 && empty >= 2 && empty * 2 >= run.pagesWalked;
}

}  // namespace

std::string PairName(Database& db, int siteCatRel) {
  Statement st(db,
               "SELECT ns.site_name, nc.name FROM site_cat_rel rel "
               "JOIN news_config ns ON ns.id = rel.fk_news_config JOIN news_cat nc ON nc.id = rel.fk_news_cat "
               "WHERE rel.id = ?");
  st.Bind(1, siteCatRel);
  if (!st.Next()) return "pair " + std::to_string(siteCatRel);
  return st.Text(0) + " / " + st.Text(1);
}

namespace {

// A pair's verdict is the one of its latest recorded run: the one place that
// says so. Columns: pair, state, symptom, broken_since, site id, category id,
// site name, category name.
std::string LatestVerdictSql(const char* condition) {
  return std::string(
             "SELECT h.fk_site_cat_rel, h.state, h.symptom, h.broken_since, rel.fk_news_config, rel.fk_news_cat, "
             "ns.site_name, nc.name FROM mask_health h "
             "LEFT JOIN site_cat_rel rel ON rel.id = h.fk_site_cat_rel "
             "LEFT JOIN news_config ns ON ns.id = rel.fk_news_config LEFT JOIN news_cat nc ON nc.id = rel.fk_news_cat "
             "WHERE h.id = (SELECT MAX(x.id) FROM mask_health x WHERE x.fk_site_cat_rel = h.fk_site_cat_rel)") +
         condition;
}

PairVerdict ReadVerdict(const Statement& st) {
  PairVerdict p;
  p.siteCatRel = static_cast<int>(st.Int(0));
  p.verdict.known = true;
  p.verdict.state = static_cast<PairHealth>(st.Int(1));
  p.verdict.symptom = st.Text(2);
  p.verdict.brokenSince = st.IsNull(3) ? std::string() : st.Text(3);
  p.siteId = st.Int(4);
  p.categoryId = st.Int(5);
  p.site = st.Text(6);
  p.category = st.Text(7);
  return p;
}

}  // namespace

HealthVerdict LatestHealth(Database& db, int siteCatRel) {
  Statement st(db, LatestVerdictSql(" AND h.fk_site_cat_rel = ?"));
  st.Bind(1, siteCatRel);
  return st.Next() ? ReadVerdict(st).verdict : HealthVerdict{};
}

int LatestVerdicts(Database& db, std::vector<PairVerdict>* verdicts) {
  verdicts->clear();
  if (!TableExists(db, "mask_health")) return 0;
  // A pair the catalogue no longer has is shown nowhere.
  Statement st(db, LatestVerdictSql(" AND ns.id IS NOT NULL AND nc.id IS NOT NULL"));
  while (st.Next()) verdicts->push_back(ReadVerdict(st));
  std::sort(verdicts->begin(), verdicts->end(), [](const PairVerdict& a, const PairVerdict& b) {
    return std::tie(a.site, a.category, a.siteCatRel) < std::tie(b.site, b.category, b.siteCatRel);
  });
  return st.error();
}

HealthVerdict RecordPairRun(Database& db, const PairRun& run, std::time_t now) {
  UpgradeSchema(db);
  const HealthVerdict before = LatestHealth(db, run.siteCatRel);
  bool listYielded = false, newsYielded = false;
  {
    Statement st(db,
                 "SELECT COALESCE(MAX(CASE WHEN links_found > 0 THEN 1 ELSE 0 END), 0), "
                 "COALESCE(MAX(CASE WHEN pages_walked > empty_bodies THEN 1 ELSE 0 END), 0) "
                 "FROM mask_health WHERE fk_site_cat_rel = ?");
    st.Bind(1, run.siteCatRel);
    if (st.Next()) {
      listYielded = st.Int(0) != 0;
      newsYielded = st.Int(1) != 0;
    }
  }
  const std::string stamp = FormatDbTime(now);
  HealthVerdict v;
  v.known = true;
  if (!run.listLoaded) {
    // Nothing to judge: the page did not arrive, which is the network's fault.
    v = before;
  } else if (run.linksFound == 0 && !run.feedProblem.empty()) {
    v.symptom = run.feedProblem;
    v.state = listYielded ? PairHealth::kBroken : PairHealth::kNeverWorked;
  } else if (run.linksFound == 0) {
    v.symptom = "the list mask found no link on its list page" +
                std::string(run.feedLinks > 0 ? " (links taken from the site's feed)" : "");
    v.state = listYielded ? PairHealth::kBroken : PairHealth::kNeverWorked;
  } else if (NewsMaskFailed(run)) {
    int empty = run.newsMaskEmpty ? run.pagesWalked : run.emptyBodies;
    v.symptom = "the news mask left the body empty on " + std::to_string(empty) + " of " +
                std::to_string(run.pagesWalked) + " pages";
    v.state = newsYielded ? PairHealth::kBroken : PairHealth::kNeverWorked;
  } else if (run.pagesWalked == 0 && before.known && before.state == PairHealth::kBroken &&
             before.symptom.find("news mask") != std::string::npos) {
    v = before;  // links found but none new: the news mask could not show it mends
  } else if (run.pagesWalked == 0 && !newsYielded && before.known && before.state == PairHealth::kNeverWorked) {
    v = before;
  } else {
    v.state = PairHealth::kHealthy;
  }
  if (v.state == PairHealth::kBroken)
    v.brokenSince = before.known && before.state == PairHealth::kBroken && !before.brokenSince.empty()
                        ? before.brokenSince
                        : stamp;
  else
    v.brokenSince.clear();
  Statement ins(db,
                "INSERT INTO mask_health (fk_site_cat_rel, run_time, list_loaded, links_found, feed_links, "
                "pages_walked, empty_bodies, empty_titles, items_stored, auto_items, state, symptom, broken_since) "
                "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  ins.Bind(1, run.siteCatRel).Bind(2, stamp).Bind(3, run.listLoaded ? 1 : 0).Bind(4, run.linksFound);
  ins.Bind(5, run.feedLinks).Bind(6, run.pagesWalked).Bind(7, run.newsMaskEmpty ? run.pagesWalked : run.emptyBodies);
  ins.Bind(8, run.emptyTitles).Bind(9, run.itemsStored).Bind(10, run.autoItems);
  ins.Bind(11, static_cast<int>(v.state)).Bind(12, v.symptom);
  if (v.brokenSince.empty()) ins.BindNull(13);
  else ins.Bind(13, v.brokenSince);
  if (ins.Execute() != 0) WriteEventLog("Can not record mask health: " + db.ErrorMessage());
  // Only the latest verdicts matter; keep a few runs per pair for the record.
  Statement trim(db,
                 "DELETE FROM mask_health WHERE fk_site_cat_rel = ?1 AND id NOT IN "
                 "(SELECT id FROM mask_health WHERE fk_site_cat_rel = ?1 ORDER BY id DESC LIMIT 30) "
                 "AND NOT (links_found > 0 AND id = (SELECT MAX(id) FROM mask_health WHERE fk_site_cat_rel = ?1 "
                 "AND links_found > 0)) "
                 "AND NOT (pages_walked > empty_bodies AND id = (SELECT MAX(id) FROM mask_health "
                 "WHERE fk_site_cat_rel = ?1 AND pages_walked > empty_bodies))");
  trim.Bind(1, run.siteCatRel);
  trim.Execute();
  return v;
}

int MarkAutoItem(Database& db, int64_t newsId, AutoMark how) {
  UpgradeSchema(db);
  Statement st(db, "INSERT INTO newsitem_auto (fk_newsitem, how) VALUES (?, ?) "
                   "ON CONFLICT (fk_newsitem) DO UPDATE SET how = excluded.how");
  st.Bind(1, newsId).Bind(2, static_cast<int>(how));
  return st.Execute();
}

std::string BrokenPairText(const std::string& pairName, const HealthVerdict& verdict) {
  return "Mask of " + pairName + " is broken since " + verdict.brokenSince + ": " + verdict.symptom + ".";
}

}  // namespace orvo

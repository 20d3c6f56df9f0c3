// orvo status: what the news database holds.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "settings.h"
#include "text.h"

namespace orvo::cli {

namespace {

const char* kStatusHelp =
    "Usage: orvo status [--broken] [--home DIR]\n"
    "\n"
    "Prints what the news database holds: sites, categories, the site/category\n"
    "pairs and which of them are selected for download, news items, images and\n"
    "the newest item, then one line per pair with the health of its masks:\n"
    "healthy, broken since DATE (its masks stopped yielding where they once\n"
    "did; the news come through automatic extraction meanwhile) or never\n"
    "worked.\n"
    "\n"
    "  --broken     only the broken pairs, with what went wrong\n"
    "  --home DIR   program folder (default: ORVO_HOME, else the folder of orvo, or\n"
    "               the XDG folders for an installed copy)\n";

int64_t Count(Database& db, const char* sql) {
  Statement st(db, sql);
  return st.Next() ? st.Int(0) : 0;
}

// Pads with spaces to `width` characters (not bytes), for the table.
std::string Pad(const std::string& s, size_t width) {
  size_t chars = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++chars;
  return chars >= width ? s + " " : s + std::string(width - chars, ' ');
}

bool HasTable(Database& db, const char* name) {
  Statement st(db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?");
  st.Bind(1, name);
  return st.Next() && st.Int(0) > 0;
}

// The latest verdict of a pair as the health column shows it.
std::string HealthText(bool judged, int64_t state, const std::string& since) {
  if (!judged) return "-";
  if (state == 1) return "broken since " + since;
  if (state == 2) return "never worked";
  return "healthy";
}

// The latest verdict per pair (or nothing for a database without the table).
constexpr const char* kLatestHealth =
    "SELECT h.fk_site_cat_rel AS pair, h.state AS state, COALESCE(h.broken_since, '') AS broken_since, "
    "h.symptom AS symptom FROM mask_health h "
    "WHERE h.id = (SELECT MAX(id) FROM mask_health x WHERE x.fk_site_cat_rel = h.fk_site_cat_rel)";

int ListBroken(Database& db) {
  if (!HasTable(db, "mask_health")) {
    std::printf("No broken pair: no download has judged the masks yet.\n");
    return 0;
  }
  Statement st(db, std::string("SELECT ns.site_name, nc.name, lh.broken_since, lh.symptom FROM (") + kLatestHealth +
                       ") lh JOIN site_cat_rel rel ON rel.id = lh.pair "
                       "JOIN news_config ns ON ns.id = rel.fk_news_config JOIN news_cat nc ON nc.id = rel.fk_news_cat "
                       "WHERE lh.state = 1 ORDER BY ns.site_name, nc.name");
  int n = 0;
  while (st.Next()) {
    ++n;
    std::printf("%s / %s: broken since %s: %s\n", st.Text(0).c_str(), st.Text(1).c_str(), st.Text(2).c_str(),
                st.Text(3).c_str());
  }
  if (st.error() != 0) {
    std::fprintf(stderr, "orvo status: can not read the mask health: %s\n", db.ErrorMessage().c_str());
    return 1;
  }
  if (n == 0) std::printf("No broken pair.\n");
  return 0;
}

}  // namespace

int RunStatus(const Args& input) {
  if (WantsHelp(input)) {
    std::fputs(kStatusHelp, stdout);
    return 0;
  }
  Args args = input;
  if (!TakeHome(args, "status")) return 1;
  bool brokenOnly = false;
  for (auto it = args.begin(); it != args.end();) {
    if (*it == "--broken") {
      brokenOnly = true;
      it = args.erase(it);
    } else {
      ++it;
    }
  }
  if (!args.empty()) {
    std::fprintf(stderr, "orvo status: unexpected argument '%s'\n\n%s", args[0].c_str(), kStatusHelp);
    return 2;
  }
  std::unique_ptr<Database> db;
  if (int rc = OpenNewsDatabase("status", &db)) return rc;
  if (brokenOnly) return ListBroken(*db);

  std::printf("ORVO files: %s\n", DescribeHomeFolders(ResolveHomeFolders()).c_str());
  std::printf("News database: %s\n", db->backend() == Database::Backend::kSqlite
                                         ? db->path().c_str()
                                         : db->Describe().c_str());
  std::printf("Sites: %lld, categories: %lld, site/category pairs: %lld (%lld selected)\n",
              static_cast<long long>(Count(*db, "SELECT COUNT(*) FROM news_config")),
              static_cast<long long>(Count(*db, "SELECT COUNT(*) FROM news_cat")),
              static_cast<long long>(Count(*db, "SELECT COUNT(*) FROM site_cat_rel")),
              static_cast<long long>(Count(*db, "SELECT COUNT(*) FROM site_cat_rel WHERE is_selected <> 0")));
  std::printf("News items: %lld (%lld unread, %lld deleted), images: %lld\n",
              static_cast<long long>(Count(*db, "SELECT COUNT(*) FROM newsitem")),
              static_cast<long long>(Count(*db, "SELECT COUNT(*) FROM newsitem WHERE is_read = 0 AND is_del = 0")),
              static_cast<long long>(Count(*db, "SELECT COUNT(*) FROM newsitem WHERE is_del <> 0")),
              static_cast<long long>(Count(*db, "SELECT COUNT(*) FROM newsimages")));
  {
    Statement newest(*db,
                     "SELECT ni.publication_date, ni.title, ns.site_name, nc.name FROM newsitem ni "
                     "LEFT JOIN site_cat_rel rel ON rel.id = ni.fk_site_cat_rel "
                     "LEFT JOIN news_config ns ON ns.id = rel.fk_news_config "
                     "LEFT JOIN news_cat nc ON nc.id = rel.fk_news_cat "
                     "WHERE ni.is_del = 0 ORDER BY ni.publication_date DESC, ni.id DESC LIMIT 1");
    if (newest.Next())
      std::printf("Newest item: %s  %s (%s / %s)\n", newest.Text(0).c_str(), newest.Text(1).c_str(),
                  newest.Text(2).c_str(), newest.Text(3).c_str());
    else
      std::printf("Newest item: none yet\n");
  }

  const bool withHealth = HasTable(*db, "mask_health");
  const bool withOwn = HasTable(*db, "own_site");
  Statement pairs(
      *db, std::string("SELECT ns.site_name, nc.name, rel.is_selected, "
                       "(SELECT COUNT(*) FROM newsitem ni WHERE ni.fk_site_cat_rel = rel.id AND ni.is_del = 0), "
                       "(SELECT MAX(ni.publication_date) FROM newsitem ni WHERE ni.fk_site_cat_rel = rel.id), "
                       "(SELECT COUNT(*) FROM news_masks nm WHERE nm.fk_site_cat_rel = rel.id AND nm.mask_version > 0 "
                       "AND nm.mask <> ''), ") +
               (withOwn ? "EXISTS (SELECT 1 FROM own_site o WHERE o.fk_site_cat_rel = rel.id), " : "0, ") +
               (withHealth ? "lh.pair IS NOT NULL, lh.state, lh.broken_since " : "0, 0, '' ") +
               "FROM site_cat_rel rel JOIN news_config ns ON ns.id = rel.fk_news_config "
               "JOIN news_cat nc ON nc.id = rel.fk_news_cat " +
               (withHealth ? std::string("LEFT JOIN (") + kLatestHealth + ") lh ON lh.pair = rel.id " : std::string()) +
               "ORDER BY ns.site_name, nc.name");
  struct Row {
    std::string name, selected, items, newest, masks, health;
  };
  std::vector<Row> rows;
  size_t width = 20;
  while (pairs.Next()) {
    Row r{pairs.Text(0) + " / " + pairs.Text(1),
          pairs.Int(2) ? "yes" : "no",
          std::to_string(pairs.Int(3)),
          pairs.IsNull(4) ? "-" : pairs.Text(4),
          pairs.Int(6) != 0   ? "own feed"
          : pairs.Int(5) == 2 ? "ready"
                              : "not yet fetched",
          HealthText(pairs.Int(7) != 0, pairs.Int(8), pairs.Text(9))};
    size_t chars = 0;
    for (unsigned char c : r.name)
      if ((c & 0xC0) != 0x80) ++chars;
    width = std::max(width, chars + 2);
    rows.push_back(r);
  }
  if (rows.empty()) {
    std::printf(
        "\nNo site/category pair yet: add your own with orvo site add URL, or run orvo download once to "
        "fetch\nthe catalogue of the updates server.\n");
    return 0;
  }
  std::printf("\n%sselected  items  newest item          masks            health\n",
              Pad("Site / category", width).c_str());
  for (const auto& r : rows)
    std::printf("%s%s%s%s%s%s\n", Pad(r.name, width).c_str(), Pad(r.selected, 10).c_str(), Pad(r.items, 7).c_str(),
                Pad(r.newest, 21).c_str(), Pad(r.masks, 17).c_str(), r.health.c_str());
  if (withOwn) {
    // An own site never merges with the catalogue's site of that name.
    Statement same(*db,
                   "SELECT DISTINCT ns.site_name FROM news_config ns WHERE ns.id IN (SELECT rel.fk_news_config FROM "
                   "site_cat_rel rel JOIN own_site o ON o.fk_site_cat_rel = rel.id WHERE o.removed = 0) AND EXISTS "
                   "(SELECT 1 FROM news_config c WHERE c.site_name = ns.site_name AND c.id NOT IN (SELECT "
                   "rel.fk_news_config FROM site_cat_rel rel JOIN own_site o ON o.fk_site_cat_rel = rel.id)) "
                   "ORDER BY ns.site_name");
    while (same.Next())
      std::printf("Your own site %s is kept apart from the catalogue's site of the same name.\n", same.Text(0).c_str());
  }
  return 0;
}

}  // namespace orvo::cli

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
    "Usage: orvo status [--home DIR]\n"
    "\n"
    "Prints what the news database holds: sites, categories, the site/category\n"
    "pairs and which of them are selected for download, news items, images and\n"
    "the newest item, then one line per pair.\n"
    "\n"
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

}  // namespace

int RunStatus(const Args& input) {
  if (WantsHelp(input)) {
    std::fputs(kStatusHelp, stdout);
    return 0;
  }
  Args args = input;
  if (!TakeHome(args, "status")) return 1;
  if (!args.empty()) {
    std::fprintf(stderr, "orvo status: unexpected argument '%s'\n\n%s", args[0].c_str(), kStatusHelp);
    return 2;
  }
  std::unique_ptr<Database> db;
  if (int rc = OpenNewsDatabase("status", &db)) return rc;

  std::printf("ORVO files: %s\n", DescribeHomeFolders(ResolveHomeFolders()).c_str());
  std::printf("News database: %s\n", db->path().c_str());
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

  Statement pairs(*db,
                  "SELECT ns.site_name, nc.name, rel.is_selected, "
                  "(SELECT COUNT(*) FROM newsitem ni WHERE ni.fk_site_cat_rel = rel.id AND ni.is_del = 0), "
                  "(SELECT MAX(ni.publication_date) FROM newsitem ni WHERE ni.fk_site_cat_rel = rel.id), "
                  "(SELECT COUNT(*) FROM news_masks nm WHERE nm.fk_site_cat_rel = rel.id AND nm.mask_version > 0 "
                  "AND nm.mask <> '') "
                  "FROM site_cat_rel rel JOIN news_config ns ON ns.id = rel.fk_news_config "
                  "JOIN news_cat nc ON nc.id = rel.fk_news_cat ORDER BY ns.site_name, nc.name");
  struct Row {
    std::string name, selected, items, newest, masks;
  };
  std::vector<Row> rows;
  size_t width = 20;
  while (pairs.Next()) {
    Row r{pairs.Text(0) + " / " + pairs.Text(1), pairs.Int(2) ? "yes" : "no", std::to_string(pairs.Int(3)),
          pairs.IsNull(4) ? "-" : pairs.Text(4), pairs.Int(5) == 2 ? "ready" : "not yet fetched"};
    size_t chars = 0;
    for (unsigned char c : r.name)
      if ((c & 0xC0) != 0x80) ++chars;
    width = std::max(width, chars + 2);
    rows.push_back(r);
  }
  if (rows.empty()) {
    std::printf("\nNo site/category pair yet: run orvo download once to fetch the catalogue of the updates server.\n");
    return 0;
  }
  std::printf("\n%sselected  items  newest item          masks\n", Pad("Site / category", width).c_str());
  for (const auto& r : rows)
    std::printf("%s%s%s%s%s\n", Pad(r.name, width).c_str(), Pad(r.selected, 10).c_str(), Pad(r.items, 7).c_str(),
                Pad(r.newest, 21).c_str(), r.masks.c_str());
  return 0;
}

}  // namespace orvo::cli

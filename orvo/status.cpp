// orvo status: what the news database holds.
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "settings.h"
#include "store/mask_health.h"
#include "store/pairs.h"
#include "store/schema.h"
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

// Pads with spaces to `width` characters (not bytes), for the table.
std::string Pad(const std::string& s, size_t width) {
  size_t chars = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++chars;
  return chars >= width ? s + " " : s + std::string(width - chars, ' ');
}

// The latest verdict of a pair as the health column shows it.
std::string HealthText(const HealthVerdict& v) {
  if (!v.known) return "-";
  if (v.state == PairHealth::kBroken) return "broken since " + v.brokenSince;
  if (v.state == PairHealth::kNeverWorked) return "never worked";
  return "healthy";
}

int ListBroken(Database& db) {
  if (!TableExists(db, "mask_health")) {
    std::printf("No broken pair: no download has judged the masks yet.\n");
    return 0;
  }
  std::vector<PairVerdict> verdicts;
  if (LatestVerdicts(db, &verdicts) != 0) {
    std::fprintf(stderr, "orvo status: can not read the mask health: %s\n", db.ErrorMessage().c_str());
    return 1;
  }
  int n = 0;
  for (const PairVerdict& p : verdicts) {
    if (p.verdict.state != PairHealth::kBroken) continue;
    ++n;
    std::printf("%s / %s: broken since %s: %s\n", p.site.c_str(), p.category.c_str(), p.verdict.brokenSince.c_str(),
                p.verdict.symptom.c_str());
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
  const NewsCounts counts = CountNews(*db);
  std::printf("Sites: %lld, categories: %lld, site/category pairs: %lld (%lld selected)\n",
              static_cast<long long>(counts.sites), static_cast<long long>(counts.categories),
              static_cast<long long>(counts.pairs), static_cast<long long>(counts.selectedPairs));
  std::printf("News items: %lld (%lld unread, %lld deleted), images: %lld\n", static_cast<long long>(counts.items),
              static_cast<long long>(counts.unreadItems), static_cast<long long>(counts.deletedItems),
              static_cast<long long>(counts.images));
  if (std::optional<NewestItem> newest = ReadNewestItem(*db))
    std::printf("Newest item: %s  %s (%s / %s)\n", newest->publicationDate.c_str(), newest->title.c_str(),
                newest->site.c_str(), newest->category.c_str());
  else
    std::printf("Newest item: none yet\n");

  std::map<int64_t, HealthVerdict> health;
  std::vector<PairVerdict> verdicts;
  LatestVerdicts(*db, &verdicts);
  for (const PairVerdict& p : verdicts) health[p.siteCatRel] = p.verdict;
  struct Row {
    std::string name, selected, items, newest, masks, health;
  };
  std::vector<Row> rows;
  size_t width = 20;
  for (const PairSummary& p : SummarisePairs(*db)) {
    Row r{p.pair.site + " / " + p.pair.category,
          p.pair.selected ? "yes" : "no",
          std::to_string(p.liveItems),
          p.newest.empty() ? "-" : p.newest,
          p.ownFeed                ? "own feed"
          : p.usableMasks == 2     ? "ready"
                                   : "not yet fetched",
          HealthText(health[p.pair.id])};
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
  // An own site never merges with the catalogue's site of that name.
  for (const std::string& site : OwnSitesNamedLikeCatalogueSites(*db))
    std::printf("Your own site %s is kept apart from the catalogue's site of the same name.\n", site.c_str());
  return 0;
}

}  // namespace orvo::cli

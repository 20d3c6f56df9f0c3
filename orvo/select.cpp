// orvo select: which site/category pairs a download visits. A new database
// has none selected, and the catalogue only arrives with the first download.
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "commands.h"
#include "text.h"

namespace orvo::cli {

namespace {

const char* kSelectHelp =
    "Usage: orvo select [--home DIR] [--only] SITE[/CATEGORY]...\n"
    "       orvo select [--home DIR] --all | --none\n"
    "       orvo select [--home DIR] --off SITE[/CATEGORY]...\n"
    "       orvo select [--home DIR]\n"
    "\n"
    "Chooses the site/category pairs that orvo download (and every scheduled\n"
    "download) visits. A SITE alone stands for all of its categories; letter\n"
    "case is ignored when no name matches exactly. Without arguments, lists the\n"
    "pairs, selected ones marked [x].\n"
    "\n"
    "  --all    select every pair        --none   select no pair\n"
    "  --only   select the pairs named and unselect all others\n"
    "  --off    unselect the pairs named\n"
    "  --home DIR   program folder (default: ORVO_HOME, else the folder of orvo, or\n"
    "               the XDG folders for an installed copy)\n"
    "\n"
    "The pairs come from the updates server's catalogue, fetched at the start of\n"
    "every download: on a new database run orvo download once first.\n";

// Exit code when the database knows no pair yet (scripts run a download then).
constexpr int kNoPairsYet = 3;

void List(const std::vector<Pair>& pairs) {
  for (const auto& p : pairs) std::printf("[%c] %s/%s\n", p.selected ? 'x' : ' ', p.site.c_str(), p.category.c_str());
}

}  // namespace

int RunSelect(const Args& input) {
  if (WantsHelp(input)) {
    std::fputs(kSelectHelp, stdout);
    return 0;
  }
  Args args = input;
  if (!TakeHome(args, "select")) return 1;
  bool all = false, none = false, only = false, off = false;
  Args names;
  for (const auto& a : args) {
    if (a == "--all") all = true;
    else if (a == "--none") none = true;
    else if (a == "--only") only = true;
    else if (a == "--off") off = true;
    else if (a.size() > 1 && a.rfind("--", 0) == 0) {
      std::fprintf(stderr, "orvo select: unknown option '%s'\n\n%s", a.c_str(), kSelectHelp);
      return 2;
    } else names.push_back(a);
  }
  if ((all || none) && (!names.empty() || only || off || (all && none))) {
    std::fprintf(stderr, "orvo select: --all and --none take no names and no other option\n");
    return 2;
  }
  if ((only || off) && (names.empty() || (only && off))) {
    std::fprintf(stderr, "orvo select: %s wants the names of pairs\n", off ? "--off" : "--only");
    return 2;
  }

  std::unique_ptr<Database> db;
  if (int rc = OpenNewsDatabase("select", &db)) return rc;
  std::vector<Pair> pairs = ReadSitePairs(*db);
  if (pairs.empty()) {
    std::fprintf(stderr,
                 "orvo select: the database knows no site yet. Run orvo download once to fetch the catalogue of the "
                 "updates server, then select.\n");
    return kNoPairsYet;
  }
  if (!all && !none && names.empty()) {
    List(pairs);
    return 0;
  }

  // Every name is checked before anything changes.
  std::set<int64_t> named;
  for (const auto& n : names) {
    std::vector<int64_t> ids = Resolve(pairs, n);
    if (ids.empty()) {
      std::fprintf(stderr, "orvo select: no site or site/category is named \"%s\". The database knows:\n", n.c_str());
      for (const auto& p : pairs) std::fprintf(stderr, "  %s/%s\n", p.site.c_str(), p.category.c_str());
      return 1;
    }
    named.insert(ids.begin(), ids.end());
  }

  // Both selections change in one transaction: all or nothing.
  std::vector<PairKey> on, offKeys;
  for (auto& p : pairs) {
    bool want = p.selected;
    if (all) want = true;
    else if (none) want = false;
    else if (off) want = named.count(p.id) ? false : p.selected;
    else if (only) want = named.count(p.id) > 0;
    else want = named.count(p.id) ? true : p.selected;
    if (want == p.selected) continue;
    (want ? on : offKeys).push_back(PairKey{static_cast<int32_t>(p.categoryId), static_cast<int32_t>(p.siteId)});
    p.selected = want;
  }
  const int changed = static_cast<int>(on.size() + offKeys.size());
  Transaction tx(*db);
  int rc = tx.status();
  if (rc == 0 && !on.empty()) rc = SelectPairs(*db, on, true);
  if (rc == 0 && !offKeys.empty()) rc = SelectPairs(*db, offKeys, false);
  if (rc == 0) rc = tx.Commit();
  if (rc != 0) {
    std::fprintf(stderr, "orvo select: the database refused the change (code %s: %s); nothing was changed\n",
                 HexCode(rc).c_str(), db->ErrorMessage().c_str());
    return 1;
  }
  size_t selected = 0;
  for (const auto& p : pairs) selected += p.selected;
  std::printf("%d %s changed; %zu of %zu site/category pairs are selected.\n", changed,
              changed == 1 ? "pair" : "pairs", selected, pairs.size());
  return 0;
}

}  // namespace orvo::cli

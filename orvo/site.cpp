// orvo site: the user's own sites and feeds, beside the updates server's
// catalogue: add (with discovery), list, remove, rename, OPML import/export.
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "commands.h"
#include "feed_fetch.h"
#include "http_client.h"
#include "opml.h"
#include "store/own_sites.h"
#include "store/schema.h"
#include "platform.h"
#include "settings.h"
#include "text.h"

namespace orvo::cli {

namespace {

const char* kSiteHelp =
    "Usage: orvo site add URL [--site NAME] [--category NAME] [--feed N] [--dry-run] [--home DIR]\n"
    "       orvo site list [--home DIR]\n"
    "       orvo site remove SITE[/CATEGORY] [--with-news] [--home DIR]\n"
    "       orvo site rename SITE[/CATEGORY] NEW-SITE[/NEW-CATEGORY] [--home DIR]\n"
    "       orvo site import FILE.opml [--home DIR]\n"
    "       orvo site export [FILE] [--home DIR]\n"
    "\n"
    "Your own sites: any site or feed, downloaded with the catalogue's sites (or\n"
    "alone, when no updates server is set). They need automatic extraction\n"
    "(AutoExtract=1, the default).\n"
    "\n"
    "  add      URL is a feed (RSS or Atom) or a page that advertises one; a page\n"
    "           that advertises none is tried at /feed, /rss, /atom.xml,\n"
    "           /index.xml and /feed.xml. Prints what it found and stores it as\n"
    "           a selected site/category pair. --site names the site (default:\n"
    "           the feed's title), --category the category (default: News),\n"
    "           --feed N takes the Nth of the feeds a page advertises;\n"
    "           --dry-run prints what it finds and stores nothing.\n"
    "  list     the own pairs with their feeds\n"
    "  remove   a site (all its categories) or one pair; its news stay unless\n"
    "           --with-news\n"
    "  rename   a site, or with /CATEGORY one pair's category\n"
    "  import   the feeds of an OPML file (folders become categories); feeds\n"
    "           already there are skipped; all or nothing\n"
    "  export   the own feeds as OPML 2.0, to FILE or standard output\n"
    "  --home DIR   program folder (default: ORVO_HOME, else the folder of orvo, or\n"
    "               the XDG folders for an installed copy)\n";

int Usage(const char* what) {
  std::fprintf(stderr, "orvo site: %s\n\n%s", what, kSiteHelp);
  return 2;
}

int Timeout() {
  const int t = Settings::Shared().ReadInt(kDownloadSection, "ConnectTimeout", 0);
  return t <= 0 || t > 300 ? 60 : t;
}

int Add(Args args) {
  const bool dryRun = TakeFlag(args, "--dry-run");
  std::string site, category = "News", feedText;
  TakeOption(args, "--site", &site);
  TakeOption(args, "--category", &category);
  size_t feedIndex = 0;
  if (TakeOption(args, "--feed", &feedText)) {
    const int n = std::atoi(feedText.c_str());
    if (n < 1) return Usage("--feed takes a number from 1");
    feedIndex = static_cast<size_t>(n - 1);
  }
  if (args.size() != 1) return Usage("add takes one address");
  std::unique_ptr<Database> db;
  if (int rc = OpenNewsDatabase("site", &db)) return rc;

  HttpSession http;
  http.SetTimeoutSeconds(Timeout());
  std::printf("Looking at %s ...\n", NormalizeAddress(args[0]).c_str());
  std::fflush(stdout);
  Discovery d = Discover(http, args[0], feedIndex, Timeout());
  if (d.feeds.size() > 1) {
    std::printf("The page advertises %zu feeds (--feed N takes another):\n", d.feeds.size());
    for (size_t i = 0; i < d.feeds.size(); ++i)
      std::printf("  %zu. %s%s\n", i + 1, d.feeds[i].c_str(), i == feedIndex ? "  <- taken" : "");
  }
  if (!d.ok) {
    std::fprintf(stderr, "orvo site: %s\n", d.error.c_str());
    return 1;
  }
  const ParsedFeed& feed = d.feed;
  std::printf("Found the feed \"%s\" (%s, %zu entries): %s\n", feed.title.c_str(), feed.format.c_str(),
              feed.entries.size(), d.feedUrl.c_str());
  for (size_t i = 0; i < feed.entries.size() && i < 3; ++i)
    std::printf("  %zu. %s\n", i + 1,
                feed.entries[i].title.empty() ? feed.entries[i].address.c_str() : feed.entries[i].title.c_str());
  if (feed.skipped > 0) std::printf("  (%d entries without a usable link are passed over)\n", feed.skipped);
  PreviewFirstEntry(http, d);
  if (!feed.entries.empty()) {
    if (d.previewError.empty())
      std::printf("Automatic extraction of the first: \"%s\": %s\n", d.previewTitle.c_str(), d.previewText.c_str());
    else
      std::printf("Automatic extraction of the first: %s; the feed's own text is stored instead.\n",
                  d.previewError.c_str());
  }
  if (dryRun) return 0;
  OwnSite own;
  own.site = site.empty() ? (feed.title.empty() ? HttpOrigin(d.feedUrl) : feed.title) : site;
  own.category = category;
  own.address = d.feedUrl;
  own.kind = d.kind;
  own.pageUrl = d.pageUrl;
  own.feedTitle = feed.title;
  std::string why;
  if (!AddOwnSite(*db, own, std::time(nullptr), &why)) {
    std::fprintf(stderr, "orvo site: nothing stored: %s.\n", why.c_str());
    return 1;
  }
  std::printf("Added %s/%s (selected). Its news come with the next download: orvo download\n", own.site.c_str(),
              own.category.c_str());
  if (Settings::Shared().ReadInt(kDownloadSection, "AutoExtract", 1) == 0)
    std::printf(
        "Note: automatic extraction is off (AutoExtract=0), so own sites are not downloaded; turn it on with:"
        " orvo config Download AutoExtract 1\n");
  return 0;
}

int List(Database& db) {
  std::vector<OwnSite> sites = ListOwnSites(db);
  if (sites.empty()) {
    std::printf("No own site yet: add one with orvo site add URL\n");
    return 0;
  }
  for (const OwnSite& s : sites)
    std::printf("[%c] %s/%s  %s  (%s, added %s)\n", s.selected ? 'x' : ' ', s.site.c_str(), s.category.c_str(),
                s.address.c_str(), s.kind == OwnKind::kFeed ? "feed" : "found on its page", s.added.c_str());
  return 0;
}

int Remove(Database& db, Args args) {
  const bool withNews = TakeFlag(args, "--with-news");
  if (args.size() != 1) return Usage("remove takes SITE or SITE/CATEGORY");
  std::vector<OwnSite> found = FindOwnSites(db, args[0]);
  if (found.empty()) {
    std::fprintf(stderr, "orvo site: no own site is named '%s'; orvo site list shows them\n", args[0].c_str());
    return 1;
  }
  for (const OwnSite& s : found) {
    if (int rc = RemoveOwnSite(db, s.pair, withNews); rc != 0) {
      std::fprintf(stderr, "orvo site: can not remove %s/%s: %s\n", s.site.c_str(), s.category.c_str(),
                   db.ErrorMessage().c_str());
      return 1;
    }
    std::printf("Removed %s/%s%s\n", s.site.c_str(), s.category.c_str(),
                withNews ? ", with its news" : "; its news stay until they are deleted");
  }
  return 0;
}

int Rename(Database& db, const Args& args) {
  if (args.size() != 2) return Usage("rename takes the old and the new name");
  std::vector<OwnSite> found = FindOwnSites(db, args[0]);
  if (found.empty()) {
    std::fprintf(stderr, "orvo site: no own site is named '%s'; orvo site list shows them\n", args[0].c_str());
    return 1;
  }
  // "SITE/CATEGORY" names one pair, whose category may change too.
  const bool onePair = EqualsNoCase(found[0].site + "/" + found[0].category, args[0]);
  std::string site = args[1], category;
  if (onePair) {
    const size_t slash = args[1].rfind('/');
    if (slash != std::string::npos) {
      site = args[1].substr(0, slash);
      category = args[1].substr(slash + 1);
    }
  }
  std::string why;
  if (!RenameOwnSite(db, found[0], site, category, &why)) {
    std::fprintf(stderr, "orvo site: can not rename: %s\n", why.c_str());
    return 1;
  }
  std::printf("Renamed %s to %s\n", args[0].c_str(), args[1].c_str());
  return 0;
}

int Import(Database& db, const Args& args) {
  if (args.size() != 1) return Usage("import takes one OPML file");
  OpmlImport result = ImportOpmlFile(db, args[0], std::time(nullptr));
  if (!result.ok) {
    std::fprintf(stderr, "orvo site: %s Nothing was stored.\n", result.error.c_str());
    return 1;
  }
  std::printf("Imported %d feeds from %s; %d already there were skipped.\n", result.added, args[0].c_str(),
              result.skipped);
  return 0;
}

int Export(Database& db, const Args& args) {
  if (args.size() > 1) return Usage("export takes at most one file");
  const std::string opml = ExportOpml(db);
  if (args.empty()) {
    std::fputs(opml.c_str(), stdout);
    return 0;
  }
  std::string error;
  if (!WriteFileAtomically(args[0], opml, &error)) {
    std::fprintf(stderr, "orvo site: can not write %s: %s\n", args[0].c_str(), error.c_str());
    return 1;
  }
  std::printf("Wrote %zu own feeds to %s\n", ListOwnSites(db).size(), args[0].c_str());
  return 0;
}

}  // namespace

int RunSite(const Args& input) {
  if (WantsHelp(input) || input.empty()) {
    std::fputs(kSiteHelp, input.empty() ? stderr : stdout);
    return input.empty() ? 2 : 0;
  }
  Args args = input;
  if (!TakeHome(args, "site")) return 1;
  if (args.empty()) return Usage("which action?");
  const std::string action = args[0];
  args.erase(args.begin());
  if (action == "add") return Add(args);
  std::unique_ptr<Database> db;
  if (action != "list" && action != "remove" && action != "rename" && action != "import" && action != "export")
    return Usage(("unknown action '" + action + "'").c_str());
  if (int rc = OpenNewsDatabase("site", &db)) return rc;
  UpgradeSchema(*db);
  if (action == "list") return args.empty() ? List(*db) : Usage("list takes no argument");
  if (action == "remove") return Remove(*db, args);
  if (action == "rename") return Rename(*db, args);
  if (action == "import") return Import(*db, args);
  return Export(*db, args);
}

}  // namespace orvo::cli

// orvo filter: the reader's saved filters from the command line, written
// through the same database manager as the reader's filter editor, so that
// a filter made here is the filter the reader shows (and the other way round).
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "commands.h"
#include "like.h"
#include "text.h"
#include "vaultmap/dbmanager.h"

namespace orvo::cli {

namespace {

const char* kFilterHelp =
    "Usage: orvo filter [--home DIR] list\n"
    "       orvo filter [--home DIR] add NAME [OPTIONS]\n"
    "       orvo filter [--home DIR] edit NAME|ID [--name NEW] [OPTIONS]\n"
    "       orvo filter [--home DIR] remove NAME|ID\n"
    "\n"
    "The news filters the reader keeps (Search > Filters): keywords and how they\n"
    "are searched, a time restriction, the site/category pairs they look at, and\n"
    "whether they also feed the eBooks (orvo generate, the eBook schedule).\n"
    "edit changes only what its options name.\n"
    "\n"
    "  --keywords WORDS         words separated by blanks (\"\" for none)\n"
    "  --mode all|any|phrase    every word, any word, or the words as one phrase\n"
    "                           (default all)\n"
    "  --exclude | --include    drop the news that match, or keep them (default)\n"
    "  --from DATE --to DATE    only news published from DATE to DATE (YYYY-MM-DD)\n"
    "  --last D[:H[:M]]         only news of the last D days, H hours, M minutes\n"
    "                           (at most 100 days, 23 hours, 59 minutes)\n"
    "  --any-time               no time restriction (default)\n"
    "  --sites all|SITE[/CATEGORY][,...]\n"
    "                           the pairs looked at (default all; may be repeated)\n"
    "  --ebook on|off           use the filter in eBook generation (default off)\n"
    "  --home DIR               program folder (default: ORVO_HOME, else the folder\n"
    "                           of orvo, or the XDG folders for an installed copy)\n"
    "\n"
    "For example, every news of the last two days, in the eBooks:\n"
    "  orvo filter add \"Two days\" --last 2 --ebook on\n";

const char* kModeNames[] = {"all", "any", "phrase"};

// The options of add and edit; unset ones leave the filter as it is.
struct FilterChange {
  std::optional<std::string> name, keywords;
  std::optional<int> mode;       // 0 all, 1 any, 2 phrase
  std::optional<bool> excluding;
  std::optional<int> timeKind;   // 0 none, 1 dates, 2 period
  std::time_t from = 0, to = 0;
  int days = 0, hours = 0, minutes = 0;
  std::optional<std::vector<std::string>> sites;  // empty: all
  std::optional<bool> ebook;
};

int Usage(const std::string& message) {
  std::fprintf(stderr, "orvo filter: %s\n\n%s", message.c_str(), kFilterHelp);
  return 2;
}

// A date "YYYY-MM-DD" as local midnight, as the reader's date fields store it.
bool ParseDate(const std::string& text, std::time_t* out) {
  int y = 0, m = 0, d = 0;
  char end = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &end) != 3) return false;
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = m - 1;
  tm.tm_mday = d;
  tm.tm_isdst = -1;
  std::time_t t = std::mktime(&tm);
  if (t == -1 || tm.tm_year != y - 1900 || tm.tm_mon != m - 1 || tm.tm_mday != d) return false;
  *out = t;
  return true;
}

bool ParseNumber(const std::string& text, int max, int* out) {
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  *out = std::atoi(text.c_str());
  return *out <= max;
}

// "D[:H[:M]]" within the reader's bounds.
bool ParsePeriod(const std::string& text, FilterChange* c) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1)
    parts.push_back(text.substr(start, colon - start));
  parts.push_back(text.substr(start));
  if (parts.size() > 3) return false;
  c->hours = c->minutes = 0;
  if (!ParseNumber(parts[0], 100, &c->days)) return false;
  if (parts.size() > 1 && !ParseNumber(parts[1], 23, &c->hours)) return false;
  if (parts.size() > 2 && !ParseNumber(parts[2], 59, &c->minutes)) return false;
  return true;
}

// Reads the options of add and edit; 0, or the exit code after a message.
int ParseChange(Args& args, bool editing, FilterChange* c) {
  std::string value;
  if (editing && TakeOption(args, "--name", &value)) {
    if (Trim(value).empty()) return Usage("--name wants a name");
    c->name = value;
  }
  if (TakeOption(args, "--keywords", &value)) c->keywords = value;
  if (TakeOption(args, "--mode", &value)) {
    for (int m = 0; m < 3; ++m)
      if (EqualsNoCase(value, kModeNames[m])) c->mode = m;
    if (!c->mode) return Usage("--mode takes all, any or phrase, not '" + value + "'");
  }
  std::string from, to, last;
  const bool hasFrom = TakeOption(args, "--from", &from), hasTo = TakeOption(args, "--to", &to);
  const bool hasLast = TakeOption(args, "--last", &last);
  std::string ebook;
  if (TakeOption(args, "--ebook", &ebook)) {
    if (ebook == "on" || ebook == "1" || ebook == "yes") c->ebook = true;
    else if (ebook == "off" || ebook == "0" || ebook == "no") c->ebook = false;
    else return Usage("--ebook takes on or off, not '" + ebook + "'");
  }
  while (TakeOption(args, "--sites", &value)) {
    if (!c->sites) c->sites.emplace();
    size_t start = 0;
    for (size_t comma;; start = comma + 1) {
      comma = value.find(',', start);
      std::string name = Trim(value.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
      if (!name.empty() && !EqualsNoCase(name, "all")) c->sites->push_back(name);
      if (comma == std::string::npos) break;
    }
  }
  bool anyTime = false;
  for (auto it = args.begin(); it != args.end();) {
    if (*it == "--exclude" || *it == "--include") {
      c->excluding = *it == "--exclude";
      it = args.erase(it);
    } else if (*it == "--any-time") {
      anyTime = true;
      it = args.erase(it);
    } else {
      ++it;
    }
  }
  if (int(hasFrom || hasTo) + int(hasLast) + int(anyTime) > 1)
    return Usage("give one time restriction: --from and --to, --last, or --any-time");
  if (hasFrom != hasTo) return Usage("--from and --to go together");
  if (hasFrom) {
    if (!ParseDate(from, &c->from)) return Usage("--from wants a date as YYYY-MM-DD, not '" + from + "'");
    if (!ParseDate(to, &c->to)) return Usage("--to wants a date as YYYY-MM-DD, not '" + to + "'");
    if (c->to < c->from) return Usage("--to " + to + " is before --from " + from);
    c->timeKind = 1;
  } else if (hasLast) {
    if (!ParsePeriod(last, c))
      return Usage("--last wants DAYS[:HOURS[:MINUTES]] (at most 100:23:59), not '" + last + "'");
    c->timeKind = 2;
  } else if (anyTime) {
    c->timeKind = 0;
  }
  for (const std::string& a : args)
    if (a.rfind("--", 0) == 0) return Usage("unknown option '" + a + "'");
  return 0;
}

struct Link {
  int32_t categoryId, siteId;
  bool operator<(const Link& o) const { return std::tie(categoryId, siteId) < std::tie(o.categoryId, o.siteId); }
};

// The pairs `names` stand for (all pairs for none); false after a message.
bool ResolveSites(const std::vector<Pair>& pairs, const std::vector<std::string>& names, std::vector<Link>* links) {
  std::set<int64_t> ids;
  for (const std::string& n : names) {
    std::vector<int64_t> found = Resolve(pairs, n);
    if (found.empty()) {
      std::fprintf(stderr, "orvo filter: no site or site/category is named \"%s\". The database knows:\n", n.c_str());
      for (const auto& p : pairs) std::fprintf(stderr, "  %s/%s\n", p.site.c_str(), p.category.c_str());
      return false;
    }
    ids.insert(found.begin(), found.end());
  }
  links->clear();
  for (const Pair& p : pairs)
    if (names.empty() || ids.count(p.id))
      links->push_back(Link{static_cast<int32_t>(p.categoryId), static_cast<int32_t>(p.siteId)});
  return true;
}

struct Named {
  int32_t id;
  std::string name;
};

std::vector<Named> AllFilters(CDBManager& dbm) {
  std::vector<Named> all;
  if (dbm.BeginFilterListItemEnum()) {
    while (const CFilterListItemStruct* f = dbm.EnumNextFilterListItem()) all.push_back(Named{f->id, f->name});
    dbm.EndFilterListItemEnum();
  }
  return all;
}

// The filter a name or an id stands for; -1 after a message.
int32_t FindFilter(CDBManager& dbm, const std::string& key) {
  std::vector<Named> all = AllFilters(dbm);
  for (bool exact : {true, false}) {
    std::vector<int32_t> found;
    for (const Named& f : all)
      if (exact ? f.name == key : EqualsNoCase(f.name, key)) found.push_back(f.id);
    if (found.size() == 1) return found[0];
    if (found.size() > 1) {
      std::fprintf(stderr, "orvo filter: %zu filters are named \"%s\"; name one by its id:", found.size(), key.c_str());
      for (int32_t id : found) std::fprintf(stderr, " %d", id);
      std::fprintf(stderr, "\n");
      return -1;
    }
  }
  if (!key.empty() && key.find_first_not_of("0123456789") == std::string::npos)
    for (const Named& f : all)
      if (std::to_string(f.id) == key) return f.id;
  std::fprintf(stderr, "orvo filter: no filter is named \"%s\"; orvo filter list shows them\n", key.c_str());
  return -1;
}

std::vector<Link> CurrentLinks(CDBManager& dbm, int32_t id) {
  std::vector<Link> links;
  if (dbm.BeginFilterSiteCatRelEnum(id)) {
    while (const CFilterSiteCatRelStruct* l = dbm.EnumNextFilterSiteCatRel())
      links.push_back(Link{l->categoryId, l->siteId});
    dbm.EndFilterSiteCatRelEnum();
  }
  return links;
}

std::string DescribeTime(const CFilterStruct& f) {
  if (f.timeKind == 1) return FormatLocalTime(f.from, "%Y-%m-%d") + " to " + FormatLocalTime(f.to, "%Y-%m-%d");
  if (f.timeKind == 2)
    return "the last " + std::to_string(f.days) + " days " + std::to_string(f.hours) + " hours " +
           std::to_string(f.minutes) + " minutes";
  return "any time";
}

int List(CDBManager& dbm, const std::vector<Pair>& pairs) {
  std::vector<Named> all = AllFilters(dbm);
  if (all.empty()) {
    std::printf("No filter yet; make one with: orvo filter add NAME --ebook on\n");
    return 0;
  }
  for (const Named& n : all) {
    const CFilterStruct* f = dbm.FetchFilter(n.id);
    if (!f) continue;
    const CFilterStruct copy = *f;
    const int mode = copy.searchMode;
    std::string search = mode >= 0 && mode <= 5 ? std::string(kModeNames[mode % 3]) + (mode > 2 ? ", exclude" : "")
                                                : "none (mode " + std::to_string(mode) + ")";
    std::vector<Link> links = CurrentLinks(dbm, n.id);
    std::string sites;
    if (!pairs.empty() && links.size() == pairs.size()) {
      sites = "all " + std::to_string(pairs.size());
    } else {
      for (const Link& l : links)
        for (const Pair& p : pairs)
          if (p.categoryId == l.categoryId && p.siteId == l.siteId)
            sites += (sites.empty() ? "" : ", ") + p.site + "/" + p.category;
      if (sites.empty()) sites = "none (the filter finds nothing)";
    }
    std::printf("%d  %s%s\n    keywords: \"%s\" (%s); %s; sites: %s\n", n.id, copy.name.c_str(),
                copy.usedInLit ? "  [eBooks]" : "", LikeUnescape(copy.keywords).c_str(), search.c_str(),
                DescribeTime(copy).c_str(), sites.c_str());
  }
  return 0;
}

void Apply(const FilterChange& c, CFilterStruct* f) {
  if (c.name) f->name = *c.name;
  if (c.keywords) f->keywords = LikeEscape(*c.keywords);
  const bool excluding = c.excluding.value_or(f->searchMode > 2 && f->searchMode <= 5);
  const int mode = c.mode.value_or(f->searchMode >= 0 && f->searchMode <= 5 ? f->searchMode % 3 : 0);
  f->searchMode = mode + (excluding ? 3 : 0);
  if (c.timeKind) {
    f->timeKind = *c.timeKind;
    if (*c.timeKind == 1) {
      f->from = c.from;
      f->to = c.to;
    } else if (*c.timeKind == 2) {
      f->days = c.days;
      f->hours = c.hours;
      f->minutes = c.minutes;
    }
  }
  if (c.ebook) f->usedInLit = *c.ebook;
}

bool Write(CDBManager& dbm, const CFilterStruct& f, const std::vector<Link>& links, bool create, int32_t* id) {
  std::vector<int32_t> categories, sites;
  for (const Link& l : links) {
    categories.push_back(l.categoryId);
    sites.push_back(l.siteId);
  }
  const int n = static_cast<int>(links.size());
  if (create) {
    *id = dbm.CreateFilter(f, categories.data(), sites.data(), n);
    return *id >= 0;
  }
  *id = f.id;
  return dbm.UpdateFilter(f, categories.data(), sites.data(), n);
}

}  // namespace

int RunFilter(const Args& input) {
  if (WantsHelp(input)) {
    std::fputs(kFilterHelp, stdout);
    return 0;
  }
  Args args = input;
  if (!TakeHome(args, "filter")) return 1;
  if (args.empty()) return Usage("name what to do: list, add, edit or remove");
  const std::string verb = args[0];
  args.erase(args.begin());
  FilterChange change;
  if (verb == "add" || verb == "edit") {
    if (int rc = ParseChange(args, verb == "edit", &change)) return rc;
    if (args.size() != 1) return Usage(verb + " wants one filter name" + (verb == "edit" ? " or id" : ""));
    if (verb == "add" && Trim(args[0]).empty()) return Usage("a filter needs a name");
  } else if (verb == "remove") {
    if (args.size() != 1) return Usage("remove wants one filter name or id");
  } else if (verb == "list") {
    if (!args.empty()) return Usage("list takes no argument");
  } else {
    return Usage("unknown action '" + verb + "'");
  }

  std::unique_ptr<Database> db;
  if (int rc = OpenNewsDatabase("filter", &db)) return rc;
  const std::vector<Pair> pairs = ReadSitePairs(*db);
  db.reset();
  CDBManager dbm;
  if (!dbm.Init("")) {
    std::fprintf(stderr, "orvo filter: cannot open the news database (code %d)\n", dbm.lastError());
    return 1;
  }
  if (verb == "list") return List(dbm, pairs);

  const auto failed = [&](const char* what) {
    std::fprintf(stderr, "orvo filter: the database refused to %s the filter (code %d); nothing was changed\n", what,
                 dbm.lastError());
    return 1;
  };
  if (verb == "remove") {
    int32_t id = FindFilter(dbm, args[0]);
    if (id < 0) return 1;
    if (!dbm.DeleteFilter(id)) return failed("remove");
    std::printf("Filter %d removed.\n", id);
    return 0;
  }

  CFilterStruct f;
  std::vector<Link> links;
  const bool create = verb == "add";
  if (create) {
    for (const Named& n : AllFilters(dbm))
      if (n.name == args[0]) {
        std::fprintf(stderr, "orvo filter: a filter named \"%s\" exists (id %d); change it with orvo filter edit\n",
                     args[0].c_str(), n.id);
        return 1;
      }
    f.name = args[0];
    if (pairs.empty()) {
      std::fprintf(stderr,
                   "orvo filter: the database knows no site yet, so the filter would find nothing. Run orvo download "
                   "once to fetch the catalogue, then add the filter.\n");
      return 3;
    }
    if (!ResolveSites(pairs, change.sites.value_or(std::vector<std::string>{}), &links)) return 1;
  } else {
    int32_t id = FindFilter(dbm, args[0]);
    if (id < 0) return 1;
    const CFilterStruct* stored = dbm.FetchFilter(id);
    if (!stored) return failed("read");
    f = *stored;
    links = CurrentLinks(dbm, id);
    if (change.sites && !ResolveSites(pairs, *change.sites, &links)) return 1;
  }
  Apply(change, &f);
  int32_t id = 0;
  if (!Write(dbm, f, links, create, &id)) return failed(create ? "add" : "change");
  std::printf("Filter %d \"%s\" %s: %zu site/category pairs%s.\n", id, f.name.c_str(), create ? "added" : "changed",
              links.size(), f.usedInLit ? ", used for eBooks" : "");
  return 0;
}

}  // namespace orvo::cli

// The user's own sites: site/category pairs added locally from a feed's
// address, beside the updates server's catalogue and never touched by it.
// All their SQL lives here.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace orvo {

class Database;

enum class OwnKind { kFeed = 0, kPage = 1 };

struct OwnSite {
  int64_t pair = 0;  // site_cat_rel id
  std::string site;
  std::string category;
  std::string address;  // the feed's address
  OwnKind kind = OwnKind::kFeed;
  std::string pageUrl;  // the site's own page, when known
  std::string added;    // database time
  std::string feedTitle;
  std::string etag, lastModified;  // the feed's validators of the last answer
  bool selected = true;
};

// Stores a new own pair (selected) under site and category, reusing an own
// site or category of the same name, never a catalogue one. False with
// *why when the address is there already or the pair's names are taken by
// another own feed. A removed pair of the same address comes back.
bool AddOwnSite(Database& db, OwnSite& site, std::time_t now, std::string* why);

// Whether an own feed holds the pair of these names.
bool OwnNameTaken(Database& db, const std::string& site, const std::string& category);

// The own pairs, by site and category name; withRemoved also those removed
// whose news were kept.
std::vector<OwnSite> ListOwnSites(Database& db, bool withRemoved = false);
// The selected own pairs a run gathers.
std::vector<OwnSite> OwnPlanSites(Database& db);
bool IsOwnAddress(Database& db, const std::string& address);

// The own pairs "SITE" or "SITE/CATEGORY" names (exact first, then ignoring
// letter case).
std::vector<OwnSite> FindOwnSites(Database& db, const std::string& name);

// Removes a pair: with its news, or keeping them (the pair stays, unselected
// and out of every list, until its last news item is gone).
int RemoveOwnSite(Database& db, int64_t pair, bool withNews);
// Renames the site of an own pair (and every own pair of that site), or,
// with a category, that pair's category alone.
bool RenameOwnSite(Database& db, const OwnSite& pair, const std::string& newSite, const std::string& newCategory,
                   std::string* why);

// After a feed answered: its validators (empty when it sent none) and title.
int SaveFeedAnswer(Database& db, int64_t pair, const std::string& etag, const std::string& lastModified,
                   const std::string& title);

// The pairs the catalogue update must leave alone, as SQL sets for the
// update's reads: own pairs, their sites and their categories.
extern const char* const kOwnPairIds;
extern const char* const kOwnSiteIds;
extern const char* const kOwnCategoryIds;

// Deletes removed own pairs whose news are all gone.
int DeleteSpentOwnPairs(Database& db);

}  // namespace orvo

// The site/category pairs as the reader sees them: the tree of sites and
// their categories, and which pairs are selected for download; and as the
// command line and the engine see them: each pair by its id, what it holds,
// and the counts of the news database.
//
// Functions return 0 or the database's code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "database.h"

namespace orvo {

struct PairRow {
  int32_t categoryId = 0;
  int32_t siteId = 0;
  std::string categoryName;
  std::string siteName;
  bool selected = false;  // selected for download
};

// A pair named by its category and site, as the reader's trees hold it.
struct PairKey {
  int32_t categoryId = 0;
  int32_t siteId = 0;
};

// " ORDER BY" the pairs' site name, then category name (case-insensitive),
// for a statement over news_config c and news_cat k.
std::string SiteThenCategoryOrder(Database::Backend b);

// Every pair with a site and a category, site then category in name order.
int ListPairs(Database& db, std::vector<PairRow>* pairs);

// Selects (or unselects) the pairs for download, all or none.
int SelectPairs(Database& db, const std::vector<PairKey>& pairs, bool selected);

// Whether any pair is selected for download.
int AnyPairSelected(Database& db, bool* any);

// The site/category pair of the two names, created when missing; -1 on failure.
int64_t EnsurePair(Database& db, const std::string& site, const std::string& category, bool selected = false);

// --- By pair id, for the command line and the engine ---------------------------

// A site/category pair of the catalogue.
struct SitePair {
  int64_t id = 0;
  std::string site, category;
  bool selected = false;
  int64_t siteId = 0, categoryId = 0;
};

// Every pair, by site and category name (byte order).
std::vector<SitePair> ReadSitePairs(Database& db);
// One pair; nullopt when there is no such pair.
std::optional<SitePair> ReadSitePair(Database& db, int64_t id);

// The selected pairs with a usable list and news mask: the catalogue pairs a
// download visits.
int64_t CountPairsToVisit(Database& db);

// What the news database holds.
struct NewsCounts {
  int64_t sites = 0, categories = 0, pairs = 0, selectedPairs = 0;
  int64_t items = 0, unreadItems = 0, deletedItems = 0, images = 0;
};
NewsCounts CountNews(Database& db);

// The newest live item by publication date; nullopt when there is none.
struct NewestItem {
  std::string publicationDate;  // database time
  std::string title, site, category;
};
std::optional<NewestItem> ReadNewestItem(Database& db);

// A pair with what it holds, for the status table.
struct PairSummary {
  SitePair pair;
  int64_t liveItems = 0;
  std::string newest;      // the newest publication date (database time); empty: none
  int64_t usableMasks = 0; // masks with a version above 0 and a text
  bool ownFeed = false;    // one of the user's own sites
};
// Every pair, by site and category name (byte order).
std::vector<PairSummary> SummarisePairs(Database& db);

// The user's own sites that share their name with a site of the catalogue,
// by name.
std::vector<std::string> OwnSitesNamedLikeCatalogueSites(Database& db);

// The images of the items stored above an id: a run's new pictures.
int64_t CountImagesOfItemsAbove(Database& db, int64_t id);

}  // namespace orvo

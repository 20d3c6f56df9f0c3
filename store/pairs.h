// The site/category pairs as the reader sees them: the tree of sites and
// their categories, and which pairs are selected for download.
//
// Functions return 0 or the database's code.
#pragma once

#include <cstdint>
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

// Every pair with a site and a category, site then category in name order.
int ListPairs(Database& db, std::vector<PairRow>* pairs);

// Selects (or unselects) the pairs for download, all or none.
int SelectPairs(Database& db, const std::vector<PairKey>& pairs, bool selected);

// Whether any pair is selected for download.
int AnyPairSelected(Database& db, bool* any);

// The site/category pair of the two names, created when missing; -1 on failure.
int64_t EnsurePair(Database& db, const std::string& site, const std::string& category, bool selected = false);

}  // namespace orvo

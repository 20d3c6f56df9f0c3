// The reader's saved filters and the site/category pairs each is limited to.
// (What a filter selects: store/filter_query.h.)
//
// Functions return 0 or the database's code; SQLITE_NOTFOUND when the filter
// is not there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "database.h"
#include "store/filter_query.h"
#include "store/pairs.h"

namespace orvo {

struct FilterName {
  int64_t id = 0;
  std::string name;
};
// Every filter, in name order.
int ListFilters(Database& db, std::vector<FilterName>* filters);

int ReadFilter(Database& db, int64_t id, FilterRow* filter);

// The pairs of a filter with their names (`selected` unused), site then
// category in name order.
int ListFilterPairs(Database& db, int64_t filterId, std::vector<PairRow>* pairs);

// Writes a filter and its pairs, all or none. A pair that no longer exists is
// skipped: the filter keeps the others. CreateFilter ignores filter.id and
// gives the new one.
int CreateFilter(Database& db, const FilterRow& filter, const std::vector<PairKey>& pairs, int64_t* id);
int UpdateFilter(Database& db, const FilterRow& filter, const std::vector<PairKey>& pairs);
int DeleteFilter(Database& db, int64_t id);

}  // namespace orvo

// The eBook generator's news query over every marked filter, walked to the end.
#include <ctime>

#include "database.h"
#include "filter_query.h"

namespace orvo {

size_t RunEbookQuery(Database& db) {
  NewsQuery q;
  if (q.Open(db, std::time(nullptr)) != 0) return 0;
  size_t rows = 0;
  while (q.Fetch()) ++rows;
  return rows;
}

}  // namespace orvo

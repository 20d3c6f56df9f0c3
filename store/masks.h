// The masks of the catalogue's pairs as a gathering run reads them: the
// plan's rows, one stored mask, and the reset of a mask that cannot be
// parsed. Plain data in and out, the same on both back ends.
#pragma once

#include <string>
#include <vector>

namespace orvo {

class Database;

// One row of the plan query: mask id, mask type, site name, category name.
struct PlanRow {
  int maskId = 0;
  int type = 0;
  std::string site;
  std::string category;
  int version = 1;  // 0: withdrawn by the updates server
};

// One row of news_masks.
struct StoredMask {
  int id = 0;
  std::string hex;  // the mask text as upper-case hexadecimal
  int version = 0;
  int type = 0;
  int siteCatRel = 0;
};

// Reads mask id. Returns 0, SQLITE_NOTFOUND when there is no such row, or the
// database's failure code.
int ReadStoredMask(Database& db, int id, StoredMask* mask);

// Empties a mask that cannot be parsed and gives it version 1, so that the
// next update fetches it again.
int ResetMask(Database& db, int id);

// Reads the masks of the selected pairs (version above 0) in mask id order;
// with withdrawnNews also the withdrawn news masks (version 0), whose pages
// automatic extraction reads. Returns 0 or the database's failure code.
int ReadPlanRows(Database& db, std::vector<PlanRow>* rows, bool withdrawnNews = false);

// The versions of a pair's masks, "list/news" ("0" for a missing one).
std::string MaskVersions(Database& db, int siteCatRel);

}  // namespace orvo

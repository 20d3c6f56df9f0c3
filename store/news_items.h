// News items one at a time: what the reader shows of one, its read mark and
// deletion, the counts beside the sites; and news written the way the
// gathering engine stores them (the tests, the benchmark, the demo database).
//
// Functions return 0 or the database's code; SQLITE_NOTFOUND when the item
// is not there (or deleted).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "database.h"

namespace orvo {

// --- Reading ------------------------------------------------------------------

struct NewsInfo {
  std::string title;
  std::time_t published = 0;  // 0 when unknown
  std::string link;
  std::string site;
  std::string category;
  std::string author;
  // How the item was found when not by its pair's masks: 0 by the masks,
  // 1 text by automatic extraction, 2 link from the site's feed, 3 both.
  int foundWithoutMask = 0;
};
int ReadNewsInfo(Database& db, int64_t id, NewsInfo* info);

// The body and its images in placeholder order (then by id).
struct NewsText {
  std::string body;
  std::vector<int> imagePositions;
  std::vector<std::string> imageSources;
  std::vector<std::string> imageCaptions;
  // Where the database keeps the pictures (PostgreSQL), each one's bytes, in
  // the same order; "" for one it has none of (its file is then shown).
  // Empty on SQLite, whose pictures are the files.
  std::vector<std::string> imageBytes;
};
int ReadNewsText(Database& db, int64_t id, NewsText* text);

// --- Marks ----------------------------------------------------------------------

// SQLITE_NOTFOUND when there is no such item.
int MarkNewsRead(Database& db, int64_t id, bool read);
// Many at once, all or none; rows already so are left alone.
int MarkNewsRead(Database& db, const std::vector<int32_t>& ids, bool read);
// Marks the items deleted, all or none: they vanish from every list, search and eBook.
int DeleteNews(Database& db, const std::vector<int32_t>& ids);

// --- Counts -----------------------------------------------------------------------

// Listed (not deleted) news of one site/category pair.
struct PairNewsCount {
  int64_t pairId = 0;
  int32_t siteId = 0;
  int32_t categoryId = 0;
  std::string siteName;
  std::string categoryName;
  int64_t unread = 0;
  int64_t total = 0;
};
// Every pair of the catalogue, site then category in name order.
int CountNewsPerPair(Database& db, std::vector<PairNewsCount>* counts);
// The highest news id, 0 when there is none.
int LastNewsId(Database& db, int64_t* id);
// Listed news stored after `id`, and the sites they came from.
int CountNewsAfter(Database& db, int64_t id, int64_t* items, int64_t* sites);

// --- Writing as the engine does ---------------------------------------------------

struct NewsImage {
  int bodypos = 0;
  std::string path;
  std::string caption;
};

struct NewsRecord {
  int64_t pair = 0;  // site_cat_rel id
  std::string title;
  std::string author;
  std::string url;
  std::string body;
  std::time_t published = 0;
  std::vector<NewsImage> images;
};

// Stores one item with its images; returns its id, or -1.
int64_t StoreNews(Database& db, const NewsRecord& news);

// `count` generated items spread over a few sites and categories, in one
// transaction. Returns false when a statement fails.
bool StoreGeneratedNews(Database& db, int count, std::time_t newest);

}  // namespace orvo

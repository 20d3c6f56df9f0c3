// Records exchanged between the reader and its database manager. Plain data:
// the manager fills them, the reader copies what it keeps.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace orvo {

struct CNewsListItemStruct {
  int32_t id = 0;
  int64_t pair = -1;  // site_cat_rel id; -1 when the item has none
  std::string site;
  std::string category;
  std::time_t date = 0;  // publication date; 0 when unknown
  std::string title;
  uint8_t read = 0;
};

struct CNewsInfoItemStruct {
  std::string title;
  std::time_t published = 0;
  std::string link;
  std::string site;
  std::string category;
  std::string author;
  // How the item was found when not by its pair's masks: 0 by the masks,
  // 1 text by automatic extraction, 2 link from the site's feed, 3 both.
  int foundWithoutMask = 0;
};

struct CNewsDetailItemStruct {
  std::string body;
  int32_t reserved = 0;       // kept for the record's shape; unused by the reader
  std::string reservedText;   // likewise
  std::vector<std::string> imageSources;   // full paths of the image files
  std::vector<std::string> imageCaptions;  // same order as imageSources
  // The placeholder number ("[[{N}]]") of each image, same order. An image
  // goes where its own number stands, even when numbers have gaps.
  std::vector<int> imagePositions;
  // Pictures the database keeps (PostgreSQL): each one's bytes, same order;
  // "" where the file is shown. Empty on SQLite.
  std::vector<std::string> imageBytes;
};

struct CNewsCategoryStruct {
  int32_t categoryId = 0;
  int32_t siteId = 0;
  std::string categoryName;
  std::string siteName;
  bool selected = false;  // selected for download
  int32_t spare = 0;
};

struct CFilterListItemStruct {
  int32_t id = 0;
  std::string name;
  int32_t value = 0;
};

// Search modes: 0 all words, 1 any word, 2 exact phrase; 3-5 the same, excluding.
// Time kinds: 0 none, 1 from-to (whole days), 2 the last days/hours/minutes.
struct CFilterStruct {
  int32_t id = 0;
  std::string name;
  std::string keywords;  // stored LIKE-escaped
  int32_t searchMode = 0;
  int32_t timeKind = 0;
  std::time_t from = 0;
  std::time_t to = 0;
  int32_t days = 0;
  int32_t hours = 0;
  int32_t minutes = 0;
  bool usedInLit = false;
};

struct CFilterSiteCatRelStruct {
  int32_t categoryId = 0;
  std::string categoryName;
  int32_t siteId = 0;
  std::string siteName;
};

// News of one site/category pair, for the counts beside the sites.
struct CPairCountStruct {
  int64_t pairId = 0;
  int32_t siteId = 0;
  int32_t categoryId = 0;
  std::string siteName;
  std::string categoryName;
  int64_t unread = 0;
  int64_t total = 0;
};

}  // namespace orvo

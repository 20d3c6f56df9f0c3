// OPML, the list of feeds every feed reader imports and exports: own sites
// in from a file (folders become categories, all or nothing) and out as
// OPML 2.0.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace orvo {

class Database;

// Bigger files or more feeds than these are not what a reader exports.
inline constexpr size_t kMaxOpmlBytes = 4u << 20;
inline constexpr size_t kMaxOpmlFeeds = 2000;

struct OpmlFeed {
  std::string xmlUrl, htmlUrl, title, category;
};

struct OpmlRead {
  bool ok = false;
  std::string error;
  std::vector<OpmlFeed> feeds;
};

// The feed outlines of an OPML document; a feed's category is the folder
// outline nearest above it ("News" at the top level).
OpmlRead ReadOpml(std::string_view bytes);

struct OpmlImport {
  bool ok = false;
  std::string error;
  int added = 0;
  int skipped = 0;  // there already
};

// Adds every feed not there yet in one transaction: a failure stores nothing.
OpmlImport ImportOpml(Database& db, std::string_view bytes, std::time_t now);
OpmlImport ImportOpmlFile(Database& db, const std::string& path, std::time_t now);

// The own pairs as OPML 2.0, one folder per category.
std::string ExportOpml(Database& db);

}  // namespace orvo

// Writing news into a database the way the gathering engine stores them:
// used by the tests, the benchmark and the demo database.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "database.h"

namespace orvo {

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

// The site/category pair of the two names, created when missing.
int64_t EnsurePair(Database& db, const std::string& site, const std::string& category, bool selected = false);

// Stores one item with its images; returns its id, or -1.
int64_t StoreNews(Database& db, const NewsRecord& news);

// `count` generated items spread over a few sites and categories, in one
// transaction. Returns false when a statement fails.
bool StoreGeneratedNews(Database& db, int count, std::time_t newest);

}  // namespace orvo

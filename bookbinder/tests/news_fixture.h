// A program folder of our own (ORVO_HOME) with a news database that a test
// fills with sites, categories, news, pictures and filters.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "database.h"
#include "test_support.h"

namespace orvo::testing {

inline constexpr const char* kOwnAddress = "http://example.org/news";

struct TestNews {
  int64_t pair = 0;
  std::string title = "A title";
  std::string body = "Some text";
  std::string srcUrl = kOwnAddress;  // this one: an address of its own, kOwnAddress + "/N"
  std::time_t published = 0;  // 0: now
  bool deleted = false;
};

struct TestFilter {
  std::string keywords;
  int mode = 7;      // no keyword condition
  int timeKind = 0;  // none
  std::time_t from = 0, to = 0;
  int days = 0, hours = 0, minutes = 0;
  bool litGen = true;
  std::vector<int64_t> pairs;
};

class NewsFixture {
 public:
  // Sets ORVO_HOME to a new folder and creates ORVO.ini and the database.
  NewsFixture();
  ~NewsFixture();

  // Moves the fixture to an empty database on a PostgreSQL server (made
  // with the schema here) and names it in ORVO.ini; false when it fails.
  bool UsePostgres(const std::string& url);

  const std::string& home() const { return home_.path(); }
  Database& db() { return *db_; }
  std::string dbPath() const { return home_.File("news.db"); }

  // A site/category pair; the category is shared by name.
  int64_t AddPair(const std::string& site, const std::string& category);
  int64_t AddNews(const TestNews& news);
  int64_t AddPicture(int64_t newsId, int bodyPos, const std::string& path, const std::string& caption = "");
  int64_t AddFilter(const TestFilter& filter);

  void WriteSetting(const std::string& key, const std::string& value);
  void WriteCleanup(int deleteLit);

 private:
  TempDir home_;
  std::string oldHome_;
  bool hadHome_ = false;
  std::unique_ptr<Database> db_;
  int added_ = 0;  // news added, for their own addresses
};

// The entries of a zip file (an EPUB volume), name to bytes, in the order
// they are stored; empty when it cannot be read.
std::vector<std::pair<std::string, std::string>> ReadZip(const std::string& path);
// Writes every entry under `dir`.
bool UnpackZip(const std::string& path, const std::string& dir);

// epubcheck's report on an EPUB file, and whether it found neither errors
// nor warnings; nullopt when epubcheck (a Java program from Debian) is not
// installed.
struct EpubcheckReport {
  bool clean = false;
  std::string text;
};
std::optional<EpubcheckReport> RunEpubcheck(const std::string& epub);

// A small real JPEG-looking file (its magic and some bytes).
std::string MakePicture(const std::string& path, size_t size);

}  // namespace orvo::testing

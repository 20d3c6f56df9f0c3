// The benchmark's news: a fixed catalogue, two eBook filters and items of
// real size (about 4 KB bodies), the same rows from the same `now` on every
// run and on both back ends.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvo {

class Database;

namespace bench {

struct Random {
  uint64_t s = 0x9E3779B97F4A7C15ull;
  uint64_t Next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
  }
  size_t Below(size_t n) { return static_cast<size_t>(Next() % n); }
  // Skewed towards 0, as word frequencies are.
  size_t Skewed(size_t n) {
    double u = static_cast<double>(Next() % 1000000) / 1e6;
    return static_cast<size_t>(u * u * u * static_cast<double>(n));
  }
};

inline constexpr int kSites = 30, kCategories = 5;
inline constexpr int kDays = 120;

struct NewsItemRow {
  std::string date;  // recvdate, newsdate and publication_date
  int64_t pair = 0;
  std::string url, title, body;
  int isDel = 0, isRead = 0;
};

// The items in the order they are stored (ids 1, 2, ...), published over the
// kDays before `now`.
class ItemGenerator {
 public:
  explicit ItemGenerator(std::time_t now);
  // Item `i` (from 0, each in turn) over the catalogue's `pairs`.
  void Next(int64_t i, const std::vector<int64_t>& pairs, NewsItemRow* out);
  // How long before `now` the first item is published.
  static std::time_t FirstItemAge();

 private:
  std::time_t now_;
  Random r_;
  std::vector<std::string> words_;
};

// The sites, categories, pairs (ids in `pairs`) and masks, on either back end.
bool WriteCatalogue(Database& db, std::vector<int64_t>* pairs);
// Two marked eBook filters over every pair: all words, and any word within
// the last 30 days.
bool WriteFilters(Database& db);

// An old SQLite database: the schema of today less the search and grid
// indexes, with the two indexes the reader used to add at its first start.
bool GenerateSqlite(const std::string& path, int64_t items, std::time_t now);

// The `now` a file made by GenerateSqlite was made with, checked against its
// first rows; nullopt-like 0 with `why` set when the file is not one.
std::time_t GeneratedNow(Database& db, std::string* why);

// Fills the PostgreSQL database at `url` (it must exist and hold no news yet)
// with the rows GenerateSqlite writes for the same `now`, as a bulk load
// does it: the schema, its news indexes dropped, the items by COPY in
// transactions of 100,000, then the indexes built again, then VACUUM
// ANALYZE. Prints each step's time. False with `why` set on failure.
bool FillPostgres(const std::string& url, int64_t items, std::time_t now, std::string* why);

}  // namespace bench
}  // namespace orvo

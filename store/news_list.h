// The reader's news grid: the live news, narrowed by keywords, the unread
// mark, site/category pairs and a filter, in one of four orders.
//
// Sorting 100,000 joined rows before the first one comes back is slow. So a
// title or date sort walks an index, and a site or category sort walks the
// sites (categories) in name order, merging the date-ordered news of each
// one's site/category pairs: the first row comes at once and nothing is
// sorted. The rows carry their pair's id only; the few pairs' names are read
// once per list, so a sorted list reads nothing but its covering index.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "database.h"
#include "store/filter_query.h"

namespace orvo {

enum NewsSort { kSortBySite = 0, kSortByCategory = 1, kSortByDate = 2, kSortByTitle = 3 };

struct NewsListQuery {
  // LIKE-escaped ([%] [_] [[] []] [^] stand for themselves); each must be
  // in the title or the body.
  std::vector<std::string> keywords;
  bool unreadOnly = false;
  std::vector<int64_t> pairs;  // only news of these site/category pairs; none: all
  // And what this filter selects (a range's last day whole, a period to the
  // second from `now`: ReaderFilterStyle), on its site/category pairs.
  std::optional<FilterRow> filter;
  std::vector<int64_t> filterPairs;
  std::time_t now = 0;
  int sort = kSortBySite;
  bool ascending = true;
  // A search with at least this many candidates walks the list's order and
  // tests ids against them, rather than sorting them; from this share of the
  // items on, it walks with the LIKE tests alone (tests move both). Sorting
  // costs about 20 us a candidate before the first row (each body is read
  // and tested), so a couple of thousand come within about 50 ms, while the
  // walk of the list's order alone takes about 0.4 s at a million items.
  //
  // The LIKE alone wins only when nearly every item is a candidate: noting
  // a candidate costs about 4 us, while the LIKE spares each item that is
  // not one a whole body's scan (about 30 us on a 4 KB body; a candidate's
  // stops at the word). Measured with news_db_bench --grid --walk-share: a
  // word in 60% of 100,000 items took 1.86 s on LIKE alone, 0.96 s with its
  // candidates noted first; the two meet near 90%.
  int64_t manyCandidatesAtLeast = 2500;
  double walkShare = 0.9;
};

// One listed item. The views stay valid until the next row; the names as
// long as the list is open.
struct NewsListRow {
  int64_t id = 0;
  int64_t pair = -1;  // -1: the item has none
  std::string_view date;  // as stored
  std::string_view title;
  bool read = false;
  const std::string* site = nullptr;      // "" when the pair names none
  const std::string* category = nullptr;
};

// Sets up a reader's connection for lists: it walks the whole news table for
// every one, so on SQLite it reads through a memory map rather than copies
// and sorts in memory, not in temporary files.
void PrepareForLists(Database& db);

class NewsList {
 public:
  NewsList();
  ~NewsList();
  NewsList(const NewsList&) = delete;
  NewsList& operator=(const NewsList&) = delete;

  // Prepares the list's statements; the first rows are read by Next().
  // 0, or the database's code.
  int Open(Database& db, const NewsListQuery& query);
  // False at the end or on a failure (error() then says which).
  bool Next(NewsListRow* row);
  int error() const { return error_; }
  void Close();

 private:
  struct Stream;
  struct PairNames {
    std::string site;
    std::string category;
  };
  int LoadPairNames();
  const PairNames& NamesOf(int64_t pair);  // -1: none
  enum class CandidateWay { kCollect, kMark, kWalk };
  CandidateWay ChooseCandidateWay(const std::string& query, const NewsListQuery& q);
  int MarkCandidates(const std::string& query);
  bool AddStream(const std::string& sql, bool withPair, int64_t pair);
  bool OpenNextGroup();
  bool OpenOrphans();
  int Fail(int rc) {
    if (error_ == 0) error_ = rc;
    return rc;
  }

  Database* db_ = nullptr;
  int error_ = 0;
  int sort_ = kSortBySite;
  std::vector<Stream> streams_;
  Stream* pending_ = nullptr;  // gave the last row; moves on at the next call
  std::vector<SqlValue> params_;
  bool grouped_ = false;
  std::vector<int64_t> groups_;  // sites or categories in order; -1: news without one
  size_t nextGroup_ = 0;
  std::string pairsSql_;
  std::string pairSql_;
  std::string orphanSql_;
  std::unordered_map<int64_t, PairNames> pairNames_;  // -1: news without a pair
};

}  // namespace orvo

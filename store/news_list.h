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

class CandidateMarks;

enum NewsSort { kSortBySite = 0, kSortByCategory = 1, kSortByDate = 2, kSortByTitle = 3 };

// A search's ways through the index's candidates; the rows are the same
// every way. kCollect reads and sorts the candidates: nothing else is read,
// but the first row waits for all of them. kMark notes them in memory and
// walks the list's own order testing each row's id: the first row comes at
// once. kWalk walks the list's order with the LIKE tests alone.
enum class SearchWay : int { kChosen, kCollect, kMark, kWalk };

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
  // How a search goes through the index's candidates (store/news_list.cpp
  // says how the way is chosen); tests and benchmarks set one.
  SearchWay way = SearchWay::kChosen;
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
  // The way the last search went (kChosen for a list without keywords).
  SearchWay way() const { return way_; }
  void Close();

 private:
  struct Stream;
  struct PairNames {
    std::string site;
    std::string category;
  };
  int LoadPairNames();
  const PairNames& NamesOf(int64_t pair);  // -1: none
  // `read`: whether `ids` holds every candidate (when there are few enough to count).
  SearchWay ChooseSearchWay(const std::string& query, std::vector<int64_t>* ids, bool* read);
  // `last`, when given, is bound after the list's own values.
  bool AddStream(const std::string& sql, const std::optional<SqlValue>& last, bool whole = false);
  bool OpenNextGroup();
  bool OpenOrphans();
  int Fail(int rc) {
    if (error_ == 0) error_ = rc;
    return rc;
  }

  Database* db_ = nullptr;
  int error_ = 0;
  SearchWay way_ = SearchWay::kChosen;
  std::shared_ptr<CandidateMarks> marks_;
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

// CDBManager: every database operation of the reader.
//
// Not thread-safe by itself: the reader holds its one database lock around
// every call, from whichever thread. Pointers returned by an enumeration or a
// load stay valid until the next call of the same kind.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "database.h"
#include "records.h"
#include "store/search_index.h"

namespace orvo {

// A value bound into a built statement: text, or a number when isNumber.
struct SqlValue {
  SqlValue(std::string t) : text(std::move(t)) {}
  SqlValue(int64_t n) : number(n), isNumber(true) {}
  std::string text;
  int64_t number = 0;
  bool isNumber = false;
};

class CDBManager {
 public:
  CDBManager();
  ~CDBManager();
  CDBManager(const CDBManager&) = delete;
  CDBManager& operator=(const CDBManager&) = delete;

  // Opens the news database at `path`; an empty path means the PathDB
  // setting of ORVO.ini. False when it cannot be opened.
  bool Init(const std::string& path);
  bool IsOpen() const { return db_ != nullptr; }
  Database* database() { return db_.get(); }
  // True when the file at the opened path is no longer the one opened
  // (deleted, or replaced by another file): writes would go to a file nobody
  // reads. Each write checks it first and fails with SQLITE_READONLY_DBMOVED.
  bool FileChanged() const;
  // SQLite's code of the last failed operation (0 after success).
  int lastError() const { return lastError_; }

  // --- News list ---------------------------------------------------------
  // Query state, set before BeginNewsListEnum.
  void ClearSearchKeywords() { keywords_.clear(); }
  // `keyword` comes LIKE-escaped: [%] [_] [[] []] [^] stand for themselves.
  void AddSearchKeyword(const std::string& keyword);
  void SetSearchWithFilter(bool on) { withFilter_ = on; }
  void SetSearchFilter(int32_t filterId) { filterId_ = filterId; }
  // Columns: 0 site, 1 category, 2 date/time, 3 title. The same column again
  // reverses the order; another column starts ascending.
  void SetSort(int column);
  // Nonzero: ascending.
  void SetSortOrder(int ascending) { ascending_ = ascending != 0; }
  int sortColumn() const { return sortColumn_; }
  bool sortAscending() const { return ascending_; }

  bool BeginNewsListEnum();
  const CNewsListItemStruct* EnumNextNewsListItem();  // null at the end
  void EndNewsListEnum();
  // Forgets the current and the last result (search in found then finds nothing).
  void ClearNewsList();

  // --- One item ------------------------------------------------------------
  const CNewsInfoItemStruct* LoadNewsInfo(int32_t id);
  const CNewsDetailItemStruct* LoadNewsDetail(int32_t id);
  // The last loaded detail record (null before the first or after a failed load).
  const CNewsDetailItemStruct* lastDetail = nullptr;

  long MarkAsRead(int32_t id, bool read);
  // Many at once, in one transaction: all or none.
  long MarkAsRead(const std::vector<int32_t>& ids, bool read);
  // Marks the items deleted: they vanish from every list, search and eBook.
  long DeleteNewItems(const std::vector<int32_t>& ids);

  // --- Categories ----------------------------------------------------------
  // `kind`: 0 for the download selection, 1 for the filter editor; both list
  // every site/category pair.
  bool BeginNewsCategoryEnum(int kind);
  const CNewsCategoryStruct* EnumNextNewsCategory();
  void EndNewsCategoryEnum();
  bool UpdateCategories(const int32_t* categoryIds, const int32_t* siteIds, int count, bool selected);
  bool IsAnySelected();

  // --- Filters ---------------------------------------------------------------
  bool BeginFilterListItemEnum();
  const CFilterListItemStruct* EnumNextFilterListItem();
  void EndFilterListItemEnum();

  bool BeginFilterSiteCatRelEnum(int32_t filterId);
  const CFilterSiteCatRelStruct* EnumNextFilterSiteCatRel();
  void EndFilterSiteCatRelEnum();

  const CFilterStruct* FetchFilter(int32_t id);
  // The links are (category id, site id) pairs. Returns the new id, or a
  // negative value when nothing was stored.
  int32_t CreateFilter(const CFilterStruct& filter, const int32_t* categoryIds, const int32_t* siteIds,
                       int count);
  bool UpdateFilter(const CFilterStruct& filter, const int32_t* categoryIds, const int32_t* siteIds, int count);
  bool DeleteFilter(int32_t id);

  // --- Counts (the reader's side tree and run summaries) -------------------------
  // Listed (not deleted) news per site/category pair, every pair of the
  // catalogue included; site, then category, in name order.
  bool CountNewsPerPair(std::vector<CPairCountStruct>* counts);
  // The highest news id (0 when there is none; -1 on failure).
  int64_t LastNewsId();
  // Listed news stored after `id`, and the sites they came from.
  bool CountNewsAfter(int64_t id, int64_t* items, int64_t* sites);
  // Only news of these site/category pairs in the next list (none: all).
  void SetPairRestriction(std::vector<int64_t> pairs) { pairs_ = std::move(pairs); }
  const std::vector<int64_t>& pairRestriction() const { return pairs_; }

  // --- Transactions ------------------------------------------------------------
  long StartTransaction();
  long Commit();
  long Abort();

  // Flags the reader sets directly.
  bool unreadOnly = false;     // list only unread news
  bool searchInFound = false;  // search within the last listed result
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

 private:
  bool Fail(int rc);
  // False (with SQLITE_READONLY_DBMOVED as the last error) when nothing may
  // be written: no database, or its file changed under it.
  bool Writable();
  // A listed date: mktime reads the time-zone file on every call, so each
  // hour is converted once.
  std::time_t ListTime(std::string_view text);
  bool WriteLinks(int32_t filterId, const int32_t* categoryIds, const int32_t* siteIds, int count);
  // With `indexed`, the keyword tests go through the search index and
  // `candidates` narrows to the items the filter can match.
  bool AppendFilterCondition(int32_t filterId, bool indexed, std::string* sql, std::vector<SqlValue>* params,
                             IndexQuery* candidates);

  std::unique_ptr<Database> db_;
  int lastError_ = 0;
  // The opened file's identity.
  uint64_t fileDevice_ = 0;
  uint64_t fileInode_ = 0;

  std::vector<std::string> keywords_;
  bool withFilter_ = false;
  int32_t filterId_ = -1;
  std::vector<int64_t> pairs_;
  int sortColumn_ = 0;
  bool ascending_ = true;

  // One ordered query of the news list; a site or category sort merges several.
  struct ListStream {
    std::unique_ptr<Statement> st;
    bool primed = false;
    bool live = false;
    // The current row's merge key, read once per row.
    std::string_view date;
    int64_t id = 0;
    void Advance();
  };
  bool AddStream(const std::string& sql, bool withPair, int64_t pair);
  struct PairNames {
    std::string site;
    std::string category;
  };
  bool LoadPairNames();
  enum class CandidateWay { kCollect, kMark, kWalk };
  CandidateWay ChooseCandidateWay(const std::string& query);
  // Fills temp.list_candidates with the index's candidates for query.
  bool MarkCandidates(const std::string& query);
  const PairNames& NamesOf(int64_t pair);  // -1: none
  std::unordered_map<int64_t, PairNames> pairNames_;  // -1: news without a pair
  const PairNames* itemNames_ = nullptr;  // those in newsItem_
  bool OpenNextGroup();
  bool OpenOrphans();

  std::vector<ListStream> streams_;
  std::vector<SqlValue> listParams_;
  bool grouped_ = false;
  std::vector<int64_t> groups_;  // sites or categories in order; -1: news without one
  size_t nextGroup_ = 0;
  std::string pairsSql_;
  std::string pairSql_;
  std::string orphanSql_;
  CNewsListItemStruct newsItem_;
  std::vector<int32_t> currentResult_;
  std::vector<int32_t> lastResult_;
  std::unordered_set<int32_t> withinResult_;  // search in found
  bool restrictToFound_ = false;

  struct HourSlot {
    int64_t hour = -1;  // YYYYMMDDHH
    std::time_t time = -1;
  };
  std::vector<HourSlot> hourSlots_ = std::vector<HourSlot>(8192);
  int64_t lastHour_ = -1;
  std::time_t lastHourTime_ = -1;

  CNewsInfoItemStruct info_;
  CNewsDetailItemStruct detail_;

  std::unique_ptr<Statement> categoryEnum_;
  CNewsCategoryStruct category_;
  std::unique_ptr<Statement> filterEnum_;
  CFilterListItemStruct filterItem_;
  std::unique_ptr<Statement> linkEnum_;
  CFilterSiteCatRelStruct link_;
  CFilterStruct filter_;
};

}  // namespace orvo

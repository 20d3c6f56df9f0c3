// CDBManager: every database operation of the reader.
//
// Not thread-safe by itself: the reader holds its one database lock around
// every call, from whichever thread. Pointers returned by an enumeration or a
// load stay valid until the next call of the same kind.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "records.h"

namespace orvo {

class Database;
class NewsList;
enum class SearchWay : int;  // store/news_list.h
struct PairRow;
struct FilterName;

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
  // True when the database's server went away (PostgreSQL): every operation
  // fails until Init opens it again.
  bool ConnectionLost() const;
  // SQLite's code of the last failed operation (0 after success).
  int lastError() const { return lastError_; }
  // Why the last Init failed, as the database said it (a server's reason names it).
  const std::string& openError() const { return openError_; }

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
  // How a search goes through the index's candidates (store/news_list.h);
  // tests and benchmarks set one.
  SearchWay searchWay{};  // kChosen
  // The way the last list's search went.
  SearchWay lastSearchWay() const;

 private:
  bool Fail(int rc);
  // False (with SQLITE_READONLY_DBMOVED as the last error) when nothing may
  // be written: no database, or its file changed under it.
  bool Writable();
  // A listed date: mktime reads the time-zone file on every call, so each
  // hour is converted once.
  std::time_t ListTime(std::string_view text);

  std::unique_ptr<Database> db_;
  int lastError_ = 0;
  std::string openError_;
  // The opened file's identity.
  uint64_t fileDevice_ = 0;
  uint64_t fileInode_ = 0;

  std::vector<std::string> keywords_;
  bool withFilter_ = false;
  int32_t filterId_ = -1;
  std::vector<int64_t> pairs_;
  int sortColumn_ = 0;
  bool ascending_ = true;

  std::unique_ptr<NewsList> list_;
  CNewsListItemStruct newsItem_;
  const std::string* itemSite_ = nullptr;  // the names in newsItem_
  const std::string* itemCategory_ = nullptr;
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

  // The enumerations: read whole at their start, handed out one at a time.
  std::vector<PairRow> categories_;
  size_t nextCategory_ = 0;
  bool categoriesOpen_ = false;
  CNewsCategoryStruct category_;
  std::vector<FilterName> filters_;
  size_t nextFilter_ = 0;
  bool filtersOpen_ = false;
  CFilterListItemStruct filterItem_;
  std::vector<PairRow> links_;
  size_t nextLink_ = 0;
  bool linksOpen_ = false;
  CFilterSiteCatRelStruct link_;
  CFilterStruct filter_;
};

}  // namespace orvo

#include "dbmanager.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "database.h"
#include "file_locks.h"
#include "settings.h"
#include "store/filters.h"
#include "store/news_items.h"
#include "store/news_list.h"
#include "store/pairs.h"
#include "text.h"

namespace orvo {

namespace {

bool Digits(std::string_view s, size_t from, size_t count) {
  for (size_t i = from; i < from + count; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

int Number(std::string_view s, size_t from, size_t count) {
  int n = 0;
  for (size_t i = from; i < from + count; ++i) n = n * 10 + (s[i] - '0');
  return n;
}

// Before main, so before any connection of the reader's process opens.
const bool g_locksPerOpenFile = HoldDatabaseLocksPerOpenFile();

}  // namespace

std::time_t CDBManager::ListTime(std::string_view t) {
  // "YYYY-MM-DD HH:MM:SS": the hour goes through mktime once, the rest is added.
  if (t.size() == 19 && Digits(t, 0, 4) && t[4] == '-' && Digits(t, 5, 2) && t[7] == '-' && Digits(t, 8, 2) &&
      t[10] == ' ' && Digits(t, 11, 2) && t[13] == ':' && Digits(t, 14, 2) && t[16] == ':' && Digits(t, 17, 2) &&
      Number(t, 14, 2) < 60 && Number(t, 17, 2) < 60) {
    int64_t hour = ((static_cast<int64_t>(Number(t, 0, 4)) * 100 + Number(t, 5, 2)) * 100 + Number(t, 8, 2)) * 100 +
                   Number(t, 11, 2);
    // Neighbouring rows often share the hour (always in a date sort); other
    // sorts jump between hours, which a slot per hour of the last months keeps
    // cheap (a hashed map of nodes costs a cache miss a row at a million).
    if (hour != lastHour_) {
      int64_t serial = ((static_cast<int64_t>(Number(t, 0, 4)) * 12 + Number(t, 5, 2)) * 31 + Number(t, 8, 2)) * 24 +
                       Number(t, 11, 2);
      HourSlot& slot = hourSlots_[static_cast<size_t>(serial) % hourSlots_.size()];
      if (slot.hour != hour) {
        slot.hour = hour;
        slot.time = ParseDbTime(std::string(t.substr(0, 13)) + ":00:00").value_or(-1);
      }
      lastHour_ = hour;
      lastHourTime_ = slot.time;
    }
    if (lastHourTime_ != -1) return lastHourTime_ + Number(t, 14, 2) * 60 + Number(t, 17, 2);
  }
  return ParseDbTime(t).value_or(0);
}

CDBManager::CDBManager() = default;
CDBManager::~CDBManager() = default;

bool CDBManager::Fail(int rc) {
  lastError_ = rc;
  return rc == 0;
}

namespace {
struct HeldFile {
  std::string name;
  dev_t device;
  ino_t inode;
};

// The "-wal" and "-shm" files of `dbPath` that this process has open.
std::vector<HeldFile> JournalFilesHeldHere(const std::string& dbPath) {
  std::vector<HeldFile> held;
  for (const char* suffix : {"-wal", "-shm"}) {
    const std::string name = dbPath + suffix;
    struct stat file {};
    if (::stat(name.c_str(), &file) != 0) continue;
    std::error_code ec;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
      struct stat open {};
      if (::stat(fd.path().c_str(), &open) == 0 && open.st_dev == file.st_dev && open.st_ino == file.st_ino) {
        held.push_back({name, file.st_dev, file.st_ino});
        break;
      }
    }
  }
  return held;
}
}  // namespace

bool CDBManager::FileChanged() const {
  if (!db_ || db_->backend() != Database::Backend::kSqlite) return false;  // a server's database is no file
  struct stat st {};
  if (::stat(db_->path().c_str(), &st) != 0) return true;
  return static_cast<uint64_t>(st.st_dev) != fileDevice_ || static_cast<uint64_t>(st.st_ino) != fileInode_;
}

bool CDBManager::ConnectionLost() const { return db_ && db_->Lost(); }

bool CDBManager::Writable() {
  if (!db_) return Fail(SQLITE_MISUSE);
  if (FileChanged()) return Fail(SQLITE_READONLY_DBMOVED);
  return true;
}

bool CDBManager::Init(const std::string& path) {
  (void)g_locksPerOpenFile;
  list_.reset();
  categoriesOpen_ = filtersOpen_ = linksOpen_ = false;
  lastDetail = nullptr;
  // The journal files beside a file that was deleted or replaced are the old
  // file's, held open here: left behind, the next open would read the old
  // file's pages into the new one. They go with the old connection.
  std::vector<HeldFile> stale;
  if (db_ && FileChanged()) stale = JournalFilesHeldHere(db_->path());
  db_.reset();
  for (const HeldFile& f : stale) {
    struct stat now {};
    if (::stat(f.name.c_str(), &now) == 0 && now.st_dev == f.device && now.st_ino == f.inode) ::unlink(f.name.c_str());
  }
  std::string file = path;
  if (file.empty()) file = NewsDatabaseLocation(Settings::Shared(), kReaderBuffer);
  openError_.clear();
  if (!Fail(Database::Open(file, Database::Mode::kExisting, &db_, &openError_))) return false;
  struct stat st {};
  if (::stat(db_->path().c_str(), &st) == 0) {
    fileDevice_ = static_cast<uint64_t>(st.st_dev);
    fileInode_ = static_cast<uint64_t>(st.st_ino);
  }
  // The grid's and the search's indexes come with the schema, or for an
  // older database from the background upgrade: start-up builds none.
  PrepareForLists(*db_);
  return true;
}

void CDBManager::AddSearchKeyword(const std::string& keyword) {
  if (!keyword.empty()) keywords_.push_back(keyword);
}

void CDBManager::SetSort(int column) {
  if (column < 0 || column > 3) return;
  if (column == sortColumn_) {
    ascending_ = !ascending_;
  } else {
    sortColumn_ = column;
    ascending_ = true;
  }
}

SearchWay CDBManager::lastSearchWay() const { return list_ ? list_->way() : SearchWay::kChosen; }

bool CDBManager::BeginNewsListEnum() {
  if (list_) list_->Close();
  currentResult_.clear();
  itemSite_ = itemCategory_ = nullptr;
  if (!db_) return Fail(SQLITE_MISUSE);
  NewsListQuery q;
  q.keywords = keywords_;
  q.unreadOnly = unreadOnly;
  q.pairs = pairs_;
  q.sort = sortColumn_;
  q.ascending = ascending_;
  q.way = searchWay;
  if (withFilter_) {
    const CFilterStruct* f = FetchFilter(filterId_);
    if (!f) {
      if (lastError_ == 0) lastError_ = SQLITE_NOTFOUND;
      return false;
    }
    FilterRow row;
    row.id = f->id;
    row.keywords = f->keywords;
    row.searchMode = f->searchMode;
    row.timeKind = f->timeKind;
    row.dateFrom = f->from;
    row.dateTo = f->to;
    row.days = f->days;
    row.hours = f->hours;
    row.minutes = f->minutes;
    q.filter = row;
    q.now = std::time(nullptr);
    if (!Fail(ReadFilterLinks(*db_, filterId_, &q.filterPairs))) return false;
  }
  if (!list_) list_ = std::make_unique<NewsList>();
  if (!Fail(list_->Open(*db_, q))) {
    list_->Close();
    return false;
  }
  restrictToFound_ = searchInFound;
  if (restrictToFound_) withinResult_ = std::unordered_set<int32_t>(lastResult_.begin(), lastResult_.end());
  return true;
}

const CNewsListItemStruct* CDBManager::EnumNextNewsListItem() {
  if (!list_) return nullptr;
  NewsListRow row;
  while (list_->Next(&row)) {
    auto id = static_cast<int32_t>(row.id);
    if (restrictToFound_ && !withinResult_.count(id)) continue;
    newsItem_.id = id;
    newsItem_.pair = row.pair;
    // Neighbouring rows mostly share their pair: its names are copied once.
    if (row.site != itemSite_ || row.category != itemCategory_) {
      newsItem_.site.assign(*row.site);
      newsItem_.category.assign(*row.category);
      itemSite_ = row.site;
      itemCategory_ = row.category;
    }
    newsItem_.date = ListTime(row.date);
    newsItem_.title.assign(row.title);
    newsItem_.read = row.read;
    currentResult_.push_back(id);
    return &newsItem_;
  }
  if (list_->error()) Fail(list_->error());
  list_->Close();
  return nullptr;
}

void CDBManager::EndNewsListEnum() {
  if (list_) list_->Close();
  lastResult_ = std::move(currentResult_);
  currentResult_.clear();
  withinResult_.clear();
}

void CDBManager::ClearNewsList() {
  if (list_) list_->Close();
  currentResult_.clear();
  lastResult_.clear();
  withinResult_.clear();
}

const CNewsInfoItemStruct* CDBManager::LoadNewsInfo(int32_t id) {
  if (!db_) return nullptr;
  NewsInfo info;
  if (!Fail(ReadNewsInfo(*db_, id, &info))) return nullptr;
  info_.title = std::move(info.title);
  info_.published = info.published;
  info_.link = std::move(info.link);
  info_.site = std::move(info.site);
  info_.category = std::move(info.category);
  info_.author = std::move(info.author);
  info_.foundWithoutMask = info.foundWithoutMask;
  return &info_;
}

const CNewsDetailItemStruct* CDBManager::LoadNewsDetail(int32_t id) {
  lastDetail = nullptr;
  if (!db_) return nullptr;
  NewsText text;
  if (!Fail(ReadNewsText(*db_, id, &text))) return nullptr;
  detail_ = CNewsDetailItemStruct{};
  detail_.body = std::move(text.body);
  detail_.imagePositions = std::move(text.imagePositions);
  detail_.imageSources = std::move(text.imageSources);
  detail_.imageCaptions = std::move(text.imageCaptions);
  detail_.imageBytes = std::move(text.imageBytes);
  lastDetail = &detail_;
  return lastDetail;
}

long CDBManager::MarkAsRead(int32_t id, bool read) {
  if (!Writable()) return lastError_;
  Fail(MarkNewsRead(*db_, id, read));
  return lastError_;
}

long CDBManager::MarkAsRead(const std::vector<int32_t>& ids, bool read) {
  if (!Writable()) return lastError_;
  Fail(MarkNewsRead(*db_, ids, read));
  return lastError_;
}

long CDBManager::DeleteNewItems(const std::vector<int32_t>& ids) {
  if (!Writable()) return lastError_;
  Fail(DeleteNews(*db_, ids));
  return lastError_;
}

bool CDBManager::BeginNewsCategoryEnum(int /*kind*/) {
  categoriesOpen_ = false;
  nextCategory_ = 0;
  if (!db_) return Fail(SQLITE_MISUSE);
  if (!Fail(ListPairs(*db_, &categories_))) return false;
  categoriesOpen_ = true;
  return true;
}

const CNewsCategoryStruct* CDBManager::EnumNextNewsCategory() {
  if (!categoriesOpen_ || nextCategory_ >= categories_.size()) return nullptr;
  PairRow& p = categories_[nextCategory_++];
  category_.categoryId = p.categoryId;
  category_.siteId = p.siteId;
  category_.categoryName = std::move(p.categoryName);
  category_.siteName = std::move(p.siteName);
  category_.selected = p.selected;
  return &category_;
}

void CDBManager::EndNewsCategoryEnum() {
  categoriesOpen_ = false;
  categories_.clear();
}

bool CDBManager::UpdateCategories(const int32_t* categoryIds, const int32_t* siteIds, int count, bool selected) {
  if (!Writable()) return false;
  std::vector<PairKey> pairs;
  for (int i = 0; i < count; ++i) pairs.push_back({categoryIds[i], siteIds[i]});
  return Fail(SelectPairs(*db_, pairs, selected));
}

bool CDBManager::IsAnySelected() {
  if (!db_) return false;
  bool any = false;
  Fail(AnyPairSelected(*db_, &any));
  return any;
}

bool CDBManager::BeginFilterListItemEnum() {
  filtersOpen_ = false;
  nextFilter_ = 0;
  if (!db_) return Fail(SQLITE_MISUSE);
  if (!Fail(ListFilters(*db_, &filters_))) return false;
  filtersOpen_ = true;
  return true;
}

const CFilterListItemStruct* CDBManager::EnumNextFilterListItem() {
  if (!filtersOpen_ || nextFilter_ >= filters_.size()) return nullptr;
  FilterName& f = filters_[nextFilter_++];
  filterItem_.id = static_cast<int32_t>(f.id);
  filterItem_.name = std::move(f.name);
  return &filterItem_;
}

void CDBManager::EndFilterListItemEnum() {
  filtersOpen_ = false;
  filters_.clear();
}

bool CDBManager::BeginFilterSiteCatRelEnum(int32_t filterId) {
  linksOpen_ = false;
  nextLink_ = 0;
  if (!db_) return Fail(SQLITE_MISUSE);
  if (!Fail(ListFilterPairs(*db_, filterId, &links_))) return false;
  linksOpen_ = true;
  return true;
}

const CFilterSiteCatRelStruct* CDBManager::EnumNextFilterSiteCatRel() {
  if (!linksOpen_ || nextLink_ >= links_.size()) return nullptr;
  PairRow& p = links_[nextLink_++];
  link_.categoryId = p.categoryId;
  link_.categoryName = std::move(p.categoryName);
  link_.siteId = p.siteId;
  link_.siteName = std::move(p.siteName);
  return &link_;
}

void CDBManager::EndFilterSiteCatRelEnum() {
  linksOpen_ = false;
  links_.clear();
}

const CFilterStruct* CDBManager::FetchFilter(int32_t id) {
  if (!db_) return nullptr;
  FilterRow f;
  if (!Fail(ReadFilter(*db_, id, &f))) return nullptr;
  filter_.id = static_cast<int32_t>(f.id);
  filter_.name = std::move(f.name);
  filter_.keywords = std::move(f.keywords);
  filter_.searchMode = f.searchMode;
  filter_.timeKind = f.timeKind;
  filter_.from = f.dateFrom.value_or(0);
  filter_.to = f.dateTo.value_or(0);
  filter_.days = f.days;
  filter_.hours = f.hours;
  filter_.minutes = f.minutes;
  filter_.usedInLit = f.litGen;
  return &filter_;
}

namespace {

FilterRow RowOf(const CFilterStruct& f) {
  FilterRow row;
  row.id = f.id;
  row.name = f.name;
  row.keywords = f.keywords;
  row.searchMode = f.searchMode;
  row.timeKind = f.timeKind;
  row.dateFrom = f.from;
  row.dateTo = f.to;
  row.days = f.days;
  row.hours = f.hours;
  row.minutes = f.minutes;
  row.litGen = f.usedInLit;
  return row;
}

std::vector<PairKey> KeysOf(const int32_t* categoryIds, const int32_t* siteIds, int count) {
  std::vector<PairKey> keys;
  for (int i = 0; i < count; ++i) keys.push_back({categoryIds[i], siteIds[i]});
  return keys;
}

}  // namespace

int32_t CDBManager::CreateFilter(const CFilterStruct& filter, const int32_t* categoryIds, const int32_t* siteIds,
                                 int count) {
  if (!Writable()) return -1;
  int64_t id = -1;
  if (!Fail(orvo::CreateFilter(*db_, RowOf(filter), KeysOf(categoryIds, siteIds, count), &id))) return -1;
  return static_cast<int32_t>(id);
}

bool CDBManager::UpdateFilter(const CFilterStruct& filter, const int32_t* categoryIds, const int32_t* siteIds,
                              int count) {
  if (!Writable()) return false;
  return Fail(orvo::UpdateFilter(*db_, RowOf(filter), KeysOf(categoryIds, siteIds, count)));
}

bool CDBManager::DeleteFilter(int32_t id) {
  if (!Writable()) return false;
  return Fail(orvo::DeleteFilter(*db_, id));
}

bool CDBManager::CountNewsPerPair(std::vector<CPairCountStruct>* counts) {
  counts->clear();
  if (!db_) return Fail(SQLITE_MISUSE);
  std::vector<PairNewsCount> rows;
  int rc = orvo::CountNewsPerPair(*db_, &rows);
  for (PairNewsCount& r : rows) {
    CPairCountStruct c;
    c.pairId = r.pairId;
    c.siteId = r.siteId;
    c.categoryId = r.categoryId;
    c.siteName = std::move(r.siteName);
    c.categoryName = std::move(r.categoryName);
    c.unread = r.unread;
    c.total = r.total;
    counts->push_back(std::move(c));
  }
  return Fail(rc);
}

int64_t CDBManager::LastNewsId() {
  if (!db_) return (Fail(SQLITE_MISUSE), -1);
  int64_t id = -1;
  if (!Fail(orvo::LastNewsId(*db_, &id))) return -1;
  return id;
}

bool CDBManager::CountNewsAfter(int64_t id, int64_t* items, int64_t* sites) {
  *items = *sites = 0;
  if (!db_) return Fail(SQLITE_MISUSE);
  return Fail(orvo::CountNewsAfter(*db_, id, items, sites));
}

long CDBManager::StartTransaction() {
  if (!Writable()) return lastError_;
  return lastError_ = db_->Begin();
}

long CDBManager::Commit() {
  if (!db_) return lastError_ = SQLITE_MISUSE;
  return lastError_ = db_->Commit();
}

long CDBManager::Abort() {
  if (!db_) return lastError_ = SQLITE_MISUSE;
  return lastError_ = db_->Rollback();
}

}  // namespace orvo

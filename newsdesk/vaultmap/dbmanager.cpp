#include "dbmanager.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "file_locks.h"
#include "settings.h"
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

std::string Contains(const std::string& escaped) { return "%" + escaped + "%"; }

// Every pair's site and category name; a pair without one has "".
constexpr const char* kPairNamesSql =
    "SELECT r.id, c.site_name, k.name FROM site_cat_rel r"
    " LEFT JOIN news_config c ON c.id = r.fk_news_config"
    " LEFT JOIN news_cat k ON k.id = r.fk_news_cat";

const char* SortExpression(int column) {
  switch (column) {
    case 1: return "k.name COLLATE NOCASE";
    case 2: return "n.publication_date";
    case 3: return "n.title COLLATE NOCASE";
    default: return "c.site_name COLLATE NOCASE";
  }
}

// A savepoint works inside the reader's own transaction and outside it.
class Savepoint {
 public:
  explicit Savepoint(Database& db) : db_(db), status_(db.Exec("SAVEPOINT vaultmap")) {}
  ~Savepoint() {
    if (status_ == 0 && !done_) {
      db_.Exec("ROLLBACK TO vaultmap");
      db_.Exec("RELEASE vaultmap");
    }
  }
  int status() const { return status_; }
  int Release() {
    done_ = true;
    return db_.Exec("RELEASE vaultmap");
  }

 private:
  Database& db_;
  int status_;
  bool done_ = false;
};

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

bool CDBManager::Writable() {
  if (!db_) return Fail(SQLITE_MISUSE);
  if (FileChanged()) return Fail(SQLITE_READONLY_DBMOVED);
  return true;
}

bool CDBManager::Init(const std::string& path) {
  (void)g_locksPerOpenFile;
  streams_.clear();
  categoryEnum_.reset();
  filterEnum_.reset();
  linkEnum_.reset();
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
  if (!Fail(Database::Open(file, Database::Mode::kExisting, &db_))) return false;
  struct stat st {};
  if (::stat(db_->path().c_str(), &st) == 0) {
    fileDevice_ = static_cast<uint64_t>(st.st_dev);
    fileInode_ = static_cast<uint64_t>(st.st_ino);
  }
  // The grid's and the search's indexes come with the schema, or for an
  // older database from the background upgrade: start-up builds none.
  // The reader walks the whole news table for every list: read it through a
  // memory map rather than copies, and sort in memory, not in temporary files.
  db_->Exec("PRAGMA mmap_size = 268435456; PRAGMA temp_store = MEMORY");
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

// The filter's keywords, time and site/category pairs as one condition, with
// its values appended to `params` in order.
bool CDBManager::AppendFilterCondition(int32_t filterId, bool indexed, std::string* sql,
                                       std::vector<SqlValue>* params, IndexQuery* candidates) {
  const CFilterStruct* f = FetchFilter(filterId);
  if (!f) return false;
  std::vector<std::string> words = SplitWords(f->keywords);
  // An excluding test through the index: NOT (candidate AND LIKE), so that
  // only candidates pay for the LIKE.
  auto notLike = [&](const std::string& pattern) {
    IndexQuery q = indexed ? IndexQueryForLike(pattern) : std::nullopt;
    if (!q) {
      params->push_back(pattern);
      return std::string("n.body NOT LIKE ?");
    }
    params->push_back(*q);
    params->push_back(pattern);
    return "NOT (" + IndexCandidatesSql("n.id") + " AND n.body LIKE ?)";
  };
  auto join = [&](bool exclude, const char* glue) {
    std::string part = " AND (";
    IndexQuery all;
    for (size_t i = 0; i < words.size(); ++i) {
      if (i) part += glue;
      std::string pattern = Contains(words[i]);
      if (exclude) {
        part += notLike(pattern);
        continue;
      }
      part += "n.body LIKE ?";
      params->push_back(pattern);
      IndexQuery q = IndexQueryForLike(pattern);
      all = i == 0 ? q : (std::string(glue) == " AND " ? IndexAnd(all, q) : IndexOr(all, q));
    }
    *sql += part + ")";
    if (!exclude) *candidates = IndexAnd(*candidates, all);
  };
  switch (f->searchMode) {
    case 0: if (!words.empty()) join(false, " AND "); break;
    case 1: if (!words.empty()) join(false, " OR "); break;
    // An item is dropped only when it holds every word.
    case 3: if (!words.empty()) join(true, " OR "); break;
    case 4: if (!words.empty()) join(true, " AND "); break;
    case 2:
      *sql += " AND n.body LIKE ?";
      params->push_back(Contains(f->keywords));
      *candidates = IndexAnd(*candidates, IndexQueryForLike(Contains(f->keywords)));
      break;
    case 5:
      *sql += " AND " + notLike(Contains(f->keywords));
      break;
    default: break;
  }
  if (f->timeKind == 1) {
    // The editor picks whole days: from the start of one to the end of the other.
    std::string from = FormatDbTime(f->from).substr(0, 10) + " 00:00:00";
    std::string to = FormatDbTime(f->to).substr(0, 10) + " 23:59:59";
    *sql += " AND n.publication_date >= ? AND n.publication_date <= ?";
    params->push_back(from);
    params->push_back(to);
  } else if (f->timeKind == 2) {
    std::time_t start = std::time(nullptr) - (static_cast<std::time_t>(f->days) * 86400 +
                                              static_cast<std::time_t>(f->hours) * 3600 + f->minutes * 60);
    *sql += " AND n.publication_date >= ?";
    params->push_back(FormatDbTime(start));
  }
  // A filter without pairs matches nothing, as in the eBooks.
  *sql += " AND n.fk_site_cat_rel IN (SELECT fk_site_cat_rel FROM filter_site_cat_rel WHERE fk_filter = ?)";
  params->push_back(static_cast<int64_t>(filterId));
  return true;
}

// Sorting 100,000 joined rows before the first one comes back is slow. So a
// title or date sort walks an index, and a site or category sort walks the
// sites (categories) in name order, merging the date-ordered news of each
// one's site/category pairs: the first row comes at once and nothing is sorted.
// The rows carry their pair's id only; the few pairs' names are read once per
// list, so a sorted list reads nothing but its covering index.
bool CDBManager::BeginNewsListEnum() {
  streams_.clear();
  currentResult_.clear();
  groups_.clear();
  nextGroup_ = 0;
  if (!db_) return Fail(SQLITE_MISUSE);
  if (!LoadPairNames()) return false;
  const std::string select = "SELECT n.id, n.fk_site_cat_rel, n.publication_date, n.title, n.is_read FROM newsitem n";
  std::string sql = " WHERE n.is_del = 0";
  std::vector<SqlValue> params;
  if (unreadOnly) sql += " AND n.is_read = 0";
  if (!pairs_.empty()) {
    sql += " AND n.fk_site_cat_rel IN (";
    for (size_t i = 0; i < pairs_.size(); ++i) sql += (i ? "," : "") + std::to_string(pairs_[i]);
    sql += ")";
  }
  // With the search index complete, the LIKE tests run on its candidates only.
  const bool indexed = (!keywords_.empty() || withFilter_) && SearchIndexReady(*db_);
  IndexQuery candidates;
  for (const std::string& k : keywords_) {
    sql += " AND (n.title LIKE ? OR n.body LIKE ?)";
    params.push_back(Contains(k));
    params.push_back(Contains(k));
    candidates = IndexAnd(candidates, IndexQueryForLike(Contains(k)));
  }
  if (withFilter_ && !AppendFilterCondition(filterId_, indexed, &sql, &params, &candidates)) {
    if (lastError_ == 0) lastError_ = SQLITE_NOTFOUND;
    return false;
  }
  if (indexed && candidates) {
    switch (ChooseCandidateWay(*candidates)) {
      case CandidateWay::kCollect:
        sql += " AND " + IndexCandidatesSql("n.id");
        params.push_back(*candidates);
        break;
      case CandidateWay::kMark:
        if (!MarkCandidates(*candidates)) return false;
        // The plus keeps the planner walking the list's order; the id test
        // needs only the index, so it comes before the row's body is read.
        sql += " AND +n.id IN temp.list_candidates";
        break;
      case CandidateWay::kWalk:
        break;
    }
  }
  listParams_ = std::move(params);
  grouped_ = sortColumn_ == 0 || sortColumn_ == 1;
  if (grouped_) {
    // The groups in name order; news without a site or category come last.
    Statement g(*db_, sortColumn_ == 0 ? "SELECT id FROM news_config ORDER BY site_name COLLATE NOCASE, id"
                                       : "SELECT id FROM news_cat ORDER BY name COLLATE NOCASE, id");
    while (g.Next()) groups_.push_back(g.Int(0));
    if (g.error()) return Fail(g.error());
    if (!ascending_) std::reverse(groups_.begin(), groups_.end());
    groups_.push_back(-1);
    pairsSql_ = sortColumn_ == 0 ? "SELECT id FROM site_cat_rel WHERE fk_news_config = ? ORDER BY id"
                                 : "SELECT id FROM site_cat_rel WHERE fk_news_cat = ? ORDER BY id";
    pairSql_ = select + sql + " AND n.fk_site_cat_rel = ? ORDER BY n.publication_date DESC, n.id DESC";
    orphanSql_ = select + sql + " AND n.fk_site_cat_rel IS NULL ORDER BY n.publication_date DESC, n.id DESC";
    if (!OpenNextGroup()) return Fail(lastError_ ? lastError_ : SQLITE_ERROR);
  } else {
    // The tie-break runs the same way, so an index gives the rows in order.
    const char* dir = ascending_ ? " ASC" : " DESC";
    sql += std::string(" ORDER BY ") + SortExpression(sortColumn_) + dir + ", n.id" + dir;
    if (!AddStream(select + sql, false, 0)) return false;
  }
  restrictToFound_ = searchInFound;
  if (restrictToFound_) withinResult_ = std::unordered_set<int32_t>(lastResult_.begin(), lastResult_.end());
  return Fail(0);
}

// Collecting and sorting a search's candidates holds back the first row until
// every candidate has passed its LIKE tests: right for a few, slow for a
// word in thousands of items. Those are noted once by id, and the list walks
// its own order testing each row's id, so the first row comes at once and
// only candidates pay for the LIKE. A word in a large share of the items
// walks the list's order with the LIKE tests alone: noting them all would
// cost more than it saves. The rows are the same every way.
CDBManager::CandidateWay CDBManager::ChooseCandidateWay(const std::string& query) {
  int64_t items = 0;
  {
    Statement s(*db_, "SELECT coalesce(max(id), 0) FROM newsitem");
    if (s.Next()) items = s.Int(0);
  }
  const int64_t walkFrom = static_cast<int64_t>(std::ceil(static_cast<double>(items) * walkShare));
  // Counting stops where the answer is known.
  Statement s(*db_, "SELECT count(*) FROM (SELECT rowid FROM newsitem_fts WHERE newsitem_fts MATCH ? LIMIT ?)");
  s.Bind(1, query).Bind(2, std::max(manyCandidatesAtLeast, walkFrom));
  const int64_t count = s.Next() ? s.Int(0) : 0;
  if (count < manyCandidatesAtLeast) return CandidateWay::kCollect;
  return count >= walkFrom ? CandidateWay::kWalk : CandidateWay::kMark;
}

bool CDBManager::MarkCandidates(const std::string& query) {
  if (int rc = db_->Exec("CREATE TEMP TABLE IF NOT EXISTS list_candidates (id INTEGER PRIMARY KEY);"
                         "DELETE FROM temp.list_candidates")) {
    return Fail(rc);
  }
  Statement s(*db_, "INSERT INTO temp.list_candidates SELECT rowid FROM newsitem_fts WHERE newsitem_fts MATCH ?");
  s.Bind(1, query);
  if (int rc = s.Execute()) return Fail(rc);
  return true;
}

bool CDBManager::LoadPairNames() {
  itemNames_ = nullptr;
  pairNames_.clear();
  Statement s(*db_, kPairNamesSql);
  while (s.Next()) pairNames_[s.Int(0)] = PairNames{s.Text(1), s.Text(2)};
  return s.error() ? Fail(s.error()) : true;
}

// A pair made after the list began is read when its first item comes.
const CDBManager::PairNames& CDBManager::NamesOf(int64_t pair) {
  auto it = pairNames_.find(pair);
  if (it != pairNames_.end()) return it->second;
  PairNames names;
  if (pair != -1) {
    Statement s(*db_, std::string(kPairNamesSql) + " WHERE r.id = ?");
    s.Bind(1, pair);
    if (s.Next()) names = PairNames{s.Text(1), s.Text(2)};
  }
  return pairNames_.emplace(pair, std::move(names)).first->second;
}

bool CDBManager::AddStream(const std::string& sql, bool withPair, int64_t pair) {
  ListStream stream;
  stream.st = std::make_unique<Statement>(*db_, sql);
  size_t i = 0;
  for (; i < listParams_.size(); ++i)
    listParams_[i].isNumber ? stream.st->Bind(static_cast<int>(i + 1), listParams_[i].number)
                            : stream.st->Bind(static_cast<int>(i + 1), listParams_[i].text);
  if (withPair) stream.st->Bind(static_cast<int>(i + 1), pair);
  if (int rc = stream.st->error()) {
    streams_.clear();
    return Fail(rc);
  }
  streams_.push_back(std::move(stream));
  return true;
}

// The streams of the next site or category. Their first rows are read later,
// on the loader thread.
bool CDBManager::OpenNextGroup() {
  streams_.clear();
  if (nextGroup_ >= groups_.size()) return false;
  int64_t group = groups_[nextGroup_++];
  if (group == -1) return OpenOrphans();
  std::vector<int64_t> pairs;
  {
    Statement p(*db_, pairsSql_);
    p.Bind(1, group);
    while (p.Next()) pairs.push_back(p.Int(0));
    if (p.error()) return Fail(p.error());
  }
  for (int64_t pair : pairs)
    if (!AddStream(pairSql_, true, pair)) return false;
  return true;
}

// News without a site (category) last: those without a pair, and those of
// the pairs that name none or a missing one. Testing each item for that
// would read the whole table; instead the pair ids the news use are walked
// through the pair index, one seek per id, and each orphaned one gets a
// stream like a group's pair.
bool CDBManager::OpenOrphans() {
  std::unordered_set<int64_t> grouped;
  {
    Statement g(*db_, sortColumn_ == 0 ? "SELECT r.id FROM site_cat_rel r JOIN news_config g ON g.id = r.fk_news_config"
                                       : "SELECT r.id FROM site_cat_rel r JOIN news_cat g ON g.id = r.fk_news_cat");
    while (g.Next()) grouped.insert(g.Int(0));
    if (g.error()) return Fail(g.error());
  }
  std::vector<int64_t> orphans;
  {
    Statement used(*db_, "SELECT fk_site_cat_rel FROM newsitem WHERE fk_site_cat_rel > ?"
                         " ORDER BY fk_site_cat_rel LIMIT 1");
    int64_t after = INT64_MIN;
    for (;;) {
      used.Reset();
      used.Bind(1, after);
      if (!used.Next()) break;
      after = used.Int(0);
      if (!grouped.count(after)) orphans.push_back(after);
    }
    if (used.error()) return Fail(used.error());
  }
  if (!AddStream(orphanSql_, false, 0)) return false;
  for (int64_t pair : orphans)
    if (!AddStream(pairSql_, true, pair)) return false;
  return true;
}

void CDBManager::ListStream::Advance() {
  primed = true;
  live = st->Next();
  if (live) {
    date = st->TextView(2);
    id = st->Int(0);
  }
}

const CNewsListItemStruct* CDBManager::EnumNextNewsListItem() {
  for (;;) {
    ListStream* best = nullptr;
    for (ListStream& s : streams_) {
      if (!s.primed) s.Advance();
      if (int rc = s.st->error()) {
        Fail(rc);
        streams_.clear();
        return nullptr;
      }
      if (!s.live) continue;
      // Newest first, then the higher id, as the single-pair queries order.
      if (!best) {
        best = &s;
        continue;
      }
      int byDate = s.date.compare(best->date);
      if (byDate > 0 || (byDate == 0 && s.id > best->id)) best = &s;
    }
    if (!best) {
      if (!grouped_ || !OpenNextGroup()) {
        streams_.clear();
        return nullptr;
      }
      continue;
    }
    const Statement& s = *best->st;
    // Each column is read once: a row's reads cost as much as its step.
    auto id = static_cast<int32_t>(best->id);
    bool take = !restrictToFound_ || withinResult_.count(id);
    if (take) {
      newsItem_.id = id;
      newsItem_.pair = s.IsNull(1) ? -1 : s.Int(1);
      const PairNames& names = NamesOf(newsItem_.pair);
      // Neighbouring rows mostly share their pair: its names are copied once.
      if (&names != itemNames_) {
        newsItem_.site.assign(names.site);
        newsItem_.category.assign(names.category);
        itemNames_ = &names;
      }
      newsItem_.date = ListTime(best->date);
      newsItem_.title.assign(s.TextView(3));
      newsItem_.read = s.Int(4) != 0;
    }
    best->Advance();
    if (take) {
      currentResult_.push_back(id);
      return &newsItem_;
    }
  }
}

void CDBManager::EndNewsListEnum() {
  streams_.clear();
  lastResult_ = std::move(currentResult_);
  currentResult_.clear();
  withinResult_.clear();
}

void CDBManager::ClearNewsList() {
  streams_.clear();
  currentResult_.clear();
  lastResult_.clear();
  withinResult_.clear();
}

const CNewsInfoItemStruct* CDBManager::LoadNewsInfo(int32_t id) {
  if (!db_) return nullptr;
  Statement s(*db_,
              "SELECT n.title, n.publication_date, n.src_url, c.site_name, k.name, n.author"
              " FROM newsitem n"
              " LEFT JOIN site_cat_rel r ON r.id = n.fk_site_cat_rel"
              " LEFT JOIN news_config c ON c.id = r.fk_news_config"
              " LEFT JOIN news_cat k ON k.id = r.fk_news_cat"
              " WHERE n.id = ? AND n.is_del = 0");
  s.Bind(1, id);
  if (!s.Next()) {
    Fail(s.error() ? s.error() : SQLITE_NOTFOUND);
    return nullptr;
  }
  info_.title = s.Text(0);
  info_.published = s.Time(1).value_or(0);
  info_.link = s.Text(2);
  info_.site = s.Text(3);
  info_.category = s.Text(4);
  info_.author = s.Text(5);
  info_.foundWithoutMask = 0;
  // Databases made before the mark existed have no such table.
  Statement has(*db_, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'newsitem_auto'");
  if (has.Next() && has.Int(0) > 0) {
    Statement mark(*db_, "SELECT how FROM newsitem_auto WHERE fk_newsitem = ?");
    mark.Bind(1, id);
    if (mark.Next()) info_.foundWithoutMask = static_cast<int>(mark.Int(0));
  }
  Fail(0);
  return &info_;
}

const CNewsDetailItemStruct* CDBManager::LoadNewsDetail(int32_t id) {
  lastDetail = nullptr;
  if (!db_) return nullptr;
  Statement s(*db_, "SELECT body FROM newsitem WHERE id = ? AND is_del = 0");
  s.Bind(1, id);
  if (!s.Next()) {
    Fail(s.error() ? s.error() : SQLITE_NOTFOUND);
    return nullptr;
  }
  detail_ = CNewsDetailItemStruct{};
  detail_.body = s.Text(0);
  Statement images(*db_,
                   "SELECT bodypos, image_path, imagetext FROM newsimages WHERE fk_newsitem = ?"
                   " ORDER BY bodypos, id");
  images.Bind(1, id);
  while (images.Next()) {
    detail_.imagePositions.push_back(static_cast<int>(images.Int(0)));
    detail_.imageSources.push_back(images.Text(1));
    detail_.imageCaptions.push_back(images.Text(2));
  }
  if (images.error()) {
    Fail(images.error());
    return nullptr;
  }
  Fail(0);
  lastDetail = &detail_;
  return lastDetail;
}

long CDBManager::MarkAsRead(int32_t id, bool read) {
  if (!Writable()) return lastError_;
  Statement s(*db_, "UPDATE newsitem SET is_read = ? WHERE id = ?");
  s.Bind(1, read ? 1 : 0).Bind(2, id);
  int rc = s.Execute();
  if (rc == 0 && db_->Changes() == 0) rc = SQLITE_NOTFOUND;
  Fail(rc);
  return rc;
}

long CDBManager::MarkAsRead(const std::vector<int32_t>& ids, bool read) {
  if (!Writable()) return lastError_;
  // One statement over the ids in table order; rows already so are left
  // alone (each change rewrites the item in every grid index).
  std::vector<int32_t> sorted(ids);
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  std::string list = "[";
  for (size_t i = 0; i < sorted.size(); ++i) {
    if (i) list += ',';
    list += std::to_string(sorted[i]);
  }
  list += ']';
  Savepoint sp(*db_);
  if (sp.status()) return lastError_ = sp.status();
  Statement s(*db_,
              "UPDATE newsitem SET is_read = ?1 WHERE id IN (SELECT value FROM json_each(?2)) AND is_read <> ?1");
  s.Bind(1, read ? 1 : 0).Bind(2, list);
  if (int rc = s.Execute()) return lastError_ = rc;
  int rc = sp.Release();
  Fail(rc);
  return rc;
}

long CDBManager::DeleteNewItems(const std::vector<int32_t>& ids) {
  if (!Writable()) return lastError_;
  Savepoint sp(*db_);
  if (sp.status()) return lastError_ = sp.status();
  Statement s(*db_, "UPDATE newsitem SET is_del = 1 WHERE id = ?");
  for (int32_t id : ids) {
    s.Reset();
    s.Bind(1, id);
    if (int rc = s.Execute()) return lastError_ = rc;
  }
  int rc = sp.Release();
  Fail(rc);
  return rc;
}

bool CDBManager::BeginNewsCategoryEnum(int /*kind*/) {
  categoryEnum_.reset();
  if (!db_) return Fail(SQLITE_MISUSE);
  auto st = std::make_unique<Statement>(
      *db_,
      "SELECT k.id, c.id, k.name, c.site_name, r.is_selected FROM site_cat_rel r"
      " JOIN news_config c ON c.id = r.fk_news_config"
      " JOIN news_cat k ON k.id = r.fk_news_cat"
      " ORDER BY c.site_name COLLATE NOCASE, c.id, k.name COLLATE NOCASE, k.id");
  if (st->error()) return Fail(st->error());
  categoryEnum_ = std::move(st);
  return Fail(0);
}

const CNewsCategoryStruct* CDBManager::EnumNextNewsCategory() {
  if (!categoryEnum_ || !categoryEnum_->Next()) {
    if (categoryEnum_) Fail(categoryEnum_->error());
    return nullptr;
  }
  const Statement& s = *categoryEnum_;
  category_.categoryId = static_cast<int32_t>(s.Int(0));
  category_.siteId = static_cast<int32_t>(s.Int(1));
  category_.categoryName = s.Text(2);
  category_.siteName = s.Text(3);
  category_.selected = s.Int(4) != 0;
  return &category_;
}

void CDBManager::EndNewsCategoryEnum() { categoryEnum_.reset(); }

bool CDBManager::UpdateCategories(const int32_t* categoryIds, const int32_t* siteIds, int count, bool selected) {
  if (!Writable()) return false;
  Savepoint sp(*db_);
  if (sp.status()) return Fail(sp.status());
  Statement s(*db_, "UPDATE site_cat_rel SET is_selected = ? WHERE fk_news_cat = ? AND fk_news_config = ?");
  for (int i = 0; i < count; ++i) {
    s.Reset();
    s.Bind(1, selected ? 1 : 0).Bind(2, categoryIds[i]).Bind(3, siteIds[i]);
    if (int rc = s.Execute()) return Fail(rc);
  }
  return Fail(sp.Release());
}

bool CDBManager::IsAnySelected() {
  if (!db_) return false;
  Statement s(*db_, "SELECT EXISTS (SELECT 1 FROM site_cat_rel WHERE is_selected <> 0)");
  bool any = s.Next() && s.Int(0) != 0;
  Fail(s.error());
  return any;
}

bool CDBManager::BeginFilterListItemEnum() {
  filterEnum_.reset();
  if (!db_) return Fail(SQLITE_MISUSE);
  auto st = std::make_unique<Statement>(*db_, "SELECT id, name FROM filter ORDER BY name COLLATE NOCASE, id");
  if (st->error()) return Fail(st->error());
  filterEnum_ = std::move(st);
  return Fail(0);
}

const CFilterListItemStruct* CDBManager::EnumNextFilterListItem() {
  if (!filterEnum_ || !filterEnum_->Next()) {
    if (filterEnum_) Fail(filterEnum_->error());
    return nullptr;
  }
  filterItem_.id = static_cast<int32_t>(filterEnum_->Int(0));
  filterItem_.name = filterEnum_->Text(1);
  return &filterItem_;
}

void CDBManager::EndFilterListItemEnum() { filterEnum_.reset(); }

bool CDBManager::BeginFilterSiteCatRelEnum(int32_t filterId) {
  linkEnum_.reset();
  if (!db_) return Fail(SQLITE_MISUSE);
  auto st = std::make_unique<Statement>(
      *db_,
      "SELECT k.id, k.name, c.id, c.site_name FROM filter_site_cat_rel l"
      " JOIN site_cat_rel r ON r.id = l.fk_site_cat_rel"
      " JOIN news_config c ON c.id = r.fk_news_config"
      " JOIN news_cat k ON k.id = r.fk_news_cat"
      " WHERE l.fk_filter = ?"
      " ORDER BY c.site_name COLLATE NOCASE, c.id, k.name COLLATE NOCASE, k.id");
  st->Bind(1, filterId);
  if (st->error()) return Fail(st->error());
  linkEnum_ = std::move(st);
  return Fail(0);
}

const CFilterSiteCatRelStruct* CDBManager::EnumNextFilterSiteCatRel() {
  if (!linkEnum_ || !linkEnum_->Next()) {
    if (linkEnum_) Fail(linkEnum_->error());
    return nullptr;
  }
  const Statement& s = *linkEnum_;
  link_.categoryId = static_cast<int32_t>(s.Int(0));
  link_.categoryName = s.Text(1);
  link_.siteId = static_cast<int32_t>(s.Int(2));
  link_.siteName = s.Text(3);
  return &link_;
}

void CDBManager::EndFilterSiteCatRelEnum() { linkEnum_.reset(); }

const CFilterStruct* CDBManager::FetchFilter(int32_t id) {
  if (!db_) return nullptr;
  Statement s(*db_,
              "SELECT id, name, keywords, search_mode, time_kind, date_from, date_to, days, hours, minutes,"
              " lit_gen FROM filter WHERE id = ?");
  s.Bind(1, id);
  if (!s.Next()) {
    Fail(s.error() ? s.error() : SQLITE_NOTFOUND);
    return nullptr;
  }
  filter_.id = static_cast<int32_t>(s.Int(0));
  filter_.name = s.Text(1);
  filter_.keywords = s.Text(2);
  filter_.searchMode = static_cast<int32_t>(s.Int(3));
  filter_.timeKind = static_cast<int32_t>(s.Int(4));
  filter_.from = s.Time(5).value_or(0);
  filter_.to = s.Time(6).value_or(0);
  filter_.days = static_cast<int32_t>(s.Int(7));
  filter_.hours = static_cast<int32_t>(s.Int(8));
  filter_.minutes = static_cast<int32_t>(s.Int(9));
  filter_.usedInLit = s.Int(10) != 0;
  Fail(0);
  return &filter_;
}

bool CDBManager::WriteLinks(int32_t filterId, const int32_t* categoryIds, const int32_t* siteIds, int count) {
  Statement clear(*db_, "DELETE FROM filter_site_cat_rel WHERE fk_filter = ?");
  clear.Bind(1, filterId);
  if (int rc = clear.Execute()) return Fail(rc);
  // A pair that no longer exists is skipped: the filter keeps the others.
  Statement add(*db_,
                "INSERT INTO filter_site_cat_rel (fk_filter, fk_site_cat_rel)"
                " SELECT ?, id FROM site_cat_rel WHERE fk_news_cat = ? AND fk_news_config = ?");
  for (int i = 0; i < count; ++i) {
    add.Reset();
    add.Bind(1, filterId).Bind(2, categoryIds[i]).Bind(3, siteIds[i]);
    if (int rc = add.Execute()) return Fail(rc);
  }
  return true;
}

namespace {
void BindFilter(Statement& s, const CFilterStruct& f) {
  s.BindText(1, f.name, kTextColumn).BindText(2, f.keywords, kTextColumn);
  s.Bind(3, f.searchMode).Bind(4, f.timeKind);
  s.BindTime(5, f.from).BindTime(6, f.to);
  s.Bind(7, f.days).Bind(8, f.hours).Bind(9, f.minutes).Bind(10, f.usedInLit ? 1 : 0);
}
}  // namespace

int32_t CDBManager::CreateFilter(const CFilterStruct& filter, const int32_t* categoryIds, const int32_t* siteIds,
                                 int count) {
  if (!Writable()) return -1;
  Savepoint sp(*db_);
  if (sp.status()) return (Fail(sp.status()), -1);
  Statement s(*db_,
              "INSERT INTO filter (name, keywords, search_mode, time_kind, date_from, date_to, days, hours,"
              " minutes, lit_gen) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  BindFilter(s, filter);
  if (int rc = s.Execute()) return (Fail(rc), -1);
  int32_t id = static_cast<int32_t>(db_->LastInsertId());
  if (!WriteLinks(id, categoryIds, siteIds, count)) return -1;
  if (int rc = sp.Release()) return (Fail(rc), -1);
  Fail(0);
  return id;
}

bool CDBManager::UpdateFilter(const CFilterStruct& filter, const int32_t* categoryIds, const int32_t* siteIds,
                              int count) {
  if (!Writable()) return false;
  Savepoint sp(*db_);
  if (sp.status()) return Fail(sp.status());
  Statement s(*db_,
              "UPDATE filter SET name = ?, keywords = ?, search_mode = ?, time_kind = ?, date_from = ?,"
              " date_to = ?, days = ?, hours = ?, minutes = ?, lit_gen = ? WHERE id = ?");
  BindFilter(s, filter);
  s.Bind(11, filter.id);
  if (int rc = s.Execute()) return Fail(rc);
  if (db_->Changes() == 0) return Fail(SQLITE_NOTFOUND);
  if (!WriteLinks(filter.id, categoryIds, siteIds, count)) return false;
  return Fail(sp.Release());
}

bool CDBManager::DeleteFilter(int32_t id) {
  if (!Writable()) return false;
  Savepoint sp(*db_);
  if (sp.status()) return Fail(sp.status());
  Statement links(*db_, "DELETE FROM filter_site_cat_rel WHERE fk_filter = ?");
  links.Bind(1, id);
  if (int rc = links.Execute()) return Fail(rc);
  Statement s(*db_, "DELETE FROM filter WHERE id = ?");
  s.Bind(1, id);
  if (int rc = s.Execute()) return Fail(rc);
  return Fail(sp.Release());
}

bool CDBManager::CountNewsPerPair(std::vector<CPairCountStruct>* counts) {
  counts->clear();
  if (!db_) return Fail(SQLITE_MISUSE);
  Statement s(*db_,
              "SELECT r.id, c.id, k.id, c.site_name, k.name,"
              " (SELECT COUNT(*) FROM newsitem n WHERE n.fk_site_cat_rel = r.id AND n.is_del = 0 AND n.is_read = 0),"
              " (SELECT COUNT(*) FROM newsitem n WHERE n.fk_site_cat_rel = r.id AND n.is_del = 0)"
              " FROM site_cat_rel r"
              " JOIN news_config c ON c.id = r.fk_news_config"
              " JOIN news_cat k ON k.id = r.fk_news_cat"
              " ORDER BY c.site_name COLLATE NOCASE, c.id, k.name COLLATE NOCASE, k.id");
  while (s.Next()) {
    CPairCountStruct c;
    c.pairId = s.Int(0);
    c.siteId = static_cast<int32_t>(s.Int(1));
    c.categoryId = static_cast<int32_t>(s.Int(2));
    c.siteName = s.Text(3);
    c.categoryName = s.Text(4);
    c.unread = s.Int(5);
    c.total = s.Int(6);
    counts->push_back(std::move(c));
  }
  return Fail(s.error());
}

int64_t CDBManager::LastNewsId() {
  if (!db_) return (Fail(SQLITE_MISUSE), -1);
  Statement s(*db_, "SELECT COALESCE(MAX(id), 0) FROM newsitem");
  int64_t id = s.Next() ? s.Int(0) : -1;
  if (!Fail(s.error())) return -1;
  return id;
}

bool CDBManager::CountNewsAfter(int64_t id, int64_t* items, int64_t* sites) {
  *items = *sites = 0;
  if (!db_) return Fail(SQLITE_MISUSE);
  Statement s(*db_,
              "SELECT COUNT(*), COUNT(DISTINCT r.fk_news_config) FROM newsitem n"
              " LEFT JOIN site_cat_rel r ON r.id = n.fk_site_cat_rel WHERE n.id > ? AND n.is_del = 0");
  s.Bind(1, id);
  if (s.Next()) {
    *items = s.Int(0);
    *sites = s.Int(1);
  }
  return Fail(s.error());
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

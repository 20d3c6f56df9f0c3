#include "news_list.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "store/dialect.h"
#include "store/search_index.h"
#include "text.h"

namespace orvo {

namespace {

std::string Contains(const std::string& escaped) { return "%" + escaped + "%"; }

// Every pair's site and category name; a pair without one has "".
constexpr const char* kPairNamesSql =
    "SELECT r.id, c.site_name, k.name FROM site_cat_rel r"
    " LEFT JOIN news_config c ON c.id = r.fk_news_config"
    " LEFT JOIN news_cat k ON k.id = r.fk_news_cat";

std::string SortExpression(dialect::Backend b, int column) {
  switch (column) {
    case kSortByCategory: return dialect::NoCase(b, "k.name");
    case kSortByDate: return "n.publication_date";
    case kSortByTitle: return dialect::NoCase(b, "n.title");
    default: return dialect::NoCase(b, "c.site_name");
  }
}

}  // namespace

void PrepareForLists(Database& db) {
  if (db.backend() == Database::Backend::kSqlite) db.Exec("PRAGMA mmap_size = 268435456; PRAGMA temp_store = MEMORY");
}

// One ordered query of the news list; a site or category sort merges several.
struct NewsList::Stream {
  std::unique_ptr<Statement> st;
  bool primed = false;
  bool live = false;
  // The current row's merge key, read once per row.
  std::string_view date;
  int64_t id = 0;
  void Advance() {
    primed = true;
    live = st->Next();
    if (live) {
      date = st->TextView(2);
      id = st->Int(0);
    }
  }
};

NewsList::NewsList() = default;
NewsList::~NewsList() {
  // The connection keeps the marks' object as long as it lives: free its bits now.
  if (marks_) marks_->Clear();
}

void NewsList::Close() {
  pending_ = nullptr;
  streams_.clear();
}

int NewsList::Open(Database& db, const NewsListQuery& q) {
  Close();
  groups_.clear();
  nextGroup_ = 0;
  error_ = 0;
  db_ = &db;
  sort_ = q.sort;
  if (int rc = LoadPairNames()) return rc;
  const std::string select = "SELECT n.id, n.fk_site_cat_rel, n.publication_date, n.title, n.is_read FROM newsitem n";
  std::string sql = " WHERE n.is_del = 0";
  std::vector<SqlValue> params;
  if (q.unreadOnly) sql += " AND n.is_read = 0";
  if (!q.pairs.empty()) {
    sql += " AND n.fk_site_cat_rel IN (";
    for (size_t i = 0; i < q.pairs.size(); ++i) sql += (i ? "," : "") + std::to_string(q.pairs[i]);
    sql += ")";
  }
  // With the search index complete, the LIKE tests run on its candidates
  // only. PostgreSQL's trigram indexes serve the LIKE tests themselves.
  const dialect::Backend b = db.backend();
  const bool indexed =
      b == dialect::Backend::kSqlite && (!q.keywords.empty() || q.filter) && SearchIndexReady(db);
  IndexQuery candidates;
  for (const std::string& k : q.keywords) {
    dialect::LikeTest t = dialect::LikeAny(b, {"n.title", "n.body"}, Contains(k));
    sql += " AND " + t.sql;
    for (std::string& v : t.values) params.push_back(std::move(v));
    candidates = IndexAnd(candidates, IndexQueryForLike(Contains(k)));
  }
  if (q.filter) {
    FilterSqlStyle style = ReaderFilterStyle(indexed);
    style.backend = b;
    SqlCondition c = BuildFilterCondition(*q.filter, q.filterPairs, q.now, style);
    sql += " AND (" + c.text + ")";
    params.insert(params.end(), c.values.begin(), c.values.end());
    candidates = IndexAnd(candidates, c.candidates);
  }
  way_ = SearchWay::kChosen;
  grouped_ = q.sort == kSortBySite || q.sort == kSortByCategory;
  if (indexed && candidates) {
    // Choosing reads the candidates when they are few enough to count.
    std::vector<int64_t> ids;
    bool read = false;
    way_ = q.way == SearchWay::kChosen ? ChooseSearchWay(*candidates, &ids, &read) : q.way;
    if (way_ == SearchWay::kMark) {
      if (!marks_ || !marks_->RegisteredOn(db)) marks_ = CandidateMarks::On(db);
      // Without the marks' function the LIKE alone gives the same rows.
      if (!marks_) way_ = SearchWay::kWalk;
      else if (read) marks_->Fill(ids);
      else if (int rc = marks_->Fill(db, *candidates)) return Fail(rc);
    }
    switch (way_) {
      case SearchWay::kCollect:
        if (read) {
          sql += " AND " + dialect::InIdList(b, "n.id", static_cast<int>(params.size()) + 1);
          params.emplace_back(dialect::IdList(b, ids));
        } else {
          sql += " AND " + IndexCandidatesSql("n.id");
          params.push_back(*candidates);
        }
        break;
      case SearchWay::kMark:
        // The test needs only the id, which every index holds, so it comes
        // before the row's body is read.
        sql += " AND " + marks_->Test("n.id");
        break;
      default:
        break;
    }
  }
  params_ = std::move(params);
  if (grouped_) {
    // The groups in name order; news without a site or category come last.
    Statement g(db, q.sort == kSortBySite
                        ? "SELECT id FROM news_config ORDER BY " + dialect::NoCase(b, "site_name") + dialect::Direction(b, true) + ", id"
                        : "SELECT id FROM news_cat ORDER BY " + dialect::NoCase(b, "name") + dialect::Direction(b, true) + ", id");
    while (g.Next()) groups_.push_back(g.Int(0));
    if (g.error()) return Fail(g.error());
    if (!q.ascending) std::reverse(groups_.begin(), groups_.end());
    groups_.push_back(-1);
    pairsSql_ = q.sort == kSortBySite ? "SELECT id FROM site_cat_rel WHERE fk_news_config = ? ORDER BY id"
                                      : "SELECT id FROM site_cat_rel WHERE fk_news_cat = ? ORDER BY id";
    const std::string newestFirst =
        " ORDER BY n.publication_date" + dialect::Direction(b, false) + ", n.id" + dialect::Direction(b, false);
    pairSql_ = select + sql + " AND n.fk_site_cat_rel = ?" + newestFirst;
    orphanSql_ = select + sql + " AND n.fk_site_cat_rel IS NULL" + newestFirst;
    if (!OpenNextGroup()) return Fail(error_ ? error_ : SQLITE_ERROR);
  } else {
    // The tie-break runs the same way, so an index gives the rows in order.
    sql += " ORDER BY " + SortExpression(b, q.sort) + dialect::Direction(b, q.ascending) + ", n.id" +
           dialect::Direction(b, q.ascending);
    if (!AddStream(select + sql, std::nullopt)) return error_;
  }
  return 0;
}

// What each way costs, in microseconds a row, measured with news_db_bench
// --grid --way on 1,000,000 items of 4 KB bodies (a real-size news body), warm:
// a candidate read and tested by the LIKE (it stops at the word): 7.4 to 9.5
constexpr double kCheckUs = 9;
// a row of the list's own order passed over, its id tested: 0.3 to 0.5
constexpr double kWalkUs = 0.5;
// a candidate noted from the index
constexpr double kNoteUs = 0.3;
// a row that is no candidate, its body scanned whole by the LIKE: 6.6
constexpr double kScanUs = 6;
// A search with fewer candidates collects them: the first row comes within
// a few tens of milliseconds anyway.
constexpr int64_t kCollectBelow = 2500;
// Collecting never holds the first row back longer than this.
constexpr double kFirstRowAtMostUs = 1e6;

// The first row comes at once when the list walks its own order, but the
// whole list then costs the walk of every item, while collecting reads the
// candidates alone. So a search walks (noting the candidates first unless
// nearly every item is one) as long as that costs at most half again what
// collecting would; otherwise it collects, unless its first row would wait
// longer than a second. A site or category list runs one query per site or
// category pair, and each would gather the candidates again: it collects
// only the few.
SearchWay NewsList::ChooseSearchWay(const std::string& query, std::vector<int64_t>* ids, bool* read) {
  int64_t items = 0;
  {
    Statement s(*db_, "SELECT coalesce(max(id), 0) FROM newsitem");
    if (s.Next()) items = s.Int(0);
  }
  const double n = static_cast<double>(items);
  // Where the answers change: walking costs less than 1.5x collecting from
  // `walkWorth` candidates on, and noting them costs more than the LIKE
  // alone from `noteWorth` on. Counting stops past both.
  const double margin = 0.5 * kCheckUs - kNoteUs;
  const double walkWorth = margin > 0 ? n * kWalkUs / margin : n;
  const double noteWorth = n * kScanUs / (kScanUs + kNoteUs);
  const double collectAtMost = kFirstRowAtMostUs / kCheckUs;
  const int64_t limit =
      static_cast<int64_t>(std::min(n, std::max({walkWorth, noteWorth, collectAtMost, double(kCollectBelow)}))) + 1;
  // A failure here shows in the search's own statement, which asks again.
  *read = ReadCandidates(*db_, query, limit, ids) == 0 && static_cast<int64_t>(ids->size()) < limit;
  const double c = static_cast<double>(ids->size());
  if (!*read) std::vector<int64_t>().swap(*ids);
  if (c < kCollectBelow) return SearchWay::kCollect;
  const double collect = c * kCheckUs;
  const double mark = c * (kNoteUs + kCheckUs) + n * kWalkUs;
  const double walk = c * kCheckUs + std::max(0.0, n - c) * kScanUs + n * kWalkUs;
  const SearchWay stream = mark <= walk ? SearchWay::kMark : SearchWay::kWalk;
  if (grouped_ || collect > kFirstRowAtMostUs) return stream;
  return std::min(mark, walk) <= 1.5 * collect ? stream : SearchWay::kCollect;
}

int NewsList::LoadPairNames() {
  pairNames_.clear();
  Statement s(*db_, kPairNamesSql);
  while (s.Next()) pairNames_[s.Int(0)] = PairNames{s.Text(1), s.Text(2)};
  return Fail(s.error());
}

// A pair made after the list began is read when its first item comes.
const NewsList::PairNames& NewsList::NamesOf(int64_t pair) {
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

bool NewsList::AddStream(const std::string& sql, const std::optional<SqlValue>& last, bool whole) {
  Stream stream;
  stream.st = std::make_unique<Statement>(*db_, sql);
  if (whole) stream.st->ReadWhole();
  BindValues(*stream.st, params_);
  if (last) {
    const int at = static_cast<int>(params_.size()) + 1;
    if (const int64_t* n = std::get_if<int64_t>(&*last))
      stream.st->Bind(at, *n);
    else
      stream.st->Bind(at, std::get<std::string>(*last));
  }
  if (int rc = stream.st->error()) {
    streams_.clear();
    Fail(rc);
    return false;
  }
  streams_.push_back(std::move(stream));
  return true;
}

// The streams of the next site or category. Their first rows are read later,
// on the loader thread.
bool NewsList::OpenNextGroup() {
  streams_.clear();
  if (nextGroup_ >= groups_.size()) return false;
  int64_t group = groups_[nextGroup_++];
  if (group == -1) return OpenOrphans();
  std::vector<int64_t> pairs;
  {
    Statement p(*db_, pairsSql_);
    p.Bind(1, group);
    while (p.Next()) pairs.push_back(p.Int(0));
    if (p.error()) return Fail(p.error()), false;
  }
  // On PostgreSQL, one statement's rows at a time come on the connection:
  // those of all but the last are read away whole when the next starts.
  for (size_t i = 0; i < pairs.size(); ++i)
    if (!AddStream(pairSql_, SqlValue(pairs[i]), i + 1 < pairs.size())) return false;
  return true;
}

// News without a site (category) last: those without a pair, and those of
// the pairs that name none or a missing one. Testing each item for that
// would read the whole table; instead the pair ids the news use are walked
// through the pair index, one seek per id, and each orphaned one gets a
// stream like a group's pair.
bool NewsList::OpenOrphans() {
  std::unordered_set<int64_t> grouped;
  {
    Statement g(*db_, sort_ == kSortBySite ? "SELECT r.id FROM site_cat_rel r JOIN news_config g ON g.id = r.fk_news_config"
                                           : "SELECT r.id FROM site_cat_rel r JOIN news_cat g ON g.id = r.fk_news_cat");
    while (g.Next()) grouped.insert(g.Int(0));
    if (g.error()) return Fail(g.error()), false;
  }
  std::vector<int64_t> orphans;
  {
    // One statement: each is a round trip to a server.
    Statement used(*db_,
                   "WITH RECURSIVE used(v) AS (SELECT (SELECT fk_site_cat_rel FROM newsitem WHERE fk_site_cat_rel"
                   " IS NOT NULL ORDER BY fk_site_cat_rel LIMIT 1) UNION ALL SELECT (SELECT fk_site_cat_rel FROM"
                   " newsitem WHERE fk_site_cat_rel > used.v ORDER BY fk_site_cat_rel LIMIT 1) FROM used"
                   " WHERE used.v IS NOT NULL) SELECT v FROM used WHERE v IS NOT NULL");
    while (used.Next())
      if (!grouped.count(used.Int(0))) orphans.push_back(used.Int(0));
    if (used.error()) return Fail(used.error()), false;
  }
  if (!AddStream(orphanSql_, std::nullopt, !orphans.empty())) return false;
  for (size_t i = 0; i < orphans.size(); ++i)
    if (!AddStream(pairSql_, SqlValue(orphans[i]), i + 1 < orphans.size())) return false;
  return true;
}

bool NewsList::Next(NewsListRow* row) {
  if (pending_) {
    pending_->Advance();
    pending_ = nullptr;
  }
  for (;;) {
    Stream* best = nullptr;
    for (Stream& s : streams_) {
      if (!s.primed) s.Advance();
      if (int rc = s.st->error()) {
        Fail(rc);
        streams_.clear();
        return false;
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
        return false;
      }
      continue;
    }
    // Each column is read once: a row's reads cost as much as its step.
    const Statement& s = *best->st;
    row->id = best->id;
    row->pair = s.IsNull(1) ? -1 : s.Int(1);
    const PairNames& names = NamesOf(row->pair);
    row->site = &names.site;
    row->category = &names.category;
    row->date = best->date;
    row->title = s.TextView(3);
    row->read = s.Int(4) != 0;
    // The views point into the stream's row: it moves on at the next call.
    pending_ = best;
    return true;
  }
}

}  // namespace orvo

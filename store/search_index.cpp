#include "search_index.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <mutex>
#include <set>
#include <unordered_map>
#include <vector>

#include "like.h"
#include "platform.h"
#include "schema.h"
#include "text.h"

namespace orvo {

namespace {

// The grid's covering indexes, one statement each, from the schema source.
struct NamedSql {
  std::string name;
  std::string sql;
};
const std::vector<NamedSql>& GridIndexes() {
  static const std::vector<NamedSql> indexes = [] {
    constexpr std::string_view kCreate = "CREATE INDEX IF NOT EXISTS ";
    std::vector<NamedSql> out;
    for (const std::string& sql : SchemaStatements(SchemaUpgradeTo(kGridIndexesVersion).sql))
      if (sql.compare(0, kCreate.size(), kCreate) == 0)
        out.push_back({sql.substr(kCreate.size(), sql.find(' ', kCreate.size()) - kCreate.size()), sql});
    return out;
  }();
  return indexes;
}

// --- Which characters the index folds alike ----------------------------------

// For each folded character, the characters that LIKE folds to it, split
// into the groups that the index's tokenizer folds alike (one
// representative each). The tokenizer is asked itself, on a scratch table,
// so a difference between its folding and ours costs speed, never rows.
class FoldGroups {
 public:
  static FoldGroups& Shared() {
    static FoldGroups groups;
    return groups;
  }

  std::vector<char32_t> Representatives(char32_t folded) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto it = cache_.find(folded); it != cache_.end()) return it->second;
    std::vector<char32_t> members = FoldPreimages(folded);
    if (members.empty()) members.push_back(folded);
    std::vector<char32_t> reps = members.size() > 1 ? Split(members) : members;
    cache_.emplace(folded, reps);
    return reps;
  }

 private:
  FoldGroups() {
    if (sqlite3_open_v2(":memory:", &scratch_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK ||
        sqlite3_exec(scratch_, "CREATE VIRTUAL TABLE t USING fts5(x, tokenize='trigram', detail='none')", nullptr,
                     nullptr, nullptr) != SQLITE_OK) {
      sqlite3_close(scratch_);
      scratch_ = nullptr;
    }
  }
  ~FoldGroups() { sqlite3_close(scratch_); }

  static std::string Triple(char32_t c) {
    std::string one = EncodeUtf8(c);
    return one + one + one;
  }

  // One representative per group; without a working scratch table every
  // member stands alone, which is always safe.
  std::vector<char32_t> Split(const std::vector<char32_t>& members) {
    if (!scratch_) return members;
    bool ok = sqlite3_exec(scratch_, "DELETE FROM t", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_stmt* ins = nullptr;
    ok = ok && sqlite3_prepare_v2(scratch_, "INSERT INTO t(rowid, x) VALUES (?, ?)", -1, &ins, nullptr) == SQLITE_OK;
    for (size_t i = 0; ok && i < members.size(); ++i) {
      std::string text = Triple(members[i]);
      sqlite3_bind_int64(ins, 1, static_cast<sqlite3_int64>(i));
      sqlite3_bind_text(ins, 2, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      ok = sqlite3_step(ins) == SQLITE_DONE;
      sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    sqlite3_stmt* q = nullptr;
    ok = ok && sqlite3_prepare_v2(scratch_, "SELECT rowid FROM t WHERE t MATCH ?", -1, &q, nullptr) == SQLITE_OK;
    std::vector<bool> grouped(members.size(), false);
    std::vector<char32_t> reps;
    for (size_t i = 0; ok && i < members.size(); ++i) {
      if (grouped[i]) continue;
      reps.push_back(members[i]);
      grouped[i] = true;
      std::string match = Quoted(std::u32string(3, members[i]));
      sqlite3_bind_text(q, 1, match.c_str(), static_cast<int>(match.size()), SQLITE_TRANSIENT);
      int rc;
      while ((rc = sqlite3_step(q)) == SQLITE_ROW) grouped[static_cast<size_t>(sqlite3_column_int64(q, 0))] = true;
      ok = rc == SQLITE_DONE;
      sqlite3_reset(q);
    }
    sqlite3_finalize(q);
    return ok ? reps : members;
  }

  static std::string EncodeUtf8(char32_t c) {
    std::string out;
    AppendUtf8(out, c);
    return out;
  }

 public:
  static std::string Quoted(const std::u32string& s) {
    std::string out = "\"";
    for (char32_t c : s) {
      if (c == U'"') out += '"';
      out += EncodeUtf8(c);
    }
    return out + "\"";
  }

 private:
  std::mutex mutex_;
  sqlite3* scratch_ = nullptr;
  std::unordered_map<char32_t, std::vector<char32_t>> cache_;
};

// Past these, a window or a pattern adds little and costs index reads.
constexpr size_t kMaxSpellings = 16;
constexpr size_t kMaxWindows = 24;

}  // namespace

IndexQuery IndexAnd(const IndexQuery& a, const IndexQuery& b) {
  if (!a) return b;
  if (!b) return a;
  return "(" + *a + ") AND (" + *b + ")";
}

IndexQuery IndexOr(const IndexQuery& a, const IndexQuery& b) {
  if (!a || !b) return std::nullopt;
  return "(" + *a + ") OR (" + *b + ")";
}

// Each window of three characters of a literal run becomes one trigram
// term, or an OR of its spellings when LIKE folds a character that the
// index tells apart.
IndexQuery IndexQueryForLike(std::string_view pattern) {
  std::vector<std::string> terms;
  std::set<std::string> seen;
  FoldGroups& groups = FoldGroups::Shared();
  for (const std::u32string& run : LikeLiteralRuns(pattern)) {
    if (run.size() < 3) continue;
    std::vector<std::vector<char32_t>> reps;
    for (char32_t c : run) reps.push_back(groups.Representatives(c));
    for (size_t i = 0; i + 3 <= run.size(); ++i) {
      if (reps[i].size() * reps[i + 1].size() * reps[i + 2].size() > kMaxSpellings) continue;
      std::vector<std::string> spellings;
      for (char32_t a : reps[i])
        for (char32_t b : reps[i + 1])
          for (char32_t c : reps[i + 2]) spellings.push_back(FoldGroups::Quoted({a, b, c}));
      std::string term = spellings.size() == 1 ? spellings[0] : "(";
      if (spellings.size() > 1) {
        for (size_t k = 0; k < spellings.size(); ++k) term += (k ? " OR " : "") + spellings[k];
        term += ")";
      }
      if (seen.insert(term).second) terms.push_back(std::move(term));
    }
  }
  if (terms.empty()) return std::nullopt;
  if (terms.size() > kMaxWindows) {
    // An even spread keeps both ends of a long keyword.
    std::vector<std::string> some;
    for (size_t k = 0; k < kMaxWindows; ++k) some.push_back(terms[k * (terms.size() - 1) / (kMaxWindows - 1)]);
    terms = std::move(some);
  }
  std::string query;
  for (size_t k = 0; k < terms.size(); ++k) query += (k ? " AND " : "") + terms[k];
  return query;
}

std::string IndexCandidatesSql(std::string_view idColumn) {
  return std::string(idColumn) + " IN (SELECT rowid FROM newsitem_fts WHERE newsitem_fts MATCH ?)";
}

int ReadCandidates(Database& db, const std::string& query, int64_t limit, std::vector<int64_t>* ids) {
  ids->clear();
  Statement s(db, "SELECT rowid FROM newsitem_fts WHERE newsitem_fts MATCH ? LIMIT ?");
  s.Bind(1, query).Bind(2, limit);
  while (s.Next()) ids->push_back(s.Int(0));
  return s.error();
}

namespace {

// A yes-or-no question about the index tables, prepared by hand: a database
// without the table is an answer (no), not a failure.
// PostgreSQL has no FTS5 index (its trigram indexes come with the schema):
// there the answer is no.
bool Holds(Database& db, const char* sql) {
  if (!db.handle()) return false;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db.handle(), sql, -1, &st, nullptr) != SQLITE_OK) return false;
  bool yes = sqlite3_step(st) == SQLITE_ROW && sqlite3_column_int(st, 0) != 0;
  sqlite3_finalize(st);
  return yes;
}

}  // namespace

std::shared_ptr<CandidateMarks> CandidateMarks::On(Database& db) {
  if (!db.handle()) return nullptr;
  auto marks = std::make_shared<CandidateMarks>();
  char name[48];
  std::snprintf(name, sizeof name, "orvo_candidate_%llx",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(marks.get())));
  marks->name_ = name;
  auto* held = new std::shared_ptr<CandidateMarks>(marks);
  auto test = [](sqlite3_context* ctx, int, sqlite3_value** argv) {
    const auto& m = *static_cast<std::shared_ptr<CandidateMarks>*>(sqlite3_user_data(ctx));
    sqlite3_result_int(ctx, m->Has(sqlite3_value_int64(argv[0])) ? 1 : 0);
  };
  auto drop = [](void* p) { delete static_cast<std::shared_ptr<CandidateMarks>*>(p); };
  // On failure SQLite calls drop itself.
  if (sqlite3_create_function_v2(db.handle(), name, 1, SQLITE_UTF8, held, test, nullptr, nullptr, drop) != SQLITE_OK)
    return nullptr;
  return marks;
}

bool CandidateMarks::RegisteredOn(Database& db) const {
  sqlite3_stmt* st = nullptr;
  const std::string sql = "SELECT " + Test("0");
  const bool ok = db.handle() && sqlite3_prepare_v2(db.handle(), sql.c_str(), -1, &st, nullptr) == SQLITE_OK;
  sqlite3_finalize(st);
  return ok;
}

std::string CandidateMarks::Test(std::string_view idColumn) const {
  return name_ + "(" + std::string(idColumn) + ")";
}

void CandidateMarks::Clear() {
  bits_.clear();
  bits_.shrink_to_fit();
  count_ = 0;
}

int CandidateMarks::Fill(Database& db, const std::string& query) {
  Clear();
  Statement s(db, "SELECT rowid FROM newsitem_fts WHERE newsitem_fts MATCH ?");
  s.Bind(1, query);
  while (s.Next()) Mark(s.Int(0));
  return s.error();
}

void CandidateMarks::Fill(const std::vector<int64_t>& ids) {
  Clear();
  for (int64_t id : ids) Mark(id);
}

void CandidateMarks::Mark(int64_t id) {
  if (id < 0) return;
  const size_t word = static_cast<size_t>(id >> 6);
  if (word >= bits_.size()) bits_.resize(std::max(word + 1, bits_.size() * 2), 0);
  bits_[word] |= uint64_t{1} << (id & 63);
  ++count_;
}

bool SearchIndexReady(Database& db) { return Holds(db, "SELECT filled_upto >= fill_end FROM newsitem_fts_fill"); }

namespace {

// A table's presence as an answer: a database without it is no failure.
bool HasTable(Database& db, const char* name) {
  Statement s(db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?");
  s.Bind(1, name);
  return s.Next() && s.Int(0) == 1;
}

}  // namespace

int DeferIndexDeletes(Database& db) {
  if (!HasTable(db, "newsitem_fts_fill") || HasTable(db, "newsitem_fts_gone")) return 0;
  Transaction t(db);
  if (int rc = t.status()) return rc;
  // Looked at again under the write lock: another program may have done it.
  if (HasTable(db, "newsitem_fts_gone")) return 0;
  if (int rc = RunSchemaUpgrades(db, kIndexDeleteQueueVersion, kIndexDeleteQueueVersion)) return rc;
  return t.Commit();
}

int DropDeletedFromIndex(Database& db, int batch, int* dropped) {
  *dropped = 0;
  // Nothing queued takes no write lock, which would wait for another writer.
  if (!DeletedItemsWaiting(db)) return 0;
  Transaction t(db);
  if (int rc = t.status()) return rc;
  // Lowest ids first, so that a caller can tell progress from the ids.
  Statement drop(db, "INSERT INTO newsitem_fts(newsitem_fts, rowid, title, body) SELECT 'delete', id, title, body"
                     " FROM newsitem_fts_gone ORDER BY id LIMIT ?");
  drop.Bind(1, batch);
  if (int rc = drop.Execute()) return rc;
  Statement done(db, "DELETE FROM newsitem_fts_gone WHERE id IN (SELECT id FROM newsitem_fts_gone ORDER BY id LIMIT ?)");
  done.Bind(1, batch);
  if (int rc = done.Execute()) return rc;
  // The same rows as the drop's: nothing else writes under this lock.
  const int count = db.Changes();
  if (int rc = t.Commit()) return rc;
  *dropped = count;
  return 0;
}

bool DeletedItemsWaiting(Database& db) { return Holds(db, "SELECT EXISTS (SELECT 1 FROM newsitem_fts_gone)"); }

bool IndexUpgrade::Run(const char* sql) {
  error_ = db_.Exec(sql);
  return error_ == 0;
}

int IndexUpgrade::GridIndexesMade() {
  int made = 0;
  for (const NamedSql& index : GridIndexes()) {
    Statement s(db_, "SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name = ?");
    s.Bind(1, index.name);
    if (!s.Next()) return GridIndexCount();
    made += static_cast<int>(s.Int(0));
  }
  return made;
}

int IndexUpgrade::GridIndexCount() { return static_cast<int>(GridIndexes().size()); }

bool IndexUpgrade::SchemaBehind() { return SchemaVersion(db_) < LatestSchemaVersion(); }

bool IndexUpgrade::RunUpgrades(int from, int through) {
  error_ = RunSchemaUpgrades(db_, std::min(SchemaVersion(db_) + 1, from), through);
  return error_ == 0;
}

bool IndexUpgrade::SearchIndexMissing() {
  Statement s(db_, "SELECT count(*) FROM sqlite_master WHERE name = 'newsitem_fts_fill'");
  return s.Next() && s.Int(0) == 0;
}

bool IndexUpgrade::DeleteQueueMissing() { return !HasTable(db_, "newsitem_fts_gone"); }

bool IndexUpgrade::Done() {
  return !GridIndexesMissing() && !SearchIndexMissing() && !DeleteQueueMissing() && !SchemaBehind() &&
         !DeletedItemsWaiting(db_) && SearchIndexReady(db_);
}

// Progress from the ids, which go in order: counting a queue of long texts
// would read all of it.
bool IndexUpgrade::DropStep() {
  what_ = "drain";
  if (dropFrom_ < 0) {
    // Apart: min and max in one query would scan the queue.
    Statement lo(db_, "SELECT min(id) FROM newsitem_fts_gone");
    Statement hi(db_, "SELECT max(id) FROM newsitem_fts_gone");
    if (!lo.Next() || !hi.Next()) {
      error_ = lo.error() ? lo.error() : hi.error() ? hi.error() : SQLITE_CORRUPT;
      return false;
    }
    dropFrom_ = lo.Int(0);
    dropTo_ = hi.Int(0);
  }
  int dropped = 0;
  if ((error_ = DropDeletedFromIndex(db_, dropBatch_, &dropped)) != 0) return false;
  Statement s(db_, "SELECT min(id) FROM newsitem_fts_gone");
  const int64_t next = s.Next() && !s.IsNull(0) ? s.Int(0) : dropTo_ + 1;
  const int64_t span = std::max<int64_t>(dropTo_ - dropFrom_ + 1, 1);
  percent_ = static_cast<int>(std::clamp<int64_t>((next - dropFrom_) * 100 / span, 0, 100));
  if (next > dropTo_) dropFrom_ = -1;  // items deleted meanwhile start a new round
  return true;
}

std::string IndexUpgrade::Next() {
  if (int made = GridIndexesMade(); made < GridIndexCount()) {
    what_ = "grid";
    percent_ = made * 100 / GridIndexCount();
    return what_;
  }
  return Done() ? "" : "search";
}

bool IndexUpgrade::Step() {
  error_ = 0;
  if (GridIndexesMissing()) {
    what_ = "grid";
    int made = 0;
    const NamedSql* next = nullptr;
    for (const NamedSql& index : GridIndexes()) {
      Statement has(db_, "SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name = ?");
      has.Bind(1, index.name);
      if (has.Next() && has.Int(0) == 1)
        ++made;
      else if (!next)
        next = &index;
    }
    // One index per step: each is one long write on a large database. The
    // rest of the grid's upgrade (its record, the old indexes' drop) goes
    // with the last.
    if (!Run(next->sql.c_str())) return false;
    percent_ = (made + 1) * 100 / GridIndexCount();
    return made + 1 < GridIndexCount() || RunUpgrades(kGridIndexesVersion, kGridIndexesVersion);
  }
  if (SearchIndexMissing()) {
    what_ = "search";
    percent_ = 0;
    // The table, its filling's range and all its triggers in one
    // transaction: an item stored in between would be missed.
    return RunUpgrades(kSearchIndexVersion, kIndexDeleteQueueVersion);
  }
  if (DeleteQueueMissing()) {
    what_ = "search";
    error_ = DeferIndexDeletes(db_);
    return error_ == 0;
  }
  // A file whose objects are all there, from before versions were recorded.
  if (SchemaBehind()) {
    what_ = "search";
    return RunUpgrades(LatestSchemaVersion(), LatestSchemaVersion());
  }
  // Deleted items leave the index once it is complete: a steady stream of
  // deletes must not hold back the filling, which makes searches fast.
  if (!SearchIndexReady(db_)) return FillStep();
  if (DeletedItemsWaiting(db_)) return DropStep();
  what_ = "search";
  percent_ = 100;
  return false;
}

bool IndexUpgrade::FillStep() {
  what_ = "search";
  const auto started = std::chrono::steady_clock::now();
  Transaction t(db_);
  if ((error_ = t.status()) != 0) return false;
  int64_t upto = 0, end = 0;
  {
    Statement s(db_, "SELECT filled_upto, fill_end FROM newsitem_fts_fill");
    if (!s.Next()) {
      error_ = s.error() ? s.error() : SQLITE_CORRUPT;
      return false;
    }
    upto = s.Int(0);
    end = s.Int(1);
  }
  if (upto >= end) return true;  // another connection has just finished it
  int64_t last = end;
  {
    Statement s(db_, "SELECT id FROM newsitem WHERE id > ? AND id <= ? ORDER BY id LIMIT 1 OFFSET ?");
    s.Bind(1, upto).Bind(2, end).Bind(3, batch_ - 1);
    if (s.Next()) last = s.Int(0);
    if ((error_ = s.error()) != 0) return false;
  }
  Statement fill(db_, "INSERT INTO newsitem_fts(rowid, title, body) SELECT id, title, body FROM newsitem"
                      " WHERE id > ? AND id <= ?");
  fill.Bind(1, upto).Bind(2, last);
  if ((error_ = fill.Execute()) != 0) return false;
  Statement mark(db_, "UPDATE newsitem_fts_fill SET filled_upto = ?");
  mark.Bind(1, last);
  if ((error_ = mark.Execute()) != 0) return false;
  if ((error_ = t.Commit()) != 0) return false;
  percent_ = static_cast<int>(last * 100 / std::max<int64_t>(end, 1));
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
  if (ms > kStepMs) batch_ = std::max(std::min(kMinBatch, maxBatch_), batch_ / 2);
  else if (ms < kStepMs / 4) batch_ = std::min(maxBatch_, batch_ * 2);
  return true;
}

namespace {

bool Sleep(const std::atomic<bool>& stop, int ms) {
  for (int waited = 0; waited < ms && !stop; waited += 20) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return !stop;
}

// Until the other connections have written nothing for a while: a download
// stores item after item, and would wait out a whole index build for each.
void WaitForQuiet(Database& db, const std::atomic<bool>& stop, const UpgradePace& pace) {
  using Clock = std::chrono::steady_clock;
  auto version = [&db] {
    Statement s(db, "PRAGMA data_version");
    return s.Next() ? s.Int(0) : -1;
  };
  const auto start = Clock::now();
  auto lastWrite = start;
  int64_t seen = version();
  auto since = [](Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
  };
  while (since(lastWrite) < pace.quietMs && since(start) < pace.quietAtMostMs && Sleep(stop, 50)) {
    int64_t now = version();
    if (now != seen) {
      seen = now;
      lastWrite = Clock::now();
    }
  }
}

}  // namespace

int UpgradeIndexes(const std::string& path, const std::atomic<bool>& stop,
                   const std::function<void(const std::string&, int)>& progress, const UpgradePace& pace) {
  std::unique_ptr<Database> db;
  if (int rc = Database::Open(path, Database::Mode::kExisting, &db)) return rc;
  if (!db->handle()) {
    // PostgreSQL: the schema's upgrades in one go, as the server builds an
    // index while others read; its search indexes come with the schema.
    if (SchemaVersion(*db) >= LatestSchemaVersion()) return 0;
    if (progress) progress("grid", 0);
    const int rc = UpgradeSchema(*db);
    if (rc == 0 && progress) progress("grid", 100);
    return rc;
  }
  // A set `stop` also breaks off the statement under way (a long index
  // build): its transaction rolls back and the next run does it again.
  sqlite3_progress_handler(
      db->handle(), 10000, [](void* flag) { return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0; },
      const_cast<std::atomic<bool>*>(&stop));
  sqlite3_busy_timeout(db->handle(), pace.busyTimeoutMs);
  // An index's sort in memory rather than in temporary files: the build, and
  // so its hold of the write lock, takes a fraction of the time. The memory
  // goes with the connection.
  db->Exec("PRAGMA cache_size = -131072; PRAGMA temp_store = MEMORY");
  UpgradeSchema(*db);  // failing, the steps below say why
  IndexUpgrade upgrade(*db, pace.batch);
  std::string reported;
  auto report = [&] {
    std::string now = upgrade.what() + " " + std::to_string(upgrade.percent());
    if (progress && now != reported) progress(upgrade.what(), upgrade.percent());
    reported = now;
  };
  while (!stop) {
    const std::string next = upgrade.Next();
    if (next.empty()) break;
    if (next == "grid") {
      report();
      WaitForQuiet(*db, stop, pace);
      if (stop) break;
    }
    const auto began = std::chrono::steady_clock::now();
    if (upgrade.Step()) {
      report();
      const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
      if (pace.gapMs > 0) Sleep(stop, std::clamp(static_cast<int>(took.count()), 20, std::max(pace.gapMs, 20)));
      continue;
    }
    const int code = upgrade.error() & 0xFF;
    // Another writer held on longer than the time-out (a large marking, say):
    // the work is still to do, so wait and go on.
    if ((code == SQLITE_BUSY || code == SQLITE_LOCKED) && Sleep(stop, 200)) continue;
    break;
  }
  return stop && ((upgrade.error() & 0xFF) == SQLITE_INTERRUPT || upgrade.error() == 0 ||
                  (upgrade.error() & 0xFF) == SQLITE_BUSY)
             ? 0
             : upgrade.error();
}

int DropAllDeletedFromIndex(const std::string& path, const std::atomic<bool>& stop, int64_t* dropped) {
  if (dropped) *dropped = 0;
  std::unique_ptr<Database> db;
  if (int rc = Database::Open(path, Database::Mode::kExisting, &db)) return rc;
  if (!db->handle()) return 0;  // PostgreSQL: no FTS5 index to drop from
  sqlite3_progress_handler(
      db->handle(), 10000, [](void* flag) { return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0; },
      const_cast<std::atomic<bool>*>(&stop));
  int rc = DeferIndexDeletes(*db);
  for (int n = 1; rc == 0 && n > 0 && !stop;) {
    rc = DropDeletedFromIndex(*db, IndexUpgrade::kDropBatch, &n);
    if (rc == 0 && dropped) *dropped += n;
  }
  return stop && (rc & 0xFF) == SQLITE_INTERRUPT ? 0 : rc;
}

}  // namespace orvo

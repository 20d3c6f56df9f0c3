// Keyword search through a trigram index of the news titles and bodies.
//
// The index only narrows: it names candidate items, and the LIKE test that
// the query would run anyway picks the exact rows among them. So the rows
// found are those of the plain LIKE query, whatever the index's own case
// folding, provided the candidates hold every row the LIKE test accepts.
// IndexQueryForLike builds its query to keep that promise.
//
// A database made before the index existed gets it, and the grid's covering
// indexes, from IndexUpgrade, in small steps on a connection of its own: the
// background upgrades of the schema source (store/schema.h).
// Until the index is complete, searches run on LIKE alone.
//
// A deleted item leaves the index later: its text waits in a queue that the
// background work drops from the index in short transactions (the reader's
// upgrade at its start, the Gatherer after each run). Meanwhile the index
// still names the deleted ids, which no search can show: every candidate is
// joined to newsitem, and AUTOINCREMENT never hands out an id again.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "database.h"

namespace orvo {

// Candidate items as an index query (FTS5 MATCH syntax); none = every item.
using IndexQuery = std::optional<std::string>;
IndexQuery IndexAnd(const IndexQuery& a, const IndexQuery& b);
IndexQuery IndexOr(const IndexQuery& a, const IndexQuery& b);

// Every item whose title or body is LIKE `pattern` (the database's LIKE:
// bracket escapes, case-insensitive) is among the candidates. None when the
// pattern has no three literal characters in a row.
IndexQuery IndexQueryForLike(std::string_view pattern);

// "<idColumn> IN (...)" over the candidates; the query is bound to its "?".
std::string IndexCandidatesSql(std::string_view idColumn);

// Up to `limit` of the candidates for `query`, read once, so that a search
// that counts them to choose its way need not ask the index again.
// 0, or the failure's code.
int ReadCandidates(Database& db, const std::string& query, int64_t limit, std::vector<int64_t>* ids);

// The index's candidates for a query held in memory as one bit per id, for
// a list that walks its own order and tests each row's id with the SQL
// function Test() names. A test costs a function call where a temporary
// table's costs a B-tree look-up, which at a million walked rows was most of
// such a list's time. SQLite only.
class CandidateMarks {
 public:
  // Marks of their own, tested by a function registered on `db` under a
  // name of their own (so that two lists on one connection never share
  // them). The connection keeps the marks alive as long as it lives, so its
  // statements may outlive the caller's pointer. Null on failure.
  static std::shared_ptr<CandidateMarks> On(Database& db);
  // Whether the marks' function is registered on `db`.
  bool RegisteredOn(Database& db) const;
  // "<function>(<idColumn>)": true for a marked id.
  std::string Test(std::string_view idColumn) const;
  // Replaces the marks with the candidates of `query`. 0, or the failure's code.
  int Fill(Database& db, const std::string& query);
  // Replaces the marks with `ids`.
  void Fill(const std::vector<int64_t>& ids);
  void Clear();
  bool Has(int64_t id) const {
    return id >= 0 && static_cast<uint64_t>(id >> 6) < bits_.size() && (bits_[size_t(id >> 6)] >> (id & 63) & 1) != 0;
  }
  int64_t count() const { return count_; }

 private:
  void Mark(int64_t id);

  std::string name_;
  std::vector<uint64_t> bits_;
  int64_t count_ = 0;
};

// True when the index holds every item and triggers keep it in step.
bool SearchIndexReady(Database& db);

// Makes a database whose index drops deleted items at once queue them
// instead (one short transaction; nothing to do when it does already or has
// no search index). 0, or the failure's code.
int DeferIndexDeletes(Database& db);

// Drops up to `batch` queued deleted items from the index, oldest first, in
// one transaction; `dropped` says how many (0 when the queue is empty).
// 0, or the failure's code.
int DropDeletedFromIndex(Database& db, int batch, int* dropped);

// True when deleted items wait to leave the index.
bool DeletedItemsWaiting(Database& db);

// Brings a database up to the current indexes, a short transaction at a
// time, so that a download can store news meanwhile.
class IndexUpgrade {
 public:
  explicit IndexUpgrade(Database& db, int batch = kBatch) : db_(db), batch_(batch), maxBatch_(batch) {}

  // Nothing left to do.
  bool Done();
  // What the next step works on ("grid" or "search"; "" when done). Before a
  // grid step, percent() is how far the grid part is.
  std::string Next();
  // Does the next piece of work. False when there is nothing left or on a
  // failure (error() then says which).
  bool Step();
  int error() const { return error_; }
  // How far the current part is, 0 to 100, and what it is: "grid",
  // "search", or "drain" (deleted items leaving the index).
  int percent() const { return percent_; }
  const std::string& what() const { return what_; }

  // Items indexed per step at most; fewer when a step takes longer than
  // kStepMs (large bodies, a busy machine), since a download's store waits
  // for the step.
  static constexpr int kBatch = 2000;
  static constexpr int kMinBatch = 50;
  static constexpr int kStepMs = 250;
  int batch() const { return batch_; }
  // Deleted items dropped from the index per step: each is read and
  // tokenised again, about a millisecond apiece for a real-size body, so a
  // step holds the write lock for a tenth of a second or so.
  static constexpr int kDropBatch = 100;

 private:
  int GridIndexesMade();
  static int GridIndexCount();
  bool GridIndexesMissing() { return GridIndexesMade() < GridIndexCount(); }
  bool SchemaBehind();
  // Upgrades `from` (or the first the file lacks, when lower) to `through`.
  bool RunUpgrades(int from, int through);
  bool SearchIndexMissing();
  bool DeleteQueueMissing();
  bool FillStep();
  bool DropStep();
  bool Run(const char* sql);

  Database& db_;
  int batch_;
  int maxBatch_;
  int dropBatch_ = kDropBatch;
  int64_t dropFrom_ = -1, dropTo_ = -1;  // the ids of the queue when its round began
  int error_ = 0;
  int percent_ = 0;
  std::string what_;
};

// How the upgrade shares the database with a download.
struct UpgradePace {
  // A grid index is built in one statement that holds the write lock
  // throughout (seconds at a million items): it starts once the other
  // connections have written nothing for `quietMs`, or after `quietAtMostMs`.
  int quietMs = 3000;
  int quietAtMostMs = 120000;
  // A step that finds the write lock held waits this long for it, and then
  // tries again rather than giving up.
  int busyTimeoutMs = 15000;
  // After each step the upgrade leaves the lock free as long as the step
  // took, 20 ms at least and `gapMs` at most. SQLite's busy handler gives no
  // turns: a store that has waited a while looks again only every 100 ms,
  // and steps run back to back would keep it out until the whole upgrade is
  // done (minutes at a million items). 0: no pause.
  int gapMs = 120;
  // Items indexed per step at most.
  int batch = IndexUpgrade::kBatch;
};

// Runs IndexUpgrade over the database at `path` on its own connection until
// it is done, `stop` is set (which also breaks off the statement under way
// and any wait) or a step fails. `progress` hears before each grid index and
// after each step ("grid" or "search", percent). 0, or the failure's code.
int UpgradeIndexes(const std::string& path, const std::atomic<bool>& stop,
                   const std::function<void(const std::string&, int)>& progress, const UpgradePace& pace = {});

// Drops every queued deleted item from the index of the database at `path`
// on its own connection, a batch per transaction, until none is left or
// `stop` is set (which also breaks off the batch under way; it rolls back and
// stays queued). Also gives a database the queue when it has none yet.
// `dropped` (optional) counts the items. 0, or the failure's code.
int DropAllDeletedFromIndex(const std::string& path, const std::atomic<bool>& stop, int64_t* dropped = nullptr);

}  // namespace orvo

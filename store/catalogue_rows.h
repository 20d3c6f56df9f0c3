// The catalogue's rows as the engine's update from the updates server reads
// and writes them: sites, categories, site/category pairs, their two masks,
// and the filters a new pair joins. The user's own sites are not part of it.
//
// The update marks every mask (type + 128) before it applies a catalogue;
// applying takes the mark off the masks the catalogue lists, and the
// withdrawal empties those left marked.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "database.h"

namespace orvo {

struct CatalogueMaskRow {
  int64_t id = 0;
  int version = 0;
  int type = 0;  // 0 list, 1 news; + 128 while marked
  int64_t pair = 0;
};

struct CataloguePairRow {
  int64_t id = 0;
  bool selected = false;
  std::string site;
  std::string category;
};

struct CatalogueRows {
  std::vector<std::pair<std::string, int64_t>> sites;       // name, id; in id order
  std::vector<std::pair<std::string, int64_t>> categories;  // name, id; in id order
  std::vector<CataloguePairRow> pairs;                      // in id order
  std::vector<CatalogueMaskRow> masks;                      // in (type, id) order
};

// Reads the catalogue's part of the database. 0, or the failure's code.
int ReadCatalogueRows(Database& db, CatalogueRows* out);

// The writes of one update, each statement prepared once. Every call gives 0
// or the failure's code.
class CatalogueWriter {
 public:
  explicit CatalogueWriter(Database& db);
  int AddSite(const std::string& name, int64_t* id);
  int AddCategory(const std::string& name, int64_t* id);
  int AddPair(bool selected, int64_t category, int64_t site, int64_t* id);
  // An empty mask of version 1.
  int AddMask(int type, int64_t pair, int64_t* id);
  // The filters holding a pair whose category's name matches `pattern` (LIKE).
  int FiltersOfCategory(const std::string& pattern, std::vector<int64_t>* filters);
  int AddFilterLink(int64_t filter, int64_t pair);
  int SetMaskVersion(int64_t mask, int version, int type);
  // A new pair is made whole or not at all, inside the update's transaction.
  void BeginPair();
  void KeepPair();
  void DropPair();
  const std::string& failedSql() const { return failedSql_; }

 private:
  int Run(Statement& st, int64_t* id);
  Database& db_;
  Statement site_, category_, pair_, mask_, filters_, link_, version_;
  std::string failedSql_;
};

// Stores a fetched mask's text (hexadecimal) and version, outside the update's
// transaction. Prepared once per update.
class MaskTextWriter {
 public:
  explicit MaskTextWriter(Database& db);
  int Store(int64_t mask, const std::string& hexText, int version);
  const std::string& sql() const { return st_.sql(); }

 private:
  Statement st_;
};

// Marks every mask (type + 128) before the catalogue is applied.
int MarkAllMasks(Database& db);
// Takes every mark off without withdrawing anything: for an update that
// ends before its withdrawal step, and for marks a killed run left behind.
// *removed (when given) is the number of masks that carried a mark.
int RemoveMarks(Database& db, int* removed = nullptr);
// Withdraws the masks no listed pair confirmed: version 0, text emptied.
int WithdrawUnconfirmedMasks(Database& db);
// The selected pairs ("Site / Category") that WithdrawUnconfirmedMasks is
// about to leave without a mask, so that the run says it will not visit them.
std::vector<std::string> SelectedPairsLeftOut(Database& db);

// One catalogue update at a time among the engines that share a database
// (PostgreSQL): a lock of the caller's transaction, gone with its commit or
// rollback. On SQLite the update's write transaction is that lock already,
// and *held is true at once.
int TryLockCatalogue(Database& db, bool* held);
// Waits at most `seconds` for that lock; SQLITE_BUSY when it did not come in
// time (the transaction is spoiled then: roll it back).
int WaitForCatalogueLock(Database& db, int seconds);

}  // namespace orvo

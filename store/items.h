// The news items' rows as the gathering engine writes them: the look-up by
// stored address, and one item's transaction (its row, then its pictures'
// rows) that the engine fills while it puts the pictures' bytes in place.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "database.h"

namespace orvo {

// An item's row: texts as they are to be stored (cut to their columns here),
// dates as database text.
struct ItemRow {
  std::string recvDate;
  std::string publicationDate;
  int siteCatRel = 0;
  std::string address;
  std::string author;
  std::string title;
  std::string body;
};

// True when an item with exactly this src_url is stored. Compared in the
// stored form: an address longer than its column is stored cut. A failing
// look-up counts as not stored.
bool IsStoredAddress(Database& db, const std::string& address);

// One item's transaction. Rolls back unless committed. A failing call leaves
// its statement in failedSql() for the log.
class ItemWrite {
 public:
  // An address that is stored already: Insert stores nothing.
  static constexpr int kStoredAlready = -1;

  explicit ItemWrite(Database& db);
  ItemWrite(const ItemWrite&) = delete;
  ItemWrite& operator=(const ItemWrite&) = delete;

  int status() const { return status_; }
  // Inserts the item and gives its id. With checkStored, an address that is
  // stored already gives kStoredAlready; so does the unique key on the
  // address when another engine stored it after the look (then the
  // transaction is over). Otherwise 0, or the failure's code.
  int Insert(const ItemRow& row, bool checkStored, int64_t* id);
  // A picture's row; `bytes` go into the database where it keeps them
  // (PostgreSQL; see store/images.h) and are ignored elsewhere.
  int AddPicture(int64_t item, int64_t position, const std::string& path, const std::string& caption,
                 std::string_view bytes);
  // On failure the transaction is rolled back.
  int Commit();
  void Rollback();
  const std::string& failedSql() const { return failedSql_; }

 private:
  Database& db_;
  std::optional<Transaction> tx_;  // empty once over
  int status_ = 0;
  std::unique_ptr<Statement> picture_;
  std::string failedSql_;
};

// Whether a picture row of item `item` at `position` exists, for the clean-up
// of files no row names. One statement for many questions.
class PictureRowLookup {
 public:
  explicit PictureRowLookup(Database& db);
  // False also when the look-up failed: see error().
  bool Exists(int64_t item, int64_t position);
  int error() const { return st_.error(); }

 private:
  Statement st_;
};

}  // namespace orvo

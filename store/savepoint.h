// All or nothing of a few writes, inside the caller's transaction or on its
// own: a savepoint within an open transaction, else a transaction of its own
// (PostgreSQL takes savepoints only inside a transaction). Rolled back unless
// released.
#pragma once

#include "database.h"

namespace orvo {

class Savepoint {
 public:
  explicit Savepoint(Database& db)
      : db_(db), nested_(db.InTransaction()), status_(nested_ ? db.Exec("SAVEPOINT store_writes") : db.Begin()) {}
  ~Savepoint() {
    if (status_ != 0 || done_) return;
    if (nested_) {
      db_.Exec("ROLLBACK TO store_writes");
      db_.Exec("RELEASE store_writes");
    } else {
      db_.Rollback();
    }
  }
  Savepoint(const Savepoint&) = delete;
  Savepoint& operator=(const Savepoint&) = delete;

  int status() const { return status_; }
  int Release() {
    done_ = true;
    return nested_ ? db_.Exec("RELEASE store_writes") : db_.Commit();
  }

 private:
  Database& db_;
  bool nested_;
  int status_;
  bool done_ = false;
};

}  // namespace orvo

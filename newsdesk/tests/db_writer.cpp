// Another program on the news database, as the engine or an `orvo` command
// is: opens it, runs one statement, closes it (the last one out checkpoints
// and removes the write-ahead log).
//   newsdesk_db_writer DATABASE SQL
#include <cstdio>

#include "database.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "Usage: newsdesk_db_writer DATABASE SQL\n");
    return 2;
  }
  std::unique_ptr<orvo::Database> db;
  if (int rc = orvo::Database::Open(argv[1], orvo::Database::Mode::kExisting, &db)) {
    std::fprintf(stderr, "newsdesk_db_writer: cannot open %s (%d)\n", argv[1], rc);
    return 1;
  }
  if (int rc = db->Exec(argv[2])) {
    std::fprintf(stderr, "newsdesk_db_writer: %s failed (%d): %s\n", argv[2], rc, db->ErrorMessage().c_str());
    return 1;
  }
  return 0;
}

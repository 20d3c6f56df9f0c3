// The reader's grid and searches, the eBook query and the clean-up on
// SQLite and on PostgreSQL, the same items on both, side by side.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvo::bench {

struct EbookFigure {
  bool ran = false;
  bool stopped = false;  // ended at the time limit
  size_t rows = 0;
  double seconds = 0;
  double openSeconds = 0;  // of which the matching ids (the generator's query)
  double peakMb = 0;
};
// The eBook generator's query over every marked filter at `location` (a
// file or a postgresql:// address), in a process of its own so that its
// peak memory is its own; `how` is "generator" or "raw" (SQLite alone).
// With `limitSeconds`, the process is ended then and the figure says so.
EbookFigure EbookInChild(const std::string& location, const char* how, double limitSeconds = 0);

struct BackendsRun {
  std::string folder;  // SQLite files, the own server, ORVO.ini and the log
  // A PostgreSQL database: filled when it holds no news, used as it is when
  // it holds the same items as SQLite's side. Empty: a server of our own in
  // folder/postgres.
  std::string url;
  std::string sqliteFile;  // a kept file made by --generate for SQLite's reads; empty: a new one
  int runs = 2;            // each figure is the fastest of this many
  bool readsOnly = false;  // no clean-up: the database keeps its items for another run
  double ebookLimit = 0;   // seconds the eBook query may take on a side; 0: no limit
};

// 0 when every figure was taken.
int RunBackends(const BackendsRun& run, const std::vector<int64_t>& sizes);

}  // namespace orvo::bench

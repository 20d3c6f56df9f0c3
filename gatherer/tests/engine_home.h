// A program folder for one test: ORVO_HOME points at a fresh temporary folder
// holding ORVO.ini, the log, Images/ and a new news database that the process
// connection opens.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "database.h"
#include "settings.h"
#include "test_support.h"

namespace orvo::testing {

class EngineHome {
 public:
  EngineHome();
  ~EngineHome();

  const std::string& dir() const { return dir_.path(); }
  std::string File(const std::string& name) const { return dir_.File(name); }
  const std::string& dbPath() const { return dbPath_; }
  Settings settings() const { return Settings(File("ORVO.ini")); }
  // A connection of the test's own, beside the process connection.
  Database& db() { return *db_; }
  std::string Log() const { return ReadFile(File("orvo_log.txt")); }

  int64_t AddPair(const std::string& site, const std::string& category, bool selected);
  int64_t AddMask(int64_t pair, int type, int version, const std::string& hex = "");
  int64_t Count(const std::string& sql);
  std::string Text(const std::string& sql);

 private:
  TempDir dir_;
  std::string dbPath_;
  std::unique_ptr<Database> db_;
  std::string oldHome_;
  bool hadHome_ = false;
};

}  // namespace orvo::testing

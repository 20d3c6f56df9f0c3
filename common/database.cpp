#include "database.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

#include "eventlog.h"
#include "like.h"
#include "text.h"

namespace orvo {

namespace {

int Configure(sqlite3* db) {
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, 15000);
  int rc = sqlite3_exec(db, "PRAGMA foreign_keys = ON; PRAGMA journal_mode = WAL;", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = RegisterLike(db);
  return rc;
}

bool HasNewsTables(sqlite3* db) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master WHERE type='table' AND name IN "
                             "('newsitem','newsimages','site_cat_rel','news_masks')", -1, &st, nullptr) != SQLITE_OK)
    return false;
  bool ok = sqlite3_step(st) == SQLITE_ROW && sqlite3_column_int(st, 0) == 4;
  sqlite3_finalize(st);
  return ok;
}

}  // namespace

int Database::Open(const std::string& path, Mode mode, std::unique_ptr<Database>* out) {
  out->reset();
  if (path.empty()) return SQLITE_CANTOPEN;
  struct stat st;
  bool exists = ::stat(path.c_str(), &st) == 0;
  if (mode == Mode::kCreate && exists) return SQLITE_CANTOPEN;
  if (mode == Mode::kExisting && !exists) return SQLITE_CANTOPEN;

  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
  if (mode == Mode::kCreate) flags |= SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE;
  // A new file holds the user's news: private to the user.
  mode_t old = mode == Mode::kCreate ? ::umask(077) : 0;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (mode == Mode::kCreate) ::umask(old);
  if (rc != SQLITE_OK) {
    if (db) rc = sqlite3_extended_errcode(db);
    sqlite3_close(db);
    return rc;
  }
  rc = Configure(db);
  if (rc == SQLITE_OK && mode == Mode::kCreate)
    rc = sqlite3_exec(db, NewsSchemaSql(), nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK && !HasNewsTables(db)) rc = SQLITE_NOTADB;
  if (rc != SQLITE_OK) {
    rc = sqlite3_extended_errcode(db) ? sqlite3_extended_errcode(db) : rc;
    sqlite3_close(db);
    if (mode == Mode::kCreate) ::unlink(path.c_str());
    return rc;
  }
  out->reset(new Database(db, path));
  return SQLITE_OK;
}

Database::~Database() { sqlite3_close_v2(db_); }

int Database::Exec(const char* sql) {
  int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  return rc == SQLITE_OK ? 0 : sqlite3_extended_errcode(db_);
}

// IMMEDIATE takes the write lock up front, so a transaction never fails half
// way with SQLITE_BUSY after its first reads.
int Database::Begin() { return Exec("BEGIN IMMEDIATE"); }
int Database::Commit() { return Exec("COMMIT"); }
int Database::Rollback() { return Exec("ROLLBACK"); }

Statement::Statement(Database& db, std::string_view sql) : db_(db), sql_(sql) {
  int rc = sqlite3_prepare_v2(db.handle(), sql_.c_str(), static_cast<int>(sql_.size()), &stmt_, nullptr);
  if (rc != SQLITE_OK) Fail(sqlite3_extended_errcode(db.handle()));
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::Bind(int index, int64_t value) {
  if (stmt_ && sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) Fail(SQLITE_RANGE);
  return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
  if (stmt_ && sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) != SQLITE_OK)
    Fail(SQLITE_RANGE);
  return *this;
}

Statement& Statement::BindText(int index, std::string_view text, size_t bufferSize) {
  return Bind(index, FitBuffer(text, bufferSize));
}

Statement& Statement::BindTime(int index, std::time_t t) { return Bind(index, FormatDbTime(t)); }

Statement& Statement::BindNull(int index) {
  if (stmt_ && sqlite3_bind_null(stmt_, index) != SQLITE_OK) Fail(SQLITE_RANGE);
  return *this;
}

bool Statement::Next() {
  if (!stmt_ || error_) return false;
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc != SQLITE_DONE) Fail(sqlite3_extended_errcode(db_.handle()));
  return false;
}

int Statement::Execute() {
  while (Next()) {
  }
  return error_;
}

int Statement::Reset() {
  if (!stmt_) return error_;
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
  error_ = 0;
  return 0;
}

std::string Statement::Text(int column, size_t bufferSize) const {
  const unsigned char* p = sqlite3_column_text(stmt_, column);
  if (!p) return {};
  std::string_view s(reinterpret_cast<const char*>(p), static_cast<size_t>(sqlite3_column_bytes(stmt_, column)));
  return bufferSize ? FitBuffer(s, bufferSize) : std::string(s);
}

std::string_view Statement::TextView(int column) const {
  const unsigned char* p = sqlite3_column_text(stmt_, column);
  if (!p) return {};
  return {reinterpret_cast<const char*>(p), static_cast<size_t>(sqlite3_column_bytes(stmt_, column))};
}

std::optional<std::time_t> Statement::Time(int column) const {
  if (IsNull(column)) return std::nullopt;
  return ParseDbTime(Text(column));
}

namespace {
std::mutex g_processMutex;
std::string g_processPath;
std::unique_ptr<Database> g_processDb;
}  // namespace

void SetProcessDatabasePath(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_processMutex);
  g_processPath = path;
}

int OpenDatabase() {
  std::lock_guard<std::mutex> lock(g_processMutex);
  if (g_processDb) return 0;
  int rc = Database::Open(g_processPath, Database::Mode::kExisting, &g_processDb);
  if (rc != 0) WriteEventLog("Error open DB: " + HexCode(rc));
  return rc;
}

Database* ProcessDatabase() {
  std::lock_guard<std::mutex> lock(g_processMutex);
  return g_processDb.get();
}

void CloseDatabase() {
  std::lock_guard<std::mutex> lock(g_processMutex);
  g_processDb.reset();
}

std::string HexCode(int code) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(code));
  return buf;
}

}  // namespace orvo

// The news database: one SQLite file shared by the reader, the gathering
// engine and the eBook generator (WAL journal plus a busy time-out).
//
// Every value goes in as a bound parameter. Result codes are SQLite's extended
// result codes; 0 is success.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace orvo {

// Buffer sizes of the text columns: a stored text carries at most size - 1 bytes.
inline constexpr size_t kTextColumn = 255;        // titles, names, addresses, authors
inline constexpr size_t kSmallDescrColumn = 1024;
inline constexpr size_t kBodyColumn = 63500;
inline constexpr size_t kImagePathColumn = 260;
inline constexpr size_t kImageTextColumn = 1024;
inline constexpr size_t kMaskColumn = 95000;

// The schema every news database is created from.
const char* NewsSchemaSql();

class Database {
 public:
  enum class Mode { kExisting, kCreate };

  // Opens `path`. kExisting fails on a missing file or on a file that is not
  // a news database (SQLITE_NOTADB); kCreate makes a new file (mode 0600)
  // from the schema and fails when the path already exists.
  static int Open(const std::string& path, Mode mode, std::unique_ptr<Database>* out);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  sqlite3* handle() const { return db_; }
  const std::string& path() const { return path_; }

  // Runs statements that return no rows and take no values.
  int Exec(const char* sql);

  int Begin();
  int Commit();
  int Rollback();

  int64_t LastInsertId() const { return sqlite3_last_insert_rowid(db_); }
  int Changes() const { return sqlite3_changes(db_); }
  std::string ErrorMessage() const { return sqlite3_errmsg(db_); }

 private:
  Database(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
  sqlite3* db_;
  std::string path_;
};

// One prepared statement. Bind values by 1-based position, then Next() walks
// the rows (false at the end or on failure: see error()), or Execute() runs a
// statement without rows.
class Statement {
 public:
  Statement(Database& db, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, int64_t value);
  Statement& Bind(int index, int value) { return Bind(index, static_cast<int64_t>(value)); }
  Statement& Bind(int index, std::string_view text);
  Statement& Bind(int index, const char* text) { return Bind(index, std::string_view(text)); }
  Statement& Bind(int index, const std::string& text) { return Bind(index, std::string_view(text)); }
  // Cut to the column's buffer size minus one, on a UTF-8 character boundary.
  Statement& BindText(int index, std::string_view text, size_t bufferSize);
  Statement& BindTime(int index, std::time_t t);
  Statement& BindNull(int index);

  bool Next();
  int Execute();
  int Reset();  // for running again with new values

  int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  bool IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
  std::string Text(int column, size_t bufferSize = 0) const;
  // The same text without a copy: valid until the next Next() or Reset().
  std::string_view TextView(int column) const;
  std::optional<std::time_t> Time(int column) const;

  // 0 while all is well; otherwise the first failure's code.
  int error() const { return error_; }
  const std::string& sql() const { return sql_; }

 private:
  void Fail(int rc) {
    if (error_ == 0) error_ = rc;
  }
  sqlite3_stmt* stmt_ = nullptr;
  Database& db_;
  std::string sql_;
  int error_ = 0;
};

// Rolls back unless committed.
class Transaction {
 public:
  explicit Transaction(Database& db) : db_(db), status_(db.Begin()) {}
  ~Transaction() {
    if (status_ == 0 && !done_) db_.Rollback();
  }
  int status() const { return status_; }
  int Commit() {
    done_ = true;
    return status_ == 0 ? db_.Commit() : status_;
  }

 private:
  Database& db_;
  int status_;
  bool done_ = false;
};

// The connection of an engine process: opened on first use at the path given
// by SetProcessDatabasePath (the engines read PathDB once at start-up).
// Failure is logged as "Error open DB: %X" and returned.
void SetProcessDatabasePath(const std::string& path);
int OpenDatabase();
Database* ProcessDatabase();  // null while not open
void CloseDatabase();

// "%X" of a result code, upper-case hexadecimal.
std::string HexCode(int code);

}  // namespace orvo

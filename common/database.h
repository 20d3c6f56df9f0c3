// The news database: one SQLite file shared by the reader, the gathering
// engine and the eBook generator (WAL journal plus a busy time-out), or a
// PostgreSQL database shared by several machines when the location is a
// postgresql:// address.
//
// Every value goes in as a bound parameter; statements are written with "?"
// or "?N" placeholders on both back ends. Result codes are SQLite's extended
// result codes on both (PostgreSQL's errors are mapped onto them); 0 is
// success.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace orvo {

class Settings;

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
  enum class Backend { kSqlite, kPostgres };

  // Opens `path`: a file, or a postgresql:// address. kExisting fails on a
  // missing file or on one that is not a news database (SQLITE_NOTADB);
  // kCreate makes a new file (mode 0600) from the schema and fails when the
  // path already exists. On PostgreSQL the database must exist; kCreate puts
  // the schema into it and fails when it already holds the news tables. A
  // server that cannot be reached gives SQLITE_CANTOPEN after a time-out.
  // `error`, when given, receives the reason of a failure (without password).
  static int Open(const std::string& path, Mode mode, std::unique_ptr<Database>* out, std::string* error = nullptr);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  Backend backend() const { return pg_ ? Backend::kPostgres : Backend::kSqlite; }
  // The SQLite connection, for what only SQLite has (the FTS5 search index,
  // hooks); null on PostgreSQL.
  sqlite3* handle() const { return db_; }
  // The file, or the address as given (it may hold a password: show
  // Describe() instead).
  const std::string& path() const { return path_; }
  // For messages: "SQLite file <path>" or "PostgreSQL server <host:port/db>".
  std::string Describe() const;

  // Runs statements that return no rows and take no values.
  int Exec(const char* sql);

  int Begin();
  int Commit();
  int Rollback();
  // True inside a transaction, whoever began it (a savepoint outside one
  // begins one on SQLite; PostgreSQL refuses it there).
  bool InTransaction() const;

  // Breaks off the statement under way from another thread (it fails with
  // SQLITE_INTERRUPT).
  void Interrupt();

  // True once the server has gone away (PostgreSQL): every statement fails
  // from then on, until the database is opened again. Never on SQLite.
  bool Lost() const;

  int64_t LastInsertId() const;
  int Changes() const;
  std::string ErrorMessage() const;

 private:
  friend class Statement;
  struct Pg;
  struct Kept;
  static int OpenPostgres(const std::string& url, Mode mode, std::unique_ptr<Database>* out, std::string* error);
  Database(sqlite3* db, std::unique_ptr<Pg> pg, std::string path);
  sqlite3* db_ = nullptr;
  std::unique_ptr<Pg> pg_;
  std::string path_;
  // SQLite: statements done with, kept for their next use with the same
  // text. Preparing the engine's insert, with its search index triggers,
  // costs more than running it. Shared with the statements, which may outlive
  // the connection.
  std::shared_ptr<Kept> kept_;
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
  // Raw bytes: a blob on SQLite, a binary bytea on PostgreSQL.
  Statement& BindBytes(int index, std::string_view bytes);

  bool Next();
  int Execute();
  int Reset();  // for running again with new values
  // On PostgreSQL, all rows in one result when the statement runs instead of
  // one result a row: much cheaper for rows that would be read away anyway
  // when another statement starts. No effect on SQLite.
  Statement& ReadWhole();

  int64_t Int(int column) const;
  bool IsNull(int column) const;
  std::string Text(int column, size_t bufferSize = 0) const;
  // The same text without a copy: valid until the next Next() or Reset().
  std::string_view TextView(int column) const;
  std::optional<std::time_t> Time(int column) const;

  // 0 while all is well; otherwise the first failure's code.
  int error() const { return error_; }
  const std::string& sql() const { return sql_; }

 private:
  friend class Database;
  friend struct Database::Pg;
  struct PgRows;
  void Fail(int rc) {
    if (error_ == 0) error_ = rc;
  }
  bool PgNext();
  sqlite3_stmt* stmt_ = nullptr;
  std::unique_ptr<PgRows> pg_;
  std::shared_ptr<Database::Kept> kept_;
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

// What a PostgreSQL connection of ours lets a sort or a search's page
// bitmap take before it spills to disk or turns lossy, in kB, unless the
// server gives more.
inline constexpr int64_t kWorkMemKb = 64 * 1024;

// Where the news database is: ORVO_DATABASE in the environment, else Url in
// the [Database] section of ORVO.ini, else PathDB. A postgresql:// address
// is a PostgreSQL database; anything else is a SQLite file.
inline constexpr const char* kDatabaseSection = "Database";
inline constexpr size_t kDatabaseUrlBuffer = 1024;
std::string NewsDatabaseLocation(const Settings& settings, size_t pathBuffer);
// The same without ORVO_DATABASE: what ORVO.ini names.
std::string ConfiguredDatabaseLocation(const Settings& settings, size_t pathBuffer);

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

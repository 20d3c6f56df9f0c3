#include "database.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "eventlog.h"
#include "like.h"
#include "pg.h"
#include "pg_schema.h"
#include "settings.h"
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

int Database::Open(const std::string& path, Mode mode, std::unique_ptr<Database>* out, std::string* error) {
  out->reset();
  if (pg::IsUrl(path)) return OpenPostgres(path, mode, out, error);
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
  if (error) *error = {};
  out->reset(new Database(db, nullptr, path));
  return SQLITE_OK;
}

// ---- PostgreSQL ----------------------------------------------------------

// The rows of a running statement. Rows are read one at a time (libpq's
// single-row mode), so a large result is never held whole; when another
// statement needs the connection first, the rest is read ahead into
// `pending` (libpq runs one statement at a time on a connection).
struct Statement::PgRows {
  std::string sql;  // with $N placeholders
  int params = 0;
  std::vector<pg::Param> values;
  bool started = false;
  bool finished = false;
  bool streaming = false;  // its rows are still arriving on the connection
  bool whole = false;      // all rows in `row`, one result
  std::deque<pg::Result> pending;
  pg::Result row;
  int index = 0;  // of the current row in `row`
};

struct Database::Pg {
  pg::Connection conn;
  // Made with the connection: PQcancel may be called from any thread.
  std::unique_ptr<PGcancel, void (*)(PGcancel*)> cancel{nullptr, PQfreeCancel};
  Statement* streaming = nullptr;
  std::string error;
  int changes = 0;
  bool inserted = false;  // since lastval() was last read
  int64_t lastId = 0;
  bool inTransaction = false;
  int abortedBy = 0;  // the failure that spoiled the open transaction
  bool lost = false;  // the server went away

  // Frees the connection for another statement.
  void Settle() {
    if (!streaming) return;
    Statement::PgRows& rows = *streaming->pg_;
    while (pg::Result r{PQgetResult(conn.get())}) rows.pending.push_back(std::move(r));
    rows.streaming = false;
    streaming = nullptr;
  }

  // Reads away the rest of `rows`, keeping nothing.
  void Discard(Statement::PgRows& rows) {
    rows.pending.clear();
    if (rows.streaming) {
      while (pg::Result r{PQgetResult(conn.get())}) {
      }
      rows.streaming = false;
      streaming = nullptr;
    }
  }

  int Failure(const PGresult* r);
  void Completed(const PGresult* r);
  int Run(const char* sql);
};

namespace {

int CodeOfState(const char* state) {
  if (!state || std::strlen(state) != 5) return SQLITE_ERROR;
  std::string s(state);
  if (s == "23505") return SQLITE_CONSTRAINT_UNIQUE;
  if (s == "23503") return SQLITE_CONSTRAINT_FOREIGNKEY;
  if (s == "23502") return SQLITE_CONSTRAINT_NOTNULL;
  if (s == "23514") return SQLITE_CONSTRAINT_CHECK;
  if (s.compare(0, 2, "23") == 0) return SQLITE_CONSTRAINT;
  if (s == "40001" || s == "40P01" || s == "55P03") return SQLITE_BUSY;
  if (s == "57014") return SQLITE_INTERRUPT;
  if (s == "25P02") return SQLITE_ABORT;
  if (s == "42501") return SQLITE_PERM;
  if (s == "25006") return SQLITE_READONLY;
  if (s.compare(0, 2, "08") == 0 || s.compare(0, 3, "57P") == 0) return SQLITE_IOERR;
  if (s.compare(0, 2, "53") == 0) return SQLITE_FULL;
  if (s.compare(0, 2, "22") == 0) return SQLITE_MISMATCH;
  return SQLITE_ERROR;
}

bool IsOk(const PGresult* r) {
  ExecStatusType st = PQresultStatus(r);
  return r && (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK || st == PGRES_SINGLE_TUPLE);
}

}  // namespace

// The code of a failed result; a lost connection is an I/O error.
int Database::Pg::Failure(const PGresult* r) {
  error = pg::Message(conn.get(), r);
  // The first statement after the server went away may fail before libpq has
  // marked the connection bad: libpq's own failures carry no state, the
  // server's last words a class 08 (but a protocol violation) or 57P one.
  const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
  if (PQstatus(conn.get()) == CONNECTION_BAD || !state ||
      (std::strncmp(state, "08", 2) == 0 && std::strcmp(state, "08P01") != 0) || std::strncmp(state, "57P", 3) == 0)
    lost = true;
  int code = lost ? SQLITE_IOERR : CodeOfState(state);
  if (inTransaction && abortedBy == 0) abortedBy = code;
  return code;
}

// Notes what a finished statement changed, as sqlite3_changes does.
void Database::Pg::Completed(const PGresult* r) {
  const char* tag = PQcmdStatus(const_cast<PGresult*>(r));
  bool insert = std::strncmp(tag, "INSERT", 6) == 0;
  if (insert || std::strncmp(tag, "UPDATE", 6) == 0 || std::strncmp(tag, "DELETE", 6) == 0) {
    changes = std::atoi(PQcmdTuples(const_cast<PGresult*>(r)));
    if (insert && changes > 0) inserted = true;
  }
}

int Database::Pg::Run(const char* sql) {
  Settle();
  pg::Result r{PQexec(conn.get(), sql)};
  if (!IsOk(r.get())) return Failure(r.get());
  Completed(r.get());
  return 0;
}

int Database::OpenPostgres(const std::string& url, Mode mode, std::unique_ptr<Database>* out, std::string* error) {
  std::string why;
  auto fail = [&](int code, const std::string& reason) {
    if (error) *error = reason;
    return code;
  };
  auto pg = std::make_unique<Pg>();
  pg->conn = pg::Connection::Open(url, 10, &why);
  if (!pg->conn) return fail(SQLITE_CANTOPEN, "cannot connect to " + pg::RedactUrl(url) + ": " + why);
  pg->cancel.reset(PQgetCancel(pg->conn.get()));
  const std::string server = "PostgreSQL server " + pg::ServerName(pg->conn.get());
  pg::Result tables = pg->conn.Exec(
      "SELECT count(*) FROM pg_catalog.pg_tables WHERE schemaname = current_schema() AND tablename IN "
      "('newsitem','newsimages','site_cat_rel','news_masks')");
  if (!IsOk(tables.get())) return fail(pg->Failure(tables.get()), server + ": " + pg->error);
  int found = std::atoi(PQgetvalue(tables.get(), 0, 0));
  if (mode == Mode::kCreate) {
    if (found > 0) return fail(SQLITE_CANTOPEN, server + " already holds a news database");
    std::string schema = PostgresSchemaSql(&why);
    if (schema.empty()) return fail(SQLITE_ERROR, "the schema has no PostgreSQL form: " + why);
    int rc = pg->Run(("BEGIN;\n" + schema + "COMMIT;").c_str());
    if (rc != 0) {
      std::string reason = server + ": " + pg->error;
      pg->Run("ROLLBACK");
      return fail(rc, reason);
    }
  } else if (found != 4) {
    return fail(SQLITE_NOTADB, server + " holds no news database (create it with orvo init --database)");
  }
  // A keyword search gathers its candidates in a bitmap of the table's
  // pages. Within the server's default 4 MB the bitmap of a million items
  // turns lossy, and every row of a lossy page is then tested again, the
  // non-matching ones to the end of their bodies. Only raised, so a larger
  // value the server's owner set stays; without it the searches are slower
  // but still right.
  pg->conn.Exec(std::string("SELECT set_config('work_mem', '") + std::to_string(kWorkMemKb) +
                "kB', false) FROM pg_settings WHERE name = 'work_mem' AND setting::bigint < " +
                std::to_string(kWorkMemKb));
  if (error) *error = {};
  out->reset(new Database(nullptr, std::move(pg), url));
  return SQLITE_OK;
}

// ---- both ------------------------------------------------------------------

struct Database::Kept {
  static constexpr size_t kMost = 16;
  bool open = true;
  std::vector<std::pair<std::string, sqlite3_stmt*>> statements;  // the latest last

  sqlite3_stmt* Take(const std::string& sql) {
    for (auto it = statements.rbegin(); it != statements.rend(); ++it) {
      if (it->first != sql) continue;
      sqlite3_stmt* st = it->second;
      statements.erase(std::next(it).base());
      return st;
    }
    return nullptr;
  }
  void Keep(std::string sql, sqlite3_stmt* st) {
    if (!open) {
      sqlite3_finalize(st);
      return;
    }
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    if (statements.size() == kMost) {
      sqlite3_finalize(statements.front().second);
      statements.erase(statements.begin());
    }
    statements.emplace_back(std::move(sql), st);
  }
  void Close() {
    open = false;
    for (auto& kept : statements) sqlite3_finalize(kept.second);
    statements.clear();
  }
};

Database::Database(sqlite3* db, std::unique_ptr<Pg> pg, std::string path)
    : db_(db), pg_(std::move(pg)), path_(std::move(path)) {
  if (db_) kept_ = std::make_shared<Kept>();
}

Database::~Database() {
  if (pg_ && pg_->streaming) pg_->Discard(*pg_->streaming->pg_);
  if (kept_) kept_->Close();
  if (db_) sqlite3_close_v2(db_);
}

std::string Database::Describe() const {
  if (pg_) return "PostgreSQL server " + pg::ServerName(pg_->conn.get());
  return "SQLite file " + path_;
}

int Database::Exec(const char* sql) {
  if (pg_) return pg_->Run(sql);
  int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  return rc == SQLITE_OK ? 0 : sqlite3_extended_errcode(db_);
}

// IMMEDIATE takes the write lock up front, so a transaction never fails half
// way with SQLITE_BUSY after its first reads. PostgreSQL locks rows as they
// are written, at read committed.
int Database::Begin() {
  if (!pg_) return Exec("BEGIN IMMEDIATE");
  pg_->abortedBy = 0;
  int rc = pg_->Run("BEGIN ISOLATION LEVEL READ COMMITTED");
  pg_->inTransaction = rc == 0;
  return rc;
}

// PostgreSQL answers COMMIT of a transaction spoiled by a failed statement
// with a rollback, not an error: that is a failure here.
int Database::Commit() {
  if (!pg_) return Exec("COMMIT");
  pg_->Settle();
  pg_->inTransaction = false;
  pg::Result r{PQexec(pg_->conn.get(), "COMMIT")};
  if (!IsOk(r.get())) return pg_->Failure(r.get());
  if (std::strcmp(PQcmdStatus(r.get()), "ROLLBACK") == 0) {
    int code = pg_->abortedBy ? pg_->abortedBy : SQLITE_ABORT;
    pg_->error = "the transaction was rolled back after an earlier failure";
    pg_->abortedBy = 0;
    return code;
  }
  return 0;
}

int Database::Rollback() {
  if (!pg_) return Exec("ROLLBACK");
  pg_->abortedBy = 0;
  pg_->inTransaction = false;
  return pg_->Run("ROLLBACK");
}

bool Database::InTransaction() const {
  if (!pg_) return sqlite3_get_autocommit(db_) == 0;
  pg_->Settle();
  PGTransactionStatusType st = PQtransactionStatus(pg_->conn.get());
  return st == PQTRANS_INTRANS || st == PQTRANS_INERROR;
}

void Database::Interrupt() {
  if (!pg_) {
    sqlite3_interrupt(db_);
    return;
  }
  char why[256];
  if (pg_->cancel) PQcancel(pg_->cancel.get(), why, sizeof why);
}

bool Database::Lost() const { return pg_ && (pg_->lost || PQstatus(pg_->conn.get()) == CONNECTION_BAD); }

int64_t Database::LastInsertId() const {
  if (!pg_) return sqlite3_last_insert_rowid(db_);
  if (pg_->inserted) {
    pg_->Settle();
    pg::Result r = pg_->conn.Exec("SELECT lastval()");
    if (PQresultStatus(r.get()) == PGRES_TUPLES_OK && PQntuples(r.get()) == 1)
      pg_->lastId = std::strtoll(PQgetvalue(r.get(), 0, 0), nullptr, 10);
    pg_->inserted = false;
  }
  return pg_->lastId;
}

int Database::Changes() const { return pg_ ? pg_->changes : sqlite3_changes(db_); }

std::string Database::ErrorMessage() const { return pg_ ? pg_->error : sqlite3_errmsg(db_); }

Statement::Statement(Database& db, std::string_view sql) : db_(db), sql_(sql) {
  if (db.pg_) {
    pg_ = std::make_unique<PgRows>();
    pg_->sql = pg::NumberPlaceholders(sql_, &pg_->params);
    pg_->values.resize(static_cast<size_t>(pg_->params));
    return;
  }
  kept_ = db.kept_;
  stmt_ = kept_->Take(sql_);
  if (stmt_) return;
  int rc = sqlite3_prepare_v2(db.handle(), sql_.c_str(), static_cast<int>(sql_.size()), &stmt_, nullptr);
  if (rc != SQLITE_OK) Fail(sqlite3_extended_errcode(db.handle()));
}

Statement::~Statement() {
  if (pg_) db_.pg_->Discard(*pg_);
  if (stmt_) kept_->Keep(std::move(sql_), stmt_);
}

namespace {
bool PgBind(std::vector<pg::Param>& values, int index, pg::Param p) {
  if (index < 1 || static_cast<size_t>(index) > values.size()) return false;
  values[static_cast<size_t>(index - 1)] = std::move(p);
  return true;
}
}  // namespace

Statement& Statement::Bind(int index, int64_t value) {
  if (pg_) {
    if (!PgBind(pg_->values, index, {std::to_string(value), true})) Fail(SQLITE_RANGE);
  } else if (stmt_ && sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) {
    Fail(SQLITE_RANGE);
  }
  return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
  if (pg_) {
    if (!PgBind(pg_->values, index, {std::string(text), false})) Fail(SQLITE_RANGE);
  } else if (stmt_ &&
             sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) != SQLITE_OK) {
    Fail(SQLITE_RANGE);
  }
  return *this;
}

Statement& Statement::BindText(int index, std::string_view text, size_t bufferSize) {
  return Bind(index, FitBuffer(text, bufferSize));
}

Statement& Statement::BindTime(int index, std::time_t t) { return Bind(index, FormatDbTime(t)); }

Statement& Statement::BindBytes(int index, std::string_view bytes) {
  if (pg_) {
    pg::Param p{std::string(bytes), false, true};
    if (!PgBind(pg_->values, index, std::move(p))) Fail(SQLITE_RANGE);
  } else if (stmt_ && sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT) !=
                          SQLITE_OK) {
    Fail(SQLITE_RANGE);
  }
  return *this;
}

Statement& Statement::ReadWhole() {
  if (pg_) pg_->whole = true;
  return *this;
}

Statement& Statement::BindNull(int index) {
  if (pg_) {
    if (!PgBind(pg_->values, index, {})) Fail(SQLITE_RANGE);
  } else if (stmt_ && sqlite3_bind_null(stmt_, index) != SQLITE_OK) {
    Fail(SQLITE_RANGE);
  }
  return *this;
}

bool Statement::PgNext() {
  Database::Pg& db = *db_.pg_;
  PgRows& rows = *pg_;
  if (rows.whole) {
    if (!rows.started) {
      if (error_) return false;
      db.Settle();
      rows.started = true;
      rows.index = -1;
      rows.row = db.conn.Exec(rows.sql, rows.values);
      if (PQresultStatus(rows.row.get()) == PGRES_TUPLES_OK || PQresultStatus(rows.row.get()) == PGRES_COMMAND_OK) {
        db.Completed(rows.row.get());
      } else {
        Fail(db.Failure(rows.row.get()));
        rows.row.reset();
      }
    }
    if (rows.row && ++rows.index < PQntuples(rows.row.get())) return true;
    rows.row.reset();
    rows.finished = true;
    return false;
  }
  rows.row.reset();
  if (!rows.started) {
    if (error_) return false;
    db.Settle();
    rows.started = true;
    if (!db.conn.SendRowByRow(rows.sql, rows.values)) {
      rows.finished = true;
      Fail(db.Failure(nullptr));
      return false;
    }
    rows.streaming = true;
    db.streaming = this;
  }
  while (!rows.finished) {
    pg::Result r;
    if (!rows.pending.empty()) {
      r = std::move(rows.pending.front());
      rows.pending.pop_front();
    } else if (rows.streaming) {
      r.reset(PQgetResult(db.conn.get()));
    }
    if (!r) {
      rows.finished = true;
      if (rows.streaming) db.streaming = nullptr;
      rows.streaming = false;
      break;
    }
    ExecStatusType st = PQresultStatus(r.get());
    if (st == PGRES_SINGLE_TUPLE) {
      rows.row = std::move(r);
      return true;
    }
    if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK)
      db.Completed(r.get());
    else
      Fail(db.Failure(r.get()));
  }
  return false;
}

bool Statement::Next() {
  if (pg_) return PgNext();
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
  if (pg_) {
    db_.pg_->Discard(*pg_);
    pg_->row.reset();
    pg_->index = 0;
    pg_->started = pg_->finished = false;
    pg_->values.assign(pg_->values.size(), pg::Param{});
    error_ = 0;
    return 0;
  }
  if (!stmt_) return error_;
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
  error_ = 0;
  return 0;
}

namespace {
// The value of a row's column, or null for SQL NULL or no such column.
const char* PgValue(const PGresult* row, int index, int column) {
  if (!row || column < 0 || column >= PQnfields(row) || PQgetisnull(row, index, column)) return nullptr;
  return PQgetvalue(row, index, column);
}
}  // namespace

int64_t Statement::Int(int column) const {
  if (!pg_) return sqlite3_column_int64(stmt_, column);
  const char* v = PgValue(pg_->row.get(), pg_->index, column);
  if (!v) return 0;
  if (v[0] == 't' && v[1] == '\0') return 1;  // a boolean
  return std::strtoll(v, nullptr, 10);
}

bool Statement::IsNull(int column) const {
  if (!pg_) return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
  return PgValue(pg_->row.get(), pg_->index, column) == nullptr;
}

std::string Statement::Text(int column, size_t bufferSize) const {
  std::string_view s = TextView(column);
  return bufferSize ? FitBuffer(s, bufferSize) : std::string(s);
}

std::string_view Statement::TextView(int column) const {
  if (pg_) {
    const char* v = PgValue(pg_->row.get(), pg_->index, column);
    if (!v) return {};
    return {v, static_cast<size_t>(PQgetlength(pg_->row.get(), pg_->index, column))};
  }
  const unsigned char* p = sqlite3_column_text(stmt_, column);
  if (!p) return {};
  return {reinterpret_cast<const char*>(p), static_cast<size_t>(sqlite3_column_bytes(stmt_, column))};
}

std::optional<std::time_t> Statement::Time(int column) const {
  if (IsNull(column)) return std::nullopt;
  return ParseStoredTime(TextView(column));
}

namespace {
std::mutex g_processMutex;
std::string g_processPath;
std::unique_ptr<Database> g_processDb;
}  // namespace

std::string NewsDatabaseLocation(const Settings& settings, size_t pathBuffer) {
  const char* env = std::getenv("ORVO_DATABASE");
  if (env && *env) return env;
  return ConfiguredDatabaseLocation(settings, pathBuffer);
}

std::string ConfiguredDatabaseLocation(const Settings& settings, size_t pathBuffer) {
  std::string url = settings.ReadText(kDatabaseSection, "Url", "", kDatabaseUrlBuffer);
  if (!url.empty()) return url;
  return settings.ReadText(kSystemSection, "PathDB", "", pathBuffer);
}

void SetProcessDatabasePath(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_processMutex);
  g_processPath = path;
}

int OpenDatabase() {
  std::lock_guard<std::mutex> lock(g_processMutex);
  if (g_processDb) return 0;
  std::string why;
  int rc = Database::Open(g_processPath, Database::Mode::kExisting, &g_processDb, &why);
  if (rc != 0) {
    WriteEventLog("Error open DB: " + HexCode(rc));
    if (!why.empty()) WriteEventLog(why);
  }
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

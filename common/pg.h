// A thin layer over libpq: a connection and a result that free themselves,
// statements whose values are always bound (never spliced into the text), and
// addresses that can be shown without their password.
//
// libpq's own environment and files (PGPASSFILE, ~/.pgpass, PGSERVICE,
// ~/.pg_service.conf) are left to libpq: nothing here overrides them.
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::pg {

// True for a postgresql:// or postgres:// address.
bool IsUrl(std::string_view location);

// The address with any password removed (user:secret@ and password=...), for
// messages and the log.
std::string RedactUrl(std::string_view url);

// SQLite's placeholders as PostgreSQL's: "?" is one more than the highest
// number so far, "?N" is $N; quoted text, quoted names and comments are left
// alone. `count` receives the number of parameters.
std::string NumberPlaceholders(std::string_view sql, int* count);

// "host:port/database" of an open connection (a socket folder as the host).
std::string ServerName(PGconn* conn);

struct ResultFree {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

// The server's message of a failed result (or the connection's), one line.
std::string Message(PGconn* conn, const PGresult* result);

// A bound value: text, or SQL NULL; `int8` says the text is a 64-bit integer.
struct Param {
  std::optional<std::string> text;
  bool int8 = false;
  bool bytes = false;  // `text` holds raw bytes, sent as a binary bytea
};

class Connection {
 public:
  // Connects to `url`, giving up after `timeoutSeconds` unless the address
  // sets its own connect_timeout. On failure returns an empty connection and
  // sets `error` to libpq's message, which never holds the password.
  static Connection Open(const std::string& url, int timeoutSeconds, std::string* error);

  Connection() = default;
  explicit operator bool() const { return conn_ != nullptr; }
  PGconn* get() const { return conn_.get(); }

  // Runs one statement with bound values and waits for the whole result.
  Result Exec(std::string_view sql, const std::vector<Param>& params = {}) const;
  // Sends one statement with bound values for reading row by row
  // (PQgetResult gives one row a result); false when it could not be sent.
  bool SendRowByRow(std::string_view sql, const std::vector<Param>& params) const;

 private:
  struct Finish {
    void operator()(PGconn* c) const { PQfinish(c); }
  };
  std::unique_ptr<PGconn, Finish> conn_;
};

}  // namespace orvo::pg

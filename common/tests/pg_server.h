// A real PostgreSQL server for the tests of one test binary (target
// orvo_pg_testing).
//
//   TEST(Store, OnPostgres) {
//     ORVO_NEED_POSTGRES(server);
//     std::string url = server->NewDatabase();  // an empty database of its own
//     ...
//   }
//
// The server is made on first use with Debian's initdb and pg_ctl (from
// /usr/lib/postgresql/<version>/bin, newest first) in a temporary folder. It
// listens only on a Unix socket in that folder, runs with fsync off, trusts
// local connections (nobody else can reach the folder) and is stopped, and its
// folder removed, when the test binary exits. initdb refuses to run as root,
// so under root the server runs as `nobody` in a folder that user owns.
//
// When it cannot start, ORVO_NEED_POSTGRES fails the test under CI=true and
// skips it elsewhere, both with the reason.
#pragma once

#include <string>
#include <utility>

namespace orvo::testing {

class PgServer {
 public:
  explicit PgServer(std::string socketDir) : socketDir_(std::move(socketDir)) {}
  // The folder that holds the socket (the libpq `host`).
  const std::string& socketDir() const { return socketDir_; }
  // A postgresql:// address of database `name` on this server.
  std::string Url(const std::string& name) const;
  // Creates a new empty database and returns its address; "" on failure.
  // `options` go into its CREATE DATABASE (a locale, say).
  std::string NewDatabase(const std::string& options = {}) const;

 private:
  std::string socketDir_;
};

// The server of this test binary, started on the first call; null with `why`
// set when it cannot start (the same answer on every later call).
const PgServer* SharedPgServer(std::string* why);

// True when a missing server must fail the tests (CI=true).
bool PostgresRequired();

// The server of this test binary goes away at once, as in a crash or a power
// cut (pg_ctl stop -m immediate), and later comes back on the same data.
// False with `why` set when that could not be done.
bool StopPgServerNow(std::string* why);
bool RestartPgServer(std::string* why);

}  // namespace orvo::testing

#define ORVO_NEED_POSTGRES(server)                                                   \
  std::string server##_why;                                                          \
  const ::orvo::testing::PgServer* server = ::orvo::testing::SharedPgServer(&server##_why); \
  if (!server) {                                                                     \
    if (::orvo::testing::PostgresRequired()) FAIL() << server##_why;                 \
    GTEST_SKIP() << server##_why;                                                    \
  }

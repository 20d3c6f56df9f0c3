// orvo init: a ready program folder. Keeps an existing ORVO.ini and database;
// never overwrites a file that is not a news database.
#include <sys/stat.h>

#include <atomic>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "commands.h"
#include "database.h"
#include "pg.h"
#include "store/search_index.h"
#include "settings.h"

namespace orvo::cli {

namespace {

const char* kInitHelp =
    "Usage: orvo init [--home DIR] [--db PATH] [--database URL]\n"
    "\n"
    "Writes ORVO.ini into the program folder (keeping what is already there) and\n"
    "creates an empty news database when none exists.\n"
    "\n"
    "  --home DIR      program folder to set up (default: ORVO_HOME, else the\n"
    "                  folder of the orvo program, or the XDG folders for an\n"
    "                  installed copy)\n"
    "  --db PATH       news database file (default: the PathDB already set, else\n"
    "                  news.db in the program folder)\n"
    "  --database URL  a postgresql:// address: the news database on a PostgreSQL\n"
    "                  server, shared by several machines. The database must exist\n"
    "                  (createdb); its tables are made when it has none. The address\n"
    "                  goes into Url in the [Database] section; keep a password in\n"
    "                  ~/.pgpass rather than in the address. A file path here is the\n"
    "                  same as --db. Every machine whose ORVO.ini names the same\n"
    "                  address shares the news, pictures, catalogue and filters.\n"
    "\n"
    "ORVO_DATABASE in the environment overrides the [Database] Url.\n";

std::string Absolute(const std::string& p) {
  std::error_code ec;
  auto abs = std::filesystem::absolute(p, ec);
  return ec ? p : abs.lexically_normal().string();
}

// A news database on a PostgreSQL server: used when it holds one, else given
// the schema. `store` writes the address into ORVO.ini.
int InitPostgres(Settings& settings, const std::string& url, bool store) {
  std::unique_ptr<Database> database;
  std::string why;
  int rc = Database::Open(url, Database::Mode::kExisting, &database, &why);
  if (rc == SQLITE_NOTADB) {
    rc = Database::Open(url, Database::Mode::kCreate, &database, &why);
    if (rc != 0) {
      std::fprintf(stderr, "orvo init: cannot create the news database: %s (code %s)\n", why.c_str(),
                   HexCode(rc).c_str());
      return 1;
    }
    std::printf("Created the news database on %s\n", database->Describe().c_str());
  } else if (rc != 0) {
    std::fprintf(stderr, "orvo init: %s (code %s); check the address, that the server runs and ~/.pgpass\n",
                 why.c_str(), HexCode(rc).c_str());
    return 1;
  } else {
    std::printf("Using the news database on %s\n", database->Describe().c_str());
  }
  if (store) {
    if (!settings.WriteText(kDatabaseSection, "Url", url)) {
      std::fprintf(stderr, "orvo init: cannot write %s; check that the folder is writable\n",
                   settings.path().c_str());
      return 1;
    }
    if (pg::RedactUrl(url) != url)
      std::printf("Note: the address holds a password, now in %s; a ~/.pgpass entry keeps it out\n",
                  settings.path().c_str());
  }
  std::printf("Settings in %s\n", settings.path().c_str());
  return 0;
}

}  // namespace

int RunInit(const Args& input) {
  if (WantsHelp(input)) {
    std::fputs(kInitHelp, stdout);
    return 0;
  }
  Args args = input;
  std::string home, db;
  if (TakeOption(args, "--home", &home)) {
    std::error_code ec;
    std::filesystem::create_directories(home, ec);
    if (ec) {
      std::fprintf(stderr, "orvo init: cannot create folder %s: %s\n", home.c_str(), ec.message().c_str());
      return 1;
    }
    ::setenv("ORVO_HOME", Absolute(home).c_str(), 1);
  }
  TakeOption(args, "--db", &db);
  std::string url;
  if (TakeOption(args, "--database", &url) && !pg::IsUrl(url)) {
    if (db.empty()) db = url;
    url.clear();
  }
  if (!args.empty()) {
    std::fprintf(stderr, "orvo init: unexpected argument '%s'\n\n%s", args[0].c_str(), kInitHelp);
    return 2;
  }
  // A folder named by ORVO_HOME is set up as --home's is, made when missing.
  if (const char* named = std::getenv("ORVO_HOME"); named && *named) {
    std::error_code ec;
    std::filesystem::create_directories(named, ec);
    if (ec) {
      std::fprintf(stderr, "orvo init: cannot create folder %s: %s\n", named, ec.message().c_str());
      return 1;
    }
  }

  Settings settings = Settings::Shared();
  if (!url.empty()) return InitPostgres(settings, url, true);
  if (db.empty()) {
    std::string location = NewsDatabaseLocation(settings, kPathBuffer);
    if (pg::IsUrl(location)) return InitPostgres(settings, location, false);
    db = location;
  }
  if (db.empty()) db = ModuleDirectory() + "news.db";
  db = Absolute(db);
  if (db.size() >= kPathBuffer) {
    std::fprintf(stderr, "orvo init: the database path is longer than %zu characters; choose a shorter one\n",
                 kPathBuffer - 1);
    return 1;
  }

  std::unique_ptr<Database> database;
  struct stat st;
  if (::stat(db.c_str(), &st) == 0) {
    int rc = Database::Open(db, Database::Mode::kExisting, &database);
    if (rc != 0) {
      std::fprintf(stderr,
                   "orvo init: %s exists but is not a news database (code %s); it was left untouched.\n"
                   "Move it away or choose another file with --db.\n",
                   db.c_str(), HexCode(rc).c_str());
      return 1;
    }
    std::printf("Using the news database %s\n", db.c_str());
    // An older database gets the grid's and the search's indexes now rather
    // than in the reader's background.
    database.reset();
    std::atomic<bool> stop{false};
    int last = -100;
    // Someone waits at the terminal: the indexes are built at once.
    UpgradePace pace;
    pace.quietMs = 0;
    pace.gapMs = 0;
    rc = UpgradeIndexes(db, stop, [&](const std::string& what, int percent) {
      if (percent / 10 == last / 10 && percent != 100) return;
      last = percent;
      if (what == "drain")
        std::printf("Dropping deleted news from the search index: %d%%\n", percent);
      else
        std::printf("Building the %s index: %d%%\n", what == "grid" ? "news list" : "search", percent);
      std::fflush(stdout);
    }, pace);
    if (rc != 0)
      std::fprintf(stderr, "orvo init: the indexes could not be brought up to date (code %s); the reader will try again\n",
                   HexCode(rc).c_str());
  } else {
    int rc = Database::Open(db, Database::Mode::kCreate, &database);
    if (rc != 0) {
      std::fprintf(stderr, "orvo init: cannot create %s (code %s): %s\n", db.c_str(), HexCode(rc).c_str(),
                   "check that the folder exists and is writable");
      return 1;
    }
    std::printf("Created the news database %s\n", db.c_str());
  }

  // A file set up here is the database from now on, not a server named before.
  if (!settings.WriteText(kSystemSection, "PathDB", db) ||
      (!settings.ReadText(kDatabaseSection, "Url", "").empty() && !settings.WriteText(kDatabaseSection, "Url", ""))) {
    std::fprintf(stderr, "orvo init: cannot write %s; check that the folder is writable\n", settings.path().c_str());
    return 1;
  }
  std::printf("Settings in %s\n", settings.path().c_str());
  return 0;
}

}  // namespace orvo::cli

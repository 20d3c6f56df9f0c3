// orvo init: a ready program folder. Keeps an existing ORVO.ini and database;
// never overwrites a file that is not a news database.
#include <sys/stat.h>

#include <atomic>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "commands.h"
#include "database.h"
#include "store/search_index.h"
#include "settings.h"

namespace orvo::cli {

namespace {

const char* kInitHelp =
    "Usage: orvo init [--home DIR] [--db PATH]\n"
    "\n"
    "Writes ORVO.ini into the program folder (keeping what is already there) and\n"
    "creates an empty news database when none exists.\n"
    "\n"
    "  --home DIR   program folder to set up (default: ORVO_HOME, else the folder\n"
    "               of the orvo program, or the XDG folders for an installed copy)\n"
    "  --db PATH    news database file (default: the PathDB already set, else\n"
    "               news.db in the program folder)\n";

std::string Absolute(const std::string& p) {
  std::error_code ec;
  auto abs = std::filesystem::absolute(p, ec);
  return ec ? p : abs.lexically_normal().string();
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
  if (db.empty()) db = settings.ReadText(kSystemSection, "PathDB", "", kPathBuffer);
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

  if (!settings.WriteText(kSystemSection, "PathDB", db)) {
    std::fprintf(stderr, "orvo init: cannot write %s; check that the folder is writable\n", settings.path().c_str());
    return 1;
  }
  std::printf("Settings in %s\n", settings.path().c_str());
  return 0;
}

}  // namespace orvo::cli

// Helpers shared by the subcommands: the program folder and the news database.
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "commands.h"
#include "pg.h"
#include "servercmd.h"
#include "settings.h"
#include "text.h"

namespace orvo::cli {

bool TakeHome(Args& args, const char* command) {
  std::string home;
  if (!TakeOption(args, "--home", &home)) return true;
  std::error_code ec;
  auto abs = std::filesystem::absolute(home, ec);
  if (ec || !std::filesystem::is_directory(abs, ec)) {
    std::fprintf(stderr, "orvo %s: %s is not a folder; set one up with: orvo init --home %s\n", command, home.c_str(),
                 home.c_str());
    return false;
  }
  ::setenv("ORVO_HOME", abs.lexically_normal().string().c_str(), 1);
  return true;
}

int OpenNewsDatabase(const char* command, std::unique_ptr<Database>* db) {
  Settings settings = Settings::Shared();
  std::string path = NewsDatabaseLocation(settings, kPathBuffer);
  if (path.empty()) {
    std::fprintf(stderr, "orvo %s: %s names no news database (PathDB); set one up with: orvo init\n", command,
                 settings.path().c_str());
    return 1;
  }
  std::string why;
  int rc = Database::Open(path, Database::Mode::kExisting, db, &why);
  if (rc != 0 && pg::IsUrl(path)) {
    std::fprintf(stderr,
                 "orvo %s: %s (code %s); check the address (ORVO_DATABASE, or Url in the [Database] section of %s),"
                 " the server and ~/.pgpass, or run orvo init --database\n",
                 command, why.c_str(), HexCode(rc).c_str(), settings.path().c_str());
    return 1;
  }
  if (rc != 0) {
    std::fprintf(stderr, "orvo %s: cannot open the news database %s (code %s); check PathDB in %s or run orvo init\n",
                 command, path.c_str(), HexCode(rc).c_str(), settings.path().c_str());
    return 1;
  }
  return 0;
}

void NoteRegisteredDatabase(const std::string& program, const std::string& busName) {
  Settings settings = Settings::Shared();
  const std::string ours = NewsDatabaseLocation(settings, kPathBuffer);
  const std::optional<std::string> engine =
      RegisteredDatabaseOtherThan(busName, ours, ConfiguredDatabaseLocation(settings, kPathBuffer));
  if (!engine) return;
  const std::string uses = engine->empty() ? "no news database" : "the news database " + pg::RedactUrl(*engine);
  std::fprintf(stderr,
               "Note: the %s registered on this bus uses %s (%s), not %s. To use this one,\n"
               "register it again from here: %s -RegServer\n",
               program.c_str(), uses.c_str(),
               RegisteredEnvironment(busName, "ORVO_DATABASE") ? "the ORVO_DATABASE it was registered with"
                                                               : "it was registered without ORVO_DATABASE",
               pg::RedactUrl(ours).c_str(), program.c_str());
}

std::vector<int64_t> Resolve(const std::vector<Pair>& pairs, const std::string& name) {
  for (bool exact : {true, false}) {
    auto same = [&](const std::string& a, const std::string& b) { return exact ? a == b : EqualsNoCase(a, b); };
    std::vector<int64_t> found;
    for (const auto& p : pairs)
      if (same(p.site + "/" + p.category, name) || same(p.site, name)) found.push_back(p.id);
    if (!found.empty()) return found;
  }
  return {};
}

}  // namespace orvo::cli

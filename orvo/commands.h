// Subcommands of the `orvo` tool. Each lives in its own file and registers
// itself in the table of main.cpp.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "database.h"
#include "store/pairs.h"

namespace orvo::cli {

using Args = std::vector<std::string>;

struct Command {
  const char* name;
  const char* summary;
  int (*run)(const Args& args);  // args after the subcommand name
};

// True when args ask for help ("--help" or "-h").
bool WantsHelp(const Args& args);

// Takes "--flag" out of args; true when it was there.
bool TakeFlag(Args& args, const std::string& flag);

// Takes "--flag VALUE" or "--flag=VALUE" out of args; true when present.
bool TakeOption(Args& args, const std::string& flag, std::string* value);

// Takes "--home DIR" out of args and makes it the program folder
// (ORVO_HOME); false, with a message, when DIR is not a folder.
bool TakeHome(Args& args, const char* command);

// Opens the news database named by PathDB; 0, or 1 after telling the user
// what to do.
int OpenNewsDatabase(const char* command, std::unique_ptr<Database>* db);

// The bus starts `program` with the environment of its registration, not
// this one's: says so on stderr when the news database it would use is not
// the one this command uses.
void NoteRegisteredDatabase(const std::string& program, const std::string& busName);

using Pair = SitePair;

// The pairs a name stands for: "SITE/CATEGORY" (split at any "/", since
// names may hold one) or "SITE"; exact names first, then ignoring case.
std::vector<int64_t> Resolve(const std::vector<Pair>& pairs, const std::string& name);

int RunInit(const Args& args);
int RunStatus(const Args& args);
int RunSelect(const Args& args);
int RunDownload(const Args& args);
int RunConfig(const Args& args);
int RunGenerate(const Args& args);
int RunSite(const Args& args);
int RunFilter(const Args& args);

}  // namespace orvo::cli

// Subcommands of the `orvo` tool. Each lives in its own file and registers
// itself in the table of main.cpp.
#pragma once

#include <string>
#include <vector>

namespace orvo::cli {

using Args = std::vector<std::string>;

struct Command {
  const char* name;
  const char* summary;
  int (*run)(const Args& args);  // args after the subcommand name
};

// True when args ask for help ("--help" or "-h").
bool WantsHelp(const Args& args);

// Takes "--flag VALUE" or "--flag=VALUE" out of args; true when present.
bool TakeOption(Args& args, const std::string& flag, std::string* value);

int RunInit(const Args& args);
int RunGenerate(const Args& args);

}  // namespace orvo::cli

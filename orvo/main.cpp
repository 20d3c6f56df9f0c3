// orvo: the command-line face of ORVO (set-up, downloads, eBooks, status).
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "orvo_version.h"

namespace orvo::cli {

bool WantsHelp(const Args& args) {
  for (const auto& a : args)
    if (a == "--help" || a == "-h") return true;
  return false;
}

bool TakeFlag(Args& args, const std::string& flag) {
  for (auto it = args.begin(); it != args.end(); ++it)
    if (*it == flag) {
      args.erase(it);
      return true;
    }
  return false;
}

bool TakeOption(Args& args, const std::string& flag, std::string* value) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == flag && i + 1 < args.size()) {
      *value = args[i + 1];
      args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
      return true;
    }
    if (args[i].rfind(flag + "=", 0) == 0) {
      *value = args[i].substr(flag.size() + 1);
      args.erase(args.begin() + static_cast<long>(i));
      return true;
    }
  }
  return false;
}

namespace {

const Command kCommands[] = {
    {"init", "create ORVO.ini and an empty news database", RunInit},
    {"config", "read or write one setting of ORVO.ini", RunConfig},
    {"site", "add, list, remove, rename, import and export your own sites", RunSite},
    {"select", "choose the site/category pairs to download", RunSelect},
    {"download", "download the news of the selected sites now", RunDownload},
    {"status", "show what the news database holds", RunStatus},
    {"filter", "list, add, edit or remove the news filters (and mark them for eBooks)", RunFilter},
    {"generate", "make eBooks (.lit, .epub) from the news of the eBook filters", RunGenerate},
};

void PrintUsage(FILE* out) {
  std::fprintf(out, "Usage: orvo COMMAND [OPTIONS]\n\nCommands:\n");
  for (const auto& c : kCommands) std::fprintf(out, "  %-10s %s\n", c.name, c.summary);
  std::fprintf(out, "\nRun 'orvo COMMAND --help' for the options of a command, 'orvo --version' for\n"
                    "the version.\n");
}

}  // namespace
}  // namespace orvo::cli

int main(int argc, char** argv) {
  using namespace orvo::cli;
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
    PrintUsage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  if (!std::strcmp(argv[1], "--version")) {
    std::printf("orvo %s\n", orvo::kVersion);
    return 0;
  }
  Args args(argv + 2, argv + argc);
  for (const auto& c : kCommands)
    if (std::strcmp(argv[1], c.name) == 0) return c.run(args);
  std::fprintf(stderr, "orvo: unknown command '%s'\n\n", argv[1]);
  PrintUsage(stderr);
  return 2;
}

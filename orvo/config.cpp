// orvo config: read or write one setting of ORVO.ini from the command line
// (scripts, set-ups without the reader).
#include <cstdio>

#include "commands.h"
#include "settings.h"
#include "text.h"

namespace orvo::cli {

namespace {

const char* kConfigHelp =
    "Usage: orvo config [--home DIR] SECTION KEY [VALUE]\n"
    "\n"
    "Prints the value of KEY in SECTION of ORVO.ini, or sets it to VALUE.\n"
    "SECTION is System (the main section), Download, Cleanup, or a section's\n"
    "full name. For example:\n"
    "  orvo config System DownloadURL 127.0.0.1:8642/catalogue.asp\n"
    "  orvo config Download ConnectTimeout 30\n"
    "\n"
    "  --home DIR   program folder (default: ORVO_HOME, else the folder of orvo, or\n"
    "               the XDG folders for an installed copy)\n";

}  // namespace

int RunConfig(const Args& input) {
  if (WantsHelp(input)) {
    std::fputs(kConfigHelp, stdout);
    return 0;
  }
  Args args = input;
  if (!TakeHome(args, "config")) return 1;
  if (args.size() < 2 || args.size() > 3) {
    std::fprintf(stderr, "orvo config: name a section and a key (and a value to set)\n\n%s", kConfigHelp);
    return 2;
  }
  std::string section = EqualsNoCase(args[0], "System") ? kSystemSection : args[0];
  Settings settings = Settings::Shared();
  if (args.size() == 2) {
    if (!settings.HasKey(section, args[1])) {
      std::fprintf(stderr, "orvo config: %s has no key %s in [%s]\n", settings.path().c_str(), args[1].c_str(),
                   section.c_str());
      return 1;
    }
    std::printf("%s\n", settings.ReadText(section, args[1]).c_str());
    return 0;
  }
  if (args[2].find_first_of("\r\n") != std::string::npos) {
    std::fprintf(stderr, "orvo config: a value cannot hold a line break\n");
    return 2;
  }
  if (!settings.WriteText(section, args[1], args[2])) {
    std::fprintf(stderr, "orvo config: cannot write %s; check that the folder is writable\n",
                 settings.path().c_str());
    return 1;
  }
  return 0;
}

}  // namespace orvo::cli

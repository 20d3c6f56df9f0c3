// The command line of the ORVO servers and their registration with the
// session bus. No Qt and no bus here: registration is a file, so it works
// (and is tested) without a running bus.
//
// A registration is a D-Bus activation file
//   $XDG_DATA_HOME/dbus-1/services/<bus name>.service
// naming the program's full path, so the session bus starts the program the
// first time a client calls its bus name.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"  // ExecutablePath

namespace orvo {

enum class ServerSwitch {
  kNone,         // run as a server
  kRegServer,    // "RegServer"
  kUnregServer,  // "UnregServer"
  kHelp,         // "help", "h" or "?"
  kVersion,      // "version"
  kOther,        // one of the program's own words (ServerCommand::word)
};

struct ServerCommand {
  ServerSwitch kind = ServerSwitch::kNone;
  std::string word;  // the extra word matched, for kOther
};

// The arguments after the program name joined by single spaces: the command
// line the switches are looked for in.
std::string JoinCommandLine(int argc, const char* const* argv);

// Each "-" or "/" in the line introduces a switch, and the whole rest of the
// line after it must equal a switch word, ignoring letter case. So a switch
// counts only as the last thing on the line: "-RegServer", "/regserver" and
// "--regserver" register, "RegServer" and "/RegServer now" do not.
// `extraWords` are a program's own switches (matched the same way).
ServerCommand ParseServerCommand(std::string_view commandLine,
                                 const std::vector<std::string>& extraWords = {});

// Where the session bus looks for activation files of this user:
// $XDG_DATA_HOME/dbus-1/services, with ~/.local/share when XDG_DATA_HOME is
// unset or not absolute.
std::string ServiceDirectory();
std::string ActivationFilePath(const std::string& busName);

// The activation file's text. When `orvoHome` or `database` is not empty the
// program is started through env(1) with ORVO_HOME or ORVO_DATABASE set, so
// the activated server uses the program folder and the news database of the
// shell that registered it: the bus does not pass on its callers'
// environment. Arguments are quoted for the bus's shell-like Exec parser when
// needed.
std::string ActivationFileText(const std::string& busName, const std::string& programPath,
                               const std::string& orvoHome, const std::string& database = {});

// The words of a registration's Exec line, split as the bus splits them;
// none when there is no such file.
std::vector<std::string> RegisteredCommand(const std::string& busName);
// The program a registration starts ("" when none is registered).
std::string RegisteredProgram(const std::string& busName);

// The value a registration's activation file gives `name` (ORVO_HOME,
// ORVO_DATABASE); nullopt when it sets none or there is no such file.
std::optional<std::string> RegisteredEnvironment(const std::string& busName, const std::string& name);

// The news database the program registered as `busName` opens when the bus
// starts it, when that is not `ours`: its registration's ORVO_DATABASE, else
// `configured` (what ORVO.ini names). nullopt when it is `ours` or nothing is
// registered. The bus passes on no caller's environment, so a reader or a
// command with ORVO_DATABASE set may not see what the engine stores.
std::optional<std::string> RegisteredDatabaseOtherThan(const std::string& busName, const std::string& ours,
                                                       const std::string& configured);

// Outcome of a command-line action: what to print and the exit code.
struct CommandResult {
  int exitCode = 0;
  std::string message;  // one or more lines, without the final newline
};

// Writes (atomically) or removes the activation file of `busName`.
// `programName` is used in the messages.
// `withDatabase`: ORVO_DATABASE goes into the file too (for the programs that
// open the news database).
CommandResult RegisterServer(const std::string& programName, const std::string& busName,
                             const std::string& programPath, bool withDatabase = true);
CommandResult UnregisterServer(const std::string& programName, const std::string& busName);

}  // namespace orvo

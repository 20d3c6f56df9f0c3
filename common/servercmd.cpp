#include "servercmd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "pg.h"
#include "text.h"

namespace orvo {

namespace fs = std::filesystem;

std::string JoinCommandLine(int argc, const char* const* argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  return line;
}

ServerCommand ParseServerCommand(std::string_view line, const std::vector<std::string>& extraWords) {
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '-' && line[i] != '/') continue;
    const std::string_view rest = line.substr(i + 1);
    if (EqualsNoCase(rest, "UnregServer")) return {ServerSwitch::kUnregServer, {}};
    if (EqualsNoCase(rest, "RegServer")) return {ServerSwitch::kRegServer, {}};
    if (EqualsNoCase(rest, "help") || EqualsNoCase(rest, "h") || rest == "?")
      return {ServerSwitch::kHelp, {}};
    if (EqualsNoCase(rest, "version")) return {ServerSwitch::kVersion, {}};
    for (const std::string& word : extraWords) {
      if (EqualsNoCase(rest, word)) return {ServerSwitch::kOther, word};
    }
  }
  return {};
}

std::string ServiceDirectory() { return XdgDataHome() + "/dbus-1/services"; }

std::string ActivationFilePath(const std::string& busName) {
  return ServiceDirectory() + "/" + busName + ".service";
}

namespace {

// Quotes one argument for the bus's Exec line, which splits like a shell.
std::string QuoteExecArg(const std::string& arg) {
  bool plain = !arg.empty();
  for (unsigned char c : arg) {
    if (!(std::isalnum(c) || std::strchr("_/.:,+=@%-", c))) plain = false;
  }
  if (plain) return arg;
  std::string out = "'";
  for (char c : arg) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  out += '\'';
  return out;
}

std::string ErrnoText(int err) { return std::strerror(err); }

}  // namespace

std::string ActivationFileText(const std::string& busName, const std::string& programPath,
                               const std::string& orvoHome, const std::string& database) {
  std::string exec;
  if (!orvoHome.empty() || !database.empty()) exec = "/usr/bin/env ";
  if (!orvoHome.empty()) exec += QuoteExecArg("ORVO_HOME=" + orvoHome) + " ";
  if (!database.empty()) exec += QuoteExecArg("ORVO_DATABASE=" + database) + " ";
  exec += QuoteExecArg(programPath);
  // The file itself unescapes backslashes before the Exec line is split.
  std::string escaped;
  for (char c : exec) {
    if (c == '\\') escaped += '\\';
    escaped += c;
  }
  return "[D-BUS Service]\nName=" + busName + "\nExec=" + escaped + "\n";
}

CommandResult RegisterServer(const std::string& programName, const std::string& busName,
                             const std::string& programPath, bool withDatabase) {
  if (programPath.empty() || programPath.find_first_of("\r\n") != std::string::npos ||
      programPath.front() != '/') {
    return {1, programName + ": cannot register: the program's own path is unknown (\"" + programPath +
                   "\"). Run it by its full path and try again."};
  }
  const char* home = std::getenv("ORVO_HOME");
  std::string orvoHome = home ? home : "";
  if (orvoHome.find_first_of("\r\n") != std::string::npos) {
    return {1, programName + ": cannot register: ORVO_HOME contains a line break. Fix ORVO_HOME and try again."};
  }
  if (!orvoHome.empty() && orvoHome.front() != '/') {
    // The bus starts the server from its own working folder: keep the folder the user meant.
    std::error_code ec;
    orvoHome = fs::absolute(orvoHome, ec).string();
  }
  const char* env = withDatabase ? std::getenv("ORVO_DATABASE") : nullptr;
  std::string database = env ? env : "";
  if (database.find_first_of("\r\n") != std::string::npos) {
    return {1, programName + ": cannot register: ORVO_DATABASE contains a line break. Fix ORVO_DATABASE and try "
                             "again."};
  }
  if (pg::IsUrl(database) && pg::RedactUrl(database) != database) {
    // The activation file is not a place for secrets.
    return {1, programName + ": cannot register: ORVO_DATABASE holds a password. Put the password in ~/.pgpass "
                             "(or a service in ~/.pg_service.conf), take it out of the address and try again."};
  }
  if (!database.empty() && !pg::IsUrl(database) && database.front() != '/') {
    std::error_code ec;
    database = fs::absolute(database, ec).string();
  }

  const std::string dir = ServiceDirectory();
  const std::string path = dir + "/" + busName + ".service";
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    return {1, programName + ": cannot register " + busName + ": cannot create the folder " + dir + " (" +
                   ec.message() + "). Make it writable, or set XDG_DATA_HOME to a writable folder."};
  }

  // Temp file + rename, so the bus never reads half a file.
  std::string error;
  if (!WriteFileAtomically(path, ActivationFileText(busName, programPath, orvoHome, database), &error)) {
    return {1, programName + ": cannot register " + busName + ": " + error +
                   ". Make the folder writable, or set XDG_DATA_HOME to a writable folder."};
  }
  std::string msg = programName + ": registered " + busName + " in " + path + "\n" + programName +
                    " now starts on demand: " + programPath;
  if (!orvoHome.empty()) msg += " (ORVO_HOME=" + orvoHome + ")";
  if (!database.empty()) msg += " (ORVO_DATABASE=" + database + ")";
  return {0, msg};
}

std::vector<std::string> RegisteredCommand(const std::string& busName) {
  std::ifstream in(ActivationFilePath(busName));
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Exec=", 0) != 0) continue;
    // The file's own escape first, then the words as the bus splits them
    // (single quotes, a backslash for the next character outside them).
    std::string exec;
    for (size_t i = 5; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) ++i;
      exec += line[i];
    }
    std::vector<std::string> words;
    bool quoted = false, inWord = false;
    for (size_t i = 0; i < exec.size(); ++i) {
      const char c = exec[i];
      if (c == ' ' && !quoted) {
        inWord = false;
        continue;
      }
      if (!inWord) words.emplace_back();
      inWord = true;
      if (c == '\'') quoted = !quoted;
      else if (c == '\\' && !quoted && i + 1 < exec.size()) words.back() += exec[++i];
      else words.back() += c;
    }
    return words;
  }
  return {};
}

namespace {
// Where the program's own word starts: after /usr/bin/env and its NAME=VALUE words.
size_t ProgramWord(const std::vector<std::string>& words) {
  if (words.empty() || words.front() != "/usr/bin/env") return 0;
  size_t i = 1;
  while (i < words.size() && words[i].find('=') != std::string::npos) ++i;
  return i;
}
}  // namespace

std::string RegisteredProgram(const std::string& busName) {
  const std::vector<std::string> words = RegisteredCommand(busName);
  const size_t at = ProgramWord(words);
  return at < words.size() ? words[at] : std::string();
}

std::optional<std::string> RegisteredEnvironment(const std::string& busName, const std::string& name) {
  const std::vector<std::string> words = RegisteredCommand(busName);
  const size_t program = ProgramWord(words);
  for (size_t i = 1; i < program; ++i)
    if (words[i].rfind(name + "=", 0) == 0) return words[i].substr(name.size() + 1);
  return std::nullopt;
}

std::optional<std::string> RegisteredDatabaseOtherThan(const std::string& busName, const std::string& ours,
                                                       const std::string& configured) {
  if (!fs::exists(ActivationFilePath(busName))) return std::nullopt;
  std::optional<std::string> theirs = RegisteredEnvironment(busName, "ORVO_DATABASE");
  std::string engine = theirs && !theirs->empty() ? *theirs : configured;
  if (engine == ours) return std::nullopt;
  return engine;
}

CommandResult UnregisterServer(const std::string& programName, const std::string& busName) {
  const std::string path = ActivationFilePath(busName);
  if (::unlink(path.c_str()) == 0) {
    return {0, programName + ": unregistered " + busName + " (removed " + path + ")"};
  }
  if (errno == ENOENT) {
    return {0, programName + ": " + busName + " was not registered (" + path + " does not exist); nothing to do"};
  }
  return {1, programName + ": cannot unregister " + busName + ": cannot remove " + path + " (" + ErrnoText(errno) +
                 "). Remove the file by hand or fix the folder's permissions."};
}

}  // namespace orvo

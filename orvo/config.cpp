// orvo config: read or write one setting of ORVO.ini from the command line
// (scripts, set-ups without the reader).
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "commands.h"
#include "secret_store.h"
#include "settings.h"
#include "text.h"

namespace orvo::cli {

namespace {

const char* kConfigHelp =
    "Usage: orvo config [--home DIR] SECTION KEY [VALUE]\n"
    "       orvo config [--home DIR] --mail-password\n"
    "\n"
    "Prints the value of KEY in SECTION of ORVO.ini, or sets it to VALUE.\n"
    "SECTION is System (the main section), Download, Cleanup, Delivery, or a\n"
    "section's full name. For example:\n"
    "  orvo config System DownloadURL 127.0.0.1:8642/catalogue.asp\n"
    "  orvo config Download ConnectTimeout 30\n"
    "  orvo config Delivery MailTo reader_42@kindle.com\n"
    "\n"
    "  --home DIR        program folder (default: ORVO_HOME, else the folder of\n"
    "                    orvo, or the XDG folders for an installed copy)\n"
    "  --mail-password   read the password of SmtpUser at SmtpServer (section\n"
    "                    Delivery) from the terminal or standard input and keep it\n"
    "                    in the desktop's Secret Service, never in ORVO.ini; an\n"
    "                    empty line forgets it\n";

// Reads one line, without echo when it comes from a terminal.
std::string ReadSecretLine(const std::string& prompt) {
  const bool tty = ::isatty(STDIN_FILENO);
  termios saved{};
  if (tty) {
    std::fprintf(stderr, "%s", prompt.c_str());
    ::tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  }
  std::string line;
  std::getline(std::cin, line);
  if (tty) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    std::fprintf(stderr, "\n");
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

int RunMailPassword() {
  Settings settings = Settings::Shared();
  const std::string server = settings.ReadText(kDeliverySection, "SmtpServer", ""),
                    user = settings.ReadText(kDeliverySection, "SmtpUser", "");
  if (server.empty() || user.empty()) {
    std::fprintf(stderr,
                 "orvo config: set the mail server and login first:\n"
                 "  orvo config Delivery SmtpServer smtps://smtp.example.org\n"
                 "  orvo config Delivery SmtpUser me@example.org\n");
    return 1;
  }
  const std::string url = SmtpUrl(server);
  const std::string password = ReadSecretLine("Mail password for " + user + " at " + url + ": ");
  std::string error;
  if (password.empty() ? !ClearMailPassword(url, user, &error) : !StoreMailPassword(url, user, password, &error)) {
    std::fprintf(stderr, "orvo config: %s\n", error.c_str());
    return 1;
  }
  std::printf(password.empty() ? "The mail password of %s at %s is forgotten.\n"
                               : "The mail password of %s at %s is kept in the Secret Service.\n",
              user.c_str(), url.c_str());
  return 0;
}

// Keys a password would be written under by mistake.
bool PasswordKey(const std::string& key) {
  return EqualsNoCase(key, "MailPassword") || EqualsNoCase(key, "SmtpPassword") || EqualsNoCase(key, "Password");
}

}  // namespace

int RunConfig(const Args& input) {
  if (WantsHelp(input)) {
    std::fputs(kConfigHelp, stdout);
    return 0;
  }
  Args args = input;
  if (!TakeHome(args, "config")) return 1;
  if (TakeFlag(args, "--mail-password")) {
    if (!args.empty()) {
      std::fprintf(stderr, "orvo config: --mail-password takes no other argument\n\n%s", kConfigHelp);
      return 2;
    }
    return RunMailPassword();
  }
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
  if (PasswordKey(args[1])) {
    std::fprintf(stderr, "orvo config: a password is never kept in ORVO.ini; give it with orvo config --mail-password\n");
    return 2;
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

#include "service.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform.h"

namespace orvo {

namespace fs = std::filesystem;

std::string UserUnitDirectory() { return XdgConfigHome() + "/systemd/user"; }

std::string ServiceUnitPath() { return UserUnitDirectory() + "/" + kServiceUnitName; }

namespace {

// systemd's own quoting for one word of ExecStart= (where "$" starts a
// variable) or a value of Environment= (where it does not).
std::string Quote(const std::string& s, bool exec) {
  bool plain = !s.empty() && s.find_first_of(" \t\"'\\$%;") == std::string::npos;
  if (plain) return s;
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '%') out += '%';  // a specifier otherwise
    if (c == '$' && exec) out += '$';
    out += c;
  }
  return out + "\"";
}

bool WriteWhole(const std::string& path, const std::string& text, std::string* error) {
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  return WriteFileAtomically(path, text, error);
}

std::string FirstLine(const std::string& s) {
  std::string line = s.substr(0, s.find('\n'));
  return line.empty() ? "no message" : line;
}

int Systemctl(const std::vector<std::string>& args, std::string* output) {
  std::vector<std::string> argv = {"systemctl", "--user"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, output);
}

}  // namespace

std::string ServiceUnitText(const std::string& programPath, const std::string& orvoHome) {
  std::string text =
      "# Written by \"Timekeeper -Service\"; \"Timekeeper -UnregServer\" removes it.\n"
      "[Unit]\n"
      "Description=Timekeeper, the ORVO scheduling service\n"
      "\n"
      "[Service]\n"
      "Type=dbus\n"
      "BusName=org.orvo.OrvoRunner\n"
      "ExecStart=" + Quote(programPath, true) + "\n"
      "Environment=" + std::string(kServiceEnvironment) + "=1\n";
  if (!orvoHome.empty()) text += "Environment=" + Quote("ORVO_HOME=" + orvoHome, false) + "\n";
  text +=
      "Restart=on-failure\n"
      "\n"
      "[Install]\n"
      "WantedBy=default.target\n";
  return text;
}

std::string PackagedServiceUnit(const std::string& programPath) {
  const fs::path prefix = fs::path(programPath).parent_path().parent_path().parent_path();
  if (prefix.empty()) return "";
  const std::string unit = (prefix / "lib/systemd/user" / kServiceUnitName).string();
  std::ifstream in(unit);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("ExecStart=", 0) != 0) continue;
    std::string exec = line.substr(10);
    if (exec.size() >= 2 && exec.front() == '"' && exec.back() == '"') exec = exec.substr(1, exec.size() - 2);
    return exec == programPath ? unit : "";
  }
  return "";
}

bool RunningAsService() {
  const char* v = std::getenv(kServiceEnvironment);
  return v && std::string(v) == "1";
}

void ServiceMessage(const std::string& text) {
  if (RunningAsService()) {
    static const bool opened = [] {
      openlog("Timekeeper", LOG_PID, LOG_USER);
      return true;
    }();
    (void)opened;
    syslog(LOG_INFO, "%s", text.c_str());
  } else {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
  }
}

int RunProgram(const std::vector<std::string>& argv, std::string* output, int timeoutMs) {
  output->clear();
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return 127;
  pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return 127;
  }
  if (pid == 0) {
    // The service blocks the signals it reads itself; the child must not.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    dup2(fds[1], STDOUT_FILENO);
    dup2(fds[1], STDERR_FILENO);
    int null = open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, STDIN_FILENO);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(fds[1]);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  bool timedOut = false;
  char buf[4096];
  for (;;) {
    int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
    if (left <= 0) {
      timedOut = true;
      break;
    }
    pollfd p{fds[0], POLLIN, 0};
    int r = poll(&p, 1, left);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) continue;
    ssize_t n = read(fds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    output->append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  if (timedOut) kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (timedOut) return 124;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

ServiceStep InstallServiceUnit(const std::string& programPath, const std::string& orvoHome) {
  ServiceStep step;
  std::string error;
  const std::string packaged = orvoHome.empty() ? PackagedServiceUnit(programPath) : "";
  const std::string path = packaged.empty() ? ServiceUnitPath() : packaged;
  if (!packaged.empty()) {
    step.message = "Using the installed systemd user unit " + packaged + ".";
  } else if (!WriteWhole(path, ServiceUnitText(programPath, orvoHome), &error)) {
    step.exitCode = 1;
    step.message = "Couldn't create service: " + error + ". Check that " + UserUnitDirectory() + " is writable.";
    return step;
  } else {
    step.message = "Wrote the systemd user unit " + path + ".";
  }
  std::string out;
  int rc = Systemctl({"daemon-reload"}, &out);
  if (rc != 0) {
    step.message +=
        "\nsystemd's user manager is not reachable here (" + FirstLine(out) +
        "), so the service was not started. The bus will still start Timekeeper when a client asks for it."
        "\nIn a desktop session, run: systemctl --user daemon-reload && systemctl --user enable --now " +
        std::string(kServiceUnitName);
    return step;
  }
  rc = Systemctl({"enable", "--now", kServiceUnitName}, &out);
  if (rc != 0) {
    step.exitCode = 1;
    step.message += "\nCouldn't start the service: " + FirstLine(out) +
                    "\nSee: systemctl --user status " + std::string(kServiceUnitName);
    return step;
  }
  step.message += "\nThe service " + std::string(kServiceUnitName) + " is enabled and running.";
  return step;
}

ServiceStep RemoveServiceUnit(const std::string& programPath) {
  ServiceStep step;
  const std::string path = ServiceUnitPath();
  std::error_code ec;
  std::string out;
  if (!fs::exists(path, ec)) {
    // Only a unit this user installed, or the packaged unit of this very
    // program that -Service enabled, is touched: never ask systemd about a
    // unit of the same name that someone else manages.
    const std::string packaged = programPath.empty() ? "" : PackagedServiceUnit(programPath);
    if (packaged.empty()) return step;
    const int rc = Systemctl({"disable", "--now", kServiceUnitName}, &out);
    if (rc == 0) step.message = "Stopped and disabled the installed systemd user unit " + packaged + ".";
    return step;
  }
  int rc = Systemctl({"disable", "--now", kServiceUnitName}, &out);
  const bool managerReachable = rc != 127 && rc != 124 && out.find("Failed to connect") == std::string::npos;
  if (!fs::remove(path, ec) && ec) {
    step.exitCode = 1;
    step.message = "Service could not be deleted: " + path + ": " + ec.message();
    return step;
  }
  step.message = "Removed the systemd user unit " + path + ".";
  if (managerReachable) {
    Systemctl({"daemon-reload"}, &out);
  } else {
    step.message += "\nsystemd's user manager is not reachable here, so nothing was stopped through it.";
  }
  return step;
}

}  // namespace orvo

#include "busharness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace orvo::testing {

namespace fs = std::filesystem;

void EnsureCoreApplication() {
  if (QCoreApplication::instance()) return;
  static int argc = 1;
  static char name[] = "orvo-test";
  static char* argv[] = {name, nullptr};
  // Kept for the life of the process: tests come and go, the application stays.
  new QCoreApplication(argc, argv);
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() >= timeoutMs) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ::usleep(5000);
  }
  return true;
}

void Pump(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ::usleep(5000);
  }
}

bool ProcessRunning(pid_t pid) {
  if (pid <= 0) return false;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(stat, text)) return false;
  // "pid (comm) S ...": the state follows the last ')'.
  size_t close = text.rfind(')');
  if (close == std::string::npos || close + 2 >= text.size()) return false;
  const char state = text[close + 2];
  return state != 'Z' && state != 'X';
}

namespace {

std::string DefaultBinDir() {
  if (const char* dir = std::getenv("ORVO_BIN_DIR"); dir && *dir) return dir;
#ifdef ORVO_BIN_DIR
  return ORVO_BIN_DIR;
#else
  return ".";
#endif
}

std::string MakeTempRoot() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/orvo-bus-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data())) return {};
  return buf.data();
}

bool IsOurs(const std::string& name) {
  return name.rfind("DBUS_", 0) == 0 || name == "HOME" || name.rfind("XDG_", 0) == 0 || name == "ORVO_HOME";
}

}  // namespace

PrivateBus::PrivateBus() : PrivateBus(Options{}) {}

PrivateBus::PrivateBus(const Options& options) {
  EnsureCoreApplication();
  Setup(options);
}

PrivateBus::PrivateBus(std::vector<std::string> programs, std::map<std::string, std::string> env) {
  EnsureCoreApplication();
  Options options;
  options.programs = std::move(programs);
  options.env = std::move(env);
  Setup(options);
}

PrivateBus::~PrivateBus() { TearDown(); }

void PrivateBus::Setup(const Options& options) {
  binDir_ = options.binDir.empty() ? DefaultBinDir() : options.binDir;
  root_ = MakeTempRoot();
  if (root_.empty()) {
    error_ = std::string("cannot create a temporary folder: ") + std::strerror(errno);
    return;
  }
  for (const char* sub : {"home", "data/dbus-1/services", "config", "cache", "orvo", "runtime"}) {
    fs::create_directories(root_ + "/" + sub);
  }
  fs::permissions(root_ + "/runtime", fs::perms::owner_all, fs::perm_options::replace);

  env_["HOME"] = root_ + "/home";
  env_["XDG_DATA_HOME"] = dataHome();
  env_["XDG_CONFIG_HOME"] = root_ + "/config";
  env_["XDG_CACHE_HOME"] = root_ + "/cache";
  env_["XDG_RUNTIME_DIR"] = root_ + "/runtime";
  env_["ORVO_HOME"] = orvoHome();
  for (const auto& [k, v] : options.env) env_[k] = v;

  const std::string config = root_ + "/bus.conf";
  {
    std::ofstream conf(config);
    conf << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig>\n"
            "  <type>session</type>\n"
            "  <keep_umask/>\n"
            "  <listen>unix:path="
         << root_ << "/bus</listen>\n"
         << "  <auth>EXTERNAL</auth>\n"
            "  <servicedir>"
         << serviceDir() << "</servicedir>\n"
         << "  <policy context=\"default\">\n"
            "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
            "    <allow eavesdrop=\"true\"/>\n"
            "    <allow own=\"*\"/>\n"
            "  </policy>\n"
            "</busconfig>\n";
  }

  // Everything the child needs is prepared before fork: after it only
  // async-signal-safe calls.
  std::vector<std::string> envText;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    if (!IsOurs(name) && !env_.count(name)) envText.push_back(entry);
  }
  for (const auto& [k, v] : env_) envText.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& s : envText) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string arg0 = "dbus-daemon", arg1 = "--config-file=" + config, arg2 = "--nofork",
              arg3 = "--print-address=3";
  char* argv[] = {arg0.data(), arg1.data(), arg2.data(), arg3.data(), nullptr};
  const std::string logPath = root_ + "/bus.log";

  int pipefd[2];
  if (::pipe2(pipefd, O_CLOEXEC) != 0) {
    error_ = std::string("pipe: ") + std::strerror(errno);
    return;
  }
  int logfd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);  // the daemon and every server it starts: one group to kill
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    ::dup2(pipefd[1], 3);
    int devnull = ::open("/dev/null", O_RDONLY);
    if (devnull >= 0) ::dup2(devnull, 0);
    if (logfd >= 0) {
      ::dup2(logfd, 1);
      ::dup2(logfd, 2);
    }
    ::execvpe("dbus-daemon", argv, envp.data());
    ::_exit(127);
  }
  ::close(pipefd[1]);
  if (logfd >= 0) ::close(logfd);
  if (pid < 0) {
    ::close(pipefd[0]);
    error_ = std::string("fork: ") + std::strerror(errno);
    return;
  }
  ::setpgid(pid, pid);  // also from here, so the group exists whoever runs first
  daemonPid_ = pid;

  std::string address;
  pollfd pfd{pipefd[0], POLLIN, 0};
  QElapsedTimer clock;
  clock.start();
  while (address.find('\n') == std::string::npos && clock.elapsed() < 10000) {
    if (::poll(&pfd, 1, 200) <= 0) continue;
    char buf[512];
    ssize_t n = ::read(pipefd[0], buf, sizeof buf);
    if (n <= 0) break;
    address.append(buf, static_cast<size_t>(n));
  }
  ::close(pipefd[0]);
  if (address.find('\n') == std::string::npos) {
    error_ = "dbus-daemon did not start (is the dbus package installed?). Its output: " + DaemonLog();
    return;
  }
  address_ = address.substr(0, address.find('\n'));
  env_["DBUS_SESSION_BUS_ADDRESS"] = address_;

  control_ = std::make_unique<QDBusConnection>(Connect(QStringLiteral("harness-control")));
  if (!control_->isConnected()) {
    error_ = "cannot connect to the private bus at " + address_;
    return;
  }
  for (const std::string& program : options.programs) {
    Result r = Run(program, {"-RegServer"});
    if (r.exitCode != 0) {
      error_ = "cannot register " + program + ": " + r.err + r.out;
      return;
    }
  }
}

void PrivateBus::TearDown() {
  control_.reset();
  for (const QString& name : connections_) QDBusConnection::disconnectFromBus(name);
  connections_.clear();
  for (auto& p : processes_) {
    if (p->state() != QProcess::NotRunning) {
      p->kill();
      p->waitForFinished(5000);
    }
  }
  processes_.clear();
  if (daemonPid_ > 0) {
    // The daemon's group holds the daemon and every server it activated.
    ::kill(-daemonPid_, SIGKILL);
    ::kill(daemonPid_, SIGKILL);
    int status = 0;
    ::waitpid(daemonPid_, &status, 0);
    daemonPid_ = 0;
  }
  if (!root_.empty()) {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
}

void PrivateBus::KillDaemon() {
  if (daemonPid_ <= 0) return;
  ::kill(daemonPid_, SIGKILL);
  int status = 0;
  ::waitpid(daemonPid_, &status, 0);
  // Keep the group id for teardown: the servers are still in it.
}

std::string PrivateBus::DaemonLog() const {
  std::ifstream in(root_ + "/bus.log");
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

QDBusConnection PrivateBus::Connect(const QString& name) {
  // Names are per process: keep them apart from other buses of this test.
  const QString full = name + QStringLiteral("@") + QString::fromStdString(root_);
  connections_.push_back(full);
  return QDBusConnection::connectToBus(QString::fromStdString(address_), full);
}

void PrivateBus::Disconnect(const QString& name) {
  QDBusConnection::disconnectFromBus(name + QStringLiteral("@") + QString::fromStdString(root_));
}

QStringList PrivateBus::Environment() const {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const QString& key : env.keys()) {
    if (IsOurs(key.toStdString())) env.remove(key);
  }
  for (const auto& [k, v] : env_) env.insert(QString::fromStdString(k), QString::fromStdString(v));
  return env.toStringList();
}

std::string PrivateBus::Resolve(const std::string& program) const {
  if (!program.empty() && program.front() == '/') return program;
  const std::string inBin = binDir_ + "/" + program;
  if (fs::exists(inBin)) return inBin;
  return program;  // from PATH
}

namespace {

QStringList ToQt(const std::vector<std::string>& args) {
  QStringList list;
  for (const auto& a : args) list << QString::fromStdString(a);
  return list;
}

}  // namespace

PrivateBus::Result PrivateBus::Run(const std::string& program, const std::vector<std::string>& args,
                                   int timeoutMs) {
  Result result;
  QProcess process;
  process.setEnvironment(Environment());
  process.start(QString::fromStdString(Resolve(program)), ToQt(args));
  if (!process.waitForStarted(5000)) {
    result.err = "cannot start " + program + ": " + process.errorString().toStdString();
    return result;
  }
  if (!process.waitForFinished(timeoutMs)) {
    result.timedOut = true;
    process.kill();
    process.waitForFinished(5000);
  }
  result.out = process.readAllStandardOutput().toStdString();
  result.err += process.readAllStandardError().toStdString();
  if (!result.timedOut && process.exitStatus() == QProcess::NormalExit) result.exitCode = process.exitCode();
  return result;
}

QProcess* PrivateBus::Start(const std::string& program, const std::vector<std::string>& args) {
  auto process = std::make_unique<QProcess>();
  process->setEnvironment(Environment());
  process->start(QString::fromStdString(Resolve(program)), ToQt(args));
  process->waitForStarted(5000);
  processes_.push_back(std::move(process));
  return processes_.back().get();
}

bool PrivateBus::Register(const std::string& program) { return Run(program, {"-RegServer"}).exitCode == 0; }

bool PrivateBus::Unregister(const std::string& program) { return Run(program, {"-UnregServer"}).exitCode == 0; }

pid_t PrivateBus::OwnerPid(const QString& busName) {
  if (!control_) return 0;
  QDBusReply<uint> reply = control_->interface()->servicePid(busName);
  return reply.isValid() ? static_cast<pid_t>(reply.value()) : 0;
}

bool PrivateBus::HasOwner(const QString& busName) {
  if (!control_) return false;
  QDBusReply<bool> reply = control_->interface()->isServiceRegistered(busName);
  return reply.isValid() && reply.value();
}

SignalLog::SignalLog(QDBusConnection connection, const QString& service, const QString& path,
                     const QString& interface)
    : connection_(std::move(connection)), service_(service), path_(path), interface_(interface) {
  connection_.connect(service_, path_, interface_, QString(), this, SLOT(OnSignal(QDBusMessage)));
}

SignalLog::~SignalLog() {
  connection_.disconnect(service_, path_, interface_, QString(), this, SLOT(OnSignal(QDBusMessage)));
}

void SignalLog::OnSignal(const QDBusMessage& message) {
  entries_.push_back({message.path(), message.interface(), message.member(), message.arguments()});
}

QStringList SignalLog::Members() const {
  QStringList list;
  for (const Entry& e : entries_) list << e.member;
  return list;
}

bool SignalLog::WaitForCount(size_t count, int timeoutMs) {
  return WaitUntil([&] { return entries_.size() >= count; }, timeoutMs);
}

}  // namespace orvo::testing

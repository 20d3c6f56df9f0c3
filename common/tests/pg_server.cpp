#include "pg_server.h"

#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

namespace orvo::testing {

namespace {

namespace fs = std::filesystem;

// The newest installed server's programs.
std::string ServerBinDir() {
  std::vector<fs::path> found;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/usr/lib/postgresql", ec))
    if (fs::exists(e.path() / "bin" / "initdb") && fs::exists(e.path() / "bin" / "postgres")) found.push_back(e.path());
  if (found.empty()) return {};
  std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) {
    return std::atoi(a.filename().c_str()) < std::atoi(b.filename().c_str());
  });
  return (found.back() / "bin").string();
}

std::string Tail(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string s = ss.str();
  return s.size() > 600 ? s.substr(s.size() - 600) : s;
}

struct Account {
  uid_t uid;
  gid_t gid;
};

// Starts `argv` as `who` (when set) with its output in `logPath`. With
// `dieWithUs` the child gets SIGINT (a fast shutdown) when this process ends,
// even by a crash, so no server outlives its test binary.
pid_t Spawn(const std::vector<std::string>& argv, const std::optional<Account>& who, const std::string& logPath,
            bool dieWithUs) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  char path[] = "PATH=/usr/bin:/bin";
  char lang[] = "LC_ALL=C.UTF-8";
  char* env[] = {path, lang, nullptr};
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (log >= 0) {
    ::dup2(log, 1);
    ::dup2(log, 2);
  }
  int null = ::open("/dev/null", O_RDONLY);
  if (null >= 0) ::dup2(null, 0);
  if (who) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(who->gid) != 0 || ::setuid(who->uid) != 0) ::_exit(126);
  }
  if (dieWithUs) ::prctl(PR_SET_PDEATHSIG, SIGINT);
  ::execve(args[0], args.data(), env);
  ::_exit(127);
}

int Wait(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class Cluster {
 public:
  ~Cluster() {
    if (::getpid() != owner_) return;  // a forked child of the test leaves the server alone
    if (postmaster_ > 0) {
      ::kill(postmaster_, SIGINT);
      Wait(postmaster_);
    }
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }

  const PgServer* Get(std::string* why) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!tried_) {
      tried_ = true;
      owner_ = ::getpid();
      why_ = Start();
      if (!why_.empty()) why_ = "PostgreSQL test server did not start: " + why_;
    }
    if (why_.empty()) return &*server_;
    if (why) *why = why_;
    return nullptr;
  }

 private:
  std::string Start() {
    std::string bin = ServerBinDir();
    if (bin.empty()) return "no initdb under /usr/lib/postgresql/*/bin (install postgresql)";
    std::optional<Account> who;
    if (::geteuid() == 0) {
      // initdb refuses root: the server runs as nobody, in a folder nobody owns.
      struct passwd* pw = ::getpwnam("nobody");
      if (!pw) return "running as root and there is no user 'nobody' to run the server as";
      who = Account{pw->pw_uid, pw->pw_gid};
    }
    // /tmp rather than TMPDIR: the socket's path must stay short, and nobody
    // must be able to reach the folder.
    char tmpl[] = "/tmp/orvo-pg-XXXXXX";
    if (!::mkdtemp(tmpl)) return std::string("cannot make a folder in /tmp: ") + std::strerror(errno);
    root_ = tmpl;
    if (who && ::chown(root_.c_str(), who->uid, who->gid) != 0)
      return "cannot give " + root_ + " to nobody: " + std::strerror(errno);
    const std::string log = root_ + "/server.log";
    const std::string data = root_ + "/data";
    int rc = Wait(Spawn({bin + "/initdb", "-D", data, "-A", "trust", "-U", "orvo", "-E", "UTF8", "--locale=C.UTF-8",
                         "--no-sync", "--no-instructions"},
                        who, log, false));
    if (rc != 0) return "initdb exited " + std::to_string(rc) + ": " + Tail(log);
    bin_ = bin;
    who_ = who;
    server_.emplace(root_);
    return Launch();
  }

 public:
  bool StopNow(std::string* why) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (postmaster_ <= 0) return Fails(why, "no server is running");
    const std::string log = root_ + "/server.log";
    int rc = Wait(Spawn({bin_ + "/pg_ctl", "-D", root_ + "/data", "stop", "-m", "immediate", "-w"}, who_, log, false));
    if (rc != 0) return Fails(why, "pg_ctl stop exited " + std::to_string(rc) + ": " + Tail(log));
    Wait(postmaster_);
    postmaster_ = -1;
    return true;
  }

  bool Restart(std::string* why) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!server_ || postmaster_ > 0) return Fails(why, "the server is not stopped");
    const std::string failed = Launch();
    return failed.empty() || Fails(why, failed);
  }

 private:
  static bool Fails(std::string* why, const std::string& text) {
    if (why) *why = text;
    return false;
  }

  // Starts the postmaster on the cluster and waits until it answers.
  std::string Launch() {
    const std::string log = root_ + "/server.log";
    postmaster_ = Spawn({bin_ + "/postgres", "-D", root_ + "/data", "-k", root_, "-c", "listen_addresses=", "-c",
                         "fsync=off", "-c", "synchronous_commit=off", "-c", "full_page_writes=off", "-c",
                         "max_connections=40", "-c", "shared_buffers=16MB"},
                        who_, log, true);
    if (postmaster_ < 0) return "cannot start postgres";
    const std::string conninfo = server_->Url("postgres") + "&connect_timeout=2";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (PQping(conninfo.c_str()) != PQPING_OK) {
      int status = 0;
      if (::waitpid(postmaster_, &status, WNOHANG) == postmaster_) {
        postmaster_ = -1;
        return "postgres exited at start: " + Tail(log);
      }
      if (std::chrono::steady_clock::now() > deadline) return "postgres did not answer within 20 s: " + Tail(log);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
  }

  std::mutex mutex_;
  std::string bin_;
  std::optional<Account> who_;
  bool tried_ = false;
  pid_t owner_ = 0;
  pid_t postmaster_ = -1;
  std::string root_;
  std::string why_;
  std::optional<PgServer> server_;
};

Cluster& TheCluster() {
  static Cluster cluster;
  return cluster;
}

}  // namespace

std::string PgServer::Url(const std::string& name) const {
  return "postgresql:///" + name + "?host=" + socketDir_ + "&user=orvo";
}

std::string PgServer::NewDatabase(const std::string& options) const {
  static std::mutex mutex;
  static int counter = 0;
  std::lock_guard<std::mutex> lock(mutex);
  std::string name = "orvo_test_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
  PGconn* conn = PQconnectdb(Url("postgres").c_str());
  bool ok = PQstatus(conn) == CONNECTION_OK;
  if (ok) {
    PGresult* res = PQexec(conn, ("CREATE DATABASE " + name + " TEMPLATE template0 ENCODING 'UTF8' " + options).c_str());
    ok = PQresultStatus(res) == PGRES_COMMAND_OK;
    PQclear(res);
  }
  PQfinish(conn);
  return ok ? Url(name) : std::string();
}

const PgServer* SharedPgServer(std::string* why) { return TheCluster().Get(why); }

bool StopPgServerNow(std::string* why) { return TheCluster().StopNow(why); }

bool RestartPgServer(std::string* why) { return TheCluster().Restart(why); }

bool PostgresRequired() {
  const char* ci = std::getenv("CI");
  return ci && std::string(ci) == "true";
}

}  // namespace orvo::testing

#include "pg_scratch.h"

#include <fcntl.h>
#include <glob.h>
#include <grp.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace orvo::bench {

namespace {

namespace fs = std::filesystem;

// The programs of the newest server installed (Debian keeps each version
// in a folder of its own).
std::string ServerBinDir() {
  glob_t g{};
  std::string best;
  int bestVersion = -1;
  if (::glob("/usr/lib/postgresql/*/bin/pg_ctl", 0, nullptr, &g) == 0) {
    for (size_t i = 0; i < g.gl_pathc; ++i) {
      const fs::path bin = fs::path(g.gl_pathv[i]).parent_path();
      const int version = std::atoi(bin.parent_path().filename().c_str());
      if (version > bestVersion && fs::exists(bin / "initdb")) {
        best = bin.string();
        bestVersion = version;
      }
    }
  }
  ::globfree(&g);
  return best;
}

// The end of a log, for a message.
std::string LogTail(const std::string& path) {
  std::ifstream in(path, std::ios::ate);
  const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : 0;
  in.seekg(std::max<std::streamoff>(0, size - 400));
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The folder a user other than root must reach: every folder above it
// searchable by others.
std::string Unreachable(const fs::path& folder) {
  for (fs::path p = folder.parent_path(); !p.empty() && p != p.root_path(); p = p.parent_path()) {
    struct stat st {};
    if (::stat(p.c_str(), &st) == 0 && (st.st_mode & S_IXOTH) == 0) return p.string();
  }
  return {};
}

bool Execute(PGconn* conn, const std::string& sql, std::string* why) {
  PGresult* r = PQexec(conn, sql.c_str());
  const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
  if (!ok && why) *why = PQresultErrorMessage(r);
  PQclear(r);
  return ok;
}

}  // namespace

int ScratchServer::Run(const std::string& program, const std::vector<std::string>& args) const {
  std::vector<std::string> argv = {bin_ + "/" + program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargs;
  for (auto& a : argv) cargs.push_back(a.data());
  cargs.push_back(nullptr);
  char path[] = "PATH=/usr/bin:/bin";
  char lang[] = "LC_ALL=C.UTF-8";
  char* env[] = {path, lang, nullptr};
  const std::string log = folder_ + "/tools.log";
  pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd >= 0) {
      ::dup2(fd, 1);
      ::dup2(fd, 2);
    }
    int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0) ::dup2(null, 0);
    if (as_ && (::setgroups(0, nullptr) != 0 || ::setgid(as_->gid) != 0 || ::setuid(as_->uid) != 0)) ::_exit(126);
    ::execve(cargs[0], cargs.data(), env);
    ::_exit(127);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::unique_ptr<ScratchServer> ScratchServer::Start(const std::string& folderName, std::string* why) {
  const std::string bin = ServerBinDir();
  if (bin.empty()) {
    *why = "no initdb under /usr/lib/postgresql/*/bin (apt-get install postgresql postgresql-contrib)";
    return nullptr;
  }
  std::error_code ec;
  const fs::path folder = fs::absolute(folderName, ec);
  fs::create_directories(folder, ec);
  if (fs::exists(folder / "data")) {
    *why = (folder / "data").string() + " exists: a server was left there (pg_ctl -D it stop, then remove it)";
    return nullptr;
  }
  // The socket's path has to fit a socket address.
  if (folder.string().size() > 90) {
    *why = "the folder's path is too long for a socket: " + folder.string();
    return nullptr;
  }
  std::optional<Account> as;
  if (::geteuid() == 0) {
    struct passwd* pw = ::getpwnam("nobody");
    if (!pw) {
      *why = "running as root and there is no user 'nobody' to run the server as";
      return nullptr;
    }
    as = Account{pw->pw_uid, pw->pw_gid};
    if (std::string above = Unreachable(folder); !above.empty()) {
      *why = "the server runs as nobody, who cannot reach " + folder.string() + " (" + above +
             " is not searchable by others): chmod o+x it or give another --folder";
      return nullptr;
    }
    if (::chown(folder.c_str(), as->uid, as->gid) != 0) {
      *why = "cannot give " + folder.string() + " to nobody: " + std::strerror(errno);
      return nullptr;
    }
  }
  ::chmod(folder.c_str(), 0700);
  std::unique_ptr<ScratchServer> s(new ScratchServer(bin, folder.string(), as));
  const std::string data = s->folder_ + "/data";
  if (int rc = s->Run("initdb", {"-D", data, "-A", "trust", "-U", "orvo", "-E", "UTF8", "--locale=C.UTF-8",
                                 "--no-instructions"});
      rc != 0) {
    *why = "initdb exited " + std::to_string(rc) + ": " + LogTail(s->folder_ + "/tools.log");
    return nullptr;
  }
  {
    // The server's defaults otherwise: only where it listens differs.
    std::ofstream conf(data + "/postgresql.conf", std::ios::app);
    conf << "\nlisten_addresses = ''\nunix_socket_directories = '" << s->folder_ << "'\n";
  }
  if (int rc = s->Run("pg_ctl", {"-D", data, "-l", s->folder_ + "/server.log", "-w", "-t", "120", "start"}); rc != 0) {
    *why = "pg_ctl start exited " + std::to_string(rc) + ": " + LogTail(s->folder_ + "/server.log");
    s->Run("pg_ctl", {"-D", data, "-m", "immediate", "stop"});
    return nullptr;
  }
  s->started_ = true;
  return s;
}

ScratchServer::~ScratchServer() {
  if (started_) Run("pg_ctl", {"-D", folder_ + "/data", "-m", "fast", "-w", "stop"});
  std::error_code ec;
  fs::remove_all(folder_ + "/data", ec);
}

std::string ScratchServer::Url(const std::string& name) const {
  return "postgresql:///" + name + "?host=" + folder_ + "&user=orvo";
}

bool ScratchServer::CreateDatabase(const std::string& name, std::string* why) const {
  PGconn* conn = PQconnectdb(Url("postgres").c_str());
  bool ok = PQstatus(conn) == CONNECTION_OK;
  if (!ok) *why = PQerrorMessage(conn);
  if (ok) ok = Execute(conn, "CREATE DATABASE " + name + " TEMPLATE template0 ENCODING 'UTF8'", why);
  PQfinish(conn);
  return ok;
}

bool ScratchServer::DropDatabase(const std::string& name) const {
  PGconn* conn = PQconnectdb(Url("postgres").c_str());
  bool ok = PQstatus(conn) == CONNECTION_OK && Execute(conn, "DROP DATABASE IF EXISTS " + name, nullptr);
  PQfinish(conn);
  return ok;
}

}  // namespace orvo::bench

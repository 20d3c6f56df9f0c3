// A PostgreSQL server of the benchmark's own, made with Debian's initdb and
// pg_ctl in a folder it is given, with the server's default settings but
// reachable only on a Unix socket in that folder. initdb refuses root, so
// under root the server runs as `nobody`. Stopped, and its folder removed,
// when the object goes.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orvo::bench {

class ScratchServer {
 public:
  // Null with `why` set when the server cannot be made or started.
  static std::unique_ptr<ScratchServer> Start(const std::string& folder, std::string* why);
  ~ScratchServer();
  ScratchServer(const ScratchServer&) = delete;
  ScratchServer& operator=(const ScratchServer&) = delete;

  // A postgresql:// address of database `name`.
  std::string Url(const std::string& name) const;
  // Creates database `name` (UTF-8); false with `why` set on failure.
  bool CreateDatabase(const std::string& name, std::string* why) const;
  bool DropDatabase(const std::string& name) const;
  const std::string& folder() const { return folder_; }

 private:
  struct Account {
    uid_t uid;
    gid_t gid;
  };
  ScratchServer(std::string bin, std::string folder, std::optional<Account> as)
      : bin_(std::move(bin)), folder_(std::move(folder)), as_(as) {}
  int Run(const std::string& program, const std::vector<std::string>& args) const;
  std::string bin_;
  std::string folder_;
  std::optional<Account> as_;
  bool started_ = false;
};

}  // namespace orvo::bench

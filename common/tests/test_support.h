// Helpers shared by the common tests.
#pragma once

#include <functional>
#include <string>

namespace orvo::testing {

// A fresh folder under TMPDIR, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

// Runs each body in its own forked process at the same time; true when every
// child exited 0.
bool RunInProcesses(const std::function<void(int child)>& body, int count);

}  // namespace orvo::testing

// The orvo-updates program as a user starts it.
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "catalogue_fixture.h"

namespace orvo::updates {
namespace {

using testing::CatalogueFolder;

// A child process whose standard output and error come back through a pipe.
class Child {
 public:
  explicit Child(std::vector<std::string> args) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(fds[1], 1);
      ::dup2(fds[1], 2);
      ::close(fds[0]);
      ::close(fds[1]);
      std::string program = std::string(ORVO_BIN_DIR) + "/orvo-updates";
      std::vector<char*> argv{program.data()};
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      _exit(127);
    }
    ::close(fds[1]);
    out_ = fds[0];
  }
  ~Child() {
    if (pid_ > 0 && status_ < 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }

  // Reads output until `text` appears or the deadline passes.
  bool WaitFor(const std::string& text, int seconds = 20) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (output_.find(text) == std::string::npos) {
      int left = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
      if (left <= 0) return false;
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, left) <= 0) return false;
      char buf[4096];
      ssize_t n = ::read(out_, buf, sizeof buf);
      if (n <= 0) return output_.find(text) != std::string::npos;
      output_.append(buf, static_cast<size_t>(n));
    }
    return true;
  }
  // Exit code after the process ends (it is killed after the deadline).
  int Wait(int seconds = 20) {
    WaitFor("\x01never\x01", seconds);  // drain output until end of file
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        break;
      }
      ::usleep(20000);
    }
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
  }
  void Signal(int sig) { ::kill(pid_, sig); }
  const std::string& output() const { return output_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int status_ = -1;
  std::string output_;
};

int PortFrom(const std::string& output) {
  size_t at = output.find("Listening on http://127.0.0.1:");
  if (at == std::string::npos) return -1;
  return std::atoi(output.c_str() + at + std::strlen("Listening on http://127.0.0.1:"));
}

TEST(UpdatesProgramTest, ServesUntilToldToStop) {
  CatalogueFolder f;
  f.WriteDefault();
  Child server({"--port", "0", f.path()});
  ASSERT_TRUE(server.WaitFor("/catalogue.asp\n")) << server.output();
  int port = PortFrom(server.output());
  ASSERT_GT(port, 0) << server.output();
  EXPECT_NE(server.output().find("set DownloadURL=127.0.0.1:" + std::to_string(port) + "/catalogue.asp"),
            std::string::npos);

  httplib::Client c("127.0.0.1", port);
  auto page = c.Post("/catalogue.asp", std::string("_Ver=2.2.49", 12), "application/x-www-form-urlencoded");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_TRUE(server.WaitFor("POST /catalogue.asp 200")) << server.output();

  // A second server cannot take the same port and says what to do.
  Child second({"--port", std::to_string(port), f.path()});
  EXPECT_EQ(second.Wait(), 1);
  EXPECT_NE(second.output().find("choose another with --port"), std::string::npos) << second.output();

  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(), 0) << server.output();
  EXPECT_NE(server.output().find("Stopping"), std::string::npos);
}

TEST(UpdatesProgramTest, RefusesToStartOnABrokenFolder) {
  CatalogueFolder f;
  f.WriteDefault();
  f.WriteIndex("Alpha | World | a-list.html | 2 | gone.html | 3\n");
  Child server({"--port", "0", f.path()});
  EXPECT_EQ(server.Wait(), 1);
  EXPECT_NE(server.output().find(f.Index() + ":1: the mask file masks/gone.html does not exist"), std::string::npos)
      << server.output();
  EXPECT_EQ(server.output().find("Listening"), std::string::npos);
}

TEST(UpdatesProgramTest, CheckHelpAndBadArguments) {
  CatalogueFolder f;
  f.WriteDefault();
  Child check({"--check", f.path()});
  EXPECT_EQ(check.Wait(), 0);
  EXPECT_NE(check.output().find("is valid"), std::string::npos);

  Child help({"--help"});
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_NE(help.output().find("--static DIR"), std::string::npos);

  Child noFolder({"--port", "0"});
  EXPECT_EQ(noFolder.Wait(), 2);
  EXPECT_NE(noFolder.output().find("name the catalogue folder"), std::string::npos);

  Child badPort({"--port", "http", f.path()});
  EXPECT_EQ(badPort.Wait(), 2);
  EXPECT_NE(badPort.output().find("--port wants a number"), std::string::npos);

  Child badStatic({"--port", "0", "--static", f.path() + "/nowhere", f.path()});
  EXPECT_EQ(badStatic.Wait(), 1);
  EXPECT_NE(badStatic.output().find("static folder"), std::string::npos) << badStatic.output();
}

}  // namespace
}  // namespace orvo::updates

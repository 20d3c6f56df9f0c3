// Every program says the one version of the build, without a bus or a display.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

std::string RunProgram(const std::string& cmd, int* exitCode) {
  FILE* p = ::popen((cmd + " 2>&1").c_str(), "r");
  std::string out;
  char buf[512];
  while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  int status = ::pclose(p);
  *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

TEST(VersionTest, EveryProgramPrintsTheProjectVersion) {
  for (const char* program : {"orvo", "Gatherer", "Bookbinder", "Timekeeper", "Newsdesk", "orvo-updates",
                              "orvo-try-mask", "litgen-pack"}) {
    const std::string path = std::string(ORVO_BIN_DIR) + "/" + program;
    if (!std::filesystem::exists(path)) {
      ADD_FAILURE() << path << " was not built";
      continue;
    }
    int rc = 0;
    // No session bus and no display: --version must need neither.
    std::string out = RunProgram("env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY -u WAYLAND_DISPLAY " + path + " --version", &rc);
    EXPECT_EQ(rc, 0) << program << ": " << out;
    EXPECT_EQ(out, std::string(program) + " " + ORVO_EXPECTED_VERSION + "\n") << program;
  }
}

TEST(VersionTest, ServerHelpNamesTheVersionSwitchAndGathererItsMaskTrial) {
  int rc = 0;
  std::string out = RunProgram(std::string(ORVO_BIN_DIR) + "/Gatherer --help", &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_NE(out.find("--version"), std::string::npos) << out;
  EXPECT_NE(out.find("--try-mask"), std::string::npos) << out;
  // The switch rules hold for it too: "/Version" counts, a word after it does not.
  out = RunProgram(std::string(ORVO_BIN_DIR) + "/Bookbinder /VERSION", &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(out, std::string("Bookbinder ") + ORVO_EXPECTED_VERSION + "\n");
}

}  // namespace

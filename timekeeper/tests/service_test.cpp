// Installing Timekeeper as a systemd user service. systemd itself cannot run
// in a test, so `systemctl` is a script on PATH that records how it was called.
#include "service.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "test_support.h"

namespace orvo {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
    std::filesystem::create_directories(dir.File("bin"));
    setenv("PATH", dir.File("bin").c_str(), 1);  // no systemctl at all
  }
  void TearDown() override {
    setenv("PATH", oldPath_.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
  }
  // A systemctl that logs its arguments and exits with `code`, printing `say`.
  void FakeSystemctl(int code, const std::string& say = "") {
    std::string script = "#!/bin/sh\necho \"$@\" >> " + dir.File("calls") + "\n";
    if (!say.empty()) script += "echo '" + say + "' >&2\n";
    script += "exit " + std::to_string(code) + "\n";
    WriteFile(dir.File("bin/systemctl"), script);
    chmod(dir.File("bin/systemctl").c_str(), 0755);
  }
  std::string Calls() { return ReadFile(dir.File("calls")); }

  TempDir dir;
  std::string oldPath_;
};

TEST_F(ServiceTest, UnitRunsTheProgramAsADbusServiceInItsFolder) {
  std::string text = ServiceUnitText("/opt/orvo 2/bin/Timekeeper", "/home/u/100% news");
  EXPECT_NE(text.find("Type=dbus\n"), std::string::npos);
  EXPECT_NE(text.find("BusName=org.orvo.OrvoRunner\n"), std::string::npos);
  EXPECT_NE(text.find("ExecStart=\"/opt/orvo 2/bin/Timekeeper\"\n"), std::string::npos);
  EXPECT_NE(text.find("Environment=ORVO_SERVICE=1\n"), std::string::npos);
  EXPECT_NE(text.find("Environment=\"ORVO_HOME=/home/u/100%% news\"\n"), std::string::npos);
  EXPECT_NE(text.find("WantedBy=default.target"), std::string::npos);
  EXPECT_EQ(ServiceUnitText("/usr/bin/Timekeeper", "").find("ORVO_HOME"), std::string::npos);
}

TEST_F(ServiceTest, WithoutSystemdTheUnitIsWrittenAndTheUserTold) {
  ServiceStep step = InstallServiceUnit("/usr/bin/Timekeeper", "");
  EXPECT_EQ(step.exitCode, 0);
  EXPECT_EQ(ServiceUnitPath(), dir.File("config") + "/systemd/user/orvo-timekeeper.service");
  EXPECT_NE(ReadFile(ServiceUnitPath()).find("ExecStart=/usr/bin/Timekeeper"), std::string::npos);
  EXPECT_NE(step.message.find("not reachable"), std::string::npos) << step.message;
  EXPECT_NE(step.message.find("systemctl --user enable --now orvo-timekeeper.service"), std::string::npos);

  // The same when systemctl exists but no user manager runs, as in CI.
  FakeSystemctl(1, "Failed to connect to bus: No medium found");
  step = InstallServiceUnit("/usr/bin/Timekeeper", "");
  EXPECT_EQ(step.exitCode, 0);
  EXPECT_NE(step.message.find("Failed to connect to bus"), std::string::npos);
}

TEST_F(ServiceTest, WithSystemdTheUnitIsEnabledAndStartedThenRemoved) {
  FakeSystemctl(0);
  ServiceStep step = InstallServiceUnit("/usr/bin/Timekeeper", "/srv/orvo");
  EXPECT_EQ(step.exitCode, 0) << step.message;
  EXPECT_EQ(Calls(), "--user daemon-reload\n--user enable --now orvo-timekeeper.service\n");

  WriteFile(dir.File("calls"), "");
  step = RemoveServiceUnit();
  EXPECT_EQ(step.exitCode, 0) << step.message;
  EXPECT_FALSE(std::filesystem::exists(ServiceUnitPath()));
  EXPECT_EQ(Calls(), "--user disable --now orvo-timekeeper.service\n--user daemon-reload\n");
}

TEST_F(ServiceTest, FailedStartIsReported) {
  FakeSystemctl(0);
  WriteFile(dir.File("bin/systemctl"),
            "#!/bin/sh\ncase \"$2\" in enable) echo 'Job failed' >&2; exit 1;; esac\nexit 0\n");
  ServiceStep step = InstallServiceUnit("/usr/bin/Timekeeper", "");
  EXPECT_NE(step.exitCode, 0);
  EXPECT_NE(step.message.find("Couldn't start the service: Job failed"), std::string::npos) << step.message;
}

TEST_F(ServiceTest, RemovingWhatIsNotInstalledLeavesSystemdAlone) {
  FakeSystemctl(0);
  ServiceStep step = RemoveServiceUnit();
  EXPECT_EQ(step.exitCode, 0) << step.message;
  EXPECT_EQ(Calls(), "");
}

TEST_F(ServiceTest, RemovingWithoutSystemdStillRemovesTheFile) {
  InstallServiceUnit("/usr/bin/Timekeeper", "");
  ASSERT_TRUE(std::filesystem::exists(ServiceUnitPath()));
  ServiceStep step = RemoveServiceUnit();
  EXPECT_EQ(step.exitCode, 0) << step.message;
  EXPECT_FALSE(std::filesystem::exists(ServiceUnitPath()));
  EXPECT_NE(step.message.find("not reachable"), std::string::npos);
}

// An installed copy ships its unit; -Service must enable that one, not write a
// user's copy that would shadow it, unless the user's unit has to carry ORVO_HOME.
TEST_F(ServiceTest, AnInstalledCopyUsesItsPackagedUnitAndWritesNoOther) {
  const std::string program = dir.File("usr") + "/libexec/orvo/Timekeeper";
  const std::string packaged = dir.File("usr") + "/lib/systemd/user/orvo-timekeeper.service";
  std::filesystem::create_directories(std::filesystem::path(packaged).parent_path());
  WriteFile(packaged, "[Service]\nType=dbus\nExecStart=" + program + "\n");
  EXPECT_EQ(PackagedServiceUnit(program), packaged);
  EXPECT_EQ(PackagedServiceUnit(dir.File("elsewhere") + "/libexec/orvo/Timekeeper"), "");

  FakeSystemctl(0);
  ServiceStep step = InstallServiceUnit(program, "");
  EXPECT_EQ(step.exitCode, 0) << step.message;
  EXPECT_FALSE(std::filesystem::exists(ServiceUnitPath()));
  EXPECT_NE(step.message.find(packaged), std::string::npos) << step.message;
  EXPECT_EQ(Calls(), "--user daemon-reload\n--user enable --now orvo-timekeeper.service\n");

  WriteFile(dir.File("calls"), "");
  step = RemoveServiceUnit(program);
  EXPECT_EQ(Calls(), "--user disable --now orvo-timekeeper.service\n");

  // A unit that must carry ORVO_HOME, or a packaged unit of another program,
  // is the user's own again.
  InstallServiceUnit(program, "/srv/orvo");
  EXPECT_NE(ReadFile(ServiceUnitPath()).find("ORVO_HOME=/srv/orvo"), std::string::npos);
  RemoveServiceUnit(program);
  WriteFile(packaged, "[Service]\nExecStart=/opt/other/Timekeeper\n");
  InstallServiceUnit(program, "");
  EXPECT_TRUE(std::filesystem::exists(ServiceUnitPath()));
}

TEST(RunProgramTest, ExitCodesOutputAndTimeOut) {
  std::string out;
  EXPECT_EQ(RunProgram({"sh", "-c", "echo hello; echo oops >&2; exit 3"}, &out), 3);
  EXPECT_EQ(out, "hello\noops\n");
  EXPECT_EQ(RunProgram({"no-such-program-here"}, &out), 127);
  EXPECT_EQ(RunProgram({"sleep", "30"}, &out, 200), 124);
}

}  // namespace
}  // namespace orvo

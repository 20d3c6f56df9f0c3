#include "servercmd.h"

#include <stdlib.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "test_support.h"

namespace orvo {
namespace {

using testing::ReadFile;
using testing::TempDir;

ServerSwitch Kind(const char* line) { return ParseServerCommand(line).kind; }

TEST(ServerCommand, SwitchIsTheLastThingOnTheLineInAnyCase) {
  EXPECT_EQ(Kind("-regserver"), ServerSwitch::kRegServer);
  EXPECT_EQ(Kind("/RegServer"), ServerSwitch::kRegServer);
  EXPECT_EQ(Kind("--REGSERVER"), ServerSwitch::kRegServer);
  EXPECT_EQ(Kind("-UnregServer"), ServerSwitch::kUnregServer);
  EXPECT_EQ(Kind("/unregserver"), ServerSwitch::kUnregServer);
  EXPECT_EQ(Kind("-Embedding -RegServer"), ServerSwitch::kRegServer);
  EXPECT_EQ(Kind("--help"), ServerSwitch::kHelp);
  EXPECT_EQ(Kind("-h"), ServerSwitch::kHelp);
  EXPECT_EQ(Kind("/?"), ServerSwitch::kHelp);
  EXPECT_EQ(Kind("--version"), ServerSwitch::kVersion);
  EXPECT_EQ(Kind("/Version"), ServerSwitch::kVersion);
  EXPECT_EQ(Kind("--version now"), ServerSwitch::kNone);

  EXPECT_EQ(Kind(""), ServerSwitch::kNone);
  EXPECT_EQ(Kind("RegServer"), ServerSwitch::kNone);
  EXPECT_EQ(Kind("/RegServer extra"), ServerSwitch::kNone);
  EXPECT_EQ(Kind("-RegServer -x"), ServerSwitch::kNone);
  EXPECT_EQ(Kind("-RegServerX"), ServerSwitch::kNone);
  EXPECT_EQ(Kind("-Reg Server"), ServerSwitch::kNone);
  EXPECT_EQ(Kind("/tmp/folder"), ServerSwitch::kNone);
}

TEST(ServerCommand, ProgramWordsAndJoinedArguments) {
  ServerCommand cmd = ParseServerCommand("-service", {"Service"});
  EXPECT_EQ(cmd.kind, ServerSwitch::kOther);
  EXPECT_EQ(cmd.word, "Service");
  EXPECT_EQ(ParseServerCommand("-service").kind, ServerSwitch::kNone);

  const char* argv[] = {"/usr/bin/Gatherer", "/RegServer", "extra"};
  EXPECT_EQ(JoinCommandLine(3, argv), "/RegServer extra");
  EXPECT_EQ(Kind(JoinCommandLine(3, argv).c_str()), ServerSwitch::kNone);
  EXPECT_EQ(JoinCommandLine(1, argv), "");
}

TEST(ActivationFile, ExecLineQuotesWhatTheBusWouldSplit) {
  EXPECT_EQ(ActivationFileText("org.orvo.Gatherer2", "/opt/orvo/Gatherer", ""),
            "[D-BUS Service]\nName=org.orvo.Gatherer2\nExec=/opt/orvo/Gatherer\n");
  EXPECT_EQ(ActivationFileText("org.orvo.Gatherer2", "/opt/orvo/Gatherer", "/home/u/orvo"),
            "[D-BUS Service]\nName=org.orvo.Gatherer2\nExec=/usr/bin/env ORVO_HOME=/home/u/orvo /opt/orvo/Gatherer\n");
  EXPECT_EQ(ActivationFileText("n", "/my dir/it's/G", "/a b"),
            "[D-BUS Service]\nName=n\nExec=/usr/bin/env 'ORVO_HOME=/a b' '/my dir/it'\\\\''s/G'\n");
}

// Sets an environment variable for one test.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old, had_ = true;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() { had_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

TEST(ActivationFile, RegisterWritesAndUnregisterRemoves) {
  TempDir dir;
  ScopedEnv data("XDG_DATA_HOME", dir.path().c_str());
  ScopedEnv home("ORVO_HOME", nullptr);
  const std::string file = dir.path() + "/dbus-1/services/org.orvo.Gatherer2.service";
  EXPECT_EQ(ActivationFilePath("org.orvo.Gatherer2"), file);

  CommandResult r = RegisterServer("Gatherer", "org.orvo.Gatherer2", "/opt/orvo/Gatherer");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.message.find(file), std::string::npos) << r.message;
  EXPECT_EQ(ReadFile(file), "[D-BUS Service]\nName=org.orvo.Gatherer2\nExec=/opt/orvo/Gatherer\n");
  // Registering again replaces the file and leaves no temporary behind.
  EXPECT_EQ(RegisterServer("Gatherer", "org.orvo.Gatherer2", "/opt/orvo2/Gatherer").exitCode, 0);
  EXPECT_EQ(ReadFile(file), "[D-BUS Service]\nName=org.orvo.Gatherer2\nExec=/opt/orvo2/Gatherer\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path() + "/dbus-1/services"),
                          std::filesystem::directory_iterator()),
            1);

  r = UnregisterServer("Gatherer", "org.orvo.Gatherer2");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_FALSE(std::filesystem::exists(file));
  r = UnregisterServer("Gatherer", "org.orvo.Gatherer2");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.message.find("was not registered"), std::string::npos) << r.message;
}

// The bus passes on none of its callers' environment: the registering
// shell's program folder and database travel in the file, read back as set.
TEST(ActivationFile, TheRegisteringEnvironmentIsKeptAndReadBack) {
  TempDir dir;
  ScopedEnv data("XDG_DATA_HOME", dir.path().c_str());
  struct Case {
    const char* home;
    const char* database;
    const char* program;
  };
  const Case cases[] = {
      {nullptr, nullptr, "/opt/orvo/Gatherer"},
      {"/srv/orvo", nullptr, "/opt/orvo/Gatherer"},
      {nullptr, "postgresql:///news?host=/run/pg sock&user=orvo", "/opt/orvo/Gatherer"},
      {"/a b/it's \\ here", "/data/news's.db", "/home/a b/it's/Gatherer"},
      {nullptr, nullptr, "/home/a b/Gatherer"},
  };
  EXPECT_EQ(RegisteredProgram("org.orvo.Gatherer2"), "");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.home ? c.home : "-") + " " + (c.database ? c.database : "-") + " " + c.program);
    ScopedEnv home("ORVO_HOME", c.home);
    ScopedEnv database("ORVO_DATABASE", c.database);
    ASSERT_EQ(RegisterServer("Gatherer", "org.orvo.Gatherer2", c.program).exitCode, 0);
    auto expect = [](const char* v) { return v ? std::optional<std::string>(v) : std::nullopt; };
    EXPECT_EQ(RegisteredEnvironment("org.orvo.Gatherer2", "ORVO_HOME"), expect(c.home));
    EXPECT_EQ(RegisteredEnvironment("org.orvo.Gatherer2", "ORVO_DATABASE"), expect(c.database));
    EXPECT_EQ(RegisteredProgram("org.orvo.Gatherer2"), c.program);
  }
  // A relative file is the one it names now; a password stays out of the file.
  {
    ScopedEnv database("ORVO_DATABASE", "news.db");
    ASSERT_EQ(RegisterServer("Gatherer", "org.orvo.Gatherer2", "/opt/orvo/Gatherer").exitCode, 0);
    EXPECT_EQ(RegisteredEnvironment("org.orvo.Gatherer2", "ORVO_DATABASE"),
              (std::filesystem::current_path() / "news.db").string());
  }
  for (const char* secret : {"postgresql://orvo:s3cret@db/news", "postgresql:///news?password=s3cret"}) {
    ScopedEnv database("ORVO_DATABASE", secret);
    CommandResult r = RegisterServer("Gatherer", "org.orvo.Gatherer2", "/opt/orvo/Gatherer");
    EXPECT_EQ(r.exitCode, 1) << secret;
    EXPECT_NE(r.message.find("~/.pgpass"), std::string::npos) << r.message;
    EXPECT_EQ(r.message.find("s3cret"), std::string::npos) << r.message;
    EXPECT_EQ(ReadFile(ActivationFilePath("org.orvo.Gatherer2")).find("s3cret"), std::string::npos);
  }
}

TEST(ActivationFile, ProgramFolderAndFailuresAreReported) {
  TempDir dir;
  ScopedEnv data("XDG_DATA_HOME", dir.path().c_str());
  {
    // A relative ORVO_HOME means the folder it names now, not the bus's working folder.
    ScopedEnv home("ORVO_HOME", "relative/orvo");
    ASSERT_EQ(RegisterServer("Gatherer", "org.orvo.Gatherer2", "/opt/orvo/Gatherer").exitCode, 0);
    const std::string text = ReadFile(ActivationFilePath("org.orvo.Gatherer2"));
    EXPECT_NE(text.find("ORVO_HOME=" + std::filesystem::current_path().string() + "/relative/orvo "),
              std::string::npos)
        << text;
  }
  ScopedEnv home("ORVO_HOME", nullptr);
  CommandResult r = RegisterServer("Gatherer", "org.orvo.Gatherer2", "");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.message.find("full path"), std::string::npos) << r.message;

  // A data folder that is a file cannot hold the registration.
  testing::WriteFile(dir.File("blocker"), "x");
  ScopedEnv blocked("XDG_DATA_HOME", dir.File("blocker").c_str());
  r = RegisterServer("Gatherer", "org.orvo.Gatherer2", "/opt/orvo/Gatherer");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.message.find("XDG_DATA_HOME"), std::string::npos) << r.message;

  // XDG_DATA_HOME that is not absolute is ignored, as the base-directory rules say.
  ScopedEnv relative("XDG_DATA_HOME", "not/absolute");
  ScopedEnv user("HOME", dir.path().c_str());
  EXPECT_EQ(ServiceDirectory(), dir.path() + "/.local/share/dbus-1/services");
}

}  // namespace
}  // namespace orvo

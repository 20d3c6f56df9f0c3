// The real Newsdesk program, started as separate processes on a private
// session bus that the test starts and ends.
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <signal.h>

#include <cstdio>
#include <fstream>

#include "database.h"
#include "store/news_items.h"
#include "store/pairs.h"
#include "settings.h"
#include "startup.h"
#include "test_support.h"
#include "vault.h"

namespace orvo::testing {
namespace {

// A dbus-daemon of our own, gone with the fixture.
class PrivateBus {
 public:
  explicit PrivateBus(const std::string& dir) {
    // The stock session configuration, listening in the test's own folder.
    std::string cmd = "dbus-daemon --session --address=unix:tmpdir=" + dir +
                      " --fork --print-address=1 --print-pid=1";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return;
    char line[1024];
    if (fgets(line, sizeof line, p)) address_ = QString::fromUtf8(line).trimmed();
    if (fgets(line, sizeof line, p)) pid_ = std::atoi(line);
    pclose(p);
  }
  ~PrivateBus() {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
  }
  bool ok() const { return !address_.isEmpty() && pid_ > 0; }
  const QString& address() const { return address_; }
  // Asked with dbus-send, so that the test process holds no bus connection.
  bool HasOwner(const QString& name) const {
    QProcess p;
    p.start("dbus-send", {"--bus=" + address_, "--print-reply", "--dest=org.freedesktop.DBus", "/",
                          "org.freedesktop.DBus.NameHasOwner", "string:" + name});
    if (!p.waitForFinished(10000)) return false;
    return p.readAllStandardOutput().contains("boolean true");
  }

 private:
  QString address_;
  int pid_ = 0;
};

class NewsdeskProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string db = dir_.File("news.db");
    std::unique_ptr<Database> d;
    ASSERT_EQ(Database::Open(db, Database::Mode::kCreate, &d), 0);
    ASSERT_TRUE(StoreGeneratedNews(*d, 20, std::time(nullptr)));
    Settings s(dir_.File("ORVO.ini"));
    s.WriteText(kSystemSection, "PathDB", db);
    s.WriteInt(kSystemSection, keys::kStartTip, 0);
  }

  QProcessEnvironment Environment(const QString& busAddress) const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORVO_HOME", QString::fromStdString(dir_.path()));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_DATA_HOME", QString::fromStdString(dir_.File("data")));
    if (busAddress.isEmpty()) {
      // No bus, and no display through which one could be autolaunched.
      env.remove("DBUS_SESSION_BUS_ADDRESS");
      env.remove("DISPLAY");
    }
    else env.insert("DBUS_SESSION_BUS_ADDRESS", busAddress);
    return env;
  }

  void Start(QProcess& p, const QStringList& args, const QString& bus) {
    p.setProcessEnvironment(Environment(bus));
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(NEWSDESK_PROGRAM, args);
    ASSERT_TRUE(p.waitForStarted(10000));
  }

  TempDir dir_;
};

TEST_F(NewsdeskProcessTest, SecondStartRaisesTheFirstAndCloseallEndsIt) {
  if (std::system("command -v dbus-daemon dbus-send > /dev/null") != 0)
    GTEST_SKIP() << "dbus-daemon and dbus-send are needed (package dbus): scripts/install-deps.sh installs them";
  PrivateBus bus(dir_.path());
  ASSERT_TRUE(bus.ok()) << "dbus-daemon did not start";
  QProcess first;
  Start(first, {}, bus.address());
  ASSERT_TRUE(QTest::qWaitFor([&] { return bus.HasOwner(kNewsdeskBusName); }, 20000))
      << first.readAll().toStdString();

  QProcess second;
  Start(second, {}, bus.address());
  ASSERT_TRUE(second.waitForFinished(20000));
  EXPECT_EQ(second.exitCode(), 0) << second.readAll().toStdString();
  EXPECT_EQ(first.state(), QProcess::Running);

  QProcess closer;
  Start(closer, {"closeall"}, bus.address());
  ASSERT_TRUE(closer.waitForFinished(20000));
  EXPECT_EQ(closer.exitCode(), 0);
  ASSERT_TRUE(first.waitForFinished(20000));
  EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(first.exitCode(), 0);
  // It closed the normal way: its layout keys are written.
  EXPECT_TRUE(Settings(dir_.File("ORVO.ini")).HasKey(kSystemSection, keys::kLeftPos));
  // The bus drops the name when it notices the closed connection, which may
  // come a moment after the process has ended.
  EXPECT_TRUE(QTest::qWaitFor([&] { return !bus.HasOwner(kNewsdeskBusName); }, 20000));

  // closeall with nothing running just ends.
  QProcess alone;
  Start(alone, {"closeall"}, bus.address());
  ASSERT_TRUE(alone.waitForFinished(20000));
  EXPECT_EQ(alone.exitCode(), 0);
}

TEST_F(NewsdeskProcessTest, RunsAsASingleWindowWithoutASessionBus) {
  QProcess p;
  Start(p, {}, QString());
  EXPECT_FALSE(p.waitForFinished(1500));  // still running: it did not give up
  EXPECT_EQ(p.state(), QProcess::Running);
  p.terminate();
  p.waitForFinished(10000);
  EXPECT_TRUE(p.readAll().contains("no session bus"));
}

TEST_F(NewsdeskProcessTest, RegServerWritesTheDesktopEntryAndUnregServerRemovesIt) {
  QProcess reg;
  Start(reg, {"-RegServer"}, QString());
  ASSERT_TRUE(reg.waitForFinished(20000));
  EXPECT_EQ(reg.exitCode(), 0) << reg.readAll().toStdString();
  std::string entry = dir_.File("data/applications/org.orvo.Newsdesk.desktop");
  std::string text = ReadFile(entry);
  EXPECT_NE(text.find("Exec=env \"ORVO_HOME=" + dir_.path() + "\" \""), std::string::npos) << text;
  EXPECT_NE(text.find("Newsdesk\"\n"), std::string::npos);
  std::string icon = dir_.File("data/icons/hicolor/scalable/apps/org.orvo.Newsdesk.svg");
  EXPECT_NE(ReadFile(icon).find("<svg"), std::string::npos);

  QProcess unreg;
  Start(unreg, {"/UnregServer"}, QString());
  ASSERT_TRUE(unreg.waitForFinished(20000));
  EXPECT_EQ(unreg.exitCode(), 0);
  EXPECT_FALSE(std::ifstream(entry).good());
  EXPECT_FALSE(std::ifstream(icon).good());

  QProcess help;
  Start(help, {"--help"}, QString());
  ASSERT_TRUE(help.waitForFinished(20000));
  EXPECT_EQ(help.exitCode(), 0);
  EXPECT_TRUE(help.readAll().contains("Usage: Newsdesk"));
}

}  // namespace
}  // namespace orvo::testing

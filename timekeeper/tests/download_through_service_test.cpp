// orvo download as a user runs it with Timekeeper registered: the command
// goes through the service, which runs the real Gatherer against the local
// news network. How such a download ends when the engine is lost, stalls or
// is shared with another client.
#include <signal.h>

#include <QProcess>
#include <filesystem>

#include <gtest/gtest.h>

#include "busharness.h"
#include "database.h"
#include "news_sites.h"
#include "settings.h"
#include "test_support.h"

namespace orvo {
namespace {

using testing::NewsNetwork;
using testing::PrivateBus;
using testing::ReadFile;
using testing::WaitUntil;

const QString kRunner = QStringLiteral("org.orvo.OrvoRunner");
const QString kGatherer = QStringLiteral("org.orvo.Gatherer2");

int64_t CountItems(const std::string& dbPath) {
  std::unique_ptr<Database> db;
  if (Database::Open(dbPath, Database::Mode::kExisting, &db) != 0) return -1;
  Statement st(*db, "SELECT count(*) FROM newsitem");
  return st.Next() ? st.Int(0) : -1;
}

int RunnerStatus(PrivateBus& bus) {
  QDBusMessage call = QDBusMessage::createMethodCall(kRunner, "/OrvoRunner", "org.orvo.IOrvoRunner", "GetStatus");
  QDBusMessage reply = bus.Connect("probe").call(call, QDBus::Block, 5000);
  return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().value(0).toInt() : -1;
}

// A command started in the background, with everything it printed.
struct Command {
  QProcess* process;
  std::string out, err;

  void Read() {
    out += process->readAllStandardOutput().toStdString();
    err += process->readAllStandardError().toStdString();
  }
  bool Printed(const std::string& text) {
    Read();
    return out.find(text) != std::string::npos;
  }
  // Waits for its end; its exit code, or -1 when it did not end in time.
  int Wait(int ms) {
    const bool ended = WaitUntil([&] { return process->state() == QProcess::NotRunning; }, ms);
    Read();
    return ended && process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
  }
  std::string Said() const { return "stdout:\n" + out + "\nstderr:\n" + err; }
};

class DownloadThroughService : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus_.ok()) << bus_.error();
    std::filesystem::create_directories(bus_.orvoHome());
    db_ = testing::PrepareNewsFolder(bus_.orvoHome(), net_, 60);
  }
  Command Download() { return Command{bus_.Start("orvo", {"download", "--no-check"}), {}, {}}; }
  std::string Log() const { return ReadFile(bus_.orvoHome() + "/orvo_log.txt"); }

  NewsNetwork net_;
  PrivateBus bus_{{"Timekeeper", "Gatherer"}};
  std::string db_;
};

// Killed while it held a picture request: the command used to exit 0 with
// "Stored N new news items".
TEST_F(DownloadThroughService, AKilledEngineEndsTheCommandWithWhatWasStored) {
  net_.hangImage = true;  // story 2's second picture never comes
  Command cmd = Download();
  ASSERT_TRUE(WaitUntil([&] { return CountItems(db_) >= 1 && bus_.OwnerPid(kGatherer) > 0; }, 60000)) << cmd.Said();
  ASSERT_EQ(::kill(bus_.OwnerPid(kGatherer), SIGKILL), 0);
  EXPECT_EQ(cmd.Wait(30000), 4) << cmd.Said();
  EXPECT_NE(cmd.err.find("the gathering engine was lost before the end of the download"), std::string::npos)
      << cmd.Said();
  const int64_t stored = CountItems(db_);
  EXPECT_NE(cmd.err.find(std::to_string(stored) + (stored == 1 ? " new news item with" : " new news items with")),
            std::string::npos)
      << cmd.Said();
  EXPECT_EQ(cmd.out.find("Stored "), std::string::npos) << cmd.Said();
  EXPECT_NE(Log().find("Gatherer ended without completing its run"), std::string::npos);
  net_.hangImage = false;
}

// A stopped engine used to keep its bus name, so the next download waited
// 25 s for it and then blamed the registration.
TEST_F(DownloadThroughService, AStalledEngineIsEndedAndTheNextDownloadGetsAFreshOne) {
  Settings(bus_.orvoHome() + "/ORVO.ini").WriteInt(kDownloadSection, "StallTimeout", 3);
  net_.stallCatalogue = true;
  Command first = Download();
  ASSERT_TRUE(WaitUntil([&] { return RunnerStatus(bus_) == 1 && bus_.OwnerPid(kGatherer) > 0; }, 30000));
  const pid_t engine = bus_.OwnerPid(kGatherer);
  ASSERT_GT(engine, 0);
  ASSERT_EQ(::kill(engine, SIGSTOP), 0);
  EXPECT_EQ(first.Wait(60000), 4) << first.Said();
  EXPECT_NE(first.out.find("Gatherer has not answered for 3 seconds"), std::string::npos) << first.Said();
  EXPECT_NE(first.err.find("No new news item was stored before"), std::string::npos) << first.Said();
  // Ended by the service, without anyone sending SIGCONT.
  EXPECT_TRUE(WaitUntil([&] { return !testing::ProcessRunning(engine); }, 15000));
  EXPECT_NE(Log().find("Gatherer (process " + std::to_string(engine) + ") was asked to end (SIGTERM)."),
            std::string::npos)
      << Log();

  net_.stallCatalogue = false;
  Settings(bus_.orvoHome() + "/ORVO.ini").RemoveKey(kDownloadSection, "StallTimeout");
  Command second = Download();
  EXPECT_EQ(second.Wait(90000), 0) << second.Said();
  EXPECT_NE(second.out.find("Stored "), std::string::npos) << second.Said();
  EXPECT_GT(CountItems(db_), 0);
}

// The second command joins the first one's run; its Ctrl+C used to stop it,
// and each client printed "Download is stopped." dozens of times.
TEST_F(DownloadThroughService, ACommandThatJoinedARunLeavesItRunningOnCtrlC) {
  net_.stallCatalogue = true;
  Command starter = Download();
  ASSERT_TRUE(WaitUntil([&] { return RunnerStatus(bus_) == 1 && bus_.OwnerPid(kGatherer) > 0; }, 30000));
  Command joiner = Download();
  ASSERT_TRUE(WaitUntil([&] { return RunnerStatus(bus_) == 1 && joiner.process->state() == QProcess::Running; }, 10000));
  testing::Pump(1500);  // the joiner is following the run
  ASSERT_EQ(::kill(static_cast<pid_t>(joiner.process->processId()), SIGINT), 0);
  EXPECT_EQ(joiner.Wait(15000), 130) << joiner.Said();
  EXPECT_NE(joiner.err.find("stopped following the download"), std::string::npos) << joiner.Said();
  testing::Pump(1000);
  EXPECT_EQ(RunnerStatus(bus_), 1) << "the run someone else started must go on";
  EXPECT_EQ(starter.process->state(), QProcess::Running) << starter.Said();

  ASSERT_EQ(::kill(static_cast<pid_t>(starter.process->processId()), SIGINT), 0);
  EXPECT_EQ(starter.Wait(15000), 130) << starter.Said();
  EXPECT_EQ(RunnerStatus(bus_), 0);
  size_t stops = 0;
  for (size_t at = starter.out.find("Download is stopped."); at != std::string::npos;
       at = starter.out.find("Download is stopped.", at + 1))
    ++stops;
  EXPECT_EQ(stops, 1u) << starter.Said();
}

// Pages that gave no item and a pair the catalogue withdrew used to end in
// "No new news items: everything the selected sites list is already stored."
TEST_F(DownloadThroughService, PagesWithoutAnItemAndWithdrawnPairsAreToldAsFailures) {
  Settings(bus_.orvoHome() + "/ORVO.ini").WriteInt(kDownloadSection, "AutoExtract", 0);
  net_.bareArticlesB = true;
  Command first = Download();
  EXPECT_EQ(first.Wait(90000), 0) << first.Said();
  EXPECT_NE(first.out.find("Not everything came: 2 news pages gave no news item."), std::string::npos)
      << first.Said();
  EXPECT_NE(first.out.find("Can not find the news item on the page [" + net_.ArticleB(1) + "]"), std::string::npos)
      << first.Said();

  // Site A's stories are stored; site B leaves the catalogue.
  net_.onlySiteA = true;
  Command second = Download();
  EXPECT_EQ(second.Wait(90000), 0) << second.Said();
  EXPECT_EQ(second.out.find("everything the selected sites list is already stored"), std::string::npos)
      << second.Said();
  EXPECT_NE(second.out.find("No new news items were stored; 1 selected site/category pair was not visited "
                            "(withdrawn from the updates server's catalogue)."),
            std::string::npos)
      << second.Said();
  EXPECT_NE(second.out.find("Can not visit Site B / "), std::string::npos) << second.Said();
}

// 2147484 s are more milliseconds than an int holds: the watchdogs were off.
TEST(DownloadThroughServiceSettings, AHugePageTimeOutIsClampedNotOverflowed) {
  PrivateBus bus({"Timekeeper"});  // no engine: the run ends at once
  ASSERT_TRUE(bus.ok()) << bus.error();
  std::filesystem::create_directories(bus.orvoHome());
  NewsNetwork net;
  testing::PrepareNewsFolder(bus.orvoHome(), net, 2147484);
  PrivateBus::Result r = bus.Run("orvo", {"download", "--no-check"}, 30000);
  EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
  EXPECT_EQ(r.err.find("Timers cannot have negative intervals"), std::string::npos) << r.err;
  EXPECT_NE(ReadFile(bus.orvoHome() + "/orvo_log.txt").find("ConnectTimeout 2147484 is out of range"),
            std::string::npos);
}

}  // namespace
}  // namespace orvo

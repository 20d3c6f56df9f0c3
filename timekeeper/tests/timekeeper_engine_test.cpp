// Timekeeper driving the real gathering engine on a private bus, against the
// local news network of the engine's tests (updates server and news sites on
// 127.0.0.1).
#include <signal.h>

#include <QDBusPendingReply>
#include <filesystem>

#include <gtest/gtest.h>

#include "busharness.h"
#include "database.h"
#include "news_sites.h"
#include "settings.h"
#include "test_support.h"
#include "timekeeper_interface.h"

namespace orvo {
namespace {

using testing::NewsNetwork;
using testing::PrivateBus;
using testing::Pump;
using testing::ReadFile;
using testing::SignalLog;
using testing::WaitUntil;

const QString kRunner = QStringLiteral("org.orvo.OrvoRunner");
const QString kGatherer = QStringLiteral("org.orvo.Gatherer2");

struct Client {
  explicit Client(PrivateBus& bus)
      : connection(bus.Connect("reader")),
        runner(kRunner, QStringLiteral("/OrvoRunner"), connection),
        events(connection, kRunner, QStringLiteral("/OrvoRunner"), QStringLiteral("org.orvo._IOrvoRunnerEvents")) {}

  int Status() {
    QDBusPendingReply<int> reply = runner.GetStatus();
    reply.waitForFinished();
    return reply.isError() ? -1 : reply.value();
  }
  int Complites() const { return events.Members().count(QStringLiteral("Complite")); }
  bool Saw(const QString& text, int from) const {
    for (const auto& e : events.entries())
      if (e.member == QLatin1String("OnProcessStatus") && e.args.value(0).toString() == text &&
          e.args.value(1).toInt() == from)
        return true;
    return false;
  }
  std::string Describe() const {
    std::string out;
    for (const auto& e : events.entries()) {
      out += e.member.toStdString();
      for (const auto& a : e.args) out += " [" + a.toString().toStdString() + "]";
      out += "\n";
    }
    return out;
  }

  QDBusConnection connection;
  org::orvo::IOrvoRunner runner;
  SignalLog events;
};

int64_t CountItems(const std::string& dbPath) {
  std::unique_ptr<Database> db;
  if (Database::Open(dbPath, Database::Mode::kExisting, &db) != 0) return -1;
  Statement st(*db, "SELECT count(*) FROM newsitem");
  return st.Next() ? st.Int(0) : -1;
}

TEST(TimekeeperWithGatherer, StartRunsADownloadAndRelaysItsStatuses) {
  NewsNetwork net;
  PrivateBus bus({"Timekeeper", "Gatherer"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  std::filesystem::create_directories(bus.orvoHome());
  const std::string db = testing::PrepareNewsFolder(bus.orvoHome(), net, 10);

  Client client(bus);
  client.runner.Start().waitForFinished();
  ASSERT_TRUE(WaitUntil([&] { return client.Complites() == 1; }, 90000)) << client.Describe() << bus.DaemonLog();
  const auto& last = client.events.entries().back();
  EXPECT_EQ(last.member, QStringLiteral("Complite"));
  EXPECT_EQ(last.args, QVariantList({1}));
  EXPECT_TRUE(client.Saw(QStringLiteral("Checking for updates..."), 0)) << client.Describe();
  EXPECT_TRUE(client.Saw(QStringLiteral("Download completed."), 0)) << client.Describe();
  EXPECT_GT(CountItems(db), 0);
  EXPECT_EQ(client.Status(), 0);
  // The engine was released: its server leaves once it has no object.
  EXPECT_TRUE(WaitUntil([&] { return !bus.HasOwner(kGatherer); }, 20000));
}

TEST(TimekeeperWithGatherer, StartDuringARunDoesNothingAndStopEndsIt) {
  NewsNetwork net;
  net.stallCatalogue = true;  // the run waits on the updates server
  PrivateBus bus({"Timekeeper", "Gatherer"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  std::filesystem::create_directories(bus.orvoHome());
  testing::PrepareNewsFolder(bus.orvoHome(), net, 120);

  Client client(bus);
  client.runner.Start().waitForFinished();
  ASSERT_TRUE(WaitUntil([&] { return client.Saw(QStringLiteral("Checking for updates..."), 0); }, 30000))
      << client.Describe();
  EXPECT_EQ(client.Status(), 1);
  const pid_t engine = bus.OwnerPid(kGatherer);
  client.runner.Start().waitForFinished();
  Pump(1000);
  EXPECT_EQ(client.Status(), 1);
  EXPECT_EQ(client.Complites(), 0);
  EXPECT_EQ(bus.OwnerPid(kGatherer), engine) << "a second Start must not start another engine";

  const size_t before = client.events.entries().size();
  client.runner.Stop().waitForFinished();
  ASSERT_TRUE(client.events.WaitForCount(before + 2, 10000)) << client.Describe();
  const auto& entries = client.events.entries();
  EXPECT_EQ(entries[before].member, QStringLiteral("Complite"));
  EXPECT_EQ(entries[before].args, QVariantList({1}));
  EXPECT_EQ(entries[before + 1].args, QVariantList({QStringLiteral("Download is stopped."), 50, -1}));
  EXPECT_EQ(client.Status(), 0);
  Pump(500);
  EXPECT_EQ(client.Complites(), 1) << "nothing more after the stop\n" << client.Describe();
}

TEST(TimekeeperWithGatherer, EngineThatDiesMidRunEndsTheRun) {
  NewsNetwork net;
  net.stallCatalogue = true;
  PrivateBus bus({"Timekeeper", "Gatherer"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  std::filesystem::create_directories(bus.orvoHome());
  testing::PrepareNewsFolder(bus.orvoHome(), net, 120);

  Client client(bus);
  client.runner.Start().waitForFinished();
  ASSERT_TRUE(WaitUntil([&] { return client.Status() == 1 && bus.OwnerPid(kGatherer) > 0; }, 30000));
  ::kill(bus.OwnerPid(kGatherer), SIGKILL);
  ASSERT_TRUE(WaitUntil([&] { return client.Complites() == 1; }, 15000)) << client.Describe();
  EXPECT_EQ(client.events.entries().back().args, QVariantList({2})) << "interrupted, not completed";
  EXPECT_EQ(client.Status(), 0);
  EXPECT_NE(ReadFile(bus.orvoHome() + "/orvo_log.txt").find("Gatherer ended without completing its run"),
            std::string::npos);
}

TEST(TimekeeperWithGatherer, EngineThatStopsAnsweringIsEndedAndReleased) {
  NewsNetwork net;
  net.stallCatalogue = true;  // a long wait, but the engine answers meanwhile
  PrivateBus bus({"Timekeeper", "Gatherer"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  std::filesystem::create_directories(bus.orvoHome());
  testing::PrepareNewsFolder(bus.orvoHome(), net, 120);
  Settings(bus.orvoHome() + "/ORVO.ini").WriteInt(kDownloadSection, "StallTimeout", 3);

  Client client(bus);
  client.runner.Start().waitForFinished();
  ASSERT_TRUE(WaitUntil([&] { return client.Saw(QStringLiteral("Checking for updates..."), 0); }, 30000))
      << client.Describe();
  const pid_t engine = bus.OwnerPid(kGatherer);
  ASSERT_GT(engine, 0);
  Pump(7000);  // silent for more than twice the bound, yet answering
  EXPECT_EQ(client.Complites(), 0) << client.Describe();
  EXPECT_EQ(client.Status(), 1);

  ASSERT_EQ(::kill(engine, SIGSTOP), 0);
  const bool ended = WaitUntil([&] { return client.Complites() == 1; }, 30000);
  ::kill(engine, SIGCONT);
  ASSERT_TRUE(ended) << client.Describe();
  const auto& entries = client.events.entries();
  ASSERT_GE(entries.size(), 2u);
  const auto& said = entries[entries.size() - 2];
  EXPECT_TRUE(said.args.value(0).toString().startsWith("Gatherer has not answered for 3 seconds")) << client.Describe();
  EXPECT_EQ(said.args.value(1).toInt(), 50);
  EXPECT_EQ(entries.back().args, QVariantList({2}));
  EXPECT_EQ(client.Status(), 0);
  EXPECT_NE(ReadFile(bus.orvoHome() + "/orvo_log.txt").find("Gatherer has not answered"), std::string::npos);
  // Released: once it runs again it finds its object gone and leaves.
  EXPECT_TRUE(WaitUntil([&] { return !bus.HasOwner(kGatherer); }, 20000));
}

}  // namespace
}  // namespace orvo

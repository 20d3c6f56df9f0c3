// The Gatherer program on a private bus, driven as the scheduling service
// drives it, against the local news network.
#include <gtest/gtest.h>

#include <QDBusPendingReply>

#include <filesystem>

#include "busframe.h"
#include "busharness.h"
#include "database.h"
#include "gatherer_interface.h"
#include "news_sites.h"

namespace orvo {
namespace {

using testing::NewsNetwork;
using testing::NewsNetworkOptions;
using testing::PrivateBus;
using testing::Pump;
using testing::SignalLog;
using testing::WaitUntil;

const QString kGatherer = QStringLiteral("org.orvo.Gatherer2");
const QString kEvents = QStringLiteral("org.orvo._IGatherer2Events");

int64_t CountItems(const std::string& dbPath) {
  std::unique_ptr<Database> db;
  if (Database::Open(dbPath, Database::Mode::kExisting, &db) != 0) return -1;
  Statement st(*db, "SELECT count(*) FROM newsitem");
  return st.Next() ? st.Int(0) : -1;
}

bool HasStatus(const SignalLog& log, const QString& text) {
  for (const auto& e : log.entries())
    if (e.member == QLatin1String("OnProcessStatus") && e.args.value(0).toString() == text) return true;
  return false;
}

int CompliteCount(const SignalLog& log) { return log.Members().count(QStringLiteral("Complite")); }

TEST(GathererOnTheBus, ADownloadStoresTheNewsAndEndsWithComplite) {
  NewsNetwork net;
  PrivateBus bus({"Gatherer"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  std::filesystem::create_directories(bus.orvoHome());
  const std::string dbPath = testing::PrepareNewsFolder(bus.orvoHome(), net, 10);

  QDBusConnection client = bus.Connect("client");
  QString error;
  const QString path = CreateBusObject(client, kGatherer, &error).path();
  ASSERT_FALSE(path.isEmpty()) << error.toStdString();
  SignalLog events(client, kGatherer, path, kEvents);
  org::orvo::IGatherer2 gatherer(kGatherer, path, client);
  QDBusPendingReply<> reply = gatherer.StartProcess();
  reply.waitForFinished();
  ASSERT_FALSE(reply.isError()) << reply.error().message().toStdString();

  ASSERT_TRUE(WaitUntil([&] { return CompliteCount(events) == 1; }, 60000)) << bus.DaemonLog();
  EXPECT_EQ(events.entries().back().args, QVariantList({1}));
  EXPECT_TRUE(HasStatus(events, QStringLiteral("Checking for updates...")));
  EXPECT_TRUE(HasStatus(events, QStringLiteral("Download completed.")));
  for (const auto& e : events.entries()) {
    if (e.member == QLatin1String("OnProcessStatus")) {
      EXPECT_EQ(e.args.value(1).toInt(), -1);
    }
  }
  EXPECT_EQ(CountItems(dbPath), 5);
}

TEST(GathererOnTheBus, StopEndsTheRunSilentlyAndALaterStartWorks) {
  NewsNetworkOptions o;
  o.articlesA = 0;
  o.articlesB = 1;
  o.withStalled = true;
  NewsNetwork net(o);
  PrivateBus bus({"Gatherer"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  std::filesystem::create_directories(bus.orvoHome());
  const std::string dbPath = testing::PrepareNewsFolder(bus.orvoHome(), net, 3);

  QDBusConnection client = bus.Connect("client");
  QString error;
  const QString path = CreateBusObject(client, kGatherer, &error).path();
  ASSERT_FALSE(path.isEmpty()) << error.toStdString();
  SignalLog events(client, kGatherer, path, kEvents);
  org::orvo::IGatherer2 gatherer(kGatherer, path, client);
  gatherer.StartProcess().waitForFinished();
  const QString waiting = QStringLiteral("Site: [Site A], Category: [News] <News: 1 from 2> URL: [%1]")
                              .arg(QString::fromStdString(net.Url("/a/stalled.html")));
  ASSERT_TRUE(WaitUntil([&] { return HasStatus(events, waiting); }, 30000));
  gatherer.Stop().waitForFinished();
  Pump(4000);  // longer than the page time-out: a live run would have moved on
  EXPECT_EQ(CompliteCount(events), 0);
  EXPECT_FALSE(HasStatus(events, QStringLiteral("Download completed.")));

  gatherer.StartProcess().waitForFinished();
  ASSERT_TRUE(WaitUntil([&] { return CompliteCount(events) == 1; }, 60000));
  EXPECT_EQ(events.entries().back().args, QVariantList({1}));
  // The last story of site A and the windows-1251 story.
  EXPECT_EQ(CountItems(dbPath), 2);
}

// Two clients of one engine: the run and its events belong to the client
// that started it; the other is refused at once and cannot stop that run.
TEST(GathererOnTheBus, ASecondClientIsRefusedAndNeverStealsOrStopsTheRun) {
  NewsNetworkOptions o;
  o.articlesB = 0;
  o.withStalled = true;  // the run waits on it for the page time-out
  NewsNetwork net(o);
  PrivateBus bus({"Gatherer"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  std::filesystem::create_directories(bus.orvoHome());
  testing::PrepareNewsFolder(bus.orvoHome(), net, 3);

  QDBusConnection first = bus.Connect("first");
  QDBusConnection second = bus.Connect("second");
  QString error;
  const QString pathA = CreateBusObject(first, kGatherer, &error).path();
  ASSERT_FALSE(pathA.isEmpty()) << error.toStdString();
  const QString pathB = CreateBusObject(second, kGatherer, &error).path();
  ASSERT_FALSE(pathB.isEmpty()) << error.toStdString();
  SignalLog eventsA(first, kGatherer, pathA, kEvents);
  SignalLog eventsB(second, kGatherer, pathB, kEvents);
  org::orvo::IGatherer2 a(kGatherer, pathA, first);
  org::orvo::IGatherer2 b(kGatherer, pathB, second);

  QDBusPendingReply<> startA = a.StartProcess();
  startA.waitForFinished();
  ASSERT_FALSE(startA.isError()) << startA.error().message().toStdString();
  QDBusPendingReply<> startB = b.StartProcess();
  startB.waitForFinished();
  ASSERT_TRUE(startB.isError());
  EXPECT_EQ(startB.error().name(), QStringLiteral("org.orvo.Error.Busy"));

  const QString waiting = QStringLiteral("Site: [Site A], Category: [News] <News: 4 from 5> URL: [%1]")
                              .arg(QString::fromStdString(net.Url("/a/stalled.html")));
  ASSERT_TRUE(WaitUntil([&] { return HasStatus(eventsA, waiting); }, 30000));
  QDBusPendingReply<> stopB = b.Stop();
  stopB.waitForFinished();
  EXPECT_EQ(stopB.error().name(), QStringLiteral("org.orvo.Error.NotYourRun"));

  ASSERT_TRUE(WaitUntil([&] { return CompliteCount(eventsA) == 1; }, 60000)) << bus.DaemonLog();
  EXPECT_EQ(eventsA.entries().back().args, QVariantList({1}));
  EXPECT_TRUE(HasStatus(eventsA, QStringLiteral("Download completed.")));
  Pump(300);
  EXPECT_TRUE(eventsB.entries().empty());

  // Once that run is over the second client starts its own and hears it.
  startB = b.StartProcess();
  startB.waitForFinished();
  ASSERT_FALSE(startB.isError()) << startB.error().message().toStdString();
  ASSERT_TRUE(WaitUntil([&] { return CompliteCount(eventsB) == 1; }, 60000));
  EXPECT_EQ(CompliteCount(eventsA), 1);
}

}  // namespace
}  // namespace orvo

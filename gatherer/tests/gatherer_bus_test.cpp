// The Gatherer program on a private bus, driven as the scheduling service
// drives it, against the local news network.
#include <gtest/gtest.h>

#include <QDBusPendingReply>

#include <signal.h>

#include <filesystem>
#include <regex>
#include <set>

#include "busframe.h"
#include "busharness.h"
#include "database.h"
#include "fixture_server.h"
#include "gatherer_interface.h"
#include "news_sites.h"
#include "settings.h"
#include "test_support.h"

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

// Every placeholder of every item has its row and its file, and every file
// in Images/ has its row; what breaks the rule, in words.
std::vector<std::string> PictureFaults(const std::string& dbPath, const std::string& images) {
  std::vector<std::string> faults;
  std::unique_ptr<Database> db;
  if (Database::Open(dbPath, Database::Mode::kExisting, &db) != 0) return {"no database"};
  std::set<std::string> named;
  Statement items(*db, "SELECT id, body FROM newsitem");
  const std::regex placeholder(R"(\[\[\{(\d+)\}\]\])");
  while (items.Next()) {
    const std::string body = items.Text(1);
    for (std::sregex_iterator m(body.begin(), body.end(), placeholder), end; m != end; ++m) {
      Statement row(*db, "SELECT image_path FROM newsimages WHERE fk_newsitem = ? AND bodypos = ?");
      row.Bind(1, items.Int(0)).Bind(2, static_cast<int64_t>(std::stoll((*m)[1])));
      const std::string where = "item " + std::to_string(items.Int(0)) + " picture " + (*m)[1].str();
      if (!row.Next()) {
        faults.push_back(where + ": no row");
      } else if (!std::filesystem::exists(row.Text(0))) {
        faults.push_back(where + ": no file " + row.Text(0));
      }
    }
  }
  Statement rows(*db, "SELECT image_path FROM newsimages");
  while (rows.Next()) named.insert(rows.Text(0));
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(images, ec))
    if (!named.count(e.path().string())) faults.push_back("file without row: " + e.path().string());
  return faults;
}

TEST(GathererOnTheBus, AnEngineKilledInItsImagePassLosesNoPictures) {
  NewsNetwork net;
  net.hangImage = true;  // story 2's second picture takes its request and waits
  PrivateBus bus({"Gatherer"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  std::filesystem::create_directories(bus.orvoHome());
  const std::string dbPath = testing::PrepareNewsFolder(bus.orvoHome(), net, 30);
  const std::string images = bus.orvoHome() + "/Images";

  QDBusConnection client = bus.Connect("client");
  QString error;
  QString path = CreateBusObject(client, kGatherer, &error).path();
  ASSERT_FALSE(path.isEmpty()) << error.toStdString();
  org::orvo::IGatherer2 first(kGatherer, path, client);
  first.StartProcess().waitForFinished();
  // The fixture counts a request once answered: the engine's log tells it is asked.
  const std::string asked = "Download Image " + net.Url("/a/img/2_1.png");
  ASSERT_TRUE(WaitUntil(
      [&] { return testing::ReadFile(bus.orvoHome() + "/orvo_log.txt").find(asked) != std::string::npos; }, 60000))
      << bus.DaemonLog();
  Pump(300);  // well inside the request
  const pid_t engine = bus.OwnerPid(kGatherer);
  ASSERT_GT(engine, 0);
  ASSERT_EQ(::kill(engine, SIGKILL), 0);
  ASSERT_TRUE(WaitUntil([&] { return !bus.HasOwner(kGatherer); }, 10000));
  net.hangImage = false;

  // The next run: a new engine started by the bus.
  path = CreateBusObject(client, kGatherer, &error).path();
  ASSERT_FALSE(path.isEmpty()) << error.toStdString();
  SignalLog events(client, kGatherer, path, kEvents);
  org::orvo::IGatherer2 second(kGatherer, path, client);
  second.StartProcess().waitForFinished();
  ASSERT_TRUE(WaitUntil([&] { return CompliteCount(events) == 1; }, 60000)) << bus.DaemonLog();
  EXPECT_EQ(events.entries().back().args, QVariantList({1}));
  EXPECT_EQ(CountItems(dbPath), 5);
  EXPECT_EQ(PictureFaults(dbPath, images), std::vector<std::string>{});
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(images)) files += e.is_regular_file();
  EXPECT_EQ(files, 6u);  // two for each of site A's three stories
}

TEST(GathererOnTheBus, TheEngineAnswersCallsWhileTheCatalogueUpdateWaits) {
  NewsNetwork net;
  net.hangMasks = true;
  PrivateBus bus({"Gatherer"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  std::filesystem::create_directories(bus.orvoHome());
  const std::string dbPath = testing::PrepareNewsFolder(bus.orvoHome(), net, 30);

  QDBusConnection client = bus.Connect("client");
  QString error;
  const QString path = CreateBusObject(client, kGatherer, &error).path();
  ASSERT_FALSE(path.isEmpty()) << error.toStdString();
  SignalLog events(client, kGatherer, path, kEvents);
  org::orvo::IGatherer2 gatherer(kGatherer, path, client);
  gatherer.StartProcess().waitForFinished();
  ASSERT_TRUE(WaitUntil([&] { return HasStatus(events, "Updates for: Site [Site A], Category [News]."); }, 30000));
  Pump(300);  // the mask request is in the server's hands now

  // A call the engine's main thread answers (a start while a run goes on is
  // refused at once), well inside the bus's own time-out.
  QDBusMessage start = QDBusMessage::createMethodCall(kGatherer, path, "org.orvo.IGatherer2", "StartProcess");
  QDBusMessage reply = client.call(start, QDBus::Block, 5000);
  EXPECT_EQ(reply.errorName(), QStringLiteral("org.orvo.Error.Busy")) << reply.errorMessage().toStdString();
  EXPECT_EQ(CompliteCount(events), 0);

  net.hangMasks = false;
  ASSERT_TRUE(WaitUntil([&] { return CompliteCount(events) == 1; }, 60000)) << bus.DaemonLog();
  EXPECT_EQ(CountItems(dbPath), 5);
}

// Without an updates server, only the user's own sites: their feeds through
// the bus-activated program, and nothing asked of any catalogue.
TEST(GathererOnTheBus, OwnSitesAloneAreDownloadedWithoutAnUpdatesServer) {
  testing::FixtureServer site;
  site.server().Get("/feed.xml", [&site](const httplib::Request&, httplib::Response& res) {
    std::string items;
    for (int n = 1; n <= 3; ++n)
      items += "<entry><title>Entry " + std::to_string(n) + "</title><link href='" +
               site.Url("/p/" + std::to_string(n) + ".html") + "'/><updated>2024-05-0" + std::to_string(n) +
               "T10:00:00Z</updated></entry>";
    res.set_content(
        "<?xml version='1.0'?><feed xmlns='http://www.w3.org/2005/Atom'><title>Own</title>" + items + "</feed>",
        "application/atom+xml");
  });
  site.server().Get(R"(/p/(\d)\.html)", [](const httplib::Request& req, httplib::Response& res) {
    std::string p;
    for (int k = 0; k < 4; ++k)
      p += "<p>Sentence " + std::to_string(k) + " of page " + req.matches[1].str() +
           ", long enough, with commas, to read as the text of a real article.</p>";
    res.set_content("<html><body><article><h1>Page</h1>" + p + "</article></body></html>", "text/html");
  });
  site.Start();
  PrivateBus bus({"Gatherer"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  std::filesystem::create_directories(bus.orvoHome());
  const std::string dbPath = bus.orvoHome() + "/news.db";
  {
    std::unique_ptr<Database> db;
    ASSERT_EQ(Database::Open(dbPath, Database::Mode::kCreate, &db), 0);
    Statement st(*db, "INSERT INTO own_site (fk_site_cat_rel, address, added) VALUES (1, ?, '2024-05-01 00:00:00')");
    ASSERT_EQ(
        db->Exec("INSERT INTO news_config (site_name) VALUES ('Own'); INSERT INTO news_cat (name) VALUES "
                 "('News'); INSERT INTO site_cat_rel (is_selected, fk_news_cat, fk_news_config) VALUES (1, 1, 1);"),
        0);
    ASSERT_EQ(st.Bind(1, site.Url("/feed.xml")).Execute(), 0);
  }
  Settings settings(bus.orvoHome() + "/ORVO.ini");
  settings.WriteText(kSystemSection, "PathDB", dbPath);
  settings.WriteText(kSystemSection, "DownloadURL", "");
  settings.WriteInt(kDownloadSection, "ConnectTimeout", 10);

  QDBusConnection client = bus.Connect("client");
  QString error;
  const QString path = CreateBusObject(client, kGatherer, &error).path();
  ASSERT_FALSE(path.isEmpty()) << error.toStdString();
  SignalLog events(client, kGatherer, path, kEvents);
  org::orvo::IGatherer2 gatherer(kGatherer, path, client);
  gatherer.StartProcess().waitForFinished();
  ASSERT_TRUE(WaitUntil([&] { return CompliteCount(events) == 1; }, 60000)) << bus.DaemonLog();
  EXPECT_EQ(events.entries().back().args, QVariantList({1}));
  EXPECT_TRUE(HasStatus(events, QStringLiteral("No updates server is set; only your own sites are downloaded.")));
  EXPECT_FALSE(HasStatus(events, QStringLiteral("Checking for updates...")));
  EXPECT_TRUE(HasStatus(events, QStringLiteral("Download completed.")));
  EXPECT_EQ(CountItems(dbPath), 3);
  EXPECT_EQ(site.CountRequests("GET /feed.xml"), 1);
}

}  // namespace
}  // namespace orvo

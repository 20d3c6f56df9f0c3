#include "run.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include <filesystem>
#include <mutex>

#include "engine_home.h"
#include "fixture_server.h"
#include "http_client.h"
#include "http_setup.h"
#include "news_sites.h"
#include "store/tests/old_search_index.h"

namespace orvo {
namespace {

using testing::EngineHome;
using testing::NewsNetwork;
using testing::NewsNetworkOptions;
using testing::PrepareNewsHome;

// Runs the engine and records what it raises.
class Recorder {
 public:
  explicit Recorder(GathererEngine& engine) : engine_(engine) {
    QObject::connect(&engine, &GathererEngine::OnProcessStatus,
                     [this](const QString& s, int id) {
                       statuses.push_back(s.toStdString());
                       ids.push_back(id);
                     });
    QObject::connect(&engine, &GathererEngine::Complite, [this](int status) { complites.push_back(status); });
  }
  // Starts a run and waits for its Complite; false on time-out.
  bool Run(int seconds = 60) {
    size_t before = complites.size();
    engine_.StartProcess();
    for (int i = 0; i < seconds * 20 && complites.size() == before; ++i) QTest::qWait(50);
    return complites.size() > before;
  }
  bool Saw(const std::string& text) const {
    return std::find(statuses.begin(), statuses.end(), text) != statuses.end();
  }
  bool SawPrefix(const std::string& prefix) const {
    for (const auto& s : statuses)
      if (s.rfind(prefix, 0) == 0) return true;
    return false;
  }

  std::vector<std::string> statuses;
  std::vector<int> ids;
  std::vector<int> complites;

 private:
  GathererEngine& engine_;
};

int64_t Items(EngineHome& home) { return home.Count("SELECT count(*) FROM newsitem"); }

// The stored addresses in the order they were stored, each followed by a space.
std::string StoredOrder(EngineHome& home) {
  std::string order;
  Statement st(home.db(), "SELECT src_url FROM newsitem ORDER BY id");
  while (st.Next()) order += st.Text(0) + " ";
  return order;
}

TEST(GatheringRunTest, AWholeRunStoresEveryItemOnceWithImagesAndASecondRunNothing) {
  EngineHome home;
  NewsNetwork net;
  PrepareNewsHome(home, net, 10);
  GathererEngine engine;
  Recorder rec(engine);
  ASSERT_TRUE(rec.Run());
  EXPECT_EQ(rec.complites, std::vector<int>{1});
  EXPECT_EQ(rec.statuses.back(), "Download completed.");
  EXPECT_TRUE(std::all_of(rec.ids.begin(), rec.ids.end(), [](int id) { return id == -1; }));
  EXPECT_TRUE(rec.Saw("Checking for updates..."));
  EXPECT_TRUE(rec.Saw("Updates for: Site [Site A], Category [News]."));
  EXPECT_TRUE(rec.Saw("Updating news database"));
  EXPECT_TRUE(rec.Saw("Site: [Site A], Category: [News] <News searching...> URL: [" + net.Url("/a/list.html") + "]"));
  EXPECT_TRUE(rec.Saw("Site: [Site A], Category: [News] <News: 2 from 3> URL: [" + net.ArticleA(2) + "]"));

  EXPECT_EQ(Items(home), 5);
  EXPECT_EQ(home.Count("SELECT count(DISTINCT src_url) FROM newsitem"), 5);
  EXPECT_EQ(home.Text("SELECT title || '|' || author || '|' || publication_date FROM newsitem WHERE src_url = '" +
                      net.ArticleA(2) + "'"),
            "Title 2|Author 2|2023-12-03 14:05:00");
  EXPECT_EQ(home.Text("SELECT body FROM newsitem WHERE src_url = '" + net.ArticleA(1) + "'"),
            "<br />&#160;&#160;&#160;&#160;First paragraph of story 1.<br />&#160;&#160;&#160;&#160;"
            "Second paragraph.[[{0}]][[{1}]]");
  // Six images for site A's three stories, each in its numbered file.
  EXPECT_EQ(home.Count("SELECT count(*) FROM newsimages"), 6);
  Statement st(home.db(), "SELECT fk_newsitem, bodypos, image_path FROM newsimages ORDER BY id");
  while (st.Next()) {
    std::string path = st.Text(2);
    EXPECT_EQ(path, home.dir() + "/Images/" + std::to_string(st.Int(0)) + "_" + std::to_string(st.Int(1)));
    EXPECT_EQ(testing::ReadFile(path).substr(0, 4), "PNG:");
  }
  // The windows-1251 site arrives as UTF-8.
  EXPECT_EQ(home.Text("SELECT title FROM newsitem WHERE src_url = '" + net.ArticleB(2) + "'"), NewsNetwork::TitleB(2));
  EXPECT_NE(home.Log().find("Start download site: " + net.ArticleB(1)), std::string::npos);

  // Second run of the same process: nothing new, no news page asked again.
  const int articleRequests = net.fixture().CountRequests("GET /a/1.html");
  ASSERT_TRUE(rec.Run());
  EXPECT_EQ(rec.complites, (std::vector<int>{1, 1}));
  EXPECT_EQ(Items(home), 5);
  EXPECT_EQ(net.fixture().CountRequests("GET /a/1.html"), articleRequests);
  EXPECT_EQ(net.fixture().CountRequests("GET /a/list.html"), 2);
  EXPECT_EQ(net.fixture().CountRequests("GET /upd/end.asp"), 2);
}

// A list of 100,000 links queued as many pages, and 50,000 pictures of one
// page as many downloads.
TEST(GatheringRunTest, LinksPerListAndPicturesPerItemAreCappedAndTheRestLogged) {
  EngineHome home;
  NewsNetworkOptions options;
  options.articlesA = 12;
  options.imagesPerArticle = 6;
  NewsNetwork net(options);
  PrepareNewsHome(home, net, 10);
  home.settings().WriteInt(kDownloadSection, "MaxLinksPerList", 5);
  home.settings().WriteInt(kDownloadSection, "MaxImagesPerItem", 2);
  GathererEngine engine;
  Recorder rec(engine);
  ASSERT_TRUE(rec.Run());
  EXPECT_EQ(home.Count("SELECT count(*) FROM newsitem WHERE src_url LIKE '%/a/%'"), 5);
  EXPECT_EQ(home.Count("SELECT count(*) FROM newsimages"), 10);
  EXPECT_EQ(net.fixture().CountRequests("GET /a/img/1_2.png"), 0);
  EXPECT_NE(home.Log().find("7 of 12 new links of the list page [" + net.Url("/a/list.html") +
                            "] are left for a later download: beyond MaxLinksPerList (5)."),
            std::string::npos)
      << home.Log();
  EXPECT_NE(home.Log().find("4 pictures of [" + net.ArticleA(1) + "] are not fetched: beyond MaxImagesPerItem (2)."),
            std::string::npos);
  // The next download takes the next ones.
  ASSERT_TRUE(rec.Run());
  EXPECT_EQ(home.Count("SELECT count(*) FROM newsitem WHERE src_url LIKE '%/a/%'"), 10);
}

TEST(GatheringRunTest, FailingPagesAreSkippedWithTheirCodeOrTimeout) {
  EngineHome home;
  NewsNetworkOptions o;
  o.articlesA = 1;
  o.articlesB = 0;
  o.with404 = true;
  o.withStalled = true;
  NewsNetwork net(o);
  PrepareNewsHome(home, net, 2);
  GathererEngine engine;
  engine.SetHeartbeatMs(500);
  Recorder rec(engine);
  ASSERT_TRUE(rec.Run());
  EXPECT_EQ(rec.complites, std::vector<int>{1});
  // The wait for the page that never completes is told while it lasts.
  EXPECT_TRUE(rec.SawPrefix("Still waiting for the page [" + net.Url("/a/stalled.html") + "] ("));
  const std::string log = home.Log();
  EXPECT_NE(log.find("NAVIGATE ERROR, URL: " + net.Url("/a/gone.html") + " Error code: 404"), std::string::npos);
  EXPECT_NE(log.find("NAVIGATE ERROR, URL: " + net.Url("/a/stalled.html") + " (timeout) \n"), std::string::npos);
  // Each skipped page is told, with what went wrong.
  EXPECT_TRUE(rec.Saw("Can not read the page [" + net.Url("/a/gone.html") + "]: HTTP status 404."));
  EXPECT_TRUE(rec.Saw("Can not read the page [" + net.Url("/a/stalled.html") + "]: no answer within 2 s."));
  // The pages after the failures are still stored; the failed ones are not.
  EXPECT_EQ(home.Count("SELECT count(*) FROM newsitem WHERE src_url = '" + net.Url("/a/last.html") + "'"), 1);
  EXPECT_EQ(Items(home), 2);
}

TEST(GatheringRunTest, ReadAfterTimeoutProcessesWhatArrived) {
  EngineHome home;
  NewsNetworkOptions o;
  o.articlesA = 0;
  o.articlesB = 0;
  o.withStalled = true;
  NewsNetwork net(o);
  PrepareNewsHome(home, net, 1);
  home.settings().WriteInt(kDownloadSection, "ReadAfterTimeout", 1);
  GathererEngine engine;
  Recorder rec(engine);
  ASSERT_TRUE(rec.Run());
  EXPECT_NE(home.Log().find("NAVIGATE ERROR, URL: " + net.Url("/a/stalled.html") + " (timeout) Reading..."),
            std::string::npos);
  EXPECT_EQ(home.Text("SELECT title || '|' || body FROM newsitem WHERE src_url = '" + net.Url("/a/stalled.html") + "'"),
            "Slow story|<br />&#160;&#160;&#160;&#160;What arrived in time.");
}

TEST(GatheringRunTest, FormFieldsGoWithTheListPageRequest) {
  EngineHome home;
  NewsNetworkOptions o;
  o.articlesA = 1;
  o.articlesB = 0;
  o.withForm = true;
  NewsNetwork net(o);
  PrepareNewsHome(home, net, 10);
  GathererEngine engine;
  Recorder rec(engine);
  ASSERT_TRUE(rec.Run());
  EXPECT_EQ(net.lastListBody, std::string("a=1&b=2\0", 8));
  EXPECT_EQ(net.fixture().CountRequests("POST /a/list.html"), 1);
  EXPECT_EQ(Items(home), 1);
}

TEST(GatheringRunTest, StopMidRunRaisesNothingMore) {
  EngineHome home;
  NewsNetworkOptions o;
  o.articlesA = 0;
  o.withStalled = true;
  NewsNetwork net(o);
  PrepareNewsHome(home, net, 30);
  GathererEngine engine;
  Recorder rec(engine);
  engine.StartProcess();
  const std::string waiting = "Site: [Site A], Category: [News] <News: 1 from 2> URL: [" + net.Url("/a/stalled.html") + "]";
  for (int i = 0; i < 400 && !rec.Saw(waiting); ++i) QTest::qWait(50);
  ASSERT_TRUE(rec.Saw(waiting));
  EXPECT_TRUE(engine.running());
  engine.Stop();
  QTest::qWait(100);
  const size_t seen = rec.statuses.size();
  QTest::qWait(1500);
  EXPECT_EQ(rec.statuses.size(), seen);
  EXPECT_TRUE(rec.complites.empty());
  EXPECT_FALSE(engine.running());
}

TEST(GatheringRunTest, NoSelectedPairAsksTheUserToSelect) {
  EngineHome home;
  NewsNetwork net;
  home.settings().WriteText(kSystemSection, "PathDB", home.dbPath());
  home.settings().WriteText(kSystemSection, "DownloadURL", net.DownloadUrl());
  GathererEngine engine;
  Recorder rec(engine);
  ASSERT_TRUE(rec.Run());
  const std::string text =
      "Updating is completed. Now select certain categories (menu Settings->Options->Sites/Categories) and then "
      "\"Start download\".";
  EXPECT_EQ(rec.statuses.back(), text);
  EXPECT_EQ(rec.complites, std::vector<int>{1});
  // The catalogue's pairs now exist, unselected, with masks not yet fetched.
  EXPECT_EQ(home.Count("SELECT count(*) FROM site_cat_rel WHERE is_selected = 0"), 2);
  EXPECT_EQ(home.Count("SELECT count(*) FROM news_masks WHERE mask_version = 1 AND mask = ''"), 4);
  EXPECT_NE(home.Log().find(text), std::string::npos);
}

TEST(GatheringRunTest, AnEmptyCatalogueWithdrawsEveryMaskAndTheFailureSticks) {
  EngineHome home;
  NewsNetwork net;
  PrepareNewsHome(home, net, 10);
  net.emptyCatalogue = true;
  GathererEngine engine;
  Recorder rec(engine);
  ASSERT_TRUE(rec.Run());
  EXPECT_EQ(rec.complites, std::vector<int>{32});
  EXPECT_EQ(net.fixture().CountRequests("POST /upd/catalog.asp"), 2);
  EXPECT_EQ(home.Count("SELECT count(*) FROM news_masks WHERE mask_version = 0 AND type < 128"), 4);
  EXPECT_TRUE(rec.SawPrefix("The updates server's catalogue"));

  // A good catalogue next time: the run works, but this process keeps reporting 32.
  net.emptyCatalogue = false;
  ASSERT_TRUE(rec.Run());
  EXPECT_EQ(rec.complites, (std::vector<int>{32, 32}));
  EXPECT_EQ(Items(home), 5);
}

int64_t Marked(EngineHome& home) { return home.Count("SELECT count(*) FROM news_masks WHERE type >= 128"); }

// An update that lists no site and then fails keeps every mask: the run goes
// on with the stored ones and no mark outlives it to withdraw them next time.
TEST(GatheringRunTest, AFailedSecondCatalogueAttemptLeavesNoMarkBehind) {
  EngineHome home;
  NewsNetwork net;
  PrepareNewsHome(home, net, 10);
  GathererEngine engine;
  Recorder rec(engine);
  ASSERT_TRUE(rec.Run());
  ASSERT_EQ(Items(home), 5);
  home.db().Exec("DELETE FROM newsitem");

  for (int status : {500, 503}) {
    net.emptyThenFail = status;
    ASSERT_TRUE(rec.Run());
    EXPECT_EQ(rec.complites.back(), 1);
    EXPECT_EQ(Marked(home), 0);
    EXPECT_EQ(home.Count("SELECT count(*) FROM news_masks WHERE mask_version = 3 AND mask <> ''"), 4);
  }
  EXPECT_EQ(Items(home), 5);
  EXPECT_EQ(home.Text("SELECT group_concat(type) FROM (SELECT type FROM news_masks ORDER BY id)"), "0,1,0,1");

  // A good catalogue afterwards confirms every mask again.
  net.emptyThenFail = 0;
  ASSERT_TRUE(rec.Run());
  EXPECT_EQ(home.Count("SELECT count(*) FROM news_masks WHERE mask_version = 3 AND mask <> '' AND type < 2"), 4);
}

TEST(GatheringRunTest, ATimedOutOrStoppedSecondAttemptTakesTheMarksOff) {
  EngineHome home;
  NewsNetwork net;
  PrepareNewsHome(home, net, 1);
  home.db().Exec("UPDATE news_masks SET mask = '3C613E', mask_version = 3");
  net.emptyThenFail = -1;
  {
    GathererEngine engine;
    Recorder rec(engine);
    ASSERT_TRUE(rec.Run(20));
    EXPECT_TRUE(rec.SawPrefix("The updates server did not answer within 1 s"));
    EXPECT_EQ(Marked(home), 0);
  }
  home.settings().WriteInt(kDownloadSection, "ConnectTimeout", 30);
  GathererEngine engine;
  Recorder rec(engine);
  engine.StartProcess();
  // The update is under way, waiting for its second page.
  for (int i = 0; i < 400 && Marked(home) < 4; ++i) QTest::qWait(50);
  ASSERT_EQ(Marked(home), 4);
  QTest::qWait(200);
  engine.Stop();
  QTest::qWait(300);
  EXPECT_EQ(Marked(home), 0);
  EXPECT_EQ(home.Count("SELECT count(*) FROM news_masks WHERE mask_version = 3 AND mask = '3C613E'"), 4);
}

// Marks a killed run left (once or, as older runs did, twice) come off before
// the next update and withdraw nothing; a pair the catalogue lists stays
// with its filter link.
TEST(GatheringRunTest, MarksLeftByAKilledRunAreTakenOffFirst) {
  EngineHome home;
  NewsNetwork net;
  PrepareNewsHome(home, net, 10);
  home.db().Exec(
      "UPDATE news_masks SET mask_version = 3, mask = '3C613E', type = type + 256 WHERE id <= 2;"
      "UPDATE news_masks SET type = type + 128 WHERE id > 2;"
      "INSERT INTO newsitem (recvdate, newsdate, fk_site_cat_rel, publication_date, src_url, title, body, is_del)"
      " VALUES ('2023-12-01 10:00:00', '2023-12-01 10:00:00', 1, '2023-12-01 10:00:00', 'http://x/', 't', 'b', 1);"
      "INSERT INTO filter (name) VALUES ('f');"
      "INSERT INTO filter_site_cat_rel (fk_filter, fk_site_cat_rel) VALUES (1, 1);");
  GathererEngine engine;
  Recorder rec(engine);
  ASSERT_TRUE(rec.Run());
  EXPECT_EQ(rec.complites, std::vector<int>{1});
  EXPECT_EQ(home.Text("SELECT group_concat(type) FROM (SELECT type FROM news_masks ORDER BY id)"), "0,1,0,1");
  EXPECT_EQ(home.Count("SELECT count(*) FROM news_masks WHERE mask_version = 3"), 4);
  EXPECT_EQ(home.Count("SELECT count(*) FROM filter_site_cat_rel WHERE fk_site_cat_rel = 1"), 1);
  EXPECT_EQ(home.Count("SELECT count(*) FROM site_cat_rel"), 2);
  EXPECT_NE(home.Log().find("Took the update marks of an interrupted run off 4 masks."), std::string::npos);
}

// An index from before deleted items were queued gets the queue at the
// run's start; the clean-up's deletes, and those a killed run left queued,
// leave the index after the run.
TEST(GatheringRunTest, DeletedNewsLeaveTheSearchIndexAfterTheRun) {
  EngineHome home;
  NewsNetwork net;
  PrepareNewsHome(home, net, 10);
  ASSERT_EQ(home.db().Exec(testing::kImmediateIndexDeletesSql), 0);
  Settings s = home.settings();
  s.WriteInt(kCleanupSection, "DeleteOlder", 1);
  s.WriteInt(kCleanupSection, "Month", 1);
  const char* kOldItem =
      "INSERT INTO newsitem (recvdate, newsdate, fk_site_cat_rel, publication_date, src_url, title, body)"
      " VALUES ('2020-01-01 10:00:00', '2020-01-01 10:00:00', 1, '2020-01-01 10:00:00', 'http://old/', 'Old',"
      " 'an outdated body')";
  ASSERT_EQ(home.db().Exec(kOldItem), 0);
  ASSERT_EQ(home.db().Exec("UPDATE newsitem SET src_url = 'http://old/1' WHERE src_url = 'http://old/'"), 0);
  ASSERT_EQ(home.db().Exec(kOldItem), 0);
  auto indexIntact = [&] {
    return home.db().Exec("INSERT INTO newsitem_fts(newsitem_fts, rank) VALUES ('integrity-check', 1)") == 0;
  };
  auto indexNames = [&](const char* trigram) {
    return home.Count(std::string("SELECT count(*) FROM newsitem_fts WHERE newsitem_fts MATCH '\"") + trigram +
                      "\"'");
  };
  ASSERT_EQ(indexNames("utd"), 2);

  GathererEngine engine;
  Recorder rec(engine);
  ASSERT_TRUE(rec.Run());
  EXPECT_EQ(rec.complites, std::vector<int>{1});
  engine.WaitForIndexWork();
  EXPECT_GT(Items(home), 0);
  EXPECT_EQ(home.Count("SELECT count(*) FROM newsitem WHERE src_url LIKE 'http://old/%'"), 0);
  EXPECT_EQ(home.Count("SELECT count(*) FROM newsitem_fts_gone"), 0);
  EXPECT_EQ(indexNames("utd"), 0);
  EXPECT_TRUE(indexIntact());

  // Deleted by a run that was killed before its end: still queued.
  ASSERT_EQ(home.db().Exec(kOldItem), 0);
  ASSERT_EQ(home.db().Exec("DELETE FROM newsitem WHERE src_url = 'http://old/'"), 0);
  ASSERT_EQ(home.Count("SELECT count(*) FROM newsitem_fts_gone"), 1);
  ASSERT_TRUE(rec.Run());
  engine.WaitForIndexWork();
  EXPECT_EQ(home.Count("SELECT count(*) FROM newsitem_fts_gone"), 0);
  EXPECT_EQ(indexNames("utd"), 0);
  EXPECT_TRUE(indexIntact());
}

// A time-out too large for the millisecond timer would be no time-out at
// all; a negative one is no time-out either.
TEST(GatheringRunTest, AnOutOfRangeConnectTimeoutIsClampedAndLogged) {
  EngineHome home;
  NewsNetwork net;
  PrepareNewsHome(home, net, 2147484);
  GathererEngine engine;
  Recorder rec(engine);
  ASSERT_TRUE(rec.Run());
  EXPECT_EQ(rec.complites, std::vector<int>{1});
  EXPECT_EQ(Items(home), 5);
  EXPECT_NE(home.Log().find("ConnectTimeout 2147484 is out of range (1 to 86400 s); 86400 is used."),
            std::string::npos);
  home.settings().WriteInt(kDownloadSection, "ConnectTimeout", -5);
  ASSERT_TRUE(rec.Run());
  EXPECT_NE(home.Log().find("ConnectTimeout -5 is out of range (1 to 86400 s); 300 is used."), std::string::npos);
}

TEST(GatheringRunTest, ADeadUpdatesServerEndsTheRunAfterTheTimeout) {
  EngineHome home;
  NewsNetwork net;
  PrepareNewsHome(home, net, 1);
  net.stallCatalogue = true;
  GathererEngine engine;
  Recorder rec(engine);
  ASSERT_TRUE(rec.Run(20));
  EXPECT_EQ(rec.complites, std::vector<int>{32});
  EXPECT_TRUE(rec.SawPrefix("The updates server did not answer within 1 s"));
  EXPECT_EQ(Items(home), 0);
}

TEST(GatheringRunTest, AnUnreachableUpdatesServerLeavesTheStoredMasksInUse) {
  EngineHome home;
  NewsNetwork net;
  PrepareNewsHome(home, net, 10);
  {
    // One run to fetch the masks, then the updates server goes away.
    GathererEngine engine;
    Recorder rec(engine);
    ASSERT_TRUE(rec.Run());
  }
  home.db().Exec("DELETE FROM newsitem");
  home.settings().WriteText(kSystemSection, "DownloadURL", "127.0.0.1:1/upd/catalog.asp");
  GathererEngine engine;
  Recorder rec(engine);
  ASSERT_TRUE(rec.Run());
  EXPECT_EQ(rec.complites, std::vector<int>{1});
  EXPECT_EQ(Items(home), 5);
  EXPECT_NE(home.Log().find("NAVIGATE ERROR, URL: http://127.0.0.1:1/upd/catalog.asp Error code: 7"),
            std::string::npos);
}

// The Options sheet wrote DownloadUpdates and no program read it.
TEST(GatheringRunTest, WithUpdatesSwitchedOffTheRunUsesTheStoredCatalogueWithoutTheExchange) {
  EngineHome home;
  NewsNetwork net;
  PrepareNewsHome(home, net, 10);
  {
    GathererEngine engine;
    Recorder rec(engine);
    ASSERT_TRUE(rec.Run());
  }
  home.db().Exec("DELETE FROM newsitem");
  home.settings().WriteInt(kSystemSection, "DownloadUpdates", 0);
  auto exchanges = [&] {
    int n = 0;
    for (const std::string& r : net.fixture().Requests()) n += r.find(" /upd/") != std::string::npos;
    return n;
  };
  const int before = exchanges();
  GathererEngine engine;
  Recorder rec(engine);
  ASSERT_TRUE(rec.Run());
  EXPECT_EQ(rec.complites, std::vector<int>{1});
  EXPECT_EQ(Items(home), 5);
  EXPECT_EQ(exchanges(), before);
  const std::string said =
      "Site template updates are switched off (DownloadUpdates=0): downloading with the stored catalogue and masks.";
  EXPECT_TRUE(rec.Saw(said));
  EXPECT_NE(home.Log().find(said), std::string::npos);
}

// UseProxy, ProxyAddress and ProxyPort were written and never used.
TEST(GatheringRunTest, RequestsGoThroughTheProxyOfTheSettingsOrElseTheSystemOne) {
  EngineHome home;
  testing::FixtureServer proxy;
  std::mutex mutex;
  std::vector<std::string> hosts;
  proxy.server().Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
    std::lock_guard<std::mutex> lock(mutex);
    hosts.push_back(req.get_header_value("Host"));
    res.set_content("through the proxy", "text/plain");
  });
  proxy.Start();
  Settings s = home.settings();
  s.WriteInt(kSystemSection, "UseProxy", 1);
  s.WriteText(kSystemSection, "ProxyAddress", " 127.0.0.1 ");
  s.WriteText(kSystemSection, "ProxyPort", std::to_string(proxy.port()));
  ::unsetenv("no_proxy");
  ::unsetenv("NO_PROXY");
  auto fetch = [](const std::string& url) {
    HttpSession http;
    std::string body;
    HttpResponse r = http.Get(url, &body);
    return r.ok() && r.status == 200 ? body : "failed: " + r.error;
  };
  EXPECT_EQ(fetch("http://news.invalid/page.html"), "through the proxy");

  // Off: the system's proxy variables, as libcurl reads them.
  s.WriteInt(kSystemSection, "UseProxy", 0);
  ::setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(proxy.port())).c_str(), 1);
  EXPECT_EQ(fetch("http://pictures.invalid/1.png"), "through the proxy");
  ::unsetenv("http_proxy");
  EXPECT_NE(fetch("http://pictures.invalid/2.png"), "through the proxy");
  {
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(hosts, (std::vector<std::string>{"news.invalid", "pictures.invalid"}));
  }

  // Values it cannot take are said, with what is done instead.
  s.WriteInt(kSystemSection, "UseProxy", 1);
  s.WriteText(kSystemSection, "ProxyPort", "80a");
  const ProxySetting bad = ReadProxySetting();
  EXPECT_TRUE(bad.on);
  EXPECT_EQ(bad.port, 0);
  EXPECT_NE(bad.problem.find("ProxyPort \"80a\" is not a port number"), std::string::npos) << bad.problem;
  s.WriteText(kSystemSection, "ProxyAddress", "");
  EXPECT_FALSE(ReadProxySetting().on);
}

TEST(GatheringRunTest, AnEmptyMaskIsSkippedAndAnUnparsableOneEndsTheRun) {
  EngineHome home;
  NewsNetwork net;
  PrepareNewsHome(home, net, 10);
  // Site A's list mask is empty with the server's version, so the update
  // does not fetch it: site A is passed over and site B is still gathered.
  home.db().Exec("UPDATE news_masks SET mask_version = 3 WHERE id = 1");
  {
    GathererEngine engine;
    Recorder rec(engine);
    ASSERT_TRUE(rec.Run());
    EXPECT_EQ(rec.complites, std::vector<int>{1});
    EXPECT_TRUE(rec.Saw("ERROR loading mask : Element"));
    EXPECT_EQ(home.Count("SELECT count(*) FROM newsitem WHERE fk_site_cat_rel = 2"), 2);
    EXPECT_EQ(home.Count("SELECT count(*) FROM newsitem WHERE fk_site_cat_rel = 1"), 0);
  }
  // Digits that do not form bytes: the mask is reset for the next update and
  // the run ends there.
  home.db().Exec("UPDATE news_masks SET mask = 'ZZ', mask_version = 3 WHERE id = 1");
  GathererEngine engine;
  Recorder rec(engine);
  ASSERT_TRUE(rec.Run());
  EXPECT_EQ(rec.complites, std::vector<int>{1});
  EXPECT_EQ(rec.statuses.back(), "ERROR loading mask : Markup");
  EXPECT_EQ(home.Text("SELECT mask_version || ':' || mask FROM news_masks WHERE id = 1"), "1:");
  EXPECT_NE(home.Log().find("ERROR loading mask : Markup"), std::string::npos);
}

TEST(GatheringRunTest, WithoutADatabaseTheRunFailsAtOnce) {
  EngineHome home;
  home.settings().WriteText(kSystemSection, "PathDB", home.dir() + "/missing.db");
  GathererEngine engine;
  Recorder rec(engine);
  ASSERT_TRUE(rec.Run(10));
  EXPECT_EQ(rec.statuses, std::vector<std::string>{"News downloading error"});
  EXPECT_EQ(rec.complites, std::vector<int>{32});
  EXPECT_NE(home.Log().find("Can not open news database. Please check you settings."), std::string::npos);
}

TEST(GatheringRunTest, ASecondStartDuringARunIsIgnored) {
  EngineHome home;
  NewsNetworkOptions o;
  o.articlesA = 2;
  NewsNetwork net(o);
  PrepareNewsHome(home, net, 10);
  GathererEngine engine;
  Recorder rec(engine);
  engine.StartProcess();
  engine.StartProcess();
  for (int i = 0; i < 1200 && rec.complites.empty(); ++i) QTest::qWait(50);
  QTest::qWait(300);
  EXPECT_EQ(rec.complites, std::vector<int>{1});
  EXPECT_EQ(Items(home), 4);
  EXPECT_NE(home.Log().find("A download is already running; the new start request is ignored."), std::string::npos);
}

TEST(GatheringRunTest, WhileAnImageHangsTheRunSaysSoAndStopLeavesNothingHalfStored) {
  EngineHome home;
  NewsNetwork net;
  PrepareNewsHome(home, net, 30);
  net.hangImage = true;
  GathererEngine engine;
  engine.SetHeartbeatMs(300);
  Recorder rec(engine);
  engine.StartProcess();
  const std::string waiting = "Still downloading image 2 from 2 [" + net.Url("/a/img/2_1.png") + "]";
  for (int i = 0; i < 400 && !rec.SawPrefix(waiting); ++i) QTest::qWait(50);
  // The main thread raised it while the image was being waited for.
  ASSERT_TRUE(rec.SawPrefix(waiting));
  EXPECT_EQ(Items(home), 1);  // story 2 is not visible before its pictures are
  engine.Stop();
  QTest::qWait(200);
  net.hangImage = false;
  EXPECT_FALSE(engine.running());
  EXPECT_EQ(Items(home), 1);
  EXPECT_EQ(home.Count("SELECT count(*) FROM newsimages"), 2);

  // The next run stores story 2 whole, and the files of the stopped pass are gone.
  ASSERT_TRUE(rec.Run());
  EXPECT_EQ(Items(home), 5);
  EXPECT_EQ(home.Count("SELECT count(*) FROM newsimages"), 6);
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(home.dir() + "/Images")) {
    ++files;
    EXPECT_EQ(home.Count("SELECT count(*) FROM newsimages WHERE image_path = '" + e.path().string() + "'"), 1)
        << e.path();
  }
  EXPECT_EQ(files, 6u);
}

// While an item's pictures come, the next page is read ahead, one page and
// no more; it is still logged and stored in its turn.
TEST(GatheringRunTest, TheNextPageIsReadAheadWhileAnItemIsStoredAndTakenInItsTurn) {
  EngineHome home;
  NewsNetworkOptions o;
  o.articlesA = 4;
  o.articlesB = 0;
  NewsNetwork net(o);
  PrepareNewsHome(home, net, 30);
  net.hangImage = true;  // story 2's second picture
  GathererEngine engine;
  Recorder rec(engine);
  engine.StartProcess();
  for (int i = 0; i < 400 && !net.imageHanging; ++i) QTest::qWait(50);
  ASSERT_TRUE(net.imageHanging);
  for (int i = 0; i < 400 && net.fixture().CountRequests("GET /a/3.html") == 0; ++i) QTest::qWait(50);
  EXPECT_EQ(net.fixture().CountRequests("GET /a/3.html"), 1);
  QTest::qWait(300);
  EXPECT_EQ(net.fixture().CountRequests("GET /a/4.html"), 0);
  EXPECT_EQ(net.fixture().CountRequests("GET /a/img/3_0.png"), 0);
  EXPECT_EQ(Items(home), 1);  // story 3 waits for story 2
  net.hangImage = false;
  for (int i = 0; i < 400 && rec.complites.empty(); ++i) QTest::qWait(50);
  EXPECT_EQ(rec.complites, std::vector<int>{1});
  EXPECT_EQ(StoredOrder(home), net.ArticleA(1) + " " + net.ArticleA(2) + " " + net.ArticleA(3) + " " + net.ArticleA(4) + " ");
  EXPECT_EQ(home.Count("SELECT count(*) FROM newsimages"), 8);
  EXPECT_EQ(home.Count("SELECT count(*) FROM mask_health WHERE items_stored = 4"), 1);
  EXPECT_EQ(net.fixture().CountRequests("GET /a/3.html"), 1);  // read once, ahead
  const std::string log = home.Log();
  EXPECT_LT(log.find("Download Image " + net.Url("/a/img/2_1.png")), log.find("Start download site: " + net.ArticleA(3)));
}

// Once an item's pictures are in, the lane reads the next page while the
// item's rows are written, and the next item's pictures come meanwhile; its
// rows wait for that write, and the category's health and the run's end wait
// for the last one.
TEST(GatheringRunTest, TheNextPageAndItsPicturesComeWhileAnItemIsWrittenAndItsRowsWaitTheirTurn) {
  EngineHome home;
  NewsNetworkOptions o;
  o.articlesA = 4;
  o.articlesB = 0;
  o.deadImagePort = 1;  // every story's second picture fails
  NewsNetwork net(o);
  PrepareNewsHome(home, net, 30);
  net.hangingImage = "3_0";
  net.hangImage = true;
  GathererEngine engine;
  Recorder rec(engine);
  engine.StartProcess();
  for (int i = 0; i < 400 && !net.imageHanging; ++i) QTest::qWait(50);
  ASSERT_TRUE(net.imageHanging);
  // Another writer holds the database: story 3's pictures come, its rows wait.
  ASSERT_EQ(home.db().Exec("BEGIN IMMEDIATE"), 0);
  net.hangImage = false;
  const std::string next = "Site: [Site A], Category: [News] <News: 4 from 4> URL: [" + net.ArticleA(4) + "]";
  for (int i = 0; i < 200 && !rec.Saw(next); ++i) QTest::qWait(50);
  ASSERT_TRUE(rec.Saw(next));
  QTest::qWait(500);
  EXPECT_EQ(Items(home), 2);
  EXPECT_EQ(net.fixture().CountRequests("GET /a/img/4_0.png"), 1);  // its rows wait for story 3's
  EXPECT_TRUE(rec.complites.empty());
  EXPECT_EQ(home.Count("SELECT count(*) FROM mask_health"), 0);
  // The missing picture is told before the next page's progress, which stays on show.
  const auto at = [&rec](const std::string& text) {
    return std::find(rec.statuses.begin(), rec.statuses.end(), text) - rec.statuses.begin();
  };
  EXPECT_LT(at("1 of 2 images of [" + net.ArticleA(3) + "] could not be downloaded."), at(next));
  ASSERT_EQ(home.db().Exec("COMMIT"), 0);
  for (int i = 0; i < 400 && rec.complites.empty(); ++i) QTest::qWait(50);
  EXPECT_EQ(rec.complites, std::vector<int>{1});
  EXPECT_EQ(StoredOrder(home), net.ArticleA(1) + " " + net.ArticleA(2) + " " + net.ArticleA(3) + " " + net.ArticleA(4) + " ");
  EXPECT_EQ(home.Count("SELECT count(*) FROM newsimages"), 4);
  EXPECT_EQ(home.Count("SELECT count(*) FROM mask_health WHERE items_stored = 4"), 1);
  EXPECT_TRUE(rec.Saw("1 of 2 images of [" + net.ArticleA(4) + "] could not be downloaded."));
}

TEST(GatheringRunTest, ADeadImageServerCostsOneAttemptPerRunAndIsReported) {
  EngineHome home;
  NewsNetworkOptions o;
  o.articlesB = 0;
  o.deadImagePort = 1;
  NewsNetwork net(o);
  PrepareNewsHome(home, net, 10);
  GathererEngine engine;
  Recorder rec(engine);
  ASSERT_TRUE(rec.Run());
  EXPECT_EQ(Items(home), 3);
  EXPECT_EQ(home.Count("SELECT count(*) FROM newsimages"), 3);
  const std::string log = home.Log();
  EXPECT_NE(log.find("Download Image http://127.0.0.1:1/a/img/1_1.png"), std::string::npos);
  EXPECT_EQ(log.find("Download Image http://127.0.0.1:1/a/img/2_1.png"), std::string::npos);
  EXPECT_EQ(log.find("Download Image http://127.0.0.1:1/a/img/3_1.png"), std::string::npos);
  for (int n = 1; n <= 3; ++n)
    EXPECT_TRUE(rec.Saw("1 of 2 images of [" + net.ArticleA(n) + "] could not be downloaded.")) << n;
}

TEST(GatheringRunTest, WhileTheCatalogueUpdateWaitsTheRunSaysSo) {
  EngineHome home;
  NewsNetwork net;
  PrepareNewsHome(home, net, 30);
  net.hangMasks = true;
  GathererEngine engine;
  engine.SetHeartbeatMs(300);
  Recorder rec(engine);
  engine.StartProcess();
  const std::string waiting = "Still fetching the masks of site [Site A], category [News] (";
  for (int i = 0; i < 400 && !rec.SawPrefix(waiting); ++i) QTest::qWait(50);
  ASSERT_TRUE(rec.SawPrefix(waiting));
  net.hangMasks = false;
  for (int i = 0; i < 1200 && rec.complites.empty(); ++i) QTest::qWait(50);
  EXPECT_EQ(rec.complites, std::vector<int>{1});
  EXPECT_EQ(Items(home), 5);
}

}  // namespace
}  // namespace orvo

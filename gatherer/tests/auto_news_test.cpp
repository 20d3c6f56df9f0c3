// A site that changes its markup under a working mask: the run notices the
// broken pair, keeps the news coming through automatic extraction or the
// site's feed, and sees the pair healthy again once the mask is mended.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <mutex>

#include "engine_home.h"
#include "fixture_server.h"
#include "gatherer/masks/extraction.h"
#include "store/mask_health.h"
#include "run.h"

namespace orvo {
namespace {

using testing::EngineHome;
using testing::FixtureServer;

const char kListMask[] = "<x-head url='%BASE%/list.html'></x-head><ul class=news><li ord=-1><a role=link></a></li></ul>";
const char kOldNewsMask[] =
    "<x-head></x-head><div class=article><h1 role=header></h1><div class=text><p ord=-1 role=text paragraph=1></p>"
    "</div></div>";
// The mended mask for the new markup.
const char kNewNewsMask[] =
    "<x-head></x-head><article class=story><h1 role=header></h1><section class=copy><p ord=-1 role=text paragraph=1>"
    "</p></section></article>";

std::string Paragraphs(int n) {
  std::string p;
  for (int k = 1; k <= 3; ++k)
    p += "<p>Paragraph " + std::to_string(k) + " of story " + std::to_string(n) +
         ", which tells at some length, with commas, what happened in the town, and why it matters.</p>";
  return p;
}

// Pages that give automatic extraction nothing to hold on to, or too much.
std::string BadPage(int n) {
  switch (n % 4) {
    case 0: {
      std::string big(10u << 20, 'w');
      for (size_t i = 40; i < big.size(); i += 50) big[i] = ' ';
      return "<html><head><title>Big one</title></head><body><div><p>" + big + "</p></div></body></html>";
    }
    case 1: return "<html><frameset cols='50%,50%'><frame src=/a.html><frame src=/b.html></frameset></html>";
    case 2: return "";
    default: {
      std::string links;
      for (int k = 0; k < 200; ++k) links += "<li><a href=/x" + std::to_string(k) + ">A headline that is a link</a></li>";
      return "<html><body><ul>" + links + "</ul></body></html>";
    }
  }
}

// One site, one category; the markup, the list's links and the mask version
// change between runs.
class ChangingSite {
 public:
  std::atomic<bool> newMarkup{false};
  std::atomic<bool> newListMarkup{false};  // the list mask no longer matches; a feed is advertised
  std::atomic<int> maskVersion{2};  // the masks stored at first have version 1
  std::atomic<int> newsVersion{-1};  // the news mask's, when not maskVersion; 0 withdraws it
  std::atomic<bool> badPages{false};  // the news pages are hostile or empty
  std::atomic<int> firstStory{1};
  std::atomic<int> lastStory{3};
  std::mutex mutex;
  std::vector<std::string> reports;

  ChangingSite() {
    auto& s = fx_.server();
    s.Post("/upd/catalog.asp", [this](const httplib::Request&, httplib::Response& res) {
      std::string v = std::to_string(maskVersion.load());
      std::string nv = newsVersion < 0 ? v : std::to_string(newsVersion.load());
      res.set_content("<html><body><table><tr name='Site A'><td cat=News ListMask=L Vers=" + v +
                          "></td><td NPMask=N Vers=" + nv + " Fdld=0></td></tr></table></body></html>",
                      "text/html; charset=utf-8");
    });
    s.Post("/upd/getmask.asp", [this](const httplib::Request& req, httplib::Response& res) {
      std::string id = req.body.size() > 6 ? req.body.substr(6) : "";
      if (!id.empty() && id.back() == '\0') id.pop_back();
      if (id == "L") {
        std::string m = kListMask;
        m.replace(m.find("%BASE%"), 6, Url(""));
        res.set_content(m, "text/html");
      } else if (id == "N") {
        res.set_content(maskVersion >= 3 ? kNewNewsMask : kOldNewsMask, "text/html");
      } else {
        res.status = 404;
      }
    });
    s.Get("/upd/end.asp", [](const httplib::Request&, httplib::Response& res) { res.set_content("", "text/plain"); });
    s.Post("/upd/report.asp", [this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard<std::mutex> lock(mutex);
      reports.push_back(req.body);
      res.set_content("OK", "text/plain");
    });
    s.Get("/list.html", [this](const httplib::Request&, httplib::Response& res) {
      std::string items;
      for (int n = firstStory; n <= lastStory; ++n)
        items += newListMarkup ? "<div class=teaser><a href='/" + std::to_string(n) + ".html'>Story</a></div>"
                               : "<li><a href='/" + std::to_string(n) + ".html'>Story " + std::to_string(n) + "</a></li>";
      std::string head = newListMarkup ? "<link rel=alternate type='application/rss+xml' href='/feed.xml'>" : "";
      res.set_content("<html><head>" + head + "</head><body>" + (newListMarkup ? items : "<ul class=news>" + items + "</ul>") +
                          "</body></html>",
                      "text/html; charset=utf-8");
    });
    s.Get("/feed.xml", [this](const httplib::Request&, httplib::Response& res) {
      std::string items;
      for (int n = firstStory; n <= lastStory; ++n)
        items += "<item><title>Story</title><link>" + Url("/" + std::to_string(n) + ".html") +
                 "</link><pubDate>Tue, 05 Dec 2023 14:0" + std::to_string(n % 10) + ":00 GMT</pubDate></item>";
      res.set_content("<?xml version='1.0'?><rss version='2.0'><channel><title>A</title>" + items + "</channel></rss>",
                      "application/rss+xml");
    });
    s.Get(R"(/(\d+)\.html)", [this](const httplib::Request& req, httplib::Response& res) {
      int n = std::stoi(req.matches[1]);
      if (badPages) {
        res.set_content(BadPage(n), "text/html; charset=utf-8");
        return;
      }
      std::string title = "Title " + std::to_string(n);
      std::string page =
          newMarkup ? "<html><head><title>" + title + " | Site A</title></head><body><nav><a href=/>Home</a></nav>"
                          "<article class=story><h1>" + title + "</h1><section class=copy>" + Paragraphs(n) +
                          "</section></article><footer>Imprint</footer></body></html>"
                    : "<html><body><div class=article><h1>" + title + "</h1><div class=text>" + Paragraphs(n) +
                          "</div></div></body></html>";
      res.set_content(page, "text/html; charset=utf-8");
    });
    fx_.Start();
  }

  std::string Url(const std::string& path) const { return fx_.Url(path); }
  std::string DownloadUrl() const { return "127.0.0.1:" + std::to_string(fx_.port()) + "/upd/catalog.asp"; }
  FixtureServer& fixture() { return fx_; }

 private:
  FixtureServer fx_;
};

class AutoNewsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings s = home_.settings();
    s.WriteText(kSystemSection, "PathDB", home_.dbPath());
    s.WriteText(kSystemSection, "DownloadURL", site_.DownloadUrl());
    s.WriteInt(kDownloadSection, "ConnectTimeout", 10);
    pair_ = home_.AddPair("Site A", "News", true);
    home_.AddMask(pair_, 0, 1);
    home_.AddMask(pair_, 1, 1);
  }

  // Runs once; the statuses of the run.
  std::vector<std::string> Run() {
    GathererEngine engine;
    std::vector<std::string> statuses;
    int complite = 0;
    QObject::connect(&engine, &GathererEngine::OnProcessStatus,
                     [&](const QString& s, int) { statuses.push_back(s.toStdString()); });
    QObject::connect(&engine, &GathererEngine::Complite, [&](int c) { complite = c; });
    engine.StartProcess();
    for (int i = 0; i < 1200 && complite == 0; ++i) QTest::qWait(50);
    EXPECT_EQ(complite, 1);
    return statuses;
  }

  // What orvo status prints for this home.
  std::string Status(const std::string& args) {
    std::string cmd = std::string(ORVO_BIN_DIR) + "/orvo status " + args + " --home " + home_.dir() + " 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return "cannot run " + cmd;
    std::string out;
    char buf[512];
    while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    int rc = ::pclose(p);
    EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 0) << cmd << "\n" << out;
    return out;
  }

  HealthVerdict Health() { return LatestHealth(home_.db(), int(pair_)); }
  static int Containing(const std::vector<std::string>& statuses, const std::string& part) {
    return int(std::count_if(statuses.begin(), statuses.end(),
                             [&](const std::string& s) { return s.find(part) != std::string::npos; }));
  }

  EngineHome home_;
  ChangingSite site_;
  int64_t pair_ = 0;
};

TEST_F(AutoNewsTest, ABrokenNewsMaskIsFlaggedBridgedAndHealthyAgainOnceMended) {
  Run();
  ASSERT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 3) << home_.Log();
  EXPECT_EQ(Health().state, PairHealth::kHealthy);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem_auto"), 0);

  // The site changes its markup: the old mask leaves every body empty.
  site_.newMarkup = true;
  site_.firstStory = 4;
  site_.lastStory = 6;
  std::vector<std::string> statuses = Run();
  HealthVerdict v = Health();
  EXPECT_EQ(v.state, PairHealth::kBroken);
  EXPECT_FALSE(v.brokenSince.empty());
  EXPECT_EQ(v.symptom, "the news mask left the body empty on 3 of 3 pages");
  EXPECT_EQ(Containing(statuses, "Mask of Site A / News is broken since"), 1);
  EXPECT_NE(home_.Log().find("Mask of Site A / News is broken since " + v.brokenSince), std::string::npos);
  EXPECT_EQ(statuses.back(), "Download completed.");
  // The news still came, through automatic extraction, and are marked so.
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 6);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem_auto WHERE how = 1"), 3);
  EXPECT_EQ(home_.Text("SELECT title FROM newsitem WHERE src_url = '" + site_.Url("/5.html") + "'"), "Title 5");
  std::string body = home_.Text("SELECT body FROM newsitem WHERE src_url = '" + site_.Url("/5.html") + "'");
  EXPECT_EQ(body.rfind("Paragraph 1 of story 5", 0), 0u) << body;
  EXPECT_NE(body.find("Paragraph 3 of story 5"), std::string::npos);
  EXPECT_EQ(body.find("Imprint"), std::string::npos);
  EXPECT_EQ(body.find("Home"), std::string::npos);
  // Reports are off by default.
  EXPECT_TRUE(site_.reports.empty());
  // orvo status says it, in its health column and its list of broken pairs.
  EXPECT_NE(Status("").find("broken since " + v.brokenSince), std::string::npos) << Status("");
  EXPECT_NE(Status("--broken").find("Site A / News: broken since " + v.brokenSince +
                                    ": the news mask left the body empty on 3 of 3 pages"),
            std::string::npos)
      << Status("--broken");

  // Another run with the mask still broken keeps the first date.
  site_.firstStory = 7;
  site_.lastStory = 8;
  home_.settings().WriteInt(kDownloadSection, "ReportBrokenMasks", 1);
  Run();
  EXPECT_EQ(Health().state, PairHealth::kBroken);
  EXPECT_EQ(Health().brokenSince, v.brokenSince);
  // Reported once only, when it broke; it was already broken here.
  EXPECT_TRUE(site_.reports.empty());

  // The updates server sends the mended mask.
  site_.maskVersion = 3;
  site_.firstStory = 9;
  site_.lastStory = 10;
  Run();
  EXPECT_EQ(Health().state, PairHealth::kHealthy);
  EXPECT_NE(Status("").find("healthy"), std::string::npos);
  EXPECT_EQ(Status("--broken"), "No broken pair.\n");
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 10);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem_auto"), 5);
}

TEST_F(AutoNewsTest, ABrokenListMaskTakesTheAdvertisedFeedAndIsReportedWhenAsked) {
  home_.settings().WriteInt(kDownloadSection, "ReportBrokenMasks", 1);
  Run();
  EXPECT_EQ(Health().state, PairHealth::kHealthy);
  site_.newListMarkup = true;
  site_.firstStory = 4;
  site_.lastStory = 5;
  std::vector<std::string> statuses = Run();
  HealthVerdict v = Health();
  EXPECT_EQ(v.state, PairHealth::kBroken);
  EXPECT_NE(v.symptom.find("the list mask found no link"), std::string::npos);
  EXPECT_EQ(Containing(statuses, "Mask of Site A / News is broken"), 1);
  EXPECT_EQ(site_.fixture().CountRequests("GET /feed.xml"), 1);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 5);
  // The news mask still reads the pages; the links came from the feed, with its dates.
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem_auto WHERE how = 2"), 2);
  EXPECT_EQ(home_.Text("SELECT publication_date FROM newsitem WHERE src_url = '" + site_.Url("/4.html") + "'"),
            "2023-12-05 14:04:00");
  ASSERT_EQ(site_.reports.size(), 1u);
  EXPECT_NE(site_.reports[0].find("site=Site%20A&category=News&versions=2%2F2&symptom=the%20list%20mask"),
            std::string::npos)
      << site_.reports[0];
}

TEST_F(AutoNewsTest, AutoExtractZeroStoresNothingTheMaskDoesNotFind) {
  Run();
  home_.settings().WriteInt(kDownloadSection, "AutoExtract", 0);
  site_.newMarkup = true;
  site_.newListMarkup = true;
  site_.firstStory = 4;
  site_.lastStory = 6;
  Run();
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 3);
  EXPECT_EQ(site_.fixture().CountRequests("GET /feed.xml"), 0);
  EXPECT_EQ(site_.fixture().CountRequests("GET /4.html"), 0);
  // The health record is kept all the same.
  EXPECT_EQ(Health().state, PairHealth::kBroken);

  // With the list mended but the news mask broken, pages are walked and dropped.
  site_.newListMarkup = false;
  Run();
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 3);
  EXPECT_EQ(site_.fixture().CountRequests("GET /4.html"), 1);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem_auto"), 0);
}

// The updates server withdraws the news mask (version 0) and keeps the list
// mask; the run right after that update reads the category or not.
TEST_F(AutoNewsTest, AWithdrawnNewsMaskIsReadByAutomaticExtraction) {
  Run();
  ASSERT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 3) << home_.Log();
  site_.newsVersion = 0;
  site_.firstStory = 4;
  site_.lastStory = 5;
  Run();
  EXPECT_EQ(home_.Count("SELECT mask_version FROM news_masks WHERE type = 1"), 0);
  EXPECT_EQ(site_.fixture().CountRequests("GET /list.html"), 2);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 5);
  // The mask's old text still fits these pages, but it is not walked.
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem_auto WHERE how = 1"), 2);
  EXPECT_EQ(home_.Text("SELECT title FROM newsitem WHERE src_url = '" + site_.Url("/4.html") + "'"), "Title 4");
  EXPECT_NE(home_.Log().find("news mask withdrawn: its pages are read by automatic extraction"), std::string::npos);
}

TEST_F(AutoNewsTest, AWithdrawnNewsMaskWithAutoExtractZeroLeavesTheCategoryUnread) {
  Run();
  site_.newsVersion = 0;
  site_.firstStory = 4;
  site_.lastStory = 5;
  home_.settings().WriteInt(kDownloadSection, "AutoExtract", 0);
  Run();
  EXPECT_EQ(home_.Count("SELECT mask_version FROM news_masks WHERE type = 1"), 0);
  EXPECT_EQ(site_.fixture().CountRequests("GET /list.html"), 1);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 3);
}

TEST_F(AutoNewsTest, HostileAndEmptyPagesNeitherHangNorStopTheRun) {
  Run();
  site_.newMarkup = true;
  site_.badPages = true;
  site_.firstStory = 4;  // 10 MB in one element, a frameset, an empty page, only links
  site_.lastStory = 7;
  home_.settings().WriteInt(kDownloadSection, "ConnectTimeout", 120);
  std::vector<std::string> statuses = Run();
  EXPECT_EQ(statuses.back(), "Download completed.");
  // Only the big page holds text; its body is cut like any other.
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 4) << home_.Log();
  EXPECT_EQ(home_.Count("SELECT length(body) FROM newsitem WHERE src_url = '" + site_.Url("/4.html") + "'"),
            int64_t(kMaxBodyChars));
  EXPECT_EQ(home_.Text("SELECT title FROM newsitem WHERE src_url = '" + site_.Url("/4.html") + "'"), "Big one");
  for (int n = 5; n <= 7; ++n)
    EXPECT_NE(home_.Log().find("Start download site: " + site_.Url("/" + std::to_string(n) + ".html")),
              std::string::npos)
        << n;
}

TEST_F(AutoNewsTest, APairThatNeverYieldedIsNeverWorkedNotBroken) {
  site_.newMarkup = true;  // the mask never fitted this site
  Run();
  EXPECT_EQ(Health().state, PairHealth::kNeverWorked);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem_auto WHERE how = 1"), 3);
}

}  // namespace
}  // namespace orvo

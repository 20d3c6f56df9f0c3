// The user's own sites: feeds of every format, discovery behind a page, the
// catalogue update beside own pairs, runs without an updates server, OPML in
// and out, and the orvo site command.
#include <gtest/gtest.h>

#include <QTest>

#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "catalogue.h"
#include "store/cleanup.h"
#include "engine_home.h"
#include "feed_fetch.h"
#include "fixture_server.h"
#include "gatherer/masks/feed.h"
#include "http_client.h"
#include "store/mask_health.h"
#include "opml.h"
#include "store/own_sites.h"
#include "run.h"

namespace orvo {
namespace {

using testing::EngineHome;
using testing::FixtureServer;

// Feeds' dates are compared in UTC.
class UtcZone {
 public:
  UtcZone() {
    if (const char* tz = std::getenv("TZ")) old_ = tz, had_ = true;
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
  ~UtcZone() {
    if (had_)
      ::setenv("TZ", old_.c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::string old_;
  bool had_ = false;
};

std::string Article(int n) {
  std::string p;
  for (int k = 1; k <= 4; ++k)
    p += "<p>Paragraph " + std::to_string(k) + " of article " + std::to_string(n) +
         ", which tells at some length, with commas, what happened in the town, and why it matters.</p>";
  return "<html><head><title>Page title " + std::to_string(n) +
         "</title></head><body><nav><a href=/>Home</a></nav>"
         "<article><h1>Page title " +
         std::to_string(n) + "</h1>" + p + "</article><footer>Imprint</footer></body></html>";
}

const char kLongContent[] =
    "<p>The feed's own full text, first paragraph, long enough to be a real story with many words in it, told "
    "slowly and with care so that nobody misses a thing that happened.</p><script>alert(1)</script>"
    "<p onclick=\"evil()\">Second paragraph of the feed's own text, again with many words, so that the page's "
    "short teaser is much shorter than this.</p><iframe src=\"http://evil.example/\"></iframe>"
    "<style>p{color:red}</style><p>Third and last paragraph of the feed's text.</p>";

// A site with a feed of three entries: a good page, a page that answers 404,
// and a page that gives a teaser much shorter than the feed's full text.
class FeedSite {
 public:
  std::atomic<bool> failing{false};   // the feed answers 500
  std::atomic<bool> busyOnce{false};  // the next feed request answers 503 with Retry-After: 1
  std::atomic<int> feedRequests{0};
  std::atomic<int> conditional{0};  // requests that carried If-None-Match

  FeedSite() {
    auto& s = fx_.server();
    s.Get("/feed.xml", [this](const httplib::Request& req, httplib::Response& res) {
      ++feedRequests;
      if (failing) {
        res.status = 500;
        return;
      }
      if (busyOnce.exchange(false)) {
        res.status = 503;
        res.set_header("Retry-After", "1");
        return;
      }
      if (req.has_header("If-None-Match")) {
        ++conditional;
        if (req.get_header_value("If-None-Match") == "\"v1\"") {
          res.status = 304;
          return;
        }
      }
      res.set_header("ETag", "\"v1\"");
      res.set_content(Rss(), "application/rss+xml");
    });
    s.Get("/atom.xml", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(
          "<?xml version='1.0'?><feed xmlns='http://www.w3.org/2005/Atom' xml:base='" + fx_.Url("/blog/") +
              "'><title type='html'>Blog &amp;amp; more</title><link href='/'/>"
              "<entry xml:base='posts/'><title>One</title><link rel='alternate' href='one.html'/>"
              "<author><name>Ann Author</name></author><updated>2024-03-05T14:30:00+01:00</updated>"
              "<content type='xhtml'><div xmlns='http://www.w3.org/1999/xhtml'><p>Atom body</p></div></content></entry>"
              "</feed>",
          "application/atom+xml");
    });
    s.Get("/page.html", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(
          "<html><head><link rel=alternate type='application/rss+xml' title=Main href='/feed.xml'>"
          "<link rel=alternate type='application/atom+xml' title=Blog href='atom.xml'></head>"
          "<body><p>Front page</p></body></html>",
          "text/html");
    });
    s.Get("/plain.html", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("<html><body><p>A page advertising nothing</p></body></html>", "text/html");
    });
    s.Get("/picture.png", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string("\x89PNG\r\n\x1a\n", 8) + std::string(100, '\0'), "image/png");
    });
    s.Get("/loop", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop"); });
    s.Get("/huge.xml", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("<rss version='2.0'><channel>" + std::string(20u << 20, ' ') + "</channel></rss>",
                      "application/rss+xml");
    });
    s.Get("/error-page.xml", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("<html><body><h1>Service unavailable</h1></body></html>", "text/html");
    });
    s.Get("/a/1.html",
          [](const httplib::Request&, httplib::Response& res) { res.set_content(Article(1), "text/html"); });
    s.Get("/a/3.html", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(
          "<html><body><article><h1>Teaser</h1><p>Just a teaser line here, nothing more.</p></article>"
          "</body></html>",
          "text/html");
    });
    fx_.Start();
  }

  std::string Rss() const {
    return "<?xml version='1.0' encoding='UTF-8'?><rss version='2.0' "
           "xmlns:content='http://purl.org/rss/1.0/modules/content/' xmlns:dc='http://purl.org/dc/elements/1.1/'>"
           "<channel><title>Town &amp; Country</title><link>" +
           fx_.Url("/") +
           "</link>"
           "<item><title><![CDATA[First <b>story</b> & more]]></title><link>" +
           fx_.Url("/a/1.html") +
           "</link>"
           "<dc:creator>Bea Writer</dc:creator><pubDate>Tue, 05 Mar 2024 14:30:00 +0200</pubDate></item>"
           "<item><title>Second story &amp;eacute;t&amp;eacute;</title><link>/a/2.html</link>"
           "<author>ed@example.org (Cy Editor)</author><pubDate>Wed, 06 Mar 2024 08:00:00 GMT</pubDate>"
           "<content:encoded><![CDATA[<p>Second story's full text from the feed.</p>]]></content:encoded></item>"
           "<item><title>Third story</title><link>" +
           fx_.Url("/a/3.html") +
           "</link>"
           "<pubDate>Thu, 07 Mar 2024 09:15:00 EST</pubDate><content:encoded><![CDATA[" +
           kLongContent +
           "]]></content:encoded></item>"
           "<item><title>Script link</title><link>javascript:alert(1)</link></item>"
           "<item><title>No link</title></item>"
           "<item><title>First again</title><link>" +
           fx_.Url("/a/1.html") +
           "</link></item>"
           "</channel></rss>";
  }
  std::string Url(const std::string& path) const { return fx_.Url(path); }
  FixtureServer& fixture() { return fx_; }

 private:
  FixtureServer fx_;
};

std::string Date(const FeedEntry& e) { return e.date.valid() ? e.date.ToString() : "null"; }

TEST(OwnFeeds, EveryFormatGivesLinksTitlesAuthorsDatesAndContent) {
  UtcZone utc;
  FeedSite site;
  // RSS 2.0: CDATA and entities in titles, relative links, zones, and the
  // entries that are no news (script link, no link, a duplicate).
  ParsedFeed rss = ParseFeed(site.Rss(), site.Url("/feed.xml"));
  ASSERT_TRUE(rss.ok) << rss.error;
  EXPECT_EQ(rss.format, "RSS 2.0");
  EXPECT_EQ(rss.title, "Town & Country");
  ASSERT_EQ(rss.entries.size(), 3u);
  EXPECT_EQ(rss.skipped, 2);
  EXPECT_EQ(rss.entries[0].title, "First story & more");
  EXPECT_EQ(rss.entries[0].author, "Bea Writer");
  EXPECT_EQ(Date(rss.entries[0]), "2024-03-05 12:30:00");
  EXPECT_EQ(rss.entries[1].address, site.Url("/a/2.html"));
  EXPECT_EQ(rss.entries[1].title, "Second story été");
  EXPECT_EQ(rss.entries[1].author, "Cy Editor");
  EXPECT_TRUE(rss.entries[1].fullContent);
  EXPECT_EQ(Date(rss.entries[2]), "2024-03-07 14:15:00");

  // Atom: xml:base on the feed and the entry, xhtml content.
  std::string atom;
  HttpSession http;
  ASSERT_EQ(http.Get(site.Url("/atom.xml"), &atom).status, 200);
  ParsedFeed a = ParseFeed(atom, site.Url("/atom.xml"));
  ASSERT_TRUE(a.ok) << a.error;
  EXPECT_EQ(a.format, "Atom 1.0");
  EXPECT_EQ(a.title, "Blog & more");
  ASSERT_EQ(a.entries.size(), 1u);
  EXPECT_EQ(a.entries[0].address, site.Url("/blog/posts/one.html"));
  EXPECT_EQ(a.entries[0].author, "Ann Author");
  EXPECT_EQ(Date(a.entries[0]), "2024-03-05 13:30:00");
  EXPECT_NE(a.entries[0].content.find("Atom body"), std::string::npos);

  // RSS 1.0 and 0.91.
  ParsedFeed rdf = ParseFeed(
      "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#' xmlns='http://purl.org/rss/1.0/' "
      "xmlns:dc='http://purl.org/dc/elements/1.1/'><channel rdf:about='http://x.test/'><title>RDF</title></channel>"
      "<item rdf:about='http://x.test/1'><title>R1</title><link>http://x.test/1</link>"
      "<dc:date>2024-03-05</dc:date><dc:creator>Dee</dc:creator></item></rdf:RDF>",
      "http://x.test/rss");
  ASSERT_TRUE(rdf.ok);
  EXPECT_EQ(rdf.format, "RSS 1.0");
  ASSERT_EQ(rdf.entries.size(), 1u);
  EXPECT_EQ(rdf.entries[0].author, "Dee");
  EXPECT_EQ(Date(rdf.entries[0]), "2024-03-05 00:00:00");
  ParsedFeed old = ParseFeed(
      "<rss version='0.91'><channel><title>Old</title><item><title>O</title>"
      "<link>http://x.test/o</link><description>Teaser</description></item></channel></rss>",
      "http://x.test/");
  ASSERT_TRUE(old.ok);
  EXPECT_EQ(old.format, "RSS 0.91");
  ASSERT_EQ(old.entries.size(), 1u);
  EXPECT_FALSE(old.entries[0].fullContent);
  EXPECT_EQ(old.entries[0].content, "Teaser");

  // Broken XML says where; an entity bomb is not expanded.
  ParsedFeed broken = ParseFeed("<rss><channel><item><title>x</item></channel></rss>", "http://x.test/");
  EXPECT_FALSE(broken.ok);
  EXPECT_NE(broken.error.find("at byte"), std::string::npos) << broken.error;
  ParsedFeed bomb = ParseFeed(
      "<?xml version='1.0'?><!DOCTYPE rss [<!ENTITY a 'aaaaaaaaaa'><!ENTITY b '&a;&a;&a;'>]>"
      "<rss><channel><item><title>&b;</title><link>http://x.test/b</link></item></channel></rss>",
      "http://x.test/");
  ASSERT_TRUE(bomb.ok);
  EXPECT_LT(bomb.entries.at(0).title.size(), 10u);
}

TEST(OwnFeeds, DatesInEveryFormAreReadAsLocalTime) {
  UtcZone utc;
  const struct {
    const char* text;
    const char* local;
  } cases[] = {
      {"Tue, 05 Mar 2024 14:30:00 GMT", "2024-03-05 14:30:00"},
      {"05 Mar 2024 14:30:00 +0100", "2024-03-05 13:30:00"},
      {"Tue, 5 Mar 24 14:30 PST", "2024-03-05 22:30:00"},
      {"Tue, 05 Mar 2024 14:30:00", "2024-03-05 14:30:00"},  // no zone: local already
      {"2024-03-05T14:30:00Z", "2024-03-05 14:30:00"},
      {"2024-03-05T14:30:00.250-05:00", "2024-03-05 19:30:00"},
      {"2024-03-05T23:30:00+0200", "2024-03-05 21:30:00"},
      {"2024-03-05 14:30", "2024-03-05 14:30:00"},
      {"2024-03", "2024-03-01 00:00:00"},
  };
  for (const auto& c : cases) {
    DateTime d;
    ASSERT_TRUE(ParseEntryDate(c.text, d)) << c.text;
    EXPECT_EQ(d.ToString(), c.local) << c.text;
  }
  for (const char* bad : {"", "yesterday", "2024-13-40", "32 Foo 2024"}) {
    DateTime d;
    EXPECT_FALSE(ParseEntryDate(bad, d)) << bad;
  }
}

TEST(OwnFeeds, FeedContentKeepsOnlyTextAndPictures) {
  ExtractionState state;
  ComposeFeedContent(std::string(kLongContent) + "<img src='/p.jpg' onerror='x()'>", "http://x.test/a/", state);
  EXPECT_NE(state.body.find("first paragraph"), std::string::npos);
  EXPECT_NE(state.body.find("Third and last"), std::string::npos);
  for (const char* gone : {"alert", "evil", "iframe", "color:red", "<p", "onerror", "<script"})
    EXPECT_EQ(state.body.find(gone), std::string::npos) << gone << " in " << state.body;
  ASSERT_EQ(state.images.size(), 1u);
  EXPECT_EQ(state.images[0].source, "http://x.test/p.jpg");
  EXPECT_NE(state.body.find("[[{0}]]"), std::string::npos);
}

TEST(OwnFeeds, DiscoveryFindsTheFeedBehindAnAddressOrSaysWhyNot) {
  FeedSite site;
  FixtureServer bare;
  bare.server().Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("<html><body><p>No feed here</p></body></html>", "text/html");
  });
  bare.Start();
  HttpSession http;
  http.SetTimeoutSeconds(10);

  Discovery feed = Discover(http, site.Url("/feed.xml"), 0, 10);
  ASSERT_TRUE(feed.ok) << feed.error;
  EXPECT_EQ(feed.kind, OwnKind::kFeed);
  EXPECT_EQ(feed.feed.entries.size(), 3u);
  PreviewFirstEntry(http, feed);
  EXPECT_EQ(feed.previewTitle, "Page title 1");
  EXPECT_EQ(feed.previewText.rfind("Paragraph 1 of article 1", 0), 0u) << feed.previewText;

  // A page advertising two feeds: both listed, the first taken unless asked.
  Discovery two = Discover(http, site.Url("/page.html"), 0, 10);
  ASSERT_TRUE(two.ok) << two.error;
  EXPECT_EQ(two.feeds, (std::vector<std::string>{site.Url("/feed.xml"), site.Url("/atom.xml")}));
  EXPECT_EQ(two.feedUrl, site.Url("/feed.xml"));
  EXPECT_EQ(two.kind, OwnKind::kPage);
  Discovery second = Discover(http, site.Url("/page.html"), 1, 10);
  ASSERT_TRUE(second.ok);
  EXPECT_EQ(second.feed.format, "Atom 1.0");
  EXPECT_FALSE(Discover(http, site.Url("/page.html"), 2, 10).ok);

  // A page that advertises none: the well-known paths.
  Discovery known = Discover(http, site.Url("/plain.html"), 0, 10);
  ASSERT_TRUE(known.ok) << known.error;
  EXPECT_EQ(known.feedUrl, site.Url("/atom.xml"));  // /feed and /rss answer 404 here

  // What is no feed, each with its own words.
  const struct {
    std::string address;
    const char* says;
  } bad[] = {
      {bare.Url("/"), "No feed found"},
      {site.Url("/picture.png"), "neither a feed nor a web page"},
      {site.Url("/loop"), "Can not read"},
      {site.Url("/huge.xml"), "larger than"},
      {site.Url("/missing.xml"), "HTTP status 404"},
      {"127.0.0.1:1/feed", "Can not read"},
  };
  for (const auto& b : bad) {
    Discovery d = Discover(http, b.address, 0, 10);
    EXPECT_FALSE(d.ok) << b.address;
    EXPECT_NE(d.error.find(b.says), std::string::npos) << b.address << ": " << d.error;
  }
  // A feed that turned into an HTML error page, for a run.
  FeedFetch page = FetchFeed(http, site.Url("/error-page.xml"), "", "", 10);
  EXPECT_EQ(page.outcome, FeedFetch::Outcome::kFailed);
  EXPECT_NE(page.error.find("web page instead of its feed"), std::string::npos) << page.error;
  // Addresses as a browser takes them.
  EXPECT_EQ(NormalizeAddress("  example.org/a b/ü?q=x y "), "http://example.org/a%20b/%C3%BC?q=x%20y");
  EXPECT_EQ(NormalizeAddress("https://example.org"), "https://example.org/");
}

class OwnRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings s = home_.settings();
    s.WriteText(kSystemSection, "PathDB", home_.dbPath());
    s.WriteText(kSystemSection, "DownloadURL", "");
    s.WriteInt(kDownloadSection, "ConnectTimeout", 10);
    s.WriteInt(kDownloadSection, "LoadImages", 0);
  }

  int64_t AddOwn(const std::string& address, const std::string& name, const std::string& category = "News") {
    OwnSite o;
    o.address = address;
    o.site = name;
    o.category = category;
    std::string why;
    EXPECT_TRUE(AddOwnSite(home_.db(), o, std::time(nullptr), &why)) << why;
    return o.pair;
  }

  std::vector<std::string> Run(int expected = 1) {
    GathererEngine engine;
    std::vector<std::string> statuses;
    int complite = 0;
    QObject::connect(&engine, &GathererEngine::OnProcessStatus,
                     [&](const QString& s, int) { statuses.push_back(s.toStdString()); });
    QObject::connect(&engine, &GathererEngine::Complite, [&](int c) { complite = c; });
    engine.StartProcess();
    for (int i = 0; i < 1200 && complite == 0; ++i) QTest::qWait(50);
    EXPECT_EQ(complite, expected) << home_.Log();
    return statuses;
  }
  std::string Field(const std::string& column, const std::string& address) {
    return home_.Text("SELECT " + column + " FROM newsitem WHERE src_url = '" + address + "'");
  }

  EngineHome home_;
  FeedSite site_;
};

TEST_F(OwnRunTest, WithoutAnUpdatesServerTheOwnSitesAreGatheredFromTheirFeeds) {
  UtcZone utc;
  const int64_t pair = AddOwn(site_.Url("/feed.xml"), "Town");
  // A catalogue pair with its masks: left exactly as it is.
  const int64_t cat = home_.AddPair("Catalogue site", "News", true);
  home_.AddMask(cat, 0, 3, "00");
  home_.AddMask(cat, 1, 3, "00");

  std::vector<std::string> statuses = Run();
  EXPECT_NE(home_.Log().find("No updates server is set; only your own sites are downloaded."), std::string::npos);
  EXPECT_NE(
      std::find(statuses.begin(), statuses.end(), "No updates server is set; only your own sites are downloaded."),
      statuses.end());
  EXPECT_EQ(home_.Log().find("Checking for updates"), std::string::npos);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM news_masks WHERE mask_version = 3"), 2);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM site_cat_rel"), 2);

  ASSERT_EQ(home_.Count("SELECT count(*) FROM newsitem WHERE fk_site_cat_rel = " + std::to_string(pair)), 3)
      << home_.Log();
  // The page's body, the feed's title, author and date.
  const std::string a1 = site_.Url("/a/1.html");
  EXPECT_EQ(Field("title", a1), "First story & more");
  EXPECT_EQ(Field("author", a1), "Bea Writer");
  EXPECT_EQ(Field("publication_date", a1), "2024-03-05 12:30:00");
  EXPECT_EQ(Field("body", a1).rfind("Paragraph 1 of article 1", 0), 0u) << Field("body", a1);
  EXPECT_EQ(Field("body", a1).find("Imprint"), std::string::npos);
  // The page that answers 404: the feed's own text.
  EXPECT_EQ(Field("body", site_.Url("/a/2.html")), "Second story's full text from the feed.");
  // The teaser page: the feed's much longer full text, sanitised.
  const std::string b3 = Field("body", site_.Url("/a/3.html"));
  EXPECT_NE(b3.find("first paragraph"), std::string::npos) << b3;
  EXPECT_EQ(b3.find("alert"), std::string::npos);
  EXPECT_EQ(b3.find("evil"), std::string::npos);
  // Marked as found without a mask.
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem_auto"), 3);
  EXPECT_EQ(LatestHealth(home_.db(), int(pair)).state, PairHealth::kHealthy);
  EXPECT_EQ(statuses.back(), "Download completed.");

  // The next run asks with the feed's ETag: a 304, nothing parsed, nothing new.
  Run();
  EXPECT_EQ(site_.conditional.load(), 1);
  EXPECT_NE(home_.Log().find("the feed is not modified since the last download"), std::string::npos);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 3);

  // A feed that stops answering after it yielded: broken since, news kept.
  site_.failing = true;
  statuses = Run();
  HealthVerdict v = LatestHealth(home_.db(), int(pair));
  EXPECT_EQ(v.state, PairHealth::kBroken);
  EXPECT_NE(v.symptom.find("HTTP status 500"), std::string::npos) << v.symptom;
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 3);
}

TEST_F(OwnRunTest, RetryAfterIsWaitedForAndAutoExtractOffSaysOwnSitesNeedIt) {
  AddOwn(site_.Url("/feed.xml"), "Town");
  home_.settings().WriteInt(kDownloadSection, "AutoExtract", 0);
  std::vector<std::string> statuses = Run();
  EXPECT_NE(home_.Log().find("1 own sites are not downloaded: they need automatic extraction"), std::string::npos);
  EXPECT_EQ(site_.feedRequests.load(), 0);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 0);

  home_.settings().WriteInt(kDownloadSection, "AutoExtract", 1);
  site_.busyOnce = true;
  Run();
  EXPECT_EQ(site_.feedRequests.load(), 2);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 3) << home_.Log();
}

TEST_F(OwnRunTest, TheCatalogueUpdateLeavesOwnPairsAlone) {
  // An own pair under the very names a catalogue lists, with a news item.
  const int64_t own = AddOwn(site_.Url("/feed.xml"), "Site A");
  {
    Statement st(home_.db(), "INSERT INTO newsitem (fk_site_cat_rel, src_url, title, body) VALUES (?, 'u', 't', 'b')");
    st.Bind(1, own).Execute();
  }
  ASSERT_EQ(OpenDatabase(), 0);
  Database& db = *ProcessDatabase();
  HttpSession http;
  UpdateServer server = UpdateAddresses("127.0.0.1:1/catalogue.asp");
  // A catalogue that lists the same names: a site of its own beside ours.
  Catalogue listed;
  listed.pairs.push_back({"Site A", "News", "L", 1, "N", 1, 0});
  listed.siteRows = 1;
  ASSERT_EQ(MarkAllMasks(db), 0);
  EXPECT_TRUE(ApplyCatalogue(db, http, server, listed, true, [](const std::string&) {}));
  WithdrawUnconfirmedMasks(db);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM news_config WHERE site_name = 'Site A'"), 2);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM news_masks WHERE fk_site_cat_rel = " + std::to_string(own)), 0);

  // A catalogue that lists no site: every catalogue mask is withdrawn and
  // cleaned up, the own pair, its site, category, row and news stay.
  ASSERT_EQ(MarkAllMasks(db), 0);
  EXPECT_FALSE(ApplyCatalogue(db, http, server, Catalogue{}, true, [](const std::string&) {}));
  WithdrawUnconfirmedMasks(db);
  DeleteOrphanCatalogue([](const std::string&) {});
  EXPECT_EQ(home_.Count("SELECT count(*) FROM site_cat_rel"), 1);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM own_site WHERE fk_site_cat_rel = " + std::to_string(own)), 1);
  EXPECT_EQ(home_.Text("SELECT ns.site_name || '/' || nc.name FROM site_cat_rel r JOIN news_config ns ON "
                       "ns.id = r.fk_news_config JOIN news_cat nc ON nc.id = r.fk_news_cat"),
            "Site A/News");
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 1);
  EXPECT_EQ(home_.Count("SELECT is_selected FROM site_cat_rel"), 1);
}

// The OPML exports of three kinds of feed readers, written to their shape.
const char kCloudReader[] =
    "<?xml version='1.0' encoding='UTF-8'?><opml version='1.0'><head><title>Subscriptions</title></head><body>"
    "<outline text='Tech' title='Tech'>"
    "<outline type='rss' text='Gadgets' title='Gadgets' xmlUrl='http://g.test/feed' htmlUrl='http://g.test/'/>"
    "<outline type='rss' text='Code' title='Code' xmlUrl='http://c.test/rss.xml' htmlUrl='http://c.test/'/>"
    "</outline><outline text='News' title='News'>"
    "<outline type='rss' text='Daily &amp; Co' title='Daily &amp; Co' xmlUrl='http://d.test/atom.xml'/>"
    "</outline></body></opml>";
// A desktop client's: nested folders, text only, feeds at the top too.
const char kDesktopClient[] =
    "<?xml version='1.0'?><opml version='2.0'><head/><body>"
    "<outline text='Blogs'><outline text='Friends'>"
    "<outline text='Ann' type='rss' xmlUrl='http://ann.test/feed.xml' htmlUrl='http://ann.test'/>"
    "</outline></outline>"
    "<outline text='Loose' type='rss' xmlUrl='http://loose.test/index.xml'/></body></opml>";
// A self-hosted reader's: lower-case attribute names, no type, a title only.
const char kSelfHosted[] =
    "<opml version='2.0'><body><outline title='All'>"
    "<outline title='Same' xmlurl='http://s1.test/feed'/><outline title='Same' xmlurl='http://s2.test/feed'/>"
    "</outline></body></opml>";

TEST_F(OwnRunTest, OpmlOfCommonReadersImportsAndExportsTheSamePairs) {
  OpmlImport a = ImportOpml(home_.db(), kCloudReader, std::time(nullptr));
  ASSERT_TRUE(a.ok) << a.error;
  EXPECT_EQ(a.added, 3);
  OpmlImport b = ImportOpml(home_.db(), kDesktopClient, std::time(nullptr));
  ASSERT_TRUE(b.ok) << b.error;
  OpmlImport c = ImportOpml(home_.db(), kSelfHosted, std::time(nullptr));
  ASSERT_TRUE(c.ok) << c.error;
  auto pairs = [](Database& db) {
    std::vector<std::string> out;
    for (const OwnSite& s : ListOwnSites(db)) out.push_back(s.category + "|" + s.site + "|" + s.address);
    std::sort(out.begin(), out.end());
    return out;
  };
  const std::vector<std::string> expected = {
      "All|Same (2)|http://s2.test/feed",       "All|Same|http://s1.test/feed",
      "Friends|Ann|http://ann.test/feed.xml",   "News|Daily & Co|http://d.test/atom.xml",
      "News|Loose|http://loose.test/index.xml", "Tech|Code|http://c.test/rss.xml",
      "Tech|Gadgets|http://g.test/feed"};
  EXPECT_EQ(pairs(home_.db()), expected);
  // Again: every feed is there already.
  OpmlImport again = ImportOpml(home_.db(), kCloudReader, std::time(nullptr));
  EXPECT_TRUE(again.ok);
  EXPECT_EQ(again.added, 0);
  EXPECT_EQ(again.skipped, 3);

  // Export, then import into a new database: the same pairs.
  const std::string opml = ExportOpml(home_.db());
  EXPECT_NE(opml.find("<opml version=\"2.0\">"), std::string::npos);
  testing::TempDir other;
  std::unique_ptr<Database> fresh;
  ASSERT_EQ(Database::Open(other.File("n.db"), Database::Mode::kCreate, &fresh), 0);
  OpmlImport back = ImportOpml(*fresh, opml, std::time(nullptr));
  ASSERT_TRUE(back.ok) << back.error;
  EXPECT_EQ(pairs(*fresh), expected);
}

TEST_F(OwnRunTest, HostileOpmlIsRefusedWithNothingHalfStored) {
  std::string many = "<opml version='2.0'><body>";
  for (int i = 0; i < 5000; ++i) many += "<outline text='f' xmlUrl='http://m.test/" + std::to_string(i) + "'/>";
  many += "</body></opml>";
  const struct {
    std::string bytes;
    const char* says;
  } bad[] = {
      {"just some text", "not well-formed XML"},
      {"<html><body>page</body></html>", "not OPML"},
      {"<opml><body>" + std::string(10u << 20, ' ') + "</body></opml>", "larger than"},
      {"<?xml version='1.0'?><!DOCTYPE opml [<!ENTITY a 'x'>]><opml><body><outline xmlUrl='http://a.test/&a;'/>"
       "</body></opml>",
       "entities"},
      {many, "more than 2000 feeds"},
      // The third feed is bad: the first two must not stay.
      {"<opml><body><outline text='1' xmlUrl='http://1.test/f'/><outline text='2' xmlUrl='http://2.test/f'/>"
       "<outline text='3' xmlUrl='file:///etc/passwd'/></body></opml>",
       "not an http"},
  };
  for (const auto& b : bad) {
    OpmlImport r = ImportOpml(home_.db(), b.bytes, std::time(nullptr));
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find(b.says), std::string::npos) << r.error;
  }
  EXPECT_EQ(home_.Count("SELECT count(*) FROM own_site"), 0);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM site_cat_rel"), 0);
}

// What a user types, run as the real program: orvo COMMAND ARGS.
std::string OrvoCommand(const std::string& home, const std::string& args, int* rc = nullptr) {
  std::string cmd = std::string(ORVO_BIN_DIR) + "/orvo " + args + " --home " + home + " 2>&1 < /dev/null";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return "cannot run " + cmd;
  std::string out;
  char buf[512];
  while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  int status = ::pclose(p);
  if (rc) *rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

std::string Orvo(const std::string& home, const std::string& args, int* rc = nullptr) {
  return OrvoCommand(home, "site " + args, rc);
}

TEST_F(OwnRunTest, TheSiteCommandAddsListsRenamesAndRemoves) {
  int rc = -1;
  std::string out = Orvo(home_.dir(), "add " + site_.Url("/page.html") + " --category Local", &rc);
  EXPECT_EQ(rc, 0) << out;
  for (const std::string& part : std::vector<std::string>{
           "The page advertises 2 feeds", "1. " + site_.Url("/feed.xml") + "  <- taken", "2. " + site_.Url("/atom.xml"),
           std::string("Found the feed \"Town & Country\" (RSS 2.0, 3 entries)"),
           std::string("  1. First story & more"), std::string("  3. Third story"),
           std::string("Automatic extraction of the first: \"Page title 1\": Paragraph 1"),
           std::string("Added Town & Country/Local (selected)")})
    EXPECT_NE(out.find(part), std::string::npos) << part << "\n" << out;
  out = Orvo(home_.dir(), "add " + site_.Url("/feed.xml"), &rc);
  EXPECT_EQ(rc, 1);
  EXPECT_NE(out.find("nothing stored: this feed is there already, as Town & Country/Local"), std::string::npos) << out;
  FixtureServer bare;
  bare.server().Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("<html><body><p>No feed</p></body></html>", "text/html");
  });
  bare.Start();
  out = Orvo(home_.dir(), "add " + bare.Url("/"), &rc);
  EXPECT_EQ(rc, 1);
  EXPECT_NE(out.find("No feed found"), std::string::npos) << out;
  EXPECT_EQ(home_.Count("SELECT count(*) FROM own_site"), 1);
  // With no updates server, a download goes on with the own sites instead
  // of refusing (here it then finds no bus to run on).
  out = OrvoCommand(home_.dir(), "download", &rc);
  EXPECT_NE(out.find("No updates server is set; only your own sites are downloaded."), std::string::npos) << out;
  EXPECT_EQ(out.find("Set DownloadURL"), std::string::npos) << out;

  out = Orvo(home_.dir(), "rename \"Town & Country/Local\" \"Town/Around\"", &rc);
  EXPECT_EQ(rc, 0) << out;
  out = Orvo(home_.dir(), "list", &rc);
  EXPECT_NE(out.find("[x] Town/Around  " + site_.Url("/feed.xml")), std::string::npos) << out;

  // Removed with its news kept: gone from the lists, the news stay.
  const int64_t pair = ListOwnSites(home_.db()).at(0).pair;
  {
    Statement st(home_.db(), "INSERT INTO newsitem (fk_site_cat_rel, src_url, title, body) VALUES (?, 'u', 't', 'b')");
    st.Bind(1, pair).Execute();
  }
  out = Orvo(home_.dir(), "remove Town", &rc);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("Removed Town/Around; its news stay"), std::string::npos) << out;
  EXPECT_NE(Orvo(home_.dir(), "list").find("No own site yet"), std::string::npos);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 1);
  EXPECT_EQ(home_.Count("SELECT is_selected FROM site_cat_rel"), 0);
  // Added again, it comes back with them; removed with its news, all goes.
  Orvo(home_.dir(), "add " + site_.Url("/feed.xml"), &rc);
  EXPECT_EQ(rc, 0);
  out = Orvo(home_.dir(), "remove Town/Around --with-news", &rc);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 0);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM site_cat_rel"), 0);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM news_config"), 0);
}

}  // namespace
}  // namespace orvo

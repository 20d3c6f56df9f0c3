// Runs that fetch several sites at once (ParallelSites), against many small
// sites on 127.0.0.1.
#include <gtest/gtest.h>

#include <QTest>

#include <cctype>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine_home.h"
#include "run.h"
#include "site_farm.h"

namespace orvo {
namespace {

using testing::EngineHome;
using testing::PrepareFarmHome;
using testing::SiteFarm;
using testing::SiteFarmOptions;

struct Recorded {
  std::vector<std::string> statuses;
  std::vector<int> complites;
};

void Record(GathererEngine& engine, Recorded& rec) {
  QObject::connect(&engine, &GathererEngine::OnProcessStatus,
                   [&rec](const QString& s, int) { rec.statuses.push_back(s.toStdString()); });
  QObject::connect(&engine, &GathererEngine::Complite, [&rec](int status) { rec.complites.push_back(status); });
}

template <typename Done>
bool WaitFor(Done done, int seconds) {
  for (int i = 0; i < seconds * 20 && !done(); ++i) QTest::qWait(50);
  return done();
}

// One whole run; false when it did not end in time.
bool RunOnce(GathererEngine& engine, Recorded& rec, int seconds = 90) {
  const size_t before = rec.complites.size();
  engine.StartProcess();
  return WaitFor([&] { return rec.complites.size() > before; }, seconds);
}

// How many times each address is stored.
std::map<std::string, int64_t> StoredCounts(EngineHome& home) {
  std::map<std::string, int64_t> counts;
  Statement st(home.db(), "SELECT src_url, count(*) FROM newsitem GROUP BY src_url");
  while (st.Next()) counts[st.Text(0)] = st.Int(1);
  return counts;
}

std::map<std::string, int64_t> EachOnce(const std::vector<std::string>& addresses) {
  std::map<std::string, int64_t> once;
  for (const auto& a : addresses) once[a] = 1;
  return once;
}

// The log's messages, with the program folder taken out.
std::vector<std::string> LogMessages(const EngineHome& home) {
  std::vector<std::string> messages;
  std::istringstream in(home.Log());
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Message: ", 0) != 0) continue;
    for (size_t at; (at = line.find(home.dir())) != std::string::npos;) line.replace(at, home.dir().size(), "<home>");
    messages.push_back(line);
  }
  return messages;
}

int64_t Items(EngineHome& home) { return home.Count("SELECT count(*) FROM newsitem"); }

// Requests as pages and pictures, each in its own order: the next page is
// read ahead while the pictures of the last one come, so the two interleave
// as the network lets them.
std::pair<std::vector<std::string>, std::vector<std::string>> PagesAndPictures(const std::vector<std::string>& requests) {
  std::pair<std::vector<std::string>, std::vector<std::string>> split;
  for (const std::string& r : requests) (r.find("/img/") == std::string::npos ? split.first : split.second).push_back(r);
  return split;
}

// Each site's pages come in the order the sequential run asks for them, and
// a story that several sites list is stored once, whichever site got there
// first.
TEST(ParallelSitesTest, FourAtATimeStoreEveryAddressOnceAndEachSiteInItsOwnOrder) {
  SiteFarmOptions o;
  o.sites = 6;
  o.stories = 4;
  o.imagesPerStory = 1;
  o.delayMs = 20;
  o.sharedStories = 2;

  std::vector<std::vector<std::string>> sequential(o.sites + 1);
  {
    SiteFarm farm(o);
    EngineHome home;
    PrepareFarmHome(home, farm, 20, 0);
    GathererEngine engine;
    Recorded rec;
    Record(engine, rec);
    ASSERT_TRUE(RunOnce(engine, rec));
    ASSERT_EQ(StoredCounts(home), EachOnce(farm.AllStories()));
    for (int k = 1; k <= o.sites; ++k) sequential[k] = farm.SiteRequests(k);
  }

  SiteFarm farm(o);
  EngineHome home;
  PrepareFarmHome(home, farm, 20, 4);
  GathererEngine engine;
  Recorded rec;
  Record(engine, rec);
  ASSERT_TRUE(RunOnce(engine, rec));
  EXPECT_EQ(rec.complites, std::vector<int>{1});
  EXPECT_EQ(rec.statuses.back(), "Download completed.");
  EXPECT_EQ(StoredCounts(home), EachOnce(farm.AllStories()));
  EXPECT_EQ(home.Count("SELECT count(*) FROM newsimages"), 6 * 4 + 2);
  EXPECT_EQ(home.Count("SELECT count(DISTINCT fk_newsitem || '_' || bodypos) FROM newsimages"), 6 * 4 + 2);
  for (int k = 1; k <= o.sites; ++k) {
    EXPECT_EQ(PagesAndPictures(farm.SiteRequests(k)), PagesAndPictures(sequential[k])) << "site " << k;
    const std::string site = "Site: [" + SiteFarm::SiteName(k) + "], Category: [News] ";
    EXPECT_NE(std::find(rec.statuses.begin(), rec.statuses.end(),
                        site + "<News searching...> URL: [" + farm.Url("/s" + std::to_string(k) + "/list.html") + "]"),
              rec.statuses.end());
    // How many links the site's list still has depends on what the other
    // sites had taken by then.
    const std::string first = " URL: [" + farm.Story(k, 1) + "]";
    EXPECT_TRUE(std::any_of(rec.statuses.begin(), rec.statuses.end(), [&](const std::string& s) {
      return s.rfind(site + "<News: 1 from ", 0) == 0 && s.size() > first.size() &&
             s.compare(s.size() - first.size(), first.size(), first) == 0;
    })) << "site " << k;
  }
  // Each shared story was fetched by one site only.
  EXPECT_EQ(farm.fixture().CountRequests("GET /shared/1.html"), 1);
  EXPECT_EQ(farm.fixture().CountRequests("GET /shared/2.html"), 1);
  EXPECT_NE(home.Log().find("Downloading 6 sites, 4 at a time."), std::string::npos);

  // The next run finds everything stored and asks for no story again.
  ASSERT_TRUE(RunOnce(engine, rec));
  EXPECT_EQ(rec.complites, (std::vector<int>{1, 1}));
  EXPECT_EQ(StoredCounts(home), EachOnce(farm.AllStories()));
  EXPECT_EQ(farm.fixture().CountRequests("GET /s3/1.html"), 1);
  EXPECT_EQ(farm.fixture().CountRequests("GET /s3/list.html"), 2);
}

// One site at a time, set or not, is the sequential run: one site after the
// other, with the same requests, statuses and log.
TEST(ParallelSitesTest, OneAtATimeIsTheSequentialRunRequestForRequest) {
  SiteFarmOptions o;
  o.sites = 3;
  o.stories = 3;
  o.imagesPerStory = 1;
  o.sharedStories = 1;
  SiteFarm farm(o);
  struct Outcome {
    std::vector<std::string> requests, statuses, log;
  };
  auto run = [&farm](int parallelSites) {
    Outcome out;
    const size_t before = farm.Arrivals().size();
    EngineHome home;
    PrepareFarmHome(home, farm, 20, parallelSites);
    GathererEngine engine;
    Recorded rec;
    Record(engine, rec);
    EXPECT_TRUE(RunOnce(engine, rec));
    EXPECT_EQ(StoredCounts(home), EachOnce(farm.AllStories()));
    const std::vector<std::string> all = farm.Arrivals();
    out.requests.assign(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    out.statuses = rec.statuses;
    out.log = LogMessages(home);
    return out;
  };
  const Outcome unset = run(0);
  const Outcome one = run(1);
  EXPECT_EQ(PagesAndPictures(one.requests), PagesAndPictures(unset.requests));
  EXPECT_EQ(one.statuses, unset.statuses);
  EXPECT_EQ(one.log, unset.log);

  // Site after site: no page of a site is asked for once the next one began.
  int lastSite = 0;
  for (const std::string& r : one.requests) {
    if (r.rfind("GET /s", 0) != 0 || r.size() < 7 || !std::isdigit(static_cast<unsigned char>(r[6]))) continue;
    const int site = std::stoi(r.substr(6));
    EXPECT_GE(site, lastSite) << r;
    lastSite = site;
  }
  EXPECT_EQ(lastSite, 3);
  for (const std::string& line : one.log) EXPECT_EQ(line.find("at a time"), std::string::npos) << line;
}

TEST(ParallelSitesTest, AHangingSiteDoesNotHoldTheOthers) {
  SiteFarmOptions o;
  o.sites = 4;
  o.stories = 3;
  o.hangingSite = 1;
  SiteFarm farm(o);
  EngineHome home;
  PrepareFarmHome(home, farm, 120, 4);
  GathererEngine engine;
  Recorded rec;
  Record(engine, rec);
  engine.StartProcess();
  // Sites 2 to 4 are all stored while site 1's list page is still awaited;
  // one site at a time, nothing would be stored before it answered.
  ASSERT_TRUE(WaitFor([&] { return Items(home) == 9; }, 60));
  EXPECT_TRUE(farm.hanging());
  EXPECT_TRUE(rec.complites.empty());
  EXPECT_EQ(home.Count("SELECT count(*) FROM newsitem WHERE src_url LIKE '%/s1/%'"), 0);

  farm.Release();
  ASSERT_TRUE(WaitFor([&] { return !rec.complites.empty(); }, 60));
  EXPECT_EQ(rec.complites, std::vector<int>{1});
  EXPECT_EQ(StoredCounts(home), EachOnce(farm.AllStories()));
}

TEST(ParallelSitesTest, StopDuringAParallelRunEndsEveryLaneAndLosesNothing) {
  SiteFarmOptions o;
  o.sites = 4;
  o.stories = 6;
  o.imagesPerStory = 2;
  o.delayMs = 100;
  o.hangingSite = 2;
  auto farm = std::make_unique<SiteFarm>(o);
  EngineHome home;
  PrepareFarmHome(home, *farm, 120, 4);
  GathererEngine engine;
  Recorded rec;
  Record(engine, rec);
  engine.StartProcess();
  ASSERT_TRUE(WaitFor([&] { return farm->hanging() && Items(home) >= 2; }, 60));
  ASSERT_TRUE(engine.running());
  engine.Stop();
  QTest::qWait(200);
  EXPECT_FALSE(engine.running());
  const size_t seen = rec.statuses.size();
  const int64_t stored = Items(home);
  QTest::qWait(1000);
  EXPECT_EQ(rec.statuses.size(), seen);
  EXPECT_TRUE(rec.complites.empty());
  EXPECT_EQ(Items(home), stored);
  // Whatever is stored is whole: every item with both its pictures.
  EXPECT_EQ(home.Count("SELECT count(*) FROM newsimages"), 2 * stored);

  // The next run brings the rest, each story once.
  farm->Release();
  ASSERT_TRUE(RunOnce(engine, rec));
  EXPECT_EQ(rec.complites, std::vector<int>{1});
  EXPECT_EQ(StoredCounts(home), EachOnce(farm->AllStories()));
  EXPECT_EQ(home.Count("SELECT count(*) FROM newsimages"), 2 * 4 * 6);
}

TEST(ParallelSitesTest, OutOfRangeValuesAreClampedAndLogged) {
  SiteFarmOptions o;
  o.sites = 2;
  o.stories = 2;
  SiteFarm farm(o);
  EngineHome home;
  PrepareFarmHome(home, farm, 20, 0);
  GathererEngine engine;
  Recorded rec;
  Record(engine, rec);
  for (int value : {0, -3, 1000}) {
    home.settings().WriteInt(kDownloadSection, "ParallelSites", value);
    ASSERT_TRUE(RunOnce(engine, rec)) << value;
    EXPECT_EQ(rec.complites.back(), 1);
  }
  const std::string log = home.Log();
  EXPECT_NE(log.find("ParallelSites 0 is out of range (1 to 16); 1 is used."), std::string::npos);
  EXPECT_NE(log.find("ParallelSites -3 is out of range (1 to 16); 1 is used."), std::string::npos);
  EXPECT_NE(log.find("ParallelSites 1000 is out of range (1 to 16); 16 is used."), std::string::npos);
  EXPECT_NE(log.find("Downloading 2 sites, 2 at a time."), std::string::npos);
  EXPECT_EQ(StoredCounts(home), EachOnce(farm.AllStories()));
}

}  // namespace
}  // namespace orvo

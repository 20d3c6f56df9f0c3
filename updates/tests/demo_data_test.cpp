// The demo catalogue against the demo sites, page by page, through the mask
// library: every list mask finds its stories with their dates, every news
// mask gives a title, an author, a body and pictures that exist.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "gatherer/masks/extraction.h"
#include "gatherer/masks/html_document.h"
#include "gatherer/masks/mask.h"
#include "test_support.h"
#include "updates/catalogue.h"

namespace orvo::updates {
namespace {

const std::string kDemo = std::string(ORVO_SOURCE_DIR) + "/demo-data";
const std::string kOrigin = "http://127.0.0.1:8642";

// The file behind an address of the demo server.
std::string SiteFile(const std::string& address) {
  EXPECT_EQ(address.rfind(kOrigin + "/", 0), 0u) << address;
  return kDemo + "/sites" + address.substr(kOrigin.size());
}

struct Story {
  std::string pair, title, author, body, date;
  std::vector<ImageRef> images;
};

class DemoDataTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    LoadResult r = LoadCatalogue(kDemo + "/catalogue");
    ASSERT_TRUE(r.catalogue) << r.error;
    EXPECT_TRUE(r.warnings.empty()) << r.warnings[0];
    catalogue_ = r.catalogue;
    for (const auto& site : catalogue_->sites)
      for (const auto& pair : site.pairs) Gather(site.name + "/" + pair.category, pair);
  }

  // What one download of the pair would store, with Days set so that dates
  // come from the addresses where the page shows none.
  static void Gather(const std::string& name, const CataloguePair& pair) {
    MaskLoadResult list = LoadMaskHtml(ExpandMask(catalogue_->masks.at(pair.list_mask), kOrigin), MaskPhase::kList);
    ASSERT_EQ(list.outcome, MaskLoadOutcome::kLoaded) << pair.list_mask;
    std::string address = list.mask.list_url;
    HtmlDocument page = HtmlDocument::FromBytes(orvo::testing::ReadFile(SiteFile(address)), "", address);
    ExtractionState state;
    state.list_phase = true;
    DateTime now = DateTime::Make(2026, 12, 8, 12, 0, 0);
    state.BeginPage(now);
    WalkPage(page, list.mask, state);
    ApplyLinkDates(list.mask, 3650, now, state);
    link_counts_[name] = state.links.size();

    MaskLoadResult news = LoadMaskHtml(ExpandMask(catalogue_->masks.at(pair.news_mask), kOrigin), MaskPhase::kNews);
    ASSERT_EQ(news.outcome, MaskLoadOutcome::kLoaded) << pair.news_mask;
    for (const auto& link : state.links) {
      HtmlDocument story = HtmlDocument::FromBytes(orvo::testing::ReadFile(SiteFile(link.address)), "", link.address);
      ExtractionState item;
      item.BeginPage(now);
      WalkPage(story, news.mask, item);
      FinishedNewsItem done = FinishNewsItem(item, link.address);
      stories_[link.address] = Story{name, done.title, done.author, done.body,
                                     link.date.valid() ? link.date.ToString() : "", done.images};
    }
  }

  static std::shared_ptr<const Catalogue> catalogue_;
  static std::map<std::string, size_t> link_counts_;
  static std::map<std::string, Story> stories_;  // by address
};

std::shared_ptr<const Catalogue> DemoDataTest::catalogue_;
std::map<std::string, size_t> DemoDataTest::link_counts_;
std::map<std::string, Story> DemoDataTest::stories_;

TEST_F(DemoDataTest, EveryPairFindsItsStories) {
  std::map<std::string, size_t> expected = {
      {"The Harbour Daily/World", 4},  {"The Harbour Daily/Business", 4}, {"The Harbour Daily/Sport", 4},
      {"Речной вестник/Город", 5},      {"Речной вестник/Культура", 5},    {"Valley Chronicle/Local", 3},
      {"Valley Chronicle/Arts", 3},    {"Valley Chronicle/Sport", 3},
  };
  EXPECT_EQ(link_counts_, expected);  // podcasts, script links and repeats dropped
  EXPECT_EQ(stories_.size(), 31u);
}

TEST_F(DemoDataTest, EveryStoryIsWholeWithPicturesThatExist) {
  std::set<std::string> pictures;
  for (const auto& [address, s] : stories_) {
    EXPECT_FALSE(s.title.empty()) << address;
    EXPECT_FALSE(s.author.empty()) << address;
    EXPECT_GT(s.body.size(), 60u) << address;
    EXPECT_FALSE(s.date.empty()) << address << " has no date";
    ASSERT_FALSE(s.images.empty()) << address;
    for (size_t i = 0; i < s.images.size(); ++i) {
      EXPECT_NE(s.body.find("[[{" + std::to_string(i) + "}]]"), std::string::npos) << address;
      EXPECT_FALSE(s.images[i].caption.empty()) << address;
      EXPECT_TRUE(std::filesystem::is_regular_file(SiteFile(s.images[i].source))) << s.images[i].source;
      pictures.insert(s.images[i].source);
    }
  }
  EXPECT_EQ(pictures.size(), 34u);
}

TEST_F(DemoDataTest, DatesComeFromTheListOrTheAddress) {
  auto at = [&](const std::string& path) { return stories_.at(kOrigin + path); };
  // Headings above their links (dateFirst).
  EXPECT_EQ(at("/daily/world/ferry-strike-ends.html").date, "2026-11-28 00:00:00");
  EXPECT_EQ(at("/daily/world/twin-town-visit.html").date, "2026-11-26 00:00:00");
  // A date after each link, with Russian month names and a time.
  EXPECT_EQ(at("/vestnik/kultura/kino.html").date, "2026-11-25 17:40:00");
  // Only in the address.
  EXPECT_EQ(at("/chronicle/arts/20261120-poetry-night.html").date, "2026-11-20 00:00:00");
}

TEST_F(DemoDataTest, TextOfTheWindows1251SiteArrivesAsUtf8) {
  const Story& s = stories_.at(kOrigin + "/vestnik/kultura/teatr.html");
  EXPECT_EQ(s.title, "Театр открыл сезон «Грозой»");
  EXPECT_EQ(s.author, "Ольга Белова");
  EXPECT_NE(s.body.find("Драматический театр открыл сезон"), std::string::npos) << s.body;
  EXPECT_EQ(s.images[0].caption, "Сцена из спектакля.");
  const Story& d = stories_.at(kOrigin + "/daily/world/harbour-bridge-reopens.html");
  EXPECT_NE(d.body.find("“It feels like the town has been stitched back together,” said one café owner."),
            std::string::npos)
      << d.body;
}

}  // namespace
}  // namespace orvo::updates

// The layer's reads and writes for the command line and the engine give the
// same rows on SQLite and on a PostgreSQL server.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "database.h"
#include "pg_server.h"
#include "store/mask_health.h"
#include "store/masks.h"
#include "store/own_sites.h"
#include "store/pairs.h"
#include "store/schema.h"
#include "test_support.h"
#include "text.h"

namespace orvo {
namespace {

class LayerTest : public ::testing::TestWithParam<Database::Backend> {
 protected:
  void SetUp() override {
    std::string location = dir_.File("news.db");
    if (GetParam() == Database::Backend::kPostgres) {
      ORVO_NEED_POSTGRES(server);
      location = server->NewDatabase();
      ASSERT_FALSE(location.empty());
    }
    std::string why;
    ASSERT_EQ(Database::Open(location, Database::Mode::kCreate, &db_, &why), 0) << why;
    // Names whose order differs between byte order and a locale's: "Zeit"
    // before "ab", "World" before "sport", "Ärzte" after all.
    ASSERT_EQ(Exec("INSERT INTO news_config(site_name) VALUES ('ab'), ('Zeit'), ('\xC3\x84rzte');"
                   "INSERT INTO news_cat(name) VALUES ('World'), ('sport'), ('It''s');"
                   "INSERT INTO site_cat_rel(is_selected, fk_news_cat, fk_news_config) VALUES"
                   " (1, 1, 1), (0, 2, 1), (1, 3, 2), (1, 1, 3);"
                   "INSERT INTO news_masks(mask, mask_version, type, fk_site_cat_rel) VALUES"
                   " ('3C613E', 2, 0, 1), ('3C613E', 3, 1, 1), ('', 0, 0, 2), ('', 0, 1, 2),"
                   " ('3C623E', 1, 128, 3), ('', 0, 1, 3), ('3C633E', 4, 0, 4), ('3C633E', 1, 2, 4);"
                   "INSERT INTO newsitem(recvdate, newsdate, fk_site_cat_rel, publication_date, src_url, title, is_del,"
                   " is_read) VALUES"
                   " ('2026-11-27 10:00:00', '', 1, '2026-11-27 10:00:00', 'http://a/1', 'Older', 0, 1),"
                   " ('2026-11-28 09:00:00', '', 1, '2026-11-28 09:00:00', 'http://a/2', 'Newest', 0, 0),"
                   " ('2026-11-29 09:00:00', '', 3, '2026-11-29 09:00:00', 'http://b/1', 'Deleted', 1, 0);"
                   "INSERT INTO newsimages(bodypos, image_path, imagetext, fk_newsitem) VALUES"
                   " (1, '/i/2_1', 'Second', 2), (0, '/i/2_0', 'A ''quoted'' caption', 2), (0, '/i/3_0', '', 3);"),
              0)
        << db_->ErrorMessage();
  }

  int Exec(const char* sql) { return db_->Exec(sql); }

  testing::TempDir dir_;
  std::unique_ptr<Database> db_;
};

INSTANTIATE_TEST_SUITE_P(Backends, LayerTest,
                         ::testing::Values(Database::Backend::kSqlite, Database::Backend::kPostgres),
                         [](const auto& info) {
                           return info.param == Database::Backend::kSqlite ? std::string("Sqlite")
                                                                           : std::string("Postgres");
                         });

std::string Names(const std::vector<SitePair>& pairs) {
  std::string s;
  for (const auto& p : pairs) s += std::to_string(p.id) + ":" + p.site + "/" + p.category + (p.selected ? "+ " : " ");
  return s;
}

TEST_P(LayerTest, PairsTheirSelectionCountsAndSummaries) {
  EXPECT_TRUE(TableExists(*db_, "newsitem"));
  EXPECT_TRUE(TableExists(*db_, "mask_health"));
  EXPECT_FALSE(TableExists(*db_, "no_such_table"));

  EXPECT_EQ(Names(ReadSitePairs(*db_)), "3:Zeit/It's+ 1:ab/World+ 2:ab/sport 4:\xC3\x84rzte/World+ ");
  ASSERT_TRUE(ReadSitePair(*db_, 3).has_value());
  EXPECT_EQ(ReadSitePair(*db_, 3)->site, "Zeit");
  EXPECT_EQ(ReadSitePair(*db_, 3)->categoryId, 3);
  EXPECT_FALSE(ReadSitePair(*db_, 99).has_value());

  ASSERT_EQ(SelectPairs(*db_, {PairKey{2, 1}}, true), 0);
  ASSERT_EQ(SelectPairs(*db_, {PairKey{3, 2}}, false), 0);
  EXPECT_EQ(Names(ReadSitePairs(*db_)), "3:Zeit/It's 1:ab/World+ 2:ab/sport+ 4:\xC3\x84rzte/World+ ");
  // Pairs 1 and 4 have a usable list and news mask; 2 has none.
  EXPECT_EQ(CountPairsToVisit(*db_), 2);

  const NewsCounts c = CountNews(*db_);
  EXPECT_EQ(std::vector<int64_t>({c.sites, c.categories, c.pairs, c.selectedPairs, c.items, c.unreadItems,
                                  c.deletedItems, c.images}),
            std::vector<int64_t>({3, 3, 4, 3, 3, 1, 1, 3}));
  ASSERT_TRUE(ReadNewestItem(*db_).has_value());
  EXPECT_EQ(ReadNewestItem(*db_)->publicationDate + " " + ReadNewestItem(*db_)->title + " " +
                ReadNewestItem(*db_)->site + "/" + ReadNewestItem(*db_)->category,
            "2026-11-28 09:00:00 Newest ab/World");

  std::string rows;
  for (const PairSummary& p : SummarisePairs(*db_))
    rows += std::to_string(p.pair.id) + ":" + std::to_string(p.liveItems) + "," + p.newest + "," +
            std::to_string(p.usableMasks) + (p.ownFeed ? ",own" : "") + " ";
  EXPECT_EQ(rows, "3:0,2026-11-29 09:00:00,1 1:2,2026-11-28 09:00:00,2 2:0,,0 4:0,,2 ");
  EXPECT_TRUE(OwnSitesNamedLikeCatalogueSites(*db_).empty());

  EXPECT_EQ(CountImagesOfItemsAbove(*db_, 2), 1);
}

TEST_P(LayerTest, MasksOfThePlanAndOfOnePair) {
  std::vector<PlanRow> rows;
  auto plan = [&] {
    std::string s;
    for (const PlanRow& r : rows) s += std::to_string(r.maskId) + ":" + std::to_string(r.type) + ":" + r.site + "/" +
                                       r.category + ":" + std::to_string(r.version) + " ";
    return s;
  };
  ASSERT_EQ(ReadPlanRows(*db_, &rows), 0);
  EXPECT_EQ(plan(), "1:0:ab/World:2 2:1:ab/World:3 5:128:Zeit/It's:1 7:0:\xC3\x84rzte/World:4 8:2:\xC3\x84rzte/World:1 ");
  ASSERT_EQ(ReadPlanRows(*db_, &rows, true), 0);
  EXPECT_EQ(plan(), "1:0:ab/World:2 2:1:ab/World:3 5:128:Zeit/It's:1 6:1:Zeit/It's:0 7:0:\xC3\x84rzte/World:4 "
                    "8:2:\xC3\x84rzte/World:1 ");

  StoredMask m;
  ASSERT_EQ(ReadStoredMask(*db_, 7, &m), 0);
  EXPECT_EQ(m.hex + " " + std::to_string(m.version) + " " + std::to_string(m.type) + " " + std::to_string(m.siteCatRel),
            "3C633E 4 0 4");
  EXPECT_EQ(ReadStoredMask(*db_, 99, &m), SQLITE_NOTFOUND);
  ASSERT_EQ(ResetMask(*db_, 7), 0);
  ASSERT_EQ(ReadStoredMask(*db_, 7, &m), 0);
  EXPECT_EQ(m.hex + " " + std::to_string(m.version), " 1");

  EXPECT_EQ(MaskVersions(*db_, 1), "2/3");
  EXPECT_EQ(MaskVersions(*db_, 3), "1/0");
  EXPECT_EQ(MaskVersions(*db_, 99), "0/0");
}

// Runs judged one after the other: the verdicts, the latest per pair, and an
// item marked twice.
TEST_P(LayerTest, MaskHealthVerdictsAndTheLatestPerPair) {
  auto run = [&](int pair, int links, int pages, int empty, std::time_t at) {
    PairRun r;
    r.siteCatRel = pair;
    r.listLoaded = true;
    r.linksFound = links;
    r.pagesWalked = pages;
    r.emptyBodies = empty;
    return RecordPairRun(*db_, r, at);
  };
  const std::time_t day = 86400, t0 = 1790000000;
  EXPECT_EQ(run(1, 5, 5, 0, t0).state, PairHealth::kHealthy);
  EXPECT_EQ(run(1, 0, 0, 0, t0 + day).state, PairHealth::kBroken);  // once yielded: broken
  EXPECT_EQ(run(1, 0, 0, 0, t0 + 2 * day).brokenSince, FormatDbTime(t0 + day));
  EXPECT_EQ(run(2, 0, 0, 0, t0).state, PairHealth::kNeverWorked);
  EXPECT_EQ(run(3, 4, 4, 4, t0).state, PairHealth::kNeverWorked);  // the news mask never yielded
  EXPECT_EQ(run(4, 4, 4, 4, t0).state, PairHealth::kNeverWorked);
  EXPECT_EQ(run(4, 4, 4, 0, t0 + day).state, PairHealth::kHealthy);
  EXPECT_EQ(run(4, 4, 4, 3, t0 + 2 * day).state, PairHealth::kBroken);

  std::vector<PairVerdict> latest;
  ASSERT_EQ(LatestVerdicts(*db_, &latest), 0);
  std::string s;
  for (const PairVerdict& v : latest)
    s += std::to_string(v.siteCatRel) + ":" + v.site + "/" + v.category + ":" +
         std::to_string(static_cast<int>(v.verdict.state)) + ":" + v.verdict.brokenSince + " ";
  EXPECT_EQ(s, "3:Zeit/It's:2: 1:ab/World:1:" + FormatDbTime(t0 + day) + " 2:ab/sport:2: 4:\xC3\x84rzte/World:1:" +
                   FormatDbTime(t0 + 2 * day) + " ");
  EXPECT_EQ(LatestHealth(*db_, 4).symptom, "the news mask left the body empty on 3 of 4 pages");
  EXPECT_FALSE(LatestHealth(*db_, 99).known);
  EXPECT_EQ(PairName(*db_, 3), "Zeit / It's");

  ASSERT_EQ(MarkAutoItem(*db_, 2, AutoMark::kBody), 0);
  ASSERT_EQ(MarkAutoItem(*db_, 2, AutoMark::kFeedLinkAndBody), 0);
  Statement how(*db_, "SELECT COUNT(*), MAX(how) FROM newsitem_auto");
  ASSERT_TRUE(how.Next());
  EXPECT_EQ(how.Int(0), 1);
  EXPECT_EQ(how.Int(1), static_cast<int>(AutoMark::kFeedLinkAndBody));
}

// Alone (orvo site add) and inside a caller's transaction alike: PostgreSQL
// refused the savepoint outside a transaction, and nothing was stored.
TEST_P(LayerTest, AnOwnSiteIsAddedAloneOrInsideATransaction) {
  std::string why;
  OwnSite alone;
  alone.site = "Mine";
  alone.category = "Feed";
  alone.address = "http://127.0.0.1/feed.xml";
  ASSERT_TRUE(AddOwnSite(*db_, alone, 1764000000, &why)) << why;
  EXPECT_FALSE(db_->InTransaction());

  ASSERT_EQ(db_->Begin(), 0);
  OwnSite inside = alone;
  inside.category = "Other";
  inside.address = "http://127.0.0.1/other.xml";
  ASSERT_TRUE(AddOwnSite(*db_, inside, 1764000000, &why)) << why;
  OwnSite again = alone;  // refused, and the caller's transaction goes on
  EXPECT_FALSE(AddOwnSite(*db_, again, 1764000000, &why));
  ASSERT_EQ(db_->Commit(), 0) << db_->ErrorMessage();

  std::vector<std::string> stored;
  for (const OwnSite& o : ListOwnSites(*db_)) stored.push_back(o.site + "/" + o.category + " " + o.address);
  EXPECT_EQ(stored, (std::vector<std::string>{"Mine/Feed http://127.0.0.1/feed.xml", "Mine/Other http://127.0.0.1/other.xml"}));
}

}  // namespace
}  // namespace orvo

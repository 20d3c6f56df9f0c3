#include "mask_plan.h"

#include <gtest/gtest.h>

#include "engine_home.h"

namespace orvo {
namespace {

std::vector<int> Drain(MaskPlan& plan) {
  std::vector<int> ids;
  for (int id = plan.NextMaskId(); id != -1 && ids.size() < 100; id = plan.NextMaskId()) ids.push_back(id);
  return ids;
}

TEST(MaskPlanTest, VisitsListThenNewsMaskOfEveryCompleteCategory) {
  MaskPlan plan;
  plan.Build({{1, 0, "A", "news"}, {2, 1, "A", "news"},
              {3, 0, "A", "sport"},                       // no news mask: not visited
              {4, 0, "B", "only"},                        // site B has no complete category
              {5, 0, "C", "tech"}, {6, 1, "C", "tech"}});
  ASSERT_EQ(plan.sites().size(), 3u);
  EXPECT_TRUE(plan.sites()[1].categories.empty());
  EXPECT_EQ(Drain(plan), (std::vector<int>{1, 2, 5, 6}));
  EXPECT_EQ(plan.NextMaskId(), -1);
}

// A site the mask order visits twice stays one unit, its visits in order, so
// that two lanes never walk the same site at once.
TEST(MaskPlanTest, SplittingBySiteKeepsEachSitesVisitsTogetherAndInOrder) {
  MaskPlan plan;
  plan.Build({{1, 0, "A", "x"}, {2, 1, "A", "x"},
              {3, 0, "B", "y"}, {4, 1, "B", "y"},
              {5, 0, "A", "z"}, {6, 1, "A", "z"},
              {7, 0, "C", "only"}});
  ASSERT_EQ(plan.sites().size(), 4u);
  std::vector<MaskPlan> sites = plan.SplitBySite();
  ASSERT_EQ(sites.size(), 3u);
  EXPECT_EQ(Drain(sites[0]), (std::vector<int>{1, 2, 5, 6}));
  EXPECT_EQ(sites[0].CurrentSite(), "GetCurSite:2 ERROR");
  EXPECT_EQ(sites[1].NextMaskId(), 3);
  EXPECT_EQ(sites[1].CurrentSite(), "B");
  EXPECT_EQ(sites[1].CurrentCategory(), "y");
  EXPECT_EQ(Drain(sites[2]), std::vector<int>{});
  // The whole plan is left as it was.
  EXPECT_EQ(Drain(plan), (std::vector<int>{1, 2, 3, 4, 5, 6}));
}

TEST(MaskPlanTest, SkippingTheNewsStepMovesToTheNextCategory) {
  MaskPlan plan;
  plan.Build({{1, 0, "A", "x"}, {2, 1, "A", "x"}, {3, 0, "A", "y"}, {4, 1, "A", "y"}});
  EXPECT_EQ(plan.NextMaskId(), 1);
  EXPECT_EQ(plan.CurrentCategory(), "x");
  plan.SkipNewsStep();
  EXPECT_EQ(plan.NextMaskId(), 3);
  EXPECT_EQ(plan.CurrentCategory(), "y");
  EXPECT_EQ(plan.NextMaskId(), 4);
  EXPECT_EQ(plan.NextMaskId(), -1);
  EXPECT_EQ(plan.CurrentSite(), "GetCurSite:1 ERROR");
  EXPECT_EQ(plan.CurrentCategory(), "GetCurCategory:0 ERROR");
}

TEST(MaskPlanTest, LaterRowOfTheSameKindReplacesAndSplitRunsAreVisitedTwice) {
  MaskPlan plan;
  // Site A's masks are not consecutive in id order, so A appears twice.
  plan.Build({{1, 0, "A", "x"}, {2, 0, "A", "x"}, {3, 7, "A", "x"}, {4, 0, "B", "z"}, {5, 1, "B", "z"},
              {6, 0, "A", "x"}, {7, 1, "A", "x"}});
  EXPECT_EQ(Drain(plan), (std::vector<int>{2, 3, 4, 5, 6, 7}));
  // Site names compare case-sensitively.
  plan.Build({{1, 0, "A", "x"}, {2, 1, "a", "x"}});
  EXPECT_EQ(plan.sites().size(), 2u);
  EXPECT_EQ(Drain(plan), std::vector<int>{});
}

TEST(MaskPlanTest, ReadsOnlySelectedPairsWithLiveMasksInIdOrder) {
  testing::EngineHome home;
  int64_t a = home.AddPair("Site A", "News", true);
  int64_t b = home.AddPair("Site B", "News", false);
  int64_t list = home.AddMask(a, 0, 3);
  home.AddMask(b, 0, 3);
  home.AddMask(a, 1, 0);  // withdrawn
  int64_t news = home.AddMask(a, 1, 2);
  std::vector<PlanRow> rows;
  ASSERT_EQ(ReadPlanRows(home.db(), &rows), 0);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].maskId, list);
  EXPECT_EQ(rows[0].site, "Site A");
  EXPECT_EQ(rows[1].maskId, news);
  EXPECT_EQ(rows[1].type, 1);

  // For automatic extraction the withdrawn news mask is read too, but a
  // live one of the pair wins whatever the order.
  ASSERT_EQ(ReadPlanRows(home.db(), &rows, true), 0);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1].version, 0);
  MaskPlan plan;
  plan.Build(rows);
  EXPECT_EQ(Drain(plan), (std::vector<int>{int(list), int(news)}));
  int64_t c = home.AddPair("Site C", "News", true);
  int64_t cList = home.AddMask(c, 0, 1);
  int64_t cNews = home.AddMask(c, 1, 0);
  home.AddMask(c, 0, 0);  // a withdrawn list mask is never read
  ASSERT_EQ(ReadPlanRows(home.db(), &rows), 0);
  plan.Build(rows);
  EXPECT_EQ(Drain(plan), (std::vector<int>{int(list), int(news)}));
  ASSERT_EQ(ReadPlanRows(home.db(), &rows, true), 0);
  plan.Build(rows);
  EXPECT_EQ(Drain(plan), (std::vector<int>{int(list), int(news), int(cList), int(cNews)}));

  StoredMask m;
  EXPECT_EQ(ReadStoredMask(home.db(), static_cast<int>(news), &m), 0);
  EXPECT_EQ(m.siteCatRel, a);
  EXPECT_EQ(ReadStoredMask(home.db(), 999, &m), SQLITE_NOTFOUND);
}

}  // namespace
}  // namespace orvo

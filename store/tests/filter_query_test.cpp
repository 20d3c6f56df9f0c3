#include "store/filter_query.h"

#include <gtest/gtest.h>

#include <set>

#include "eventlog.h"
#include "news_fixture.h"

namespace orvo {
namespace {

using testing::TestFilter;
using testing::NewsFixture;
using testing::TestNews;

std::time_t Local(int y, int mo, int d, int h = 12, int mi = 0) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

TEST(FilterConditionText, KeepsTheShapeOfTheStatementWithPlaceholders) {
  FilterRow f;
  f.searchMode = kAllWords;
  f.keywords = "a  b c";
  SqlCondition all = CombineFilterConditions({BuildFilterCondition(f, {7}, 0)});
  EXPECT_EQ(all.text, "( (  ni.body like ?  and  ni.body like ?  and  ni.body like ?  )  AND  rel.id in(?) )");
  ASSERT_EQ(all.values.size(), 4u);
  EXPECT_EQ(std::get<std::string>(all.values[0]), "%a%");
  EXPECT_EQ(std::get<std::string>(all.values[2]), "%c%");
  EXPECT_EQ(std::get<int64_t>(all.values[3]), 7);

  // Exact phrase with no keywords still tests the body, against '%%'.
  f.searchMode = kExactPhrase;
  f.keywords = "";
  SqlCondition phrase = BuildFilterCondition(f, {}, 0);
  EXPECT_EQ(phrase.text.rfind(" ni.body like ? ", 0), 0u);
  EXPECT_EQ(std::get<std::string>(phrase.values[0]), "%%");

  // A date range without keywords has no leading " and ".
  f.searchMode = 7;
  f.timeKind = kBetweenDates;
  f.dateFrom = Local(2003, 12, 1, 15, 30);
  f.dateTo = Local(2003, 12, 5, 9, 0);
  SqlCondition range = BuildFilterCondition(f, {3, 4}, 0);
  EXPECT_EQ(range.text, " ni.publication_date >= ? and ni.publication_date <= ? AND  rel.id in(?,?) ");
  EXPECT_EQ(std::get<std::string>(range.values[0]), "2003-12-01 00:00:00");
  EXPECT_EQ(std::get<std::string>(range.values[1]), "2003-12-05 00:00:00");

  // Nothing but links: no leading " AND "; no links at all: in(0).
  f.timeKind = kNoTimeLimit;
  EXPECT_EQ(BuildFilterCondition(f, {5}, 0).text, " rel.id in(?) ");
  EXPECT_EQ(BuildFilterCondition(f, {}, 0).text, " rel.id in(0) ");
}

TEST(FilterConditionText, PeriodCountsBackFromNowToTheStartOfThatDay) {
  FilterRow f;
  f.searchMode = kAnyWord;
  f.keywords = "tax budget";
  f.timeKind = kLastPeriod;
  f.days = 1;
  std::time_t now = Local(2024, 3, 10, 1, 30);
  SqlCondition c = BuildFilterCondition(f, {12, 40}, now);
  EXPECT_EQ(c.text,
            " (  ni.body like ?  or  ni.body like ?  )  and  ni.publication_date >= ? AND  rel.id in(?,?) ");
  EXPECT_EQ(std::get<std::string>(c.values[2]), "2024-03-09 00:00:00");

  // Two hours back from 01:30 crosses midnight into the day before.
  f.days = 0;
  f.hours = 2;
  EXPECT_EQ(std::get<std::string>(BuildFilterCondition(f, {1}, now).values[2]), "2024-03-09 00:00:00");
  f.hours = 1;
  EXPECT_EQ(std::get<std::string>(BuildFilterCondition(f, {1}, now).values[2]), "2024-03-10 00:00:00");
}

// The one builder serves the reader's grid and the eBooks, which read a
// filter's dates differently on purpose; everything else is the same text.
TEST(FilterConditionText, TheReadersStyleTakesWholeDaysAndPeriodsToTheSecond) {
  FilterRow f;
  f.searchMode = kExcludePhrase;
  f.keywords = "tax";
  f.dateFrom = Local(2024, 3, 2, 15);
  f.dateTo = Local(2024, 3, 5, 9);
  f.hours = 2;
  const std::time_t now = Local(2024, 3, 10, 1, 30);
  struct Case {
    int kind;
    FilterSqlStyle style;
    std::vector<std::string> dates;
  } cases[] = {
      {kBetweenDates, EbookFilterStyle(false), {"2024-03-02 00:00:00", "2024-03-05 00:00:00"}},
      {kBetweenDates, ReaderFilterStyle(false), {"2024-03-02 00:00:00", "2024-03-05 23:59:59"}},
      {kLastPeriod, EbookFilterStyle(false), {"2024-03-09 00:00:00"}},
      {kLastPeriod, ReaderFilterStyle(false), {"2024-03-09 23:30:00"}},
  };
  for (const Case& c : cases) {
    f.timeKind = c.kind;
    SqlCondition built = BuildFilterCondition(f, {7}, now, c.style);
    std::vector<std::string> dates;
    for (size_t i = 1; i + 1 < built.values.size(); ++i) dates.push_back(std::get<std::string>(built.values[i]));
    EXPECT_EQ(dates, c.dates) << built.text;
    std::string text = built.text;
    if (c.style.news == "n") {
      EXPECT_EQ(text.find("ni."), std::string::npos) << text;
      EXPECT_NE(text.find(" n.fk_site_cat_rel in(?) "), std::string::npos) << text;
    }
  }
}

TEST(FilterConditionText, ExcludingModesNegateEachWord) {
  FilterRow f;
  f.keywords = "x y";
  f.searchMode = kExcludeAllWords;
  EXPECT_EQ(BuildFilterCondition(f, {}, 0).text,
            " ( ( ni.body NOT like ? ) or ( ni.body NOT like ? ) )  AND  rel.id in(0) ");
  f.searchMode = kExcludeAnyWord;
  EXPECT_EQ(BuildFilterCondition(f, {}, 0).text,
            " ( ( ni.body NOT like ? ) and ( ni.body NOT like ? ) )  AND  rel.id in(0) ");
  f.searchMode = kExcludePhrase;
  EXPECT_EQ(BuildFilterCondition(f, {}, 0).text, " ( ni.body NOT like ? ) AND  rel.id in(0) ");
  // Words modes without words add no keyword part.
  f.keywords = "   ";
  f.searchMode = kExcludeAnyWord;
  EXPECT_EQ(BuildFilterCondition(f, {}, 0).text, " rel.id in(0) ");
  EXPECT_EQ(SplitKeywords("  tax \t  budget "), (std::vector<std::string>{"tax", "budget"}));
}

class FilterQueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    world = fx.AddPair("Site A", "World");
    sport = fx.AddPair("Site A", "Sport");
    worldB = fx.AddPair("Site B", "World");
  }

  int64_t News(int64_t pair, const std::string& body, std::time_t published = 0, bool deleted = false) {
    TestNews s;
    s.pair = pair;
    s.body = body;
    s.title = body;
    s.published = published;
    s.deleted = deleted;
    return fx.AddNews(s);
  }

  // The ids the query returns, in order.
  std::vector<int64_t> Selected(std::time_t now = std::time(nullptr)) {
    NewsQuery q;
    int rc = q.Open(fx.db(), now);
    EXPECT_EQ(rc, 0);
    std::vector<int64_t> ids;
    while (q.Fetch()) ids.push_back(q.row().id);
    EXPECT_EQ(q.error(), 0);
    return ids;
  }

  std::set<int64_t> SelectedSet() {
    auto v = Selected();
    return {v.begin(), v.end()};
  }

  TestFilter Filter(int mode, const std::string& keywords) {
    TestFilter f;
    f.mode = mode;
    f.keywords = keywords;
    f.pairs = {world, sport, worldB};
    return f;
  }

  NewsFixture fx;
  int64_t world = 0, sport = 0, worldB = 0;
};

TEST_F(FilterQueryTest, KeywordModesSelectExactlyTheirRows) {
  int64_t both = News(world, "The new tax budget was passed");
  int64_t taxOnly = News(world, "Tax rises again");
  int64_t budgetOnly = News(sport, "A budget for the club");
  int64_t neither = News(sport, "Football results");
  int64_t splitPhrase = News(worldB, "budget and tax");

  struct Case {
    int mode;
    std::set<int64_t> expected;
  } cases[] = {
      {kAllWords, {both, splitPhrase}},
      {kAnyWord, {both, taxOnly, budgetOnly, splitPhrase}},
      {kExactPhrase, {both}},
      {kExcludeAllWords, {taxOnly, budgetOnly, neither}},
      {kExcludeAnyWord, {neither}},
      {kExcludePhrase, {taxOnly, budgetOnly, neither, splitPhrase}},
      {9, {both, taxOnly, budgetOnly, neither, splitPhrase}},
  };
  for (const Case& c : cases) {
    fx.db().Exec("DELETE FROM filter");
    fx.AddFilter(Filter(c.mode, "tax budget"));
    EXPECT_EQ(SelectedSet(), c.expected) << "mode " << c.mode;
  }
}

TEST_F(FilterQueryTest, KeywordsAreDataAndKeepTheReadersEscapes) {
  int64_t quote = News(world, "Interview with O'Brien today");
  int64_t percent = News(world, "Prices up 50% this year");
  News(world, "Prices up 50 percent this year");
  int64_t upper = News(sport, "CAFÉ OPENS");

  fx.AddFilter(Filter(kExactPhrase, "o'brien"));
  EXPECT_EQ(Selected(), std::vector<int64_t>{quote});

  fx.db().Exec("DELETE FROM filter");
  fx.AddFilter(Filter(kExactPhrase, "50[%]"));  // stored escaped, as the reader saves it
  EXPECT_EQ(Selected(), std::vector<int64_t>{percent});

  fx.db().Exec("DELETE FROM filter");
  fx.AddFilter(Filter(kAllWords, "café"));
  EXPECT_EQ(Selected(), std::vector<int64_t>{upper});
}

TEST_F(FilterQueryTest, TimeRestrictionsCompareWholeDays) {
  int64_t before = News(world, "x", Local(2003, 11, 30, 23, 59));
  int64_t first = News(world, "x", Local(2003, 12, 1, 0, 0));
  int64_t inside = News(world, "x", Local(2003, 12, 3, 12, 0));
  int64_t lastMidnight = News(world, "x", Local(2003, 12, 5, 0, 0));
  int64_t lastDay = News(world, "x", Local(2003, 12, 5, 10, 0));
  (void)before;
  (void)lastDay;

  TestFilter f = Filter(7, "");
  f.timeKind = kBetweenDates;
  f.from = Local(2003, 12, 1, 18, 0);
  f.to = Local(2003, 12, 5, 18, 0);
  fx.AddFilter(f);
  // The range ends at midnight at the start of the last day.
  EXPECT_EQ(SelectedSet(), (std::set<int64_t>{first, inside, lastMidnight}));

  fx.db().Exec("DELETE FROM filter");
  f.timeKind = kLastPeriod;
  f.days = 2;
  f.hours = 3;
  fx.AddFilter(f);
  // From 5 Dec 10:00 back 2 days 3 hours is 3 Dec 07:00: the whole of 3 Dec on.
  std::vector<int64_t> got = Selected(Local(2003, 12, 5, 10, 0));
  EXPECT_EQ(std::set<int64_t>(got.begin(), got.end()), (std::set<int64_t>{inside, lastMidnight, lastDay}));
}

TEST_F(FilterQueryTest, SitesJoinOrderAndDeletion) {
  int64_t a = News(sport, "a");
  int64_t b = News(world, "b");
  int64_t c = News(worldB, "c");
  int64_t d = News(sport, "d");
  News(world, "gone", 0, /*deleted=*/true);

  // Limited to the World pairs; a filter without pairs matches nothing.
  TestFilter f = Filter(7, "");
  f.pairs = {world, worldB};
  fx.AddFilter(f);
  TestFilter none = Filter(7, "");
  none.pairs = {};
  fx.AddFilter(none);
  EXPECT_EQ(SelectedSet(), (std::set<int64_t>{b, c}));

  // A second filter over everything: each item once, grouped by category
  // id (World was created first), deleted items never.
  fx.AddFilter(Filter(7, ""));
  EXPECT_EQ(Selected(), (std::vector<int64_t>{b, c, a, d}));
}

TEST_F(FilterQueryTest, UnmarkedFiltersDoNotCountAndNoneMarkedIsReported) {
  News(world, "x");
  TestFilter f = Filter(7, "");
  f.litGen = false;
  fx.AddFilter(f);
  NewsQuery q;
  EXPECT_EQ(q.Open(fx.db(), std::time(nullptr)), NewsQuery::kNoMarkedFilters);
  EXPECT_NE(testing::ReadFile(EventLogPath()).find("No filters for .lit files generator."), std::string::npos);
}

TEST_F(FilterQueryTest, RowCarriesTheCategoryAndCutsTheBody) {
  TestNews s;
  s.pair = sport;
  s.title = "Match report";
  s.srcUrl = "http://example.org/m?a=1&b='2'";
  s.body = std::string(70000, 'x');
  s.published = Local(2020, 5, 6, 7, 8);
  fx.AddNews(s);
  fx.AddFilter(Filter(7, ""));
  NewsQuery q;
  ASSERT_EQ(q.Open(fx.db(), std::time(nullptr)), 0);
  ASSERT_TRUE(q.Fetch());
  EXPECT_EQ(q.row().title, "Match report");
  EXPECT_EQ(q.row().srcUrl, s.srcUrl);
  EXPECT_EQ(q.row().categoryName, "Sport");
  EXPECT_EQ(q.row().body.size(), kBodyColumn - 1);
  EXPECT_EQ(q.row().publicationDate, s.published);
  EXPECT_FALSE(q.Fetch());
}

// Rows are read as the run reaches them: news the reader deleted while a
// long run was writing its first volumes stays out of the later ones.
TEST_F(FilterQueryTest, NewsDeletedDuringTheRunIsLeftOut) {
  const int64_t a = News(world, "a"), b = News(world, "b"), c = News(world, "c");
  fx.AddFilter(Filter(7, ""));
  NewsQuery q;
  ASSERT_EQ(q.Open(fx.db(), std::time(nullptr)), 0);
  ASSERT_TRUE(q.Fetch());
  EXPECT_EQ(q.row().id, a);
  Statement del(fx.db(), "UPDATE newsitem SET is_del = 1 WHERE id = ?");
  ASSERT_EQ(del.Bind(1, b).Execute(), 0);
  ASSERT_TRUE(q.Fetch());
  EXPECT_EQ(q.row().id, c);
  EXPECT_FALSE(q.Fetch());
  EXPECT_EQ(q.error(), 0);
}

// A body longer than the buffer is cut where no reference or tag breaks, and
// the log names the item; one that fits is never touched.
TEST_F(FilterQueryTest, ALongBodyIsCutAtABoundaryAndTheLogSaysWhich) {
  const size_t max = kBodyColumn - 1;
  const std::string fits = std::string(max - 6, 'f') + "&#160;";
  const struct {
    std::string title, body, kept;
  } cases[] = {
      {"Reference", std::string(max - 4, 'r') + "&#160;tail", std::string(max - 4, 'r')},
      {"Tag", std::string(max - 2, 't') + "<br />tail", std::string(max - 2, 't')},
      {"Fits", fits, fits},
  };
  for (const auto& c : cases) {
    TestNews s;
    s.pair = sport;
    s.title = c.title;
    s.body = c.body;
    fx.AddNews(s);
  }
  fx.AddFilter(Filter(7, ""));
  NewsQuery q;
  ASSERT_EQ(q.Open(fx.db(), std::time(nullptr)), 0);
  for (const auto& c : cases) {
    ASSERT_TRUE(q.Fetch());
    EXPECT_EQ(q.row().title, c.title);
    EXPECT_EQ(q.row().body, c.kept) << c.title;
  }
  const std::string log = testing::ReadFile(EventLogPath());
  EXPECT_NE(log.find("\"Reference\" is longer than 63499 characters; its eBook holds the first 63495"), std::string::npos)
      << log;
  EXPECT_NE(log.find("\"Tag\" is longer than"), std::string::npos) << log;
  EXPECT_EQ(log.find("\"Fits\""), std::string::npos) << log;
}

}  // namespace
}  // namespace orvo

namespace orvo {
namespace {

// Through the search index the query selects exactly the rows it selects on
// like alone: every mode, every time kind, one filter and two at once, over
// words with LIKE's own characters and Cyrillic and Greek in both cases.
TEST_F(FilterQueryTest, SearchIndexSelectsTheRowsOfLike) {
  const char* words[] = {"tax", "TAX", "Budget", "50%_[a]", "50%", "[b]", "a^b", "ПРИВЕТ", "привет", "ёлка",
                         "ЁЛКА", "ΣΑΣ", "σας", "ÄRGER", "ärger", "straße", "of", "a", "\"q\"", "İstanbul"};
  const std::time_t now = std::time(nullptr);
  unsigned seed = 19;
  auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 8); };
  const int64_t pairs[] = {world, sport, worldB};
  for (int i = 0; i < 150; ++i) {
    std::string body;
    for (int w = 0; w < 10; ++w) body += std::string(words[next() % std::size(words)]) + (w % 4 ? " " : "<br>");
    News(pairs[i % 3], body, now - static_cast<std::time_t>(next() % (30 * 86400)), i % 11 == 0);
  }
  auto plainToo = [&](const std::string& what) -> bool {
    std::vector<int64_t> indexed = Selected(now);
    EXPECT_EQ(fx.db().Exec("UPDATE newsitem_fts_fill SET filled_upto = -1"), 0);
    std::vector<int64_t> plain = Selected(now);
    EXPECT_EQ(fx.db().Exec("UPDATE newsitem_fts_fill SET filled_upto = fill_end"), 0);
    EXPECT_EQ(indexed, plain) << what;
    return !plain.empty();
  };
  const char* keywordSets[] = {"tax budget", "привет σας", "50[%][_][[]a[]] a", "ЁЛКА", "of a", "", "ärger STRASSE"};
  int found = 0, lists = 0;
  for (int mode = 0; mode <= 6; ++mode)
    for (int kind = 0; kind <= 2; ++kind)
      for (const char* k : keywordSets) {
        fx.db().Exec("DELETE FROM filter");
        TestFilter f = Filter(mode, k);
        f.timeKind = kind;
        f.from = now - 20 * 86400;
        f.to = now - 3 * 86400;
        f.days = 8;
        fx.AddFilter(f);
        found += plainToo("mode " + std::to_string(mode) + " kind " + std::to_string(kind) + " " + k);
        TestFilter other = Filter((mode + 2) % 6, "привет tax");
        other.pairs = {sport};
        fx.AddFilter(other);
        found += plainToo("two filters, mode " + std::to_string(mode) + " " + k);
        lists += 2;
      }
  EXPECT_GT(found, lists / 2);
}

// Deleted items stay in the index until its queue is drained; the query
// selects the rows of like meanwhile, also new items with a deleted one's
// body, and again after the drain.
TEST_F(FilterQueryTest, DeletedItemsStillInTheIndexAreNeverSelected) {
  const char* words[] = {"tax", "Budget", "50%_[a]", "ПРИВЕТ", "σας", "ärger", "of"};
  const std::time_t now = std::time(nullptr);
  const int64_t pairs[] = {world, sport, worldB};
  std::vector<std::string> bodies;
  std::set<int64_t> deleted;
  for (int i = 0; i < 60; ++i) {
    std::string body;
    for (int w = 0; w < 6; ++w) body += std::string(words[(i * 7 + w * 3 + i / 5) % std::size(words)]) + " ";
    bodies.push_back(body);
    int64_t id = News(pairs[i % 3], body, now - i * 3600);
    if (i % 3 == 0) deleted.insert(id);
  }
  for (int64_t id : deleted) ASSERT_EQ(fx.db().Exec(("DELETE FROM newsitem WHERE id = " + std::to_string(id)).c_str()), 0);
  for (int i = 0; i < 60; i += 6) News(pairs[i % 3], bodies[static_cast<size_t>(i)], now - i * 3600);
  ASSERT_TRUE(DeletedItemsWaiting(fx.db()));
  auto compare = [&](const std::string& when) {
    int found = 0;
    for (int mode = 0; mode <= 6; ++mode)
      for (const char* k : {"tax budget", "привет σας", "50[%][_][[]a[]]", "ärger of"}) {
        fx.db().Exec("DELETE FROM filter");
        fx.AddFilter(Filter(mode, k));
        std::vector<int64_t> indexed = Selected(now);
        EXPECT_EQ(fx.db().Exec("UPDATE newsitem_fts_fill SET filled_upto = -1"), 0);
        std::vector<int64_t> plain = Selected(now);
        EXPECT_EQ(fx.db().Exec("UPDATE newsitem_fts_fill SET filled_upto = fill_end"), 0);
        EXPECT_EQ(indexed, plain) << when << " mode " << mode << " " << k;
        for (int64_t id : plain) EXPECT_EQ(deleted.count(id), 0u) << when << ": deleted item " << id;
        found += !plain.empty();
      }
    EXPECT_GT(found, 14) << when;
  };
  compare("queued");
  std::atomic<bool> stop{false};
  ASSERT_EQ(DropAllDeletedFromIndex(fx.db().path(), stop), 0);
  ASSERT_FALSE(DeletedItemsWaiting(fx.db()));
  compare("drained");
}

}  // namespace
}  // namespace orvo

#include "vaultmap/dbmanager.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "database.h"
#include "like.h"
#include "pg_server.h"
#include "store/images.h"
#include "store/news_items.h"
#include "store/pairs.h"
#include "settings.h"
#include "test_support.h"
#include "text.h"

namespace orvo {
namespace {

using testing::TempDir;

std::time_t At(const char* text) { return *ParseDbTime(text); }

class DBManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("news.db");
    std::unique_ptr<Database> db;
    ASSERT_EQ(Database::Open(path_, Database::Mode::kCreate, &db), 0);
    alphaWorld_ = EnsurePair(*db, "Alpha", "World", true);
    betaSport_ = EnsurePair(*db, "Beta", "Sport");
    gammaArts_ = EnsurePair(*db, "gamma", "Arts");
    Add(*db, alphaWorld_, "Mayor opens bridge", "2024-03-02 10:00:00", "The bridge over the river opened.");
    Add(*db, betaSport_, "Derby ends level", "2024-03-05 18:30:00", "A derby without goals.");
    Add(*db, gammaArts_, "zebra painting sold", "2024-03-01 09:00:00", "A painting of a zebra, 50%_[a] off.");
    Add(*db, alphaWorld_, "Storm warning", "2024-03-04 07:15:00", "Storm and rain over the river.");
    Add(*db, betaSport_, "Cup draw", "2024-03-03 12:00:00", "Sale 50 percent a cup.");
    db.reset();
    ASSERT_TRUE(m_.Init(path_));
  }

  void Add(Database& db, int64_t pair, const char* title, const char* when, const char* body) {
    NewsRecord n;
    n.pair = pair;
    n.title = title;
    n.body = body;
    n.published = At(when);
    n.url = std::string("https://example.org/") + title;
    n.author = "Desk";
    ASSERT_GT(StoreNews(db, n), 0);
  }

  std::vector<std::string> Titles() {
    std::vector<std::string> out;
    EXPECT_TRUE(m_.BeginNewsListEnum());
    while (const CNewsListItemStruct* item = m_.EnumNextNewsListItem()) out.push_back(item->title);
    m_.EndNewsListEnum();
    return out;
  }

  std::vector<int32_t> Ids() {
    std::vector<int32_t> out;
    EXPECT_TRUE(m_.BeginNewsListEnum());
    while (const CNewsListItemStruct* item = m_.EnumNextNewsListItem()) out.push_back(item->id);
    m_.EndNewsListEnum();
    return out;
  }

  TempDir dir_;
  std::string path_;
  int64_t alphaWorld_ = 0, betaSport_ = 0, gammaArts_ = 0;
  CDBManager m_;
};

using Titles_ = std::vector<std::string>;

TEST_F(DBManagerTest, SortsByEachColumnInBothOrders) {
  // Site, then newest first within a site.
  m_.SetSort(0);
  m_.SetSortOrder(1);
  EXPECT_EQ(Titles(), (Titles_{"Storm warning", "Mayor opens bridge", "Derby ends level", "Cup draw",
                               "zebra painting sold"}));
  m_.SetSort(0);  // same column: reversed
  EXPECT_FALSE(m_.sortAscending());
  EXPECT_EQ(Titles()[0], "zebra painting sold");

  m_.SetSort(1);  // another column starts ascending: Arts, Sport, World
  EXPECT_TRUE(m_.sortAscending());
  EXPECT_EQ(Titles(), (Titles_{"zebra painting sold", "Derby ends level", "Cup draw", "Storm warning",
                               "Mayor opens bridge"}));

  m_.SetSort(2);
  EXPECT_EQ(Titles(), (Titles_{"zebra painting sold", "Mayor opens bridge", "Cup draw", "Storm warning",
                               "Derby ends level"}));
  m_.SetSort(2);
  EXPECT_EQ(Titles(), (Titles_{"Derby ends level", "Storm warning", "Cup draw", "Mayor opens bridge",
                               "zebra painting sold"}));

  m_.SetSort(3);  // titles ignore letter case
  EXPECT_EQ(Titles(), (Titles_{"Cup draw", "Derby ends level", "Mayor opens bridge", "Storm warning",
                               "zebra painting sold"}));
  m_.SetSortOrder(0);
  EXPECT_EQ(Titles().front(), "zebra painting sold");
  m_.SetSort(7);  // out of range: unchanged
  EXPECT_EQ(m_.sortColumn(), 3);
}

TEST_F(DBManagerTest, SiteAndCategorySortsMergeTheirPairsByDate) {
  int64_t alphaSport = EnsurePair(*m_.database(), "Alpha", "Sport");
  Add(*m_.database(), alphaSport, "Alpha sport news", "2024-03-03 00:00:00", "x");
  Add(*m_.database(), alphaSport, "Same time, higher id", "2024-03-04 07:15:00", "x");
  m_.SetSort(0);
  m_.SetSortOrder(1);
  EXPECT_EQ(Titles(), (Titles_{"Same time, higher id", "Storm warning", "Alpha sport news", "Mayor opens bridge",
                               "Derby ends level", "Cup draw", "zebra painting sold"}));
  m_.SetSort(1);  // Arts, Sport (two sites), World
  EXPECT_EQ(Titles(), (Titles_{"zebra painting sold", "Derby ends level", "Same time, higher id", "Cup draw",
                               "Alpha sport news", "Storm warning", "Mayor opens bridge"}));
  m_.unreadOnly = true;  // conditions apply to every pair
  m_.AddSearchKeyword("news");
  EXPECT_EQ(Titles(), (Titles_{"Alpha sport news"}));
}

TEST_F(DBManagerTest, NewsWithoutASiteAreListedLastInSiteAndCategorySorts) {
  NewsRecord n;
  n.pair = alphaWorld_;
  n.title = "Orphan";
  n.published = At("2024-03-09 00:00:00");
  ASSERT_GT(StoreNews(*m_.database(), n), 0);
  ASSERT_EQ(m_.database()->Exec("UPDATE newsitem SET fk_site_cat_rel = NULL WHERE title = 'Orphan'"), 0);
  for (int column : {0, 1}) {
    m_.SetSort(column);
    m_.SetSortOrder(1);
    EXPECT_EQ(Titles().back(), "Orphan") << column;
    m_.SetSortOrder(0);
    Titles_ t = Titles();
    EXPECT_EQ(t.back(), "Orphan") << column;
    EXPECT_EQ(t.size(), 6u);
  }
  m_.SetSort(3);
  EXPECT_EQ(Titles().size(), 6u);
}

// The rows name their pair; the names are read once per list, so a pair
// made while a list runs, a renamed site and a pair whose site is gone must
// still come out right.
TEST_F(DBManagerTest, ListedNamesFollowThePairsAsTheyAreWhenListed) {
  auto names = [&] {
    std::vector<std::string> out;
    EXPECT_TRUE(m_.BeginNewsListEnum());
    while (const CNewsListItemStruct* item = m_.EnumNextNewsListItem())
      out.push_back(item->title + "|" + item->site + "|" + item->category);
    m_.EndNewsListEnum();
    return out;
  };
  m_.SetSort(1);  // Arts, Sport, World: World's pairs are read when its turn comes
  m_.SetSortOrder(1);
  ASSERT_TRUE(m_.BeginNewsListEnum());
  const CNewsListItemStruct* first = m_.EnumNextNewsListItem();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->site + "|" + first->category, "gamma|Arts");
  {
    std::unique_ptr<Database> other;
    ASSERT_EQ(Database::Open(path_, Database::Mode::kExisting, &other), 0);
    Add(*other, EnsurePair(*other, "Delta", "World"), "Late pair", "2024-03-06 00:00:00", "x");
  }
  std::vector<std::string> rest;
  while (const CNewsListItemStruct* item = m_.EnumNextNewsListItem())
    rest.push_back(item->title + "|" + item->site + "|" + item->category);
  m_.EndNewsListEnum();
  ASSERT_FALSE(rest.empty());
  EXPECT_EQ(std::count(rest.begin(), rest.end(), "Late pair|Delta|World"), 1);

  ASSERT_EQ(m_.database()->Exec("UPDATE news_config SET site_name = 'Alpha Renamed' WHERE site_name = 'Alpha'"), 0);
  m_.SetSort(3);
  std::vector<std::string> all = names();
  EXPECT_EQ(std::count(all.begin(), all.end(), "Storm warning|Alpha Renamed|World"), 1);

  // A pair whose site is gone: no site name, and last in the site sort.
  ASSERT_EQ(m_.database()->Exec("PRAGMA foreign_keys = OFF; DELETE FROM news_config WHERE site_name = 'gamma';"
                                " PRAGMA foreign_keys = ON"),
            0);
  m_.SetSort(0);
  m_.SetSortOrder(1);
  all = names();
  ASSERT_EQ(all.size(), 6u);
  EXPECT_EQ(all.back(), "zebra painting sold||Arts");
}

// Marking many rows at once: duplicates, unknown ids and rows already in
// that state change nothing else, and the rest all change.
TEST_F(DBManagerTest, MarkingManyRowsChangesExactlyThoseRows) {
  std::vector<int32_t> ids = Ids();
  ASSERT_EQ(ids.size(), 5u);
  ASSERT_EQ(m_.MarkAsRead(ids[2], true), 0);
  EXPECT_EQ(m_.MarkAsRead(std::vector<int32_t>{ids[3], ids[0], ids[3], 99999, ids[2]}, true), 0);
  auto readIds = [&] {
    std::vector<int32_t> out;
    EXPECT_TRUE(m_.BeginNewsListEnum());
    while (const CNewsListItemStruct* item = m_.EnumNextNewsListItem())
      if (item->read) out.push_back(item->id);
    m_.EndNewsListEnum();
    std::sort(out.begin(), out.end());
    return out;
  };
  std::vector<int32_t> expected{ids[0], ids[2], ids[3]};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(readIds(), expected);
  EXPECT_EQ(m_.MarkAsRead(std::vector<int32_t>{ids[0], ids[2]}, false), 0);
  EXPECT_EQ(readIds(), std::vector<int32_t>{ids[3]});
  EXPECT_EQ(m_.MarkAsRead(std::vector<int32_t>{}, true), 0);
  EXPECT_EQ(readIds(), std::vector<int32_t>{ids[3]});
}

TEST_F(DBManagerTest, RecordCarriesNamesDateAndReadFlag) {
  m_.SetSort(2);
  ASSERT_TRUE(m_.BeginNewsListEnum());
  const CNewsListItemStruct* first = m_.EnumNextNewsListItem();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->site, "gamma");
  EXPECT_EQ(first->category, "Arts");
  EXPECT_EQ(first->date, At("2024-03-01 09:00:00"));
  EXPECT_EQ(first->read, 0);
  m_.EndNewsListEnum();
}

TEST_F(DBManagerTest, MarkAsReadPersistsAndUnreadOnlyHidesRead) {
  std::vector<int32_t> ids = Ids();
  ASSERT_EQ(ids.size(), 5u);
  EXPECT_EQ(m_.MarkAsRead(ids[0], true), 0);
  EXPECT_EQ(m_.MarkAsRead(ids[1], true), 0);
  EXPECT_EQ(m_.MarkAsRead(ids[1], false), 0);
  EXPECT_NE(m_.MarkAsRead(99999, true), 0);  // no such item: a failure, not a silent success

  CDBManager again;
  ASSERT_TRUE(again.Init(path_));
  again.unreadOnly = true;
  std::vector<int32_t> unread;
  ASSERT_TRUE(again.BeginNewsListEnum());
  while (const CNewsListItemStruct* item = again.EnumNextNewsListItem()) {
    EXPECT_EQ(item->read, 0);
    unread.push_back(item->id);
  }
  again.EndNewsListEnum();
  EXPECT_EQ(unread.size(), 4u);
  EXPECT_EQ(std::count(unread.begin(), unread.end(), ids[0]), 0);
  again.unreadOnly = false;
  ASSERT_TRUE(again.BeginNewsListEnum());
  int read = 0;
  while (const CNewsListItemStruct* item = again.EnumNextNewsListItem()) read += item->read;
  EXPECT_EQ(read, 1);
}

TEST_F(DBManagerTest, KeywordWithWildcardCharactersIsFoundLiterally) {
  std::string escaped = LikeEscape("50%_[a]");
  EXPECT_EQ(escaped, "50[%][_][[]a[]]");
  m_.AddSearchKeyword(escaped);
  EXPECT_EQ(Titles(), (Titles_{"zebra painting sold"}));

  // Letter case is ignored; title and body both count; keywords combine with AND.
  m_.ClearSearchKeywords();
  m_.AddSearchKeyword("RIVER");
  EXPECT_EQ(Titles().size(), 2u);
  m_.AddSearchKeyword("storm");
  EXPECT_EQ(Titles(), (Titles_{"Storm warning"}));
  m_.ClearSearchKeywords();
  m_.AddSearchKeyword("it's");  // a quote is data
  EXPECT_TRUE(Titles().empty());
}

TEST_F(DBManagerTest, SearchInFoundNarrowsTheLastResult) {
  m_.AddSearchKeyword("river");
  EXPECT_EQ(Titles().size(), 2u);
  m_.searchInFound = true;
  m_.ClearSearchKeywords();
  m_.AddSearchKeyword("a");  // would match every item on its own
  EXPECT_EQ(Titles().size(), 2u);
  m_.AddSearchKeyword("bridge");
  EXPECT_EQ(Titles(), (Titles_{"Mayor opens bridge"}));
  m_.ClearNewsList();
  EXPECT_TRUE(Titles().empty());
}

TEST_F(DBManagerTest, DeletedNewsVanishFromListsSearchesAndLoads) {
  m_.SetSort(3);
  std::vector<int32_t> ids = Ids();  // Cup, Derby, Mayor, Storm, zebra
  EXPECT_EQ(m_.DeleteNewItems({ids[0], ids[3]}), 0);
  EXPECT_EQ(Titles(), (Titles_{"Derby ends level", "Mayor opens bridge", "zebra painting sold"}));
  m_.AddSearchKeyword("storm");
  EXPECT_TRUE(Titles().empty());
  EXPECT_EQ(m_.LoadNewsInfo(ids[3]), nullptr);
  EXPECT_EQ(m_.LoadNewsDetail(ids[3]), nullptr);
  EXPECT_EQ(m_.lastDetail, nullptr);

  // The rows stay, marked: the eBook generator selects is_del = 0 only.
  Statement s(*m_.database(), "SELECT count(*) FROM newsitem WHERE is_del <> 0");
  ASSERT_TRUE(s.Next());
  EXPECT_EQ(s.Int(0), 2);
}

TEST_F(DBManagerTest, LoadsInfoAndDetailWithImagesInPlaceholderOrder) {
  NewsRecord n;
  n.pair = betaSport_;
  n.title = "Final &#39;won&#39;";
  n.author = "A. Writer";
  n.url = "https://example.org/final";
  n.published = At("2024-03-06 20:00:00");
  n.body = "[[{0}]] text [[{5}]]";
  n.images = {{5, "/img/b.png", "second"}, {0, "/img/a.png", "first"}};
  int64_t id = StoreNews(*m_.database(), n);
  ASSERT_GT(id, 0);

  const CNewsInfoItemStruct* info = m_.LoadNewsInfo(static_cast<int32_t>(id));
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->title, n.title);
  EXPECT_EQ(info->site, "Beta");
  EXPECT_EQ(info->category, "Sport");
  EXPECT_EQ(info->author, "A. Writer");
  EXPECT_EQ(info->link, n.url);
  EXPECT_EQ(info->published, n.published);

  const CNewsDetailItemStruct* d = m_.LoadNewsDetail(static_cast<int32_t>(id));
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(m_.lastDetail, d);
  EXPECT_EQ(d->body, n.body);
  EXPECT_EQ(d->imageSources, (std::vector<std::string>{"/img/a.png", "/img/b.png"}));
  EXPECT_EQ(d->imageCaptions, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(d->imagePositions, (std::vector<int>{0, 5}));
  EXPECT_EQ(m_.LoadNewsInfo(424242), nullptr);
}

TEST_F(DBManagerTest, FilterRoundTripsWithItsLinks) {
  CFilterStruct f;
  f.name = "Rivers";
  f.keywords = LikeEscape("50%_[a]");
  f.searchMode = 4;
  f.timeKind = 1;
  f.from = At("2024-03-01 00:00:00");
  f.to = At("2024-03-04 00:00:00");
  f.days = 3;
  f.hours = 2;
  f.minutes = 1;
  f.usedInLit = true;
  // Alpha/World and gamma/Arts, by (category id, site id).
  int32_t cats[2], sites[2];
  ASSERT_TRUE(m_.BeginNewsCategoryEnum(1));
  int n = 0;
  while (const CNewsCategoryStruct* c = m_.EnumNextNewsCategory())
    if (c->siteName != "Beta") {
      cats[n] = c->categoryId;
      sites[n++] = c->siteId;
    }
  m_.EndNewsCategoryEnum();
  ASSERT_EQ(n, 2);

  int32_t id = m_.CreateFilter(f, cats, sites, 2);
  ASSERT_GT(id, 0);
  const CFilterStruct* got = m_.FetchFilter(id);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->name, "Rivers");
  EXPECT_EQ(got->keywords, "50[%][_][[]a[]]");
  EXPECT_EQ(got->searchMode, 4);
  EXPECT_EQ(got->timeKind, 1);
  EXPECT_EQ(got->from, f.from);
  EXPECT_EQ(got->to, f.to);
  EXPECT_EQ(got->days, 3);
  EXPECT_EQ(got->hours, 2);
  EXPECT_EQ(got->minutes, 1);
  EXPECT_TRUE(got->usedInLit);

  std::vector<std::string> links;
  ASSERT_TRUE(m_.BeginFilterSiteCatRelEnum(id));
  while (const CFilterSiteCatRelStruct* l = m_.EnumNextFilterSiteCatRel())
    links.push_back(l->siteName + " - " + l->categoryName);
  m_.EndFilterSiteCatRelEnum();
  EXPECT_EQ(links, (std::vector<std::string>{"Alpha - World", "gamma - Arts"}));

  CFilterStruct changed = *got;
  changed.name = "A first";
  ASSERT_TRUE(m_.UpdateFilter(changed, cats, sites, 1));
  int32_t second = m_.CreateFilter(f, nullptr, nullptr, 0);
  ASSERT_GT(second, id);
  std::vector<std::string> names;
  ASSERT_TRUE(m_.BeginFilterListItemEnum());
  while (const CFilterListItemStruct* item = m_.EnumNextFilterListItem()) names.push_back(item->name);
  m_.EndFilterListItemEnum();
  EXPECT_EQ(names, (std::vector<std::string>{"A first", "Rivers"}));
  ASSERT_TRUE(m_.BeginFilterSiteCatRelEnum(id));
  int count = 0;
  while (m_.EnumNextFilterSiteCatRel()) ++count;
  EXPECT_EQ(count, 1);

  EXPECT_TRUE(m_.DeleteFilter(id));
  EXPECT_EQ(m_.FetchFilter(id), nullptr);
  Statement s(*m_.database(), "SELECT count(*) FROM filter_site_cat_rel WHERE fk_filter = ?");
  s.Bind(1, id);
  ASSERT_TRUE(s.Next());
  EXPECT_EQ(s.Int(0), 0);
  EXPECT_FALSE(m_.UpdateFilter(changed, cats, sites, 1));  // gone: a failure
}

TEST_F(DBManagerTest, FilterListsItsNewsByModeTimeAndPairs) {
  auto pairOf = [&](int64_t rel, int32_t* cat, int32_t* site) {
    Statement s(*m_.database(), "SELECT fk_news_cat, fk_news_config FROM site_cat_rel WHERE id = ?");
    s.Bind(1, rel);
    ASSERT_TRUE(s.Next());
    *cat = static_cast<int32_t>(s.Int(0));
    *site = static_cast<int32_t>(s.Int(1));
  };
  int32_t cats[3], sites[3];
  pairOf(alphaWorld_, &cats[0], &sites[0]);
  pairOf(betaSport_, &cats[1], &sites[1]);
  pairOf(gammaArts_, &cats[2], &sites[2]);

  CFilterStruct f;
  f.name = "any";
  f.keywords = "river  cup";
  f.searchMode = 1;
  int32_t any = m_.CreateFilter(f, cats, sites, 3);
  m_.SetSearchWithFilter(true);
  m_.SetSearchFilter(any);
  m_.SetSort(3);
  EXPECT_EQ(Titles(), (Titles_{"Cup draw", "Mayor opens bridge", "Storm warning"}));

  f.searchMode = 0;  // all words
  f.keywords = "river storm";
  int32_t all = m_.CreateFilter(f, cats, sites, 3);
  m_.SetSearchFilter(all);
  EXPECT_EQ(Titles(), (Titles_{"Storm warning"}));

  f.searchMode = 3;  // excluding all words: only an item holding both is dropped
  int32_t exAll = m_.CreateFilter(f, cats, sites, 3);
  m_.SetSearchFilter(exAll);
  EXPECT_EQ(Titles().size(), 4u);

  f.searchMode = 4;  // excluding any word, limited to Alpha/World
  int32_t exAny = m_.CreateFilter(f, cats, sites, 1);
  m_.SetSearchFilter(exAny);
  EXPECT_TRUE(Titles().empty());

  f.searchMode = 2;  // exact phrase, whole days from the 2nd to the 4th
  f.keywords = "";
  f.timeKind = 1;
  f.from = At("2024-03-02 15:00:00");
  f.to = At("2024-03-04 00:00:00");
  int32_t range = m_.CreateFilter(f, cats, sites, 3);
  m_.SetSearchFilter(range);
  EXPECT_EQ(Titles(), (Titles_{"Cup draw", "Mayor opens bridge", "Storm warning"}));

  f.timeKind = 0;  // no links: nothing
  int32_t none = m_.CreateFilter(f, cats, sites, 0);
  m_.SetSearchFilter(none);
  EXPECT_TRUE(Titles().empty());

  // Search keywords narrow a filter further.
  m_.SetSearchFilter(any);
  m_.AddSearchKeyword("bridge");
  EXPECT_EQ(Titles(), (Titles_{"Mayor opens bridge"}));

  m_.SetSearchFilter(9999);  // no such filter
  EXPECT_FALSE(m_.BeginNewsListEnum());
  EXPECT_EQ(m_.EnumNextNewsListItem(), nullptr);
}

TEST_F(DBManagerTest, CategorySelectionAndIsAnySelected) {
  EXPECT_TRUE(m_.IsAnySelected());
  std::vector<int32_t> cats, sites;
  ASSERT_TRUE(m_.BeginNewsCategoryEnum(0));
  std::vector<std::string> order;
  while (const CNewsCategoryStruct* c = m_.EnumNextNewsCategory()) {
    cats.push_back(c->categoryId);
    sites.push_back(c->siteId);
    order.push_back(c->siteName + "/" + c->categoryName + (c->selected ? "*" : ""));
  }
  m_.EndNewsCategoryEnum();
  EXPECT_EQ(order, (std::vector<std::string>{"Alpha/World*", "Beta/Sport", "gamma/Arts"}));
  ASSERT_TRUE(m_.UpdateCategories(cats.data(), sites.data(), 3, false));
  EXPECT_FALSE(m_.IsAnySelected());
  ASSERT_TRUE(m_.UpdateCategories(cats.data() + 2, sites.data() + 2, 1, true));
  ASSERT_TRUE(m_.BeginNewsCategoryEnum(0));
  std::vector<bool> selected;
  while (const CNewsCategoryStruct* c = m_.EnumNextNewsCategory()) selected.push_back(c->selected);
  EXPECT_EQ(selected, (std::vector<bool>{false, false, true}));
}

TEST_F(DBManagerTest, AbortDropsWhatTheTransactionStored) {
  ASSERT_EQ(m_.StartTransaction(), 0);
  CFilterStruct f;
  f.name = "temporary";
  int32_t id = m_.CreateFilter(f, nullptr, nullptr, 0);
  ASSERT_GT(id, 0);
  EXPECT_EQ(m_.Abort(), 0);
  EXPECT_EQ(m_.FetchFilter(id), nullptr);

  ASSERT_EQ(m_.StartTransaction(), 0);
  int32_t kept = m_.CreateFilter(f, nullptr, nullptr, 0);
  EXPECT_EQ(m_.Commit(), 0);
  EXPECT_NE(m_.FetchFilter(kept), nullptr);
  EXPECT_NE(m_.Abort(), 0);  // nothing to abort
}

// Every sort in both orders, over a few thousand items with the awkward
// cases (names alike but for letter case, equal dates, deleted items,
// news without a pair, with a vanished pair, or whose pair lost its site or
// category), must list exactly the rows, in exactly the order, of one plain
// sorted query.
class ListOrderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("news.db");
    std::unique_ptr<Database> db;
    ASSERT_EQ(Database::Open(path_, Database::Mode::kCreate, &db), 0);
    std::vector<int64_t> pairs;
    for (const char* site : {"beta", "Alpha", "alpha", "Gamma", "delta", "Ghost"})
      for (const char* category : {"World", "sport", "Sport", "Lost"}) pairs.push_back(EnsurePair(*db, site, category));
    uint64_t r = 88172645463325252ull;
    auto next = [&r] {
      r ^= r << 13;
      r ^= r >> 7;
      r ^= r << 17;
      return r;
    };
    ASSERT_EQ(db->Exec("PRAGMA foreign_keys = OFF"), 0);  // for the vanished pairs
    Transaction t(*db);
    Statement ins(*db, "INSERT INTO newsitem (recvdate, newsdate, fk_site_cat_rel, publication_date, src_url, author,"
                       " title, smalldescr, body, is_del, is_read) VALUES (?1, ?1, ?2, ?1, ?6, 'a', ?3, '', 'b', ?4, ?5)");
    const char* titles[] = {"Zebra", "apple", "Apple", "mango", "Ölpreis", "banana"};
    for (int i = 0; i < 3000; ++i) {
      ins.Reset();
      // Few distinct dates: many ties for the id to break.
      ins.Bind(1, FormatDbTime(1700000000 + static_cast<std::time_t>(next() % 40) * 3600));
      uint64_t p = next() % 40;
      if (p < static_cast<uint64_t>(pairs.size())) ins.Bind(2, pairs[p]);
      else if (p < 36) ins.BindNull(2);
      else ins.Bind(2, 9000 + static_cast<int64_t>(p));  // a pair that is no more
      ins.Bind(3, std::string(titles[next() % 6]) + " " + std::to_string(next() % 50));
      ins.Bind(4, next() % 10 == 0 ? 1 : 0).Bind(5, static_cast<int>(next() % 2)).Bind(6, "u" + std::to_string(i));
      ASSERT_EQ(ins.Execute(), 0);
    }
    ASSERT_EQ(t.Commit(), 0);
    ASSERT_EQ(db->Exec("DELETE FROM news_config WHERE site_name = 'Ghost'; DELETE FROM news_cat WHERE name = 'Lost'"), 0);
    db.reset();
    ASSERT_TRUE(m_.Init(path_));
  }

  std::vector<int32_t> Listed() {
    std::vector<int32_t> out;
    EXPECT_TRUE(m_.BeginNewsListEnum());
    while (const CNewsListItemStruct* item = m_.EnumNextNewsListItem()) out.push_back(item->id);
    m_.EndNewsListEnum();
    return out;
  }

  std::vector<int32_t> Expected(int column, bool ascending, bool unreadOnly) {
    const char* dir = ascending ? "ASC" : "DESC";
    std::string order;
    if (column == 0 || column == 1) {
      const char* g = column == 0 ? "c" : "k";
      const char* name = column == 0 ? "c.site_name" : "k.name";
      order = std::string(g) + ".id IS NULL, " + name + " COLLATE NOCASE " + dir + ", " + g + ".id " + dir +
              ", n.publication_date DESC, n.id DESC";
    } else {
      order = std::string(column == 2 ? "n.publication_date " : "n.title COLLATE NOCASE ") + dir + ", n.id " + dir;
    }
    Statement s(*m_.database(), "SELECT n.id FROM newsitem n LEFT JOIN site_cat_rel r ON r.id = n.fk_site_cat_rel"
                                " LEFT JOIN news_config c ON c.id = r.fk_news_config"
                                " LEFT JOIN news_cat k ON k.id = r.fk_news_cat WHERE n.is_del = 0" +
                                    std::string(unreadOnly ? " AND n.is_read = 0" : "") + " ORDER BY " + order);
    std::vector<int32_t> out;
    while (s.Next()) out.push_back(static_cast<int32_t>(s.Int(0)));
    EXPECT_EQ(s.error(), 0);
    return out;
  }

  TempDir dir_;
  std::string path_;
  CDBManager m_;
};

TEST_F(ListOrderTest, EverySortListsTheRowsOfOnePlainSortedQuery) {
  for (bool unread : {false, true}) {
    m_.unreadOnly = unread;
    for (int column = 0; column < 4; ++column) {
      for (bool ascending : {true, false}) {
        if (m_.sortColumn() != column) m_.SetSort(column);
        m_.SetSortOrder(ascending ? 1 : 0);
        std::vector<int32_t> expected = Expected(column, ascending, unread);
        ASSERT_GT(expected.size(), 1000u);
        EXPECT_EQ(Listed(), expected) << "column " << column << (ascending ? " ascending" : " descending")
                                      << (unread ? ", unread only" : "");
      }
    }
  }
}

TEST(DBManagerInit, EmptyPathReadsPathDbAndMissingFileFails) {
  TempDir dir;
  std::string path = dir.File("n.db");
  {
    std::unique_ptr<Database> db;
    ASSERT_EQ(Database::Open(path, Database::Mode::kCreate, &db), 0);
    // As made before the grid's indexes existed.
    ASSERT_EQ(db->Exec("DROP INDEX newsitem_grid_title; DROP INDEX newsitem_grid_date"), 0);
  }
  ::setenv("ORVO_HOME", dir.path().c_str(), 1);
  CDBManager m;
  EXPECT_FALSE(m.Init(""));  // no PathDB yet
  EXPECT_FALSE(m.IsOpen());
  EXPECT_FALSE(m.BeginNewsListEnum());
  EXPECT_NE(m.MarkAsRead(1, true), 0);
  ASSERT_TRUE(Settings::Shared().WriteText(kSystemSection, "PathDB", path));
  EXPECT_TRUE(m.Init(""));
  // Start-up builds no index: the background upgrade does, off the window's thread.
  Statement s(*m.database(), "SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name LIKE 'newsitem[_]%'"
                             " AND name NOT LIKE 'newsitem[_]fts%'");
  ASSERT_TRUE(s.Next());
  EXPECT_EQ(s.Int(0), 5);  // the schema's own three, the unique address and the pair index left
  EXPECT_FALSE(m.Init(dir.File("missing.db")));
  ::unsetenv("ORVO_HOME");
}

// The reader killed while it marks 10,000 items: the marks are all or none
// and the file stays whole, whenever the kill comes.
TEST(DBManagerKilled, MarksOfAKilledReaderAreAllOrNone) {
  TempDir dir;
  const std::string path = dir.File("news.db");
  {
    std::unique_ptr<Database> db;
    ASSERT_EQ(Database::Open(path, Database::Mode::kCreate, &db), 0);
    const int64_t pair = EnsurePair(*db, "Alpha", "World", true);
    Statement fill(*db,
                   "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10000)"
                   " INSERT INTO newsitem (recvdate, newsdate, fk_site_cat_rel, publication_date, src_url, title, body)"
                   " SELECT '2024-03-01 10:00:00', '2024-03-01 10:00:00', ?, '2024-03-01 10:00:00',"
                   " 'https://example.org/' || i, 'Item ' || i, 'Body' FROM n");
    fill.Bind(1, pair);
    ASSERT_EQ(fill.Execute(), 0);
  }
  std::vector<int32_t> ids;
  for (int32_t i = 1; i <= 10000; ++i) ids.push_back(i);
  for (int round = 1; round <= 4; ++round) {
    int done[2];
    ASSERT_EQ(::pipe(done), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // The reader: marks everything read, then unread, and so on.
      ::close(done[0]);
      CDBManager m;
      if (!m.Init(path)) ::_exit(3);
      for (bool read = true;; read = !read) {
        if (m.MarkAsRead(ids, read) != 0) ::_exit(4);
        char c = 1;
        if (::write(done[1], &c, 1) != 1) ::_exit(5);
      }
    }
    ::close(done[1]);
    // Killed after a different number of whole markings each round, in the
    // middle of the next one.
    char c;
    for (int k = 0; k < round; ++k) ASSERT_EQ(::read(done[0], &c, 1), 1);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(done[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the marking process ended on its own: " << status;

    std::unique_ptr<Database> db;
    ASSERT_EQ(Database::Open(path, Database::Mode::kExisting, &db), 0);
    Statement check(*db, "PRAGMA integrity_check");
    ASSERT_TRUE(check.Next());
    EXPECT_EQ(check.Text(0), "ok") << round;
    Statement read(*db, "SELECT count(*) FROM newsitem WHERE is_read <> 0");
    ASSERT_TRUE(read.Next());
    EXPECT_TRUE(read.Int(0) == 0 || read.Int(0) == 10000) << round << ": " << read.Int(0) << " marked";
  }
}

}  // namespace
}  // namespace orvo

namespace orvo {
namespace {

// A new database on the server with three items of one pair: ids 1
// "Bridge opens", 2 "Storm warning", 3 "Cup draw".
void StoreThreeItems(Database& db) {
  const int64_t pair = EnsurePair(db, "Alpha", "World", true);
  for (const char* title : {"Bridge opens", "Storm warning", "Cup draw"}) {
    NewsRecord n;
    n.pair = pair;
    n.title = title;
    n.body = std::string("About the ") + title;
    n.published = At("2024-03-02 10:00:00");
    n.url = std::string("https://example.org/") + title;
    ASSERT_GT(StoreNews(db, n), 0);
  }
}

// The reader's manager on a PostgreSQL server: it lists, marks read and
// deletes as on the file.
TEST(DBManagerOnPostgres, ListsMarksReadAndDeletes) {
  ORVO_NEED_POSTGRES(server);
  const std::string url = server->NewDatabase();
  ASSERT_FALSE(url.empty());
  {
    std::unique_ptr<Database> db;
    ASSERT_EQ(Database::Open(url, Database::Mode::kCreate, &db), 0);
    StoreThreeItems(*db);
    // A picture another machine gathered: its bytes are in the database.
    Statement pic(*db, "INSERT INTO newsimages(bodypos, image_path, imagetext, fk_newsitem)"
                       " VALUES(0, '/home/gatherer/.orvo/Images/2_0', 'Caption', 2)");
    ASSERT_EQ(pic.Execute(), 0);
    ASSERT_EQ(StorePictureBytes(*db, db->LastInsertId(), std::string("\x89PNG\0bytes", 10)), 0);
  }
  CDBManager m;
  ASSERT_TRUE(m.Init(url));
  auto titles = [&] {
    std::vector<std::string> out;
    EXPECT_TRUE(m.BeginNewsListEnum()) << m.lastError();
    while (const CNewsListItemStruct* item = m.EnumNextNewsListItem()) out.push_back(item->title + "@" + item->site);
    m.EndNewsListEnum();
    return out;
  };
  m.SetSort(3);
  EXPECT_EQ(titles(), (std::vector<std::string>{"Bridge opens@Alpha", "Cup draw@Alpha", "Storm warning@Alpha"}));
  m.AddSearchKeyword("STORM");
  EXPECT_EQ(titles(), (std::vector<std::string>{"Storm warning@Alpha"}));
  const int32_t storm = 2;
  m.ClearSearchKeywords();
  EXPECT_EQ(m.MarkAsRead(std::vector<int32_t>{storm, 3}, true), 0);
  m.unreadOnly = true;
  EXPECT_EQ(titles(), (std::vector<std::string>{"Bridge opens@Alpha"}));
  m.unreadOnly = false;
  EXPECT_EQ(m.DeleteNewItems({1}), 0);
  EXPECT_EQ(titles(), (std::vector<std::string>{"Cup draw@Alpha", "Storm warning@Alpha"}));
  EXPECT_EQ(m.LoadNewsInfo(1), nullptr);
  const CNewsDetailItemStruct* detail = m.LoadNewsDetail(storm);
  ASSERT_NE(detail, nullptr);
  EXPECT_EQ(detail->body, "About the Storm warning");
  EXPECT_EQ(detail->imageBytes, std::vector<std::string>{std::string("\x89PNG\0bytes", 10)});

  CFilterStruct f;
  f.name = "Cups";
  f.keywords = "cup";
  f.searchMode = 0;
  const int32_t category = 1, site = 1;
  const int32_t id = m.CreateFilter(f, &category, &site, 1);
  ASSERT_GT(id, 0) << m.lastError();
  m.SetSearchWithFilter(true);
  m.SetSearchFilter(id);
  EXPECT_EQ(titles(), (std::vector<std::string>{"Cup draw@Alpha"}));
}

}  // namespace
}  // namespace orvo

namespace orvo {
namespace {

// Two readers of two machines (two program folders, one server): what one
// marks read, deletes or marks unread again, the other lists at its next
// refresh, in the grid and in the side tree's counts.
TEST(DBManagerOnPostgres, TwoReadersSeeEachOthersMarksAndDeletionsAtTheirNextRefresh) {
  ORVO_NEED_POSTGRES(server);
  const std::string url = server->NewDatabase();
  ASSERT_FALSE(url.empty());
  {
    std::unique_ptr<Database> db;
    ASSERT_EQ(Database::Open(url, Database::Mode::kCreate, &db), 0);
    StoreThreeItems(*db);
  }
  // Each folder's ORVO.ini names the server, as on two machines.
  TempDir desk, laptop;
  CDBManager a, b;
  for (auto [folder, m] : {std::pair{&desk, &a}, std::pair{&laptop, &b}}) {
    ::setenv("ORVO_HOME", folder->path().c_str(), 1);
    ASSERT_TRUE(Settings::Shared().WriteText(kDatabaseSection, "Url", url));
    ASSERT_TRUE(m->Init("")) << m->lastError();
  }
  ::unsetenv("ORVO_HOME");
  auto rows = [](CDBManager& m) {
    std::vector<std::string> out;
    EXPECT_TRUE(m.BeginNewsListEnum()) << m.lastError();
    while (const CNewsListItemStruct* item = m.EnumNextNewsListItem())
      out.push_back(item->title + (item->read ? " read" : ""));
    m.EndNewsListEnum();
    return out;
  };
  auto counts = [](CDBManager& m) {
    std::vector<CPairCountStruct> c;
    EXPECT_TRUE(m.CountNewsPerPair(&c));
    return c.size() == 1 ? std::to_string(c[0].unread) + "/" + std::to_string(c[0].total) : "?";
  };
  a.SetSort(3);
  b.SetSort(3);
  EXPECT_EQ(rows(b), (std::vector<std::string>{"Bridge opens", "Cup draw", "Storm warning"}));

  ASSERT_EQ(a.MarkAsRead(std::vector<int32_t>{2, 3}, true), 0);
  ASSERT_EQ(a.DeleteNewItems({1}), 0);
  EXPECT_EQ(rows(b), (std::vector<std::string>{"Cup draw read", "Storm warning read"}));
  EXPECT_EQ(counts(b), "0/2");
  EXPECT_EQ(b.LoadNewsDetail(1), nullptr);

  ASSERT_EQ(b.MarkAsRead(2, false), 0);
  EXPECT_EQ(rows(a), (std::vector<std::string>{"Cup draw read", "Storm warning"}));
  EXPECT_EQ(counts(a), "1/2");
}

}  // namespace
}  // namespace orvo

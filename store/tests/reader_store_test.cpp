// The reader's layer functions on both back ends, with the same rows
// expected of each: the grid's orders, keyword searches (case, the reader's
// escapes), filters, marks, deletions, the pair tree and the filters' pairs.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "pg_server.h"
#include "store/filters.h"
#include "store/news_items.h"
#include "store/news_list.h"
#include "store/pairs.h"
#include "store/savepoint.h"
#include "store/schema.h"
#include "test_support.h"
#include "text.h"

namespace orvo {
namespace {

using Backend = Database::Backend;
using testing::TempDir;
using Titles = std::vector<std::string>;

// The titles the grid's list gives for `q`, in its order.
Titles ListTitles(Database& db, const NewsListQuery& q) {
  NewsList list;
  EXPECT_EQ(list.Open(db, q), 0) << db.ErrorMessage();
  Titles out;
  NewsListRow row;
  while (list.Next(&row)) out.emplace_back(row.title);
  EXPECT_EQ(list.error(), 0) << db.ErrorMessage();
  return out;
}

class ReaderStoreTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    std::string location = dir_.File("news.db");
    if (GetParam() == Backend::kPostgres) {
      ORVO_NEED_POSTGRES(server);
      location = server->NewDatabase();
      ASSERT_FALSE(location.empty());
    }
    std::string why;
    ASSERT_EQ(Database::Open(location, Database::Mode::kCreate, &db_, &why), 0) << why;
    alpha_ = EnsurePair(*db_, "alpha", "World", true);
    beta_ = EnsurePair(*db_, "Beta", "Sport");
    gamma_ = EnsurePair(*db_, "gamma", "Arts");
    Add(alpha_, "Mayor opens bridge", "2024-03-02 10:00:00", "The bridge over the RIVER opened.");
    Add(beta_, "Derby ends level", "2024-03-05 18:30:00", "A derby without goals.");
    Add(gamma_, "zebra painting sold", "2024-03-01 09:00:00", "A painting of a zebra, 50%_[a] off.");
    Add(alpha_, "Storm warning", "2024-03-04 07:15:00", "Storm and rain over the river.");
    Add(beta_, "Cup draw", "2024-03-03 12:00:00", "Sale 50 percent a cup.");
    Add(gamma_, "Ёлка на площади", "2024-03-06 08:00:00", "ПРАЗДНИК и ёлка.");
  }

  void Add(int64_t pair, const char* title, const char* when, const char* body) {
    NewsRecord n;
    n.pair = pair;
    n.title = title;
    n.body = body;
    n.published = *ParseDbTime(when);
    n.url = std::string("https://example.org/") + title;
    int64_t id = StoreNews(*db_, n);
    ASSERT_GT(id, 0) << db_->ErrorMessage();
    ids_[title] = static_cast<int32_t>(id);
  }

  Titles List(const NewsListQuery& q) { return ListTitles(*db_, q); }

  FilterRow Filter(int mode, const std::string& keywords, int kind = kNoTimeLimit) {
    FilterRow f;
    f.searchMode = mode;
    f.keywords = keywords;
    f.timeKind = kind;
    return f;
  }

  TempDir dir_;
  std::unique_ptr<Database> db_;
  int64_t alpha_ = 0, beta_ = 0, gamma_ = 0;
  std::map<std::string, int32_t> ids_;
};

INSTANTIATE_TEST_SUITE_P(Backends, ReaderStoreTest, ::testing::Values(Backend::kSqlite, Backend::kPostgres),
                         [](const auto& info) { return info.param == Backend::kSqlite ? "Sqlite" : "Postgres"; });

TEST_P(ReaderStoreTest, ListsGiveTheSameRowsOnBothBackEnds) {
  const std::vector<int64_t> all = {alpha_, beta_, gamma_};
  struct Case {
    const char* what;
    NewsListQuery q;
    Titles expected;
  };
  auto query = [](int sort, bool up) {
    NewsListQuery q;
    q.sort = sort;
    q.ascending = up;
    return q;
  };
  auto search = [&](std::vector<std::string> words) {
    NewsListQuery q = query(kSortByDate, false);
    q.keywords = std::move(words);
    return q;
  };
  auto filtered = [&](FilterRow f, std::vector<int64_t> pairs) {
    NewsListQuery q = query(kSortByDate, false);
    f.dateFrom = *ParseDbTime("2024-03-02 15:00:00");
    f.dateTo = *ParseDbTime("2024-03-04 06:00:00");
    q.filter = f;
    q.filterPairs = std::move(pairs);
    q.now = *ParseDbTime("2024-03-05 20:00:00");
    return q;
  };
  NewsListQuery onePair = query(kSortByTitle, true);
  onePair.pairs = {beta_};
  FilterRow period = Filter(7, "", kLastPeriod);
  period.hours = 2;
  std::vector<Case> cases = {
      {"date, newest first", query(kSortByDate, false),
       {"Ёлка на площади", "Derby ends level", "Storm warning", "Cup draw", "Mayor opens bridge",
        "zebra painting sold"}},
      {"title, case-insensitive", query(kSortByTitle, true),
       {"Cup draw", "Derby ends level", "Mayor opens bridge", "Storm warning", "zebra painting sold",
        "Ёлка на площади"}},
      {"title, backwards", query(kSortByTitle, false),
       {"Ёлка на площади", "zebra painting sold", "Storm warning", "Mayor opens bridge", "Derby ends level",
        "Cup draw"}},
      {"site, each newest first", query(kSortBySite, true),
       {"Storm warning", "Mayor opens bridge", "Derby ends level", "Cup draw", "Ёлка на площади",
        "zebra painting sold"}},
      {"category, backwards", query(kSortByCategory, false),
       {"Storm warning", "Mayor opens bridge", "Derby ends level", "Cup draw", "Ёлка на площади",
        "zebra painting sold"}},
      {"one pair", onePair, {"Cup draw", "Derby ends level"}},
      {"a word in any case", search({"river"}), {"Storm warning", "Mayor opens bridge"}},
      {"escaped wildcards are literal", search({"50[%][_][[]a[]]"}), {"zebra painting sold"}},
      {"every word", search({"storm", "RAIN"}), {"Storm warning"}},
      {"Cyrillic in another case", search({"ёЛКА"}), {"Ёлка на площади"}},
      {"a wildcard keyword", search({"d_rby"}), {"Derby ends level"}},
      {"filter: any word", filtered(Filter(kAnyWord, "derby ZEBRA"), all), {"Derby ends level", "zebra painting sold"}},
      {"filter: excluding any word on two pairs", filtered(Filter(kExcludeAnyWord, "river zebra"), {alpha_, gamma_}),
       {"Ёлка на площади"}},
      {"filter: excluding all words", filtered(Filter(kExcludeAllWords, "storm rain"), {alpha_}), {"Mayor opens bridge"}},
      {"filter: a phrase", filtered(Filter(kExactPhrase, "50 percent"), all), {"Cup draw"}},
      {"filter: whole days", filtered(Filter(7, "", kBetweenDates), all),
       {"Storm warning", "Cup draw", "Mayor opens bridge"}},
      {"filter: a period to the second", filtered(period, all), {"Ёлка на площади", "Derby ends level"}},
      {"filter: no pairs", filtered(Filter(7, ""), {}), {}},
  };
  for (const Case& c : cases) EXPECT_EQ(List(c.q), c.expected) << c.what;
}

// The one filter builder, read by the grid and by the eBook query, with
// keywords that hold LIKE's and SQL's own characters and case pairs that
// the server's lower() does not fold alike (final sigma, micro sign) or
// folds where the reader does not (dotted capital I), and a backslash, which
// PostgreSQL's LIKE takes for its escape.
TEST_P(ReaderStoreTest, FilterKeywordsSelectTheSameRowsInTheGridAndTheEbooks) {
  const int64_t misc = EnsurePair(*db_, "delta", "Misc");
  const std::vector<std::pair<const char*, const char*>> items = {
      {"Percent", "Prices up 50% today"},      {"Percent words", "Prices up 50 percent today"},
      {"Underscore", "file_name.txt found"},   {"No underscore", "filexname.txt found"},
      {"Bracket", "see [note] here"},          {"Quote", "Interview with O'Brien"},
      {"Sigma", "\u039F\u0394\u039F\u03A3 \u039A\u039B\u0395\u0399\u03A3\u03A4\u0397"},
      {"Micro", "5 \u00B5m wide"},             {"Dotted", "\u0130stanbul"},
      {"Cyrillic", "\u041F\u0420\u0410\u0417\u0414\u041D\u0418\u041A"},
      {"Backslash", "saved in C:\\temp\\new"}, {"No backslash", "saved in c:temp"},
  };
  for (const auto& [title, body] : items) Add(misc, title, "2024-03-07 10:00:00", body);
  struct Case {
    int mode;
    const char* keywords;  // as the reader stores them, escaped
    std::set<std::string> expected;
  };
  const std::set<std::string> everything = {"Percent", "Percent words", "Underscore", "No underscore", "Bracket",
                                            "Quote", "Sigma", "Micro", "Dotted", "Cyrillic",
                                            "Backslash", "No backslash"};
  auto allBut = [&](std::set<std::string> out) {
    std::set<std::string> rest;
    for (const std::string& t : everything)
      if (!out.count(t)) rest.insert(t);
    return rest;
  };
  const std::vector<Case> cases = {
      {kExactPhrase, "50[%] today", {"Percent"}},
      {kExactPhrase, "50% today", {"Percent", "Percent words"}},
      {kAllWords, "file[_]name", {"Underscore"}},
      {kAnyWord, "file_name", {"Underscore", "No underscore"}},
      {kExactPhrase, "[[]note[]]", {"Bracket"}},
      {kAllWords, "o'brien", {"Quote"}},
      {kAnyWord, "\u03BF\u03B4\u03BF\u03C2 \u03BCm", {"Sigma", "Micro"}},
      {kAllWords, "\u043F\u0440\u0430\u0437\u0434\u043D\u0438\u043A", {"Cyrillic"}},
      {kAllWords, "istanbul", {}},
      {kAllWords, "c:\\temp", {"Backslash"}},
      {kAllWords, "\u0130STANBUL", {"Dotted"}},
      {kExcludeAnyWord, "\u043F\u0440\u0430\u0437\u0434\u043D\u0438\u043A \u03BF\u03B4\u03BF\u03C2",
       allBut({"Cyrillic", "Sigma"})},
      {kExcludeAllWords, "prices percent", allBut({"Percent words"})},
      {kExcludePhrase, "50[%]", allBut({"Percent"})},
  };
  std::map<int64_t, std::string> titles;
  for (const auto& [title, id] : ids_) titles[id] = title;
  for (const Case& c : cases) {
    FilterRow f = Filter(c.mode, c.keywords);
    f.name = "case";
    f.litGen = true;
    int64_t id = 0;
    ASSERT_EQ(CreateFilter(*db_, f, {{4, 4}}, &id), 0) << db_->ErrorMessage();
    NewsListQuery q;
    q.filter = f;
    q.filterPairs = {misc};
    q.now = *ParseDbTime("2024-03-08 00:00:00");
    const Titles grid = List(q);
    EXPECT_EQ(std::set<std::string>(grid.begin(), grid.end()), c.expected) << "grid: " << c.keywords;
    NewsQuery ebook;
    ASSERT_EQ(ebook.Open(*db_, q.now), 0) << db_->ErrorMessage();
    std::set<std::string> books;
    while (ebook.Fetch()) books.insert(titles[ebook.row().id]);
    EXPECT_EQ(ebook.error(), 0);
    EXPECT_EQ(books, c.expected) << "eBook: " << c.keywords;
    ASSERT_EQ(DeleteFilter(*db_, id), 0);
  }
}

// Past the first batch of rows (PostgreSQL reads kFetchBatch ids first, then
// more at a time): every row once, in the query's order, and an item deleted
// before its rows were read stays out.
TEST_P(ReaderStoreTest, TheEbookQueryReadsEveryRowInOrderAcrossBatches) {
  const size_t n = 2 * NewsQuery::kFetchBatch + 7;
  std::vector<int32_t> added;
  for (size_t i = 0; i < n; ++i) {
    const std::string title = "Batch item " + std::to_string(i);
    Add(gamma_, title.c_str(), "2024-03-07 08:00:00", "Body.");
    added.push_back(ids_[title]);
  }
  FilterRow f = Filter(kAllWords, "");
  f.name = "all";
  f.litGen = true;
  std::vector<PairKey> pairs;
  for (int64_t id : {gamma_, alpha_}) {
    const std::optional<SitePair> pair = ReadSitePair(*db_, id);
    ASSERT_TRUE(pair.has_value());
    pairs.push_back({static_cast<int32_t>(pair->categoryId), static_cast<int32_t>(pair->siteId)});
  }
  int64_t filter = 0;
  ASSERT_EQ(CreateFilter(*db_, f, pairs, &filter), 0) << db_->ErrorMessage();
  NewsQuery q;
  ASSERT_EQ(q.Open(*db_, *ParseDbTime("2024-03-08 00:00:00")), 0) << db_->ErrorMessage();
  // By category, then as stored: alpha's World before gamma's Arts, so the
  // first batch's ids are not in id order.
  std::vector<int32_t> expected = {ids_["Mayor opens bridge"], ids_["Storm warning"], ids_["zebra painting sold"],
                                   ids_["Ёлка на площади"]};
  const int32_t gone = added[NewsQuery::kFetchBatch + 3];
  for (int32_t id : added)
    if (id != gone) expected.push_back(id);
  std::vector<int32_t> read;
  ASSERT_TRUE(q.Fetch());
  read.push_back(static_cast<int32_t>(q.row().id));
  ASSERT_EQ(DeleteNews(*db_, {gone}), 0) << db_->ErrorMessage();
  while (q.Fetch()) read.push_back(static_cast<int32_t>(q.row().id));
  EXPECT_EQ(q.error(), 0);
  EXPECT_EQ(read, expected);
}

// Several marked filters: an item two of them match comes once, and the
// rows come by category, then as stored.
TEST_P(ReaderStoreTest, TheEbookQueryGivesAnItemOfTwoFiltersOnceInCategoryOrder) {
  FilterRow words = Filter(kAnyWord, "river storm");
  words.name = "words";
  words.litGen = true;
  FilterRow dates = Filter(kExcludeAnyWord, "derby", kBetweenDates);
  dates.name = "dates";
  dates.litGen = true;
  dates.dateFrom = ParseDbTime("2024-03-03 00:00:00");
  dates.dateTo = ParseDbTime("2024-03-06 00:00:00");
  int64_t id = 0;
  ASSERT_EQ(CreateFilter(*db_, words, {{1, 1}, {3, 3}}, &id), 0) << db_->ErrorMessage();
  ASSERT_EQ(CreateFilter(*db_, dates, {{1, 1}, {2, 2}}, &id), 0) << db_->ErrorMessage();
  ASSERT_EQ(DeleteNews(*db_, {ids_["Mayor opens bridge"]}), 0);
  Add(alpha_, "River rises", "2024-03-05 06:00:00", "The river rises.");
  NewsQuery q;
  ASSERT_EQ(q.Open(*db_, *ParseDbTime("2024-03-08 00:00:00")), 0) << db_->ErrorMessage();
  std::vector<int32_t> read;
  while (q.Fetch()) read.push_back(static_cast<int32_t>(q.row().id));
  EXPECT_EQ(q.error(), 0);
  EXPECT_EQ(read, (std::vector<int32_t>{ids_["Storm warning"], ids_["River rises"], ids_["Cup draw"]}));
}

TEST_P(ReaderStoreTest, MarksAndDeletionsAreAllOrNoneAndShowInTheLists) {
  ASSERT_EQ(MarkNewsRead(*db_, {ids_["Cup draw"], ids_["Storm warning"], ids_["Cup draw"]}, true), 0);
  EXPECT_EQ(MarkNewsRead(*db_, ids_["Derby ends level"], true), 0);
  EXPECT_EQ(MarkNewsRead(*db_, 9999, true), SQLITE_NOTFOUND);
  NewsListQuery unread;
  unread.sort = kSortByTitle;
  unread.unreadOnly = true;
  EXPECT_EQ(List(unread), (Titles{"Mayor opens bridge", "zebra painting sold", "Ёлка на площади"}));

  // Inside the caller's transaction a failed write rolls back only its own part.
  ASSERT_EQ(db_->Begin(), 0);
  ASSERT_TRUE(db_->InTransaction());
  ASSERT_EQ(DeleteNews(*db_, {ids_["Mayor opens bridge"]}), 0);
  {
    Savepoint sp(*db_);
    ASSERT_EQ(sp.status(), 0);
    Statement bad(*db_, "UPDATE newsitem SET no_such_column = 1");
    EXPECT_NE(bad.Execute(), 0);
  }
  ASSERT_EQ(db_->Commit(), 0);
  EXPECT_FALSE(db_->InTransaction());
  EXPECT_EQ(List(unread), (Titles{"zebra painting sold", "Ёлка на площади"}));

  NewsInfo info;
  EXPECT_EQ(ReadNewsInfo(*db_, ids_["Mayor opens bridge"], &info), SQLITE_NOTFOUND);
  ASSERT_EQ(ReadNewsInfo(*db_, ids_["Cup draw"], &info), 0);
  EXPECT_EQ(info.site + "/" + info.category, "Beta/Sport");
  std::vector<PairNewsCount> counts;
  ASSERT_EQ(CountNewsPerPair(*db_, &counts), 0);
  std::string seen;
  for (const PairNewsCount& c : counts)
    seen += c.siteName + ":" + std::to_string(c.unread) + "/" + std::to_string(c.total) + " ";
  EXPECT_EQ(seen, "alpha:0/1 Beta:0/2 gamma:2/2 ");
}

TEST_P(ReaderStoreTest, PairsAndFiltersComeInNameOrderWithTheirPairs) {
  EXPECT_TRUE(TableExists(*db_, "newsitem_auto"));
  EXPECT_FALSE(TableExists(*db_, "no_such_table"));
  ASSERT_EQ(SelectPairs(*db_, {{2, 2}, {3, 3}}, true), 0);
  std::vector<PairRow> pairs;
  ASSERT_EQ(ListPairs(*db_, &pairs), 0);
  std::string tree;
  for (const PairRow& p : pairs) tree += p.siteName + "/" + p.categoryName + (p.selected ? "+ " : " ");
  EXPECT_EQ(tree, "alpha/World+ Beta/Sport+ gamma/Arts+ ");

  FilterRow f = Filter(kAnyWord, "it's 50[%]");
  f.name = "beta news";
  int64_t second = 0, first = 0;
  // The second pair named does not exist: the filter keeps the others.
  ASSERT_EQ(CreateFilter(*db_, f, {{3, 3}, {9, 9}, {1, 1}}, &second), 0);
  f.name = "Alpha news";
  f.litGen = true;
  ASSERT_EQ(CreateFilter(*db_, f, {}, &first), 0);
  std::vector<FilterName> names;
  ASSERT_EQ(ListFilters(*db_, &names), 0);
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0].id, first);
  FilterRow back;
  ASSERT_EQ(ReadFilter(*db_, first, &back), 0);
  EXPECT_EQ(back.keywords, "it's 50[%]");
  EXPECT_TRUE(back.litGen);
  ASSERT_EQ(ListFilterPairs(*db_, second, &pairs), 0);
  tree.clear();
  for (const PairRow& p : pairs) tree += p.siteName + "/" + p.categoryName + " ";
  EXPECT_EQ(tree, "alpha/World gamma/Arts ");
  back.id = 9999;
  EXPECT_EQ(UpdateFilter(*db_, back, {}), SQLITE_NOTFOUND);
  ASSERT_EQ(DeleteFilter(*db_, second), 0);
  EXPECT_EQ(ReadFilter(*db_, second, &back), SQLITE_NOTFOUND);
}

// ILIKE and lower() fold by the server's locale, and under C by ASCII alone.
TEST(ReaderStoreOnPostgres, KeywordsFoldCaseOnAServerWithTheCLocale) {
  ORVO_NEED_POSTGRES(server);
  const std::string url = server->NewDatabase("LC_COLLATE 'C' LC_CTYPE 'C'");
  ASSERT_FALSE(url.empty());
  std::unique_ptr<Database> db;
  std::string why;
  ASSERT_EQ(Database::Open(url, Database::Mode::kCreate, &db, &why), 0) << why;
  NewsRecord n;
  n.pair = EnsurePair(*db, "site", "Category");
  n.title = "Ёлка";
  n.body = "ПРАЗДНИК";
  n.published = *ParseDbTime("2024-03-06 08:00:00");
  ASSERT_GT(StoreNews(*db, n), 0) << db->ErrorMessage();
  for (const char* word : {"ёЛКА", "праздник"}) {
    NewsListQuery q;
    q.keywords = {word};
    NewsList list;
    ASSERT_EQ(list.Open(*db, q), 0) << db->ErrorMessage();
    NewsListRow row;
    ASSERT_TRUE(list.Next(&row)) << word;
    EXPECT_EQ(row.title, n.title);
  }
}

// SQLite's NOCASE folds the ASCII letters alone and then compares bytes (code
// point order); NULLs come first going up, and equal keys go by id. Every
// sorted list of names the reader shows keeps that order on PostgreSQL too,
// whatever the server's locale (ICU's Russian one sorts quite otherwise).
struct SortCase {
  const char* name;
  Backend backend;
  const char* databaseOptions;
  friend void PrintTo(const SortCase& c, std::ostream* os) { *os << c.name; }
};

class SortOrderTest : public ::testing::TestWithParam<SortCase> {
 protected:
  void SetUp() override {
    std::string location = dir_.File("news.db");
    if (GetParam().backend == Backend::kPostgres) {
      ORVO_NEED_POSTGRES(server);
      location = server->NewDatabase(GetParam().databaseOptions);
      ASSERT_FALSE(location.empty()) << "CREATE DATABASE ... " << GetParam().databaseOptions;
    }
    std::string why;
    ASSERT_EQ(Database::Open(location, Database::Mode::kCreate, &db_, &why), 0) << why;
  }
  TempDir dir_;
  std::unique_ptr<Database> db_;
};

INSTANTIATE_TEST_SUITE_P(Backends, SortOrderTest,
                         ::testing::Values(SortCase{"Sqlite", Backend::kSqlite, ""},
                                           SortCase{"Postgres", Backend::kPostgres, ""},
                                           SortCase{"PostgresRussianIcu", Backend::kPostgres,
                                                    "LOCALE_PROVIDER icu ICU_LOCALE 'ru-RU' LOCALE 'C.UTF-8'"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(SortOrderTest, NamesSortAsSqlitesNocaseInEveryList) {
  // Added in this order, so that ids do not follow the names; "apple" comes
  // before "Apple", their keys being equal.
  const Titles added = {"ёлка", "Жук",     "Zebra",  "apple",    "9 lives", "Apple",   "",
                        "Éclair", "~tilde", "Straße", "_under",  "абв",     "10 lives", "éclair",
                        "zzz",  "!bang",   "Ёлка",   "[bracket", "strasse", "Zürich"};
  const Titles up = {"",      "!bang",   "10 lives", "9 lives", "[bracket", "_under", "apple",
                     "Apple", "strasse", "Straße",   "Zebra",   "zzz",      "Zürich", "~tilde",
                     "Éclair", "éclair", "Ёлка",     "Жук",     "абв",      "ёлка"};
  const Titles down(up.rbegin(), up.rend());
  std::map<std::string, int64_t> ids;
  for (const std::string& name : added) {
    NewsRecord n;
    n.pair = EnsurePair(*db_, name, name);
    ASSERT_GT(n.pair, 0) << db_->ErrorMessage();
    n.title = name;
    n.url = "https://example.org/" + std::to_string(ids.size());
    n.published = *ParseDbTime("2024-03-01 10:00:00");
    ids[name] = StoreNews(*db_, n);
    ASSERT_GT(ids[name], 0) << db_->ErrorMessage();
    FilterRow f;
    f.name = name;
    int64_t filter = 0;
    ASSERT_EQ(CreateFilter(*db_, f, {}, &filter), 0) << db_->ErrorMessage();
  }
  // Two items without a date: first going up, then the equal dates by id.
  for (const char* undated : {"абв", "Zebra"}) {
    Statement s(*db_, "UPDATE newsitem SET publication_date = NULL WHERE id = ?");
    s.Bind(1, ids[undated]);
    ASSERT_EQ(s.Execute(), 0) << db_->ErrorMessage();
  }
  Titles byDate = {"Zebra", "абв"};
  for (const std::string& name : added)
    if (name != "Zebra" && name != "абв") byDate.push_back(name);

  auto grid = [&](int sort, bool ascending) {
    NewsListQuery q;
    q.sort = sort;
    q.ascending = ascending;
    return ListTitles(*db_, q);
  };
  struct Case {
    const char* what;
    int sort;
    bool ascending;
    Titles expected;
  };
  const std::vector<Case> cases = {
      {"titles up", kSortByTitle, true, up},        {"titles down", kSortByTitle, false, down},
      {"sites up", kSortBySite, true, up},          {"sites down", kSortBySite, false, down},
      {"categories up", kSortByCategory, true, up}, {"categories down", kSortByCategory, false, down},
      {"dates up", kSortByDate, true, byDate},
      {"dates down", kSortByDate, false, Titles(byDate.rbegin(), byDate.rend())},
  };
  for (const Case& c : cases) EXPECT_EQ(grid(c.sort, c.ascending), c.expected) << c.what;

  std::vector<PairRow> pairs;
  ASSERT_EQ(ListPairs(*db_, &pairs), 0) << db_->ErrorMessage();
  Titles sites;
  for (const PairRow& p : pairs) sites.push_back(p.siteName);
  EXPECT_EQ(sites, up) << "the Sites pane";
  std::vector<FilterName> filters;
  ASSERT_EQ(ListFilters(*db_, &filters), 0) << db_->ErrorMessage();
  Titles names;
  for (const FilterName& f : filters) names.push_back(f.name);
  EXPECT_EQ(names, up) << "the filter list";
}

}  // namespace
}  // namespace orvo

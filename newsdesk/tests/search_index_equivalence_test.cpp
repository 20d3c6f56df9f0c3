// The reader's searches and filters through the search index list exactly
// the items they list on LIKE alone.
#include <gtest/gtest.h>

#include <random>

#include "database.h"
#include "like.h"
#include "pg_server.h"
#include "store/news_items.h"
#include "store/news_list.h"
#include "store/pairs.h"
#include "store/search_index.h"
#include "test_support.h"
#include "text.h"
#include "vaultmap/dbmanager.h"

namespace orvo {
namespace {

// Words with the hard cases: LIKE's own characters, brackets, Cyrillic and
// Greek in both cases (with the final sigma), Latin-1 letters, short words.
const char* const kWords[] = {
    "river", "River", "RIVER", "storm", "50%_[a]", "50%", "50", "[b]", "a^b", "^", "_x_", "price",
    "ПРИВЕТ", "привет", "Привет", "ёлка", "ЁЛКА", "мир", "ΣΑΣ", "σας", "Σας", "ΕΥΧΑΡΙΣΤΩ", "ευχαριστω",
    "ÄRGER", "ärger", "Öl", "straße", "İstanbul", "ıi", "K", "ſ", "of", "a", "to", "\"quoted\"", "tab\tx",
};

// Three pairs and 240 items of random words, the same every time for `now`.
void FillNews(Database& db, std::time_t now, std::vector<int64_t>* pairs, std::vector<int32_t>* cats,
              std::vector<int32_t>* sites) {
  for (const char* site : {"Alpha", "Beta", "Gamma"}) {
    int64_t pair = EnsurePair(db, site, std::string("Cat ") + site, true);
    Statement s(db, "SELECT fk_news_cat, fk_news_config FROM site_cat_rel WHERE id = ?");
    s.Bind(1, pair);
    ASSERT_TRUE(s.Next());
    pairs->push_back(pair);
    cats->push_back(static_cast<int32_t>(s.Int(0)));
    sites->push_back(static_cast<int32_t>(s.Int(1)));
  }
  std::mt19937 rng(1919);
  for (int i = 0; i < 240; ++i) {
    NewsRecord n;
    n.pair = (*pairs)[i % 3];
    n.published = now - static_cast<std::time_t>(rng() % (40 * 86400));
    n.url = "https://example.org/" + std::to_string(i);
    for (int w = 0; w < 3; ++w) n.title += std::string(kWords[rng() % std::size(kWords)]) + " ";
    for (int w = 0; w < 12; ++w) n.body += std::string(kWords[rng() % std::size(kWords)]) + (w % 5 ? " " : "<p>");
    ASSERT_GT(StoreNews(db, n), 0);
  }
}

std::vector<int32_t> ListedIds(CDBManager& m) {
  std::vector<int32_t> out;
  EXPECT_TRUE(m.BeginNewsListEnum());
  while (const CNewsListItemStruct* item = m.EnumNextNewsListItem()) out.push_back(item->id);
  m.EndNewsListEnum();
  return out;
}

class SearchEquivalenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("news.db");
    ASSERT_EQ(Database::Open(path_, Database::Mode::kCreate, &raw_), 0);
    FillNews(*raw_, std::time(nullptr), &pairs_, &cats_, &sites_);
    ASSERT_TRUE(SearchIndexReady(*raw_));
    ASSERT_TRUE(m_.Init(path_));
  }

  std::vector<int32_t> Ids() { return ListedIds(m_); }

  // The list through the index's candidates collected, through the list's
  // order with the candidates' ids noted, through the list's order with the
  // LIKE tests alone, then with the index set aside.
  void ExpectSameBothWays(const std::string& what) {
    m_.searchWay = SearchWay::kCollect;
    std::vector<int32_t> indexed = Ids();
    m_.searchWay = SearchWay::kMark;
    std::vector<int32_t> marked = Ids();
    m_.searchWay = SearchWay::kWalk;
    std::vector<int32_t> walked = Ids();
    m_.searchWay = SearchWay::kChosen;
    std::vector<int32_t> chosen = Ids();
    ASSERT_EQ(raw_->Exec("UPDATE newsitem_fts_fill SET filled_upto = -1"), 0);
    std::vector<int32_t> plain = Ids();
    ASSERT_EQ(raw_->Exec("UPDATE newsitem_fts_fill SET filled_upto = fill_end"), 0);
    EXPECT_EQ(indexed, plain) << what;
    EXPECT_EQ(marked, plain) << what;
    EXPECT_EQ(walked, plain) << what;
    EXPECT_EQ(chosen, plain) << what;
    found_ += !plain.empty();
    ++lists_;
  }

  testing::TempDir dir_;
  std::string path_;
  std::unique_ptr<Database> raw_;
  std::vector<int64_t> pairs_;
  std::vector<int32_t> cats_, sites_;
  CDBManager m_;
  int found_ = 0, lists_ = 0;
};

TEST_F(SearchEquivalenceTest, KeywordSearchesMatchLike) {
  std::vector<std::string> keywords(std::begin(kWords), std::end(kWords));
  keywords.insert(keywords.end(), {"river storm", "RIVER sto", "ивет", "ΑΣ ΕΥ", "50%_[A]", "rgerÖ", "nothing"});
  for (int sort : {3, 0}) {
    m_.SetSort(sort);
    for (const std::string& k : keywords) {
      m_.ClearSearchKeywords();
      m_.AddSearchKeyword(LikeEscape(k));
      ExpectSameBothWays("search " + k);
    }
    // Two keywords at once, and a keyword inside a filter.
    m_.ClearSearchKeywords();
    m_.AddSearchKeyword("river");
    m_.AddSearchKeyword(LikeEscape("ПРИВЕТ"));
    ExpectSameBothWays("two keywords");
  }
  EXPECT_GT(found_, lists_ / 2);

  // The index is really used: emptied, an indexed search finds nothing.
  m_.ClearSearchKeywords();
  m_.AddSearchKeyword("river");
  ASSERT_EQ(raw_->Exec("INSERT INTO newsitem_fts(newsitem_fts) VALUES ('delete-all')"), 0);
  EXPECT_TRUE(Ids().empty());
}

TEST_F(SearchEquivalenceTest, FiltersOfEveryModeAndTimeKindMatchLike) {
  const char* keywordSets[] = {"river storm", "привет ΣΑΣ", "50%_[a] a", "ёлка", "of to", "", "σας ärger straße"};
  m_.SetSort(2);
  for (int mode = 0; mode <= 6; ++mode) {
    for (int kind = 0; kind <= 2; ++kind) {
      for (const char* words : keywordSets) {
        CFilterStruct f;
        f.name = "f";
        f.keywords = LikeEscape(words);
        f.searchMode = mode;
        f.timeKind = kind;
        f.from = std::time(nullptr) - 20 * 86400;
        f.to = std::time(nullptr) - 5 * 86400;
        f.days = 9;
        f.hours = 5;
        int32_t id = m_.CreateFilter(f, cats_.data(), sites_.data(), 2);
        ASSERT_GT(id, 0);
        m_.ClearSearchKeywords();
        m_.SetSearchWithFilter(true);
        m_.SetSearchFilter(id);
        ExpectSameBothWays("mode " + std::to_string(mode) + " kind " + std::to_string(kind) + " " + words);
        m_.AddSearchKeyword("river");
        ExpectSameBothWays("river in mode " + std::to_string(mode) + " " + words);
      }
    }
  }
  EXPECT_GT(found_, lists_ / 3);
}

// Deleted items stay in the index until the queue is drained: searches and
// filters list the rows of LIKE meanwhile, also new items that carry a
// deleted one's text, and again once the queue is empty.
TEST_F(SearchEquivalenceTest, WithDeletedItemsStillInTheIndexSearchesAndFiltersMatchLike) {
  ASSERT_EQ(raw_->Exec("CREATE TABLE copied AS SELECT * FROM newsitem WHERE id % 3 = 0;"
                       "DELETE FROM newsitem WHERE id % 3 = 0 OR id % 7 = 0"),
            0);
  ASSERT_GT(raw_->Changes(), 80);
  ASSERT_EQ(raw_->Exec("INSERT INTO newsitem (recvdate, newsdate, fk_site_cat_rel, publication_date, src_url, title,"
                       " body) SELECT recvdate, newsdate, fk_site_cat_rel, publication_date, src_url, title, body"
                       " FROM copied WHERE id % 2 = 0; DROP TABLE copied"),
            0);
  ASSERT_TRUE(DeletedItemsWaiting(*raw_));
  CFilterStruct f;
  f.name = "f";
  f.keywords = LikeEscape("river ПРИВЕТ σας");
  f.searchMode = 1;
  const int32_t any = m_.CreateFilter(f, cats_.data(), sites_.data(), 3);
  f.searchMode = 3;
  const int32_t none = m_.CreateFilter(f, cats_.data(), sites_.data(), 3);
  ASSERT_GT(any, 0);
  ASSERT_GT(none, 0);
  auto compare = [&](const std::string& when) {
    m_.SetSort(3);
    for (const char* k : {"river", "ПРИВЕТ", "50%_[a]", "ΕΥΧΑΡΙΣΤΩ", "ärger", "storm price", "ёлка"}) {
      m_.SetSearchWithFilter(false);
      m_.ClearSearchKeywords();
      m_.AddSearchKeyword(LikeEscape(k));
      ExpectSameBothWays(when + " search " + k);
    }
    m_.ClearSearchKeywords();
    for (int32_t id : {any, none}) {
      m_.SetSearchWithFilter(true);
      m_.SetSearchFilter(id);
      ExpectSameBothWays(when + " filter " + std::to_string(id));
    }
    m_.SetSearchWithFilter(false);
  };
  compare("queued");
  std::atomic<bool> stop{false};
  ASSERT_EQ(DropAllDeletedFromIndex(path_, stop), 0);
  ASSERT_FALSE(DeletedItemsWaiting(*raw_));
  ASSERT_EQ(raw_->Exec("INSERT INTO newsitem_fts(newsitem_fts, rank) VALUES ('integrity-check', 1)"), 0);
  compare("drained");
  EXPECT_GT(found_, lists_ / 2);
}

// A word in many items: the first row comes after a little of the work, not
// after every candidate was collected and sorted, whether the list walks its
// order with the candidates' ids noted (a word in a tenth of the items) or
// with the LIKE tests alone (a word in most). Counted in SQLite's own steps,
// so it holds on a busy machine.
// The same items on a PostgreSQL server: every search and filter of the
// tests above lists there the items SQLite's LIKE lists.
TEST(SearchOnBothBackEnds, KeywordsAndFiltersListTheSameItemsAsOnSqlite) {
  ORVO_NEED_POSTGRES(server);
  testing::TempDir dir;
  const std::string locations[2] = {dir.File("news.db"), server->NewDatabase()};
  const std::time_t now = std::time(nullptr);
  CDBManager m[2];
  std::vector<int32_t> cats, sites;
  for (int b = 0; b < 2; ++b) {
    std::unique_ptr<Database> db;
    ASSERT_EQ(Database::Open(locations[b], Database::Mode::kCreate, &db), 0);
    std::vector<int64_t> pairs;
    cats.clear();
    sites.clear();
    FillNews(*db, now, &pairs, &cats, &sites);
    ASSERT_TRUE(m[b].Init(locations[b]));
    m[b].SetSort(2);
  }
  int lists = 0, found = 0;
  auto expectSame = [&](const std::string& what) {
    const std::vector<int32_t> sqlite = ListedIds(m[0]);
    EXPECT_EQ(ListedIds(m[1]), sqlite) << what;
    ++lists;
    found += !sqlite.empty();
  };
  std::vector<std::string> keywords(std::begin(kWords), std::end(kWords));
  keywords.insert(keywords.end(), {"river storm", "ивет", "ΑΣ ΕΥ", "50%_[A]", "rgerÖ", "SS", "ss", "k"});
  for (const std::string& k : keywords) {
    for (CDBManager& one : m) {
      one.ClearSearchKeywords();
      one.AddSearchKeyword(LikeEscape(k));
    }
    expectSame("search " + k);
  }
  // A period counts back from the moment of the query: the two would differ
  // by the second between them.
  const char* keywordSets[] = {"river storm", "привет ΣΑΣ", "50%_[a] a", "ёлка", "", "σας ärger straße"};
  for (int mode = 0; mode <= 6; ++mode) {
    for (int kind = 0; kind <= 1; ++kind) {
      for (const char* words : keywordSets) {
        for (CDBManager& one : m) {
          CFilterStruct f;
          f.name = "f";
          f.keywords = LikeEscape(words);
          f.searchMode = mode;
          f.timeKind = kind;
          f.from = now - 20 * 86400;
          f.to = now - 5 * 86400;
          const int32_t id = one.CreateFilter(f, cats.data(), sites.data(), 2);
          ASSERT_GT(id, 0);
          one.ClearSearchKeywords();
          one.SetSearchWithFilter(true);
          one.SetSearchFilter(id);
        }
        expectSame("mode " + std::to_string(mode) + " kind " + std::to_string(kind) + " " + words);
      }
    }
  }
  EXPECT_GT(found, lists / 2);
}

TEST(CommonWordSearch, FirstRowComesBeforeTheWholeSearchIsDone) {
  testing::TempDir dir;
  const std::string path = dir.File("news.db");
  {
    std::unique_ptr<Database> db;
    ASSERT_EQ(Database::Open(path, Database::Mode::kCreate, &db), 0);
    int64_t pair = EnsurePair(*db, "Site", "Cat");
    Transaction t(*db);
    for (int i = 0; i < 400; ++i) {
      NewsRecord n;
      n.pair = pair;
      n.title = "Item " + std::to_string(1000 + i);
      n.body = i % 5 ? "The budget of the year" : "Nothing of that";
      if (i % 10 == 3) n.body += " in the harbour";
      n.published = 1700000000 + i * 60;
      ASSERT_GT(StoreNews(*db, n), 0);
    }
    ASSERT_EQ(t.Commit(), 0);
  }
  struct Steps {
    int64_t first = -1, all = 0;
    size_t rows = 0;
  };
  auto stepsToFirstAndAll = [&](const char* word, SearchWay way) {
    CDBManager m;
    EXPECT_TRUE(m.Init(path));
    m.searchWay = way;
    m.SetSort(3);
    m.AddSearchKeyword(word);
    static thread_local int64_t steps;
    steps = 0;
    sqlite3_progress_handler(m.database()->handle(), 1, [](void*) { return ++steps, 0; }, nullptr);
    EXPECT_TRUE(m.BeginNewsListEnum());
    steps = 0;  // the rows' work: the count at the start is bounded by the threshold
    Steps out;
    while (m.EnumNextNewsListItem())
      if (out.rows++ == 0) out.first = steps;
    m.EndNewsListEnum();
    out.all = steps;
    sqlite3_progress_handler(m.database()->handle(), 0, nullptr, nullptr);
    return out;
  };
  for (const char* word : {"budget", "harbour"}) {
    SCOPED_TRACE(word);
    const Steps marked = stepsToFirstAndAll(word, SearchWay::kMark);
    const Steps walked = stepsToFirstAndAll(word, SearchWay::kWalk);
    const Steps collected = stepsToFirstAndAll(word, SearchWay::kCollect);
    EXPECT_EQ(walked.rows, word[0] == 'b' ? 320u : 40u);
    EXPECT_EQ(marked.rows, walked.rows);
    EXPECT_EQ(collected.rows, walked.rows);
    EXPECT_LT(marked.first * 5, marked.all);
    EXPECT_LT(walked.first * 5, walked.all);
    // The candidates' way does most of its work before its first row.
    EXPECT_GT(collected.first * 2, collected.all);
  }
}

}  // namespace
}  // namespace orvo

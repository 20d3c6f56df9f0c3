#include "store/search_index.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <set>
#include <vector>

#include "database.h"
#include "like.h"
#include "store/tests/old_search_index.h"
#include "platform.h"
#include "test_support.h"
#include "text.h"

namespace orvo {
namespace {

std::string Utf8(char32_t c) {
  std::string out;
  AppendUtf8(out, c);
  return out;
}

// Letters whose case is hard: signs that fold to ASCII letters, the Greek
// final sigma, the Turkish i's, the sharp s, Cyrillic capitals outside the
// basic block, Latin-1 and Latin Extended-A pairs, and LIKE's own
// characters.
const std::u32string kAlphabet =
    U"aAbBkKKsSſσΣςωΩΩµμΜßẞİiIıŸÿЖжЁёЀѐÉéŁłĳĲ%_[]^ 019";

class SearchIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Database::Open(dir_.File("news.db"), Database::Mode::kCreate, &db_), 0);
  }

  void AddItem(const std::string& title, const std::string& body) {
    Statement s(*db_, "INSERT INTO newsitem (title, body) VALUES (?, ?)");
    s.Bind(1, title).Bind(2, body);
    ASSERT_EQ(s.Execute(), 0) << db_->ErrorMessage();
  }

  std::vector<int64_t> Ids(const std::string& sql, const std::vector<std::string>& values) {
    Statement s(*db_, sql);
    for (size_t i = 0; i < values.size(); ++i) s.Bind(static_cast<int>(i + 1), values[i]);
    std::vector<int64_t> ids;
    while (s.Next()) ids.push_back(s.Int(0));
    EXPECT_EQ(s.error(), 0) << sql << ": " << db_->ErrorMessage();
    return ids;
  }

  std::vector<int64_t> ByLike(const std::string& pattern) {
    return Ids("SELECT id FROM newsitem WHERE title LIKE ?1 OR body LIKE ?1 ORDER BY id", {pattern});
  }
  std::vector<int64_t> ByIndex(const std::string& pattern) {
    IndexQuery q = IndexQueryForLike(pattern);
    if (!q) return ByLike(pattern);
    return Ids("SELECT id FROM newsitem WHERE " + IndexCandidatesSql("id") +
                   " AND (title LIKE ?2 OR body LIKE ?2) ORDER BY id",
               {*q, pattern});
  }

  std::string RandomText(std::mt19937& rng, size_t length) {
    std::uniform_int_distribution<size_t> pick(0, kAlphabet.size() - 1);
    std::string out;
    for (size_t i = 0; i < length; ++i) out += Utf8(kAlphabet[pick(rng)]);
    return out;
  }

  // The same text with every letter swapped for a random one that LIKE
  // takes as equal to it.
  std::string OtherCase(std::mt19937& rng, const std::u32string& text) {
    std::string out;
    for (char32_t c : text) {
      std::vector<char32_t> same;
      for (char32_t a : kAlphabet)
        if (FoldCase(a) == FoldCase(c)) same.push_back(a);
      out += Utf8(same[std::uniform_int_distribution<size_t>(0, same.size() - 1)(rng)]);
    }
    return out;
  }

  testing::TempDir dir_;
  std::unique_ptr<Database> db_;
};

TEST_F(SearchIndexTest, LiteralRunsFollowTheBracketEscapes) {
  using Runs = std::vector<std::u32string>;
  EXPECT_EQ(LikeLiteralRuns("%" + LikeEscape("50%_[a]^") + "%"), Runs{U"50%_[a]^"});
  EXPECT_EQ(LikeLiteralRuns("%ab_cdé%x[a-c]yz%"), (Runs{U"ab", U"cdé", U"x", U"yz"}));
  EXPECT_EQ(LikeLiteralRuns("%ПРИВЕТ%"), Runs{U"привет"});
  EXPECT_EQ(LikeLiteralRuns("%[^a]bcd%"), Runs{U"bcd"});
  EXPECT_EQ(LikeLiteralRuns("%%"), Runs{});
  // Short runs give no index query: the search stays on LIKE alone.
  EXPECT_FALSE(IndexQueryForLike("%ab%"));
  EXPECT_FALSE(IndexQueryForLike("%a_b_c%"));
  EXPECT_TRUE(IndexQueryForLike("%abc%"));
  EXPECT_EQ(IndexAnd(std::nullopt, std::string("x")), "x");
  EXPECT_FALSE(IndexOr(std::nullopt, std::string("x")));
}

// The hard cases one by one, then a generated database: the index with the
// LIKE test over its candidates finds exactly the rows of LIKE alone.
TEST_F(SearchIndexTest, IndexedSearchFindsTheRowsOfLike) {
  const char* texts[] = {
      "Price 50%_[A]^ today", "price 50 a today", "500 items [b] ^x", "Слово ПРИВЕТ мир", "привет всем",
      "ΣΑΣ ΕΥΧΑΡΙΣΤΩ", "σας ευχαριστώ", "ÄRGER über ÖL", "kein ärger", "STRASSE straße",
      "the Kelvin K sign", "ſtrange long s", "İstanbul ISTANBUL ıstanbul", "ЁЛКА ёлка Ѐ",
      "ЪЕ\xC3 broken", "a \"quoted\" word", "tab\there",
  };
  for (const char* t : texts) AddItem("", t);
  AddItem("ПРИВЕТ in the title", "nothing here");
  const char* patterns[] = {
      "%50[%][_][[]a[]][^]%", "%50[%]%", "%50%a%", "%[[]b[]]%", "%[^]x%", "%привет%", "%ПрИвЕт%",
      "%σας%", "%ΣΑΣ%", "%ευχαριστω%", "%ΕΥΧΑΡΙΣΤΏ%", "%ärger%", "%ÄRGER%", "%straße%", "%strasse%",
      "%k sign%", "%strange%", "%istanbul%", "%İSTANBUL%", "%ёлка%", "%ЁЛКА%", "%ѐ%", "%\"quoted\"%",
      "%a_b%", "%pri_e%", "%[a-c]e%", "%ab%", "%", "%%", "%tab\th%", "%e\xC3 b%",
  };
  for (const char* p : patterns) EXPECT_EQ(ByIndex(p), ByLike(p)) << p;

  std::mt19937 rng(19);
  std::vector<std::u32string> docs;
  for (int i = 0; i < 400; ++i) {
    std::string text = RandomText(rng, 40);
    AddItem(i % 7 == 0 ? text : "", i % 7 == 0 ? "" : text);
    std::u32string decoded;
    for (size_t k = 0; k < text.size();) decoded.push_back(NextCodePoint(text, k));
    docs.push_back(decoded);
  }
  int matched = 0;
  for (int i = 0; i < 300; ++i) {
    const std::u32string& doc = docs[rng() % docs.size()];
    size_t len = 3 + rng() % 5;
    size_t at = rng() % (doc.size() - len);
    std::string keyword = OtherCase(rng, doc.substr(at, len));
    // As the reader stores it, and raw, with % and _ as wildcards.
    for (const std::string& p : {"%" + LikeEscape(keyword) + "%", "%" + keyword + "%"}) {
      std::vector<int64_t> like = ByLike(p);
      EXPECT_EQ(ByIndex(p), like) << p;
      matched += !like.empty();
    }
  }
  EXPECT_GT(matched, 300);
}

std::set<std::string> IndexObjects(Database& db) {
  std::set<std::string> sql;
  Statement s(db, "SELECT sql FROM sqlite_master WHERE sql IS NOT NULL AND"
                  " (name LIKE 'newsitem[_]fts%' OR name LIKE 'newsitem[_]grid%')");
  while (s.Next()) sql.insert(s.Text(0));
  return sql;
}

void MakeOld(Database& db) {
  ASSERT_EQ(db.Exec("DROP TRIGGER newsitem_fts_insert; DROP TRIGGER newsitem_fts_delete;"
                    "DROP TRIGGER newsitem_fts_update; DROP TABLE newsitem_fts; DROP TABLE newsitem_fts_fill;"
                    "DROP TABLE newsitem_fts_gone;"
                    "DROP INDEX newsitem_grid_title; DROP INDEX newsitem_grid_date; DROP INDEX newsitem_grid_pair;"
                    "CREATE INDEX newsitem_title_nocase ON newsitem(title COLLATE NOCASE)"),
            0);
}

bool IndexIntact(Database& db) {
  return db.Exec("INSERT INTO newsitem_fts(newsitem_fts, rank) VALUES ('integrity-check', 1)") == 0;
}

// An older database gets the indexes in steps while items come, change and
// go; afterwards the index matches the table and searches use it.
TEST_F(SearchIndexTest, UpgradeFillsAnOlderDatabaseWhileItChanges) {
  const std::set<std::string> fresh = IndexObjects(*db_);
  EXPECT_EQ(fresh.size(), 13u);  // with the index's own tables
  EXPECT_TRUE(SearchIndexReady(*db_));
  MakeOld(*db_);
  EXPECT_FALSE(SearchIndexReady(*db_));
  for (int i = 0; i < 50; ++i) AddItem("title " + std::to_string(i), "old body " + std::to_string(i) + " Ёлка");

  IndexUpgrade upgrade(*db_, 7);
  EXPECT_FALSE(upgrade.Done());
  int steps = 0, readySteps = 0;
  while (upgrade.Step()) {
    ++steps;
    readySteps += upgrade.what() == "search" && SearchIndexReady(*db_);
    // Writers go on meanwhile: below, inside and above the part filled so far.
    Statement up(*db_, "UPDATE newsitem SET body = body || ' changed ЁЛКА' WHERE id = ?");
    up.Bind(1, (steps * 5) % 50 + 1);
    ASSERT_EQ(up.Execute(), 0);
    Statement del(*db_, "DELETE FROM newsitem WHERE id = ?");
    del.Bind(1, (steps * 11) % 25 * 2 + 1);  // odd ids only: the even ones stay to be found
    ASSERT_EQ(del.Execute(), 0);
    if (steps % 3 == 0) AddItem("new", "new body ёлка changed");
    ASSERT_LT(steps, 100);
  }
  EXPECT_EQ(upgrade.error(), 0);
  EXPECT_EQ(readySteps, 1);  // only after the last items went in
  EXPECT_TRUE(upgrade.Done());
  EXPECT_TRUE(SearchIndexReady(*db_));
  EXPECT_GT(steps, 8);  // three indexes, the table, and the items seven at a time
  EXPECT_TRUE(IndexIntact(*db_)) << db_->ErrorMessage();
  EXPECT_EQ(IndexObjects(*db_), fresh);
  Statement old(*db_, "SELECT count(*) FROM sqlite_master WHERE name = 'newsitem_title_nocase'");
  ASSERT_TRUE(old.Next());
  EXPECT_EQ(old.Int(0), 0);
  for (const char* p : {"%changed ёлка%", "%old body 1%", "%new body%", "%title 4%"})
    EXPECT_EQ(ByIndex(p), ByLike(p)) << p;
  EXPECT_FALSE(ByLike("%changed ёлка%").empty());
}

TEST_F(SearchIndexTest, UpgradeOnItsOwnConnectionStopsWhenTold) {
  MakeOld(*db_);
  for (int i = 0; i < 30; ++i) AddItem("t", "body");
  std::atomic<bool> stop{false};
  std::vector<std::string> seen;
  UpgradePace pace;
  pace.quietMs = 0;
  EXPECT_EQ(UpgradeIndexes(
                dir_.File("news.db"), stop,
                [&](const std::string& what, int percent) { seen.push_back(what + " " + std::to_string(percent)); },
                pace),
            0);
  ASSERT_GE(seen.size(), 4u);
  // The grid's part shows before its first index, each step once.
  EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + 4),
            (std::vector<std::string>{"grid 0", "grid 33", "grid 66", "grid 100"}));
  EXPECT_EQ(seen.back(), "search 100");
  EXPECT_TRUE(SearchIndexReady(*db_));
  EXPECT_TRUE(IndexIntact(*db_));

  MakeOld(*db_);
  stop = true;
  EXPECT_EQ(UpgradeIndexes(dir_.File("news.db"), stop, nullptr), 0);  // a stop during the wait for quiet
  EXPECT_FALSE(SearchIndexReady(*db_));
  EXPECT_NE(UpgradeIndexes(dir_.File("missing.db"), stop, nullptr), 0);
}

// A writer that holds the lock past the upgrade's time-out (a large marking)
// delays the upgrade; it does not end it with the work undone.
TEST_F(SearchIndexTest, UpgradeWaitsOutAWriterThatHoldsTheLockLong) {
  MakeOld(*db_);
  for (int i = 0; i < 30; ++i) AddItem("t", "body");
  ASSERT_EQ(db_->Exec("BEGIN IMMEDIATE"), 0);
  std::atomic<bool> stop{false}, returned{false};
  UpgradePace pace;
  pace.quietMs = 0;
  pace.busyTimeoutMs = 50;
  int rc = -1;
  std::thread upgrade([&] {
    rc = UpgradeIndexes(dir_.File("news.db"), stop, nullptr, pace);
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(400));  // several time-outs
  EXPECT_FALSE(returned);
  ASSERT_EQ(db_->Exec("COMMIT"), 0);
  upgrade.join();
  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(IndexUpgrade(*db_).Done());
  EXPECT_TRUE(SearchIndexReady(*db_));
}

// A store that comes while the search index fills gets in between two of
// its steps, rather than waiting until the whole index is built.
TEST_F(SearchIndexTest, AStoreDuringTheUpgradeGetsInBetweenItsSteps) {
  MakeOld(*db_);
  const std::string body(3000, 'x');
  ASSERT_EQ(db_->Exec("BEGIN"), 0);
  for (int i = 0; i < 3000; ++i) AddItem("item " + std::to_string(i), body + std::to_string(i));
  ASSERT_EQ(db_->Exec("COMMIT"), 0);
  std::atomic<bool> stop{false}, filling{false}, done{false}, storedBeforeTheEnd{false};
  std::thread writer([&] {
    std::unique_ptr<Database> db;
    ASSERT_EQ(Database::Open(dir_.File("news.db"), Database::Mode::kExisting, &db), 0);
    while (!filling && !done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(db->Exec("BEGIN IMMEDIATE"), 0);
    ASSERT_EQ(db->Exec("INSERT INTO newsitem (title, body) VALUES ('stored', 'while upgrading')"), 0);
    storedBeforeTheEnd = !SearchIndexReady(*db);
    ASSERT_EQ(db->Exec("COMMIT"), 0);
  });
  UpgradePace pace;
  pace.quietMs = 0;
  pace.batch = 100;
  int rc = UpgradeIndexes(dir_.File("news.db"), stop, [&](const std::string& what, int percent) {
    if (what == "search" && percent > 0) filling = true;
  }, pace);
  done = true;
  writer.join();
  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(storedBeforeTheEnd);
  EXPECT_TRUE(IndexIntact(*db_));
}

// While another connection keeps writing, as a download stores its items,
// no grid index is begun: each build would hold every store back.
TEST_F(SearchIndexTest, UpgradeBuildsTheGridIndexesWhenWritesPause) {
  MakeOld(*db_);
  using Clock = std::chrono::steady_clock;
  std::atomic<bool> stop{false}, writing{true};
  std::atomic<int64_t> lastStore{0}, firstIndex{0};
  auto nowMs = [start = Clock::now()] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  };
  std::thread writer([&] {
    std::unique_ptr<Database> db;
    ASSERT_EQ(Database::Open(dir_.File("news.db"), Database::Mode::kExisting, &db), 0);
    Statement ins(*db, "INSERT INTO newsitem (title, body) VALUES ('stored', 'while upgrading')");
    for (int i = 0; i < 60 && writing; ++i) {
      ins.Reset();
      ASSERT_EQ(ins.Execute(), 0);
      lastStore = nowMs();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  UpgradePace pace;
  pace.quietMs = 1500;  // far above the writer's pauses, even on a busy machine
  int rc = UpgradeIndexes(dir_.File("news.db"), stop, [&](const std::string& what, int percent) {
    if (what == "grid" && percent > 0 && firstIndex == 0) firstIndex = nowMs();
  }, pace);
  writing = false;
  writer.join();
  EXPECT_EQ(rc, 0);
  EXPECT_GE(firstIndex - lastStore, 1000) << "first index at " << firstIndex << " ms, last store at " << lastStore;
  EXPECT_TRUE(IndexUpgrade(*db_).Done());
}

int64_t Count(Database& db, const std::string& sql) {
  Statement s(db, sql);
  return s.Next() ? s.Int(0) : -1;
}

// Ids the index itself names for a trigram, stale ones included.
int64_t IndexNames(Database& db, const std::string& trigram) {
  return Count(db, "SELECT count(*) FROM newsitem_fts WHERE newsitem_fts MATCH '\"" + trigram + "\"'");
}

// A delete only queues the text; searches stay exact with the deleted ids
// still in the index, also for a new item with a deleted one's text and for
// an item given a deleted id by hand; the drain then empties the queue in
// batches and leaves the index equal to the table.
TEST_F(SearchIndexTest, DeletedItemsWaitInTheQueueWhileSearchesStayExact) {
  for (int i = 0; i < 30; ++i) AddItem("Title " + std::to_string(i), "Ёлка body number " + std::to_string(i) + ";");
  ASSERT_EQ(db_->Exec("DELETE FROM newsitem WHERE id <= 20"), 0);
  EXPECT_EQ(Count(*db_, "SELECT count(*) FROM newsitem_fts_gone"), 20);
  EXPECT_EQ(IndexNames(*db_, "bod"), 30);  // the delete did not touch the index
  EXPECT_TRUE(DeletedItemsWaiting(*db_));

  AddItem("Title 7", "ёлка BODY number 7;");  // id 31, the text of deleted item 7
  Statement byHand(*db_, "INSERT INTO newsitem (id, title, body) VALUES (12, 'other', 'quite different words')");
  ASSERT_EQ(byHand.Execute(), 0);
  EXPECT_EQ(Count(*db_, "SELECT count(*) FROM newsitem_fts_gone WHERE id = 12"), 0);
  for (const char* p : {"%ёлка body number 7;%", "%number 12;%", "%title 1%", "%different%", "%ЁЛКА%", "%body%"})
    EXPECT_EQ(ByIndex(p), ByLike(p)) << p;
  EXPECT_EQ(ByLike("%ёлка body number 7;%"), std::vector<int64_t>{31});
  EXPECT_EQ(ByLike("%different%"), std::vector<int64_t>{12});
  EXPECT_EQ(ByIndex("%number 12;%"), std::vector<int64_t>{});

  std::vector<int> batches;
  for (int n = -1; n != 0;) {
    ASSERT_EQ(DropDeletedFromIndex(*db_, 7, &n), 0) << db_->ErrorMessage();
    batches.push_back(n);
  }
  EXPECT_EQ(batches, (std::vector<int>{7, 7, 5, 0}));
  EXPECT_FALSE(DeletedItemsWaiting(*db_));
  EXPECT_TRUE(IndexIntact(*db_)) << db_->ErrorMessage();
  EXPECT_EQ(IndexNames(*db_, "bod"), 11);
  EXPECT_EQ(IndexNames(*db_, "ren"), 1);  // "different", under the reused id
  for (const char* p : {"%ёлка body number 7;%", "%number 12;%", "%title 1%", "%different%", "%body%"})
    EXPECT_EQ(ByIndex(p), ByLike(p)) << p;

  // The queue relies on ids never handed out again, not even the highest.
  ASSERT_EQ(db_->Exec("DELETE FROM newsitem WHERE id = 31"), 0);
  AddItem("after", "the highest went");
  EXPECT_EQ(db_->LastInsertId(), 32);
}

// A database whose index dropped deleted items at once gets the queue in
// place, keeping its index; one without the index is left to the filling.
TEST_F(SearchIndexTest, AnIndexThatDroppedDeletesAtOnceGetsTheQueueInPlace) {
  const std::set<std::string> fresh = IndexObjects(*db_);
  ASSERT_EQ(db_->Exec(testing::kImmediateIndexDeletesSql), 0);
  for (int i = 0; i < 12; ++i) AddItem("t", "kept text " + std::to_string(i));
  ASSERT_EQ(db_->Exec("DELETE FROM newsitem WHERE id = 1"), 0);
  EXPECT_EQ(IndexNames(*db_, "ept"), 11);
  EXPECT_FALSE(IndexUpgrade(*db_).Done());

  std::atomic<bool> stop{false};
  std::vector<std::string> seen;
  EXPECT_EQ(UpgradeIndexes(dir_.File("news.db"), stop, [&](const std::string& what, int) { seen.push_back(what); }),
            0);
  EXPECT_EQ(seen, std::vector<std::string>{"search"});
  EXPECT_EQ(IndexObjects(*db_), fresh);
  EXPECT_TRUE(IndexUpgrade(*db_).Done());
  EXPECT_EQ(IndexNames(*db_, "ept"), 11);  // not built again

  ASSERT_EQ(db_->Exec("DELETE FROM newsitem WHERE id <= 5"), 0);
  EXPECT_EQ(Count(*db_, "SELECT count(*) FROM newsitem_fts_gone"), 4);
  EXPECT_FALSE(IndexUpgrade(*db_).Done());
  seen.clear();
  EXPECT_EQ(UpgradeIndexes(dir_.File("news.db"), stop, [&](const std::string& what, int percent) {
              seen.push_back(what + " " + std::to_string(percent));
            }),
            0);
  EXPECT_EQ(seen, std::vector<std::string>{"drain 100"});
  EXPECT_TRUE(IndexIntact(*db_));
  EXPECT_EQ(IndexNames(*db_, "ept"), 7);

  MakeOld(*db_);
  EXPECT_EQ(DeferIndexDeletes(*db_), 0);
  EXPECT_EQ(Count(*db_, "SELECT count(*) FROM sqlite_master WHERE name LIKE 'newsitem[_]fts%'"), 0);
}

// A drain killed in the middle of a batch loses that batch's work only: the
// items stay queued, and the next drain takes them out.
TEST_F(SearchIndexTest, AQueueLeftByAKilledDrainIsDrainedNextTime) {
  std::string body;
  for (int w = 0; body.size() < 4000; ++w) body += "word" + std::to_string(w) + " ";
  for (int i = 0; i < 40; ++i) AddItem("t" + std::to_string(i), body + std::to_string(i));
  ASSERT_EQ(db_->Exec("DELETE FROM newsitem WHERE id > 5"), 0);
  ASSERT_EQ(Count(*db_, "SELECT count(*) FROM newsitem_fts_gone"), 35);

  const std::string path = dir_.File("news.db");
  db_.reset();  // a child must not share the parent's open file's locks
  pid_t pid = ::fork();
  if (pid == 0) {
    std::unique_ptr<Database> db;
    if (Database::Open(path, Database::Mode::kExisting, &db) != 0) ::_exit(2);
    // Killed at the third batch's commit, its work all done but not kept.
    static int commits = 0;
    sqlite3_commit_hook(db->handle(), [](void*) { return ++commits == 3 ? ::raise(SIGKILL), 1 : 0; }, nullptr);
    for (int n = 1; n > 0;)
      if (DropDeletedFromIndex(*db, 10, &n) != 0) ::_exit(3);
    ::_exit(4);  // never killed
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit " << WEXITSTATUS(status);
  ASSERT_EQ(Database::Open(path, Database::Mode::kExisting, &db_), 0);
  EXPECT_EQ(Count(*db_, "SELECT count(*) FROM newsitem_fts_gone"), 15);
  EXPECT_EQ(Count(*db_, "SELECT min(id) FROM newsitem_fts_gone"), 26);
  EXPECT_EQ(IndexNames(*db_, "ord"), 20);  // the live items and the queued ones

  std::atomic<bool> stop{true};
  int64_t dropped = -1;
  EXPECT_EQ(DropAllDeletedFromIndex(path, stop, &dropped), 0);  // told to stop: nothing done
  EXPECT_EQ(dropped, 0);
  stop = false;
  EXPECT_EQ(DropAllDeletedFromIndex(path, stop, &dropped), 0);
  EXPECT_EQ(dropped, 15);
  EXPECT_FALSE(DeletedItemsWaiting(*db_));
  EXPECT_TRUE(IndexIntact(*db_)) << db_->ErrorMessage();
  Statement check(*db_, "PRAGMA integrity_check");
  ASSERT_TRUE(check.Next());
  EXPECT_EQ(check.Text(0), "ok");
  EXPECT_EQ(IndexNames(*db_, "ord"), 5);
}

}  // namespace
}  // namespace orvo

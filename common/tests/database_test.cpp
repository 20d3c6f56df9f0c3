#include "database.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "eventlog.h"
#include "test_support.h"

namespace orvo {
namespace {

using testing::TempDir;

class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Database::Open(dir_.File("news.db"), Database::Mode::kCreate, &db_), 0); }

  int64_t AddPair() {
    db_->Exec("INSERT INTO news_config(site_name) VALUES ('Site')");
    db_->Exec("INSERT INTO news_cat(name) VALUES ('World')");
    Statement st(*db_, "INSERT INTO site_cat_rel(is_selected, fk_news_cat, fk_news_config) VALUES (1, ?, ?)");
    st.Bind(1, db_->LastInsertId()).Bind(2, db_->LastInsertId());
    EXPECT_EQ(st.Execute(), 0);
    return db_->LastInsertId();
  }

  int64_t AddItem(int64_t pair, const std::string& url, const std::string& title, const std::string& body) {
    Statement st(*db_,
                 "INSERT INTO newsitem(recvdate, newsdate, fk_site_cat_rel, publication_date, src_url, author, title,"
                 " smalldescr, body) VALUES (?, ?, ?, ?, ?, '', ?, '', ?)");
    st.BindTime(1, std::time(nullptr)).BindTime(2, 0).Bind(3, pair).BindTime(4, 0);
    st.BindText(5, url, kTextColumn).BindText(6, title, kTextColumn).BindText(7, body, kBodyColumn);
    EXPECT_EQ(st.Execute(), 0) << db_->ErrorMessage();
    return db_->LastInsertId();
  }

  TempDir dir_;
  std::unique_ptr<Database> db_;
};

TEST_F(DatabaseTest, CreatedFileIsPrivateAndHoldsTheSchemaInOrder) {
  struct stat st;
  ASSERT_EQ(::stat(dir_.File("news.db").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  Statement cols(*db_, "SELECT name FROM pragma_table_info('newsitem') ORDER BY cid");
  std::string names;
  while (cols.Next()) names += cols.Text(0) + ",";
  EXPECT_EQ(names,
            "id,recvdate,newsdate,fk_site_cat_rel,publication_date,src_url,author,title,smalldescr,body,is_del,"
            "is_read,");
  Statement mode(*db_, "PRAGMA journal_mode");
  ASSERT_TRUE(mode.Next());
  EXPECT_EQ(mode.Text(0), "wal");
}

TEST_F(DatabaseTest, OpeningRefusesMissingAndForeignFiles) {
  std::unique_ptr<Database> other;
  EXPECT_NE(Database::Open(dir_.File("missing.db"), Database::Mode::kExisting, &other), 0);
  EXPECT_NE(Database::Open(dir_.File("news.db"), Database::Mode::kCreate, &other), 0);  // never overwrites
  testing::WriteFile(dir_.File("notes.txt"), "plain text, not a database at all, long enough to have a header");
  EXPECT_EQ(Database::Open(dir_.File("notes.txt"), Database::Mode::kExisting, &other) & 0xFF, SQLITE_NOTADB);
  EXPECT_EQ(Database::Open(dir_.File("news.db"), Database::Mode::kExisting, &other), 0);
}

TEST_F(DatabaseTest, TextsAreCutToTheirBuffers) {
  int64_t pair = AddPair();
  std::string title(300, 'T');
  std::string body(70000, 'b');
  int64_t id = AddItem(pair, "http://a/1", title, body);
  Statement st(*db_, "SELECT title, body FROM newsitem WHERE id = ?");
  st.Bind(1, id);
  ASSERT_TRUE(st.Next());
  EXPECT_EQ(st.Text(0), std::string(254, 'T'));
  EXPECT_EQ(st.Text(1).size(), 63499u);
}

TEST_F(DatabaseTest, QuotesAreDataNotSyntax) {
  int64_t pair = AddPair();
  const std::string url = "http://site/it's-a-'quoted'/page?x='1' OR '1'='1";
  AddItem(pair, url, "O'Brien's \"view\"", "body");
  AddItem(pair, "http://site/other", "Other", "body");
  Statement st(*db_, "SELECT title FROM newsitem WHERE src_url = ?");
  st.Bind(1, url);
  ASSERT_TRUE(st.Next());
  EXPECT_EQ(st.Text(0), "O'Brien's \"view\"");
  EXPECT_FALSE(st.Next());
  EXPECT_EQ(st.error(), 0);
}

TEST_F(DatabaseTest, LikeHonoursTheReaderEscapes) {
  int64_t pair = AddPair();
  AddItem(pair, "u1", "t", "Sale: 50%_[A] off");
  AddItem(pair, "u2", "t", "Sale: 50xx a off");
  Statement st(*db_, "SELECT src_url FROM newsitem WHERE body LIKE '%50[%][_][[]a[]]%'");
  std::string found;
  while (st.Next()) found += st.Text(0);
  EXPECT_EQ(st.error(), 0);
  EXPECT_EQ(found, "u1");
}

TEST_F(DatabaseTest, DeletingAnItemTakesItsImages) {
  int64_t pair = AddPair();
  int64_t keep = AddItem(pair, "u1", "t", "b");
  int64_t gone = AddItem(pair, "u2", "t", "b");
  for (int64_t item : {keep, gone, gone}) {
    Statement st(*db_, "INSERT INTO newsimages(bodypos, image_path, imagetext, fk_newsitem) VALUES (1, 'p', '', ?)");
    st.Bind(1, item);
    ASSERT_EQ(st.Execute(), 0);
  }
  Statement del(*db_, "DELETE FROM newsitem WHERE id = ?");
  del.Bind(1, gone);
  ASSERT_EQ(del.Execute(), 0);
  Statement count(*db_, "SELECT count(*), min(fk_newsitem) FROM newsimages");
  ASSERT_TRUE(count.Next());
  EXPECT_EQ(count.Int(0), 1);
  EXPECT_EQ(count.Int(1), keep);
}

TEST_F(DatabaseTest, TransactionRollsBackUnlessCommitted) {
  int64_t pair = AddPair();
  {
    Transaction t(*db_);
    ASSERT_EQ(t.status(), 0);
    AddItem(pair, "u1", "t", "b");
  }
  {
    Transaction t(*db_);
    AddItem(pair, "u2", "t", "b");
    ASSERT_EQ(t.Commit(), 0);
  }
  Statement st(*db_, "SELECT group_concat(src_url) FROM newsitem");
  ASSERT_TRUE(st.Next());
  EXPECT_EQ(st.Text(0), "u2");
}

TEST_F(DatabaseTest, FailuresCarryTheCodeAndKeepGoing) {
  Statement bad(*db_, "SELECT nope FROM newsitem");
  EXPECT_FALSE(bad.Next());
  EXPECT_EQ(bad.error(), SQLITE_ERROR);
  Statement dup(*db_, "INSERT INTO newsimages(fk_newsitem) VALUES (12345)");  // no such item
  EXPECT_EQ(dup.Execute(), SQLITE_CONSTRAINT_FOREIGNKEY);
}

TEST(ProcessDatabaseTest, EmptyPathFailsAndLogsTheCode) {
  TempDir dir;
  ::setenv("ORVO_HOME", dir.path().c_str(), 1);
  SetProcessDatabasePath("");
  int rc = OpenDatabase();
  EXPECT_NE(rc, 0);
  EXPECT_EQ(ProcessDatabase(), nullptr);
  EXPECT_NE(testing::ReadFile(dir.File("orvo_log.txt")).find("Message: Error open DB: " + HexCode(rc) + " \n"),
            std::string::npos);

  std::unique_ptr<Database> created;
  ASSERT_EQ(Database::Open(dir.File("n.db"), Database::Mode::kCreate, &created), 0);
  SetProcessDatabasePath(dir.File("n.db"));
  EXPECT_EQ(OpenDatabase(), 0);
  Database* first = ProcessDatabase();
  EXPECT_EQ(OpenDatabase(), 0);  // already open: the same connection
  EXPECT_EQ(ProcessDatabase(), first);
  CloseDatabase();
  ::unsetenv("ORVO_HOME");
}

}  // namespace
}  // namespace orvo

namespace orvo {
namespace {

// A pattern taken from a column changes from row to row: each row must be
// matched against its own pattern, not one cached from an earlier row.
TEST_F(DatabaseTest, LikeWithPatternsFromRowsMatchesEachRowsOwn) {
  int64_t pair = AddPair();
  AddItem(pair, "%alpha%", "t", "the alpha body");
  AddItem(pair, "%beta%", "t", "the alpha body");
  AddItem(pair, "%gamma[%]%", "t", "gamma% here");
  Statement st(*db_, "SELECT src_url FROM newsitem WHERE body LIKE src_url ORDER BY id");
  std::string found;
  while (st.Next()) found += st.Text(0) + ";";
  EXPECT_EQ(st.error(), 0);
  EXPECT_EQ(found, "%alpha%;%gamma[%]%;");
}

}  // namespace
}  // namespace orvo

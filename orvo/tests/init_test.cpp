// Runs the real orvo program in temporary folders.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

#include "database.h"
#include "search_index.h"
#include "settings.h"
#include "test_support.h"

namespace orvo {
namespace {

using testing::TempDir;

int RunOrvo(const std::string& args, std::string* output = nullptr) {
  std::string cmd = std::string(ORVO_BIN_DIR) + "/orvo " + args + " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  std::string out;
  char buf[512];
  while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  int status = ::pclose(p);
  if (output) *output = out;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(OrvoInitTest, CreatesSettingsAndAnEmptyDatabaseThenKeepsThem) {
  TempDir dir;
  testing::WriteFile(dir.File("ORVO.ini"), "; mine\n[Download]\nDays=4\n");
  std::string out;
  ASSERT_EQ(RunOrvo("init --home " + dir.path(), &out), 0) << out;
  Settings s(dir.File("ORVO.ini"));
  EXPECT_EQ(s.ReadText(kSystemSection, "PathDB", "", kPathBuffer), dir.File("news.db"));
  EXPECT_EQ(s.ReadInt(kDownloadSection, "Days", 0), 4);
  std::unique_ptr<Database> db;
  ASSERT_EQ(Database::Open(dir.File("news.db"), Database::Mode::kExisting, &db), 0);
  ASSERT_EQ(db->Exec("INSERT INTO news_config(site_name) VALUES ('kept')"), 0);
  db.reset();

  ASSERT_EQ(RunOrvo("init --home " + dir.path(), &out), 0) << out;  // a second run keeps the data
  ASSERT_EQ(Database::Open(dir.File("news.db"), Database::Mode::kExisting, &db), 0);
  Statement st(*db, "SELECT site_name FROM news_config");
  ASSERT_TRUE(st.Next());
  EXPECT_EQ(st.Text(0), "kept");
}

TEST(OrvoInitTest, BringsAnOlderDatabaseUpToTheCurrentIndexes) {
  TempDir dir;
  {
    std::unique_ptr<Database> db;
    ASSERT_EQ(Database::Open(dir.File("news.db"), Database::Mode::kCreate, &db), 0);
    ASSERT_EQ(db->Exec("DROP TRIGGER newsitem_fts_insert; DROP TRIGGER newsitem_fts_delete;"
                       "DROP TRIGGER newsitem_fts_update; DROP TABLE newsitem_fts; DROP TABLE newsitem_fts_fill;"
                       "DROP INDEX newsitem_grid_title;"
                       "INSERT INTO newsitem (title, body) VALUES ('Old', 'an older body')"),
              0);
  }
  std::string out;
  ASSERT_EQ(RunOrvo("init --home " + dir.path(), &out), 0) << out;
  EXPECT_NE(out.find("Building the search index: 100%"), std::string::npos) << out;
  std::unique_ptr<Database> db;
  ASSERT_EQ(Database::Open(dir.File("news.db"), Database::Mode::kExisting, &db), 0);
  EXPECT_TRUE(SearchIndexReady(*db));
  EXPECT_TRUE(IndexUpgrade(*db).Done());
  Statement st(*db, "SELECT rowid FROM newsitem_fts WHERE newsitem_fts MATCH '\"bod\"'");
  EXPECT_TRUE(st.Next());
}

TEST(OrvoInitTest, RefusesToTouchAFileThatIsNotANewsDatabase) {
  TempDir dir;
  const std::string precious = "my thesis, not a database, please keep me as I am";
  testing::WriteFile(dir.File("thesis.db"), precious);
  std::string out;
  EXPECT_EQ(RunOrvo("init --home " + dir.path() + " --db " + dir.File("thesis.db"), &out), 1);
  EXPECT_NE(out.find("not a news database"), std::string::npos) << out;
  EXPECT_EQ(testing::ReadFile(dir.File("thesis.db")), precious);
  EXPECT_FALSE(Settings(dir.File("ORVO.ini")).HasKey(kSystemSection, "PathDB"));
}

TEST(OrvoInitTest, HelpAndBadArguments) {
  std::string out;
  EXPECT_EQ(RunOrvo("init --help", &out), 0);
  EXPECT_NE(out.find("--home"), std::string::npos);
  EXPECT_EQ(RunOrvo("init --bogus", &out), 2);
  EXPECT_EQ(RunOrvo("nosuch", &out), 2);
  EXPECT_EQ(RunOrvo("--help", &out), 0);
}

}  // namespace
}  // namespace orvo

// Runs the real orvo program in temporary folders.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "database.h"
#include "pg_server.h"
#include "store/search_index.h"
#include "settings.h"
#include "test_support.h"

namespace orvo {
namespace {

using testing::TempDir;

int RunOrvo(const std::string& args, std::string* output = nullptr, const std::string& env = "") {
  std::string cmd = env + std::string(ORVO_BIN_DIR) + "/orvo " + args + " 2>&1";
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

TEST(OrvoInitTest, MakesTheFolderThatOrvoHomeNames) {
  TempDir dir;
  const std::string home = dir.File("new folder/orvo");
  std::string out;
  ASSERT_EQ(RunOrvo("init", &out, "ORVO_HOME='" + home + "' "), 0) << out;
  EXPECT_TRUE(std::filesystem::exists(home + "/news.db")) << out;
  EXPECT_TRUE(std::filesystem::exists(home + "/ORVO.ini")) << out;
}

TEST(OrvoInitTest, BringsAnOlderDatabaseUpToTheCurrentIndexes) {
  TempDir dir;
  {
    std::unique_ptr<Database> db;
    ASSERT_EQ(Database::Open(dir.File("news.db"), Database::Mode::kCreate, &db), 0);
    ASSERT_EQ(db->Exec("DROP TRIGGER newsitem_fts_insert; DROP TRIGGER newsitem_fts_delete;"
                       "DROP TRIGGER newsitem_fts_update; DROP TABLE newsitem_fts; DROP TABLE newsitem_fts_fill;"
                       "DROP TABLE newsitem_fts_gone;"
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

// A copy of orvo in `folder`, run with a clean environment whose XDG folders
// are under `root`.
struct CopiedOrvo {
  std::string program;
  std::string env;
  CopiedOrvo(const TempDir& root, const std::string& folder) {
    std::filesystem::create_directories(folder);
    program = folder + "/orvo";
    std::filesystem::copy_file(std::string(ORVO_BIN_DIR) + "/orvo", program);
    env = "env -u ORVO_HOME HOME=" + root.File("home") + " XDG_DATA_HOME=" + root.File("data") +
          " XDG_CONFIG_HOME=" + root.File("config") + " XDG_STATE_HOME=" + root.File("state") + " ";
  }
  int Run(const std::string& args, std::string* out, const std::string& extraEnv = "") const {
    std::string cmd = env + extraEnv + " " + program + " " + args + " 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    out->clear();
    char buf[512];
    while (size_t n = std::fread(buf, 1, sizeof buf, p)) out->append(buf, n);
    int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST(OrvoHomeFoldersTest, AnInstalledCopyKeepsTheUsersFilesInTheXdgFolders) {
  TempDir root;
  CopiedOrvo orvo(root, root.File("usr/libexec/orvo"));
  std::string out;
  ASSERT_EQ(orvo.Run("init", &out), 0) << out;
  EXPECT_TRUE(std::filesystem::exists(root.File("config/orvo/ORVO.ini"))) << out;
  EXPECT_TRUE(std::filesystem::exists(root.File("data/orvo/news.db"))) << out;
  EXPECT_FALSE(std::filesystem::exists(root.File("usr/libexec/orvo/ORVO.ini")));
  EXPECT_FALSE(std::filesystem::exists(root.File("usr/libexec/orvo/news.db")));
  Settings s(root.File("config/orvo/ORVO.ini"));
  EXPECT_EQ(s.ReadText(kSystemSection, "PathDB", "", kPathBuffer), root.File("data/orvo/news.db"));

  ASSERT_EQ(orvo.Run("status", &out), 0) << out;
  EXPECT_NE(out.find("ORVO files: XDG folders (data " + root.File("data/orvo/") + ", settings " +
                     root.File("config/orvo/") + ", log " + root.File("state/orvo/") + ")"),
            std::string::npos)
      << out;
  EXPECT_TRUE(std::filesystem::is_directory(root.File("state/orvo")));

  // ORVO_HOME still wins over the XDG folders.
  TempDir home;
  ASSERT_EQ(orvo.Run("init", &out, "ORVO_HOME=" + home.path()), 0) << out;
  EXPECT_TRUE(std::filesystem::exists(home.File("ORVO.ini")));
  EXPECT_TRUE(std::filesystem::exists(home.File("news.db")));
  ASSERT_EQ(orvo.Run("status", &out, "ORVO_HOME=" + home.path()), 0) << out;
  EXPECT_NE(out.find("ORVO files: ORVO_HOME " + home.path() + "/"), std::string::npos) << out;
}

TEST(OrvoHomeFoldersTest, ACopyInAWritableFolderKeepsEverythingBesideIt) {
  TempDir root;
  CopiedOrvo orvo(root, root.File("portable"));
  std::string out;
  ASSERT_EQ(orvo.Run("init", &out), 0) << out;
  EXPECT_TRUE(std::filesystem::exists(root.File("portable/ORVO.ini")));
  EXPECT_TRUE(std::filesystem::exists(root.File("portable/news.db")));
  EXPECT_FALSE(std::filesystem::exists(root.File("config/orvo/ORVO.ini")));
  ASSERT_EQ(orvo.Run("status", &out), 0) << out;
  EXPECT_NE(out.find("ORVO files: the program folder " + root.File("portable/")), std::string::npos) << out;
}

// The mail password goes only to the Secret Service: without one the
// command says what to do, and no form of orvo config puts it in ORVO.ini.
TEST(OrvoConfigTest, TheMailPasswordNeverLandsInTheSettingsFile) {
  TempDir dir;
  const std::string env = "ORVO_HOME=" + dir.path() + " DBUS_SESSION_BUS_ADDRESS=unix:path=" + dir.File("no-bus") + " ";
  std::string out;
  EXPECT_EQ(RunOrvo("config --mail-password </dev/null", &out, env), 1);
  EXPECT_NE(out.find("set the mail server and login first"), std::string::npos) << out;
  ASSERT_EQ(RunOrvo("config Delivery SmtpServer smtp.example.org", &out, env), 0) << out;
  ASSERT_EQ(RunOrvo("config Delivery SmtpUser me@example.org", &out, env), 0) << out;
  EXPECT_EQ(RunOrvo("config --mail-password", &out, "printf 'pa55word\\n' | " + env), 1);
  EXPECT_NE(out.find("no Secret Service answers"), std::string::npos) << out;
  EXPECT_NE(out.find("gnome-keyring"), std::string::npos) << out;
  EXPECT_EQ(RunOrvo("config Delivery MailPassword pa55word", &out, env), 2);
  EXPECT_NE(out.find("never kept in ORVO.ini"), std::string::npos) << out;
  EXPECT_EQ(testing::ReadFile(dir.File("ORVO.ini")).find("pa55word"), std::string::npos);
}

}  // namespace
}  // namespace orvo

namespace orvo {
namespace {

// orvo init --database puts the schema on the server and the address into
// ORVO.ini; status then names the server, never the password; the
// environment's address wins over the file's.
TEST(OrvoInitTest, DatabaseOnAPostgresServer) {
  ORVO_NEED_POSTGRES(server);
  TempDir dir;
  const std::string url = server->NewDatabase();
  ASSERT_FALSE(url.empty());
  // libpq ignores a password under trust, so one in the address shows where it leaks.
  const std::string withPassword = "postgresql://orvo:hush-9481@/" + url.substr(std::string("postgresql:///").size());
  std::string out;
  ASSERT_EQ(RunOrvo("init --home " + dir.path() + " --database '" + withPassword + "'", &out), 0) << out;
  EXPECT_NE(out.find("Created the news database on PostgreSQL server " + server->socketDir()), std::string::npos)
      << out;
  Settings s(dir.File("ORVO.ini"));
  EXPECT_EQ(s.ReadText(kDatabaseSection, "Url", "", kDatabaseUrlBuffer), withPassword);
  EXPECT_FALSE(std::filesystem::exists(dir.File("news.db")));

  ASSERT_EQ(RunOrvo("init --home " + dir.path(), &out), 0) << out;  // a second run keeps it
  EXPECT_NE(out.find("Using the news database on PostgreSQL server"), std::string::npos) << out;
  ASSERT_EQ(RunOrvo("status --home " + dir.path(), &out), 0) << out;
  EXPECT_NE(out.find("News database: PostgreSQL server " + server->socketDir()), std::string::npos) << out;
  EXPECT_NE(out.find("News items: 0"), std::string::npos) << out;
  EXPECT_EQ(out.find("hush-9481"), std::string::npos) << out;

  // ORVO_DATABASE wins: a dead server is named in the error, without its password.
  TempDir nowhere;
  const std::string dead = "postgresql://orvo:hush-9481@/news?host=" + nowhere.path();
  EXPECT_EQ(RunOrvo("status --home " + dir.path(), &out, "ORVO_DATABASE='" + dead + "' "), 1);
  EXPECT_NE(out.find(nowhere.path()), std::string::npos) << out;
  EXPECT_EQ(out.find("hush-9481"), std::string::npos) << out;
  std::string log = testing::ReadFile(dir.File("orvo_log.txt"));
  EXPECT_EQ(log.find("hush-9481"), std::string::npos) << log;
}

}  // namespace
}  // namespace orvo

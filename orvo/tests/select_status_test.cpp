// orvo select and orvo status on a database filled by hand.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "database.h"
#include "pg_server.h"
#include "settings.h"
#include "test_support.h"

namespace orvo {
namespace {

using testing::TempDir;

int Orvo(const std::string& args, std::string* output) {
  std::string cmd = std::string(ORVO_BIN_DIR) + "/orvo " + args + " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  std::string out;
  char buf[512];
  while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  int status = ::pclose(p);
  *output = out;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A program folder whose news database is a file or on a PostgreSQL server.
void InitFolder(const TempDir& dir, Database::Backend backend, std::unique_ptr<Database>* db) {
  std::string location = dir.File("news.db"), out;
  if (backend == Database::Backend::kPostgres) {
    ORVO_NEED_POSTGRES(server);
    location = server->NewDatabase();
    ASSERT_FALSE(location.empty());
    ASSERT_EQ(Orvo("init --home " + dir.path() + " --database '" + location + "'", &out), 0) << out;
  } else {
    ASSERT_EQ(Orvo("init --home " + dir.path(), &out), 0) << out;
  }
  std::string why;
  ASSERT_EQ(Database::Open(location, Database::Mode::kExisting, db, &why), 0) << why;
}

std::string BackendName(const ::testing::TestParamInfo<Database::Backend>& info) {
  return info.param == Database::Backend::kSqlite ? "Sqlite" : "Postgres";
}

class SelectStatusTest : public ::testing::Test {
 protected:
  void SetUp() override { InitFolder(dir_, Database::Backend::kSqlite, &db_); }
  void AddCatalogue() {
    ASSERT_EQ(db_->Exec("INSERT INTO news_config(site_name) VALUES ('The Harbour Daily'), "
                        "('\xD0\xA0\xD0\xB5\xD1\x87\xD0\xBD\xD0\xBE\xD0\xB9 \xD0\xB2\xD0\xB5\xD1\x81\xD1\x82\xD0\xBD\xD0\xB8\xD0\xBA');"  // Речной вестник
                        "INSERT INTO news_cat(name) VALUES ('World'), ('Sport'), "
                        "('\xD0\x93\xD0\xBE\xD1\x80\xD0\xBE\xD0\xB4');"  // Город
                        "INSERT INTO site_cat_rel(is_selected, fk_news_cat, fk_news_config) VALUES "
                        "(0, 1, 1), (0, 2, 1), (0, 3, 2);"),
              0);
  }
  std::string Selected() {
    std::string s;
    Statement st(*db_, "SELECT id FROM site_cat_rel WHERE is_selected <> 0 ORDER BY id");
    while (st.Next()) s += std::to_string(st.Int(0));
    return s;
  }
  std::string Run(const std::string& args, int expect) {
    std::string out;
    EXPECT_EQ(Orvo(args + " --home " + dir_.path(), &out), expect) << args << "\n" << out;
    return out;
  }

  TempDir dir_;
  std::unique_ptr<Database> db_;
};

// What select and status do, on both back ends.
class SelectStatusOnBothTest : public SelectStatusTest, public ::testing::WithParamInterface<Database::Backend> {
 protected:
  void SetUp() override { InitFolder(dir_, GetParam(), &db_); }
};

INSTANTIATE_TEST_SUITE_P(Backends, SelectStatusOnBothTest,
                         ::testing::Values(Database::Backend::kSqlite, Database::Backend::kPostgres), BackendName);

TEST_P(SelectStatusOnBothTest, NewDatabaseSaysToDownloadFirst) {
  std::string out = Run("select --all", 3);
  EXPECT_NE(out.find("Run orvo download once"), std::string::npos) << out;
  out = Run("status", 0);
  EXPECT_NE(out.find("pairs: 0 (0 selected)"), std::string::npos) << out;
  EXPECT_NE(out.find("Newest item: none yet"), std::string::npos) << out;
  EXPECT_NE(out.find("run orvo download once"), std::string::npos) << out;
}

TEST_P(SelectStatusOnBothTest, SelectsByPairSiteAndLetterCase) {
  AddCatalogue();
  Run("select The\\ Harbour\\ Daily/Sport", 0);
  EXPECT_EQ(Selected(), "2");
  // Cyrillic names match without regard to case; a site alone is all of it.
  std::string out = Run("select '\xD1\x80\xD0\xB5\xD1\x87\xD0\xBD\xD0\xBE\xD0\xB9 \xD0\x92\xD0\xB5\xD1\x81\xD1\x82\xD0\xBD\xD0\xB8\xD0\xBA'", 0);
  EXPECT_EQ(Selected(), "23");
  EXPECT_NE(out.find("1 pair changed; 2 of 3"), std::string::npos) << out;
  Run("select --off 'the harbour daily'", 0);
  EXPECT_EQ(Selected(), "3");
  Run("select --only 'The Harbour Daily/World'", 0);
  EXPECT_EQ(Selected(), "1");
  Run("select --all", 0);
  EXPECT_EQ(Selected(), "123");
  Run("select --none", 0);
  EXPECT_EQ(Selected(), "");
  out = Run("select", 0);
  EXPECT_NE(out.find("[ ] The Harbour Daily/World"), std::string::npos) << out;
}

TEST_P(SelectStatusOnBothTest, UnknownNameChangesNothing) {
  AddCatalogue();
  Run("select 'The Harbour Daily/World'", 0);
  std::string out = Run("select 'The Harbour Daily/Sport' 'Nowhere/World'", 1);
  EXPECT_NE(out.find("no site or site/category is named \"Nowhere/World\""), std::string::npos) << out;
  EXPECT_NE(out.find("The Harbour Daily/Sport"), std::string::npos) << out;  // what it knows
  EXPECT_EQ(Selected(), "1");
  Run("select --all 'The Harbour Daily'", 2);
  Run("select --bogus", 2);
}

TEST_P(SelectStatusOnBothTest, StatusCountsWhatIsStored) {
  AddCatalogue();
  ASSERT_EQ(db_->Exec("UPDATE site_cat_rel SET is_selected = 1 WHERE id = 1;"
                      "INSERT INTO newsitem(fk_site_cat_rel, publication_date, src_url, title, is_del) VALUES "
                      "(1, '2026-11-27 10:00:00', 'http://a/1', 'Older', 0),"
                      "(1, '2026-11-28 09:00:00', 'http://a/2', 'Newest story', 0),"
                      "(3, '2026-11-29 09:00:00', 'http://b/1', 'Deleted one', 1);"
                      "INSERT INTO newsimages(bodypos, image_path, fk_newsitem) VALUES (0, '/x/2_0', 2), (1, '/x/2_1', 2);"
                      "INSERT INTO news_masks(mask, mask_version, type, fk_site_cat_rel) VALUES "
                      "('3C613E', 2, 0, 1), ('3C613E', 2, 1, 1), ('', 1, 0, 2), ('', 1, 1, 2);"),
            0);
  std::string out = Run("status", 0);
  EXPECT_NE(out.find("Sites: 2, categories: 3, site/category pairs: 3 (1 selected)"), std::string::npos) << out;
  EXPECT_NE(out.find("News items: 3 (2 unread, 1 deleted), images: 2"), std::string::npos) << out;
  EXPECT_NE(out.find("Newest item: 2026-11-28 09:00:00  Newest story (The Harbour Daily / World)"), std::string::npos)
      << out;
  EXPECT_NE(out.find("The Harbour Daily / World  yes       2      2026-11-28 09:00:00  ready"), std::string::npos)
      << out;
  EXPECT_NE(out.find("The Harbour Daily / Sport  no        0      -                    not yet fetched"),
            std::string::npos)
      << out;
}

TEST_F(SelectStatusTest, ConfigReadsAndWritesOneKey) {
  Run("config System DownloadURL 127.0.0.1:8642/catalogue.asp", 0);
  Run("config Download Days 3650", 0);
  Settings ini(dir_.File("ORVO.ini"));
  EXPECT_EQ(ini.ReadText(kSystemSection, "DownloadURL"), "127.0.0.1:8642/catalogue.asp");
  EXPECT_EQ(ini.ReadInt(kDownloadSection, "Days", 0), 3650);
  EXPECT_EQ(ini.ReadText(kSystemSection, "PathDB"), dir_.File("news.db"));  // the rest is kept
  EXPECT_EQ(Run("config system pathdb", 0), dir_.File("news.db") + "\n");
  EXPECT_NE(Run("config Download Nothing", 1).find("has no key Nothing"), std::string::npos);
  Run("config Download", 2);
}

TEST_F(SelectStatusTest, MissingDatabaseSaysWhatToDo) {
  TempDir empty;
  std::string out;
  EXPECT_EQ(Orvo("status --home " + empty.path(), &out), 1);
  EXPECT_NE(out.find("orvo init"), std::string::npos) << out;
  EXPECT_EQ(Orvo("select --all --home " + empty.path() + "/nowhere", &out), 1);
  EXPECT_NE(out.find("is not a folder"), std::string::npos) << out;
}

// The health column and --broken follow the latest verdict of each pair; a
// database made before the health table existed still answers.
class StatusHealthTest : public ::testing::TestWithParam<Database::Backend> {};

INSTANTIATE_TEST_SUITE_P(Backends, StatusHealthTest,
                         ::testing::Values(Database::Backend::kSqlite, Database::Backend::kPostgres), BackendName);

TEST_P(StatusHealthTest, ShowsHealthyBrokenSinceAndNeverWorkedAndListsBrokenPairs) {
  TempDir dir;
  std::string out;
  std::unique_ptr<Database> db;
  InitFolder(dir, GetParam(), &db);
  if (HasFatalFailure() || IsSkipped()) return;
  ASSERT_EQ(db->Exec("INSERT INTO news_config(site_name) VALUES ('Daily');"
                     "INSERT INTO news_cat(name) VALUES ('World'), ('Sport'), ('Arts'), ('Food');"
                     "INSERT INTO site_cat_rel(is_selected, fk_news_cat, fk_news_config) VALUES (1,1,1),(1,2,1),(1,3,1),(0,4,1);"
                     // World broke in the second run; Sport mended; Arts never yielded; Food never judged.
                     "INSERT INTO mask_health(fk_site_cat_rel, run_time, list_loaded, links_found, state, symptom, broken_since)"
                     " VALUES (1, '2026-01-01 10:00:00', 1, 4, 0, '', NULL),"
                     " (1, '2026-01-02 10:00:00', 1, 0, 1, 'the list mask found no link on its list page', '2026-01-02 10:00:00'),"
                     " (2, '2026-01-01 10:00:00', 1, 0, 1, 'the list mask found no link on its list page', '2026-01-01 10:00:00'),"
                     " (2, '2026-01-02 10:00:00', 1, 3, 0, '', NULL),"
                     " (3, '2026-01-02 10:00:00', 1, 0, 2, 'the list mask found no link on its list page', NULL);"),
            0);
  ASSERT_EQ(Orvo("status --home " + dir.path(), &out), 0) << out;
  auto line = [&](const std::string& pair) {
    size_t at = out.find(pair);
    return at == std::string::npos ? std::string() : out.substr(at, out.find('\n', at) - at);
  };
  EXPECT_NE(out.find("health"), std::string::npos) << out;
  EXPECT_NE(line("Daily / World").find("broken since 2026-01-02 10:00:00"), std::string::npos) << out;
  EXPECT_NE(line("Daily / Sport").find("healthy"), std::string::npos) << out;
  EXPECT_NE(line("Daily / Arts").find("never worked"), std::string::npos) << out;
  EXPECT_EQ(line("Daily / Food").back(), '-') << out;

  ASSERT_EQ(Orvo("status --broken --home " + dir.path(), &out), 0) << out;
  EXPECT_EQ(out, "Daily / World: broken since 2026-01-02 10:00:00: the list mask found no link on its list page\n");

  ASSERT_EQ(db->Exec("DROP TABLE mask_health"), 0);
  ASSERT_EQ(Orvo("status --broken --home " + dir.path(), &out), 0) << out;
  EXPECT_NE(out.find("No broken pair"), std::string::npos) << out;
  ASSERT_EQ(Orvo("status --home " + dir.path(), &out), 0) << out;
  EXPECT_EQ(line("Daily / World").back(), '-') << out;
}

}  // namespace
}  // namespace orvo

namespace orvo {
namespace {

// orvo filter writes the rows the reader's filter editor writes: keywords
// LIKE-escaped, search mode 0-5, time kind and its values, one link per pair.
TEST_F(SelectStatusTest, FilterAddEditListAndRemoveWriteTheReadersRows) {
  AddCatalogue();
  std::string out = Run("filter add Sport --keywords \"50% swim\" --mode any --last 2:3 --sites \"The Harbour Daily/Sport\" "
                        "--ebook on",
                        0);
  EXPECT_NE(out.find("Filter 1 \"Sport\" added: 1 site/category pairs, used for eBooks."), std::string::npos) << out;
  auto row = [&](int64_t id) {
    Statement st(*db_,
                 "SELECT name, keywords, search_mode, time_kind, days, hours, minutes, lit_gen, "
                 "(SELECT group_concat(x) FROM (SELECT fk_site_cat_rel x FROM filter_site_cat_rel "
                 "WHERE fk_filter = filter.id ORDER BY x)), "
                 "CASE time_kind WHEN 1 THEN date_from || ' ' || date_to ELSE '' END FROM filter WHERE id = ?");
    st.Bind(1, id);
    if (!st.Next()) return std::string("none");
    std::string s;
    for (int c = 0; c < 10; ++c) s += st.Text(c) + "|";
    return s;
  };
  EXPECT_EQ(row(1), "Sport|50[%] swim|1|2|2|3|0|1|2||");

  // Only what edit names changes; all pairs by default for a new one.
  Run("filter edit sport --exclude --from 2026-01-02 --to 2026-01-31 --ebook off --name \"Sport, not\"", 0);
  EXPECT_EQ(row(1), "Sport, not|50[%] swim|4|1|2|3|0|0|2|2026-01-02 00:00:00 2026-01-31 00:00:00|");
  Run("filter add All", 0);
  EXPECT_EQ(row(2), "All||0|0|0|0|0|0|1,2,3||");
  out = Run("filter list", 0);
  EXPECT_NE(out.find("2  All\n    keywords: \"\" (all); any time; sites: all 3"), std::string::npos) << out;
  EXPECT_NE(out.find("1  Sport, not\n    keywords: \"50% swim\" (any, exclude); 2026-01-02 to 2026-01-31; sites: "
                     "The Harbour Daily/Sport"),
            std::string::npos)
      << out;

  // Bad values say what is wrong and change nothing.
  const std::pair<const char*, const char*> bad[] = {
      {"filter add X --mode some", "--mode takes all, any or phrase"},
      {"filter add X --last 101", "--last wants DAYS[:HOURS[:MINUTES]]"},
      {"filter add X --from 2026-02-30 --to 2026-03-01", "--from wants a date as YYYY-MM-DD"},
      {"filter add X --from 2026-03-01", "--from and --to go together"},
      {"filter add X --last 1 --any-time", "give one time restriction"},
      {"filter add X --ebook maybe", "--ebook takes on or off"},
      {"filter add X --colour red", "unknown option '--colour'"},
  };
  for (auto [args, message] : bad) EXPECT_NE(Run(args, 2).find(message), std::string::npos) << args;
  EXPECT_NE(Run("filter add X --sites Nowhere", 1).find("no site or site/category is named \"Nowhere\""),
            std::string::npos);
  EXPECT_NE(Run("filter add All", 1).find("a filter named \"All\" exists (id 2)"), std::string::npos);
  EXPECT_NE(Run("filter edit Missing --ebook on", 1).find("no filter is named \"Missing\""), std::string::npos);
  EXPECT_EQ(row(3), "none");

  Run("filter remove 2", 0);
  EXPECT_EQ(row(2), "none");
  Statement links(*db_, "SELECT COUNT(*) FROM filter_site_cat_rel WHERE fk_filter = 2");
  ASSERT_TRUE(links.Next());
  EXPECT_EQ(links.Int(0), 0);
}

}  // namespace
}  // namespace orvo

#include "store/cleanup.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine_home.h"
#include "store/search_index.h"
#include "text.h"

namespace orvo {
namespace {

using testing::EngineHome;
using testing::WriteFile;

std::time_t At(int y, int mo, int d, int h, int mi, int s) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

TEST(CleanupTest, AMonthCountsThirtyAndAHalfDaysWithTheFractionDropped) {
  std::time_t now = At(2024, 6, 15, 10, 30, 45);
  EXPECT_EQ(CleanupCutoff(now, 1, 0, 0, 0), "2024-05-16 10:30:00");  // 30 days
  EXPECT_EQ(CleanupCutoff(now, 3, 0, 0, 0), "2024-03-16 10:30:00");  // 91 days
  EXPECT_EQ(CleanupCutoff(now, 1, 1, 0, 0), "2024-05-15 10:30:00");  // 31.5 -> 31
  EXPECT_EQ(CleanupCutoff(now, 0, 0, 0, 0), "2024-06-15 10:30:00");
  EXPECT_EQ(CleanupCutoff(now, 0, 2, 11, 45), "2024-06-12 22:45:00");
}

class DeleteOldNewsTest : public ::testing::Test {
 protected:
  int64_t AddItem(const std::string& published, bool withImage) {
    Statement st(home_.db(),
                 "INSERT INTO newsitem (recvdate, newsdate, fk_site_cat_rel, publication_date, src_url, is_del)"
                 " VALUES(?,?,?,?,?,?)");
    st.Bind(1, FormatDbTime(std::time(nullptr))).Bind(2, published).Bind(3, pair_).Bind(4, published)
        .Bind(5, "http://x/" + published + "/" + std::to_string(++added_)).Bind(6, 0).Execute();
    int64_t id = home_.db().LastInsertId();
    if (withImage) {
      std::filesystem::create_directories(home_.dir() + "/Images");
      std::string path = home_.dir() + "/Images/" + std::to_string(id) + "_0";
      WriteFile(path, "img");
      Statement im(home_.db(), "INSERT INTO newsimages (bodypos, image_path, imagetext, fk_newsitem) VALUES(0,?,'',?)");
      im.Bind(1, path).Bind(2, id).Execute();
    }
    return id;
  }
  void Configure(int enabled, int month, int day) {
    Settings s = home_.settings();
    s.WriteInt(kCleanupSection, "DeleteOlder", enabled);
    s.WriteInt(kCleanupSection, "Month", month);
    s.WriteInt(kCleanupSection, "Day", day);
  }

  EngineHome home_;
  int64_t pair_ = home_.AddPair("S", "C", true);
  std::vector<std::string> statuses_;
  StatusSink sink_ = [this](const std::string& s) { statuses_.push_back(s); };
  int added_ = 0;  // every address is stored once
};

TEST_F(DeleteOldNewsTest, AnAgeOutOfRangeDeletesNothingAndIsLogged) {
  std::time_t now = At(2024, 6, 15, 10, 30, 0);
  AddItem("2020-01-01 00:00:00", true);
  AddItem("2024-06-15 10:00:00", false);
  for (int month : {-1, 100000000}) {
    Configure(1, month, 0);
    DeleteOldNews(home_.settings(), sink_, now);
    EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 2) << month;
    EXPECT_NE(home_.Log().find("Cleanup setting Month=" + std::to_string(month) + " is out of range (0 to 1200)"),
              std::string::npos);
  }
  Configure(1, 12, -5);
  DeleteOldNews(home_.settings(), sink_, now);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 2);
  // A sane age afterwards works as before.
  Configure(1, 12, 0);
  DeleteOldNews(home_.settings(), sink_, now);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 1);
}

// A value that does not read as a number used to count as 0, and an age of
// 0 deletes everything.
TEST_F(DeleteOldNewsTest, AnAgeThatIsNoNumberDeletesNothingAndIsLogged) {
  std::time_t now = At(2024, 6, 15, 10, 30, 0);
  AddItem("2020-01-01 00:00:00", true);
  AddItem("2024-06-15 10:00:00", false);
  for (const char* key : {"Month", "Day", "Hour", "Minute"}) {
    for (const char* value : {"abc", "4294967297", "3 months"}) {
      Configure(1, 0, 0);
      home_.settings().WriteText(kCleanupSection, key, value);
      DeleteOldNews(home_.settings(), sink_, now);
      EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 2) << key << "=" << value;
      EXPECT_NE(home_.Log().find(std::string("Cleanup setting ") + key + "=" + value + " is not a whole number"),
                std::string::npos)
          << key << "=" << value;
      home_.settings().RemoveKey(kCleanupSection, key);
    }
  }
  // DeleteOlder itself: not a number is not set, and nothing is deleted.
  Configure(1, 0, 0);
  home_.settings().WriteText(kCleanupSection, "DeleteOlder", "yes");
  DeleteOldNews(home_.settings(), sink_, now);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 2);
  EXPECT_NE(home_.Log().find("Setting DeleteOlder in [Cleanup]"), std::string::npos);
}

// The files used to go first: a clean-up that could not delete the rows
// left them pointing at pictures that no longer existed.
TEST_F(DeleteOldNewsTest, ALockedDatabaseKeepsBothRowsAndTheirPictures) {
  std::time_t now = At(2024, 6, 15, 10, 30, 0);
  std::vector<int64_t> old;
  for (int i = 0; i < 3; ++i) old.push_back(AddItem("2020-01-0" + std::to_string(i + 1) + " 00:00:00", true));
  Configure(1, 1, 0);
  ASSERT_EQ(OpenDatabase(), 0);
  sqlite3_busy_timeout(ProcessDatabase()->handle(), 100);
  std::unique_ptr<Database> other;  // another program holding the write lock
  ASSERT_EQ(Database::Open(home_.dbPath(), Database::Mode::kExisting, &other), 0);
  ASSERT_EQ(other->Begin(), 0);
  DeleteOldNews(home_.settings(), sink_, now);
  EXPECT_NE(home_.Log().find("Delete error 126"), std::string::npos);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 3);
  for (int64_t id : old)
    EXPECT_TRUE(std::filesystem::exists(home_.dir() + "/Images/" + std::to_string(id) + "_0")) << id;

  ASSERT_EQ(other->Rollback(), 0);
  DeleteOldNews(home_.settings(), sink_, now);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 0);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsimages"), 0);
  for (int64_t id : old)
    EXPECT_FALSE(std::filesystem::exists(home_.dir() + "/Images/" + std::to_string(id) + "_0")) << id;
}

TEST_F(DeleteOldNewsTest, DeletesItemsAndImageFilesOlderThanTheAge) {
  std::time_t now = At(2024, 6, 15, 10, 30, 0);
  int64_t old1 = AddItem("2024-05-16 10:29:59", true);  // just before the 30-day cut-off
  int64_t kept = AddItem("2024-05-16 10:30:00", true);
  Configure(1, 1, 0);
  DeleteOldNews(home_.settings(), sink_, now);
  EXPECT_EQ(statuses_, std::vector<std::string>{"The old news checking and removing..."});
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem WHERE id = " + std::to_string(old1)), 0);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem WHERE id = " + std::to_string(kept)), 1);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsimages"), 1);
  EXPECT_FALSE(std::filesystem::exists(home_.dir() + "/Images/" + std::to_string(old1) + "_0"));
  EXPECT_TRUE(std::filesystem::exists(home_.dir() + "/Images/" + std::to_string(kept) + "_0"));
}

TEST_F(DeleteOldNewsTest, NothingHappensUnlessEnabledAndMissingFilesAreOnlyLogged) {
  std::time_t now = At(2024, 6, 15, 10, 30, 0);
  int64_t old1 = AddItem("2020-01-01 00:00:00", true);
  Configure(0, 0, 0);
  DeleteOldNews(home_.settings(), sink_, now);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 1);

  std::filesystem::remove(home_.dir() + "/Images/" + std::to_string(old1) + "_0");
  Configure(1, 0, 0);  // every item published before this minute
  DeleteOldNews(home_.settings(), sink_, now);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 0);
  EXPECT_NE(home_.Log().find("Can not delete image : " + home_.dir() + "/Images/" + std::to_string(old1) + "_0"),
            std::string::npos);
}

TEST_F(DeleteOldNewsTest, WithoutADatabaseTheRunGoesOnAfterALogLine) {
  CloseDatabase();
  SetProcessDatabasePath(home_.dir() + "/absent.db");
  Configure(1, 0, 0);
  DeleteOldNews(home_.settings(), sink_, std::time(nullptr));
  EXPECT_EQ(statuses_.size(), 1u);
  EXPECT_NE(home_.Log().find("Can not open news database. Please check you settings."), std::string::npos);
}

TEST_F(DeleteOldNewsTest, OrphanCatalogueKeepsPairsWithLiveNews) {
  // Pair with withdrawn masks and live news: kept. Pair with withdrawn masks
  // and only user-deleted news: goes, with its category and site.
  int64_t live = home_.AddPair("Live site", "Shared", false);
  int64_t gone = home_.AddPair("Gone site", "Only here", false);
  int64_t fine = pair_;
  home_.AddMask(live, 0, 0);
  home_.AddMask(gone, 0, 0);
  home_.AddMask(fine, 0, 3);
  Statement a(home_.db(), "INSERT INTO newsitem (fk_site_cat_rel, src_url, is_del) VALUES(?, 'a', 0)");
  a.Bind(1, live).Execute();
  Statement b(home_.db(), "INSERT INTO newsitem (fk_site_cat_rel, src_url, is_del) VALUES(?, 'b', 1)");
  b.Bind(1, gone).Execute();
  int64_t deletedItem = home_.db().LastInsertId();
  std::filesystem::create_directories(home_.dir() + "/Images");
  std::string image = home_.dir() + "/Images/" + std::to_string(deletedItem) + "_0";
  WriteFile(image, "x");
  Statement im(home_.db(), "INSERT INTO newsimages (bodypos, image_path, fk_newsitem) VALUES(0, ?, ?)");
  im.Bind(1, image).Bind(2, deletedItem).Execute();

  DeleteOrphanCatalogue(sink_);
  EXPECT_EQ(statuses_, std::vector<std::string>{"Updating news database"});
  EXPECT_EQ(home_.Count("SELECT count(*) FROM site_cat_rel"), 2);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM site_cat_rel WHERE id = " + std::to_string(gone)), 0);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM news_cat WHERE name = 'Only here'"), 0);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM news_config WHERE site_name = 'Gone site'"), 0);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM news_config WHERE site_name = 'Live site'"), 1);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 1);
  EXPECT_FALSE(std::filesystem::exists(image));
}

// The clean-up only queues the deleted items' texts (the index's own delete
// would tokenise each old text again); once the queue is drained the index
// equals the table.
TEST_F(DeleteOldNewsTest, DeletesInBatchesUntilNoOldItemIsLeftAndQueuesThemForTheSearchIndex) {
  std::time_t now = At(2024, 6, 15, 10, 30, 0);
  {
    Transaction t(home_.db());
    for (int i = 0; i < 2345; ++i) AddItem("2024-01-01 00:00:" + std::to_string(10 + i % 50), i % 500 == 0);
    for (int i = 0; i < 7; ++i) AddItem("2024-06-15 09:00:0" + std::to_string(i), false);
    ASSERT_EQ(home_.db().Exec("UPDATE newsitem SET body = 'Old body ' || src_url"), 0);
    ASSERT_EQ(t.Commit(), 0);
  }
  Configure(1, 1, 0);
  DeleteOldNews(home_.settings(), sink_, now);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 7);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsimages"), 0);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem_fts_gone"), 2345);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem_fts WHERE newsitem_fts MATCH '\"old\"'"), 2352);

  std::atomic<bool> stop{false};
  int64_t dropped = 0;
  ASSERT_EQ(DropAllDeletedFromIndex(home_.dbPath(), stop, &dropped), 0);
  EXPECT_EQ(dropped, 2345);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem_fts WHERE newsitem_fts MATCH '\"old\"'"), 7);
  EXPECT_EQ(home_.db().Exec("INSERT INTO newsitem_fts(newsitem_fts, rank) VALUES ('integrity-check', 1)"), 0);
}

TEST_F(DeleteOldNewsTest, OrphanCatalogueKeepsSitesAndCategoriesStillInUse) {
  // The withdrawn pair goes; its category lives on in another site's pair,
  // its site in another category's pair.
  int64_t gone = home_.AddPair("Shared site", "Shared cat", false);
  int64_t otherCat = home_.AddPair("Shared site", "Another", false);
  int64_t otherSite = home_.AddPair("Elsewhere", "Shared cat", false);
  home_.AddMask(gone, 0, 0);
  home_.AddMask(otherCat, 0, 2);
  home_.AddMask(otherSite, 1, 2);
  Statement unpaired(home_.db(), "INSERT INTO newsitem (fk_site_cat_rel, src_url, is_del) VALUES(NULL, 'n', 0)");
  ASSERT_EQ(unpaired.Execute(), 0);
  DeleteOrphanCatalogue(sink_);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM site_cat_rel WHERE id = " + std::to_string(gone)), 0);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM site_cat_rel"), 3);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM news_cat WHERE name = 'Shared cat'"), 1);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM news_config WHERE site_name = 'Shared site'"), 1);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM newsitem"), 1);
}

}  // namespace
}  // namespace orvo

// The item and picture rows of the layer, on both back ends.
#include <gtest/gtest.h>

#include <memory>

#include "database.h"
#include "pg_server.h"
#include "store/images.h"
#include "store/items.h"
#include "test_support.h"

namespace orvo {
namespace {

using testing::TempDir;

class BothBackends : public ::testing::TestWithParam<Database::Backend> {
 protected:
  void SetUp() override {
    location_ = dir_.File("news.db");
    if (GetParam() == Database::Backend::kPostgres) {
      ORVO_NEED_POSTGRES(server);
      location_ = server->NewDatabase();
      ASSERT_FALSE(location_.empty());
    }
    std::string why;
    ASSERT_EQ(Database::Open(location_, Database::Mode::kCreate, &db_, &why), 0) << why;
    ASSERT_EQ(db_->Exec("INSERT INTO news_config(site_name) VALUES ('Site');"
                        "INSERT INTO news_cat(name) VALUES ('World');"
                        "INSERT INTO site_cat_rel(is_selected, fk_news_cat, fk_news_config) VALUES (1, 1, 1)"),
              0);
  }

  int64_t Insert(const std::string& sql) {
    EXPECT_EQ(db_->Exec(sql.c_str()), 0) << db_->ErrorMessage();
    return db_->LastInsertId();
  }

  TempDir dir_;
  std::string location_;
  std::unique_ptr<Database> db_;
};

INSTANTIATE_TEST_SUITE_P(Backends, BothBackends,
                         ::testing::Values(Database::Backend::kSqlite, Database::Backend::kPostgres),
                         [](const auto& info) {
                           return info.param == Database::Backend::kSqlite ? std::string("Sqlite")
                                                                           : std::string("Postgres");
                         });

TEST_P(BothBackends, APicturesBytesComeBackByItsRowWhereverTheBackEndKeepsThem) {
  std::string bytes;
  for (int i = 0; i < 70000; ++i) bytes.push_back(static_cast<char>(i * 7 % 256));  // NULs and high bytes
  const int64_t item = Insert("INSERT INTO newsitem (fk_site_cat_rel, src_url) VALUES (1, 'http://x/1')");
  const std::string file = dir_.File(std::to_string(item) + "_0");
  const std::string gone = dir_.File(std::to_string(item) + "_1");
  const int64_t first = Insert("INSERT INTO newsimages (bodypos, image_path, imagetext, fk_newsitem) VALUES (0, '" +
                               file + "', 'A quay', " + std::to_string(item) + ")");
  const int64_t second = Insert("INSERT INTO newsimages (bodypos, image_path, imagetext, fk_newsitem) VALUES (1, '" +
                                gone + "', '', " + std::to_string(item) + ")");
  if (PicturesInDatabase(*db_)) {
    ASSERT_EQ(StorePictureBytes(*db_, first, bytes), 0) << db_->ErrorMessage();
  } else {
    testing::WriteFile(file, bytes);
  }

  const std::vector<PictureRow> rows = ItemPictures(*db_, item);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].id, first);
  EXPECT_EQ(rows[0].caption, "A quay");
  EXPECT_EQ(rows[1].position, 1);

  std::string read;
  ASSERT_EQ(ReadPictureBytes(*db_, first, &read), 0);
  EXPECT_EQ(read, bytes);
  // One never fetched, and a row that is not there: no bytes, no failure of the database.
  EXPECT_EQ(ReadPictureBytes(*db_, second, &read), SQLITE_NOTFOUND);
  EXPECT_EQ(ReadPictureBytes(*db_, second + 100, &read), SQLITE_NOTFOUND);
  EXPECT_TRUE(read.empty());

  // The bytes go with their item.
  ASSERT_EQ(db_->Exec(("DELETE FROM newsitem WHERE id = " + std::to_string(item)).c_str()), 0);
  EXPECT_EQ(ReadPictureBytes(*db_, first, &read), SQLITE_NOTFOUND);
}

// Two engines on one database: the second looked before the first committed
// and goes on to its insert. The unique key on the address turns that into
// "stored already", with the address stored once and the database usable.
TEST_P(BothBackends, AnAddressAnotherEngineStoredAfterTheLookCountsAsStoredOnce) {
  std::unique_ptr<Database> other;
  ASSERT_EQ(Database::Open(location_, Database::Mode::kExisting, &other), 0);
  const ItemRow row{"2026-01-02 03:04:05", "2026-01-02 03:04:05", 1, "http://x/same", "", "Title", "Body"};
  int64_t id = -1;
  {
    ItemWrite first(*other);
    ASSERT_EQ(first.Insert(row, true, &id), 0);
    ASSERT_EQ(first.Commit(), 0);
  }
  {
    ItemWrite second(*db_);
    int64_t again = -1;
    EXPECT_EQ(second.Insert(row, false, &again), ItemWrite::kStoredAlready);
    EXPECT_EQ(again, -1);
  }
  {
    ItemWrite checked(*db_);
    int64_t again = -1;
    EXPECT_EQ(checked.Insert(row, true, &again), ItemWrite::kStoredAlready);
  }
  ItemWrite next(*db_);
  ItemRow fresh = row;
  fresh.address = "http://x/other";
  ASSERT_EQ(next.Insert(fresh, true, &id), 0) << db_->ErrorMessage();
  ItemRow unaddressed = row;
  unaddressed.address.clear();
  ASSERT_EQ(next.Insert(unaddressed, false, &id), 0);
  ASSERT_EQ(next.Insert(unaddressed, false, &id), 0);  // items without an address may repeat
  ASSERT_EQ(next.Commit(), 0);
  Statement count(*db_, "SELECT count(*), count(DISTINCT src_url) FROM newsitem");
  ASSERT_TRUE(count.Next());
  EXPECT_EQ(count.Int(0), 4);
  EXPECT_EQ(count.Int(1), 3);
}

}  // namespace
}  // namespace orvo

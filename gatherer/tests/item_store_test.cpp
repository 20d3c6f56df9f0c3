#include "item_store.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine_home.h"
#include "fixture_server.h"
#include "http_client.h"
#include "text.h"

namespace orvo {
namespace {

using testing::EngineHome;
using testing::FixtureServer;
using testing::ReadFile;

NewsItemRecord Item(const std::string& address, int pair) {
  NewsItemRecord item;
  item.body = "Body [[{0}]]";
  item.title = "Title";
  item.author = "Author";
  item.address = address;
  item.siteCatRel = pair;
  return item;
}

TEST(ItemStoreTest, StoredAddressesAreFoundExactlyAndQuotesAreData) {
  EngineHome home;
  int pair = static_cast<int>(home.AddPair("S", "C", true));
  const std::string quoted = "http://x/it's?a=1";
  ASSERT_GT(InsertNewsItem(home.db(), Item(quoted, pair), std::time(nullptr)), 0);
  EXPECT_TRUE(IsStoredAddress(home.db(), quoted));
  EXPECT_FALSE(IsStoredAddress(home.db(), "http://x/it's?a=2"));
  EXPECT_FALSE(IsStoredAddress(home.db(), "http://x/it%"));
}

TEST(ItemStoreTest, PublicationDateFallsBackToTheTimeOfStoring) {
  EngineHome home;
  int pair = static_cast<int>(home.AddPair("S", "C", true));
  std::time_t now = std::time(nullptr);
  NewsItemRecord dated = Item("http://x/1", pair);
  dated.publicationDate = "2003-12-07 14:05:00";
  int64_t id1 = InsertNewsItem(home.db(), dated, now);
  int64_t id2 = InsertNewsItem(home.db(), Item("http://x/2", pair), now);
  EXPECT_EQ(home.Text("SELECT publication_date || '|' || newsdate FROM newsitem WHERE id = " + std::to_string(id1)),
            "2003-12-07 14:05:00|2003-12-07 14:05:00");
  EXPECT_EQ(home.Text("SELECT publication_date FROM newsitem WHERE id = " + std::to_string(id2)), FormatDbTime(now));
  EXPECT_EQ(home.Text("SELECT recvdate FROM newsitem WHERE id = " + std::to_string(id1)), FormatDbTime(now));
  EXPECT_EQ(home.Text("SELECT smalldescr FROM newsitem WHERE id = " + std::to_string(id1)), "");
}

TEST(ItemStoreTest, AFailedInsertIsLoggedAndLeavesNoRow) {
  EngineHome home;
  // A pair that does not exist breaks the foreign key.
  EXPECT_EQ(InsertNewsItem(home.db(), Item("http://x/1", 4242), std::time(nullptr)), -1);
  EXPECT_EQ(home.Count("SELECT count(*) FROM newsitem"), 0);
  EXPECT_NE(home.Log().find("Can not insert images 787 SQL : \nINSERT INTO newsitem"), std::string::npos);
}

TEST(ItemStoreTest, CaptionsKeepApostrophesAsEntitiesAndFitTheirColumn) {
  EXPECT_EQ(StoredCaption("It's 'here'"), "It&#39;s &#39;here&#39;");
  std::string longCaption(1020, 'a');
  longCaption += "''";
  std::string stored = StoredCaption(longCaption);
  EXPECT_EQ(stored, std::string(1020, 'a'));  // an entity that does not fit is left out whole
  std::string cyrillic;
  for (int i = 0; i < 600; ++i) cyrillic += "\xd0\x96";  // 1200 bytes
  stored = StoredCaption(cyrillic);
  EXPECT_EQ(stored.size(), 1022u);
  EXPECT_EQ(stored, CutUtf8(cyrillic, 1023));
}

class ImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    main_.server().Get("/a.png", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string("PNG-A\0\1\2", 8), "image/png");
    });
    main_.server().Get("/missing.png", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("not here", "text/plain");
    });
    main_.server().Get("/huge.png", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string(5000, 'h'), "image/png");
    });
    other_.server().Get("/b.jpg", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("JPEG-B", "image/jpeg");
    });
    main_.Start();
    other_.Start();
  }

  std::vector<std::string> Rows(EngineHome& home) {
    std::vector<std::string> rows;
    Statement st(home.db(), "SELECT bodypos, image_path, imagetext, fk_newsitem FROM newsimages ORDER BY id");
    while (st.Next())
      rows.push_back(std::to_string(st.Int(0)) + "|" + st.Text(1) + "|" + st.Text(2) + "|" + std::to_string(st.Int(3)));
    return rows;
  }

  FixtureServer main_;
  FixtureServer other_;
};

TEST_F(ImageTest, EachImageComesFromItsOwnServerIntoNumberedFiles) {
  EngineHome home;
  int pair = static_cast<int>(home.AddPair("S", "C", true));
  NewsItemRecord item = Item("http://x/1", pair);
  item.images = {{main_.Url("/a.png"), "Caption's"}, {other_.Url("/b.jpg"), ""}, {main_.Url("/missing.png"), "c"}};
  HttpSession http;
  int64_t id = StoreNewsItem(home.db(), item, true, http, std::time(nullptr));
  ASSERT_GT(id, 0);
  const std::string folder = home.dir() + "/Images/";
  const std::string n = std::to_string(id);
  EXPECT_EQ(Rows(home), (std::vector<std::string>{"0|" + folder + n + "_0|Caption&#39;s|" + n,
                                                  "1|" + folder + n + "_1||" + n,
                                                  "2|" + folder + n + "_2|c|" + n}));
  EXPECT_EQ(ReadFile(folder + n + "_0"), std::string("PNG-A\0\1\2", 8));
  EXPECT_EQ(ReadFile(folder + n + "_1"), "JPEG-B");
  // A refused image keeps its row, with an empty file.
  EXPECT_TRUE(std::filesystem::exists(folder + n + "_2"));
  EXPECT_EQ(ReadFile(folder + n + "_2"), "");
  EXPECT_NE(home.Log().find("Download Image " + other_.Url("/b.jpg")), std::string::npos);
}

TEST_F(ImageTest, WithoutLoadImagesNothingIsWritten) {
  EngineHome home;
  int pair = static_cast<int>(home.AddPair("S", "C", true));
  NewsItemRecord item = Item("http://x/1", pair);
  item.images = {{main_.Url("/a.png"), ""}};
  HttpSession http;
  ASSERT_GT(StoreNewsItem(home.db(), item, false, http, std::time(nullptr)), 0);
  EXPECT_TRUE(Rows(home).empty());
  EXPECT_FALSE(std::filesystem::exists(home.dir() + "/Images"));
  EXPECT_EQ(main_.Requests().size(), 0u);
}

TEST_F(ImageTest, OversizedAndUnreachableImagesAreBoundedAndLogged) {
  EngineHome home;
  int pair = static_cast<int>(home.AddPair("S", "C", true));
  int64_t id = InsertNewsItem(home.db(), Item("http://x/1", pair), std::time(nullptr));
  HttpSession http;
  std::vector<ItemImage> images = {{"http://127.0.0.1:1/dead.png", ""},
                                   {"http://127.0.0.1:1/dead2.png", ""},
                                   {main_.Url("/huge.png"), ""},
                                   {"", "caption only"},
                                   {main_.Url("/a.png"), ""}};
  DownloadImages(http, id, images, home.dir() + "/Images/", 1000);
  const std::string n = std::to_string(id);
  auto rows = Rows(home);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].substr(0, 2), "2|");
  EXPECT_EQ(rows[1].substr(0, 2), "4|");
  EXPECT_EQ(ReadFile(home.dir() + "/Images/" + n + "_2").size(), 1000u);
  EXPECT_FALSE(std::filesystem::exists(home.dir() + "/Images/" + n + "_0"));
  std::string log = home.Log();
  EXPECT_NE(log.find("Error download image : 7"), std::string::npos);
  // The dead server is asked once only.
  EXPECT_EQ(log.find("dead2.png"), std::string::npos);
  EXPECT_NE(log.find("Image larger than 1000 bytes, cut there: " + main_.Url("/huge.png")), std::string::npos);
}

}  // namespace
}  // namespace orvo

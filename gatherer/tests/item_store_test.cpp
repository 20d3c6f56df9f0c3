#include "item_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>

#include "engine_home.h"
#include "fixture_server.h"
#include "gatherer/masks/html_document.h"
#include "http_client.h"
#include "pg_server.h"
#include "store/images.h"
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

// Long fields keep 254 characters, however many bytes those take, and a
// long address is found again in its stored form.
TEST(ItemStoreTest, LongFieldsAreCutByCharactersAndLongAddressesFoundAgain) {
  EngineHome home;
  int pair = static_cast<int>(home.AddPair("S", "C", true));
  std::string title;
  for (int i = 0; i < 200; ++i) title += "\xd0\x96";
  const std::string address = "http://x/" + std::string(400, 'a');
  NewsItemRecord item = Item(address, pair);
  item.title = title;
  ASSERT_GT(InsertNewsItem(home.db(), item, std::time(nullptr)), 0);
  EXPECT_EQ(home.Text("SELECT title FROM newsitem"), title);
  EXPECT_EQ(home.Text("SELECT src_url FROM newsitem"), address.substr(0, 254));
  EXPECT_TRUE(IsStoredAddress(home.db(), address));
  EXPECT_FALSE(IsStoredAddress(home.db(), "http://y/" + std::string(400, 'a')));
}

// Only pictures whose place the stored text keeps are worth a request, and
// no more of those than the cap.
TEST(ItemStoreTest, PicturesOutsideTheStoredBodyOrBeyondTheCapAreLeftOut) {
  struct Case {
    const char* body;
    int cap;
    const char* kept;  // one letter per image: k kept, o left out, c caption only
    int cut, overCap;
  } cases[] = {
      {"a[[{0}]]b[[{1}]][[{2}]]", 200, "kkk", 0, 0},
      {"a[[{0}]]b[[{2}]]", 200, "kok", 1, 0},
      {"a[[{0}]][[{1}]][[{2}]][[{3}]]", 2, "kkoo", 0, 2},
      {"[[{1}]] [[{x}]] [[{99999999999}]] [[{3", 200, "okoo", 3, 0},
      {"[[{0}]][[{2}]]", 1, "kco", 0, 1},
  };
  for (const Case& c : cases) {
    std::vector<ItemImage> images;
    for (const char* k = c.kept; *k; ++k) images.push_back({*k == 'c' ? "" : "http://x/i.png", "cap"});
    const ImagesLeftOut left = LeaveOutImages(c.body, images, c.cap);
    std::string got;
    for (const ItemImage& i : images) got += i.source.empty() ? 'c' : i.leftOut ? 'o' : 'k';
    EXPECT_EQ(got, c.kept) << c.body;
    EXPECT_EQ(left.cut, c.cut) << c.body;
    EXPECT_EQ(left.overCap, c.overCap) << c.body;
  }
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
  // The column counts characters, not bytes.
  std::string cyrillic;
  for (int i = 0; i < 1100; ++i) cyrillic += "\xd0\x96";  // 1100 characters, 2200 bytes
  stored = StoredCaption(cyrillic);
  EXPECT_EQ(stored, cyrillic.substr(0, 1023 * 2));
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
    main_.server().Get("/stream.png", [](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("image/png", [](size_t offset, httplib::DataSink& sink) {
        if (offset >= 5000) {
          sink.done();
          return true;
        }
        std::string piece(500, 's');
        sink.write(piece.data(), piece.size());
        return true;
      });
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
  StoreResult stored = StoreNewsItem(home.db(), item, true, http, std::time(nullptr));
  const int64_t id = stored.id;
  ASSERT_GT(id, 0);
  EXPECT_EQ(stored.images, 3);
  EXPECT_EQ(stored.imagesFailed, 0);
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

// Addresses as pages write them (spaces, backslashes, capitals in the host)
// are fetched; one that cannot be fetched is logged, never dropped silently.
TEST_F(ImageTest, AddressesWithSpacesAreFetchedAndUnusableOnesLogged) {
  main_.server().Get("/img/ferry boat.png", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("FERRY", "image/png");
  });
  EngineHome home;
  int pair = static_cast<int>(home.AddPair("S", "C", true));
  const std::string page = "http://LOCALHOST:" + std::to_string(main_.port()) + "/news/1.html";
  HtmlDocument doc = HtmlDocument::Parse(
      "<body><img src='/img/ferry boat.png'><img src='..\\img\\ferry boat.png'><img src='ftp:/x y'></body>", page);
  std::vector<ItemImage> images;
  for (int e = 0; e < doc.ElementCount(); ++e)
    if (doc.TagName(e) == "IMG") images.push_back({doc.Attribute(e, "src"), ""});
  ASSERT_EQ(images.size(), 3u);
  EXPECT_EQ(images[0].source, "http://localhost:" + std::to_string(main_.port()) + "/img/ferry%20boat.png");
  EXPECT_EQ(images[1].source, images[0].source);
  NewsItemRecord item = Item("http://x/1", pair);
  item.images = images;
  HttpSession http;
  ImageFetchOptions options;
  options.folder = home.dir() + "/Images/";
  StoreResult stored = StoreNewsItem(home.db(), item, true, http, std::time(nullptr), options);
  ASSERT_GT(stored.id, 0);
  const std::string n = std::to_string(stored.id);
  EXPECT_EQ(ReadFile(options.folder + n + "_0"), "FERRY");
  EXPECT_EQ(ReadFile(options.folder + n + "_1"), "FERRY");
  EXPECT_EQ(Rows(home).size(), 2u);
  EXPECT_NE(home.Log().find("Image address can not be used: \"ftp:/x%20y\""), std::string::npos);
}

TEST_F(ImageTest, WithoutLoadImagesNothingIsWritten) {
  EngineHome home;
  int pair = static_cast<int>(home.AddPair("S", "C", true));
  NewsItemRecord item = Item("http://x/1", pair);
  item.images = {{main_.Url("/a.png"), ""}};
  HttpSession http;
  ASSERT_GT(StoreNewsItem(home.db(), item, false, http, std::time(nullptr)).id, 0);
  EXPECT_TRUE(Rows(home).empty());
  EXPECT_FALSE(std::filesystem::exists(home.dir() + "/Images"));
  EXPECT_EQ(main_.Requests().size(), 0u);
}

std::vector<std::string> Files(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// An item's images wait in memory for the commit up to a limit; the rest
// (one that grows past it half way included) wait in files. Each ends under
// its own name either way, and nothing temporary is left.
TEST_F(ImageTest, ImagesPastTheItemsMemoryWaitInFilesAndAllEndUnderTheirNames) {
  EngineHome home;
  int pair = static_cast<int>(home.AddPair("S", "C", true));
  const std::string folder = home.dir() + "/Images/";
  NewsItemRecord item = Item("http://x/1", pair);
  item.images = {{main_.Url("/a.png"), ""}, {main_.Url("/stream.png"), ""}, {main_.Url("/huge.png"), ""},
                 {other_.Url("/b.jpg"), ""}};
  HttpSession http;
  ImageFetchOptions options;
  options.folder = folder;
  options.memoryLimit = 8 + 600 + 6;  // a.png and b.jpg fit; the stream passes it in its second piece
  ImageFetch fetch = FetchImages(http, item.images, options);
  ASSERT_EQ(fetch.files.size(), 4u);
  std::vector<std::string> waiting = Files(folder);
  ASSERT_EQ(waiting.size(), 2u);
  for (const std::string& name : waiting) EXPECT_EQ(name.rfind(".part-", 0), 0u) << name;
  StoreResult stored = CommitNewsItem(home.db(), item, fetch, folder, std::time(nullptr));
  ASSERT_GT(stored.id, 0);
  EXPECT_EQ(stored.images, 4);
  const std::string n = std::to_string(stored.id);
  EXPECT_EQ(Files(folder), (std::vector<std::string>{n + "_0", n + "_1", n + "_2", n + "_3"}));
  EXPECT_EQ(ReadFile(folder + n + "_0"), std::string("PNG-A\0\1\2", 8));
  EXPECT_EQ(ReadFile(folder + n + "_1"), std::string(5000, 's'));
  EXPECT_EQ(ReadFile(folder + n + "_2"), std::string(5000, 'h'));
  EXPECT_EQ(ReadFile(folder + n + "_3"), "JPEG-B");
}

TEST_F(ImageTest, OversizedImagesAreDroppedWithALogLine) {
  EngineHome home;
  int pair = static_cast<int>(home.AddPair("S", "C", true));
  NewsItemRecord item = Item("http://x/1", pair);
  // One announces its length, one streams past the limit without saying.
  item.images = {{main_.Url("/huge.png"), ""}, {main_.Url("/stream.png"), ""}, {main_.Url("/a.png"), ""}};
  HttpSession http;
  ImageFetchOptions options;
  options.folder = home.dir() + "/Images/";
  options.sizeLimit = 1000;
  StoreResult stored = StoreNewsItem(home.db(), item, true, http, std::time(nullptr), options);
  ASSERT_GT(stored.id, 0);
  EXPECT_EQ(stored.images, 1);
  EXPECT_EQ(stored.imagesFailed, 2);
  const std::string n = std::to_string(stored.id);
  auto rows = Rows(home);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].substr(0, 2), "2|");
  EXPECT_EQ(Files(options.folder), std::vector<std::string>{n + "_2"});
  const std::string log = home.Log();
  EXPECT_NE(log.find("Image larger than 1000 bytes, dropped: " + main_.Url("/huge.png")), std::string::npos);
  EXPECT_NE(log.find("Image larger than 1000 bytes, dropped: " + main_.Url("/stream.png")), std::string::npos);
}

TEST_F(ImageTest, ADeadServerIsAskedOncePerRunUntilItsRetryTime) {
  EngineHome home;
  int pair = static_cast<int>(home.AddPair("S", "C", true));
  HttpSession http;
  ImageHosts hosts(std::chrono::seconds(3600));
  ImageFetchOptions options;
  options.folder = home.dir() + "/Images/";
  options.hosts = &hosts;
  for (int k = 1; k <= 2; ++k) {
    NewsItemRecord item = Item("http://x/" + std::to_string(k), pair);
    item.images = {{"http://127.0.0.1:1/dead" + std::to_string(k) + ".png", ""}, {"", "caption only"},
                   {main_.Url("/a.png"), ""}};
    StoreResult stored = StoreNewsItem(home.db(), item, true, http, std::time(nullptr), options);
    ASSERT_GT(stored.id, 0);
    EXPECT_EQ(stored.images, 1);
    EXPECT_EQ(stored.imagesFailed, 2);
  }
  std::string log = home.Log();
  EXPECT_NE(log.find("Error download image : 7"), std::string::npos);
  EXPECT_NE(log.find("Download Image http://127.0.0.1:1/dead1.png"), std::string::npos);
  EXPECT_EQ(log.find("Download Image http://127.0.0.1:1/dead2.png"), std::string::npos);  // not asked again
  EXPECT_NE(log.find("Image not fetched, its server did not answer before: http://127.0.0.1:1/dead2.png"),
            std::string::npos);
  const std::string dead = "Image server http://127.0.0.1:1 does not answer";
  ASSERT_NE(log.find(dead), std::string::npos);
  EXPECT_EQ(log.find(dead, log.find(dead) + 1), std::string::npos);  // logged once
  EXPECT_EQ(Rows(home).size(), 2u);

  // The retry time: asked again, with the short time-out.
  auto now = ImageHosts::Clock::now();
  ImageHosts soon(std::chrono::seconds(10));
  EXPECT_EQ(soon.Check("http://h:80", now), ImageHosts::Use::kAsk);
  soon.MarkDead("http://h:80", "refused", now);
  EXPECT_EQ(soon.Check("http://h:80", now + std::chrono::seconds(9)), ImageHosts::Use::kSkip);
  EXPECT_EQ(soon.Check("http://h:80", now + std::chrono::seconds(10)), ImageHosts::Use::kRetry);
  EXPECT_EQ(soon.Check("http://other:80", now), ImageHosts::Use::kAsk);
  soon.MarkAlive("http://h:80");
  EXPECT_EQ(soon.Check("http://h:80", now), ImageHosts::Use::kAsk);
}

TEST_F(ImageTest, AnItemThatCannotBeCommittedLeavesNeitherRowsNorFiles) {
  EngineHome home;
  int pair = static_cast<int>(home.AddPair("S", "C", true));
  const std::string folder = home.dir() + "/Images/";
  // The first item of a new database gets id 1; a folder in the place of its
  // second image makes the commit fail half way.
  std::filesystem::create_directories(folder + "1_1");
  NewsItemRecord item = Item("http://x/1", pair);
  item.images = {{main_.Url("/a.png"), ""}, {other_.Url("/b.jpg"), ""}};
  HttpSession http;
  ImageFetchOptions options;
  options.folder = folder;
  StoreResult stored = StoreNewsItem(home.db(), item, true, http, std::time(nullptr), options);
  EXPECT_EQ(stored.id, -1);
  EXPECT_NE(stored.error, 0);
  EXPECT_EQ(home.Count("SELECT count(*) FROM newsitem"), 0);
  EXPECT_TRUE(Rows(home).empty());
  EXPECT_EQ(Files(folder), std::vector<std::string>{"1_1"});
  EXPECT_FALSE(IsStoredAddress(home.db(), "http://x/1"));  // so the next run fetches it again
}

TEST_F(ImageTest, ABusyDatabaseIsTriedAgainAndAFailureIsToldNotHidden) {
  EngineHome home;
  int pair = static_cast<int>(home.AddPair("S", "C", true));
  const std::string folder = home.dir() + "/Images/";
  std::unique_ptr<Database> writer;
  ASSERT_EQ(Database::Open(home.dbPath(), Database::Mode::kExisting, &writer), 0);
  sqlite3_busy_timeout(writer->handle(), 50);
  HttpSession http;
  ImageFetchOptions options;
  options.folder = folder;

  // The reader holds the write lock through the first attempt only.
  NewsItemRecord item = Item("http://x/1", pair);
  item.images = {{main_.Url("/a.png"), "c"}};
  ImageFetch fetch = FetchImages(http, item.images, options);
  ASSERT_EQ(fetch.files.size(), 1u);
  ASSERT_EQ(home.db().Begin(), 0);
  int retries = 0;
  StoreResult stored = CommitNewsItem(*writer, item, fetch, folder, std::time(nullptr), 3, [&] {
    if (++retries == 1) home.db().Rollback();
    return true;
  });
  EXPECT_EQ(retries, 1);
  ASSERT_GT(stored.id, 0);
  EXPECT_EQ(stored.images, 1);
  EXPECT_EQ(Rows(home).size(), 1u);
  EXPECT_NE(home.Log().find("The news database is busy; storing http://x/1 again (attempt 2 of 3)"),
            std::string::npos);

  // Busy through every attempt: nothing stored, nothing left, and said so.
  NewsItemRecord second = Item("http://x/2", pair);
  second.images = {{main_.Url("/a.png"), ""}};
  fetch = FetchImages(http, second.images, options);
  ASSERT_EQ(home.db().Begin(), 0);
  stored = CommitNewsItem(*writer, second, fetch, folder, std::time(nullptr), 3, [] { return true; });
  home.db().Rollback();
  EXPECT_EQ(stored.id, -1);
  EXPECT_EQ(stored.why, "the news database stayed busy");
  EXPECT_FALSE(IsStoredAddress(home.db(), "http://x/2"));
  EXPECT_EQ(Files(folder), std::vector<std::string>{std::to_string(Rows(home).size()) + "_0"});
  EXPECT_NE(home.Log().find("Can not store news item http://x/2: the news database stayed busy"), std::string::npos);
}

// Two runs storing side by side: the second to bring an address stores
// nothing and keeps no file, and a new address goes in as usual.
// Another lane of the run, or another engine on the same database: an
// address stored meanwhile is not stored again, and its fetch leaves no file.
TEST_F(ImageTest, AnAddressStoredMeanwhileIsDroppedWithItsFiles) {
  EngineHome home;
  int pair = static_cast<int>(home.AddPair("S", "C", true));
  const std::string folder = home.dir() + "/Images/";
  std::unique_ptr<Database> other;
  ASSERT_EQ(Database::Open(home.dbPath(), Database::Mode::kExisting, &other), 0);
  HttpSession http;
  ImageFetchOptions options;
  options.folder = folder;
  std::mutex writer;
  SharedStore shared{&writer};

  NewsItemRecord item = Item("http://x/1", pair);
  item.images = {{main_.Url("/a.png"), "c"}};
  const StoreResult first = StoreNewsItem(home.db(), item, true, http, std::time(nullptr), options, shared);
  ASSERT_GT(first.id, 0);
  const StoreResult again = StoreNewsItem(*other, item, true, http, std::time(nullptr), options);
  EXPECT_TRUE(again.duplicate);
  EXPECT_EQ(again.error, 0);
  EXPECT_EQ(again.id, -1);
  EXPECT_EQ(home.Count("SELECT count(*) FROM newsitem"), 1);
  EXPECT_EQ(Rows(home).size(), 1u);
  EXPECT_EQ(Files(folder), std::vector<std::string>{std::to_string(first.id) + "_0"});
  EXPECT_NE(home.Log().find("News item http://x/1 is stored already; it is not stored again."), std::string::npos);

  NewsItemRecord fresh = Item("http://x/2", pair);
  const StoreResult stored = StoreNewsItem(*other, fresh, true, http, std::time(nullptr), options, shared);
  EXPECT_FALSE(stored.duplicate);
  EXPECT_GT(stored.id, first.id);
}

TEST(OrphanImagesTest, FilesThatNoRowNamesAndLeftoverPartsGo) {
  EngineHome home;
  int pair = static_cast<int>(home.AddPair("S", "C", true));
  int64_t id = InsertNewsItem(home.db(), Item("http://x/1", pair), std::time(nullptr));
  const std::string folder = home.dir() + "/Images/";
  const std::string n = std::to_string(id);
  Statement row(home.db(), "INSERT INTO newsimages (bodypos, image_path, imagetext, fk_newsitem) VALUES(0, ?, '', ?)");
  row.Bind(1, folder + n + "_0").Bind(2, id).Execute();
  std::filesystem::create_directories(folder);
  for (const std::string& name : {n + "_0", n + "_1", std::to_string(id + 1) + "_0", std::string(".part-99-0-0"),
                                  std::string("notes.txt"), std::string("12_3_4"), std::string("99999999999999999999_1")})
    testing::WriteFile(folder + name, "x");
  EXPECT_EQ(RemoveOrphanImages(home.db(), folder), 3);
  EXPECT_EQ(Files(folder), (std::vector<std::string>{"12_3_4", n + "_0", "99999999999999999999_1", "notes.txt"}));
  EXPECT_NE(home.Log().find("Removed 3 image files that no news item names"), std::string::npos);
  EXPECT_EQ(RemoveOrphanImages(home.db(), home.dir() + "/missing/"), 0);
}

}  // namespace
}  // namespace orvo

namespace orvo {
namespace {

// A database other machines share holds the pictures itself, written with
// their item: nothing under Images/, the bytes by their row, a picture that
// waited in a temporary file as well; an address stored already leaves
// nothing behind either.
TEST(PicturesOnPostgres, TravelInTheItemsTransactionAndLeaveNoFile) {
  ORVO_NEED_POSTGRES(server);
  const std::string url = server->NewDatabase();
  std::unique_ptr<Database> db;
  ASSERT_EQ(Database::Open(url, Database::Mode::kCreate, &db), 0);
  ASSERT_EQ(db->Exec("INSERT INTO news_config(site_name) VALUES ('S'); INSERT INTO news_cat(name) VALUES ('C');"
                     "INSERT INTO site_cat_rel(is_selected, fk_news_cat, fk_news_config) VALUES (1, 1, 1)"),
            0);
  testing::TempDir dir;
  const std::string folder = dir.File("Images/");
  std::filesystem::create_directories(folder);
  const std::string inMemory("pic\0ture\xff", 9), spilled(300000, '\x89');
  auto fetchOf = [&] {
    ImageFetch fetch;
    fetch.files.push_back({0, {}, inMemory, "Quay's end"});
    const std::string part = folder + ".part-test-1";
    testing::WriteFile(part, spilled);
    fetch.files.push_back({1, part, {}, ""});
    return fetch;
  };
  ImageFetch fetch = fetchOf();
  const StoreResult stored = CommitNewsItem(*db, Item("http://x/pg", 1), fetch, folder, std::time(nullptr));
  ASSERT_GT(stored.id, 0) << stored.why;
  EXPECT_EQ(stored.images, 2);
  EXPECT_TRUE(std::filesystem::is_empty(folder));
  const std::vector<PictureRow> rows = ItemPictures(*db, stored.id);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].caption, "Quay&#39;s end");
  std::string bytes;
  ASSERT_EQ(ReadPictureBytes(*db, rows[0].id, &bytes), 0);
  EXPECT_EQ(bytes, inMemory);
  ASSERT_EQ(ReadPictureBytes(*db, rows[1].id, &bytes), 0);
  EXPECT_EQ(bytes, spilled);

  ImageFetch again = fetchOf();
  EXPECT_TRUE(CommitNewsItem(*db, Item("http://x/pg", 1), again, folder, std::time(nullptr)).duplicate);
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

}  // namespace
}  // namespace orvo

#include "package.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <filesystem>

#include "news_fixture.h"
#include "pg_server.h"
#include "pictures.h"

namespace orvo {
namespace {

using testing::TestFilter;
using testing::NewsFixture;
using testing::TestNews;
using testing::ReadFile;

std::time_t Local(int y, int mo, int d, int h, int mi) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

// On both back ends: the eBook query and the image rows come through the
// storage layer.
class PackageTest : public ::testing::TestWithParam<Database::Backend> {
 protected:
  PackageTest() : files(fx.home() + "/temp") { std::filesystem::create_directories(files.tempDir); }

  void SetUp() override {
    if (GetParam() != Database::Backend::kPostgres) return;
    ORVO_NEED_POSTGRES(server);
    ASSERT_TRUE(fx.UsePostgres(server->NewDatabase()));
  }

  int64_t News(int64_t pair, const std::string& title, const std::string& body = "text") {
    TestNews s;
    s.pair = pair;
    s.title = title;
    s.body = body;
    s.srcUrl = "http://example.org/" + title;
    s.published = Local(2020, 5, 6, 7, 8);
    return fx.AddNews(s);
  }

  void OpenQuery() {
    TestFilter f;
    for (int64_t p : pairs) f.pairs.push_back(p);
    fx.AddFilter(f);
    ASSERT_EQ(query.Open(fx.db(), std::time(nullptr)), 0);
    endOfRows = !query.Fetch();
  }

  // Builds one volume and loads its content and package documents.
  int Build(int maxNews, int volume = 0) {
    VolumeRequest r;
    r.maxNews = maxNews;
    r.volumeIndex = volume;
    r.buildTime = Local(2003, 12, 1, 15, 30);
    int items = -1;
    EXPECT_EQ(BuildPackage(fx.db(), query, &endOfRows, r, files, &items), 0);
    if (items > 0) {
      EXPECT_TRUE(content.load_file(files.content.c_str()));
      EXPECT_TRUE(opf.load_file(files.package.c_str()));
      EXPECT_TRUE(toc.load_file(files.toc.c_str()));
    }
    return items;
  }

  int64_t CategoryOf(int64_t pair) {
    Statement st(fx.db(), "SELECT fk_news_cat FROM site_cat_rel WHERE id = ?");
    st.Bind(1, pair);
    EXPECT_TRUE(st.Next());
    return st.Int(0);
  }

  std::vector<std::string> Texts(const char* xpath, const pugi::xml_document& doc) {
    std::vector<std::string> out;
    for (const pugi::xpath_node& n : doc.select_nodes(xpath)) out.push_back(n.node().text().get());
    return out;
  }

  NewsFixture fx;
  PackageFiles files;
  NewsQuery query;
  bool endOfRows = false;
  std::vector<int64_t> pairs;
  pugi::xml_document content, opf, toc;
};

INSTANTIATE_TEST_SUITE_P(Backends, PackageTest,
                         ::testing::Values(Database::Backend::kSqlite, Database::Backend::kPostgres),
                         [](const auto& info) {
                           return info.param == Database::Backend::kSqlite ? std::string("Sqlite")
                                                                           : std::string("Postgres");
                         });

TEST_P(PackageTest, CategoriesBecomeTocRowsAndBlocks) {
  int64_t a = fx.AddPair("S", "Alpha"), b = fx.AddPair("S", "Beta");
  pairs = {a, b};
  for (const char* t : {"a1", "a2", "a3"}) News(a, t);
  for (const char* t : {"b1", "b2"}) News(b, t);
  OpenQuery();
  ASSERT_EQ(Build(50), 5);
  EXPECT_TRUE(endOfRows);

  std::vector<std::string> links;
  for (auto& n : toc.select_nodes("/html/body/div/a")) links.push_back(n.node().attribute("href").value());
  // Anchors are ASCII ids from the category; the names are what one sees.
  const std::string alpha = "cat_" + std::to_string(CategoryOf(a)), beta = "cat_" + std::to_string(CategoryOf(b));
  EXPECT_EQ(links, (std::vector<std::string>{"Content.html#" + alpha, "Content.html#" + beta}));
  EXPECT_EQ(Texts("/html/body/div/a", toc), (std::vector<std::string>{"Alpha", "Beta"}));

  pugi::xpath_node_set blocks = content.select_nodes("/html/body/div");
  ASSERT_EQ(blocks.size(), 2u);
  pugi::xml_node first = blocks[0].node();
  EXPECT_EQ(first.first_child().attribute("name").value(), alpha);
  EXPECT_STREQ(first.first_child().text().get(), "Alpha");  // the h4 gave way to the name
  EXPECT_EQ(Texts("/html/body/div/div/div[@class='title']", content),
            (std::vector<std::string>{"a1", "a2", "a3", "b1", "b2"}));
  EXPECT_EQ(first.select_nodes("div").size(), 3u);
  EXPECT_EQ(Texts("(//div[@class='header'])[1]", content), (std::vector<std::string>{"Alpha  06.05.2020 07:08"}));
  pugi::xml_node source = content.select_node("(//div[@class='source']/a)[1]").node();
  EXPECT_STREQ(source.attribute("href").value(), "http://example.org/a1");
  EXPECT_STREQ(source.text().get(), "http://example.org/a1");

  EXPECT_EQ(Texts("//dc:Title", opf), (std::vector<std::string>{"News 01.12.03 15:30 Vol.1"}));
  // No template is left behind.
  std::string all = ReadFile(files.content) + ReadFile(files.toc) + ReadFile(files.package);
  EXPECT_EQ(all.find("$category_name"), std::string::npos);
  EXPECT_EQ(all.find("$news_header"), std::string::npos);
  EXPECT_EQ(all.find("pic_N"), std::string::npos);
}

TEST_P(PackageTest, PicturesAreCutIntoTheTextAtTheirPlaceholders) {
  int64_t p = fx.AddPair("S", "World");
  pairs = {p};
  int64_t id = News(p, "pics", "one[[{1}]]two[[{2}]]thr[[{3}]]ee[[{4}]]!");
  const std::string pics = fx.home() + "/Images/";
  std::filesystem::create_directories(pics);
  std::string bytes1 = testing::MakePicture(pics + "1_0", 900);
  testing::MakePicture(pics + "1_1", 500);
  testing::MakePicture(pics + "1_9", 300);
  int64_t first = fx.AddPicture(id, 1, pics + "1_0", "first caption");
  int64_t second = fx.AddPicture(id, 2, pics + "1_1");
  int64_t orphan = fx.AddPicture(id, 9, pics + "1_9");
  fx.AddPicture(id, 3, "");              // never stored: dropped
  fx.AddPicture(id, 4, pics + "gone");   // its file went away: dropped too
  OpenQuery();
  ASSERT_EQ(Build(50), 1);
  auto Href = [](int64_t pic) { return "Images/pic" + std::to_string(pic) + ".jpg"; };

  pugi::xml_node item = content.select_node("//div[div[@class='title']]").node();
  std::vector<std::string> seq;
  for (pugi::xml_node c : item.children()) {
    std::string cls = c.attribute("class").value();
    if (cls == "news_text") seq.push_back(std::string("text:") + c.text().get());
    if (c.child("img")) seq.push_back(std::string("img:") + c.child("img").attribute("src").value());
  }
  EXPECT_EQ(seq, (std::vector<std::string>{"text:one", "img:" + Href(first), "text:two", "img:" + Href(second),
                                           "text:three!"}));
  pugi::xml_node img = item.select_node(".//img").node();
  EXPECT_STREQ(img.attribute("align").value(), "bottom");
  EXPECT_STREQ(img.text().get(), "first caption");
  // The caption is also shown under the picture; no caption, no block.
  EXPECT_EQ(Texts("//div[@class='picture']/div[@class='caption']", content),
            (std::vector<std::string>{"first caption"}));

  // Every picture is in the manifest, also the one without a placeholder,
  // and each lies inside the package's folder.
  std::vector<std::string> hrefs;
  for (auto& n : opf.select_nodes("//item[starts-with(@id,'Pic_')]")) hrefs.push_back(n.node().attribute("href").value());
  EXPECT_EQ(hrefs, (std::vector<std::string>{Href(first), Href(second), Href(orphan)}));
  EXPECT_EQ(ReadFile(files.tempDir + Href(first)), bytes1);
  EXPECT_NE(ReadFile(fx.home() + "/orvo_log.txt").find(pics + "gone"), std::string::npos);
  EXPECT_TRUE(opf.select_node(("//item[@id='Pic_" + std::to_string(orphan) + "']").c_str()));
  EXPECT_FALSE(content.select_node(("//img[@id='Pic_" + std::to_string(orphan) + "']").c_str()));
}

TEST_P(PackageTest, PicturesOutOfOrderLeaveTheEarlierPlaceholderInTheText) {
  int64_t p = fx.AddPair("S", "World");
  pairs = {p};
  int64_t id = News(p, "pics", "one[[{1}]]two[[{2}]]three");
  std::filesystem::create_directories(fx.home() + "/Images");
  testing::MakePicture(fx.home() + "/Images/2.jpg", 100);
  testing::MakePicture(fx.home() + "/Images/1.jpg", 100);
  fx.AddPicture(id, 2, fx.home() + "/Images/2.jpg");
  fx.AddPicture(id, 1, fx.home() + "/Images/1.jpg");
  OpenQuery();
  ASSERT_EQ(Build(50), 1);
  EXPECT_EQ(Texts("//div[@class='news_text']", content),
            (std::vector<std::string>{"one[[{1}]]two", "three"}));
  EXPECT_EQ(content.select_nodes("//img").size(), 1u);
}

TEST_P(PackageTest, LineBreaksTakeEffectOtherMarkupStaysText) {
  int64_t p = fx.AddPair("S", "World");
  pairs = {p};
  News(p, "t", "<br />&#160;&#160;Para<br clear=\"left\" />It&#39;s <b>bold</b> \x01 & more");
  OpenQuery();
  ASSERT_EQ(Build(50), 1);
  std::string html = ReadFile(files.content);
  EXPECT_NE(html.find("<br />&#160;&#160;Para<br clear=\"left\" />It&#39;s &lt;b&gt;bold&lt;/b&gt;  &amp; more"),
            std::string::npos)
      << html;
  EXPECT_EQ(html.find("<?xml"), std::string::npos);
}

TEST_P(PackageTest, TextInAnyScriptIsWrittenAsUtf8) {
  int64_t p = fx.AddPair("S", "Мир");
  pairs = {p};
  std::string body = "新聞の本文 — Ελληνικά € 😀";
  News(p, "标题", body);
  OpenQuery();
  ASSERT_EQ(Build(50), 1);
  std::string html = ReadFile(files.content);
  EXPECT_NE(html.find(body), std::string::npos);
  EXPECT_NE(html.find("标题"), std::string::npos);
  EXPECT_NE(ReadFile(files.toc).find(">Мир<"), std::string::npos);
}

TEST_P(PackageTest, VolumesTakeAtMostMaxNewsAndACategoryRunsOn) {
  int64_t a = fx.AddPair("S", "Alpha"), b = fx.AddPair("S", "Beta");
  pairs = {a, b};
  for (const char* t : {"a1", "a2", "a3"}) News(a, t);
  for (const char* t : {"b1", "b2"}) News(b, t);
  OpenQuery();

  ASSERT_EQ(Build(2, 0), 2);
  EXPECT_FALSE(endOfRows);
  EXPECT_EQ(Texts("//div[@class='title']", content), (std::vector<std::string>{"a1", "a2"}));

  ASSERT_EQ(Build(2, 1), 2);
  EXPECT_EQ(Texts("//div[@class='title']", content), (std::vector<std::string>{"a3", "b1"}));
  EXPECT_EQ(content.select_nodes("/html/body/div").size(), 2u);  // Alpha opens afresh
  EXPECT_EQ(Texts("//dc:Title", opf), (std::vector<std::string>{"News 01.12.03 15:30 Vol.2"}));

  ASSERT_EQ(Build(2, 2), 1);
  EXPECT_TRUE(endOfRows);
  EXPECT_EQ(Texts("//div[@class='title']", content), (std::vector<std::string>{"b2"}));
}

TEST_P(PackageTest, EachVolumeCarriesOnlyItsOwnPictures) {
  int64_t p = fx.AddPair("S", "World");
  pairs = {p};
  std::filesystem::create_directories(fx.home() + "/Images");
  int64_t first = News(p, "with", "a[[{1}]]b");
  testing::MakePicture(fx.home() + "/Images/p", 100);
  int64_t pic = fx.AddPicture(first, 1, fx.home() + "/Images/p");
  News(p, "without");
  OpenQuery();
  ASSERT_EQ(Build(1, 0), 1);
  EXPECT_TRUE(std::filesystem::exists(files.pictureDir + "pic" + std::to_string(pic) + ".jpg"));
  ASSERT_EQ(Build(1, 1), 1);
  EXPECT_TRUE(std::filesystem::is_empty(files.pictureDir));
}

TEST_P(PackageTest, AVolumeWithoutFilesStillDescribesItselfAndStagesItsPictures) {
  int64_t p = fx.AddPair("S", "World");
  pairs = {p};
  std::filesystem::create_directories(fx.home() + "/Images");
  int64_t id = News(p, "with", "a[[{1}]]b");
  std::string bytes = testing::MakePicture(fx.home() + "/Images/p", 100);
  fx.AddPicture(id, 1, fx.home() + "/Images/p", "cap");
  OpenQuery();
  VolumeRequest r;
  r.writeFiles = false;
  int items = 0;
  VolumeModel model;
  ASSERT_EQ(BuildPackage(fx.db(), query, &endOfRows, r, files, &items, &model), 0);
  EXPECT_EQ(items, 1);
  EXPECT_FALSE(std::filesystem::exists(files.content));
  ASSERT_EQ(model.categories.size(), 1u);
  ASSERT_EQ(model.categories[0].news.size(), 1u);
  const std::vector<VolumeSegment>& segments = model.categories[0].news[0].segments;
  ASSERT_EQ(segments.size(), 3u);
  EXPECT_EQ(segments[0].text, "a");
  EXPECT_EQ(segments[1].caption, "cap");
  EXPECT_EQ(segments[2].text, "b");
  ASSERT_EQ(model.pictures.size(), 1u);
  EXPECT_EQ(ReadFile(model.pictures[0].file), bytes);
}

TEST_P(PackageTest, UnwritableTempFolderFailsTheVolume) {
  int64_t p = fx.AddPair("S", "World");
  pairs = {p};
  News(p, "t");
  OpenQuery();
  PackageFiles missing(fx.home() + "/no/such/folder");
  VolumeRequest r;
  int items = 0;
  EXPECT_EQ(BuildPackage(fx.db(), query, &endOfRows, r, missing, &items), 1);
}

// The bytes tell what a picture is, never its name.
TEST(SniffPicture, FromTheFirstBytes) {
  const std::pair<std::string, PictureKind> cases[] = {
      {"\xFF\xD8\xFF\xE0rest", PictureKind::kJpeg},
      {"\x89PNG\r\n\x1a\nrest", PictureKind::kPng},
      {"GIF87a....", PictureKind::kGif},
      {std::string("RIFF\x10\x00\x00\x00WEBPVP8 ", 16), PictureKind::kWebp},
      {"BM" + std::string(40, '\0'), PictureKind::kBmp},
      {"<svg xmlns=\"http://www.w3.org/2000/svg\"/>", PictureKind::kSvg},
      {"\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- drawn -->\n<!DOCTYPE svg [<!ENTITY a \"b\">]>\n<svg>",
       PictureKind::kSvg},
      {"<svgfont/>", PictureKind::kUnknown},
      {"<html><body>Not found</body></html>", PictureKind::kUnknown},
      {"BM", PictureKind::kUnknown},
      {"", PictureKind::kUnknown},
  };
  for (const auto& [head, kind] : cases) EXPECT_EQ(SniffPicture(head), kind) << head;
}

}  // namespace
}  // namespace orvo

// EPUB volumes: the container, the package, the documents and the
// pictures, read back with libzip and pugixml.
#include "epub_volume.h"

#include <QSignalSpy>
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <filesystem>
#include <map>

#include "eventlog.h"
#include "generation_run.h"
#include "news_fixture.h"

namespace orvo {
namespace {

namespace fs = std::filesystem;
using testing::NewsFixture;
using testing::ReadFile;
using testing::TestFilter;
using testing::TestNews;

TEST(BodyXhtml, MarkupStaysTextExceptLineBreaksAndEntities) {
  EXPECT_EQ(BodyXhtml("a<br />b<br clear=\"left\" />c&#160;d&#39;e"), "a<br />b<br />c&#160;d&#39;e");
  EXPECT_EQ(BodyXhtml("<b>x</b> & y"), "&lt;b&gt;x&lt;/b&gt; &amp; y");
  // Bytes XML cannot carry: control characters go, broken UTF-8 is replaced.
  EXPECT_EQ(BodyXhtml("a\x01" "b\xC3" "c\xEF\xBF\xBF" "d"), "ab\xEF\xBF\xBD" "c\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" "d");
  EXPECT_EQ(BodyXhtml("Город 😀"), "Город 😀");
}

class EpubTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProcessDatabasePath(fx.dbPath());
    images = fx.home() + "/Images/";
    fs::create_directories(images);
  }
  void TearDown() override { CloseDatabase(); }

  // A whole run; the volumes it wrote in lit/, sorted.
  std::vector<std::string> Run(std::optional<BookFormat> format, const std::string& writer = RECORDING_WRITER) {
    GenerationRun run;
    run.setWriterLibraryPath(writer);
    run.setFormat(format);
    QSignalSpy complete(&run, &GenerationRun::complete);
    EXPECT_TRUE(run.start());
    EXPECT_TRUE(complete.wait(120000));
    EXPECT_EQ(run.status().toStdString(), kRunSucceeded) << ReadFile(EventLogPath());
    std::vector<std::string> names;
    std::error_code ec;
    for (auto& e : fs::directory_iterator(fx.home() + "/lit", ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  void Filter(std::vector<int64_t> pairs) {
    TestFilter f;
    f.pairs = std::move(pairs);
    fx.AddFilter(f);
  }

  std::map<std::string, std::string> Entries(const std::string& epub) {
    std::map<std::string, std::string> m;
    for (auto& [name, bytes] : testing::ReadZip(epub)) m[name] = bytes;
    return m;
  }

  NewsFixture fx;
  std::string images;
};

TEST_F(EpubTest, ContainerStartsWithAStoredMimetypeAndNamesItsPackage) {
  int64_t p = fx.AddPair("S", "World");
  Filter({p});
  fx.AddNews(TestNews{p, "Only", "Text"});
  std::vector<std::string> volumes = Run(BookFormat::kEpub, fx.home() + "/no-writer.so");
  ASSERT_EQ(volumes.size(), 1u);  // no .lit, and no writer library needed
  EXPECT_NE(volumes[0].find("_0.epub"), std::string::npos);
  const std::string epub = ReadFile(fx.home() + "/lit/" + volumes[0]);
  // The local header of the first entry: stored (method 0), no extra field,
  // named mimetype, its bytes right after.
  ASSERT_GT(epub.size(), 58u);
  EXPECT_EQ(epub.substr(0, 4), std::string("PK\x03\x04", 4));
  EXPECT_EQ(epub[8] | epub[9] << 8, 0);
  EXPECT_EQ(epub[28] | epub[29] << 8, 0);
  EXPECT_EQ(epub.substr(30, 8), "mimetype");
  EXPECT_EQ(epub.substr(38, 20), "application/epub+zip");

  auto entries = Entries(fx.home() + "/lit/" + volumes[0]);
  pugi::xml_document container;
  ASSERT_TRUE(container.load_string(entries["META-INF/container.xml"].c_str()));
  std::string opfPath = container.select_node("//*[local-name()='rootfile']").node().attribute("full-path").value();
  EXPECT_TRUE(entries.count(opfPath)) << opfPath;
}

TEST_F(EpubTest, PackageDocumentsAndPicturesHangTogether) {
  int64_t city = fx.AddPair("S", "Город"), odd = fx.AddPair("S", "A \"quoted\" & spaced name");
  Filter({city, odd});
  const std::string jpeg = testing::MakePicture(images + "1_0", 800);
  testing::WriteFile(images + "1_1", "BM bitmap bytes");  // a type not every reader shows
  const std::string png = "\x89PNG\r\n\x1a\n" + std::string(300, 'p');
  testing::WriteFile(images + "2_0", png);
  TestNews a{city, "Первая", "before[[{1}]]middle[[{2}]]after<br />line"};
  a.srcUrl = "http://example.org/новости?a=1&b=2";
  int64_t first = fx.AddNews(a);
  int64_t pj = fx.AddPicture(first, 1, images + "1_0", "Площадь");
  fx.AddPicture(first, 2, images + "1_1", "bitmap caption");
  TestNews b{odd, "Second", "one[[{1}]]two"};
  b.srcUrl = "javascript:alert(1)";
  int64_t second = fx.AddNews(b);
  fx.AddPicture(second, 1, images + "2_0");
  testing::MakePicture(images + "2_1", 100);
  fx.AddPicture(second, 5, images + "2_1");  // no placeholder: shown nowhere

  std::vector<std::string> volumes = Run(BookFormat::kEpub);
  ASSERT_EQ(volumes.size(), 1u);
  auto entries = Entries(fx.home() + "/lit/" + volumes[0]);
  pugi::xml_document opf;
  ASSERT_TRUE(opf.load_string(entries["OEBPS/content.opf"].c_str())) << entries["OEBPS/content.opf"];
  std::string title = opf.select_node("//*[local-name()='title']").node().text().get();
  EXPECT_EQ(title.rfind("News ", 0), 0u);
  EXPECT_NE(title.find(" Vol.1"), std::string::npos);
  EXPECT_FALSE(std::string(opf.select_node("//*[local-name()='language']").node().text().get()).empty());
  EXPECT_TRUE(opf.select_node("//*[local-name()='meta'][@property='dcterms:modified']"));

  // Every manifest item is in the container; pictures byte for byte.
  std::map<std::string, std::string> hrefById;
  for (const pugi::xpath_node& n : opf.select_nodes("//*[local-name()='item']")) {
    std::string href = n.node().attribute("href").value();
    ASSERT_TRUE(entries.count("OEBPS/" + href)) << href;
    hrefById[n.node().attribute("id").value()] = href;
  }
  const std::string pjHref = hrefById["Pic_" + std::to_string(pj)];
  ASSERT_FALSE(pjHref.empty());
  EXPECT_EQ(entries["OEBPS/" + pjHref], jpeg);
  // Only pictures a page shows, and only in the types every reader knows.
  size_t pictures = 0;
  for (auto& [id, href] : hrefById) pictures += id.rfind("Pic_", 0) == 0;
  EXPECT_EQ(pictures, 2u);

  // The nav and the NCX lead to each category's anchor, under its name.
  pugi::xml_document nav, ncx;
  ASSERT_TRUE(nav.load_string(entries["OEBPS/nav.xhtml"].c_str()));
  ASSERT_TRUE(ncx.load_string(entries["OEBPS/toc.ncx"].c_str()));
  std::vector<std::string> navTexts, navLinks, ncxLinks;
  for (auto& n : nav.select_nodes("//*[local-name()='nav']//*[local-name()='a']")) {
    navTexts.push_back(n.node().text().get());
    navLinks.push_back(n.node().attribute("href").value());
  }
  for (auto& n : ncx.select_nodes("//*[local-name()='content']")) ncxLinks.push_back(n.node().attribute("src").value());
  EXPECT_EQ(navTexts, (std::vector<std::string>{"Город", "A \"quoted\" & spaced name"}));
  EXPECT_EQ(navLinks, ncxLinks);
  for (const std::string& link : navLinks) {
    std::string file = link.substr(0, link.find('#')), anchor = link.substr(link.find('#') + 1);
    EXPECT_EQ(anchor.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_"), std::string::npos) << anchor;
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(entries["OEBPS/" + file].c_str())) << file;
    EXPECT_TRUE(doc.select_node(("//*[@id='" + anchor + "']").c_str())) << link;
  }

  // The first category's page: text, picture with its caption under it, text.
  std::string page = entries["OEBPS/" + navLinks[0].substr(0, navLinks[0].find('#'))];
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(page.c_str())) << page;
  std::vector<std::string> flow;
  for (auto& n : doc.select_nodes("//*[local-name()='div'][@class='news_text' or @class='picture']")) {
    pugi::xml_node img = n.node().select_node("*[local-name()='img']").node();
    flow.push_back(img ? "img:" + std::string(img.attribute("src").value()) + "|" +
                             n.node().select_node("*[@class='caption']").node().text().get()
                       : "text:" + std::string(n.node().child_value()));
  }
  EXPECT_EQ(flow, (std::vector<std::string>{"text:before", "img:" + pjHref + "|Площадь", "text:middle", "text:after"}));
  EXPECT_NE(page.find("after<br />line"), std::string::npos);
  EXPECT_EQ(page.find("bitmap caption"), std::string::npos);
  // A web source is a link that readers can follow; anything else is text.
  EXPECT_NE(page.find("href=\"http://example.org/%D0%BD%D0%BE%D0%B2%D0%BE%D1%81%D1%82%D0%B8?a=1&amp;b=2\""),
            std::string::npos)
      << page;
  EXPECT_EQ(entries["OEBPS/" + navLinks[1].substr(0, navLinks[1].find('#'))].find("href=\"javascript"),
            std::string::npos);
}

TEST_F(EpubTest, BothFormatsShareTheVolumeSplitAndOldEpubsAreCleanedUp) {
  int64_t p = fx.AddPair("S", "World");
  Filter({p});
  for (int i = 0; i < 7; ++i) fx.AddNews(TestNews{p, "Title " + std::to_string(i), "Body"});
  fx.WriteSetting("MaxNewsPerLit", "3");
  fx.WriteSetting("BookFormat", "both");
  fx.WriteCleanup(1);
  fs::create_directories(fx.home() + "/lit");
  testing::WriteFile(fx.home() + "/lit/news.200311301530.12_0.epub", "old");
  testing::WriteFile(fx.home() + "/lit/notes.txt", "kept");
  std::vector<std::string> volumes = Run(std::nullopt);
  ASSERT_EQ(volumes.size(), 7u) << ::testing::PrintToString(volumes);  // 3 .lit, 3 .epub, notes.txt
  EXPECT_EQ(volumes.back(), "notes.txt");
  const size_t expected[] = {3, 3, 1};
  for (int v = 0; v < 3; ++v) {
    const std::string lit = volumes[2 * v + 1], epub = volumes[2 * v];
    EXPECT_EQ(fs::path(lit).stem(), fs::path(epub).stem());
    ASSERT_EQ(fs::path(epub).extension(), ".epub");
    size_t titles = 0;
    for (auto& [name, bytes] : testing::ReadZip(fx.home() + "/lit/" + epub))
      for (size_t at = bytes.find("class=\"title\""); at != std::string::npos; at = bytes.find("class=\"title\"", at + 1))
        ++titles;
    EXPECT_EQ(titles, expected[v]) << epub;
  }
}

TEST(BookFormat, SettingAndCodes) {
  NewsFixture fx;
  EXPECT_EQ(RunSettings::Read().format, BookFormat::kLit);  // stored settings keep their meaning
  fx.WriteSetting("BookFormat", "EPUB");
  EXPECT_EQ(RunSettings::Read().format, BookFormat::kEpub);
  fx.WriteSetting("BookFormat", "pdf");
  EXPECT_EQ(RunSettings::Read().format, BookFormat::kLit);
  EXPECT_NE(ReadFile(EventLogPath()).find("Unknown BookFormat \"pdf\""), std::string::npos);
  for (BookFormat f : {BookFormat::kLit, BookFormat::kEpub, BookFormat::kBoth})
    EXPECT_EQ(BookFormatFromCode(BookFormatCode(f)), f);
  EXPECT_EQ(BookFormatFromCode(0), std::nullopt);  // what callers that know no format send
}

}  // namespace
}  // namespace orvo

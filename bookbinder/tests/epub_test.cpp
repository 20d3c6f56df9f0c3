// EPUB volumes: the container, the package, the documents and the
// pictures, read back with libzip and pugixml.
#include "epub_volume.h"

#include <QImage>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <filesystem>
#include <map>
#include <set>

#include "eventlog.h"
#include "generation_run.h"
#include "news_fixture.h"
#include "package.h"
#include "pg_server.h"
#include "store/images.h"

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
  // The bitmap that is no picture goes with its placeholder.
  EXPECT_EQ(flow, (std::vector<std::string>{"text:before", "img:" + pjHref + "|Площадь", "text:middleafter"}));
  EXPECT_NE(page.find("after<br />line"), std::string::npos);
  EXPECT_EQ(page.find("bitmap caption"), std::string::npos);
  // A web source is a link that readers can follow; anything else is text.
  EXPECT_NE(page.find("href=\"http://example.org/%D0%BD%D0%BE%D0%B2%D0%BE%D1%81%D1%82%D0%B8?a=1&amp;b=2\""),
            std::string::npos)
      << page;
  EXPECT_EQ(entries["OEBPS/" + navLinks[1].substr(0, navLinks[1].find('#'))].find("href=\"javascript"),
            std::string::npos);
}

// Another machine gathered the item: its picture's row names a file of that
// machine, and the bytes are only in the shared database.
TEST_F(EpubTest, OnPostgresAPictureKeptAsBytesInTheDatabaseGoesIntoTheBook) {
  ORVO_NEED_POSTGRES(server);
  const std::string url = server->NewDatabase();
  ASSERT_TRUE(fx.UsePostgres(url));
  CloseDatabase();
  SetProcessDatabasePath(url);
  int64_t p = fx.AddPair("S", "World");
  Filter({p});
  int64_t item = fx.AddNews(TestNews{p, "Shared", "before[[{1}]]after"});
  const std::string jpeg = testing::MakePicture(fx.home() + "/elsewhere.jpg", 700);
  fs::remove(fx.home() + "/elsewhere.jpg");
  int64_t pic = fx.AddPicture(item, 1, "/home/gatherer/.orvo/Images/7_0", "Caption");
  ASSERT_EQ(StorePictureBytes(fx.db(), pic, jpeg), 0) << fx.db().ErrorMessage();

  std::vector<std::string> volumes = Run(BookFormat::kEpub);
  ASSERT_EQ(volumes.size(), 1u);
  auto entries = Entries(fx.home() + "/lit/" + volumes[0]);
  const std::string href = "Images/pic" + std::to_string(pic) + ".jpg";
  EXPECT_EQ(entries["OEBPS/" + href], jpeg);
  bool shown = false;
  for (auto& [name, text] : entries) shown |= name.find(".xhtml") != std::string::npos &&
                                             text.find("src=\"" + href + "\"") != std::string::npos;
  EXPECT_TRUE(shown);
  // Nothing of the picture is left beside the book.
  for (auto& [name, text] : entries) EXPECT_EQ(name.find(".stored"), std::string::npos) << name;
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

// The demo's "Record field for the harbour swim" as the gatherer stores it
// (body and caption are HTML text), and a body with an escaped "&": every
// place a volume shows them reads as written.
TEST_F(EpubTest, StoredTextReadsAsWrittenInBothFormats) {
  int64_t p = fx.AddPair("The Harbour Daily", "Sport");
  Filter({p});
  const std::string png = "\x89PNG\r\n\x1a\n" + std::string(200, 'p');
  testing::WriteFile(images + "swim.png", png);
  TestNews swim{p, "Record field for the harbour swim",
                "[[{0}]]<br />&#160;&#160;&#160;&#160;More than 400 swimmers have signed up for the New Year harbour "
                "swim, a record."};
  fx.AddPicture(fx.AddNews(swim), 0, images + "swim.png", "Last year&#39;s swimmers at the start.");
  fx.AddNews(TestNews{p, "R&D at the yard", "The yard&#39;s R&amp;D team &lt;grows&gt;."});
  fx.WriteSetting("BookFormat", "both");
  std::vector<std::string> volumes = Run(std::nullopt);
  ASSERT_EQ(volumes.size(), 2u);

  auto entries = Entries(fx.home() + "/lit/" + volumes[0]);
  pugi::xml_document chapter;
  ASSERT_TRUE(chapter.load_string(entries["OEBPS/c1.xhtml"].c_str())) << entries["OEBPS/c1.xhtml"];
  const std::string caption = "Last year's swimmers at the start.";
  EXPECT_EQ(std::string(chapter.select_node("//*[@class='caption']").node().text().get()), caption);
  EXPECT_EQ(std::string(chapter.select_node("//*[local-name()='img']").node().attribute("alt").value()), caption);
  std::vector<std::string> texts;
  for (auto& n : chapter.select_nodes("//*[@class='news_text']")) texts.push_back(n.node().text().get());
  EXPECT_EQ(texts.back(), "The yard's R&D team <grows>.");
  EXPECT_EQ(entries["OEBPS/c1.xhtml"].find("&amp;#"), std::string::npos);
  EXPECT_EQ(entries["OEBPS/c1.xhtml"].find("&amp;amp;"), std::string::npos);
  pugi::xml_document nav;
  ASSERT_TRUE(nav.load_string(entries["OEBPS/nav.xhtml"].c_str()));
  EXPECT_EQ(std::string(nav.select_node("//*[local-name()='nav']//*[local-name()='a']").node().text().get()), "Sport");

  // The .lit volume's content document, still in temp/.
  pugi::xml_document content;
  ASSERT_TRUE(content.load_file((fx.home() + "/temp/Content.html").c_str()));
  EXPECT_EQ(std::string(content.select_node("//*[@class='caption']").node().text().get()), caption);
  texts.clear();
  for (auto& n : content.select_nodes("//*[@class='news_text']")) texts.push_back(n.node().text().get());
  EXPECT_EQ(texts.back(), "The yard's R&D team <grows>.");
}

// One picture of each kind a site may serve, and files that are not
// pictures or not in the Images folder: each goes in with its own type, is
// converted, or is left out with a line in the log that says why; the
// volume passes epubcheck.
TEST_F(EpubTest, PicturesOfEveryKindGoInWithTheirOwnTypesOrALogLine) {
  int64_t p = fx.AddPair("S", "Pictures");
  Filter({p});
  QImage opaque(40, 30, QImage::Format_RGB32);
  opaque.fill(Qt::darkCyan);
  QImage clear(20, 10, QImage::Format_ARGB32);
  clear.fill(Qt::transparent);
  ASSERT_TRUE(opaque.save(QString::fromStdString(images + "a.jpg"), "JPG"));
  ASSERT_TRUE(opaque.save(QString::fromStdString(images + "b"), "PNG"));
  ASSERT_TRUE(opaque.save(QString::fromStdString(images + "c.jpg"), "WEBP"));
  ASSERT_TRUE(clear.save(QString::fromStdString(images + "d.webp"), "WEBP"));
  ASSERT_TRUE(opaque.save(QString::fromStdString(images + "e.jpg"), "BMP"));
  // A 1x1 GIF.
  testing::WriteFile(images + "f.jpg", std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00!"
                                                   "\xf9\x04\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00"
                                                   "\x00\x02\x02D\x01\x00;",
                                                   43));
  testing::WriteFile(images + "g.jpg",
                     "<?xml version=\"1.0\"?>\n<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\" "
                     "\"http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd\">\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
                     "width=\"40\" height=\"30\"><rect width=\"40\" height=\"30\" fill=\"teal\"/></svg>\n");
  testing::WriteFile(images + "h.jpg", "<html><body>Not found</body></html>\n");
  testing::WriteFile(images + "i.jpg", "");
  testing::WriteFile(images + "j.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"><script>alert(1)</script></svg>");
  testing::WriteFile(images + "k.jpg", std::string("BM") + std::string(60, '\0'));
  fs::create_symlink(fx.home() + "/ORVO.ini", images + "l.jpg");
  const std::vector<std::string> paths = {
      images + "a.jpg", images + "b", images + "c.jpg", images + "d.webp", images + "e.jpg", images + "f.jpg",
      images + "g.jpg", images + "h.jpg", images + "i.jpg", images + "j.svg", images + "k.jpg", images + "l.jpg",
      "/etc/passwd", "../ORVO.ini", "Images/../ORVO.ini"};
  std::string body;
  for (size_t i = 0; i < paths.size(); ++i) body += "t" + std::to_string(i) + "[[{" + std::to_string(i) + "}]]";
  int64_t news = fx.AddNews(TestNews{p, "Pictures", body + "end"});
  std::vector<int64_t> ids;
  for (size_t i = 0; i < paths.size(); ++i) ids.push_back(fx.AddPicture(news, static_cast<int>(i), paths[i]));

  std::vector<std::string> volumes = Run(BookFormat::kEpub);
  ASSERT_EQ(volumes.size(), 1u);
  const std::string epub = fx.home() + "/lit/" + volumes[0];
  auto entries = Entries(epub);
  pugi::xml_document opf;
  ASSERT_TRUE(opf.load_string(entries["OEBPS/content.opf"].c_str()));
  std::map<std::string, std::string> typeById, hrefById;
  for (auto& n : opf.select_nodes("//*[local-name()='item']")) {
    typeById[n.node().attribute("id").value()] = n.node().attribute("media-type").value();
    hrefById[n.node().attribute("id").value()] = n.node().attribute("href").value();
  }
  const char* expected[] = {"image/jpeg", "image/png", "image/jpeg", "image/png", "image/jpeg", "image/gif",
                            "image/svg+xml"};
  const char* extension[] = {".jpg", ".png", ".jpg", ".png", ".jpg", ".gif", ".svg"};
  for (size_t i = 0; i < paths.size(); ++i) {
    const std::string id = "Pic_" + std::to_string(ids[i]);
    if (i < std::size(expected)) {
      EXPECT_EQ(typeById[id], expected[i]) << paths[i];
      EXPECT_EQ(fs::path(hrefById[id]).extension(), extension[i]) << paths[i];
      QImage back = QImage::fromData(QByteArray::fromStdString(entries["OEBPS/" + hrefById[id]]));
      if (i != 6) {
        EXPECT_FALSE(back.isNull()) << paths[i];
      }
    } else {
      EXPECT_EQ(typeById.count(id), 0u) << paths[i];
    }
  }
  EXPECT_EQ(entries["OEBPS/" + hrefById["Pic_" + std::to_string(ids[0])]], testing::ReadFile(images + "a.jpg"));
  EXPECT_EQ(entries["OEBPS/" + hrefById["Pic_" + std::to_string(ids[6])]].find("DOCTYPE"), std::string::npos);
  const std::string passwd = testing::ReadFile("/etc/passwd"), ini = testing::ReadFile(fx.home() + "/ORVO.ini");
  for (auto& [name, bytes] : entries) {
    EXPECT_TRUE(passwd.empty() || bytes != passwd) << name;
    EXPECT_NE(bytes, ini) << name;
  }

  const std::string log = ReadFile(EventLogPath());
  const std::vector<std::pair<std::string, std::string>> reasons = {
      {images + "h.jpg", "is text, not a picture"},
      {images + "i.jpg", "is empty"},
      {images + "j.svg", "is an SVG that holds a <script>"},
      {images + "k.jpg", "is a bmp picture that can not be read"},
      {images + "l.jpg", "is not in the Images folder"},
      {"/etc/passwd", "is missing"},
      {"../ORVO.ini", "is not in the Images folder"},
      {"Images/../ORVO.ini", "is missing"}};
  for (auto& [path, why] : reasons)
    EXPECT_NE(log.find("The picture " + path + " of news " + std::to_string(news) + " " + why), std::string::npos)
        << path << "\n" << log;

  std::optional<testing::EpubcheckReport> check = testing::RunEpubcheck(epub);
  if (!check) GTEST_SKIP() << "epubcheck is not installed (scripts/install-deps.sh installs it): not checked";
  EXPECT_TRUE(check->clean) << check->text;
}

// E-readers show a volume by its cover in their library views: a drawn
// picture that EPUB 3 readers find by its property and older ones by the
// meta, shown on the first page too; its text is the volume's, so two
// volumes' covers differ. (epubcheck reads covers in the picture-kinds
// test and calibre's.)
TEST_F(EpubTest, EveryVolumeHasADrawnCoverPicture) {
  std::vector<int64_t> pairs;
  for (const char* name : {"World", "Город", "Sport & \"Fun\"", "Arts", "Science", "Weather", "Travel", "Food"})
    pairs.push_back(fx.AddPair("S", name));
  Filter(pairs);
  for (int64_t p : pairs) fx.AddNews(TestNews{p, "News", "Text"});
  fx.AddNews(TestNews{pairs[0], "Again", "Text"});
  fx.WriteSetting("MaxNewsPerLit", "8");
  std::vector<std::string> volumes = Run(BookFormat::kEpub);
  ASSERT_EQ(volumes.size(), 2u);

  std::vector<QImage> covers;
  for (const std::string& volume : volumes) {
    auto entries = Entries(fx.home() + "/lit/" + volume);
    pugi::xml_document opf;
    ASSERT_TRUE(opf.load_string(entries["OEBPS/content.opf"].c_str()));
    pugi::xml_node item = opf.select_node("//*[local-name()='item'][@properties='cover-image']").node();
    ASSERT_TRUE(item) << entries["OEBPS/content.opf"];
    EXPECT_EQ(std::string(item.attribute("media-type").value()), "image/png");
    EXPECT_EQ(std::string(opf.select_node("//*[local-name()='meta'][@name='cover']").node().attribute("content").value()),
              item.attribute("id").value());
    const std::string href = item.attribute("href").value();
    EXPECT_NE(entries["OEBPS/cover.xhtml"].find("src=\"" + href + "\""), std::string::npos);
    QImage cover = QImage::fromData(QByteArray::fromStdString(entries["OEBPS/" + href]), "PNG");
    ASSERT_EQ(cover.size(), QSize(1200, 1600)) << volume;
    covers.push_back(cover);

  }
  // Text was drawn in the band and under it: not one flat colour.
  auto colours = [](const QImage& image, QRect area) {
    std::set<QRgb> seen;
    for (int y = area.top(); y <= area.bottom(); y += 2)
      for (int x = area.left(); x <= area.right(); x += 2) seen.insert(image.pixel(x, y));
    return seen.size();
  };
  EXPECT_GT(colours(covers[0], QRect(0, 150, 1200, 480)), 10u);   // the title
  EXPECT_GT(colours(covers[0], QRect(0, 900, 1200, 500)), 10u);   // the categories
  EXPECT_GT(colours(covers[1], QRect(0, 900, 1200, 500)), 10u);
  EXPECT_NE(covers[0], covers[1]);  // "Vol.1" and "Vol.2", other categories
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

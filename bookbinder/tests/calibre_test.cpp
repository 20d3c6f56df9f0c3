// Whole runs through the real writer library, judged by calibre's LIT reader,
// which nobody on this team wrote. Skipped, saying why, where calibre or the
// library is absent.
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <pugixml.hpp>

#include "database.h"
#include "generation_run.h"
#include "news_fixture.h"
#include "writer_driver.h"

namespace orvo {
namespace {

namespace fs = std::filesystem;
using testing::TestFilter;
using testing::NewsFixture;
using testing::TestNews;
using testing::ReadFile;

// calibre's LIT checker, kept beside the writer's tests.
std::string OracleScript() { return LITGEN_ORACLE; }

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs a shell command; its exit code, and its standard output in *out.
int Shell(const std::string& command, std::string* out = nullptr) {
  std::string full = "QT_QPA_PLATFORM=offscreen timeout 300 " + command + " 2>/dev/null";
  FILE* p = ::popen(full.c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  std::string text;
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
  int status = ::pclose(p);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class CalibreRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(DefaultWriterLibraryPath()))
      GTEST_SKIP() << "no " << DefaultWriterLibraryPath() << ": build the litgen target first";
    if (Shell("sh -c 'command -v calibre-debug && command -v ebook-convert'") != 0)
      GTEST_SKIP() << "calibre is not installed (scripts/install-deps.sh installs it): the calibre checks are skipped";
    ASSERT_TRUE(fs::exists(OracleScript())) << OracleScript() << " belongs to the repository";
    SetProcessDatabasePath(fx.dbPath());
    pair = fx.AddPair("Site", "World");
    TestFilter f;
    f.pairs = {pair};
    fx.AddFilter(f);
  }
  void TearDown() override { CloseDatabase(); }

  int Run() {
    GenerationRun run;
    QSignalSpy complete(&run, &GenerationRun::complete);
    EXPECT_TRUE(run.start());
    EXPECT_TRUE(complete.wait(300000));
    EXPECT_EQ(run.status().toStdString(), kRunSucceeded) << ReadFile(fx.home() + "/orvo_log.txt");
    return run.volumesWritten();
  }

  std::vector<std::string> Volumes() {
    std::vector<std::string> v;
    for (auto& e : fs::directory_iterator(fx.home() + "/lit")) v.push_back(e.path().string());
    std::sort(v.begin(), v.end());
    return v;
  }

  // calibre's text of a volume.
  std::string Text(const std::string& lit) {
    std::string txt = lit + ".txt";
    EXPECT_EQ(Shell("ebook-convert " + Quote(lit) + " " + Quote(txt)), 0);
    return ReadFile(txt);
  }

  // The oracle's JSON report, with the decoded HTML; exit 0 means calibre
  // read the file and every check passed.
  std::string Oracle(const std::string& lit) {
    std::string json = lit + ".json";
    int rc = Shell("calibre-debug -e " + Quote(OracleScript()) + " -- " + Quote(lit) +
                   " --html --out " + Quote(json));
    std::string report = ReadFile(json);
    EXPECT_EQ(rc, 0) << report.substr(0, 4000);
    return report;
  }

  NewsFixture fx;
  int64_t pair = 0;
};

std::string Headline(int i) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "Headline-%03d-end", i);
  return buf;
}

TEST_F(CalibreRunTest, VolumesHoldTheirItemsAndTitles) {
  for (int i = 0; i < 120; ++i) {
    TestNews s;
    s.pair = pair;
    s.title = Headline(i);
    s.body = "Body text of item " + std::to_string(i) + ", with Ünïcödé and 中文 in it.";
    fx.AddNews(s);
  }
  fx.WriteSetting("MaxNewsPerLit", "50");
  ASSERT_EQ(Run(), 3);
  std::vector<std::string> volumes = Volumes();
  ASSERT_EQ(volumes.size(), 3u);
  const int first[] = {0, 50, 100, 120};
  for (int v = 0; v < 3; ++v) {
    SCOPED_TRACE(volumes[v]);
    EXPECT_NE(volumes[v].find("_" + std::to_string(v) + ".lit"), std::string::npos);
    std::string text = Text(volumes[v]);
    for (int i = 0; i < 120; ++i) {
      bool inside = i >= first[v] && i < first[v + 1];
      EXPECT_EQ(text.find(Headline(i)) != std::string::npos, inside) << Headline(i);
    }
    EXPECT_NE(text.find("中文"), std::string::npos);
    std::string report = Oracle(volumes[v]);
    EXPECT_NE(report.find("Vol." + std::to_string(v + 1) + "<"), std::string::npos) << report.substr(0, 3000);
  }
}

TEST_F(CalibreRunTest, PicturesSitBetweenTheTextDivisionsAndTravelInTheBook) {
  TestNews s;
  s.pair = pair;
  s.title = "Pictures";
  s.body = "one[[{1}]]two[[{2}]]three";
  int64_t id = fx.AddNews(s);
  fs::create_directories(fx.home() + "/Images");
  std::string bytes1 = testing::MakePicture(fx.home() + "/Images/a.jpg", 3000);
  std::string bytes2 = testing::MakePicture(fx.home() + "/Images/b.jpg", 700);
  fx.AddPicture(id, 1, fx.home() + "/Images/a.jpg", "caption one");
  fx.AddPicture(id, 2, fx.home() + "/Images/b.jpg");
  ASSERT_EQ(Run(), 1);
  std::string report = Oracle(Volumes()[0]);

  // The content document: one, picture, two, picture, three.
  size_t one = report.find(">one<"), two = report.find(">two<"), three = report.find(">three<");
  ASSERT_NE(one, std::string::npos) << report.substr(0, 4000);
  ASSERT_NE(two, std::string::npos);
  ASSERT_NE(three, std::string::npos);
  size_t img1 = report.find("<img", one), img2 = report.find("<img", two);
  EXPECT_LT(one, img1);
  EXPECT_LT(img1, two);
  EXPECT_LT(two, img2);
  EXPECT_LT(img2, three);

  // Both pictures are inside, byte for byte.
  for (const std::string& file : {fx.home() + "/Images/a.jpg", fx.home() + "/Images/b.jpg"}) {
    std::string sum;
    ASSERT_EQ(Shell("sha1sum " + Quote(file), &sum), 0);
    EXPECT_NE(report.find(sum.substr(0, 40)), std::string::npos) << file;
  }
}

// What calibre made of a volume it converted to EPUB: the bytes each img
// leads to, the captions' page text, and its table of contents.
struct Converted {
  std::vector<std::string> pictures;  // sorted
  int covers = 0;                     // imgs of the cover page
  std::string text;
  std::vector<std::string> labels, targets;
};

Converted ConvertWithCalibre(const std::string& input, const std::string& work) {
  Converted c;
  const std::string epub = work + ".calibre.epub", out = work + ".unpacked";
  std::string log;
  EXPECT_EQ(Shell("sh -c " + Quote("ebook-convert " + Quote(input) + " " + Quote(epub) + " 2>&1"), &log), 0) << log;
  EXPECT_EQ(log.find("not found"), std::string::npos) << log;
  EXPECT_TRUE(testing::UnpackZip(epub, out)) << epub;
  std::error_code ec;
  for (auto& e : fs::recursive_directory_iterator(out, ec)) {
    std::string ext = e.path().extension().string();
    if (ext == ".ncx") {
      pugi::xml_document toc;
      EXPECT_TRUE(toc.load_file(e.path().c_str())) << e.path();
      for (const pugi::xpath_node& n : toc.select_nodes("//*[local-name()='navPoint']")) {
        c.labels.push_back(n.node().select_node(".//*[local-name()='text']").node().text().get());
        c.targets.push_back(n.node().select_node("*[local-name()='content']").node().attribute("src").value());
      }
    }
    if (ext != ".html" && ext != ".xhtml" && ext != ".htm") continue;
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_file(e.path().c_str())) << e.path();
    for (const pugi::xpath_node& n : doc.select_nodes("//*[local-name()='img']")) {
      std::string src = n.node().attribute("src").value();
      fs::path target = (e.path().parent_path() / src).lexically_normal();
      EXPECT_TRUE(fs::exists(target)) << src << " in " << e.path();
      if (e.path().filename() == "cover.xhtml") ++c.covers;
      else c.pictures.push_back(ReadFile(target.string()));
    }
    c.text += ReadFile(e.path().string());
  }
  std::sort(c.pictures.begin(), c.pictures.end());
  return c;
}

// A volume with pictures in two categories whose names no anchor could
// carry, one picture whose file has gone. Returns the pictures' bytes.
std::vector<std::string> PictureNews(NewsFixture& fx) {
  const int64_t city = fx.AddPair("Site", "Город"), odd = fx.AddPair("Site", "Sport & \"Fun\" news");
  TestFilter f;
  f.pairs = {city, odd};
  fx.AddFilter(f);
  const std::string images = fx.home() + "/Images/";
  fs::create_directories(images);
  // Real pictures: calibre's conversion opens them.
  const std::string jpeg = ReadFile(LITGEN_TEST_PICTURE);
  EXPECT_FALSE(jpeg.empty()) << LITGEN_TEST_PICTURE;
  std::vector<std::string> originals;
  for (int n = 0; n < 3; ++n) {
    // A JPEG may carry anything after its end marker: three distinct files.
    std::string bytes = jpeg + std::string(static_cast<size_t>(n + 1), static_cast<char>('a' + n));
    testing::WriteFile(images + "1_" + std::to_string(n), bytes);
    originals.push_back(bytes);
  }
  TestNews s;
  s.pair = city;
  s.title = "City pictures";
  s.body = "before[[{1}]]middle[[{2}]]after";
  int64_t a = fx.AddNews(s);
  fx.AddPicture(a, 1, images + "1_0", "The square at noon");
  fx.AddPicture(a, 2, images + "1_1");
  s.pair = odd;
  s.title = "Odd pictures";
  s.body = "one[[{1}]]two[[{2}]]three";
  int64_t b = fx.AddNews(s);
  fx.AddPicture(b, 1, images + "1_2", "Finish line");
  fx.AddPicture(b, 2, images + "never_stored");  // its file is gone
  std::sort(originals.begin(), originals.end());
  return originals;
}

// Each img of a converted volume must lead to its own picture, byte for
// byte; the captions show; the table of contents finds both categories.
void ExpectPicturesAndContents(const Converted& c, const std::vector<std::string>& originals) {
  EXPECT_EQ(c.pictures, originals);  // each picture once, none dangling
  EXPECT_NE(c.text.find("The square at noon"), std::string::npos);
  EXPECT_NE(c.text.find("Finish line"), std::string::npos);
  std::vector<std::string> labels(c.labels.end() - std::min<size_t>(2, c.labels.size()), c.labels.end());
  EXPECT_EQ(labels, (std::vector<std::string>{"Город", "Sport & \"Fun\" news"}));
  ASSERT_GE(c.targets.size(), 2u);
  // Not the start of the book for both.
  EXPECT_NE(c.targets[c.targets.size() - 2], c.targets.back());
}

TEST_F(CalibreRunTest, EveryPictureResolvesAfterCalibreConvertsTheVolume) {
  std::vector<std::string> originals = PictureNews(fx);
  ASSERT_EQ(Run(), 1);
  const std::string lit = Volumes()[0];
  ExpectPicturesAndContents(ConvertWithCalibre(lit, lit), originals);
}

TEST_F(CalibreRunTest, EpubVolumesPassEpubcheckAndCalibreReadsThem) {
  if (!testing::RunEpubcheck("/nonexistent.epub"))
    GTEST_SKIP() << "epubcheck is not installed (scripts/install-deps.sh installs it): the EPUB checks are skipped";
  std::vector<std::string> originals = PictureNews(fx);
  for (int i = 0; i < 4; ++i) {
    TestNews s;
    s.pair = pair;
    s.title = Headline(i);
    s.body = "Text &amp; more<br />next line&#160;with <i>markup</i> \x01 kept as text, 中文.";
    s.srcUrl = "http://example.org/a b?x=\"1\"&y=<2>&n=" + std::to_string(i);
    fx.AddNews(s);
  }
  fx.WriteSetting("BookFormat", "both");
  fx.WriteSetting("MaxNewsPerLit", "4");
  ASSERT_EQ(Run(), 2);
  std::vector<std::string> epubs;
  for (const std::string& v : Volumes())
    if (fs::path(v).extension() == ".epub") epubs.push_back(v);
  ASSERT_EQ(epubs.size(), 2u);
  for (const std::string& epub : epubs) {
    std::optional<testing::EpubcheckReport> report = testing::RunEpubcheck(epub);
    ASSERT_TRUE(report);
    EXPECT_TRUE(report->clean) << report->text;
  }
  // calibre reads the text of every volume ...
  std::string all;
  for (const std::string& epub : epubs) all += Text(epub);
  for (int i = 0; i < 4; ++i) EXPECT_NE(all.find(Headline(i)), std::string::npos) << all;
  EXPECT_NE(all.find("中文"), std::string::npos);
  // ... and finds the pictures and the contents of the one that has them.
  std::vector<std::string> withPictures;
  for (const std::string& epub : epubs) {
    Converted c = ConvertWithCalibre(epub, epub);
    EXPECT_EQ(c.covers, 1) << epub;
    if (!c.pictures.empty()) ExpectPicturesAndContents(c, originals);
    withPictures.insert(withPictures.end(), c.pictures.begin(), c.pictures.end());
  }
  std::sort(withPictures.begin(), withPictures.end());
  EXPECT_EQ(withPictures, originals);
}

}  // namespace
}  // namespace orvo

#include "writer_driver.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <sstream>

#include "eventlog.h"
#include "news_fixture.h"

namespace orvo {
namespace {

using testing::ReadFile;
using testing::WriteFile;

// The recording writer's controls, reached through its own handle.
class RecordingWriter {
 public:
  RecordingWriter() {
    handle_ = ::dlopen(RECORDING_WRITER, RTLD_NOW);
    reset_ = reinterpret_cast<void (*)(const char*)>(::dlsym(handle_, "RecordingWriterReset"));
    events_ = reinterpret_cast<size_t (*)(char*, size_t)>(::dlsym(handle_, "RecordingWriterEvents"));
  }
  ~RecordingWriter() { ::dlclose(handle_); }
  void Reset(const char* failAt = "") { reset_(failAt); }
  std::vector<std::string> Events() {
    std::string buf(events_(nullptr, 0) + 1, '\0');
    events_(buf.data(), buf.size());
    std::vector<std::string> lines;
    std::istringstream in(buf.c_str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

 private:
  void* handle_;
  void (*reset_)(const char*);
  size_t (*events_)(char*, size_t);
};

bool Contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

class WriterDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    library = WriterLibrary::Load(RECORDING_WRITER, &error);
    ASSERT_TRUE(library) << error;
    recorder.Reset();
    WriteFile(fx.home() + "/pkg.opf",
              "<?xml version=\"1.0\"?><package unique-identifier=\"id\"><manifest>"
              "<item id=\"content\" href=\"c.html\" media-type=\"text/x-oeb1-document\"/>"
              "<item id=\"css\" href=\"s.css\" media-type=\"text/x-oeb1-css\"/>"
              "<item id=\"p1\" href=\"" + fx.home() + "/p1.jpg\" media-type=\"image/jpeg\"/>"
              "<item id=\"p2\" href=\"missing.jpg\" media-type=\"image/jpeg\"/>"
              "<item id=\"p3\" href=\"p3.jpg\" media-type=\"image/jpeg\"/>"
              "</manifest><spine><itemref idref=\"content\"/></spine></package>");
    WriteFile(fx.home() + "/c.html", "<html><body><br/><p>Hello <b>wörld</b></p><!-- note --></body></html>");
    WriteFile(fx.home() + "/s.css", std::string(1300, 'c'));
    testing::MakePicture(fx.home() + "/p1.jpg", 600);
    testing::MakePicture(fx.home() + "/p3.jpg", 10);
  }

  int Write() { return WriteLitFile(fx.home() + "/pkg.opf", fx.home() + "/out.lit", library->writer()); }

  testing::NewsFixture fx;
  std::unique_ptr<WriterLibrary> library;
  RecordingWriter recorder;
};

TEST_F(WriterDriverTest, FeedsEveryHostInOrderThenFinishes) {
  ASSERT_EQ(Write(), 0);
  std::vector<std::string> e = recorder.Events();
  ASSERT_GE(e.size(), 3u);
  EXPECT_EQ(e[0], "callback");
  EXPECT_EQ(e[1], "create " + fx.home() + "/out.lit " + fx.home() + "/pkg.opf DemoPublisher 0");
  EXPECT_EQ(e[2], "package 0");
  EXPECT_EQ(e.back(), "finish");

  // The order of the phases: package, stylesheets, contents, pictures.
  auto at = [&](const std::string& s) { return std::find(e.begin(), e.end(), s) - e.begin(); };
  EXPECT_LT(at("package 0"), at("css host css"));
  EXPECT_LT(at("css host css"), at("css end"));
  EXPECT_LT(at("css end"), at("document host content"));
  EXPECT_LT(at("document end"), at("image host p1"));
  EXPECT_LT(at("image end"), at("finish"));

  // The stylesheet in pieces of 512 bytes, then its finish.
  std::vector<std::string> css(e.begin() + at("css host css"), e.begin() + at("css end"));
  EXPECT_EQ(css, (std::vector<std::string>{"css host css", "filename", "css write 512", "css write 512",
                                           "css write 276", "css finish"}));

  // The missing picture is skipped; the others are copied whole.
  std::vector<std::string> pics(e.begin() + at("image host p1"), e.begin() + at("image end"));
  EXPECT_EQ(pics, (std::vector<std::string>{"image host p1", "filename", "image write 512", "image write 88",
                                            "image host p2", "filename", "image host p3", "filename",
                                            "image write 10"}));
  EXPECT_FALSE(Contains(e, "abandon"));
}

TEST_F(WriterDriverTest, DocumentsArriveAsTagAndTextEvents) {
  ASSERT_EQ(Write(), 0);
  std::vector<std::string> e = recorder.Events();
  auto from = std::find(e.begin(), e.end(), "document host content");
  auto to = std::find(e.begin(), e.end(), "document end");
  std::vector<std::string> doc;
  for (auto it = from + 2; it != to; ++it)
    if (*it != "newtag") doc.push_back(*it);
  EXPECT_EQ(doc, (std::vector<std::string>{
                     "name html", "begin html +", "name body", "begin body +",
                     "name br", "begin br -",  // no children: never ended
                     "name p", "begin p +", "text Hello ", "name b", "begin b +", "text wörld", "end", "end",
                     "end", "end", "finishdoc"}));

  // The package's attributes go in document order.
  EXPECT_TRUE(Contains(e, "attr id=content"));
  auto id = std::find(e.begin(), e.end(), "attr id=content");
  EXPECT_EQ(*(id + 1), "attr href=c.html");
}

TEST_F(WriterDriverTest, AFailureAbandonsTheOutputAndIsLogged) {
  recorder.Reset("NextContentHost");
  EXPECT_EQ(Write(), 1);
  std::vector<std::string> e = recorder.Events();
  EXPECT_EQ(e.back(), "abandon");
  EXPECT_FALSE(Contains(e, "finish"));
  std::string log = ReadFile(EventLogPath());
  EXPECT_NE(log.find("Error 0x80004005 getting content host."), std::string::npos);
  EXPECT_NE(log.find("Terminating for error 0x80004005."), std::string::npos);

  recorder.Reset("cssWrite");
  EXPECT_EQ(Write(), 1);
  EXPECT_NE(ReadFile(EventLogPath()).find("Error 0x80004005 copying CSS from " + fx.home() + "/s.css."),
            std::string::npos);
}

TEST_F(WriterDriverTest, AContentDocumentThatDoesNotParseFailsTheFile) {
  WriteFile(fx.home() + "/c.html", "<html><body><p>unclosed</body></html>");
  EXPECT_EQ(Write(), 1);
  EXPECT_EQ(recorder.Events().back(), "abandon");
  EXPECT_NE(ReadFile(EventLogPath()).find("Parse error "), std::string::npos);
  EXPECT_NE(ReadFile(EventLogPath()).find(fx.home() + "/c.html:1: "), std::string::npos);
}

TEST(WriterLibraryLoad, SaysWhatIsMissing) {
  std::string error;
  EXPECT_FALSE(WriterLibrary::Load("/nonexistent/liblitgen.so", &error));
  EXPECT_NE(error.find("/nonexistent/liblitgen.so"), std::string::npos);
  EXPECT_FALSE(WriterLibrary::Load("libm.so.6", &error));
  EXPECT_NE(error.find("no CreateWriter"), std::string::npos);
}

}  // namespace
}  // namespace orvo

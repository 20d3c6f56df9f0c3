// Runs the orvo-try-mask program on files in a temporary folder.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "gatherer/masks/mask.h"

namespace orvo {
namespace {

namespace fs = std::filesystem;

class TryMaskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("orvo-try-mask-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& content) {
    fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary) << content;
    return p.string();
  }

  // Runs the tool; returns its exit code, output in out (stdout and stderr).
  int Run(const std::string& args, std::string& out) {
    std::string cmd = std::string(TRY_MASK_BIN) + " " + args + " 2>&1";
    FILE* f = popen(cmd.c_str(), "r");
    out.clear();
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    int status = pclose(f);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  fs::path dir_;
};

const char kPage[] =
    "<html><head><meta charset=iso-8859-1></head><body>"
    "<div class=story><h1>Gr\xFC\xDF" "e</h1><p class=by>Ann Author</p>"
    "<p>First paragraph.</p><p>Second\nline.</p><img src=pic.jpg><i>Caption</i>"
    "<ul><li><a href='/n/1.html'>one</a> <span>07.12.2003</span></li>"
    "<li><a href='/n/2.html'>two</a> <span>08.12.2003</span></li></ul></div></body></html>";

const char kNewsMask[] =
    "<div class=story><h1 role=header></h1><p class=by role=author></p>"
    "<p ord=1 role=text paragraph=1></p><p ord=2 role=text paragraph=1></p>"
    "<img role=img><i role=imgtext></i></div>";

const char kListMask[] =
    "<div class=story url='http://site.example/list.html'>"
    "<ul><li ord=-1><a role=link></a><span role=date dateFrmt='D1*M1*Y1'></span></li></ul></div>";

TEST_F(TryMaskTest, NewsPage) {
  std::string page = Write("page.html", kPage);
  std::string mask = Write("mask.html", kNewsMask);
  std::string out;
  ASSERT_EQ(Run(mask + " " + page + " --url http://site.example/news/7.html", out), 0) << out;
  EXPECT_NE(out.find("Page charset: iso-8859-1"), std::string::npos) << out;
  EXPECT_NE(out.find("Title: Gr\xC3\xBC\xC3\x9F" "e\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Author: Ann Author\n"), std::string::npos) << out;
  EXPECT_NE(out.find("First paragraph."), std::string::npos) << out;
  EXPECT_NE(out.find("Second line."), std::string::npos) << out;
  EXPECT_NE(out.find("[[{0}]]"), std::string::npos) << out;
  EXPECT_NE(out.find("[0] http://site.example/news/pic.jpg\n    caption: Caption"),
            std::string::npos)
      << out;
}

TEST_F(TryMaskTest, ListPageAsTheGathererDispatchesIt) {
  std::string page = Write("page.html", kPage);
  std::string mask = Write("mask.html", kListMask);
  std::string out;
  ASSERT_EQ(Run("--try-mask " + mask + " " + page + " --list --url http://site.example/", out), 0)
      << out;
  EXPECT_NE(out.find("List page address: http://site.example/list.html"), std::string::npos);
  EXPECT_NE(out.find("Links: 2"), std::string::npos) << out;
  EXPECT_NE(out.find("2003-12-07 00:00:00 valid   http://site.example/n/1.html"), std::string::npos)
      << out;
  EXPECT_NE(out.find("2003-12-08 00:00:00 valid   http://site.example/n/2.html"), std::string::npos)
      << out;
  // With --days the old links go.
  ASSERT_EQ(Run("--try-mask " + mask + " " + page + " --list --days 30", out), 0);
  EXPECT_NE(out.find("Links: 0"), std::string::npos) << out;
}

TEST_F(TryMaskTest, HexMasksAndFailures) {
  std::string page = Write("page.html", kPage);
  std::string good = Write("good.hex", BytesToHex(kNewsMask));
  std::string out;
  ASSERT_EQ(Run("--hex " + good + " " + page, out), 0) << out;
  EXPECT_NE(out.find("Author: Ann Author"), std::string::npos);

  std::string bad = Write("bad.hex", "3C6");
  EXPECT_EQ(Run("--hex " + bad + " " + page, out), 4);
  EXPECT_NE(out.find("ERROR loading mask : Markup"), std::string::npos) << out;
  std::string empty = Write("empty.html", "  ");
  EXPECT_EQ(Run(empty + " " + page, out), 4);
  EXPECT_NE(out.find("ERROR loading mask : Element"), std::string::npos) << out;

  EXPECT_EQ(Run(good + " " + (dir_ / "missing.html").string(), out), 3);
  EXPECT_NE(out.find("Cannot read the page file"), std::string::npos) << out;
  EXPECT_EQ(Run(good, out), 2);
  EXPECT_EQ(Run("--bogus " + good + " " + page, out), 2);
  EXPECT_NE(out.find("--help"), std::string::npos);
  EXPECT_EQ(Run("--help", out), 0);
  EXPECT_NE(out.find("Usage:"), std::string::npos);
}

TEST_F(TryMaskTest, FindPrintsAMaskPath) {
  std::string page = Write("page.html", kPage);
  std::string out;
  ASSERT_EQ(Run("--find 'Second line' " + page, out), 0) << out;
  EXPECT_NE(out.find("<div class=\"story\">\n  <p ord=\"2\">"), std::string::npos) << out;
  EXPECT_EQ(Run("--find 'not there' " + page, out), 1);
}


TEST_F(TryMaskTest, AutoExtractsWithoutAMaskAndPrintsWhatARunWouldStore) {
  std::string story;
  for (int i = 1; i <= 3; ++i)
    story += "<p>Paragraph " + std::to_string(i) + ", with enough words and commas, to count as text.</p>";
  std::string page = Write("page.html",
                           "<html><head><title>Storm | Daily</title></head><body><nav><a href=/>Home</a></nav>"
                           "<div class=content><h1>Storm</h1>" + story +
                           "<img data-src='/big.jpg' src='/lazy.gif'></div></body></html>");
  std::string out;
  ASSERT_EQ(Run("--auto " + page + " --url http://site.example/n/1.html", out), 0) << out;
  EXPECT_NE(out.find("Main block: element"), std::string::npos) << out;
  EXPECT_NE(out.find("Title: Storm\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Paragraph 1, with"), std::string::npos) << out;
  EXPECT_NE(out.find("Images: 1\n[0] http://site.example/big.jpg"), std::string::npos) << out;
  EXPECT_EQ(out.find("Home"), std::string::npos) << out;

  std::string links = Write("links.html", "<html><body><a href=/1>One</a> <a href=/2>Two</a></body></html>");
  ASSERT_EQ(Run("--auto " + links, out), 0) << out;
  EXPECT_NE(out.find("Main block: none found"), std::string::npos) << out;
  EXPECT_NE(out.find("this page would give no news item"), std::string::npos) << out;
  EXPECT_EQ(Run("--auto --list " + links, out), 2) << out;
  EXPECT_EQ(Run("--auto " + links + " " + page, out), 2) << out;
}

}  // namespace
}  // namespace orvo

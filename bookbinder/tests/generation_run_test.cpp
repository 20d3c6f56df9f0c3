#include "generation_run.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "database.h"
#include "eventlog.h"
#include "news_fixture.h"
#include "settings.h"

namespace orvo {
namespace {

namespace fs = std::filesystem;
using testing::TestFilter;
using testing::NewsFixture;
using testing::TestNews;
using testing::ReadFile;

std::vector<std::string> LitFiles(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto& e : fs::directory_iterator(dir, ec))
    if (e.path().extension() == ".lit") names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class GenerationRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProcessDatabasePath(fx.dbPath());
    pair = fx.AddPair("Site", "World");
  }
  void TearDown() override { CloseDatabase(); }

  void AddNews(int count, const std::string& prefix = "Title ") {
    for (int i = 0; i < count; ++i) {
      TestNews s;
      s.pair = pair;
      s.title = prefix + std::to_string(i);
      s.body = "Body of " + s.title;
      fx.AddNews(s);
    }
  }
  void MarkFilter() {
    TestFilter f;
    f.pairs = {pair};
    fx.AddFilter(f);
  }

  // Runs to the end; the status texts it reported.
  std::vector<std::string> Run(GenerationRun& run) {
    QSignalSpy status(&run, &GenerationRun::statusChanged);
    QSignalSpy complete(&run, &GenerationRun::complete);
    EXPECT_TRUE(run.start());
    EXPECT_TRUE(complete.wait(120000));
    EXPECT_EQ(complete.count(), 1);
    if (complete.count()) {
      EXPECT_EQ(complete[0][0].toInt(), 1);
    }
    std::vector<std::string> texts;
    for (const auto& args : status) texts.push_back(args[0].toString().toStdString());
    return texts;
  }

  std::string Log() { return ReadFile(EventLogPath()); }

  NewsFixture fx;
  int64_t pair = 0;
};

TEST_F(GenerationRunTest, FillsVolumesOfMaxNewsUntilTheNewsAreUsedUp) {
  AddNews(120);
  MarkFilter();
  fx.WriteSetting("MaxNewsPerLit", "50");
  GenerationRun run;
  run.setWriterLibraryPath(RECORDING_WRITER);
  EXPECT_EQ(Run(run), (std::vector<std::string>{kRunStarted, kRunSucceeded}));
  EXPECT_EQ(run.volumesWritten(), 3);

  // An empty PathPC writes into lit/ of the program folder.
  std::vector<std::string> files = LitFiles(fx.home() + "/lit");
  ASSERT_EQ(files.size(), 3u);
  std::regex name(R"(news\.\d{12}\.\d{2}_(\d)\.lit)");
  const size_t expected[] = {50, 50, 20};
  for (int i = 0; i < 3; ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(files[i], m, name)) << files[i];
    EXPECT_EQ(m[1], std::to_string(i));
    std::string book = ReadFile(fx.home() + "/lit/" + files[i]);
    EXPECT_EQ(Count(book, "attr class=title"), expected[i]) << files[i];
    EXPECT_NE(book.find("Vol." + std::to_string(i + 1) + "\n"), std::string::npos);
  }
  EXPECT_NE(ReadFile(fx.home() + "/lit/" + files[2]).find("text Title 119\n"), std::string::npos);
  std::string log = Log();
  EXPECT_NE(log.find(kRunStarted), std::string::npos);
  EXPECT_NE(log.find(kRunSucceeded), std::string::npos);
  // The stylesheet was put in place for the writer.
  EXPECT_TRUE(fs::exists(fx.home() + "/temp/eBook.css"));
}

TEST_F(GenerationRunTest, NoMarkedFilterFailsTheRunButStillCompletes) {
  AddNews(3);
  GenerationRun run;
  run.setWriterLibraryPath(RECORDING_WRITER);
  EXPECT_EQ(Run(run), (std::vector<std::string>{kRunStarted, kRunFailed}));
  std::string log = Log();
  size_t none = log.find(kNoFilters), cannot = log.find("Can not open filters for litgen");
  ASSERT_NE(none, std::string::npos);
  ASSERT_NE(cannot, std::string::npos);
  EXPECT_LT(none, cannot);
  EXPECT_LT(cannot, log.find(kRunFailed));
}

TEST_F(GenerationRunTest, NoMatchingNewsIsAFailureToo) {
  MarkFilter();
  GenerationRun run;
  run.setWriterLibraryPath(RECORDING_WRITER);
  EXPECT_EQ(Run(run), (std::vector<std::string>{kRunStarted, kRunFailed}));
  EXPECT_NE(Log().find(kNoFilters), std::string::npos);
  EXPECT_TRUE(LitFiles(fx.home() + "/lit").empty());
}

TEST_F(GenerationRunTest, MissingWriterFailsWithoutTouchingTheDatabase) {
  SetProcessDatabasePath(fx.home() + "/absent.db");  // opening it would log
  GenerationRun run;
  run.setWriterLibraryPath(fx.home() + "/liblitgen.so");
  EXPECT_EQ(Run(run), (std::vector<std::string>{kRunStarted, kRunFailed}));
  std::string log = Log();
  EXPECT_NE(log.find("Can not load the LIT writer " + fx.home() + "/liblitgen.so"), std::string::npos);
  EXPECT_EQ(log.find("Error open DB"), std::string::npos);
  EXPECT_EQ(ProcessDatabase(), nullptr);
}

TEST_F(GenerationRunTest, ASecondStartOnOneObjectDoesNothing) {
  AddNews(2);
  MarkFilter();
  GenerationRun run;
  run.setWriterLibraryPath(RECORDING_WRITER);
  Run(run);
  QSignalSpy status(&run, &GenerationRun::statusChanged);
  QSignalSpy complete(&run, &GenerationRun::complete);
  EXPECT_FALSE(run.start());
  EXPECT_FALSE(complete.wait(300));
  EXPECT_EQ(status.count(), 0);
  EXPECT_EQ(LitFiles(fx.home() + "/lit").size(), 1u);
}

TEST_F(GenerationRunTest, TwoObjectsTakeTurns) {
  AddNews(30);
  MarkFilter();
  fx.WriteSetting("MaxNewsPerLit", "5");
  GenerationRun a, b;
  a.setWriterLibraryPath(RECORDING_WRITER);
  b.setWriterLibraryPath(RECORDING_WRITER);
  QSignalSpy doneA(&a, &GenerationRun::complete), doneB(&b, &GenerationRun::complete);
  ASSERT_TRUE(a.start());
  ASSERT_TRUE(b.start());
  ASSERT_TRUE(QTest::qWaitFor([&] { return doneA.count() == 1 && doneB.count() == 1; }, 120000));
  // In the log each start is followed by its own end before the next start.
  std::string log = Log();
  std::vector<char> seq;
  for (size_t at = 0; (at = log.find(".lit files generation", at)) != std::string::npos; ++at)
    seq.push_back(log.compare(at, 29, ".lit files generation started") == 0 ? 'S' : 'E');
  EXPECT_EQ(seq, (std::vector<char>{'S', 'E', 'S', 'E'}));
}

TEST_F(GenerationRunTest, OutputFolderFromPathPCIsCreatedAndOldBooksCleanedUp) {
  AddNews(3);
  MarkFilter();
  std::string out = fx.home() + "/Sync";
  fx.WriteSetting("PathPC", out);  // no trailing slash
  fx.WriteCleanup(1);
  fs::create_directories(out);
  testing::WriteFile(out + "/news.200311301530.12_0.lit", "old");
  testing::WriteFile(out + "/mybook.lit", "old");
  GenerationRun run;
  run.setWriterLibraryPath(RECORDING_WRITER);
  EXPECT_EQ(Run(run).back(), kRunSucceeded);
  std::vector<std::string> files = LitFiles(out);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(files[0].rfind("news.", 0) == 0 && files[0].find("_0.lit") != std::string::npos);
  EXPECT_NE(files[0], "news.200311301530.12_0.lit");
}

TEST_F(GenerationRunTest, AFailedVolumeEndsTheRunAndKeepsEarlierVolumes) {
  AddNews(12);
  MarkFilter();
  fx.WriteSetting("MaxNewsPerLit", "5");
  // The writer cannot finish any file.
  void* handle = ::dlopen(RECORDING_WRITER, RTLD_NOW);
  auto reset = reinterpret_cast<void (*)(const char*)>(::dlsym(handle, "RecordingWriterReset"));
  reset("Finish");
  GenerationRun run;
  run.setWriterLibraryPath(RECORDING_WRITER);
  EXPECT_EQ(Run(run).back(), kRunFailed);
  reset("");
  ::dlclose(handle);
  EXPECT_EQ(run.volumesWritten(), 0);
  EXPECT_TRUE(LitFiles(fx.home() + "/lit").empty());
  EXPECT_NE(Log().find("Error 0x80004005 finishing output file."), std::string::npos);
}

TEST_F(GenerationRunTest, ARunNeverOverwritesTheVolumesOfAnEarlierRun) {
  AddNews(2);
  MarkFilter();
  // Volumes of runs "in the same second" as this one, and the next few.
  fs::create_directories(fx.home() + "/lit");
  std::time_t now = std::time(nullptr);
  for (std::time_t t = now; t < now + 4; ++t)
    testing::WriteFile(VolumePath(fx.home() + "/lit/", VolumeBaseName(t), 0), "earlier");
  GenerationRun run;
  run.setWriterLibraryPath(RECORDING_WRITER);
  EXPECT_EQ(Run(run).back(), kRunSucceeded);
  std::vector<std::string> files = LitFiles(fx.home() + "/lit");
  ASSERT_EQ(files.size(), 5u);
  for (std::time_t t = now; t < now + 4; ++t)
    EXPECT_EQ(ReadFile(VolumePath(fx.home() + "/lit/", VolumeBaseName(t), 0)), "earlier");
}

TEST(RunSettings, DefaultsAndRules) {
  NewsFixture fx;
  EXPECT_EQ(RunSettings::Read().maxNewsPerLit, 50);
  EXPECT_EQ(RunSettings::Read().outputDir, fx.home() + "/lit/");
  for (const char* bad : {"0", "-4", "many"}) {
    fx.WriteSetting("MaxNewsPerLit", bad);
    EXPECT_EQ(RunSettings::Read().maxNewsPerLit, 50) << bad;
  }
  fx.WriteSetting("MaxNewsPerLit", "7");
  EXPECT_EQ(RunSettings::Read().maxNewsPerLit, 7);
  fx.WriteSetting("PathPC", "/media/sync/");
  EXPECT_EQ(RunSettings::Read().outputDir, "/media/sync/");

  std::tm tm{};
  tm.tm_year = 103;
  tm.tm_mon = 11;
  tm.tm_mday = 1;
  tm.tm_hour = 15;
  tm.tm_min = 30;
  tm.tm_sec = 45;
  tm.tm_isdst = -1;
  std::string base = VolumeBaseName(std::mktime(&tm));
  EXPECT_EQ(base, "news.200312011530.45");
  EXPECT_EQ(VolumePath("/d/", base, 0), "/d/news.200312011530.45_0.lit");
}

}  // namespace
}  // namespace orvo

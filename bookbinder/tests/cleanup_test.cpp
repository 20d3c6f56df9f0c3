#include "cleanup.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "eventlog.h"
#include "news_fixture.h"

namespace orvo {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Cleanup, KeepsTheCurrentRunsVolumesOnlyWhenAsked) {
  testing::NewsFixture fx;
  std::string out = fx.home() + "/lit/";
  fs::create_directories(out);
  for (const char* n : {"news.200312011530.45_0.lit", "news.200312011530.45_1.lit", "news.200311301530.12_0.lit",
                        "mybook.lit", "OLD.LIT", "notes.txt", "lit"})
    WriteFile(out + n, "x");

  fx.WriteCleanup(0);
  EXPECT_EQ(DeleteOldVolumes(out, "news.200312011530.45"), 0);
  EXPECT_EQ(Names(out).size(), 7u);

  fx.WriteCleanup(1);
  EXPECT_EQ(DeleteOldVolumes(out, "news.200312011530.45"), 3);
  EXPECT_EQ(Names(out), (std::vector<std::string>{"lit", "news.200312011530.45_0.lit",
                                                  "news.200312011530.45_1.lit", "notes.txt"}));

  // A run that wrote nothing keeps nothing.
  EXPECT_EQ(DeleteOldVolumes(out, "news.200401010000.00"), 2);
  EXPECT_EQ(Names(out), (std::vector<std::string>{"lit", "notes.txt"}));
  // A missing folder is no failure.
  EXPECT_EQ(DeleteOldVolumes(out + "nowhere/", "x"), 0);
}

TEST(Cleanup, AnEntryThatCannotBeDeletedIsLoggedAndStays) {
  testing::NewsFixture fx;
  std::string out = fx.home() + "/lit/";
  fs::create_directories(out + "stuck.lit");
  WriteFile(out + "old_0.lit", "x");
  EXPECT_EQ(DeleteVolumesNotOf(out, "news.1"), 1);
  EXPECT_TRUE(fs::is_directory(out + "stuck.lit"));
  EXPECT_FALSE(fs::exists(out + "old_0.lit"));
  EXPECT_NE(ReadFile(EventLogPath()).find("Can not delete lit File: " + out + "stuck.lit"), std::string::npos);
}

}  // namespace
}  // namespace orvo

#include "settings.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "test_support.h"

namespace orvo {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(SettingsTest, MissingFileGivesEveryDefault) {
  TempDir dir;
  Settings s(dir.File("ORVO.ini"));
  EXPECT_EQ(s.ReadInt(kDownloadSection, "ConnectTimeout", 0), 0);
  EXPECT_EQ(s.ReadInt(kSystemSection, "AutoCheck", 1), 1);
  EXPECT_EQ(s.ReadText(kSystemSection, "PathDB", "", kPathBuffer), "");
  EXPECT_TRUE(s.ReadSection(kParserScheduleSection).empty());
}

TEST(SettingsTest, IntegerReadsFollowTheProfileRules) {
  TempDir dir;
  WriteFile(dir.File("ORVO.ini"),
            "[Download]\nConnectTimeout=0\nLoadImages=abc\nDays=12days\n"
            "[Cleanup]\nMonth= -3 \nDay=\n");
  Settings s(dir.File("ORVO.ini"));
  EXPECT_EQ(s.ReadInt("download", "connecttimeout", 7), 0);  // present 0 is 0, not the default
  EXPECT_EQ(s.ReadInt(kDownloadSection, "LoadImages", 1), 1);  // no digits: default
  EXPECT_EQ(s.ReadInt(kDownloadSection, "Days", 0), 12);       // leading digits count
  EXPECT_EQ(s.ReadInt(kCleanupSection, "Month", 0), -3);
  EXPECT_EQ(s.ReadInt(kCleanupSection, "Day", 5), 5);
  EXPECT_EQ(s.ReadInt(kCleanupSection, "Hour", 9), 9);
}

// Where a misread number would delete news or set a wait, only a whole
// number within 32 bits counts; anything else reads as not set.
TEST(SettingsTest, StrictIntegerReadsTakeOnlyWholeNumbersInRange) {
  TempDir dir;
  Settings s(dir.File("ORVO.ini"));
  struct Case {
    const char* value;
    Settings::IntRead read;
    int number;
    int timeout;  // ReadConnectTimeout
  } cases[] = {
      {"42", Settings::IntRead::kNumber, 42, 42},
      {" -7 ", Settings::IntRead::kNumber, -7, 300},
      {"0", Settings::IntRead::kNumber, 0, 300},
      {"86401", Settings::IntRead::kNumber, 86401, 86400},
      {"2147484", Settings::IntRead::kNumber, 2147484, 86400},
      {"abc", Settings::IntRead::kInvalid, 0, 300},
      {"12abc", Settings::IntRead::kInvalid, 0, 300},
      {"", Settings::IntRead::kInvalid, 0, 300},
      {"4294967297", Settings::IntRead::kInvalid, 0, 300},
      {"-2147483649", Settings::IntRead::kInvalid, 0, 300},
      {"99999999999999999999999", Settings::IntRead::kInvalid, 0, 300},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(s.WriteText(kDownloadSection, "ConnectTimeout", c.value));
    int n = 0;
    std::string text;
    EXPECT_EQ(s.ReadIntStrict(kDownloadSection, "ConnectTimeout", &n, &text), c.read) << c.value;
    EXPECT_EQ(n, c.number) << c.value;
    EXPECT_EQ(s.ReadIntChecked(kDownloadSection, "ConnectTimeout", 5), c.read == Settings::IntRead::kNumber ? c.number : 5)
        << c.value;
    EXPECT_EQ(ReadConnectTimeout(s), c.timeout) << c.value;
  }
  int n = 9;
  EXPECT_EQ(s.ReadIntStrict(kCleanupSection, "Month", &n), Settings::IntRead::kMissing);
  EXPECT_EQ(n, 9);
}

TEST(SettingsTest, LongTextIsCutToItsBuffer) {
  TempDir dir;
  Settings s(dir.File("ORVO.ini"));
  std::string path(300, 'p');
  ASSERT_TRUE(s.WriteText(kSystemSection, "PathDB", path));
  EXPECT_EQ(s.ReadText(kSystemSection, "PathDB", "", kPathBuffer), std::string(259, 'p'));
  EXPECT_EQ(s.ReadText(kSystemSection, "PathDB", "", kReaderBuffer), std::string(254, 'p'));
  // The buffer holds characters, not bytes, and a cut never splits one.
  std::string cyr;
  for (int i = 0; i < 300; ++i) cyr += "\xD0\x96";  // Ж
  ASSERT_TRUE(s.WriteText(kSystemSection, "PathPC", cyr));
  EXPECT_EQ(s.ReadText(kSystemSection, "PathPC", "", kPathBuffer), cyr.substr(0, 259 * 2));
}

// Editors put a UTF-8 mark before the first section; it must not hide it,
// and a write keeps the file as the editor left it.
TEST(SettingsTest, AByteOrderMarkDoesNotHideTheFirstSection) {
  TempDir dir;
  WriteFile(dir.File("ORVO.ini"), "\xEF\xBB\xBF[Download]\r\nConnectTimeout=42\r\n[Cleanup]\r\nMonth=2\r\n");
  Settings s(dir.File("ORVO.ini"));
  EXPECT_EQ(s.ReadInt(kDownloadSection, "ConnectTimeout", 0), 42);
  EXPECT_EQ(s.ReadSection(kDownloadSection).size(), 1u);
  ASSERT_TRUE(s.WriteInt(kCleanupSection, "Day", 3));
  EXPECT_EQ(ReadFile(dir.File("ORVO.ini")), "\xEF\xBB\xBF[Download]\nConnectTimeout=42\n[Cleanup]\nMonth=2\nDay=3\n");
  EXPECT_EQ(s.ReadInt(kDownloadSection, "ConnectTimeout", 0), 42);
}

TEST(SettingsTest, WritesKeepCommentsUnknownLinesAndOtherSections) {
  TempDir dir;
  WriteFile(dir.File("ORVO.ini"),
            "; kept comment\r\n[Software\\Vantelia\\ORVO\\Settings\\System]\r\nPathDB=/a.db\r\n"
            "garbage line\r\n\r\n[Download]\r\nDays=3\r\n");
  Settings s(dir.File("ORVO.ini"));
  ASSERT_TRUE(s.WriteText("SOFTWARE\\vantelia\\orvo\\settings\\system", "pathdb", "/b.db"));
  ASSERT_TRUE(s.WriteInt(kSystemSection, "AutoCheck", 0));
  ASSERT_TRUE(s.WriteInt("Cleanup", "DeleteOlder", 1));
  std::string text = ReadFile(dir.File("ORVO.ini"));
  EXPECT_NE(text.find("; kept comment"), std::string::npos);
  EXPECT_NE(text.find("garbage line"), std::string::npos);
  EXPECT_NE(text.find("PathDB=/b.db"), std::string::npos);  // the key keeps its spelling
  EXPECT_EQ(s.ReadInt(kSystemSection, "AutoCheck", 1), 0);
  EXPECT_EQ(s.ReadInt(kDownloadSection, "Days", 0), 3);
  EXPECT_EQ(s.ReadInt(kCleanupSection, "DeleteOlder", 0), 1);
  // The new key sits in its own section, not after the next one.
  EXPECT_LT(text.find("AutoCheck"), text.find("[Download]"));
}

TEST(SettingsTest, SectionReadAndReplace) {
  TempDir dir;
  WriteFile(dir.File("ORVO.ini"), "[ParserSchedule]\n; note\nSchedule0=1|x|\nSchedule3=2|y|\n[LitSchedule]\nSchedule0=3\n");
  Settings s(dir.File("ORVO.ini"));
  IniEntries e = s.ReadSection("parserschedule");
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[1].first, "Schedule3");
  EXPECT_EQ(e[1].second, "2|y|");
  ASSERT_TRUE(s.ReplaceSection(kParserScheduleSection, {{"Schedule1", "4|a|"}}));
  e = s.ReadSection(kParserScheduleSection);
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].first, "Schedule1");
  EXPECT_EQ(s.ReadSection(kLitScheduleSection).size(), 1u);
  EXPECT_NE(ReadFile(dir.File("ORVO.ini")).find("; note"), std::string::npos);
  ASSERT_TRUE(s.ReplaceSection("New", {{"A", "1"}}));
  EXPECT_EQ(s.ReadInt("new", "a", 0), 1);
  ASSERT_TRUE(s.RemoveKey("New", "A"));
  EXPECT_FALSE(s.HasKey("New", "A"));
}

TEST(SettingsTest, UnwritableFolderFailsWithoutChangingAnything) {
  Settings s("/nonexistent-orvo-folder/ORVO.ini");
  EXPECT_FALSE(s.WriteInt(kSystemSection, "A", 1));
  EXPECT_EQ(s.ReadInt(kSystemSection, "A", 42), 42);
}

TEST(SettingsTest, ConcurrentWritersLoseNoKey) {
  TempDir dir;
  const std::string path = dir.File("ORVO.ini");
  ASSERT_TRUE(testing::RunInProcesses(
      [&](int child) {
        Settings s(path);
        for (int i = 0; i < 500; ++i)
          if (!s.WriteInt("Keys", "P" + std::to_string(child) + "K" + std::to_string(i), i)) std::exit(1);
      },
      2));
  Settings s(path);
  EXPECT_EQ(s.ReadSection("Keys").size(), 1000u);
  EXPECT_EQ(s.ReadInt("Keys", "P0K499", -1), 499);
  EXPECT_EQ(s.ReadInt("Keys", "P1K0", -1), 0);
}

// Bytes this process has read through read() and its kind so far.
long long BytesReadSoFar() {
  std::ifstream io("/proc/self/io");
  std::string name;
  long long value = 0;
  while (io >> name >> value)
    if (name == "rchar:") return value;
  return -1;
}

// The engine reads its settings at every request, so an unchanged file is
// not read again; any change to it, by a write or an editor, is.
TEST(SettingsTest, AnUnchangedFileIsReadOnceAndEveryChangeIsReadAtTheNextRead) {
  TempDir dir;
  const std::string path = dir.File("ORVO.ini");
  WriteFile(path, "[S]\nA=1\n" + std::string(4000, ';') + "\n");
  Settings s(path);
  ASSERT_EQ(s.ReadInt("S", "A", 0), 1);
  const long long before = BytesReadSoFar();
  ASSERT_GE(before, 0) << "no /proc/self/io";
  for (int i = 0; i < 100; ++i) ASSERT_EQ(s.ReadInt("S", "A", 0), 1);
  EXPECT_LT(BytesReadSoFar() - before, 4000) << "the unchanged file was read again";

  // Another program's write replaces the file.
  ASSERT_TRUE(Settings(path).WriteInt("S", "A", 2));
  EXPECT_EQ(s.ReadInt("S", "A", 0), 2);
  // An editor's write in place, of the same size; its time differs.
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  const std::string same = ReadFile(path);
  std::string edited = same;
  edited.replace(edited.find("A=2"), 3, "A=3");
  {
    std::ofstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    out << edited;
  }
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  times[1].tv_sec += 1;
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_EQ(s.ReadInt("S", "A", 0), 3);
  // Longer, in place.
  WriteFile(path, edited + "B=4\n");
  EXPECT_EQ(s.ReadInt("S", "B", 0), 4);
  // Gone: every default again.
  std::remove(path.c_str());
  EXPECT_EQ(s.ReadInt("S", "A", 7), 7);
  WriteFile(path, "[S]\nA=5\n");
  EXPECT_EQ(s.ReadInt("S", "A", 7), 5);
}

TEST(SettingsTest, ModuleDirectoryFollowsOrvoHome) {
  TempDir dir;
  ::setenv("ORVO_HOME", dir.path().c_str(), 1);
  EXPECT_EQ(ModuleDirectory(), dir.path() + "/");
  EXPECT_EQ(SettingsPath(), dir.path() + "/ORVO.ini");
  ::unsetenv("ORVO_HOME");
  std::string own = ModuleDirectory();
  EXPECT_EQ(own.back(), '/');
  EXPECT_EQ(own, std::string(ORVO_BIN_DIR) + "/");
}

}  // namespace
}  // namespace orvo

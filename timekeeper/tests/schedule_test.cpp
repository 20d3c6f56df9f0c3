#include "schedule.h"

#include <gtest/gtest.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "test_support.h"

namespace orvo {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

DateTime Day(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) { return DateTime::At(y, mo, d, h, mi, s); }

TEST(DateTimeTextTest, OwnFormRoundTrips) {
  DateTime t = Day(2026, 12, 7, 8, 0, 4);
  EXPECT_EQ(FormatDateTime(t), "2026-12-07 08:00:04");
  EXPECT_EQ(ParseDateTime(FormatDateTime(t)), t);
  EXPECT_EQ(FormatTimeOfDay(t), "08:00:04");
}

TEST(DateTimeTextTest, TimeAloneLiesOnTheNullDate) {
  auto t = ParseDateTime("21:30:00");
  ASSERT_TRUE(t);
  EXPECT_TRUE(t->HasNullDate());
  EXPECT_EQ(*t, DateTime::TimeOfDay(21, 30));
  EXPECT_EQ(ParseDateTime("9:05"), DateTime::TimeOfDay(9, 5));
}

TEST(DateTimeTextTest, ReadsTheCommonWindowsForms) {
  EXPECT_EQ(ParseDateTime("12/7/2026 8:00:04 AM"), Day(2026, 12, 7, 8, 0, 4));
  EXPECT_EQ(ParseDateTime("12/7/2026 8:00:04 PM"), Day(2026, 12, 7, 20, 0, 4));
  EXPECT_EQ(ParseDateTime("12/7/2026 12:15:00 AM"), Day(2026, 12, 7, 0, 15, 0));
  EXPECT_EQ(ParseDateTime("12/7/2026 12:15:00 pm"), Day(2026, 12, 7, 12, 15, 0));
  EXPECT_EQ(ParseDateTime("07.12.2026 08:00:04"), Day(2026, 12, 7, 8, 0, 4));
  EXPECT_EQ(ParseDateTime("2026/12/07 8:00:04"), Day(2026, 12, 7, 8, 0, 4));
  EXPECT_EQ(ParseDateTime("2026-12-07T08:00:04"), Day(2026, 12, 7, 8, 0, 4));
  // Unambiguous day-first slash date, as en-GB writes it.
  EXPECT_EQ(ParseDateTime("25/12/2026 18:00:00"), Day(2026, 12, 25, 18, 0, 0));
  // A Once entry at midnight is written as its date alone.
  EXPECT_EQ(ParseDateTime("12/24/2026"), Day(2026, 12, 24));
  EXPECT_EQ(ParseDateTime("24.12.26"), Day(2026, 12, 24));
}

TEST(DateTimeTextTest, AmbiguousSlashDateFollowsTheSystemLocale) {
  locale_t loc = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0));
  std::string fmt = loc ? nl_langinfo_l(D_FMT, loc) : "%m/%d/%y";  // the C locale is month first
  if (loc) freelocale(loc);
  bool dayFirst = fmt.find("%d") < fmt.find("%m");
  EXPECT_EQ(ParseDateTime("03/04/2026 10:00:00"), dayFirst ? Day(2026, 4, 3, 10) : Day(2026, 3, 4, 10));
}

TEST(DateTimeTextTest, ReadsTheCLocaleFullText) {
  EXPECT_EQ(ParseDateTime("Mon Dec  7 08:00:04 2026"), Day(2026, 12, 7, 8, 0, 4));
}

TEST(DateTimeTextTest, RejectsNonsense) {
  for (const char* bad : {"", "   ", "yesterday", "2026-02-30 10:00:00", "25:00:00", "10:60", "13/13/2026",
                          "12/7/2026 8:00:04 XM", "2026-12-07 08:00:04 trailing", "8", "0:30 PM"})
    EXPECT_FALSE(ParseDateTime(bad)) << bad;
}

TEST(ScheduleEntryTest, DailyWithStampReadsItsTime) {
  ScheduleEntry e = ParseScheduleEntry("Schedule0", "1|08:00:00|12/07/2026 08:00:04");
  EXPECT_EQ(e.key, "Schedule0");
  EXPECT_EQ(e.kind, kDaily);
  ASSERT_TRUE(e.start);
  EXPECT_EQ(e.start->hour, 8);
  EXPECT_EQ(e.start->minute, 0);
  EXPECT_EQ(ParseScheduleStamp("1|08:00:00|12/07/2026 08:00:04"), Day(2026, 12, 7, 8, 0, 4));
  EXPECT_EQ(ParseScheduleStamp("1|08:00:00|2026-12-07 08:00:04"), Day(2026, 12, 7, 8, 0, 4));
}

TEST(ScheduleEntryTest, StampNeverBecomesAMissingField) {
  // A Weekly entry that lost its day field: the stamp's leading "2026" must
  // not be read as the day.
  ScheduleEntry e = ParseScheduleEntry("Schedule1", "2|21:30:00|2026-12-06 21:30:02");
  EXPECT_EQ(e.kind, kWeekly);
  EXPECT_EQ(e.day, 0);
  ScheduleEntry r = ParseScheduleEntry("Schedule2", "4|09:00:00|18:00:00|2026-12-06 09:00:02");
  EXPECT_TRUE(r.till);
  EXPECT_FALSE(r.every);
}

TEST(ScheduleEntryTest, EveryKindRoundTrips) {
  std::vector<std::pair<std::string, std::string>> cases = {
      {"0|2026-12-24 18:00:00|", ""},  {"1|08:00:00|", ""},        {"2|21:30:00|6|", ""},
      {"3|07:15:00|31|", ""},           {"4|09:00:00|18:00:00|01:30:00|", ""},
  };
  for (const auto& [value, unused] : cases) {
    ScheduleEntry e = ParseScheduleEntry("Schedule5", value);
    EXPECT_EQ(FormatScheduleValue(e), value);
  }
  ScheduleEntry r = ParseScheduleEntry("Schedule1", "4|09:00:00|18:00:00|01:30:00|");
  EXPECT_EQ(r.till, DateTime::TimeOfDay(18, 0));
  EXPECT_EQ(r.every, DateTime::TimeOfDay(1, 30));
}

TEST(ScheduleEntryTest, WeeklyDaysAreSundayOneToSaturdaySeven) {
  ScheduleEntry sunday;
  sunday.key = "Schedule0";
  sunday.kind = kWeekly;
  sunday.start = DateTime::TimeOfDay(21, 30);
  sunday.day = 1;
  EXPECT_EQ(FormatScheduleValue(sunday), "2|21:30:00|1|");
  sunday.day = 7;
  EXPECT_EQ(FormatScheduleValue(sunday), "2|21:30:00|7|");
  EXPECT_EQ(DayOfWeek(Day(2026, 12, 6)), 1);  // a Sunday
  EXPECT_EQ(DayOfWeek(Day(2026, 12, 12)), 7);
  EXPECT_EQ(DayOfWeek(Day(2000, 2, 29)), 3);  // a Tuesday
  // The pages' Monday-first index and back.
  EXPECT_EQ(WeekdayIndexToDay(6), 1);
  EXPECT_EQ(WeekdayIndexToDay(0), 2);
  EXPECT_EQ(WeekdayIndexToDay(5), 7);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(DayToWeekdayIndex(WeekdayIndexToDay(i)), i);
  EXPECT_EQ(DayToWeekdayIndex(0), 0);
  EXPECT_EQ(DayToWeekdayIndex(8), 0);
}

TEST(ScheduleEntryTest, OnlyTheTimeOfAStartIsWrittenForRepeatingKinds) {
  ScheduleEntry e;
  e.kind = kDaily;
  e.start = Day(2026, 12, 8, 6, 45, 0);  // the editor's "today at ..."
  EXPECT_EQ(FormatScheduleValue(e), "1|06:45:00|");
  e.kind = kOnce;
  EXPECT_EQ(FormatScheduleValue(e), "0|2026-12-08 06:45:00|");
}

TEST(ScheduleEntryTest, UnknownKindsAreKeptAndWrittenEmpty) {
  ScheduleEntry nine = ParseScheduleEntry("Schedule4", "9|08:00:00|");
  EXPECT_EQ(nine.kind, 9);
  EXPECT_EQ(FormatScheduleValue(nine), "");
  // An empty value stays unknown rather than becoming a Once entry.
  ScheduleEntry empty = ParseScheduleEntry("Schedule4", "");
  EXPECT_EQ(empty.kind, -1);
  EXPECT_EQ(FormatScheduleValue(empty), "");
}

TEST(ScheduleEntryTest, StampReplacesTheOldOne) {
  DateTime when = Day(2026, 12, 8, 8, 0, 4);
  EXPECT_EQ(StampScheduleValue("1|08:00:00|", when), "1|08:00:00|2026-12-08 08:00:04");
  EXPECT_EQ(StampScheduleValue("1|08:00:00|12/07/2026 08:00:04", when), "1|08:00:00|2026-12-08 08:00:04");
  EXPECT_FALSE(ParseScheduleStamp("1|08:00:00|"));
  EXPECT_FALSE(ParseScheduleStamp("1|08:00:00|garbage"));
}

TEST(ScheduleEntryTest, NewKeyTakesTheLowestFreeNumber) {
  std::vector<ScheduleEntry> entries(3);
  entries[0].key = "Schedule0";
  entries[1].key = "Schedule1";
  entries[2].key = "Schedule3";
  EXPECT_EQ(NewScheduleKey(entries), "Schedule2");
  entries[0].deleted = true;
  EXPECT_EQ(NewScheduleKey(entries), "Schedule0");
  EXPECT_EQ(NewScheduleKey({}), "Schedule0");
}

TEST(ScheduleSectionTest, EmptyOrMissingSectionHasNoEntries) {
  TempDir dir;
  Settings s(dir.File("ORVO.ini"));
  EXPECT_TRUE(ReadSchedules(s, kParserScheduleSection).empty());
  WriteFile(s.path(), "[ParserSchedule]\n[LitSchedule]\nSchedule0=1|08:00:00|\n");
  EXPECT_TRUE(ReadSchedules(s, kParserScheduleSection).empty());
  EXPECT_EQ(ReadSchedules(s, kLitScheduleSection).size(), 1u);
}

TEST(ScheduleSectionTest, EntriesStayInSectionOrder) {
  TempDir dir;
  Settings s(dir.File("ORVO.ini"));
  WriteFile(s.path(), "[ParserSchedule]\nSchedule5=1|08:00:00|\nSchedule0=9|x|\nSchedule2=2|21:30:00|1|\n");
  auto entries = ReadSchedules(s, kParserScheduleSection);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].key, "Schedule5");
  EXPECT_EQ(entries[1].kind, 9);
  EXPECT_EQ(entries[2].day, 1);
}

TEST(ScheduleSectionTest, SavingDropsStampsAndDeletedEntriesAndKeepsKeys) {
  TempDir dir;
  Settings s(dir.File("ORVO.ini"));
  WriteFile(s.path(),
            "[Software\\Vantelia\\ORVO\\Settings\\System]\nPathDB=/tmp/news.db\n"
            "[ParserSchedule]\n; kept comment\nSchedule0=1|08:00:00|2026-12-07 08:00:04\n"
            "Schedule3=2|21:30:00|1|2026-12-06 21:30:01\nSchedule7=4|09:00:00|18:00:00|01:30:00|\n"
            "[LitSchedule]\nSchedule0=3|06:00:00|1|\n");
  auto entries = ReadSchedules(s, kParserScheduleSection);
  ASSERT_EQ(entries.size(), 3u);
  entries[1].deleted = true;
  ASSERT_TRUE(WriteSchedules(s, kParserScheduleSection, entries));

  auto again = s.ReadSection(kParserScheduleSection);
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(again[0], (std::pair<std::string, std::string>("Schedule0", "1|08:00:00|")));
  EXPECT_EQ(again[1], (std::pair<std::string, std::string>("Schedule7", "4|09:00:00|18:00:00|01:30:00|")));
  // Other sections and the comment are untouched.
  EXPECT_EQ(s.ReadText(kSystemSection, "PathDB"), "/tmp/news.db");
  EXPECT_EQ(s.ReadSection(kLitScheduleSection).size(), 1u);
  EXPECT_NE(ReadFile(s.path()).find("; kept comment"), std::string::npos);
}

TEST(ScheduleSectionTest, ServiceBufferLeavesOutWhatDoesNotFitWhole) {
  TempDir dir;
  Settings s(dir.File("ORVO.ini"));
  IniEntries lines;
  // "Schedule%03d=1|08:00:00|" is 23 bytes, plus the terminator 24.
  for (int i = 0; i < 500; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "Schedule%03d", i);
    lines.emplace_back(key, "1|08:00:00|");
  }
  ASSERT_TRUE(s.ReplaceSection(kParserScheduleSection, lines));
  EXPECT_EQ(ReadSchedules(s, kParserScheduleSection).size(), 500u);
  auto capped = ReadSchedules(s, kParserScheduleSection, kServiceSectionBuffer);
  EXPECT_EQ(capped.size(), (kServiceSectionBuffer - 1) / 24);
  EXPECT_EQ(capped.back().start, DateTime::TimeOfDay(8, 0));
}

TEST(ScheduleSectionTest, StampGoesToItsKeyOnly) {
  TempDir dir;
  Settings s(dir.File("ORVO.ini"));
  WriteFile(s.path(), "[ParserSchedule]\nSchedule0=1|08:00:00|\nSchedule1=1|09:00:00|\n");
  DateTime when = Day(2026, 12, 8, 8, 0, 12);
  ASSERT_EQ(WriteScheduleStamp(s, kParserScheduleSection, "Schedule0", when), Settings::Update::kWritten);
  EXPECT_EQ(s.ReadText(kParserScheduleSection, "Schedule0"), "1|08:00:00|2026-12-08 08:00:12");
  EXPECT_EQ(s.ReadText(kParserScheduleSection, "Schedule1"), "1|09:00:00|");
  // A key the reader removed meanwhile is not brought back by the stamp.
  EXPECT_EQ(WriteScheduleStamp(s, kParserScheduleSection, "Schedule4", when), Settings::Update::kMissing);
  EXPECT_FALSE(s.HasKey(kParserScheduleSection, "Schedule4"));
}

// The sidecar lock every writer of the file takes (".ORVO.ini.lock").
std::string LockPath(const Settings& s) {
  std::string dir = s.path().substr(0, s.path().rfind('/') + 1);
  return dir + "." + s.path().substr(dir.size()) + ".lock";
}

TEST(ScheduleSectionTest, StampKeepsASaveMadeWhileItWaitedForTheLock) {
  TempDir dir;
  Settings s(dir.File("ORVO.ini"));
  WriteFile(s.path(), "[ParserSchedule]\nSchedule0=1|08:00:00|\n");
  // The reader is saving: it holds the lock while the service wants to stamp.
  int fd = ::open(LockPath(s).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  std::atomic<bool> done{false};
  std::thread stamp([&] {
    WriteScheduleStamp(s, kParserScheduleSection, "Schedule0", Day(2026, 12, 8, 8, 0, 12));
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(done) << "the stamp must wait for the lock";
  // The reader's save lands while the stamp waits: the user moved the entry.
  WriteFile(s.path(), "[ParserSchedule]\nSchedule0=1|09:30:00|\n");
  ::flock(fd, LOCK_UN);
  ::close(fd);
  stamp.join();
  EXPECT_EQ(s.ReadText(kParserScheduleSection, "Schedule0"), "1|09:30:00|2026-12-08 08:00:12");
}

TEST(ScheduleSectionTest, StampThatCannotBeWrittenSaysSo) {
  TempDir dir;
  Settings s(dir.File("ORVO.ini"));
  WriteFile(s.path(), "[ParserSchedule]\nSchedule0=1|08:00:00|\n");
  std::filesystem::create_directory(LockPath(s));  // no lock can be taken: nothing can be written
  EXPECT_EQ(WriteScheduleStamp(s, kParserScheduleSection, "Schedule0", Day(2026, 12, 8, 8, 0, 12)),
            Settings::Update::kFailed);
  EXPECT_EQ(s.ReadText(kParserScheduleSection, "Schedule0"), "1|08:00:00|");
}

TEST(ScheduleEntryTest, UnreadableEntriesSayWhy) {
  for (const char* bad : {"1|25:61:00|", "1|08:00:00", "garbage", "", "1", "0|someday|", "2|21:30:00|",
                          "2|21:30:00|x|", "3|06:00:00|0|", "3|06:00:00|32|", "4|22:00:00|02:00:00|",
                          "4|22:00:00|late|00:30:00|", "4|09:00:00|18:00:00|2026-12-06 09:00:02"}) {
    ScheduleEntry e = ParseScheduleEntry("Schedule0", bad);
    EXPECT_FALSE(e.problem.empty()) << bad;
    EXPECT_EQ(e.value, bad);
  }
  EXPECT_NE(ParseScheduleEntry("Schedule0", "1|25:61:00|").problem.find("25:61:00"), std::string::npos);
  for (const char* good : {"1|08:00:00|", "1|08:00:00|garbage stamp", "0|2026-12-24 18:00:00|", "2|21:30:00|9|",
                           "2|21:30:00|0|", "3|06:00:00|31|", "4|22:00:00|02:00:00|00:30:00|",
                           "9|x|"})  // an unknown kind is the pages' own case: listed empty, never due
    EXPECT_EQ(ParseScheduleEntry("Schedule0", good).problem, "") << good;
}

TEST(ScheduleSectionTest, UnreadableEntriesAreWrittenBackAsTheyWereUntilEdited) {
  TempDir dir;
  Settings s(dir.File("ORVO.ini"));
  WriteFile(s.path(),
            "[ParserSchedule]\nSchedule0=1|25:61:00|\nSchedule1=1|08:00:00\nSchedule2=garbage\n"
            "Schedule3=1|07:00:00|2026-12-07 07:00:02\n");
  auto entries = ReadSchedules(s, kParserScheduleSection);
  ASSERT_EQ(entries.size(), 4u);
  // The user sets the second one again; the others are left alone.
  entries[1].problem.clear();
  entries[1].start = DateTime::TimeOfDay(8, 15);
  ASSERT_TRUE(WriteSchedules(s, kParserScheduleSection, entries));
  IniEntries expected = {{"Schedule0", "1|25:61:00|"},
                         {"Schedule1", "1|08:15:00|"},
                         {"Schedule2", "garbage"},
                         {"Schedule3", "1|07:00:00|"}};
  EXPECT_EQ(s.ReadSection(kParserScheduleSection), expected);
}

}  // namespace
}  // namespace orvo

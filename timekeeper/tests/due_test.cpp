#include "due.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "test_support.h"

namespace orvo {
namespace {

using testing::TempDir;
using testing::WriteFile;

// 2026-12-06 is a Sunday.
DateTime At(int d, int h, int mi, int s = 0) { return DateTime::At(2026, 12, d, h, mi, s); }

DateTime Plus(const DateTime& t, int seconds) {
  return DateTime::FromTime(*t.ToTime() + seconds);
}

// A section on disk and a clock the test moves.
struct Fixture {
  TempDir dir;
  Settings settings{dir.File("ORVO.ini")};
  DateTime now;
  DueCheck check{settings, kParserScheduleSection, [this] { return now; }};

  explicit Fixture(const std::string& section) { WriteFile(settings.path(), "[ParserSchedule]\n" + section); }

  // Ticks every ten seconds over [from, from + seconds) and returns the times
  // at which an entry fell due.
  std::vector<DateTime> Run(const DateTime& from, int seconds) {
    std::vector<DateTime> starts;
    for (int s = 0; s < seconds; s += 10) {
      now = Plus(from, s);
      if (check.Check()) starts.push_back(now);
    }
    return starts;
  }
};

ScheduleEntry Entry(const std::string& value) { return ParseScheduleEntry("Schedule0", value); }

TEST(ScheduleMatchTest, DailyMatchesItsMinuteOnly) {
  ScheduleEntry e = Entry("1|08:00:00|");
  EXPECT_TRUE(ScheduleMatches(e, At(7, 8, 0, 0)));
  EXPECT_TRUE(ScheduleMatches(e, At(8, 8, 0, 59)));
  EXPECT_FALSE(ScheduleMatches(e, At(7, 8, 1, 0)));
  EXPECT_FALSE(ScheduleMatches(e, At(7, 7, 59, 59)));
  EXPECT_FALSE(ScheduleMatches(e, At(7, 20, 0, 0)));
}

TEST(ScheduleMatchTest, WeeklySundayAt2130OnlyOnSundays) {
  ScheduleEntry e = Entry("2|21:30:00|1|");
  int matched = 0;
  for (int d = 1; d <= 31; ++d) {
    bool m = ScheduleMatches(e, At(d, 21, 30, 20));
    if (m) {
      ++matched;
      EXPECT_EQ(DayOfWeek(At(d, 0, 0)), 1) << d;
    }
  }
  EXPECT_EQ(matched, 4);  // 6, 13, 20, 27 December 2026
  EXPECT_FALSE(ScheduleMatches(e, At(6, 21, 31, 0)));
  EXPECT_FALSE(ScheduleMatches(e, At(6, 9, 30, 0)));
}

TEST(ScheduleMatchTest, OnceAndMonthlyNeedTheirDate) {
  ScheduleEntry once = Entry("0|2026-12-24 18:00:00|");
  EXPECT_TRUE(ScheduleMatches(once, At(24, 18, 0, 30)));
  EXPECT_FALSE(ScheduleMatches(once, At(23, 18, 0, 30)));
  EXPECT_FALSE(ScheduleMatches(once, DateTime::At(2027, 12, 24, 18, 0, 30)));

  ScheduleEntry monthly = Entry("3|06:00:00|31|");
  EXPECT_TRUE(ScheduleMatches(monthly, At(31, 6, 0, 10)));
  EXPECT_FALSE(ScheduleMatches(monthly, At(30, 6, 0, 10)));
  EXPECT_FALSE(ScheduleMatches(monthly, DateTime::At(2026, 11, 29, 6, 0, 10)));
}

TEST(ScheduleMatchTest, MonthlyDayAMonthLacksRunsOnItsLastDay) {
  ScheduleEntry day31 = Entry("3|06:00:00|31|");
  EXPECT_TRUE(ScheduleMatches(day31, DateTime::At(2026, 11, 30, 6, 0, 10)));
  EXPECT_TRUE(ScheduleMatches(day31, DateTime::At(2026, 2, 28, 6, 0, 10)));
  EXPECT_TRUE(ScheduleMatches(day31, DateTime::At(2028, 2, 29, 6, 0, 10)));  // a leap year
  EXPECT_FALSE(ScheduleMatches(day31, DateTime::At(2028, 2, 28, 6, 0, 10)));
  ScheduleEntry day30 = Entry("3|06:00:00|30|");
  EXPECT_TRUE(ScheduleMatches(day30, DateTime::At(2026, 2, 28, 6, 0, 10)));
  EXPECT_FALSE(ScheduleMatches(day30, DateTime::At(2026, 12, 31, 6, 0, 10)));  // one start a month
  EXPECT_TRUE(ScheduleMatches(day30, DateTime::At(2026, 12, 30, 6, 0, 10)));
}

TEST(ScheduleMatchTest, WeeklyDayOutOfRangeRunsOnMondayAsListed) {
  for (const char* value : {"2|21:30:00|0|", "2|21:30:00|9|", "2|21:30:00|-3|"}) {
    ScheduleEntry e = Entry(value);
    for (int d = 6; d <= 12; ++d)  // 7 December 2026 is a Monday
      EXPECT_EQ(ScheduleMatches(e, At(d, 21, 30, 10)), d == 7) << value << " on the " << d;
  }
}

TEST(ScheduleMatchTest, RoutinelyWindowEndingBeforeItStartsRunsAcrossMidnight) {
  ScheduleEntry e = Entry("4|22:00:00|02:00:00|00:30:00|");
  std::set<std::pair<int, int>> matched;
  for (int h = 0; h < 24; ++h)
    for (int m = 0; m < 60; ++m)
      if (ScheduleMatches(e, At(7, h, m, 20))) matched.insert({h, m});
  std::set<std::pair<int, int>> expected = {{22, 0}, {22, 30}, {23, 0}, {23, 30}, {0, 0},
                                            {0, 30}, {1, 0},   {1, 30}};
  EXPECT_EQ(matched, expected);
  EXPECT_FALSE(ScheduleMatches(e, At(7, 22, 0, 0)));
  EXPECT_FALSE(ScheduleMatches(e, At(7, 2, 0, 0)));
  EXPECT_FALSE(ScheduleMatches(e, At(7, 1, 59, 59)));  // 01:59 is no step
  // With a step under a minute every check in the night window matches.
  ScheduleEntry any = Entry("4|23:00:00|01:00:00|00:00:00|");
  EXPECT_TRUE(ScheduleMatches(any, At(7, 23, 59, 50)));
  EXPECT_TRUE(ScheduleMatches(any, At(8, 0, 0, 0)));
  EXPECT_TRUE(ScheduleMatches(any, At(8, 0, 59, 50)));
  EXPECT_FALSE(ScheduleMatches(any, At(8, 1, 0, 0)));
  EXPECT_FALSE(ScheduleMatches(any, At(8, 12, 0, 0)));
}

TEST(ScheduleMatchTest, UnknownKindsAndUnreadableTimesNeverMatch) {
  for (int d = 1; d <= 7; ++d)
    for (int h = 0; h < 24; ++h) {
      EXPECT_FALSE(ScheduleMatches(Entry("9|08:00:00|"), At(d, h, 0, 10)));
      EXPECT_FALSE(ScheduleMatches(Entry("1|soon|"), At(d, h, 0, 10)));
      EXPECT_FALSE(ScheduleMatches(Entry(""), At(d, h, 0, 10)));
    }
}

TEST(ScheduleMatchTest, RoutinelyEveryNinetyMinutesInsideItsWindow) {
  ScheduleEntry e = Entry("4|09:00:00|18:00:00|01:30:00|");
  std::set<std::pair<int, int>> matched;
  for (int h = 0; h < 24; ++h)
    for (int m = 0; m < 60; ++m)
      for (int s : {0, 10, 50})
        if (ScheduleMatches(e, At(7, h, m, s))) matched.insert({h, m});
  std::set<std::pair<int, int>> expected = {{9, 0}, {10, 30}, {12, 0}, {13, 30}, {15, 0}, {16, 30}};
  EXPECT_EQ(matched, expected);
  // The window is open at both ends: not at 09:00:00 itself, never at 18:00.
  EXPECT_FALSE(ScheduleMatches(e, At(7, 9, 0, 0)));
  EXPECT_TRUE(ScheduleMatches(e, At(7, 9, 0, 1)));
  EXPECT_FALSE(ScheduleMatches(e, At(7, 18, 0, 30)));
}

TEST(ScheduleMatchTest, RoutinelyWithSecondsInItsStep) {
  // Every 1:30 (minutes and seconds) from 10:00:00: 10:01:30, 10:03:00, 10:04:30 ...
  ScheduleEntry e = Entry("4|10:00:00|11:00:00|00:01:30|");
  EXPECT_TRUE(ScheduleMatches(e, At(7, 10, 1, 45)));
  EXPECT_TRUE(ScheduleMatches(e, At(7, 10, 3, 5)));
  EXPECT_FALSE(ScheduleMatches(e, At(7, 10, 2, 30)));
}

TEST(ScheduleMatchTest, RoutinelyStepUnderAMinuteMatchesEveryCheckInTheWindow) {
  ScheduleEntry e = Entry("4|09:00:00|18:00:00|00:00:30|");
  EXPECT_TRUE(ScheduleMatches(e, At(7, 9, 0, 10)));
  EXPECT_TRUE(ScheduleMatches(e, At(7, 13, 17, 40)));
  EXPECT_TRUE(ScheduleMatches(e, At(7, 17, 59, 59)));
  EXPECT_FALSE(ScheduleMatches(e, At(7, 18, 0, 0)));
  EXPECT_FALSE(ScheduleMatches(e, At(7, 8, 59, 59)));
}

TEST(DueCheckTest, DailyStartsOnceInItsMinute) {
  Fixture f("Schedule0=1|08:00:00|\n");
  // Every check from 07:59:00 to 08:01:50, as if each run ended at once and
  // the timer kept going.
  auto starts = f.Run(At(7, 7, 59, 0), 180);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0], At(7, 8, 0, 0));
  EXPECT_EQ(f.settings.ReadText(kParserScheduleSection, "Schedule0"), "1|08:00:00|2026-12-07 08:00:00");
  // The next day it starts again.
  EXPECT_EQ(f.Run(At(8, 7, 59, 55), 120).size(), 1u);
}

TEST(DueCheckTest, StampFromAnotherProcessGuardsTheMinute) {
  // A fresh service (no memory of its own starts) sees the stamp in the file.
  Fixture f("Schedule0=1|08:00:00|2026-12-07 08:00:03\n");
  EXPECT_TRUE(f.Run(At(7, 8, 0, 20), 40).empty());
  // The same minute a year on is not guarded.
  Fixture g("Schedule0=1|08:00:00|2025-12-07 08:00:03\n");
  EXPECT_EQ(g.Run(At(7, 8, 0, 20), 40).size(), 1u);
}

TEST(DueCheckTest, StepUnderAMinuteStartsOnceAMinute) {
  Fixture f("Schedule0=4|09:00:00|18:00:00|00:00:30|\n");
  auto starts = f.Run(At(7, 9, 0, 0), 300);
  ASSERT_EQ(starts.size(), 5u);
  EXPECT_EQ(starts[0], At(7, 9, 0, 10));  // 09:00:00 itself is outside the window
  EXPECT_EQ(starts[4], At(7, 9, 4, 0));
}

TEST(DueCheckTest, FirstMatchingEntryDecides) {
  Fixture f("Schedule0=1|08:00:00|\nSchedule1=1|08:00:00|\n");
  auto starts = f.Run(At(7, 8, 0, 0), 60);
  EXPECT_EQ(starts.size(), 1u);
  EXPECT_EQ(f.settings.ReadText(kParserScheduleSection, "Schedule1"), "1|08:00:00|");
}

TEST(DueCheckTest, ChangesToTheSectionAreSeenAtTheNextCheck) {
  Fixture f("Schedule0=1|08:00:00|\n");
  f.now = At(7, 9, 15, 0);
  EXPECT_FALSE(f.check.Check());
  f.settings.ReplaceSection(kParserScheduleSection, {{"Schedule0", "1|09:15:00|"}});
  EXPECT_EQ(f.check.Check(), "Schedule0");
}

TEST(DueCheckTest, UnreadableEntriesNeverRunAndAreLoggedOnce) {
  Fixture f("Schedule0=1|25:61:00|\nSchedule1=1|08:00:00\nSchedule2=garbage\nSchedule3=1|08:00:00|\n");
  std::vector<std::string> log;
  DueCheck check(f.settings, kParserScheduleSection, [&f] { return f.now; },
                 [&log](const std::string& line) { log.push_back(line); });
  std::vector<DateTime> starts;
  for (int s = 0; s < 300; s += 10) {
    f.now = Plus(At(7, 7, 58, 0), s);
    if (auto key = check.Check()) {
      EXPECT_EQ(*key, "Schedule3");  // the readable one behind them still runs
      starts.push_back(f.now);
    }
  }
  EXPECT_EQ(starts.size(), 1u);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_NE(log[0].find("Schedule0=1|25:61:00|"), std::string::npos) << log[0];
  EXPECT_NE(log[1].find("Schedule1=1|08:00:00"), std::string::npos) << log[1];
  EXPECT_NE(log[2].find("Schedule2=garbage"), std::string::npos) << log[2];
  EXPECT_EQ(f.settings.ReadText(kParserScheduleSection, "Schedule0"), "1|25:61:00|");
  // Changed by hand, and still wrong: said once more.
  f.settings.WriteText(kParserScheduleSection, "Schedule0", "1|26:00:00|");
  check.Check();
  check.Check();
  EXPECT_EQ(log.size(), 4u);
}

TEST(DueCheckTest, StampThatCannotBeWrittenIsLoggedAndTheGuardStillHolds) {
  Fixture f("Schedule0=1|08:00:00|\n");
  std::vector<std::string> log;
  DueCheck check(f.settings, kParserScheduleSection, [&f] { return f.now; },
                 [&log](const std::string& line) { log.push_back(line); });
  std::filesystem::create_directory(f.dir.File(".ORVO.ini.lock"));  // no writer gets the lock
  int starts = 0;
  for (int s = 0; s < 60; s += 10) {
    f.now = Plus(At(7, 8, 0, 0), s);
    if (check.Check()) ++starts;
  }
  EXPECT_EQ(starts, 1);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("Can not write the last start of Schedule0"), std::string::npos) << log[0];
}

TEST(DueCheckTest, NothingDueInAnEmptyOrMissingSection) {
  Fixture f("");
  EXPECT_TRUE(f.Run(At(7, 0, 0, 0), 600).empty());
  TempDir dir;
  DueCheck missing(Settings(dir.File("none.ini")), kLitScheduleSection, [] { return At(7, 8, 0, 0); });
  EXPECT_FALSE(missing.Check());
}

}  // namespace
}  // namespace orvo

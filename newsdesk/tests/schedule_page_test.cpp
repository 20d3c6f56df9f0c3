// The schedule pages write what Timekeeper reads: both sides use the same
// schedule code, and these tests hold the page to it through ORVO.ini.
#include <QComboBox>
#include <QDateTimeEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include "schedule_page.h"
#include "window_fixture.h"

namespace orvo::testing {
namespace {

class SchedulePageTest : public ReaderTest {
 protected:
  std::string Value(const char* section, const std::string& key) {
    return settings().ReadText(section, key, "<missing>");
  }
};

TEST_F(SchedulePageTest, ListTextsOfEveryKind) {
  QDate today(2026, 12, 8);
  ScheduleEntry once = ParseScheduleEntry("Schedule0", "0|2026-12-08 09:05:00|");
  EXPECT_EQ(CScheduleEditorPage::ListText(once, today), "Start today, Tuesday, December 08, 2026 at 09:05:00\"");
  EXPECT_EQ(CScheduleEditorPage::ListText(once, today.addDays(1)), "Start Tuesday, December 08, 2026 at 09:05:00");
  EXPECT_EQ(CScheduleEditorPage::ListText(ParseScheduleEntry("S", "1|08:00:00|"), today),
            "Start every day at 08:00:00");
  EXPECT_EQ(CScheduleEditorPage::ListText(ParseScheduleEntry("S", "2|21:30:00|6|"), today),
            "Start once in a week at 21:30:00, every Friday");
  EXPECT_EQ(CScheduleEditorPage::ListText(ParseScheduleEntry("S", "2|21:30:00|9|"), today),
            "Start once in a week at 21:30:00, every Monday");
  EXPECT_EQ(CScheduleEditorPage::ListText(ParseScheduleEntry("S", "3|07:00:00|15|"), today),
            "Start every 15 day of the month at 07:00:00");
  EXPECT_EQ(CScheduleEditorPage::ListText(ParseScheduleEntry("S", "4|09:00:00|18:00:00|01:30:00|"), today),
            "Start from 09:00:00 till 18:00:00 every 01:30:00 hh:mm:ss");
  EXPECT_EQ(CScheduleEditorPage::ListText(ParseScheduleEntry("S", "7|whatever|"), today), "");
}

TEST_F(SchedulePageTest, SavingWritesWhatTheServiceReads) {
  Settings s = settings();
  s.WriteText(kParserScheduleSection, "Schedule0", "1|08:00:00|12/07/2026 08:00:04");
  s.WriteText(kParserScheduleSection, "Schedule1", "2|21:30:00|1|");
  s.WriteText(kParserScheduleSection, "Schedule2", "7|anything|");
  CScheduleEditorPage page(CScheduleEditorPage::kParser);
  page.show();
  ASSERT_EQ(page.list()->count(), 3);
  EXPECT_EQ(page.list()->item(1)->text(), "Start once in a week at 21:30:00, every Sunday");
  EXPECT_EQ(page.list()->item(2)->text(), "");
  EXPECT_FALSE(page.deleteButton()->isEnabled());

  // Delete Schedule0, then New reuses its number.
  page.list()->setCurrentRow(0);
  EXPECT_TRUE(page.deleteButton()->isEnabled());
  AnswerMessageBox(QMessageBox::Ok);
  page.DeleteSelected();
  ASSERT_EQ(page.list()->count(), 2);
  page.NewEntry();
  ASSERT_EQ(page.list()->count(), 3);
  EXPECT_EQ(page.list()->currentRow(), 2);
  EXPECT_EQ(page.entries().back().key, "Schedule0");
  EXPECT_EQ(page.list()->item(2)->text(), "Start every day at 00:00:00");

  // Make the new one Weekly on Sunday at 06:15.
  page.kindCombo()->setCurrentIndex(2);
  emit page.kindCombo()->activated(2);
  EXPECT_TRUE(page.weekdayCombo()->isVisibleTo(&page));
  EXPECT_FALSE(page.dayOfMonth()->isVisibleTo(&page));
  page.startEdit()->setTime(QTime(6, 15, 0));
  page.weekdayCombo()->setCurrentIndex(6);
  emit page.weekdayCombo()->activated(6);
  EXPECT_EQ(page.list()->item(2)->text(), "Start once in a week at 06:15:00, every Sunday");
  EXPECT_TRUE(page.modified());

  page.ApplyIfLoaded();
  IniEntries written = settings().ReadSection(kParserScheduleSection);
  ASSERT_EQ(written.size(), 3u);
  EXPECT_EQ(Value(kParserScheduleSection, "Schedule1"), "2|21:30:00|1|");
  EXPECT_EQ(Value(kParserScheduleSection, "Schedule2"), "");  // kind 7 round-trips empty
  EXPECT_EQ(Value(kParserScheduleSection, "Schedule0"), "2|06:15:00|1|");  // stamp gone, Sunday is 1
  EXPECT_TRUE(settings().ReadSection(kLitScheduleSection).empty());
  // What the service reads back.
  std::vector<ScheduleEntry> read = ReadSchedules(settings(), kParserScheduleSection, kServiceSectionBuffer);
  ASSERT_EQ(read.size(), 3u);
  EXPECT_EQ(read[2].kind, kWeekly);
  EXPECT_EQ(read[2].day, 1);
}

TEST_F(SchedulePageTest, UnreadableEntriesAreShownAsSuchAndKeptUntilEdited) {
  Settings s = settings();
  s.ReplaceSection(kParserScheduleSection, {{"Schedule0", "1|25:61:00|"},
                                            {"Schedule1", "1|08:00:00"},
                                            {"Schedule2", "garbage"},
                                            {"Schedule3", "1|06:00:00|2026-12-07 06:00:03"}});
  CScheduleEditorPage page(CScheduleEditorPage::kParser);
  page.show();
  ASSERT_EQ(page.list()->count(), 4);
  EXPECT_EQ(page.list()->item(0)->text(), "Cannot be read, never starts: Schedule0=1|25:61:00|");
  EXPECT_EQ(page.list()->item(1)->text(), "Cannot be read, never starts: Schedule1=1|08:00:00");
  EXPECT_EQ(page.list()->item(2)->text(), "Cannot be read, never starts: Schedule2=garbage");
  EXPECT_FALSE(page.list()->item(0)->toolTip().isEmpty());
  EXPECT_EQ(page.list()->item(3)->text(), "Start every day at 06:00:00");

  // Looking at one and saving changes nothing of it.
  page.list()->setCurrentRow(0);
  page.list()->setCurrentRow(1);
  page.ApplyIfLoaded();
  IniEntries expected = {{"Schedule0", "1|25:61:00|"},
                         {"Schedule1", "1|08:00:00"},
                         {"Schedule2", "garbage"},
                         {"Schedule3", "1|06:00:00|"}};
  EXPECT_EQ(settings().ReadSection(kParserScheduleSection), expected);

  // Setting its time makes it a schedule again, written as the controls show it.
  page.list()->setCurrentRow(0);
  page.startEdit()->setTime(QTime(7, 45, 0));
  EXPECT_EQ(page.list()->item(0)->text(), "Start every day at 07:45:00");
  page.ApplyIfLoaded();
  EXPECT_EQ(Value(kParserScheduleSection, "Schedule0"), "1|07:45:00|");
  EXPECT_EQ(Value(kParserScheduleSection, "Schedule2"), "garbage");
}

TEST_F(SchedulePageTest, RoutinelyAndMonthlyControls) {
  CScheduleEditorPage page(CScheduleEditorPage::kLitGenerator);
  page.show();
  page.NewEntry();
  page.kindCombo()->setCurrentIndex(4);
  emit page.kindCombo()->activated(4);
  EXPECT_TRUE(page.intervalEdit()->isVisibleTo(&page));
  EXPECT_TRUE(page.endEdit()->isVisibleTo(&page));
  EXPECT_FALSE(page.weekdayCombo()->isVisibleTo(&page));
  page.startEdit()->setTime(QTime(9, 0));
  page.endEdit()->setTime(QTime(18, 0));
  page.intervalEdit()->setTime(QTime(1, 30));
  page.ApplyIfLoaded();
  EXPECT_EQ(Value(kLitScheduleSection, "Schedule0"), "4|09:00:00|18:00:00|01:30:00|");

  page.kindCombo()->setCurrentIndex(3);
  emit page.kindCombo()->activated(3);
  EXPECT_EQ(page.dayOfMonth()->value(), 1);
  EXPECT_FALSE(page.intervalEdit()->isVisibleTo(&page));
  page.dayOfMonth()->setValue(31);
  page.ApplyIfLoaded();
  EXPECT_EQ(Value(kLitScheduleSection, "Schedule0"), "3|09:00:00|31|");
}

}  // namespace
}  // namespace orvo::testing

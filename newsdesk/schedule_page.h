// The two schedule pages of the Options sheet: "Parser Schedule" (section
// ParserSchedule, when to download) and "PocketPC files generator schedule"
// (section LitSchedule, when to make eBooks). One class, two sections. The
// entries are read and written by the schedule code Timekeeper itself uses.
#pragma once

#include <QDate>

#include <vector>

#include "options_sheet.h"
#include "schedule.h"

class QComboBox;
class QDateTimeEdit;
class QLabel;
class QListWidget;
class QPushButton;
class QTimeEdit;

namespace orvo {

class CScheduleEditorPage : public OptionsPage {
  Q_OBJECT
 public:
  enum Which { kParser, kLitGenerator };
  explicit CScheduleEditorPage(Which which, QWidget* parent = nullptr);

  const char* section() const;
  // The list line of an entry; `today` decides between the two Once texts.
  static QString ListText(const ScheduleEntry& entry, const QDate& today);

  QListWidget* list() const { return list_; }
  QPushButton* newButton() const { return new_; }
  QPushButton* deleteButton() const { return delete_; }
  QComboBox* kindCombo() const { return kind_; }
  QDateTimeEdit* startEdit() const { return start_; }
  QTimeEdit* intervalEdit() const { return interval_; }
  QTimeEdit* endEdit() const { return end_; }
  QComboBox* weekdayCombo() const { return weekday_; }
  QSpinBox* dayOfMonth() const { return monthDay_; }
  const std::vector<ScheduleEntry>& entries() const { return entries_; }

  void NewEntry();
  // Asks "Delete event?" first.
  void DeleteSelected();

 protected:
  void Load() override;
  void Apply() override;

 private:
  // The entry shown on list line `row`; null when none.
  ScheduleEntry* EntryAt(int row);
  void OnRowChanged(int row);
  void ShowKindControls(int kind);
  void ChangeKind(int kind);
  // The entry on the current line changed: its line is written anew.
  void Refresh();

  Which which_;
  std::vector<ScheduleEntry> entries_;
  std::vector<int> rows_;  // list line of each entry, -1 once deleted
  bool updating_ = false;

  QListWidget* list_;
  QPushButton* new_;
  QPushButton* delete_;
  QComboBox* kind_;
  QDateTimeEdit* start_;
  QTimeEdit* interval_;
  QTimeEdit* end_;
  QComboBox* weekday_;
  QSpinBox* monthDay_;
  QLabel* kindLabel_;  // "Daily", "Weekly", "Monthly"
  QLabel* atLabel_;
  QLabel* dayLabel_;
  QLabel* everyLabel_;
  QLabel* endLabel_;
};

}  // namespace orvo

#include "schedule_page.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "translator.h"

namespace orvo {

namespace {

const char* const kWeekdays[] = {
    QT_TRANSLATE_NOOP("orvo::CScheduleEditorPage", "Monday"),
    QT_TRANSLATE_NOOP("orvo::CScheduleEditorPage", "Tuesday"),
    QT_TRANSLATE_NOOP("orvo::CScheduleEditorPage", "Wednesday"),
    QT_TRANSLATE_NOOP("orvo::CScheduleEditorPage", "Thursday"),
    QT_TRANSLATE_NOOP("orvo::CScheduleEditorPage", "Friday"),
    QT_TRANSLATE_NOOP("orvo::CScheduleEditorPage", "Saturday"),
    QT_TRANSLATE_NOOP("orvo::CScheduleEditorPage", "Sunday"),
};

QDateTime ToQt(const std::optional<DateTime>& t) {
  DateTime d = t.value_or(DateTime());
  return QDateTime(QDate(d.year, d.month, d.day), QTime(d.hour, d.minute, d.second));
}

DateTime FromQt(const QDateTime& q) {
  return DateTime::At(q.date().year(), q.date().month(), q.date().day(), q.time().hour(), q.time().minute(),
                      q.time().second());
}

QString Clock(const std::optional<DateTime>& t) { return ToQt(t).time().toString("HH:mm:ss"); }

}  // namespace

CScheduleEditorPage::CScheduleEditorPage(Which which, QWidget* parent) : OptionsPage(parent), which_(which) {
  setObjectName(which == kParser ? "COptionsPSPage" : "COptionsLitGSPage");
  list_ = new QListWidget(this);
  new_ = new QPushButton(tr("New"), this);
  delete_ = new QPushButton(tr("Delete"), this);
  kind_ = new QComboBox(this);
  kind_->addItems({tr("Once"), tr("Daily"), tr("Weekly"), tr("Monthly"), tr("Routinely")});
  start_ = new QDateTimeEdit(this);
  start_->setCalendarPopup(true);
  interval_ = new QTimeEdit(this);
  end_ = new QTimeEdit(this);
  for (QDateTimeEdit* e : {static_cast<QDateTimeEdit*>(interval_), static_cast<QDateTimeEdit*>(end_)})
    e->setDisplayFormat("HH:mm:ss");
  weekday_ = new QComboBox(this);
  for (const char* d : kWeekdays) weekday_->addItem(tr(d));
  monthDay_ = new QSpinBox(this);
  monthDay_->setRange(1, 31);
  kindLabel_ = new QLabel(this);
  atLabel_ = new QLabel(tr("at"), this);
  dayLabel_ = new QLabel(tr("day"), this);
  everyLabel_ = new QLabel(tr("Every"), this);
  endLabel_ = new QLabel(tr("End time:"), this);
  endLabel_->setBuddy(end_);
  // Screen readers name each field by its label.
  everyLabel_->setBuddy(interval_);
  atLabel_->setBuddy(interval_);
  dayLabel_->setBuddy(monthDay_);
  list_->setAccessibleName(tr("Schedulers"));
  start_->setAccessibleName(tr("Start"));
  weekday_->setAccessibleName(tr("Day of the week"));

  connect(new_, &QPushButton::clicked, this, &CScheduleEditorPage::NewEntry);
  connect(delete_, &QPushButton::clicked, this, &CScheduleEditorPage::DeleteSelected);
  connect(list_, &QListWidget::currentRowChanged, this, &CScheduleEditorPage::OnRowChanged);
  connect(kind_, &QComboBox::activated, this, &CScheduleEditorPage::ChangeKind);
  connect(start_, &QDateTimeEdit::dateTimeChanged, this, [this](const QDateTime& value) {
    ScheduleEntry* e = EntryAt(list_->currentRow());
    if (updating_ || !e) return;
    if (e->kind == kOnce) {
      e->start = FromQt(value);
    } else {
      // Only the time of day counts; the date stays as it was.
      DateTime t = e->start.value_or(DateTime());
      t.hour = value.time().hour();
      t.minute = value.time().minute();
      t.second = value.time().second();
      e->start = t;
    }
    Refresh();
  });
  connect(interval_, &QTimeEdit::timeChanged, this, [this](QTime t) {
    ScheduleEntry* e = EntryAt(list_->currentRow());
    if (updating_ || !e) return;
    e->every = DateTime::TimeOfDay(t.hour(), t.minute(), t.second());
    Refresh();
  });
  connect(end_, &QTimeEdit::timeChanged, this, [this](QTime t) {
    ScheduleEntry* e = EntryAt(list_->currentRow());
    if (updating_ || !e) return;
    e->till = DateTime::TimeOfDay(t.hour(), t.minute(), t.second());
    Refresh();
  });
  connect(weekday_, &QComboBox::activated, this, [this](int index) {
    ScheduleEntry* e = EntryAt(list_->currentRow());
    if (updating_ || !e) return;
    e->day = WeekdayIndexToDay(index);
    Refresh();
  });
  connect(monthDay_, &QSpinBox::valueChanged, this, [this](int day) {
    ScheduleEntry* e = EntryAt(list_->currentRow());
    if (updating_ || !e) return;
    e->day = day;
    Refresh();
  });

  auto* left = new QVBoxLayout;
  auto* listLabel = new QLabel(tr("Schedulers:"));
  listLabel->setBuddy(list_);
  list_->setAccessibleName(tr("Schedulers"));
  left->addWidget(listLabel);
  left->addWidget(list_, 1);
  auto* listButtons = new QHBoxLayout;
  listButtons->addWidget(new_);
  listButtons->addWidget(delete_);
  listButtons->addStretch();
  left->addLayout(listButtons);

  auto* editor = new QGridLayout;
  auto* kindCaption = new QLabel(tr("Schedule task:"));
  kindCaption->setBuddy(kind_);
  editor->addWidget(kindCaption, 0, 0);
  editor->addWidget(kind_, 0, 1);
  editor->addWidget(start_, 0, 2);
  editor->addWidget(kindLabel_, 1, 0);
  editor->addWidget(everyLabel_, 1, 0);
  editor->addWidget(atLabel_, 1, 1);
  editor->addWidget(interval_, 1, 2);
  editor->addWidget(weekday_, 2, 1);
  editor->addWidget(dayLabel_, 2, 0);
  editor->addWidget(monthDay_, 2, 2);
  editor->addWidget(endLabel_, 3, 0);
  editor->addWidget(end_, 3, 1);
  editor->setRowStretch(4, 1);

  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 3);
  layout->addLayout(editor, 2);
  OnRowChanged(-1);
}

const char* CScheduleEditorPage::section() const {
  return which_ == kParser ? kParserScheduleSection : kLitScheduleSection;
}

QString CScheduleEditorPage::ListText(const ScheduleEntry& e, const QDate& today) {
  QLocale c = TextLocale();
  // Shown as it stands in the file, so nobody takes it for a schedule that runs.
  if (!e.problem.empty())
    return tr("Cannot be read, never starts: %1=%2")
        .arg(QString::fromStdString(e.key), QString::fromStdString(e.value));
  switch (e.kind) {
    case kOnce: {
      QDateTime at = ToQt(e.start);
      QString date = c.toString(at.date(), tr("dddd, MMMM dd, yyyy", "date format of a one-time schedule"));
      QString time = at.time().toString("HH:mm:ss");
      if (at.date() == today) return tr("Start today, %1 at %2\"").arg(date, time);
      return tr("Start %1 at %2").arg(date, time);
    }
    case kDaily:
      return tr("Start every day at %1").arg(Clock(e.start));
    case kWeekly: {
      int index = DayToWeekdayIndex(e.day);
      if (index < 0 || index > 6) index = 0;
      return tr("Start once in a week at %1, every %2").arg(Clock(e.start), tr(kWeekdays[index]));
    }
    case kMonthly:
      return tr("Start every %1 day of the month at %2").arg(e.day).arg(Clock(e.start));
    case kRoutinely:
      return tr("Start from %1 till %2 every %3 hh:mm:ss").arg(Clock(e.start), Clock(e.till), Clock(e.every));
    default:
      return QString();
  }
}

void CScheduleEditorPage::Load() {
  entries_ = ReadSchedules(Settings::Shared(), section());
  rows_.clear();
  updating_ = true;
  list_->clear();
  for (size_t i = 0; i < entries_.size(); ++i) {
    rows_.push_back(static_cast<int>(i));
    list_->addItem(ListText(entries_[i], QDate::currentDate()));
    if (!entries_[i].problem.empty()) list_->item(static_cast<int>(i))->setToolTip(QString::fromStdString(entries_[i].problem));
  }
  updating_ = false;
  OnRowChanged(-1);
}

void CScheduleEditorPage::Apply() {
  // Deleted entries carry their mark; the writer leaves them out.
  WriteSchedules(Settings::Shared(), section(), entries_);
}

ScheduleEntry* CScheduleEditorPage::EntryAt(int row) {
  if (row < 0) return nullptr;
  for (size_t i = 0; i < entries_.size(); ++i)
    if (rows_[i] == row && !entries_[i].deleted) return &entries_[i];
  return nullptr;
}

void CScheduleEditorPage::ShowKindControls(int kind) {
  bool any = kind >= 0;
  kindLabel_->setVisible(kind == kDaily || kind == kWeekly || kind == kMonthly);
  kindLabel_->setText(kind == kDaily ? tr("Daily") : kind == kWeekly ? tr("Weekly") : tr("Monthly"));
  atLabel_->setVisible(kind == kWeekly || kind == kMonthly);
  weekday_->setVisible(kind == kWeekly);
  dayLabel_->setVisible(kind == kMonthly);
  monthDay_->setVisible(kind == kMonthly);
  everyLabel_->setVisible(kind == kRoutinely);
  interval_->setVisible(kind == kRoutinely);
  endLabel_->setVisible(kind == kRoutinely);
  end_->setVisible(kind == kRoutinely);
  start_->setDisplayFormat(kind == kOnce ? "yyyy-MM-dd HH:mm:ss" : "HH:mm:ss");
  kind_->setEnabled(any);
  start_->setEnabled(any);
  delete_->setEnabled(any);
}

void CScheduleEditorPage::OnRowChanged(int row) {
  if (updating_) return;
  ScheduleEntry* e = EntryAt(row);
  updating_ = true;
  if (!e) {
    ShowKindControls(-1);
    start_->setDateTime(ToQt(std::nullopt));
    updating_ = false;
    return;
  }
  kind_->setCurrentIndex(e->kind >= 0 && e->kind <= 4 ? e->kind : -1);
  start_->setDateTime(ToQt(e->start));
  interval_->setTime(ToQt(e->every).time());
  end_->setTime(ToQt(e->till).time());
  // The stored day is shown, so that the controls agree with the list line.
  int index = DayToWeekdayIndex(e->day);
  weekday_->setCurrentIndex(index >= 0 && index <= 6 ? index : 0);
  monthDay_->setValue(std::clamp(e->day, 1, 31));
  ShowKindControls(e->kind >= 0 && e->kind <= 4 ? e->kind : 99);
  kind_->setEnabled(true);
  start_->setEnabled(true);
  delete_->setEnabled(true);
  updating_ = false;
}

void CScheduleEditorPage::ChangeKind(int kind) {
  ScheduleEntry* e = EntryAt(list_->currentRow());
  if (!e) return;
  e->kind = kind;
  e->every = DateTime();
  switch (kind) {
    case kWeekly: e->day = WeekdayIndexToDay(0); break;
    case kRoutinely: e->day = 0; break;
    default: e->day = 1; break;
  }
  if (kind == kRoutinely && !e->till) e->till = DateTime();
  Refresh();
  OnRowChanged(list_->currentRow());
}

void CScheduleEditorPage::Refresh() {
  int row = list_->currentRow();
  ScheduleEntry* e = EntryAt(row);
  if (!e) return;
  // Edited: from now on the entry is what the controls say.
  if (e->kind >= kOnce && e->kind <= kRoutinely) e->problem.clear();
  updating_ = true;
  delete list_->takeItem(row);
  list_->insertItem(row, ListText(*e, QDate::currentDate()));
  list_->setCurrentRow(row);
  updating_ = false;
  SetModified();
}

void CScheduleEditorPage::NewEntry() {
  ScheduleEntry e;
  e.key = NewScheduleKey(entries_);
  e.kind = kDaily;
  QDate today = QDate::currentDate();
  e.start = DateTime::At(today.year(), today.month(), today.day());
  e.day = 1;
  entries_.push_back(e);
  rows_.push_back(list_->count());
  updating_ = true;
  list_->addItem(ListText(e, today));
  updating_ = false;
  list_->setCurrentRow(list_->count() - 1);
  SetModified();
}

void CScheduleEditorPage::DeleteSelected() {
  int row = list_->currentRow();
  ScheduleEntry* e = EntryAt(row);
  if (!e) return;
  if (QMessageBox::question(this, QString(), tr("Delete event?"), QMessageBox::Ok | QMessageBox::Cancel) !=
      QMessageBox::Ok)
    return;
  e->deleted = true;
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (rows_[i] == row) rows_[i] = -1;
    else if (rows_[i] > row) --rows_[i];
  }
  updating_ = true;
  delete list_->takeItem(row);
  updating_ = false;
  int next = std::min(row, list_->count() - 1);
  list_->setCurrentRow(next);
  OnRowChanged(next);
  SetModified();
}

}  // namespace orvo

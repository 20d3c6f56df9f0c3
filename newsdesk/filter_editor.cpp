#include "filter_editor.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "check_trees.h"
#include "like.h"

namespace orvo {

namespace {
constexpr int kNameLimit = 20;

std::time_t ToTime(const QDate& date) { return QDateTime(date, QTime(0, 0)).toSecsSinceEpoch(); }
QDate ToDate(std::time_t t) { return QDateTime::fromSecsSinceEpoch(t).date(); }

// The wait cursor while the database works.
struct WaitCursor {
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};
}  // namespace

CFilterEditor::CFilterEditor(Vault& vault, int32_t filterId, QWidget* parent)
    : QDialog(parent), vault_(vault), filterId_(filterId) {
  setWindowTitle(tr("Edit Filter"));
  setObjectName("CFilterEditor");

  name_ = new QLineEdit(this);
  name_->setMaxLength(kNameLimit);
  keywords_ = new QLineEdit(this);
  mode_ = new QComboBox(this);
  mode_->addItems({tr("All words"), tr("Any word"), tr("Exact phrase")});
  including_ = new QRadioButton(tr("Including"), this);
  excluding_ = new QRadioButton(tr("Excluding"), this);
  auto* sense = new QButtonGroup(this);
  sense->addButton(including_);
  sense->addButton(excluding_);
  including_->setChecked(true);

  timeNone_ = new QRadioButton(tr("None"), this);
  timeDates_ = new QRadioButton(tr("Search news:"), this);
  timePeriod_ = new QRadioButton(tr("Search period:"), this);
  auto* timeGroup = new QButtonGroup(this);
  for (QRadioButton* b : {timeNone_, timeDates_, timePeriod_}) {
    timeGroup->addButton(b);
    connect(b, &QRadioButton::toggled, this, &CFilterEditor::UpdateTimeControls);
  }
  from_ = new QDateEdit(QDate::currentDate(), this);
  to_ = new QDateEdit(QDate::currentDate(), this);
  for (QDateEdit* d : {from_, to_}) d->setCalendarPopup(true);
  days_ = new QSpinBox(this);
  days_->setRange(0, 100);
  hours_ = new QSpinBox(this);
  hours_->setRange(0, 23);
  minutes_ = new QSpinBox(this);
  minutes_->setRange(0, 59);

  sitesTree_ = new QTreeWidget(this);
  sitesTree_->setObjectName("SitesTree");
  categoriesTree_ = new QTreeWidget(this);
  categoriesTree_->setObjectName("CategoriesTree");
  allSites_ = new QCheckBox(tr("All"), this);
  allCategories_ = new QCheckBox(tr("All"), this);
  trees_ = new CheckTrees(sitesTree_, categoriesTree_, allSites_, allCategories_, this);
  lit_ = new QCheckBox(tr("Use filter in .lit files generation"), this);

  findNow_ = new QPushButton(tr("&Find now"), this);
  save_ = new QPushButton(tr("Save Filter"), this);
  ok_ = new QPushButton(tr("&OK"), this);
  close_ = new QPushButton(tr("&Close"), this);
  ok_->setDefault(true);
  connect(findNow_, &QPushButton::clicked, this, &CFilterEditor::FindNow);
  connect(save_, &QPushButton::clicked, this, &CFilterEditor::SaveFilter);
  connect(ok_, &QPushButton::clicked, this, &CFilterEditor::SaveAndClose);
  connect(close_, &QPushButton::clicked, this, &CFilterEditor::reject);

  // Layout: what to look for on the left, where on the right.
  auto* form = new QGridLayout;
  // Each label is its field's buddy, so screen readers name the fields.
  auto labelFor = [](const QString& text, QWidget* field) {
    auto* label = new QLabel(text);
    label->setBuddy(field);
    return label;
  };
  form->addWidget(labelFor(tr("Filter name:"), name_), 0, 0);
  form->addWidget(name_, 0, 1, 1, 2);
  form->addWidget(labelFor(tr("Search for:"), keywords_), 1, 0);
  form->addWidget(keywords_, 1, 1, 1, 2);
  form->addWidget(labelFor(tr("Search using"), mode_), 2, 0);
  form->addWidget(mode_, 2, 1);
  auto* senseRow = new QHBoxLayout;
  senseRow->addWidget(including_);
  senseRow->addWidget(excluding_);
  senseRow->addStretch();
  form->addLayout(senseRow, 3, 1, 1, 2);

  auto* time = new QGroupBox(tr("Time restrictions:"), this);
  auto* timeLayout = new QGridLayout(time);
  timeLayout->addWidget(timeNone_, 0, 0);
  timeLayout->addWidget(timeDates_, 1, 0);
  timeLayout->addWidget(labelFor(tr("from:"), from_), 1, 1);
  timeLayout->addWidget(from_, 1, 2);
  timeLayout->addWidget(labelFor(tr("to:"), to_), 1, 3);
  timeLayout->addWidget(to_, 1, 4);
  timeLayout->addWidget(timePeriod_, 2, 0);
  auto* period = new QHBoxLayout;
  // The unit after each number names it.
  period->addWidget(days_);
  period->addWidget(labelFor(tr("days"), days_));
  period->addWidget(hours_);
  period->addWidget(labelFor(tr("hours"), hours_));
  period->addWidget(minutes_);
  period->addWidget(labelFor(tr("min"), minutes_));
  timeLayout->addLayout(period, 2, 1, 1, 4);

  auto* left = new QVBoxLayout;
  left->addLayout(form);
  left->addWidget(time);
  left->addWidget(lit_);
  left->addStretch();

  auto* trees = new QGridLayout;
  sitesTree_->setAccessibleName(tr("Search sites"));
  categoriesTree_->setAccessibleName(tr("Search categories"));
  trees->addWidget(labelFor(tr("Search sites:"), sitesTree_), 0, 0);
  trees->addWidget(allSites_, 0, 1, Qt::AlignRight);
  trees->addWidget(sitesTree_, 1, 0, 1, 2);
  trees->addWidget(labelFor(tr("Search categories:"), categoriesTree_), 2, 0);
  trees->addWidget(allCategories_, 2, 1, Qt::AlignRight);
  trees->addWidget(categoriesTree_, 3, 0, 1, 2);

  auto* top = new QHBoxLayout;
  top->addLayout(left, 3);
  top->addLayout(trees, 2);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(findNow_);
  buttons->addStretch();
  buttons->addWidget(save_);
  buttons->addWidget(ok_);
  buttons->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(buttons);
  resize(720, 460);

  Load();
}

CFilterEditor::~CFilterEditor() = default;

void CFilterEditor::Load() {
  VaultLock lock(vault_.lock);
  trees_->Load(vault_.db, 1, false);
  mode_->setCurrentIndex(0);
  timeNone_->setChecked(true);
  const CFilterStruct* f = filterId_ >= 0 ? vault_.db.FetchFilter(filterId_) : nullptr;
  if (!f) {
    filterId_ = -1;
    trees_->SetAll(true);
    UpdateTimeControls();
    return;
  }
  name_->setText(QString::fromStdString(f->name));
  // Stored escaped; shown as typed, so that saving again does not escape twice.
  keywords_->setText(QString::fromStdString(LikeUnescape(f->keywords)));
  bool excluding = f->searchMode > 2;
  (excluding ? excluding_ : including_)->setChecked(true);
  mode_->setCurrentIndex(std::clamp(excluding ? f->searchMode - 3 : f->searchMode, 0, 2));
  (f->timeKind == 1 ? timeDates_ : f->timeKind == 2 ? timePeriod_ : timeNone_)->setChecked(true);
  if (f->from) from_->setDate(ToDate(f->from));
  if (f->to) to_->setDate(ToDate(f->to));
  days_->setValue(f->days);
  hours_->setValue(f->hours);
  minutes_->setValue(f->minutes);
  lit_->setChecked(f->usedInLit);
  std::vector<CheckTrees::Pair> links;
  if (vault_.db.BeginFilterSiteCatRelEnum(filterId_)) {
    while (const CFilterSiteCatRelStruct* l = vault_.db.EnumNextFilterSiteCatRel())
      links.emplace_back(l->categoryId, l->siteId);
    vault_.db.EndFilterSiteCatRelEnum();
  }
  trees_->CheckOnly(links);
  UpdateTimeControls();
}

void CFilterEditor::UpdateTimeControls() {
  bool dates = timeDates_->isChecked();
  bool period = timePeriod_->isChecked();
  from_->setEnabled(dates);
  to_->setEnabled(dates);
  for (QSpinBox* s : {days_, hours_, minutes_}) s->setEnabled(period);
}

bool CFilterEditor::Begin() {
  long rc;
  {
    VaultLock lock(vault_.lock);
    rc = vault_.db.StartTransaction();
  }
  if (rc != 0) {
    QMessageBox box(QMessageBox::Critical, tr("ERROR"), tr("DB error"), QMessageBox::Ok, parentWidget());
    box.setInformativeText(tr("The news database is busy or cannot be written (code %1). Close other "
                              "programs that write to it, or wait for the download to end, and try again.")
                               .arg(rc));
    box.exec();
    return false;
  }
  inTransaction_ = true;
  return true;
}

bool CFilterEditor::Run() {
  if (!Begin()) return false;
  exec();
  return true;
}

bool CFilterEditor::Save() {
  CFilterStruct f;
  f.id = filterId_;
  f.name = name_->text().toStdString();
  f.keywords = LikeEscape(keywords_->text().toStdString());
  f.searchMode = mode_->currentIndex() + (excluding_->isChecked() ? 3 : 0);
  f.timeKind = timeDates_->isChecked() ? 1 : timePeriod_->isChecked() ? 2 : 0;
  f.from = ToTime(from_->date());
  f.to = ToTime(to_->date());
  f.days = days_->value();
  f.hours = hours_->value();
  f.minutes = minutes_->value();
  f.usedInLit = lit_->isChecked();
  std::vector<int32_t> categories, sites;
  for (const CheckTrees::Pair& p : trees_->Pairs(true)) {
    categories.push_back(p.first);
    sites.push_back(p.second);
  }
  WaitCursor wait;
  VaultLock lock(vault_.lock);
  // After a commit the next save opens a new transaction, so that &Close
  // still throws away whatever was not committed.
  if (!inTransaction_) inTransaction_ = vault_.db.StartTransaction() == 0;
  if (filterId_ < 0) {
    int32_t id = vault_.db.CreateFilter(f, categories.data(), sites.data(), static_cast<int>(categories.size()));
    if (id < 0) return false;
    filterId_ = id;
    return true;
  }
  return vault_.db.UpdateFilter(f, categories.data(), sites.data(), static_cast<int>(categories.size()));
}

void CFilterEditor::ReportSaveFailure() {
  int code;
  {
    VaultLock lock(vault_.lock);
    code = vault_.db.lastError();
  }
  QMessageBox::warning(this, tr("Edit Filter"),
                       tr("The filter could not be saved (database code %1). Nothing of this change was stored; "
                          "check that the news database can be written and try again.")
                           .arg(code));
}

void CFilterEditor::SaveFilter() {
  if (name_->text().trimmed().isEmpty()) {
    QMessageBox::information(this, QString(), tr("Enter name"));
    name_->setFocus();
    return;
  }
  bool saved = Save();
  {
    VaultLock lock(vault_.lock);
    if (inTransaction_) vault_.db.Commit();
    inTransaction_ = false;
  }
  if (!saved) ReportSaveFailure();
}

void CFilterEditor::SaveAndClose() {
  if (name_->text().trimmed().isEmpty()) {
    QMessageBox::information(this, QString(), tr("Enter name"));
    name_->setFocus();
    return;
  }
  bool saved = Save();
  {
    VaultLock lock(vault_.lock);
    if (inTransaction_) vault_.db.Commit();
    inTransaction_ = false;
  }
  // A failed save keeps the editor open: closing would lose the user's input.
  if (!saved) {
    ReportSaveFailure();
    return;
  }
  accept();
}

void CFilterEditor::FindNow() {
  if (!Save()) {
    ReportSaveFailure();
    return;
  }
  emit listFilterRequested(filterId_);
}

void CFilterEditor::reject() {
  {
    VaultLock lock(vault_.lock);
    if (inTransaction_) vault_.db.Abort();
    inTransaction_ = false;
  }
  QDialog::reject();
}

}  // namespace orvo

#include "filters_dialog.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "filter_editor.h"
#include "like.h"

namespace orvo {

CFiltersDialog::CFiltersDialog(Vault& vault, int32_t selectedId, QWidget* parent)
    : QDialog(parent, Qt::Window), vault_(vault) {
  setWindowTitle(tr("Filters"));
  setObjectName("CFiltersDialog");
  setModal(false);

  list_ = new QListWidget(this);
  description_ = new QPlainTextEdit(this);
  description_->setReadOnly(true);
  apply_ = new QPushButton(tr("Apply filter"), this);
  new_ = new QPushButton(tr("New"), this);
  edit_ = new QPushButton(tr("Edit"), this);
  delete_ = new QPushButton(tr("Delete"), this);
  ok_ = new QPushButton(tr("OK"), this);
  connect(apply_, &QPushButton::clicked, this, &CFiltersDialog::ApplyFilter);
  connect(new_, &QPushButton::clicked, this, &CFiltersDialog::NewFilter);
  connect(edit_, &QPushButton::clicked, this, &CFiltersDialog::EditFilter);
  connect(delete_, &QPushButton::clicked, this, &CFiltersDialog::DeleteFilter);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(list_, &QListWidget::itemSelectionChanged, this, [this] {
    ShowDescription();
    UpdateButtons();
  });
  connect(list_, &QListWidget::itemDoubleClicked, this, &CFiltersDialog::EditFilter);

  auto* left = new QVBoxLayout;
  auto* listLabel = new QLabel(tr("Filter list:"));
  listLabel->setBuddy(list_);
  list_->setAccessibleName(tr("Filter list"));
  description_->setAccessibleName(tr("Filter description"));
  left->addWidget(listLabel);
  left->addWidget(list_);
  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {apply_, new_, edit_, delete_}) buttons->addWidget(b);
  buttons->addStretch();
  buttons->addWidget(ok_);
  auto* top = new QHBoxLayout;
  top->addLayout(left, 1);
  top->addWidget(description_, 2);
  top->addLayout(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  resize(640, 340);

  apply_->setEnabled(false);
  edit_->setEnabled(false);
  delete_->setEnabled(false);
  Fill();
  if (selectedId >= 0) SelectId(selectedId);
  ShowDescription();
}

void CFiltersDialog::Fill() {
  QSignalBlocker block(list_);
  list_->clear();
  VaultLock lock(vault_.lock);
  if (!vault_.db.BeginFilterListItemEnum()) return;
  while (const CFilterListItemStruct* f = vault_.db.EnumNextFilterListItem()) {
    auto* item = new QListWidgetItem(QString::fromStdString(f->name), list_);
    item->setData(Qt::UserRole, f->id);
  }
  vault_.db.EndFilterListItemEnum();
}

bool CFiltersDialog::SelectId(int32_t id) {
  for (int i = 0; i < list_->count(); ++i) {
    if (list_->item(i)->data(Qt::UserRole).toInt() == id) {
      list_->setCurrentRow(i);
      return true;
    }
  }
  return false;
}

int32_t CFiltersDialog::selectedId() const {
  QList<QListWidgetItem*> items = list_->selectedItems();
  return items.isEmpty() ? -1 : items.first()->data(Qt::UserRole).toInt();
}

void CFiltersDialog::UpdateButtons() {
  bool any = selectedId() >= 0;
  if (!any) return;  // the buttons stay as they were until a selection
  apply_->setEnabled(true);
  edit_->setEnabled(true);
  delete_->setEnabled(true);
}

QString CFiltersDialog::Describe(CDBManager& db, int32_t filterId) {
  const CFilterStruct* found = db.FetchFilter(filterId);
  if (!found) return QString();
  CFilterStruct f = *found;
  static const char* const kModes[] = {QT_TR_NOOP("Search using: all words"), QT_TR_NOOP("Search using: any word"),
                                       QT_TR_NOOP("Search using: exact phrase")};
  int mode = f.searchMode > 2 ? f.searchMode - 3 : f.searchMode;
  QStringList lines;
  lines << tr("Keywords: ") + QString::fromStdString(LikeUnescape(f.keywords));
  lines << tr(kModes[std::clamp(mode, 0, 2)]);
  lines << tr("Search mode: ") + (f.searchMode > 2 ? tr("Excluding") : tr("Including"));
  lines << tr("Used in .lit generation:") + (f.usedInLit ? tr("Yes") : tr("No"));
  lines << QString() << tr("Sites and categories:");
  if (db.BeginFilterSiteCatRelEnum(filterId)) {
    while (const CFilterSiteCatRelStruct* l = db.EnumNextFilterSiteCatRel())
      lines << QString::fromStdString(l->siteName) + " - " + QString::fromStdString(l->categoryName);
    db.EndFilterSiteCatRelEnum();
  }
  lines << QString() << tr("Time restrictions: ");
  QString time;
  QLocale locale;
  auto date = [&](std::time_t t) {
    return locale.toString(QDateTime::fromSecsSinceEpoch(t).date(), QLocale::ShortFormat);
  };
  if (f.timeKind == 1) time = tr("from %1 to %2").arg(date(f.from), date(f.to));
  else if (f.timeKind == 2) time = tr("%1 days %2 hours %3 minutes").arg(f.days).arg(f.hours).arg(f.minutes);
  else time = tr("None");
  lines << "    " + time;
  return lines.join('\n');
}

void CFiltersDialog::ShowDescription() {
  int32_t id = selectedId();
  if (id < 0) {
    description_->clear();
    return;
  }
  VaultLock lock(vault_.lock);
  description_->setPlainText(Describe(vault_.db, id));
}

void CFiltersDialog::RunEditor(int32_t id) {
  CFilterEditor editor(vault_, id, this);
  emit editorCreated(&editor);
  if (!editor.Run()) return;
  int32_t shown = editor.filterId() >= 0 ? editor.filterId() : id;
  Fill();
  if (!SelectId(shown)) list_->clearSelection();
  ShowDescription();
  list_->setFocus();
}

void CFiltersDialog::NewFilter() { RunEditor(-1); }

void CFiltersDialog::EditFilter() {
  int32_t id = selectedId();
  if (id >= 0) RunEditor(id);
}

void CFiltersDialog::DeleteFilter() {
  int32_t id = selectedId();
  if (id < 0) return;
  if (QMessageBox::question(this, QString(), tr("Delete filter?"), QMessageBox::Ok | QMessageBox::Cancel) !=
      QMessageBox::Ok)
    return;
  bool deleted;
  {
    VaultLock lock(vault_.lock);
    deleted = vault_.db.DeleteFilter(id);
  }
  if (!deleted) {
    QMessageBox::warning(this, tr("Filters"),
                         tr("The filter could not be deleted. Check that the news database can be written and "
                            "try again."));
    return;
  }
  delete list_->takeItem(list_->row(list_->selectedItems().first()));
  if (list_->count() > 0) list_->setCurrentRow(0);
  ShowDescription();
}

void CFiltersDialog::ApplyFilter() {
  int32_t id = selectedId();
  if (id >= 0) emit applyRequested(id);
}

void CFiltersDialog::done(int result) {
  if (result == QDialog::Accepted) emit closed(false, selectedId());
  else emit closed(true, -1);
  QDialog::done(result);
}

}  // namespace orvo

// CFilterEditor: the modal "Edit Filter" dialog. It edits one filter inside a
// database transaction: Save Filter and OK commit, &Close throws away what was
// not committed, and Find now lists the filter's news without committing.
#pragma once

#include <QDialog>

#include <cstdint>

#include "vault.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTreeWidget;

namespace orvo {

class CheckTrees;
struct CFilterStruct;

class CFilterEditor : public QDialog {
  Q_OBJECT
 public:
  // `filterId` -1: a new filter.
  CFilterEditor(Vault& vault, int32_t filterId, QWidget* parent = nullptr);
  ~CFilterEditor() override;

  // Starts the transaction and runs the dialog. False when the transaction
  // cannot start ("DB error"); the dialog is not shown then.
  bool Run();
  // Starts the transaction without showing the dialog (tests drive it shown
  // with open()). False as for Run.
  bool Begin();

  // The filter being edited; -1 while it is new and not saved.
  int32_t filterId() const { return filterId_; }

  QLineEdit* nameEdit() const { return name_; }
  QLineEdit* keywordsEdit() const { return keywords_; }
  QComboBox* modeCombo() const { return mode_; }
  QRadioButton* excludingRadio() const { return excluding_; }
  QRadioButton* timeNone() const { return timeNone_; }
  QRadioButton* timeDates() const { return timeDates_; }
  QRadioButton* timePeriod() const { return timePeriod_; }
  QDateEdit* fromEdit() const { return from_; }
  QDateEdit* toEdit() const { return to_; }
  QSpinBox* daysSpin() const { return days_; }
  QSpinBox* hoursSpin() const { return hours_; }
  QSpinBox* minutesSpin() const { return minutes_; }
  QCheckBox* litCheck() const { return lit_; }
  CheckTrees* trees() const { return trees_; }
  QTreeWidget* sitesTree() const { return sitesTree_; }
  QTreeWidget* categoriesTree() const { return categoriesTree_; }
  QPushButton* findNowButton() const { return findNow_; }
  QPushButton* saveButton() const { return save_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* closeButton() const { return close_; }

 signals:
  // Find now: the grid should list this filter's news.
  void listFilterRequested(int32_t filterId);

 protected:
  void reject() override;  // &Close, Escape and the close box

 private:
  void Load();
  void UpdateTimeControls();
  // Writes the controls into the database; false when nothing was stored.
  bool Save();
  void SaveFilter();
  void SaveAndClose();
  void FindNow();
  void ReportSaveFailure();

  Vault& vault_;
  int32_t filterId_;
  bool inTransaction_ = false;

  QLineEdit* name_;
  QLineEdit* keywords_;
  QComboBox* mode_;
  QRadioButton* including_;
  QRadioButton* excluding_;
  QRadioButton* timeNone_;
  QRadioButton* timeDates_;
  QRadioButton* timePeriod_;
  QDateEdit* from_;
  QDateEdit* to_;
  QSpinBox* days_;
  QSpinBox* hours_;
  QSpinBox* minutes_;
  QTreeWidget* sitesTree_;
  QTreeWidget* categoriesTree_;
  QCheckBox* allSites_;
  QCheckBox* allCategories_;
  QCheckBox* lit_;
  QPushButton* findNow_;
  QPushButton* save_;
  QPushButton* ok_;
  QPushButton* close_;
  CheckTrees* trees_;
};

}  // namespace orvo

// CFiltersDialog: the modeless "Filters" window. Lists the saved filters with
// a description of the selected one, and creates, edits, deletes and applies
// them. At most one is open; the frame owns it.
#pragma once

#include <QDialog>

#include <cstdint>

#include "vault.h"

class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace orvo {

class CFiltersDialog : public QDialog {
  Q_OBJECT
 public:
  // `selectedId`: the filter the frame's combo shows (-1: none).
  CFiltersDialog(Vault& vault, int32_t selectedId, QWidget* parent = nullptr);

  // The description of a filter, as the dialog shows it (lines end in "\n").
  static QString Describe(CDBManager& db, int32_t filterId);

  QListWidget* list() const { return list_; }
  QPlainTextEdit* description() const { return description_; }
  QPushButton* applyButton() const { return apply_; }
  QPushButton* newButton() const { return new_; }
  QPushButton* editButton() const { return edit_; }
  QPushButton* deleteButton() const { return delete_; }
  QPushButton* okButton() const { return ok_; }

  void Fill();
  bool SelectId(int32_t id);
  int32_t selectedId() const;

  // Runs the editor for a new filter or the selected one; the frame connects
  // the editor's Find now to its grid through editorCreated.
  void NewFilter();
  void EditFilter();
  void DeleteFilter();
  void ApplyFilter();

 signals:
  // Apply filter: the combo should show this filter and the grid list its news.
  void applyRequested(int32_t filterId);
  // The window closes. `keep`: the combo keeps its selection; otherwise it
  // should select `filterId` (-1: "w/o filter") and apply it.
  void closed(bool keep, int32_t filterId);
  void editorCreated(class CFilterEditor* editor);

 protected:
  void done(int result) override;

 private:
  void ShowDescription();
  void UpdateButtons();
  void RunEditor(int32_t id);

  Vault& vault_;
  QListWidget* list_;
  QPlainTextEdit* description_;
  QPushButton* apply_;
  QPushButton* new_;
  QPushButton* edit_;
  QPushButton* delete_;
  QPushButton* ok_;
};

}  // namespace orvo

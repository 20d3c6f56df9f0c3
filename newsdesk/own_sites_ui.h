// The reader's face of the user's own sites: the welcome a first start shows
// while there is no site at all, the "Add a site or feed..." dialog, and OPML
// in and out. The dialog's discovery is `orvo site add` in a process of its
// own, so the window never waits on the network.
#pragma once

#include <QDialog>
#include <QFrame>
#include <QString>

#include <cstdint>
#include <functional>

#include <QStringList>

#include "vault.h"

class QLabel;
class QProcess;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace orvo {

// Lies over the news text while the database has no site/category pair.
class CWelcomePane : public QFrame {
  Q_OBJECT
 public:
  explicit CWelcomePane(QWidget* over);
  QPushButton* addButton() const { return add_; }
  QPushButton* importButton() const { return import_; }
  QPushButton* serverButton() const { return server_; }

 signals:
  void addSiteRequested();
  void importRequested();
  void updatesServerRequested();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPushButton* add_;
  QPushButton* import_;
  QPushButton* server_;
};

class CAddSiteDialog : public QDialog {
  Q_OBJECT
 public:
  CAddSiteDialog(Vault& vault, QWidget* parent = nullptr);
  ~CAddSiteDialog() override;

  QLineEdit* addressEdit() const { return address_; }
  QPushButton* findButton() const { return find_; }
  QListWidget* feedsList() const { return feeds_; }
  QLabel* previewLabel() const { return preview_; }
  QLineEdit* siteEdit() const { return site_; }
  QLineEdit* categoryEdit() const { return category_; }
  QPushButton* addButton() const { return add_; }
  bool searching() const { return process_ != nullptr; }
  // True once Add has stored the site.
  bool added() const { return added_; }
  // The orvo program the dialog runs (default: the one beside the reader).
  void SetProgram(const QString& path) { program_ = path; }

 signals:
  void discoveryFinished();

 private:
  // Runs orvo site add with args; done gets its exit code and output.
  void Run(const QStringList& args, std::function<void(int, const QString&)> done);
  void Find(int feedNumber);
  void OnFound(int code, const QString& output);
  void Add();

  Vault& vault_;
  QLineEdit* address_;
  QPushButton* find_;
  QListWidget* feeds_;
  QLabel* preview_;
  QLineEdit* site_;
  QLineEdit* category_;
  QPushButton* add_;
  QString program_;
  QProcess* process_ = nullptr;
  QString foundAddress_;  // the address the last Find succeeded for
  int feedNumber_ = 1;
  bool added_ = false;
};

// File -> Import OPML... and Export OPML...: the file dialog, the work and
// the message that says what came of it. True when something changed.
bool ImportOpmlWithDialog(Vault& vault, QWidget* parent, const QString& file = QString());
void ExportOpmlWithDialog(Vault& vault, QWidget* parent, const QString& file = QString());

}  // namespace orvo

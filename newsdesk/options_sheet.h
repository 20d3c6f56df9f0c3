// COptionsPropSheet: the "Options" sheet. Seven pages in tab order; each page
// reads its settings when first shown and writes them when the sheet applies
// (OK or Apply). A page that was never shown writes nothing.
#pragma once

#include <QDialog>
#include <QWidget>

#include <functional>
#include <map>
#include <vector>

#include "settings.h"
#include "vault.h"

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QFileSystemWatcher;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTreeWidget;

namespace orvo {

class CheckTrees;

class OptionsPage : public QWidget {
  Q_OBJECT
 public:
  using QWidget::QWidget;
  // Reads the page's settings once.
  void EnsureLoaded();
  bool loaded() const { return loaded_; }
  bool modified() const { return modified_; }
  void SetModified(bool on = true);
  // Writes when loaded; clears the modified mark.
  void ApplyIfLoaded();

 signals:
  void modifiedChanged(bool modified);

 protected:
  virtual void Load() = 0;
  virtual void Apply() = 0;
  void showEvent(QShowEvent* event) override;
  // Every edit of these marks the page modified.
  void Watch(QSpinBox* spin);
  void Watch(QCheckBox* box);
  void Watch(QLineEdit* edit);
  // A spin box shows a stored setting; until the user edits it, the stored
  // value is what gets written back, even one outside the box's range.
  void ShowStored(QSpinBox* spin, int value);
  int ValueToWrite(QSpinBox* spin) const;

 private:
  bool loaded_ = false;
  bool loading_ = false;
  bool modified_ = false;
  struct Stored {
    int value = 0;
    bool edited = false;
  };
  std::map<QSpinBox*, Stored> stored_;
};

// Sites/Categories: what to download.
class COptionsSitesPage : public OptionsPage {
  Q_OBJECT
 public:
  COptionsSitesPage(Vault& vault, std::function<bool()> downloadRunning, QWidget* parent = nullptr);
  CheckTrees* trees() const { return trees_; }
  QTreeWidget* sitesTree() const { return sites_; }
  QTreeWidget* categoriesTree() const { return categories_; }
  QSpinBox* daysSpin() const { return days_; }
  QPushButton* startButton() const { return start_; }
  void UpdateStartButton();

 signals:
  void startDownloadRequested();

 protected:
  void Load() override;
  void Apply() override;

 private:
  Vault& vault_;
  std::function<bool()> downloadRunning_;
  QTreeWidget* sites_;
  QTreeWidget* categories_;
  QCheckBox* allSites_;
  QCheckBox* allCategories_;
  CheckTrees* trees_;
  QSpinBox* days_;
  QPushButton* start_;
};

class COptionsCleanupPage : public OptionsPage {
  Q_OBJECT
 public:
  explicit COptionsCleanupPage(QWidget* parent = nullptr);
  QCheckBox* deleteOlder() const { return deleteOlder_; }
  QSpinBox* spin(int i) const { return spins_[static_cast<size_t>(i)]; }  // month, day, hour, minute
  QCheckBox* deleteLit() const { return deleteLit_; }

 protected:
  void Load() override;
  void Apply() override;

 private:
  void UpdateEnabled();
  QCheckBox* deleteOlder_;
  std::vector<QSpinBox*> spins_;
  QCheckBox* deleteLit_;
};

// Miscellaneous settings.
class COptionsFontsPage : public OptionsPage {
  Q_OBJECT
 public:
  explicit COptionsFontsPage(QWidget* parent = nullptr);
  QCheckBox* loadImages() const { return loadImages_; }
  QSpinBox* timeout() const { return timeout_; }
  QSpinBox* maxNews() const { return maxNews_; }
  QComboBox* bookFormat() const { return bookFormat_; }
  QSpinBox* markRead() const { return markRead_; }
  QCheckBox* filterApply() const { return filterApply_; }
  QCheckBox* autoCheck() const { return autoCheck_; }
  QCheckBox* notify() const { return notify_; }
  QCheckBox* copyToReader() const { return copyToReader_; }
  QLineEdit* readerFolder() const { return readerFolder_; }
  QCheckBox* mailAfterRun() const { return mailAfterRun_; }
  QLineEdit* mailTo() const { return mailTo_; }
  QLineEdit* mailPassword() const { return mailPassword_; }

 signals:
  // The grid should read MarkReadTime and its sort again.
  void settingsWritten();

 protected:
  void Load() override;
  void Apply() override;

 private:
  QCheckBox* loadImages_;
  QSpinBox* timeout_;
  QSpinBox* maxNews_;
  QComboBox* bookFormat_;  // BookFormat: lit, epub or both
  QSpinBox* markRead_;
  QCheckBox* filterApply_;
  QCheckBox* autoCheck_;
  QCheckBox* notify_;
  // Delivery of the volumes to the reader's device (section Delivery).
  QWidget* DeliveryBox();
  void LoadDelivery(const Settings& s);
  void ApplyDelivery(const Settings& s);
  QCheckBox* copyToReader_;
  QLineEdit* readerFolder_;
  QCheckBox* mailAfterRun_;
  QLineEdit* mailTo_;
  QLineEdit* mailFrom_;
  QLineEdit* smtpServer_;
  QLineEdit* smtpUser_;
  QLineEdit* mailPassword_;  // never shown filled: the Secret Service keeps it
  QSpinBox* mailLimit_;
};

class COptionsSystemPage : public OptionsPage {
  Q_OBJECT
 public:
  explicit COptionsSystemPage(QWidget* parent = nullptr);
  QLineEdit* pathDb() const { return pathDb_; }
  QLineEdit* pathPc() const { return pathPc_; }
  QCheckBox* downloadUpdates() const { return downloadUpdates_; }
  QLineEdit* url() const { return url_; }
  QCheckBox* useProxy() const { return useProxy_; }
  QLineEdit* proxyAddress() const { return proxyAddress_; }
  QLineEdit* proxyPort() const { return proxyPort_; }

 protected:
  void Load() override;
  void Apply() override;

 private:
  void UpdateEnabled();
  QLineEdit* pathDb_;
  QLineEdit* pathPc_;
  QCheckBox* downloadUpdates_;
  QLineEdit* url_;
  QCheckBox* useProxy_;
  QLineEdit* proxyAddress_;
  QLineEdit* proxyPort_;
};

// The event log, followed live.
class COptionsPLogPage : public OptionsPage {
  Q_OBJECT
 public:
  static constexpr qint64 kShownBytes = 100000;
  explicit COptionsPLogPage(QWidget* parent = nullptr);
  ~COptionsPLogPage() override;
  QPlainTextEdit* events() const { return events_; }
  QPushButton* clearButton() const { return clear_; }
  void Reload();
  void ClearLog();
  static QString LogPath();

 protected:
  void Load() override;
  void Apply() override {}

 private:
  QPlainTextEdit* events_;
  QPushButton* clear_;
  QFileSystemWatcher* watcher_ = nullptr;
};

class COptionsPropSheet : public QDialog {
  Q_OBJECT
 public:
  COptionsPropSheet(Vault& vault, std::function<bool()> downloadRunning, QWidget* parent = nullptr);
  // The page that holds the updates server's address (DownloadURL).
  static constexpr int kSystemPage = 5;

  QTabWidget* tabs() const { return tabs_; }
  OptionsPage* page(int index) const { return pages_[static_cast<size_t>(index)]; }
  COptionsSitesPage* sitesPage() const { return sites_; }
  COptionsFontsPage* miscPage() const { return misc_; }
  QPushButton* applyButton() const;
  QPushButton* okButton() const;
  // Writes every page that was shown.
  void ApplyAll();

 signals:
  // After OK: start a download (the Sites/Categories page's Start download).
  void startDownloadRequested();
  void settingsWritten();

 private:
  void UpdateApply();
  QTabWidget* tabs_;
  QDialogButtonBox* buttons_;
  std::vector<OptionsPage*> pages_;
  COptionsSitesPage* sites_;
  COptionsFontsPage* misc_;
};

}  // namespace orvo

// CMainFrame: the reader's main window. Three panes in a splitter (news grid,
// information bar, news text), the toolbar with the filter and keyword boxes,
// the menus, the status bar and the notification-area icon.
#pragma once

#include <QIcon>
#include <QMainWindow>
#include <QTimer>

#include <array>
#include <map>
#include <vector>

#include "commands.h"
#include "engine_texts.h"
#include "vault.h"

class QAction;
class QComboBox;
class QDockWidget;
class QLabel;
class QMenu;
class QProgressBar;
class QSplitter;
class QSystemTrayIcon;

namespace orvo {

class CFrameControls;
class CNewsDetailView;
class CNewsInfoView;
class CNewsListView;
class CSitesTree;
class CWelcomePane;

class CMainFrame : public QMainWindow {
  Q_OBJECT
 public:
  static constexpr int kTooltipLimit = 63;

  // `trayAvailable`: whether a notification area shows the icon. Without one,
  // closing the window quits, since a hidden window could not come back.
  CMainFrame(Vault& vault, bool trayAvailable, QWidget* parent = nullptr);
  ~CMainFrame() override;

  QAction* action(Cmd id) const;
  CNewsListView* newsList() const { return list_; }
  CNewsInfoView* newsInfo() const { return info_; }
  CNewsDetailView* newsDetail() const { return detail_; }
  QComboBox* filterCombo() const { return filterCombo_; }
  QComboBox* keywordsCombo() const { return keywordsCombo_; }
  QSplitter* splitter() const { return splitter_; }
  CSitesTree* sitesTree() const { return sites_; }
  QDockWidget* sitesDock() const { return sitesDock_; }
  // The status bar's count of listed news ("Nothing found" after an empty search).
  QString countText() const;
  QSystemTrayIcon* trayIcon() const { return tray_; }
  QMenu* trayMenu() const { return trayMenu_; }
  // Filters, options, download and eBook control.
  CFrameControls* controls() const { return controls_; }

  QString statusText() const;
  void SetStatusText(const QString& text);
  // Shown instead of the fill's own text once the next fill has finished (the
  // summary of a download, which applies the filter after it).
  void SetStatusAfterFill(const QString& text) { statusAfterFill_ = text; }

  // Run state, driven by the download and generation control: the Download
  // command's text, image and check, and the tray animation follow it.
  void SetDownloadRunning(bool running);
  // The current category's progress from the engine's "N from M" (hidden
  // when the download ends).
  void ShowProgress(const EngineProgress& progress);
  QProgressBar* progressBar() const { return progress_; }
  bool downloadRunning() const { return downloadRunning_; }
  void SetGenerationRunning(bool running);
  bool generationRunning() const { return generationRunning_; }
  int trayFrame() const { return trayFrame_; }

  bool searchMode() const { return searchMode_; }
  bool searchInFound() const { return searchInFound_; }
  void SetSearchInFound(bool on);
  void SetShowUnreadOnly(bool on);

  // Filters and search on the grid.
  void FillFilterCombo(int32_t selectId = -1);
  void ApplySelectedFilter();
  void ListFilterNews(int32_t filterId);
  void Search();
  void ClearResults();

  // The welcome over the news text, while the database has no pair.
  CWelcomePane* welcome() const { return welcome_; }
  // File -> Add a site or feed...: the dialog, modal; true when a site was added.
  bool AddSite();
  void ImportOpml();
  void ExportOpml();

  // Lists the news of these site/category pairs (the side tree's choice).
  void ListPairNews(const std::vector<int64_t>& pairs);

  // Every command with its keys, from the menus themselves.
  void ShowShortcuts();
  // (text without "&", keys) of every command that has keys, in menu order,
  // then the keys that belong to single boxes.
  QList<QPair<QString, QString>> ShortcutList() const;

  // The panes Tab and F6 walk, in order: sites, list, text, keywords box
  // (those shown).
  QList<QWidget*> Panes() const;
  // F6 / Shift+F6: the focus to the next (previous) pane.
  void CyclePanes(bool forward);
  // Space: the text a page on; at its end, the next unread item.
  void ReadOn();

  void ShowTipOfTheDay();
  void ShowAbout();
  void OpenHelp();
  void ShowFromTray();
  // The tray menu's Exit: the only way the program ends.
  void ExitFromTray();
  // A second start with "closeall".
  void CloseAll();
  void SaveLayout();
  // The news database's file was deleted or replaced while the reader ran,
  // or its server went away: says so and offers to open it again.
  // `writeFailed`: a mark or a deletion has just not been stored. False when
  // the database is still the one opened.
  bool CheckDatabaseFile(bool writeFailed = false);
  // Tells, once at a time, that the database must be opened again, and offers to.
  bool AskToReopen(const QString& status, const QString& text, const QString& details);
  // Opens the news database again and lists its news.
  bool ReopenDatabase();

 signals:
  // The frame has closed for good: the program should end.
  void quitRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QAction* AddAction(Cmd id, const QString& text, const QString& icon = QString(),
                     const QKeySequence& shortcut = QKeySequence());
  void CreateMenus();
  void CreateToolBar();
  void CreateTray();
  void RestoreLayout();
  void OnTrayTimer();
  void SetTrayIcon(int frame, const QString& tooltip);
  void UpdateToggleTexts();
  void UpdateCount();
  void CreateSitesPane();
  void SetUpKeyboard();
  void UpdateWelcome(int pairs);

  Vault& vault_;
  bool trayAvailable_;
  bool exiting_ = false;
  bool askingAboutDatabase_ = false;
  bool serverLost_ = false;  // until the server's database is opened again
  bool downloadRunning_ = false;
  bool generationRunning_ = false;
  bool searchMode_ = false;
  bool searchInFound_ = false;
  int trayFrame_ = 0;
  int listHeight_ = 100;

  std::map<Cmd, QAction*> actions_;
  CNewsListView* list_;
  CNewsInfoView* info_;
  CNewsDetailView* detail_;
  CWelcomePane* welcome_ = nullptr;
  QSplitter* splitter_;
  QComboBox* filterCombo_ = nullptr;
  QComboBox* keywordsCombo_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* count_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QString statusAfterFill_;
  QString searchedFor_;  // the keywords of the last search
  CSitesTree* sites_ = nullptr;
  QDockWidget* sitesDock_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
  QMenu* trayMenu_ = nullptr;
  std::array<QIcon, 5> trayIcons_;
  QTimer trayTimer_;
  QMenu* textMenu_ = nullptr;
  CFrameControls* controls_ = nullptr;
};

}  // namespace orvo

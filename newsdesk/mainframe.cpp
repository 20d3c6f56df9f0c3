#include "mainframe.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableWidget>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTextBrowser>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

#include "database.h"
#include "desktop_notifier.h"
#include "frame_controls.h"
#include "like.h"
#include "newsdetail.h"
#include "newsinfo.h"
#include "newslist.h"
#include "options_sheet.h"
#include "orvo_version.h"
#include "own_sites_ui.h"
#include "pg.h"
#include "render.h"
#include "settings.h"
#include "sites_tree.h"
#include "tipdialog.h"

namespace orvo {

namespace {
const char* const kTrayTooltip =
    QT_TRANSLATE_NOOP("orvo::CMainFrame", "ORVO is checking for updates and is downloading the news");
// Set once the user has been told that closing the window leaves ORVO running.
constexpr const char* kTrayNoticeKey = "TrayNoticeShown";
constexpr const char* kSitesWidthKey = "SitesWidth";
const char* const kSearchInFoundText = QT_TRANSLATE_NOOP("orvo::CMainFrame", "\"Search in found\"");
}  // namespace

CMainFrame::CMainFrame(Vault& vault, bool trayAvailable, QWidget* parent)
    : QMainWindow(parent), vault_(vault), trayAvailable_(trayAvailable) {
  EnsureResources();
  setWindowTitle(tr("ORVO Newsdesk"));
  setWindowIcon(QIcon(":/icons/orvo.svg"));
  setObjectName("CMainFrame");

  Settings settings = Settings::Shared();
  listHeight_ = settings.ReadInt(kSystemSection, keys::kListHeight, 100);

  splitter_ = new QSplitter(Qt::Vertical, this);
  splitter_->setObjectName("CNewsSplitter");
  splitter_->setChildrenCollapsible(false);
  list_ = new CNewsListView(vault_, splitter_);
  info_ = new CNewsInfoView(splitter_);
  detail_ = new CNewsDetailView(vault_, info_, splitter_);
  list_->SetInfoView(info_);
  splitter_->addWidget(list_);
  splitter_->addWidget(info_);
  splitter_->addWidget(detail_);
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 0);
  splitter_->setStretchFactor(2, 1);
  setCentralWidget(splitter_);

  CreateSitesPane();
  CreateMenus();
  CreateToolBar();
  status_ = new QLabel(" ", this);
  statusBar()->addWidget(status_, 1);
  progress_ = new QProgressBar(this);
  progress_->setObjectName("CategoryProgress");
  progress_->setMaximumWidth(420);
  progress_->setMinimumWidth(300);
  progress_->hide();
  statusBar()->addPermanentWidget(progress_);
  count_ = new QLabel(this);
  count_->setObjectName("NewsCount");
  statusBar()->addPermanentWidget(count_);
  for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
    connect(list_->model(), signal, this, &CMainFrame::UpdateCount);
  connect(list_->model(), &QAbstractItemModel::modelReset, this, &CMainFrame::UpdateCount);
  CreateTray();
  SetUpKeyboard();
  FillFilterCombo();
  RestoreLayout();
  controls_ = new CFrameControls(this, vault_);
  connect(controls_, &CFrameControls::downloadEnded, sites_, &CSitesTree::RefreshSoon);

  int last = settings.ReadInt(kSystemSection, keys::kLastFilter, 0);
  if (last >= 0 && last < filterCombo_->count()) filterCombo_->setCurrentIndex(last);
  SetShowUnreadOnly(settings.ReadInt(kSystemSection, keys::kShowRead, 0) != 0);

  connect(list_, &CNewsListView::itemSelected, detail_, &CNewsDetailView::Load);
  connect(list_, &CNewsListView::textClearRequested, detail_, &CNewsDetailView::Clear);
  connect(list_, &CNewsListView::loadingStarted, this, [this] {
    SetStatusText(tr("Applying the current filter..."));
    filterCombo_->setEnabled(false);
    keywordsCombo_->setEnabled(false);
  });
  connect(list_, &CNewsListView::loadingFinished, this, [this] {
    QString done = tr("Filter has been applied.");
    const int rows = list_->model()->rowCount();
    // A search says what it looked for and what it found.
    if (searchMode_ && !searchedFor_.isEmpty())
      done = rows == 0   ? tr("Nothing found for \"%1\".").arg(searchedFor_)
             : rows == 1 ? tr("1 news item found for \"%1\".").arg(searchedFor_)
                         : tr("%1 news items found for \"%2\".").arg(rows).arg(searchedFor_);
    SetStatusText(statusAfterFill_.isEmpty() ? done : statusAfterFill_);
    statusAfterFill_.clear();
    filterCombo_->setEnabled(true);
    keywordsCombo_->setEnabled(true);
    UpdateCount();
  });
  connect(list_, &CNewsListView::newsChanged, sites_, &CSitesTree::RefreshSoon);
  connect(list_, &CNewsListView::databaseGone, this, [this](bool writeFailed) { CheckDatabaseFile(writeFailed); });

  trayTimer_.setInterval(1000);
  connect(&trayTimer_, &QTimer::timeout, this, &CMainFrame::OnTrayTimer);
  trayTimer_.start();

  // Once the window runs: the first fill with the remembered filter, then the
  // tip, then the service (its box, if any, after the tip: never both at once).
  // Started in the tray ("min"), the window is not shown: only the icon is.
  QTimer::singleShot(0, this, [this] {
    ApplySelectedFilter();
    sites_->Refresh();
    bool inTray = !isVisible();
    if (!inTray && Settings::Shared().ReadInt(kSystemSection, keys::kStartTip, 1) != 0) ShowTipOfTheDay();
    controls_->ConnectAtStart(inTray);
  });
}

CMainFrame::~CMainFrame() {
  if (tray_) tray_->hide();
}

QAction* CMainFrame::action(Cmd id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

QAction* CMainFrame::AddAction(Cmd id, const QString& text, const QString& icon, const QKeySequence& shortcut) {
  QAction* a = icon.isEmpty() ? new QAction(text, this) : new QAction(QIcon(":/icons/" + icon + ".svg"), text, this);
  a->setData(static_cast<int>(id));
  if (!shortcut.isEmpty()) a->setShortcut(shortcut);
  actions_[id] = a;
  return a;
}

void CMainFrame::CreateMenus() {
  // Commands of the grid go to the grid first.
  actions_[Cmd::MarkRead] = list_->markReadAction();
  actions_[Cmd::MarkUnread] = list_->markUnreadAction();
  actions_[Cmd::Delete] = list_->deleteAction();
  actions_[Cmd::CopyAddress] = list_->copyAddressAction();
  actions_[Cmd::NextUnread] = list_->nextUnreadAction();
  actions_[Cmd::PreviousUnread] = list_->previousUnreadAction();
  actions_[Cmd::MarkAllRead] = list_->markAllReadAction();
  actions_[Cmd::OpenInBrowser] = list_->openInBrowserAction();
  connect(list_->nextUnreadAction(), &QAction::triggered, this, [this] {
    if (list_->model()->rowCount() > 0 && !list_->SelectNextUnread(true)) SetStatusText(tr("No more unread news below."));
  });
  connect(list_->previousUnreadAction(), &QAction::triggered, this, [this] {
    if (list_->model()->rowCount() > 0 && !list_->SelectNextUnread(false)) SetStatusText(tr("No more unread news above."));
  });
  actions_[Cmd::SitesPane] = sitesDock_->toggleViewAction();

  // The news text.
  connect(AddAction(Cmd::Copy, tr("&Copy"), "copy", QKeySequence::Copy), &QAction::triggered, detail_,
          &CNewsDetailView::Copy);
  connect(AddAction(Cmd::SelectAll, tr("Select &All"), QString(), QKeySequence::SelectAll), &QAction::triggered,
          detail_, &CNewsDetailView::SelectAll);
  connect(AddAction(Cmd::FindInText, tr("Search in &Text..."), "find", QKeySequence::Find), &QAction::triggered,
          detail_, &CNewsDetailView::FindInText);
  connect(AddAction(Cmd::SearchInText, tr("Search in text"), "find"), &QAction::triggered, detail_,
          &CNewsDetailView::FindInText);
  connect(AddAction(Cmd::Print, tr("&Print News..."), "print", QKeySequence::Print), &QAction::triggered, detail_,
          &CNewsDetailView::Print);
  connect(AddAction(Cmd::PrintPreview, tr("Print Pre&view..."), "preview"), &QAction::triggered, detail_,
          &CNewsDetailView::PrintPreview);
  connect(AddAction(Cmd::SaveAs, tr("Save &As..."), "save", QKeySequence::SaveAs), &QAction::triggered, detail_,
          &CNewsDetailView::SaveAs);
  {
    // textSizeActions() lists Largest .. Smallest.
    QList<QAction*> sizes = detail_->textSizeActions();
    const Cmd order[5] = {Cmd::TextLargest, Cmd::TextLarger, Cmd::TextMedium, Cmd::TextSmaller, Cmd::TextSmallest};
    for (int i = 0; i < 5 && i < sizes.size(); ++i) actions_[order[i]] = sizes[i];
  }

  // Lists, search and filters.
  connect(AddAction(Cmd::Search, tr("Search"), "search"), &QAction::triggered, this, &CMainFrame::Search);
  QAction* inFound = AddAction(Cmd::SearchInFound, QString(), "infound-off");
  inFound->setCheckable(true);
  connect(inFound, &QAction::triggered, this, [this](bool on) { SetSearchInFound(on); });
  connect(AddAction(Cmd::SearchWithFilter, tr("Search with filter"), "filter-search"), &QAction::triggered, this,
          &CMainFrame::ApplySelectedFilter);
  connect(AddAction(Cmd::ClearResults, tr("Clear results"), "clear"), &QAction::triggered, this,
          &CMainFrame::ClearResults);
  QAction* unread = AddAction(Cmd::ShowUnreadOnly, QString(), "unread-only");
  unread->setCheckable(true);
  connect(unread, &QAction::triggered, this, [this](bool on) {
    SetShowUnreadOnly(on);
    list_->Refill();
  });

  // Download, eBooks, filters and options: wired by CFrameControls.
  AddAction(Cmd::Filters, tr("&Filters"), "filters", QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_F));
  AddAction(Cmd::GenerateLit, tr("&Generate .lit file"), "ebook");
  QAction* download = AddAction(Cmd::Download, tr("&Download news"), "download", QKeySequence(Qt::CTRL | Qt::Key_S));
  download->setCheckable(true);
  AddAction(Cmd::Options, tr("&Options"), "options", QKeySequence(Qt::CTRL | Qt::Key_O));

  connect(AddAction(Cmd::Contents, tr("&Contents"), "help", QKeySequence::HelpContents), &QAction::triggered, this,
          &CMainFrame::OpenHelp);
  connect(AddAction(Cmd::TipOfTheDay, tr("Ti&p of the day..."), "tip"), &QAction::triggered, this,
          &CMainFrame::ShowTipOfTheDay);
  connect(AddAction(Cmd::Shortcuts, tr("&Keyboard Shortcuts...")), &QAction::triggered, this,
          &CMainFrame::ShowShortcuts);
  connect(AddAction(Cmd::About, tr("&About ORVO"), "orvo"), &QAction::triggered, this, &CMainFrame::ShowAbout);
  connect(AddAction(Cmd::Exit, tr("E&xit")), &QAction::triggered, this, &QWidget::close);
  // Exit only closes the window into the notification area; Quit ends the program.
  connect(AddAction(Cmd::Quit, tr("&Quit"), QString(), QKeySequence::Quit), &QAction::triggered, this,
          &CMainFrame::ExitFromTray);
  connect(AddAction(Cmd::TrayShow, tr("Show")), &QAction::triggered, this, &CMainFrame::ShowFromTray);
  connect(AddAction(Cmd::TrayExit, tr("Exit")), &QAction::triggered, this, &CMainFrame::ExitFromTray);

  connect(AddAction(Cmd::AddSite, tr("Add a &site or feed...")), &QAction::triggered, this, [this] { AddSite(); });
  connect(AddAction(Cmd::ImportOpml, tr("&Import OPML...")), &QAction::triggered, this, &CMainFrame::ImportOpml);
  connect(AddAction(Cmd::ExportOpml, tr("&Export OPML...")), &QAction::triggered, this, &CMainFrame::ExportOpml);

  QMenu* file = menuBar()->addMenu(tr("&File"));
  file->addActions({action(Cmd::AddSite), action(Cmd::ImportOpml), action(Cmd::ExportOpml)});
  file->addSeparator();
  file->addActions({action(Cmd::SaveAs), action(Cmd::PrintPreview), action(Cmd::Print)});
  file->addSeparator();
  file->addAction(action(Cmd::Exit));
  file->addAction(action(Cmd::Quit));

  QMenu* edit = menuBar()->addMenu(tr("&Edit"));
  edit->addActions({action(Cmd::Copy), action(Cmd::SelectAll)});
  edit->addSeparator();
  edit->addAction(action(Cmd::FindInText));

  QMenu* news = menuBar()->addMenu(tr("&News"));
  news->addActions({action(Cmd::MarkRead), action(Cmd::MarkUnread), action(Cmd::Delete), action(Cmd::CopyAddress)});
  news->addSeparator();
  news->addActions({action(Cmd::NextUnread), action(Cmd::PreviousUnread), action(Cmd::MarkAllRead),
                    action(Cmd::OpenInBrowser)});
  news->addSeparator();
  news->addActions({action(Cmd::ShowUnreadOnly), action(Cmd::ClearResults)});

  QMenu* search = menuBar()->addMenu(tr("&Search"));
  search->addActions({action(Cmd::Search), action(Cmd::SearchInFound), action(Cmd::SearchWithFilter)});
  search->addSeparator();
  search->addAction(action(Cmd::Filters));

  QAction* next = AddAction(Cmd::NextPane, tr("Ne&xt Pane"), QString(), QKeySequence(Qt::Key_F6));
  QAction* previous =
      AddAction(Cmd::PreviousPane, tr("Pre&vious Pane"), QString(), QKeySequence(Qt::SHIFT | Qt::Key_F6));
  connect(next, &QAction::triggered, this, [this] { CyclePanes(true); });
  connect(previous, &QAction::triggered, this, [this] { CyclePanes(false); });

  QMenu* view = menuBar()->addMenu(tr("&View"));
  QMenu* size = view->addMenu(tr("&Text Size"));
  size->addActions(detail_->textSizeActions());
  view->addAction(action(Cmd::SitesPane));
  view->addSeparator();
  view->addActions({action(Cmd::NextPane), action(Cmd::PreviousPane)});

  QMenu* tools = menuBar()->addMenu(tr("&Tools"));
  tools->addActions({action(Cmd::Download), action(Cmd::GenerateLit)});
  tools->addSeparator();
  tools->addAction(action(Cmd::Options));

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  help->addActions({action(Cmd::Contents), action(Cmd::Shortcuts), action(Cmd::TipOfTheDay)});
  help->addSeparator();
  help->addAction(action(Cmd::About));

  // The text pane's own menu.
  textMenu_ = new QMenu(this);
  textMenu_->addActions({action(Cmd::Copy), action(Cmd::SelectAll)});
  textMenu_->addSeparator();
  textMenu_->addActions({action(Cmd::FindInText), action(Cmd::PrintPreview), action(Cmd::Print),
                         action(Cmd::SaveAs)});
  textMenu_->addSeparator();
  textMenu_->addMenu(size);
  detail_->SetContextMenu(textMenu_);

  UpdateToggleTexts();
}

void CMainFrame::CreateToolBar() {
  QToolBar* bar = addToolBar(tr("Toolbar"));
  bar->setObjectName("MainToolBar");
  bar->setMovable(false);
  bar->setIconSize(QSize(16, 16));
  bar->setToolButtonStyle(Qt::ToolButtonIconOnly);

  auto* filtersLabel = new QLabel(tr("Filters:"), bar);
  filtersLabel->setMinimumWidth(42);
  filtersLabel->setContentsMargins(4, 0, 4, 0);
  bar->addWidget(filtersLabel);
  filterCombo_ = new QComboBox(bar);
  filterCombo_->setObjectName("FilterCombo");
  filterCombo_->setMinimumWidth(150);
  filterCombo_->setMaximumWidth(150);
  filterCombo_->installEventFilter(this);
  bar->addWidget(filterCombo_);
  bar->addAction(action(Cmd::SearchWithFilter));
  bar->addAction(action(Cmd::Filters));
  bar->addSeparator();
  auto* keywordsLabel = new QLabel(tr("Keywords:"), bar);
  keywordsLabel->setMinimumWidth(62);
  keywordsLabel->setContentsMargins(4, 0, 4, 0);
  bar->addWidget(keywordsLabel);
  keywordsCombo_ = new QComboBox(bar);
  keywordsCombo_->setObjectName("KeywordsCombo");
  keywordsCombo_->setEditable(true);
  keywordsCombo_->setInsertPolicy(QComboBox::NoInsert);
  keywordsCombo_->lineEdit()->setMaxLength(100);
  keywordsCombo_->setMinimumWidth(140);
  keywordsCombo_->setMaximumWidth(140);
  bar->addWidget(keywordsCombo_);
  // Screen readers name each box by its label.
  filtersLabel->setBuddy(filterCombo_);
  keywordsLabel->setBuddy(keywordsCombo_);
  filterCombo_->setAccessibleName(tr("Filters"));
  keywordsCombo_->setAccessibleName(tr("Keywords"));
  bar->addAction(action(Cmd::Search));
  bar->addAction(action(Cmd::SearchInFound));
  bar->addAction(action(Cmd::ShowUnreadOnly));
  bar->addSeparator();
  bar->addAction(action(Cmd::SearchInText));
  bar->addSeparator();
  bar->addAction(action(Cmd::GenerateLit));
  bar->addAction(action(Cmd::Download));

  connect(filterCombo_, &QComboBox::activated, this, [this](int) {
    ApplySelectedFilter();
    list_->setFocus();
  });
  connect(keywordsCombo_->lineEdit(), &QLineEdit::returnPressed, this, &CMainFrame::Search);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
  if (watched == filterCombo_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      ApplySelectedFilter();
      return true;
    }
  }
  if ((watched == list_->table() || watched == detail_->browser()) && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
      ReadOn();
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::SetUpKeyboard() {
  // Tab leaves the grid for the next pane instead of walking its cells.
  QTableView* table = list_->table();
  table->setTabKeyNavigation(false);
  QTextBrowser* text = detail_->browser();
  text->setTabChangesFocus(true);
  text->setFocusPolicy(Qt::StrongFocus);
  QWidget::setTabOrder(sites_, table);
  QWidget::setTabOrder(table, text);
  QWidget::setTabOrder(text, filterCombo_);
  QWidget::setTabOrder(filterCombo_, keywordsCombo_);
  table->installEventFilter(this);
  text->installEventFilter(this);

}

QList<QWidget*> CMainFrame::Panes() const {
  QList<QWidget*> panes;
  for (QWidget* w : {static_cast<QWidget*>(sites_), static_cast<QWidget*>(list_->table()),
                     static_cast<QWidget*>(detail_->browser()), static_cast<QWidget*>(keywordsCombo_)})
    if (w->isVisibleTo(const_cast<CMainFrame*>(this)) && w->isEnabled()) panes << w;
  return panes;
}

void CMainFrame::CyclePanes(bool forward) {
  const QList<QWidget*> panes = Panes();
  if (panes.isEmpty()) return;
  QWidget* focus = QApplication::focusWidget();
  qsizetype at = -1;
  for (qsizetype i = 0; i < panes.size(); ++i)
    if (focus && (focus == panes[i] || panes[i]->isAncestorOf(focus))) at = i;
  const qsizetype n = panes.size();
  const qsizetype to = at < 0 ? 0 : (at + (forward ? 1 : n - 1)) % n;
  panes[to]->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
}

void CMainFrame::ReadOn() {
  QScrollBar* bar = detail_->browser()->verticalScrollBar();
  if (bar->value() < bar->maximum()) {
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    return;
  }
  action(Cmd::NextUnread)->trigger();
}

void CMainFrame::CreateTray() {
  for (int i = 0; i < 5; ++i) trayIcons_[static_cast<size_t>(i)] = QIcon(QString(":/icons/tray%1.svg").arg(i));
  trayMenu_ = new QMenu(this);
  trayMenu_->addAction(action(Cmd::TrayShow));
  trayMenu_->setDefaultAction(action(Cmd::TrayShow));
  trayMenu_->addSeparator();
  trayMenu_->addAction(action(Cmd::TrayExit));
  tray_ = new QSystemTrayIcon(this);
  tray_->setContextMenu(trayMenu_);
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger) ShowFromTray();
  });
  SetTrayIcon(0, tr(kTrayTooltip));
  tray_->show();
}

void CMainFrame::SetTrayIcon(int frame, const QString& tooltip) {
  trayFrame_ = frame;
  tray_->setIcon(trayIcons_[static_cast<size_t>(frame)]);
  tray_->setToolTip(tooltip.left(kTooltipLimit));
}

void CMainFrame::OnTrayTimer() {
  int frame = downloadRunning_ || generationRunning_ ? trayFrame_ % 4 + 1 : 0;
  // The unread count first: the tooltip is cut at its limit.
  const int64_t unread = sites_->totalUnread();
  SetTrayIcon(frame, unread > 0 ? tr("%1 unread - %2").arg(unread).arg(statusText()) : statusText());
}

void CMainFrame::RestoreLayout() {
  Settings settings = Settings::Shared();
  QRect avail = screen() ? screen()->availableGeometry() : QRect(0, 0, 1024, 768);
  int defLeft = avail.left() + std::max(0, (avail.width() - 750) / 2);
  int defTop = avail.top() + std::max(0, (avail.height() - 500) / 2);
  // A first start takes most of the screen rather than 750 by 500.
  const bool firstStart = !settings.HasKey(kSystemSection, keys::kLeftPos);
  if (firstStart) {
    const QSize size(std::max(750, avail.width() * 4 / 5), std::max(500, avail.height() * 4 / 5));
    defLeft = avail.left() + std::max(0, (avail.width() - size.width()) / 2);
    defTop = avail.top() + std::max(0, (avail.height() - size.height()) / 2);
  }
  int left = settings.ReadInt(kSystemSection, keys::kLeftPos, defLeft);
  int top = settings.ReadInt(kSystemSection, keys::kTopPos, defTop);
  int right = settings.ReadInt(kSystemSection, keys::kRightPos,
                               firstStart ? left + std::max(750, avail.width() * 4 / 5) : left + 750);
  int bottom = settings.ReadInt(kSystemSection, keys::kBottomPos,
                                firstStart ? top + std::max(500, avail.height() * 4 / 5) : top + 500);
  QRect r(QPoint(left, top), QPoint(right - 1, bottom - 1));
  // A rectangle from another screen layout, or a broken one, must not hide
  // the window: keep a usable size on a screen that exists.
  if (r.width() < 200 || r.height() < 150) r.setSize(QSize(750, 500));
  bool onScreen = false;
  for (QScreen* s : QGuiApplication::screens())
    if (s->availableGeometry().intersects(r)) onScreen = true;
  if (!onScreen) r.moveTopLeft(QPoint(defLeft, defTop));
  setGeometry(r);

  // Without a stored height the list and the text share the panes 40 to 60
  // (the window's bars take about 120 pixels).
  if (!settings.HasKey(kSystemSection, keys::kListHeight))
    listHeight_ = std::max(100, (r.height() - 120 - info_->height()) * 2 / 5);
  int rest = std::max(100, r.height() - listHeight_ - info_->height());
  splitter_->setSizes({std::max(20, listHeight_), info_->height(), rest});
}

void CMainFrame::SaveLayout() {
  Settings settings = Settings::Shared();
  QRect r = isMaximized() || isMinimized() ? normalGeometry() : geometry();
  settings.WriteInt(kSystemSection, keys::kLeftPos, r.left());
  settings.WriteInt(kSystemSection, keys::kTopPos, r.top());
  settings.WriteInt(kSystemSection, keys::kRightPos, r.left() + r.width());
  settings.WriteInt(kSystemSection, keys::kBottomPos, r.top() + r.height());
  int gridHeight = splitter_->sizes().value(0);
  if (gridHeight > 0) listHeight_ = gridHeight;
  settings.WriteInt(kSystemSection, keys::kListHeight, listHeight_);
  settings.WriteInt(kSystemSection, keys::kLastFilter, std::max(0, filterCombo_->currentIndex()));
  bool unreadOnly;
  {
    VaultLock lock(vault_.lock);
    unreadOnly = vault_.db.unreadOnly;
  }
  settings.WriteInt(kSystemSection, keys::kShowRead, unreadOnly ? 1 : 0);
  settings.WriteInt(kSystemSection, keys::kSortColumn, list_->sortColumn());
  settings.WriteInt(kSystemSection, keys::kSortOrder, list_->sortOrder());
  settings.WriteInt(kSystemSection, "ShowSites", sitesDock_->isHidden() ? 0 : 1);
  if (!sitesDock_->isHidden()) settings.WriteInt(kSystemSection, kSitesWidthKey, sitesDock_->width());
  list_->SaveSettings();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  SaveLayout();
  if (exiting_ || !trayAvailable_) {
    tray_->hide();
    event->accept();
    emit quitRequested();
    return;
  }
  // The program goes on in the notification area; the first time, it says so.
  event->ignore();
  hide();
  Settings settings = Settings::Shared();
  if (settings.ReadInt(kSystemSection, kTrayNoticeKey, 0) == 0 && controls_) {
    controls_->notifier()->Notify(tr("ORVO keeps running"),
                                  tr("ORVO keeps running in the notification area; Quit from its menu"));
    settings.WriteInt(kSystemSection, kTrayNoticeKey, 1);
  }
}

void CMainFrame::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  // Coming back to the window is when a file changed meanwhile is noticed.
  if (event->type() == QEvent::ActivationChange && isActiveWindow())
    QTimer::singleShot(0, this, [this] { CheckDatabaseFile(); });
}

bool CMainFrame::CheckDatabaseFile(bool writeFailed) {
  QString path;
  {
    VaultLock lock(vault_.lock);
    // A server that could not be reached again stays lost until it can.
    serverLost_ = vault_.db.ConnectionLost() || (serverLost_ && !vault_.db.IsOpen());
    if (!serverLost_ && !vault_.db.FileChanged()) return false;
    if (vault_.db.IsOpen()) {
      path = QString::fromStdString(serverLost_ ? vault_.db.database()->Describe() : vault_.db.database()->path());
    } else {
      path = QString::fromStdString(pg::RedactUrl(NewsDatabaseLocation(Settings::Shared(), kPathBuffer)));
    }
  }
  if (serverLost_) {
    return AskToReopen(
        tr("Not stored: the connection to the news database on %1 was lost. Reopen it to go on.").arg(path),
        tr("The connection to the news database on %1 was lost while the reader was running.").arg(path),
        (writeFailed ? tr("The last marks or deletions were not stored. ") : QString()) +
            tr("Start the server if it has stopped. Until the database is opened again, nothing you "
               "mark or delete is stored. Reopen it now?"));
  }
  return AskToReopen(tr("Not stored: the news database %1 was deleted or replaced while the reader was "
                        "running. Reopen it to go on.")
                         .arg(path),
                     tr("The news database %1 was deleted or replaced by another program while the reader was "
                        "running.")
                         .arg(path),
                     (writeFailed ? tr("The last marks or deletions were not stored. ") : QString()) +
                         tr("Until the database is opened again, nothing you mark or delete is stored. Reopen it "
                            "now?"));
}

bool CMainFrame::AskToReopen(const QString& status, const QString& text, const QString& details) {
  if (askingAboutDatabase_) return true;
  SetStatusText(status);
  askingAboutDatabase_ = true;
  QMessageBox box(QMessageBox::Warning, tr("News database"), text, QMessageBox::NoButton, this);
  box.setInformativeText(details);
  box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
  box.button(QMessageBox::Ok)->setText(tr("&Reopen"));
  box.button(QMessageBox::Cancel)->setText(tr("&Later"));
  box.setDefaultButton(QMessageBox::Ok);
  const int answer = box.exec();
  askingAboutDatabase_ = false;
  if (answer == QMessageBox::Ok) ReopenDatabase();
  return true;
}

bool CMainFrame::ReopenDatabase() {
  QString error, why;
  bool opened;
  const std::string location = NewsDatabaseLocation(Settings::Shared(), kPathBuffer);
  {
    VaultLock lock(vault_.lock);
    opened = vault_.db.Init("");
    if (!opened) {
      error = QString::fromStdString(pg::RedactUrl(location));
      why = QString::fromStdString(vault_.db.openError());
    }
  }
  if (!opened) {
    QMessageBox::warning(this, QString(), tr("Can not open DB"));
    if (pg::IsUrl(location)) {
      serverLost_ = true;
      SetStatusText(tr("The news database on %1 cannot be reached (%2). Start the server, or correct its address "
                       "in [Database] Url of %3; coming back to this window tries again.")
                        .arg(error, why, QString::fromStdString(SettingsPath())));
    } else {
      SetStatusText(tr("The news database %1 cannot be opened. Make one with orvo init, or choose another in "
                       "Tools -> Options -> System, then restart the reader.")
                        .arg(error));
    }
    return false;
  }
  serverLost_ = false;
  SetStatusText(tr("The news database was opened again."));
  FillFilterCombo(filterCombo_->currentData().toInt());
  ApplySelectedFilter();
  sites_->Refresh();
  return true;
}

void CMainFrame::ShowFromTray() {
  if (isMinimized()) showNormal();
  else show();
  raise();
  activateWindow();
}

void CMainFrame::ExitFromTray() {
  exiting_ = true;
  close();
}

void CMainFrame::CloseAll() { ExitFromTray(); }

QString CMainFrame::statusText() const { return status_->text(); }
void CMainFrame::SetStatusText(const QString& text) {
  status_->setText(text);
  // A long line (a server address, say) is cut at the window's edge.
  status_->setToolTip(text);
}

void CMainFrame::ShowProgress(const EngineProgress& p) {
  if (!p.valid) return;
  // One arg() call each: a "%1" inside a site's name stays text.
  const QString where = tr("%1 / %2").arg(p.site, p.category);
  QString text;
  if (p.searching || p.total <= 0) {
    progress_->setRange(0, 0);
    text = tr("%1: looking for news").arg(where);
  } else {
    progress_->setRange(0, p.total);
    progress_->setValue(std::clamp(p.done, 0, p.total));
    text = tr("%1: %2 of %3").arg(where, QString::number(p.done), QString::number(p.total));
  }
  // The bar puts its figures for %p, %v and %m and knows no escape: an
  // invisible word joiner after a name's own % keeps it text.
  progress_->setFormat(QString(text).replace(QLatin1Char('%'), QStringLiteral("%\u2060")));
  progress_->setToolTip(text);
  progress_->show();
}

void CMainFrame::SetDownloadRunning(bool running) {
  if (!running) progress_->hide();
  downloadRunning_ = running;
  UpdateToggleTexts();
}

void CMainFrame::SetGenerationRunning(bool running) { generationRunning_ = running; }

void CMainFrame::SetSearchInFound(bool on) {
  searchInFound_ = on;
  UpdateToggleTexts();
}

void CMainFrame::SetShowUnreadOnly(bool on) {
  {
    VaultLock lock(vault_.lock);
    vault_.db.unreadOnly = on;
  }
  UpdateToggleTexts();
}

void CMainFrame::UpdateToggleTexts() {
  QAction* download = action(Cmd::Download);
  download->setChecked(downloadRunning_);
  download->setText(downloadRunning_ ? tr("Stop download") : tr("&Download news"));
  download->setIcon(QIcon(downloadRunning_ ? ":/icons/stop.svg" : ":/icons/download.svg"));

  QAction* inFound = action(Cmd::SearchInFound);
  inFound->setChecked(searchInFound_);
  inFound->setText((searchInFound_ ? tr("Disable %1") : tr("Enable %1")).arg(tr(kSearchInFoundText)));
  inFound->setIcon(QIcon(searchInFound_ ? ":/icons/infound-on.svg" : ":/icons/infound-off.svg"));

  bool unreadOnly;
  {
    VaultLock lock(vault_.lock);
    unreadOnly = vault_.db.unreadOnly;
  }
  QAction* unread = action(Cmd::ShowUnreadOnly);
  unread->setChecked(unreadOnly);
  unread->setText(unreadOnly ? tr("Show all") : tr("Show only unread"));
  unread->setIcon(QIcon(unreadOnly ? ":/icons/show-all.svg" : ":/icons/unread-only.svg"));
}

void CMainFrame::FillFilterCombo(int32_t selectId) {
  filterCombo_->clear();
  filterCombo_->addItem(tr("w/o filter"), -1);
  {
    VaultLock lock(vault_.lock);
    if (vault_.db.BeginFilterListItemEnum()) {
      while (const CFilterListItemStruct* f = vault_.db.EnumNextFilterListItem())
        filterCombo_->addItem(QString::fromStdString(f->name), f->id);
      vault_.db.EndFilterListItemEnum();
    }
  }
  int index = filterCombo_->findData(selectId);
  filterCombo_->setCurrentIndex(index > 0 ? index : 0);
}

void CMainFrame::ApplySelectedFilter() {
  int32_t id = filterCombo_->currentData().toInt();
  if (filterCombo_->currentIndex() > 0 && id >= 0) {
    ListFilterNews(id);
    return;
  }
  searchMode_ = false;
  detail_->Clear();
  list_->FillAll();
}

void CMainFrame::ListFilterNews(int32_t filterId) {
  searchMode_ = false;
  detail_->Clear();
  list_->FillFilter(filterId);
}

void CMainFrame::Search() {
  searchMode_ = true;
  QString text = keywordsCombo_->currentText().trimmed();
  if (!text.isEmpty()) {
    int found = -1;
    for (int i = 0; i < keywordsCombo_->count(); ++i)
      if (keywordsCombo_->itemText(i).compare(text, Qt::CaseInsensitive) == 0) found = i;
    if (found < 0) keywordsCombo_->insertItem(0, text);
    keywordsCombo_->setCurrentText(text);
  }
  int32_t filterId = filterCombo_->currentData().toInt();
  bool withFilter = filterCombo_->currentIndex() > 0 && filterId >= 0;
  std::vector<std::string> keywords;
  if (!text.isEmpty()) keywords.push_back(LikeEscape(text.toStdString()));
  searchedFor_ = text;
  detail_->Clear();
  list_->FillSearch(keywords, withFilter, filterId, searchInFound_);
}

void CMainFrame::ClearResults() {
  detail_->Clear();
  list_->Clear();
}

bool CMainFrame::AddSite() {
  CAddSiteDialog dialog(vault_, this);
  if (dialog.exec() != QDialog::Accepted || !dialog.added()) return false;
  sites_->Refresh();
  SetStatusText(tr("The site was added; its news come with the next download."));
  return true;
}

void CMainFrame::ImportOpml() {
  if (ImportOpmlWithDialog(vault_, this)) sites_->Refresh();
}

void CMainFrame::ExportOpml() { ExportOpmlWithDialog(vault_, this); }

void CMainFrame::UpdateWelcome(int pairs) {
  if (pairs > 0) {
    if (welcome_) welcome_->hide();
    return;
  }
  if (!welcome_) {
    welcome_ = new CWelcomePane(detail_);
    connect(welcome_, &CWelcomePane::addSiteRequested, this, [this] { AddSite(); });
    connect(welcome_, &CWelcomePane::importRequested, this, &CMainFrame::ImportOpml);
    connect(welcome_, &CWelcomePane::updatesServerRequested, controls_,
            [this] { controls_->OpenOptionsAt(COptionsPropSheet::kSystemPage); });
  }
  welcome_->setGeometry(detail_->rect());
  welcome_->show();
  welcome_->raise();
}

void CMainFrame::CreateSitesPane() {
  sites_ = new CSitesTree(vault_, this);
  sitesDock_ = new QDockWidget(tr("Sites"), this);
  sitesDock_->setObjectName("SitesDock");
  sitesDock_->setFeatures(QDockWidget::DockWidgetClosable);
  sitesDock_->setWidget(sites_);
  sitesDock_->toggleViewAction()->setText(tr("&Sites and Categories"));
  addDockWidget(Qt::LeftDockWidgetArea, sitesDock_);
  resizeDocks({sitesDock_}, {std::clamp(Settings::Shared().ReadInt(kSystemSection, kSitesWidthKey, 200), 80, 800)},
              Qt::Horizontal);
  sitesDock_->setVisible(Settings::Shared().ReadInt(kSystemSection, "ShowSites", 1) != 0);
  connect(sites_, &CSitesTree::pairsChosen, this, &CMainFrame::ListPairNews);
  connect(sites_, &CSitesTree::refreshed, this, &CMainFrame::UpdateWelcome);
  connect(sites_, &CSitesTree::databaseGone, this, [this] { CheckDatabaseFile(); });
  connect(sites_, &CSitesTree::allChosen, this, [this] {
    filterCombo_->setCurrentIndex(0);
    ApplySelectedFilter();
  });
}

void CMainFrame::ListPairNews(const std::vector<int64_t>& pairs) {
  searchMode_ = false;
  detail_->Clear();
  list_->FillPairs(pairs);
}

QString CMainFrame::countText() const { return count_->text(); }

void CMainFrame::UpdateCount() {
  int rows = list_->model()->rowCount();
  if (list_->busy()) count_->setText(tr("%1 news listed so far").arg(rows));
  else if (rows == 0 && searchMode_) count_->setText(tr("Nothing found"));
  else if (rows == 1) count_->setText(tr("1 news item"));
  else count_->setText(tr("%1 news items").arg(rows));
}

QList<QPair<QString, QString>> CMainFrame::ShortcutList() const {
  QList<QPair<QString, QString>> list;
  QList<QAction*> seen;
  std::function<void(const QList<QAction*>&)> walk = [&](const QList<QAction*>& actions) {
    for (QAction* a : actions) {
      if (a->menu()) walk(a->menu()->actions());
      if (a->isSeparator() || a->shortcut().isEmpty() || seen.contains(a)) continue;
      seen << a;
      QString text = a->text();
      text.remove(QRegularExpression("&(?!&)"));
      list.append({text, a->shortcut().toString(QKeySequence::NativeText)});
    }
  };
  walk(menuBar()->actions());
  const QString ctrlA = QKeySequence(QKeySequence::SelectAll).toString(QKeySequence::NativeText);
  list.append({tr("Select all rows (in the news list)"), ctrlA});
  list.append({tr("Open the selected news item in the browser (in the news list)"), tr("Double-click")});
  list.append({tr("Apply the chosen filter (in the Filters box)"), tr("Enter")});
  list.append({tr("Search for the keywords (in the Keywords box)"), tr("Enter")});
  return list;
}

void CMainFrame::ShowShortcuts() {
  QDialog dialog(this);
  dialog.setWindowTitle(tr("Keyboard Shortcuts"));
  auto* table = new QTableWidget(&dialog);
  table->setObjectName("ShortcutTable");
  table->setAccessibleName(tr("Keyboard shortcuts"));
  const QList<QPair<QString, QString>> list = ShortcutList();
  table->setColumnCount(2);
  table->setRowCount(static_cast<int>(list.size()));
  table->setHorizontalHeaderLabels({tr("Command"), tr("Keys")});
  for (int i = 0; i < list.size(); ++i) {
    table->setItem(i, 0, new QTableWidgetItem(list[i].first));
    table->setItem(i, 1, new QTableWidgetItem(list[i].second));
  }
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->verticalHeader()->hide();
  table->horizontalHeader()->setStretchLastSection(true);
  table->resizeColumnToContents(0);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(table);
  layout->addWidget(buttons);
  dialog.resize(560, 480);
  dialog.exec();
}

void CMainFrame::ShowTipOfTheDay() {
  CTipDialog dialog(this);
  dialog.exec();
}

void CMainFrame::ShowAbout() {
  QString db;
  {
    VaultLock lock(vault_.lock);
    db = vault_.db.IsOpen() ? QString::fromStdString(vault_.db.database()->path()) : tr("not open");
  }
  QMessageBox box(this);
  box.setWindowTitle(tr("About ORVO"));
  box.setIconPixmap(QIcon(":/icons/orvo.svg").pixmap(48, 48));
  box.setText(tr("<b>ORVO Newsdesk %1</b><br>The reader of the ORVO news collector.").arg(kVersion));
  box.setInformativeText(tr("News database: %1<br>Settings: %2<br>Built with Qt %3, running on Qt %4.")
                             .arg(db.toHtmlEscaped(), QString::fromStdString(SettingsPath()).toHtmlEscaped(),
                                  QT_VERSION_STR, qVersion()));
  box.exec();
}

void CMainFrame::OpenHelp() {
  // The page ships inside the program; it is written next to it (or into the
  // temporary folder) so that the user's own browser can show it.
  QFile source(":/help/newsdesk.html");
  // An installed copy ships the page as a data file.
  const QString installed = QString::fromStdString(InstalledDataDirectory()) + "newsdesk.html";
  if (QFile::exists(installed) && QDesktopServices::openUrl(QUrl::fromLocalFile(installed))) return;
  QStringList candidates = {QString::fromStdString(ModuleDirectory()) + "newsdesk_help.html",
                            QDir(QStandardPaths::writableLocation(QStandardPaths::TempLocation))
                                .filePath("orvo-newsdesk-help.html")};
  QByteArray page;
  if (source.open(QIODevice::ReadOnly)) page = source.readAll();
  for (const QString& path : candidates) {
    QFile out(path);
    if (out.exists() && out.size() == page.size()) {
      if (QDesktopServices::openUrl(QUrl::fromLocalFile(path))) return;
      break;
    }
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(page) == page.size()) {
      out.close();
      if (QDesktopServices::openUrl(QUrl::fromLocalFile(path))) return;
      break;
    }
  }
  // No browser to hand: show the page here.
  QDialog dialog(this);
  dialog.setWindowTitle(tr("ORVO Help"));
  auto* browser = new QTextBrowser(&dialog);
  browser->setOpenExternalLinks(false);
  browser->setHtml(QString::fromUtf8(page));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(browser);
  layout->addWidget(buttons);
  dialog.resize(640, 520);
  dialog.exec();
}

}  // namespace orvo

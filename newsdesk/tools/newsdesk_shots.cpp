// Takes the reader's screenshots for the documentation: the real main window
// over a demo folder, with a news item with pictures selected; the same in a
// dark palette; the unread counts; and the notification a download sends, as
// a stand-in notification server on the session bus received it.
//   xvfb-run -s "-screen 0 1024x720x24" newsdesk_shots DEMO_DIR OUT_DIR
// In a translated language (LANG=ru_RU.UTF-8) the files get its suffix
// ("newsdesk-main-ru.png"), and only the main window and the tip are taken.
// The notification needs a bus of its own in ORVO_SHOTS_NOTIFY_BUS (the
// reader itself runs without one, so that no service box shows).
#include <QApplication>
#include <QDBusConnection>
#include <QDockWidget>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QStyleFactory>
#include <QVBoxLayout>
#include <QItemSelectionModel>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "database.h"
#include "desktop_notifier.h"
#include "frame_controls.h"
#include "mainframe.h"
#include "store/news_items.h"
#include "store/pairs.h"
#include "runner_link.h"
#include "sites_tree.h"
#include "newsdetail.h"
#include "newslist.h"
#include "settings.h"
#include "tipdialog.h"
#include "translator.h"
#include "vault.h"

namespace {

bool Save(const QString& path, const QRect& area) {
  QScreen* screen = QGuiApplication::primaryScreen();
  QPixmap shot = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
  if (!shot.save(path)) {
    std::fprintf(stderr, "newsdesk_shots: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("newsdesk_shots: wrote %s (%dx%d)\n", qPrintable(path), shot.width(), shot.height());
  return true;
}

// Receives the notification on the session bus, as the desktop's server would.
class NotificationCatcher : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
 public:
  QString app, summary, body;
  bool received = false;
 public Q_SLOTS:
  uint Notify(const QString& a, uint, const QString&, const QString& s, const QString& b, const QStringList&,
              const QVariantMap&, int) {
    app = a;
    summary = s;
    body = b;
    received = true;
    return 1;
  }
};

QPalette DarkPalette() {
  QPalette p;
  p.setColor(QPalette::Window, QColor(45, 45, 48));
  p.setColor(QPalette::WindowText, QColor(225, 225, 225));
  p.setColor(QPalette::Base, QColor(30, 30, 32));
  p.setColor(QPalette::AlternateBase, QColor(40, 40, 44));
  p.setColor(QPalette::Text, QColor(225, 225, 225));
  p.setColor(QPalette::Button, QColor(55, 55, 60));
  p.setColor(QPalette::ButtonText, QColor(225, 225, 225));
  p.setColor(QPalette::Highlight, QColor(52, 101, 164));
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::Link, QColor(120, 170, 255));
  p.setColor(QPalette::ToolTipBase, QColor(55, 55, 60));
  p.setColor(QPalette::ToolTipText, QColor(225, 225, 225));
  p.setColor(QPalette::PlaceholderText, QColor(150, 150, 150));
  p.setColor(QPalette::Disabled, QPalette::Text, QColor(120, 120, 120));
  p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 120, 120));
  p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(120, 120, 120));
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "Usage: newsdesk_shots DEMO_DIR OUT_DIR   (run under xvfb-run; make DEMO_DIR with newsdesk_demo)\n");
    return 2;
  }
  setenv("ORVO_HOME", argv[1], 1);
  QApplication app(argc, argv);
  QString out = QString::fromLocal8Bit(argv[2]);
  orvo::ReaderTranslations translations;
  QString language = translations.Install(QLocale::system());
  const QString suffix = language.isEmpty() ? QString() : "-" + language;
  orvo::Settings settings = orvo::Settings::Shared();
  settings.WriteInt(orvo::kSystemSection, "StartTip", 0);

  orvo::Vault vault;
  if (!vault.db.Init("")) {
    std::fprintf(stderr, "newsdesk_shots: cannot open the demo database in %s\n", argv[1]);
    return 1;
  }
  // A first start: no layout kept yet, so the window takes most of the screen
  // and the list and the text share it 40 to 60.
  if (suffix.isEmpty()) {
    for (const char* key : {"LHeight", "LeftPos", "TopPos", "RightPos", "BottomPos", "SitesWidth"})
      settings.RemoveKey(orvo::kSystemSection, key);
    orvo::CMainFrame first(vault, false);
    first.show();
    orvo::CNewsListView* firstList = first.newsList();
    if (!QTest::qWaitFor([&] { return !firstList->busy() && firstList->model()->rowCount() > 0; }, 10000)) return 1;
    QTest::qWait(500);
    if (!Save(out + "/newsdesk-first-start.png", first.frameGeometry())) return 1;
    first.hide();
  }
  settings.WriteInt(orvo::kSystemSection, "LHeight", 210);
  settings.WriteInt(orvo::kSystemSection, "LeftPos", 0);
  settings.WriteInt(orvo::kSystemSection, "TopPos", 0);
  settings.WriteInt(orvo::kSystemSection, "RightPos", 1024);
  settings.WriteInt(orvo::kSystemSection, "BottomPos", 720);

  orvo::CMainFrame frame(vault, false);
  frame.show();
  orvo::CNewsListView* list = frame.newsList();
  if (!QTest::qWaitFor([&] { return !list->busy() && list->model()->rowCount() > 0; }, 10000)) return 1;
  int row = 0;
  for (int i = 0; i < list->model()->rowCount(); ++i)
    if (list->model()->title(i).startsWith("New tidal bridge")) row = i;
  bool shown = false;
  QObject::connect(frame.newsDetail(), &orvo::CNewsDetailView::itemShown, [&] { shown = true; });
  list->table()->selectionModel()->setCurrentIndex(list->model()->index(row, 0),
                                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  list->table()->setFocus();
  if (!QTest::qWaitFor([&] { return shown; }, 10000)) return 1;
  QTest::qWait(500);
  QRect area = frame.frameGeometry();
  if (!Save(out + "/newsdesk-main" + suffix + ".png", area)) return 1;

  // The side tree's counts, with one site opened.
  orvo::CSitesTree* tree = frame.sitesTree();
  if (tree->topLevelItemCount() > 1) tree->topLevelItem(1)->setExpanded(true);
  QTest::qWait(300);
  QRect treeArea(frame.sitesDock()->mapToGlobal(QPoint(0, 0)), frame.sitesDock()->size());
  treeArea = treeArea.united(QRect(frame.newsList()->mapToGlobal(QPoint(0, 0)), frame.newsList()->size()));
  if (suffix.isEmpty() && !Save(out + "/newsdesk-unread.png", treeArea)) return 1;

  if (suffix.isEmpty()) {
    // The keyboard: F6 (or Tab) has moved from the list to the news text,
    // and the View menu lists the pane keys.
    QTest::keyClick(list->table(), Qt::Key_F6);
    QTest::qWait(200);
    QMenu* view = nullptr;
    for (QAction* a : frame.menuBar()->actions())
      if (a->menu() && a->menu()->actions().contains(frame.action(orvo::Cmd::NextPane))) view = a->menu();
    if (view) {
      view->popup(frame.menuBar()->mapToGlobal(frame.menuBar()->actionGeometry(view->menuAction()).bottomLeft()));
      QTest::qWait(500);
    }
    if (!Save(out + "/newsdesk-keyboard.png", area)) return 1;
    if (view) view->hide();

    // A download under way: the category's bar and the engine's text.
    frame.SetDownloadRunning(true);
    emit frame.controls()->runner()->OnProcessStatus(
        "Site: [Harbour Gazette], Category: [City] <News: 5 from 8> URL: [http://127.0.0.1:8642/gazette/city/5.html]",
        orvo::CRunnerLink::kFromGathering, -1);
    QTest::qWait(1200);
    if (!Save(out + "/newsdesk-progress.png", area)) return 1;
    frame.SetDownloadRunning(false);
    list->table()->setFocus();
  }

  {
    orvo::CTipDialog tip(&frame);
    tip.show();
    QTest::qWait(500);
    if (!Save(out + "/newsdesk-tip" + suffix + ".png", area)) return 1;
  }
  if (!suffix.isEmpty()) return 0;

  // A download that brought news, told to the desktop.
  NotificationCatcher catcher;
  const QString notifyBus = qEnvironmentVariable("ORVO_SHOTS_NOTIFY_BUS");
  QDBusConnection bus = QDBusConnection::connectToBus(notifyBus, "notifications");
  frame.controls()->notifier()->SetBus(bus);
  if (!notifyBus.isEmpty() && bus.registerService("org.freedesktop.Notifications") &&
      bus.registerObject("/org/freedesktop/Notifications", &catcher, QDBusConnection::ExportAllSlots)) {
    orvo::CRunnerLink* runner = frame.controls()->runner();
    frame.SetDownloadRunning(true);
    emit runner->OnProcessStatus("Checking for updates...", orvo::CRunnerLink::kFromGathering, -1);
    // The run stores two items of one of the demo's sites.
    {
      orvo::VaultLock lock(vault.lock);
      orvo::Database& db = *vault.db.database();
      int64_t pair = orvo::EnsurePair(db, "Harbour Gazette", "City");
      for (const char* title : {"Ferry timetable changes from Monday", "Night market returns to the old quay"}) {
        orvo::NewsRecord r;
        r.pair = pair;
        r.title = title;
        r.url = "http://127.0.0.1/news";
        r.body = "<p>" + std::string(title) + ".</p>";
        r.published = std::time(nullptr);
        orvo::StoreNews(db, r);
      }
    }
    emit runner->OnProcessStatus("Site: [Harbour Gazette], Category: [City] <News searching...> URL: [http://127.0.0.1/]",
                                 orvo::CRunnerLink::kFromGathering, -1);
    emit runner->Complite(orvo::CRunnerLink::kGatheringEnded);
    (void)QTest::qWaitFor([&] { return catcher.received; }, 5000);
  }
  if (catcher.received) {
    QFrame note;
    note.setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    note.setFrameShape(QFrame::Box);
    auto* layout = new QVBoxLayout(&note);
    auto* app = new QLabel(QString("<small>%1</small>").arg(catcher.app.toHtmlEscaped()), &note);
    auto* summary = new QLabel(QString("<b>%1</b>").arg(catcher.summary.toHtmlEscaped()), &note);
    auto* body = new QLabel(catcher.body, &note);
    body->setWordWrap(true);
    for (QLabel* l : {app, summary, body}) layout->addWidget(l);
    note.setFixedWidth(360);
    note.adjustSize();
    QRect screenArea = QGuiApplication::primaryScreen()->geometry();
    note.move(screenArea.right() - note.width() - 16, 16);
    note.show();
    QTest::qWait(400);
    QRect noteArea(note.pos() - QPoint(8, 8), note.size() + QSize(16, 16));
    if (!Save(out + "/newsdesk-notification.png", area.united(noteArea))) return 1;
  } else {
    std::fprintf(stderr, "newsdesk_shots: no session bus for the notification (ORVO_SHOTS_NOTIFY_BUS unset)\n");
  }

  // The same window in a dark palette: the grid, the tree and the news text.
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  QApplication::setPalette(DarkPalette());
  // The download's filter listed the news again: the item is chosen anew.
  if (!QTest::qWaitFor([&] { return !list->busy(); }, 10000)) return 1;
  for (int i = 0; i < list->model()->rowCount(); ++i)
    if (list->model()->title(i).startsWith("New tidal bridge")) row = i;
  shown = false;
  list->table()->selectionModel()->setCurrentIndex(list->model()->index(row, 0),
                                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  if (!QTest::qWaitFor([&] { return shown; }, 10000)) return 1;
  QTest::qWait(600);
  if (!Save(out + "/newsdesk-dark.png", area)) return 1;
  return 0;
}

#include "newsdesk_shots.moc"

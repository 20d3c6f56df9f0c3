// The reader as a new user meets it: a database file that changes under it,
// the keyboard between the panes, the splash, the Options values it shows
// and what a failed eBook run says.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QProgressBar>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplashScreen>
#include <QSplitter>
#include <QTableView>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>

#include "eventlog.h"
#include "frame_controls.h"
#include "newsdetail.h"
#include "newslist.h"
#include "options_sheet.h"
#include "runner_link.h"
#include "sites_tree.h"
#include "startup.h"
#include "text.h"
#include "tipdialog.h"
#include "translator.h"
#include "window_fixture.h"

namespace orvo::testing {
namespace {

class FirstUseTest : public ReaderTest {
 protected:
  int64_t UnreadIn(const std::string& path) {
    std::unique_ptr<Database> db;
    if (Database::Open(path, Database::Mode::kExisting, &db) != 0) return -1;
    Statement s(*db, "SELECT COUNT(*) FROM newsitem WHERE is_read = 0");
    return s.Next() ? s.Int(0) : -1;
  }
  QWidget* Focus() const { return QApplication::focusWidget(); }
};

// Marks went to the unlinked file and were lost without a word.
TEST_F(FirstUseTest, ADatabaseReplacedUnderTheReaderIsToldAndReopenedAndNoMarkGoesAstray) {
  AddNews(3);
  settings().WriteInt(kSystemSection, keys::kMarkReadTime, 0);
  OpenFrame();
  // Another program puts another database in its place (a backup restored).
  const std::string other = dir_.File("restored.db");
  {
    std::unique_ptr<Database> db;
    ASSERT_EQ(Database::Open(other, Database::Mode::kCreate, &db), 0);
    NewsRecord r;
    r.pair = EnsurePair(*db, "Delta", "Home");
    for (int i = 0; i < 2; ++i) {
      r.title = "Restored " + std::to_string(i);
      r.url = "https://example.org/restored/" + std::to_string(i);
      r.published = *ParseDbTime("2024-06-01 08:00:00") + i;
      ASSERT_GT(StoreNews(*db, r), 0);
    }
  }
  std::filesystem::rename(other, dbPath_);
  db_.reset();

  QString told;
  AnswerMessageBox(QMessageBox::Ok, &told);  // Reopen
  int n = fills_;
  SelectRow(0);  // marked read at once: the write finds the file changed
  ASSERT_TRUE(WaitFor([&] { return !told.isEmpty(); })) << "nothing said about the changed file";
  EXPECT_TRUE(told.contains("deleted or replaced")) << told.toStdString();
  NewsListModel* model = frame_->newsList()->model();
  ASSERT_TRUE(WaitFor([&] { return fills_ > n && model->rowCount() == 2; }))
      << frame_->statusText().toStdString() << " rows " << model->rowCount() << " fills " << fills_ - n
      << " changed " << vault_->db.FileChanged() << " told " << told.toStdString();
  EXPECT_EQ(model->title(0).left(8), "Restored");
  // The reopened file takes the marks.
  EXPECT_EQ(UnreadIn(dbPath_), 2);
  SelectRow(1);
  ASSERT_TRUE(WaitFor([&] { return UnreadIn(dbPath_) == 1; }));

  // Deleted: no write reaches a file nobody reads, and coming back to the
  // window tells of it.
  std::filesystem::remove(dbPath_);
  {
    VaultLock lock(vault_->lock);
    EXPECT_EQ(vault_->db.MarkAsRead(model->row(0).id, true), SQLITE_READONLY_DBMOVED);
  }
  told.clear();
  AnswerMessageBox(QMessageBox::Cancel, &told);  // Later
  EXPECT_TRUE(frame_->CheckDatabaseFile());
  EXPECT_TRUE(told.contains("deleted or replaced")) << told.toStdString();
  EXPECT_TRUE(frame_->statusText().startsWith("Not stored")) << frame_->statusText().toStdString();
}

// Tab walked the cells of the grid and changed the selected item.
TEST_F(FirstUseTest, TabAndF6WalkThePanesAndSpaceReadsOnToTheNextUnread) {
  NewsRecord longOne;
  longOne.pair = pair_[0];
  longOne.title = "A long one";
  longOne.url = "https://example.org/long";
  for (int i = 0; i < 80; ++i) longOne.body += "<p>Paragraph " + std::to_string(i) + " of a long story.</p>";
  longOne.published = *ParseDbTime("2024-04-01 08:00:00");
  AddNews(longOne);
  AddNews(2);
  settings().WriteInt(kSystemSection, keys::kSortColumn, 2);
  OpenFrame();
  frame_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame_.get()));
  frame_->newsDetail()->setLoadDelay(0);
  QTableView* table = frame_->newsList()->table();
  QTextBrowser* text = frame_->newsDetail()->browser();
  table->setFocus();
  SelectRow(0);
  ASSERT_TRUE(WaitFor([&] { return text->toPlainText().contains("Paragraph 79"); }));

  QTest::keyClick(table, Qt::Key_Tab);
  EXPECT_EQ(Focus(), text);
  EXPECT_EQ(table->currentIndex().row(), 0) << "Tab changed the selected item";
  QTest::keyClick(text, Qt::Key_Tab, Qt::ShiftModifier);
  EXPECT_EQ(Focus(), table);
  QTest::keyClick(table, Qt::Key_Tab, Qt::ShiftModifier);
  EXPECT_EQ(Focus(), frame_->sitesTree());

  // F6 cycles sites, list, text, keywords box.
  const QList<QWidget*> order = {table, text, frame_->keywordsCombo(), frame_->sitesTree()};
  for (QWidget* expected : order) {
    QWidget* from = Focus();
    QTest::keyClick(Focus(), Qt::Key_F6);
    EXPECT_TRUE(Focus() == expected || expected->isAncestorOf(Focus()))
        << "F6 from " << (from ? from->metaObject()->className() : "nothing") << " went to "
        << (Focus() ? Focus()->metaObject()->className() : "nothing");
  }
  QTest::keyClick(Focus(), Qt::Key_F6, Qt::ShiftModifier);
  EXPECT_TRUE(Focus() == frame_->keywordsCombo() || frame_->keywordsCombo()->isAncestorOf(Focus()));

  // Space scrolls the text, and at its end goes to the next unread item.
  text->setFocus();
  QScrollBar* bar = text->verticalScrollBar();
  ASSERT_TRUE(WaitFor([&] { return bar->maximum() > 0; }));
  QTest::keyClick(text, Qt::Key_Space);
  EXPECT_GT(bar->value(), 0);
  for (int i = 0; i < 200 && bar->value() < bar->maximum(); ++i) QTest::keyClick(text, Qt::Key_Space);
  EXPECT_EQ(table->currentIndex().row(), 0);
  QTest::keyClick(text, Qt::Key_Space);
  EXPECT_EQ(table->currentIndex().row(), 1);
}

// The arrows moved the highlight of the Sites pane but listed nothing.
TEST_F(FirstUseTest, ArrowsInTheSitesPaneListWhatTheyReach) {
  AddNews(6);
  OpenFrame();
  CSitesTree* tree = frame_->sitesTree();
  ASSERT_TRUE(WaitFor([&] { return tree->topLevelItemCount() == 4; }));
  tree->setFocus();
  tree->setCurrentItem(tree->topLevelItem(0));  // All news
  ASSERT_TRUE(WaitFor([&] { return !frame_->newsList()->busy(); }));
  int n = fills_;
  QTest::keyClick(tree, Qt::Key_Down);
  ASSERT_TRUE(WaitForFills(n + 1)) << "the list did not follow";
  NewsListModel* model = frame_->newsList()->model();
  ASSERT_EQ(model->rowCount(), 2);
  EXPECT_EQ(model->site(0), "Alpha");
  QTest::keyClick(tree, Qt::Key_Down);
  ASSERT_TRUE(WaitForFills(n + 2));
  EXPECT_EQ(model->site(0), "Beta");
}

// After a maximised window had saved a 1,318 px title column, End showed an
// empty grid and a blank header.
TEST_F(FirstUseTest, EndGoesToTheLastRowAndWideSavedColumnsFitTheView) {
  AddNews(30);
  settings().WriteInt(kSystemSection, "col4", 1318);
  settings().WriteInt(kSystemSection, "col1", 1318);
  OpenFrame();
  frame_->resize(750, 500);
  QTableView* table = frame_->newsList()->table();
  QApplication::processEvents();
  const int view = table->viewport()->width();
  for (int i = 0; i < 4; ++i) EXPECT_LT(table->columnWidth(i), view) << "column " << i;
  SelectRow(3);
  for (auto mods : {Qt::NoModifier, Qt::ControlModifier}) {
    QTest::keyClick(table, Qt::Key_End, mods);
    EXPECT_EQ(table->currentIndex().row(), 29);
    EXPECT_EQ(table->horizontalScrollBar()->value(), 0);
    QTest::keyClick(table, Qt::Key_Home, mods);
    EXPECT_EQ(table->currentIndex().row(), 0);
  }
}

// The splash stayed open behind the window until the tip of the day was
// closed, and its title was cut ("ORVO Newsdes").
TEST_F(FirstUseTest, TheSplashClosesWhenTheWindowShowsAndShowsTheWholeName) {
  settings().WriteInt(kSystemSection, keys::kStartTip, 1);
  QSplashScreen splash(SplashPixmap());
  splash.show();
  vault_ = std::make_unique<Vault>();
  ASSERT_TRUE(vault_->db.Init(""));
  frame_ = std::make_unique<CMainFrame>(*vault_, false);
  bool tipSeen = false, splashOpenAtTip = false;
  QTimer watch;
  watch.setInterval(5);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (auto* tip = qobject_cast<CTipDialog*>(QApplication::activeModalWidget())) {
      tipSeen = true;
      splashOpenAtTip = splash.isVisible();
      tip->reject();
    }
  });
  watch.start();
  ShowMainWindow(*frame_, &splash, false, false);
  EXPECT_FALSE(splash.isVisible());
  ASSERT_TRUE(WaitFor([&] { return tipSeen; }));
  EXPECT_FALSE(splashOpenAtTip);

  // The name is drawn whole: its right end stands clear of the picture's edge.
  QImage image = SplashPixmap().toImage();
  const QRgb background = image.pixel(image.width() - 1, 0);
  int rightmost = 0;
  for (int y = 40; y < 80; ++y)
    for (int x = 120; x < image.width(); ++x)
      if (image.pixel(x, y) != background) rightmost = std::max(rightmost, x);
  QFont big = QGuiApplication::font();
  big.setPointSize(20);
  big.setBold(true);
  EXPECT_GE(rightmost - 120 + 2, QFontMetrics(big).horizontalAdvance("ORVO Newsdesk") * 9 / 10);
  EXPECT_LT(rightmost, image.width() - 12);
}

// Options showed 100 for a stored 3650; the View menu had two S keys; a
// failed eBook run said only "Lit generation Failed".
TEST_F(FirstUseTest, OptionsShowStoredDaysMenusHaveOneKeyEachAndAFailedEbookRunSaysWhy) {
  settings().WriteInt(kDownloadSection, "Days", 3650);
  OpenFrame();
  COptionsPropSheet sheet(*vault_, [] { return false; }, frame_.get());
  sheet.show();
  QApplication::processEvents();
  EXPECT_EQ(sheet.sitesPage()->daysSpin()->value(), 3650);

  for (QAction* top : frame_->menuBar()->actions()) {
    QStringList keys;
    for (QAction* a : top->menu()->actions()) {
      const qsizetype at = a->text().indexOf('&');
      if (a->isSeparator() || at < 0 || at + 1 >= a->text().size()) continue;
      const QString key = a->text().mid(at + 1, 1).toLower();
      EXPECT_FALSE(keys.contains(key)) << top->text().toStdString() << ": " << a->text().toStdString();
      keys << key;
    }
  }

  WriteEventLog("*.lit files generation started");
  WriteEventLog("No filters for .lit files generator.");
  WriteEventLog("Lit generation Failed");
  CRunnerLink* runner = frame_->controls()->runner();
  emit runner->OnProcessStatus("*.lit files generation started", CRunnerLink::kFromEbook, -1);
  emit runner->OnProcessStatus("Lit generation Failed", CRunnerLink::kFromEbook, -1);
  EXPECT_EQ(frame_->statusText(), "Lit generation Failed: No filters for .lit files generator.");
}

// In Russian the engine's progress came in English, and the notification
// title had no plural forms.
TEST_F(FirstUseTest, EngineProgressIsShownInTheReadersLanguageWithABarAndPluralTitles) {
  ReaderTranslations russian;
  ASSERT_EQ(russian.Install(QLocale(QLocale::Russian, QLocale::Russia)), "ru");
  OpenFrame();
  CRunnerLink* runner = frame_->controls()->runner();
  frame_->SetDownloadRunning(true);
  emit runner->OnProcessStatus("Site: [Daily %1 %p], Category: [World] <News: 24 from 30> URL: [http://a/24]",
                               CRunnerLink::kFromGathering, -1);
  EXPECT_EQ(frame_->statusText(), QString::fromUtf8("Сайт: [Daily %1 %p], рубрика: [World] <Новость 24 из 30> "
                                                    "Адрес: [http://a/24]"));
  QProgressBar* bar = frame_->progressBar();
  EXPECT_TRUE(bar->isVisibleTo(frame_.get()));
  EXPECT_EQ(bar->maximum(), 30);
  EXPECT_EQ(bar->value(), 24);
  // The bar's own %p, %v and %m stay text in a name.
  EXPECT_EQ(bar->text().remove(QChar(0x2060)), QString::fromUtf8("Daily %1 %p / World: 24 из 30"));
  EXPECT_EQ(bar->toolTip(), QString::fromUtf8("Daily %1 %p / World: 24 из 30"));
  emit runner->OnProcessStatus("Checking for updates...", CRunnerLink::kFromGathering, -1);
  EXPECT_EQ(frame_->statusText(), QString::fromUtf8("Проверка обновлений..."));
  emit runner->OnProcessStatus("A text the reader does not know", CRunnerLink::kFromGathering, -1);
  EXPECT_EQ(frame_->statusText(), "A text the reader does not know");
  frame_->SetDownloadRunning(false);
  EXPECT_FALSE(bar->isVisibleTo(frame_.get()));

  const struct {
    int n;
    const char* title;
  } kTitles[] = {{2, "2 новые новости"}, {5, "5 новых новостей"}, {21, "21 новая новость"}, {112, "112 новых новостей"}};
  for (const auto& t : kTitles)
    EXPECT_EQ(QCoreApplication::translate("orvo::CFrameControls", "%n new news items", nullptr, t.n),
              QString::fromUtf8(t.title));
  frame_.reset();
  russian.Remove();
}

// What a first-time user met: a three-row list, "Site 10" before "Site 2"
// with its count cut off, a window that vanished without a word, raw search
// and date texts.
TEST_F(FirstUseTest, LayoutSitesOrderTrayAndSearchTextsAreWhatADesktopReaderShows) {
  NewsRecord r;
  r.pair = EnsurePair(*db_, "Site 10", "News");
  r.title = "Midnight item";
  r.url = "https://example.org/midnight";
  r.published = *ParseDbTime("2024-05-02 00:00:00");
  AddNews(r);
  r.pair = EnsurePair(*db_, "Site 2", "News");
  r.title = "Morning item";
  r.url = "https://example.org/morning";
  r.published = *ParseDbTime("2024-05-02 08:30:00");
  AddNews(r);
  r.pair = EnsurePair(*db_, "The Harbour Daily of the Northern Coast and Islands", "News");
  r.url = "https://example.org/harbour";
  AddNews(r);
  OpenFrame(/*trayAvailable=*/true);
  // No layout stored: the list takes about 40 % of the list and the text.
  const QList<int> sizes = frame_->splitter()->sizes();
  const double share = double(sizes[0]) / (sizes[0] + sizes[2]);
  EXPECT_GT(share, 0.3);
  EXPECT_LT(share, 0.5);

  CSitesTree* tree = frame_->sitesTree();
  ASSERT_TRUE(WaitFor([&] { return tree->topLevelItemCount() == 7; }));
  QStringList sites;
  for (int i = 1; i < tree->topLevelItemCount(); ++i) sites << tree->topLevelItem(i)->text(0);
  EXPECT_LT(sites.indexOf("Site 2 (1)"), sites.indexOf("Site 10 (1)")) << sites.join(", ").toStdString();
  QTreeWidgetItem* harbour = tree->ItemOf("The Harbour Daily of the Northern Coast and Islands");
  ASSERT_NE(harbour, nullptr);
  // What the pane draws at 120 pixels keeps "(1)".
  const QString drawn = CSitesTree::ElideKeepingCount(harbour->text(0), tree->fontMetrics(), 120);
  EXPECT_TRUE(drawn.endsWith("(1)")) << drawn.toStdString();
  EXPECT_LE(tree->fontMetrics().horizontalAdvance(drawn), 120);

  // The date alone for an item without a time of day.
  NewsListModel* model = frame_->newsList()->model();
  int midnight = -1;
  for (int i = 0; i < model->rowCount(); ++i)
    if (model->title(i) == "Midnight item") midnight = i;
  ASSERT_GE(midnight, 0);
  EXPECT_EQ(model->data(model->index(midnight, 2), Qt::DisplayRole).toString(),
            QLocale().toString(QDate(2024, 5, 2), QLocale::ShortFormat));

  // A search says what it looked for and how many it found.
  frame_->keywordsCombo()->setEditText("item");
  int n = fills_;
  frame_->action(Cmd::Search)->trigger();
  ASSERT_TRUE(WaitForFills(n + 1));
  EXPECT_EQ(frame_->statusText(), "3 news items found for \"item\".");

  // Ctrl+Q quits; closing the window tells once that ORVO goes on.
  EXPECT_EQ(frame_->action(Cmd::Quit)->shortcut(), QKeySequence(QKeySequence::Quit));
  frame_->close();
  EXPECT_FALSE(frame_->isVisible());
  EXPECT_EQ(settings().ReadInt(kSystemSection, "TrayNoticeShown", 0), 1);
  bool quit = false;
  QObject::connect(frame_.get(), &CMainFrame::quitRequested, [&] { quit = true; });
  frame_->action(Cmd::Quit)->trigger();
  EXPECT_TRUE(quit);
}

}  // namespace
}  // namespace orvo::testing

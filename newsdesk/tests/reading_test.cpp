// What a reader expects beyond reading one item: walking the unread news by
// keyboard, marking a whole list, opening an item in the browser, counts of
// what is listed and unread, the end of a download summed up and told to the
// desktop, a page readable in a dark palette, and labels screen readers can
// follow.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QDockWidget>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <QTimer>
#include <QTreeWidget>

#include "busharness.h"
#include "desktop_notifier.h"
#include "filter_editor.h"
#include "filters_dialog.h"
#include "frame_controls.h"
#include "newsdetail.h"
#include "newslist.h"
#include "options_sheet.h"
#include "run_summary.h"
#include "runner_link.h"
#include "sites_tree.h"
#include "text.h"
#include "tipdialog.h"
#include "window_fixture.h"

namespace orvo::testing {

// The desktop's notification server, as far as the reader uses it.
class FakeNotifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
 public:
  struct Note {
    QString app, summary, body;
    uint replaces = 0;
    int timeout = 0;
  };
  std::vector<Note> notes;

 public Q_SLOTS:
  uint Notify(const QString& app, uint replaces, const QString& /*icon*/, const QString& summary,
              const QString& body, const QStringList& /*actions*/, const QVariantMap& /*hints*/, int timeout) {
    notes.push_back({app, summary, body, replaces, timeout});
    return static_cast<uint>(notes.size()) + 40;
  }
  QStringList GetCapabilities() { return {"body"}; }
};

// Opens addresses the way the desktop would, recording them.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public Q_SLOTS:
  void Open(const QUrl& url) { opened << url; }
};

namespace {

class ReadingTest : public ReaderTest {
 protected:
  void MarkReadInDb(int64_t id) { db_->Exec(("UPDATE newsitem SET is_read = 1 WHERE id = " + std::to_string(id)).c_str()); }
  int CurrentRow() const { return frame_->newsList()->table()->selectionModel()->currentIndex().row(); }
  int64_t Unread() { return QueryInt("SELECT COUNT(*) FROM newsitem WHERE is_read = 0 AND is_del = 0"); }
};

TEST_F(ReadingTest, NextAndPreviousUnreadSkipReadRowsAndSayWhenNoneIsLeft) {
  std::vector<int64_t> ids = AddNews(6);
  OpenFrame();
  CNewsListView* list = frame_->newsList();
  NewsListModel* model = list->model();
  ASSERT_EQ(model->rowCount(), 6);
  // Read rows in the listed order: the first, the third and the last.
  std::vector<int> unreadRows;
  for (int i = 0; i < 6; ++i) {
    if (i == 0 || i == 2 || i == 5) MarkReadInDb(model->row(i).id);
    else unreadRows.push_back(i);
  }
  int n = fills_;
  list->Refill();
  ASSERT_TRUE(WaitForFills(n + 1));
  list->table()->setFocus();
  SelectRow(0);

  QTest::keyClick(list->table(), Qt::Key_N);
  EXPECT_EQ(CurrentRow(), unreadRows[0]);
  QTest::keyClick(list->table(), Qt::Key_N);
  EXPECT_EQ(CurrentRow(), unreadRows[1]);
  QTest::keyClick(list->table(), Qt::Key_N);
  EXPECT_EQ(CurrentRow(), unreadRows[2]);
  // Past the last unread row the selection stays and the status bar says so.
  QTest::keyClick(list->table(), Qt::Key_N);
  EXPECT_EQ(CurrentRow(), unreadRows[2]);
  EXPECT_TRUE(frame_->statusText().contains("No more unread")) << frame_->statusText().toStdString();
  QTest::keyClick(list->table(), Qt::Key_N, Qt::ShiftModifier);
  EXPECT_EQ(CurrentRow(), unreadRows[1]);
  EXPECT_EQ(list->table()->selectionModel()->selectedRows().size(), 1);

  // Typing an N into the keywords box types it.
  frame_->keywordsCombo()->lineEdit()->setFocus();
  frame_->keywordsCombo()->setEditText("");
  QTest::keyClicks(frame_->keywordsCombo()->lineEdit(), "Nn");
  EXPECT_EQ(frame_->keywordsCombo()->currentText(), "Nn");
  EXPECT_EQ(CurrentRow(), unreadRows[1]);
}

TEST_F(ReadingTest, MarkAllReadMarksTheListedRowsOnlyAndTheCountsFollow) {
  AddNews(9);  // three per site
  OpenFrame();
  CSitesTree* tree = frame_->sitesTree();
  ASSERT_TRUE(WaitFor([&] { return tree->totalUnread() == 9; }));
  EXPECT_EQ(tree->UnreadOf("Alpha"), 3);
  EXPECT_EQ(tree->UnreadOf("Beta", "Sport"), 3);
  EXPECT_TRUE(tree->topLevelItem(0)->text(0).contains("9")) << tree->topLevelItem(0)->text(0).toStdString();

  // Choosing a site lists its news only.
  QTreeWidgetItem* beta = tree->ItemOf("Beta");
  ASSERT_NE(beta, nullptr);
  tree->setCurrentItem(beta);
  int n = fills_;
  emit tree->itemClicked(beta, 0);
  ASSERT_TRUE(WaitForFills(n + 1));
  NewsListModel* model = frame_->newsList()->model();
  ASSERT_EQ(model->rowCount(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(model->site(i), "Beta");
  EXPECT_EQ(frame_->countText(), "3 news items");

  frame_->action(Cmd::MarkAllRead)->trigger();
  ASSERT_TRUE(WaitFor([&] { return !frame_->newsList()->marking() && model->row(2).read; }));
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(model->row(i).read);
  EXPECT_EQ(QueryInt("SELECT COUNT(*) FROM newsitem WHERE is_read = 1"), 3);
  EXPECT_EQ(QueryInt("SELECT COUNT(*) FROM newsitem WHERE is_read = 1 AND fk_site_cat_rel = " +
                     std::to_string(pair_[1])),
            3);
  ASSERT_TRUE(WaitFor([&] { return tree->totalUnread() == 6; }));
  EXPECT_EQ(tree->UnreadOf("Beta"), 0);
  EXPECT_EQ(tree->UnreadOf("Alpha"), 3);
  // The chosen entry stays chosen across the refresh.
  ASSERT_NE(tree->currentItem(), nullptr);
  EXPECT_EQ(tree->currentItem()->text(0), "Beta");

  // A deleted item is no longer counted; "All news" lists everything again.
  db_->Exec(("UPDATE newsitem SET is_del = 1 WHERE id = (SELECT MIN(id) FROM newsitem WHERE fk_site_cat_rel = " +
             std::to_string(pair_[0]) + ")")
                .c_str());
  tree->Refresh();
  EXPECT_EQ(tree->UnreadOf("Alpha"), 2);
  n = fills_;
  emit tree->itemClicked(tree->topLevelItem(0), 0);
  ASSERT_TRUE(WaitForFills(n + 1));
  EXPECT_EQ(model->rowCount(), 8);
}

TEST_F(ReadingTest, OpensTheItemsAddressInTheBrowserOrSaysWhyNot) {
  NewsRecord web;
  web.pair = pair_[0];
  web.title = "On the web";
  web.url = "https://example.org/web";
  web.published = *ParseDbTime("2024-05-01 08:00:00");
  AddNews(web);
  NewsRecord script = web;
  script.title = "A script";
  script.url = "javascript:alert(1)";
  script.published += 60;
  AddNews(script);
  OpenFrame();
  CNewsListView* list = frame_->newsList();
  auto rowOf = [&](const QString& title) {
    for (int i = 0; i < list->model()->rowCount(); ++i)
      if (list->model()->title(i) == title) return i;
    return -1;
  };

  // Through the desktop's own handler for web addresses.
  UrlRecorder recorder;
  QDesktopServices::setUrlHandler("https", &recorder, "Open");
  SelectRow(rowOf("On the web"));
  frame_->action(Cmd::OpenInBrowser)->trigger();
  ASSERT_EQ(recorder.opened.size(), 1);
  EXPECT_EQ(recorder.opened[0], QUrl("https://example.org/web"));
  QTableView* table = list->table();
  QRect cell = table->visualRect(list->model()->index(rowOf("On the web"), 3));
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_EQ(recorder.opened.size(), 2);
  QDesktopServices::unsetUrlHandler("https");

  // No browser to hand.
  list->SetUrlOpener([](const QUrl&) { return false; });
  QString text;
  AnswerMessageBox(QMessageBox::Ok, &text);
  EXPECT_FALSE(list->OpenInBrowser());
  EXPECT_TRUE(text.contains("No web browser could open https://example.org/web")) << text.toStdString();

  // A stored address that is not a web page is never handed on.
  int calls = 0;
  list->SetUrlOpener([&](const QUrl&) { return ++calls, true; });
  SelectRow(rowOf("A script"));
  AnswerMessageBox(QMessageBox::Ok, &text);
  EXPECT_FALSE(list->OpenInBrowser());
  EXPECT_EQ(calls, 0);
  EXPECT_TRUE(text.contains("not a web page")) << text.toStdString();
}

TEST_F(ReadingTest, ShortcutListNamesEveryCommandThatHasKeys) {
  AddNews(1);
  OpenFrame();
  const QList<QPair<QString, QString>> list = frame_->ShortcutList();
  QStringList keys;
  for (const auto& entry : list) keys << entry.second;
  int withKeys = 0;
  for (QAction* a : frame_->findChildren<QAction*>()) {
    if (a->shortcut().isEmpty()) continue;
    bool inMenus = false;
    for (QObject* o : a->associatedObjects())
      if (qobject_cast<QMenu*>(o)) inMenus = true;
    if (!inMenus) continue;
    ++withKeys;
    EXPECT_TRUE(keys.contains(a->shortcut().toString(QKeySequence::NativeText))) << a->text().toStdString();
  }
  EXPECT_GE(withKeys, 12);
  bool next = false;
  for (const auto& entry : list)
    if (entry.first == "Next Unread" && entry.second == "N") next = true;
  EXPECT_TRUE(next);
  // The grid's own Ctrl+A is listed too.
  EXPECT_TRUE(keys.contains(QKeySequence(QKeySequence::SelectAll).toString(QKeySequence::NativeText)));
}

TEST_F(ReadingTest, StatusBarCountsTheListedNewsAndSaysWhenASearchFindsNothing) {
  AddNews(4);
  OpenFrame();
  EXPECT_EQ(frame_->countText(), "4 news items");
  frame_->keywordsCombo()->setEditText("News 02");
  int n = fills_;
  frame_->action(Cmd::Search)->trigger();
  ASSERT_TRUE(WaitForFills(n + 1));
  EXPECT_EQ(frame_->countText(), "1 news item");
  frame_->keywordsCombo()->setEditText("no such words");
  frame_->action(Cmd::Search)->trigger();
  ASSERT_TRUE(WaitForFills(n + 2));
  EXPECT_EQ(frame_->countText(), "Nothing found");
  frame_->ApplySelectedFilter();
  ASSERT_TRUE(WaitForFills(n + 3));
  EXPECT_EQ(frame_->countText(), "4 news items");
}

TEST(RunSummary, CountsTheSitesVisitedAndTheFailuresTold) {
  CRunSummary s;
  s.Feed("Site: [Ignored], Category: [x] <News searching...> URL: [u]");  // before the run
  s.Begin(10);
  s.Feed("Checking for updates...");
  s.Feed("Site: [Alpha], Category: [World] <News searching...> URL: [http://a/]");
  s.Feed("Site: [Alpha], Category: [Sport] <News: 1 from 2> URL: [http://a/1]");
  s.Feed("Site: [Beta], Category: [World] <News searching...> URL: [http://b/]");
  s.Feed("Can not read the page [http://b/]: nothing arrived.");
  s.Feed("1 of 3 images of [http://a/1] could not be downloaded.");
  s.Feed("Download completed.");
  EXPECT_EQ(s.lastNewsIdBefore(), 10);
  s.Finish(5, 1);
  EXPECT_EQ(s.sitesVisited(), 2);
  EXPECT_EQ(s.failures(), 2);
  EXPECT_EQ(s.Text(), "Download completed: 5 new news items from 1 site. 2 failures; see the event log.");
  s.Begin(0);
  s.Feed("Site: [Alpha], Category: [World] <News searching...> URL: [http://a/]");
  s.Finish(0, 0);
  EXPECT_EQ(s.Text(), "Download completed: no new news items (1 site visited).");
}

class NotifyingTest : public ReadingTest {
 protected:
  void SetUp() override {
    ReadingTest::SetUp();
    bus_ = std::make_unique<PrivateBus>(std::vector<std::string>{});
    ASSERT_TRUE(bus_->ok()) << bus_->error();
    QDBusConnection server = bus_->Connect("notifications");
    ASSERT_TRUE(server.registerService("org.freedesktop.Notifications"));
    ASSERT_TRUE(server.registerObject("/org/freedesktop/Notifications", &notes_, QDBusConnection::ExportAllSlots));
  }
  void TearDown() override {
    frame_.reset();
    bus_.reset();
    ReadingTest::TearDown();
  }
  void OpenOnBus() {
    // With nothing selected for download, its end would ask to select sources.
    db_->Exec("UPDATE site_cat_rel SET is_selected = 1");
    OpenFrame();
    frame_->controls()->notifier()->SetBus(bus_->Connect("reader"));
  }
  CRunnerLink* runner() { return frame_->controls()->runner(); }

  FakeNotifications notes_;
  std::unique_ptr<PrivateBus> bus_;
};

TEST_F(NotifyingTest, DownloadEndsWithASummaryAndANotificationOfTheNewItems) {
  AddNews(3);
  settings().WriteInt(kSystemSection, "FilterApply", 1);
  OpenOnBus();
  CSitesTree* tree = frame_->sitesTree();
  ASSERT_TRUE(WaitFor([&] { return tree->totalUnread() == 3; }));
  // A run the schedule started: the reader learns of it from its texts.
  frame_->SetDownloadRunning(true);
  emit runner()->OnProcessStatus("Checking for updates...", CRunnerLink::kFromGathering, -1);
  emit runner()->OnProcessStatus("Site: [Alpha], Category: [World] <News searching...> URL: [http://a/]",
                                 CRunnerLink::kFromGathering, -1);
  emit runner()->OnProcessStatus("Site: [Beta], Category: [Sport] <News searching...> URL: [http://b/]",
                                 CRunnerLink::kFromGathering, -1);
  emit runner()->OnProcessStatus("Can not read the page [http://b/]: nothing arrived.", CRunnerLink::kFromGathering,
                                 -1);
  AddNews(2);  // the engine stores two items, of two sites
  emit runner()->OnProcessStatus("Download completed.", CRunnerLink::kFromGathering, -1);
  int n = fills_;
  emit runner()->Complite(CRunnerLink::kGatheringEnded);
  ASSERT_TRUE(WaitForFills(n + 1));
  EXPECT_EQ(frame_->statusText(), "Download completed: 2 new news items from 2 sites. 1 failure; see the event log.");
  EXPECT_EQ(frame_->countText(), "5 news items");
  ASSERT_TRUE(WaitFor([&] { return tree->totalUnread() == 5; }));

  ASSERT_TRUE(WaitFor([&] { return notes_.notes.size() == 1; }));
  EXPECT_EQ(notes_.notes[0].app, "ORVO Newsdesk");
  EXPECT_EQ(notes_.notes[0].summary, "2 new news items");
  EXPECT_TRUE(notes_.notes[0].body.contains("from 2 sites")) << notes_.notes[0].body.toStdString();
  EXPECT_EQ(notes_.notes[0].replaces, 0u);

  // A run that finds nothing new is summed up, but not notified.
  frame_->SetDownloadRunning(true);
  emit runner()->OnProcessStatus("Checking for updates...", CRunnerLink::kFromGathering, -1);
  emit runner()->Complite(CRunnerLink::kGatheringEnded);
  ASSERT_TRUE(WaitForFills(n + 2));
  EXPECT_EQ(frame_->statusText(), "Download completed: no new news items.");
  QTest::qWait(200);
  EXPECT_EQ(notes_.notes.size(), 1u);
}

// A killed or stalled engine used to end in "Download completed: ..." and a
// notification of the new items as if all had come.
TEST_F(NotifyingTest, AnInterruptedDownloadIsShownAndNotifiedAsInterrupted) {
  OpenOnBus();
  frame_->SetDownloadRunning(true);
  emit runner()->OnProcessStatus("Site: [Alpha], Category: [World] <News searching...> URL: [http://a/]",
                                 CRunnerLink::kFromGathering, -1);
  AddNews(2);  // stored before the engine was lost
  int n = fills_;
  emit runner()->Complite(CRunnerLink::kGatheringInterrupted);
  ASSERT_TRUE(WaitForFills(n + 1));  // what was stored is listed
  ASSERT_TRUE(WaitFor([&] { return notes_.notes.size() == 1; }));
  const QString said = "Download interrupted: the gathering engine ended before the download was complete; "
                       "2 new news items from 2 sites were stored before.";
  EXPECT_EQ(frame_->statusText(), said);
  EXPECT_EQ(notes_.notes[0].summary, "Download interrupted");
  EXPECT_EQ(notes_.notes[0].body, said);
  EXPECT_FALSE(frame_->downloadRunning());
}

TEST_F(NotifyingTest, EbookRunNotifiesOnSuccessOnlyAndTheSettingSwitchesItOff) {
  OpenOnBus();
  frame_->SetGenerationRunning(true);
  emit runner()->OnProcessStatus("*.lit files generation started", CRunnerLink::kFromEbook, -1);
  emit runner()->OnProcessStatus("Lit generation Failed", CRunnerLink::kFromEbook, -1);
  emit runner()->Complite(CRunnerLink::kEbookEnded);
  emit runner()->OnProcessStatus("*.lit files generation completed successfully", CRunnerLink::kFromEbook, -1);
  emit runner()->Complite(CRunnerLink::kEbookEnded);
  ASSERT_TRUE(WaitFor([&] { return notes_.notes.size() == 1; }));
  EXPECT_EQ(notes_.notes[0].summary, "eBooks are ready");

  // Off in the Options: nothing goes to the desktop.
  settings().WriteInt(kSystemSection, kNotifyKey, 0);
  emit runner()->OnProcessStatus("*.lit files generation completed successfully", CRunnerLink::kFromEbook, -1);
  emit runner()->Complite(CRunnerLink::kEbookEnded);
  AddNews(1);
  frame_->SetDownloadRunning(true);
  emit runner()->OnProcessStatus("Checking for updates...", CRunnerLink::kFromGathering, -1);
  emit runner()->Complite(CRunnerLink::kGatheringEnded);
  QTest::qWait(300);
  EXPECT_EQ(notes_.notes.size(), 1u);
  EXPECT_EQ(frame_->controls()->notifier()->sent(), 1);
}

TEST_F(ReadingTest, NewsTextKeepsThePaletteColoursWhateverTheSiteWrote) {
  NewsRecord r;
  r.pair = pair_[0];
  r.title = "Coloured";
  r.url = "https://example.org/c";
  r.published = *ParseDbTime("2024-05-01 08:00:00");
  r.body =
      "<p style=\"background-color:#ffffff\"><font color=\"#000000\">Black words</font> "
      "<span style=\"color:#111111;background:#fafafa\">grey words</span> <a href=\"https://example.org/l\">a "
      "link</a></p><table bgcolor=\"white\"><tr><td bgcolor=\"#eeeeee\"><font color=black>in a cell</font></td>"
      "</tr></table>";
  AddNews(r);
  OpenFrame();
  QPalette dark;
  dark.setColor(QPalette::Base, QColor(30, 30, 30));
  dark.setColor(QPalette::Text, QColor(230, 230, 230));
  dark.setColor(QPalette::Window, QColor(45, 45, 45));
  dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
  dark.setColor(QPalette::Link, QColor(120, 170, 255));
  frame_->newsDetail()->setPalette(dark);
  frame_->newsDetail()->setLoadDelay(0);
  bool shown = false;
  QObject::connect(frame_->newsDetail(), &CNewsDetailView::itemShown, [&] { shown = true; });
  SelectRow(0);
  ASSERT_TRUE(WaitFor([&] { return shown; }));

  auto check = [&](const QColor& link) {
    QTextDocument* doc = frame_->newsDetail()->browser()->document();
    int texts = 0, links = 0;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
      EXPECT_FALSE(b.blockFormat().hasProperty(QTextFormat::BackgroundBrush));
      for (auto it = b.begin(); !it.atEnd(); ++it) {
        QTextCharFormat f = it.fragment().charFormat();
        ++texts;
        EXPECT_FALSE(f.hasProperty(QTextFormat::BackgroundBrush)) << it.fragment().text().toStdString();
        if (f.isAnchor() && !f.anchorHref().isEmpty()) {
          ++links;
          EXPECT_EQ(f.foreground().color(), link);
        } else {
          EXPECT_FALSE(f.hasProperty(QTextFormat::ForegroundBrush)) << it.fragment().text().toStdString();
        }
      }
    }
    EXPECT_GE(texts, 4);
    EXPECT_EQ(links, 1);
    for (QTextFrame* f : doc->rootFrame()->childFrames()) {
      EXPECT_FALSE(f->frameFormat().hasProperty(QTextFormat::BackgroundBrush));
      if (auto* t = qobject_cast<QTextTable*>(f)) {
        EXPECT_FALSE(t->cellAt(0, 0).format().hasProperty(QTextFormat::BackgroundBrush));
      }
    }
    EXPECT_TRUE(doc->toPlainText().contains("in a cell"));
  };
  check(dark.color(QPalette::Link));
  // Back to light: the page is shown again with the new link colour.
  QPalette light;
  light.setColor(QPalette::Link, QColor(0, 0, 200));
  frame_->newsDetail()->setPalette(light);
  check(QColor(0, 0, 200));
}

// Every label beside an input names it for screen readers, in every window.
void ExpectLabelsHaveBuddies(QWidget* root, const std::string& where) {
  auto isInput = [](QWidget* w) {
    return w && (qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractSpinBox*>(w) ||
                 qobject_cast<QPlainTextEdit*>(w) || qobject_cast<QAbstractItemView*>(w));
  };
  int checked = 0;
  for (QLayout* layout : root->findChildren<QLayout*>()) {
    auto check = [&](QLayoutItem* labelItem, QLayoutItem* fieldItem) {
      auto* label = labelItem ? qobject_cast<QLabel*>(labelItem->widget()) : nullptr;
      QWidget* field = fieldItem ? fieldItem->widget() : nullptr;
      if (!label || !isInput(field) || label->text().trimmed().isEmpty()) return;
      ++checked;
      EXPECT_NE(label->buddy(), nullptr) << where << ": \"" << label->text().toStdString() << "\"";
    };
    if (auto* form = qobject_cast<QFormLayout*>(layout)) {
      for (int r = 0; r < form->rowCount(); ++r)
        check(form->itemAt(r, QFormLayout::LabelRole), form->itemAt(r, QFormLayout::FieldRole));
    } else if (auto* grid = qobject_cast<QGridLayout*>(layout)) {
      for (int r = 0; r < grid->rowCount(); ++r)
        for (int c = 0; c + 1 < grid->columnCount(); ++c) check(grid->itemAtPosition(r, c), grid->itemAtPosition(r, c + 1));
      for (int r = 0; r + 1 < grid->rowCount(); ++r)
        for (int c = 0; c < grid->columnCount(); ++c) check(grid->itemAtPosition(r, c), grid->itemAtPosition(r + 1, c));
    } else if (auto* box = qobject_cast<QBoxLayout*>(layout)) {
      for (int i = 0; i + 1 < box->count(); ++i) check(box->itemAt(i), box->itemAt(i + 1));
    }
  }
  // A label a layout does not place, but which stands before an input.
  for (QLabel* label : root->findChildren<QLabel*>())
    if (label->text().trimmed().endsWith(':') && label->isVisibleTo(root) && !label->buddy()) {
      QWidget* parent = label->parentWidget();
      bool beforeInput = false;
      for (QWidget* sibling : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (isInput(sibling) && std::abs(sibling->geometry().center().y() - label->geometry().center().y()) < 8 &&
            sibling->x() > label->x())
          beforeInput = true;
      EXPECT_FALSE(beforeInput) << where << ": \"" << label->text().toStdString() << "\"";
    }
  for (QAbstractItemView* view : root->findChildren<QAbstractItemView*>()) {
    if (qobject_cast<QAbstractItemView*>(view->parentWidget()) || view->inherits("QComboBoxListView")) continue;
    EXPECT_FALSE(view->accessibleName().isEmpty()) << where << ": " << view->metaObject()->className() << " "
                                                   << view->objectName().toStdString();
  }
  (void)checked;
}

TEST_F(ReadingTest, EveryFieldLabelIsItsFieldsBuddyAndEveryListHasAName) {
  AddNews(2);
  OpenFrame();
  ExpectLabelsHaveBuddies(frame_.get(), "main window");

  COptionsPropSheet sheet(*vault_, [] { return false; }, frame_.get());
  sheet.show();
  QTest::qWait(50);
  ExpectLabelsHaveBuddies(&sheet, "Options");
  sheet.close();

  CFiltersDialog filters(*vault_, -1, frame_.get());
  filters.show();
  ExpectLabelsHaveBuddies(&filters, "Filters");
  filters.close();

  CFilterEditor editor(*vault_, -1, frame_.get());
  editor.show();
  ExpectLabelsHaveBuddies(&editor, "Filter editor");
  editor.close();

  CTipDialog tip(frame_.get());
  tip.show();
  ExpectLabelsHaveBuddies(&tip, "Tip of the day");
  tip.close();

  frame_->newsDetail()->FindInText();
  QWidget* find = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && w->windowTitle() == "Find") find = w;
  ASSERT_NE(find, nullptr);
  ExpectLabelsHaveBuddies(find, "Find");
  find->close();
}

}  // namespace
}  // namespace orvo::testing

#include "reading_test.moc"

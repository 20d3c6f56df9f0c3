// The news grid, the text pane and the frame on real windows: sort arrow,
// search in found, marking many rows, the pictures the text may show, the
// page layout on screen and on paper, and a start in the tray.
#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPrinter>
#include <QTableView>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>
#include <QTabWidget>
#include <QTreeWidget>
#include <QUrl>

#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "database.h"
#include "newsdetail.h"
#include "newsinfo.h"
#include "newslist.h"
#include "options_sheet.h"
#include "own_sites_ui.h"
#include "pg_server.h"
#include "sites_tree.h"
#include "store/images.h"
#include "startup.h"
#include "text.h"
#include "window_fixture.h"

namespace orvo::testing {
namespace {

TEST_F(ReaderTest, SortedColumnShowsItsArrow) {
  AddNews(3);
  OpenFrame();
  QHeaderView* header = frame_->newsList()->table()->horizontalHeader();
  EXPECT_TRUE(header->isSortIndicatorShown());
  EXPECT_EQ(header->sortIndicatorSection(), 0);
  int n = fills_;
  frame_->newsList()->OnHeaderClicked(3);
  ASSERT_TRUE(WaitForFills(n + 1));
  EXPECT_TRUE(header->isSortIndicatorShown());
  EXPECT_EQ(header->sortIndicatorSection(), 3);
}

TEST_F(ReaderTest, SearchInFoundSwitchedOffNoLongerNarrowsLaterFills) {
  AddNews(11);
  OpenFrame();
  NewsListModel* model = frame_->newsList()->model();
  ASSERT_EQ(model->rowCount(), 11);
  frame_->keywordsCombo()->setEditText("News 03");
  int n = fills_;
  frame_->action(Cmd::Search)->trigger();
  ASSERT_TRUE(WaitForFills(++n));
  ASSERT_EQ(model->rowCount(), 1);

  frame_->action(Cmd::SearchInFound)->trigger();  // on
  frame_->keywordsCombo()->setEditText("News");
  frame_->action(Cmd::Search)->trigger();
  ASSERT_TRUE(WaitForFills(++n));
  EXPECT_EQ(model->rowCount(), 1);  // within the last result
  // Sorting that result keeps it.
  frame_->newsList()->OnHeaderClicked(3);
  ASSERT_TRUE(WaitForFills(++n));
  EXPECT_EQ(model->rowCount(), 1);

  frame_->action(Cmd::SearchInFound)->trigger();  // off
  ASSERT_FALSE(frame_->searchInFound());
  frame_->action(Cmd::SearchWithFilter)->trigger();  // "w/o filter": all news
  ASSERT_TRUE(WaitForFills(++n));
  EXPECT_EQ(model->rowCount(), 11);
  frame_->action(Cmd::Search)->trigger();  // "News" everywhere
  ASSERT_TRUE(WaitForFills(++n));
  EXPECT_EQ(model->rowCount(), 11);
  frame_->newsList()->OnHeaderClicked(2);
  ASSERT_TRUE(WaitForFills(++n));
  EXPECT_EQ(model->rowCount(), 11);
}

// Commits seen on the reader's connection, and on which threads.
struct CommitLog {
  std::atomic<int> commits{0};
  std::atomic<int> onMainThread{0};
  std::thread::id main = std::this_thread::get_id();
  static int Hook(void* self) {
    auto* log = static_cast<CommitLog*>(self);
    ++log->commits;
    if (std::this_thread::get_id() == log->main) ++log->onMainThread;
    return 0;
  }
};

TEST_F(ReaderTest, MarkingManyRowsIsOneTransactionOffTheWindowThread) {
  ASSERT_TRUE(StoreGeneratedNews(*db_, 3000, std::time(nullptr)));
  OpenFrame();
  CNewsListView* list = frame_->newsList();
  NewsListModel* model = list->model();
  ASSERT_EQ(model->rowCount(), 3000);
  CommitLog log;
  {
    VaultLock lock(vault_->lock);
    sqlite3_commit_hook(vault_->db.database()->handle(), &CommitLog::Hook, &log);
  }
  list->table()->setFocus();
  QTest::keyClick(list->table(), Qt::Key_A, Qt::ControlModifier);  // Ctrl+A selects rows
  ASSERT_EQ(list->selectedCount(), 3000);
  frame_->action(Cmd::MarkRead)->trigger();
  ASSERT_TRUE(WaitFor([&] {
    for (int i = 0; i < model->rowCount(); ++i)
      if (!model->row(i).read) return false;
    return true;
  }, 60000));
  EXPECT_EQ(QueryInt("SELECT count(*) FROM newsitem WHERE is_read = 0"), 0);
  EXPECT_EQ(log.commits.load(), 1);
  EXPECT_EQ(log.onMainThread.load(), 0);
  {
    VaultLock lock(vault_->lock);
    sqlite3_commit_hook(vault_->db.database()->handle(), nullptr, nullptr);
  }
}

// Shows the item and waits for it.
void ShowItem(CMainFrame& frame, int64_t id) {
  NewsListModel* model = frame.newsList()->model();
  int row = model->RowOf(static_cast<int32_t>(id));
  ASSERT_GE(row, 0);
  bool shown = false;
  auto c = QObject::connect(frame.newsDetail(), &CNewsDetailView::itemShown, [&](int32_t i) { shown = i == id; });
  QTableView* table = frame.newsList()->table();
  table->selectionModel()->setCurrentIndex(model->index(row, 0),
                                           QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  ASSERT_TRUE(QTest::qWaitFor([&] { return shown; }, 10000));
  QObject::disconnect(c);
}

TEST_F(ReaderTest, PicturesComeOnlyFromTheImagesFolder) {
  std::filesystem::create_directories(ImagesDir());
  std::string inside = ImagesDir() + "/7_0";
  QImage(20, 10, QImage::Format_RGB32).save(QString::fromStdString(inside), "PNG");
  std::string outside = dir_.File("secret.png");
  QImage(30, 30, QImage::Format_RGB32).save(QString::fromStdString(outside), "PNG");
  NewsRecord r;
  r.pair = pair_[0];
  r.title = "Tampered";
  r.published = *ParseDbTime("2024-01-01 00:00:00");
  // A body that names a local file itself, and an image row that points out
  // of the folder: neither is shown. The engine's own picture is.
  r.body = "<p>one</p><img src=\"file://" + outside + "\"><img src=\"" + outside + "\">[[{0}]][[{1}]]";
  r.images = {{0, inside, "kept"}, {1, "../secret.png", "dropped"}};
  int64_t id = AddNews(r);
  OpenFrame();
  ShowItem(*frame_, id);
  QTextDocument* doc = frame_->newsDetail()->browser()->document();
  int loaded = 0, refused = 0;
  for (QTextBlock b = doc->begin(); b != doc->end(); b = b.next())
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      QTextCharFormat f = it.fragment().charFormat();
      if (!f.isImageFormat()) continue;
      QUrl url(f.toImageFormat().name());
      // The pictures are 20 (ours) and 30 (the other file) wide.
      QImage res = doc->resource(QTextDocument::ImageResource, url).value<QImage>();
      EXPECT_NE(res.width(), 30) << url.toString().toStdString() << " was shown";
      if (res.width() == 20) ++loaded;
      else ++refused;
    }
  EXPECT_EQ(loaded, 1);
  EXPECT_EQ(refused, 3);
}

// The reader on a PostgreSQL server shows a picture another machine gathered:
// its row names that machine's file, its bytes are in the database.
TEST_F(ReaderTest, OnPostgresAnItemShowsThePictureTheDatabaseKeeps) {
  ORVO_NEED_POSTGRES(server);
  const std::string url = server->NewDatabase();
  ASSERT_EQ(Database::Open(url, Database::Mode::kCreate, &db_), 0);
  settings().WriteText(kDatabaseSection, "Url", url);
  NewsRecord r;
  r.pair = EnsurePair(*db_, "Alpha", "World");
  r.title = "Shared";
  r.published = *ParseDbTime("2024-01-01 00:00:00");
  r.body = "<p>Gathered elsewhere.</p>[[{0}]]";
  r.images = {{0, "/home/gatherer/.orvo/Images/1_0", "From the database"}};
  const int64_t id = AddNews(r);
  QImage picture(40, 20, QImage::Format_RGB32);
  picture.fill(Qt::darkGreen);
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  picture.save(&buffer, "PNG");
  ASSERT_EQ(StorePictureBytes(*db_, ItemPictures(*db_, id).at(0).id, png.toStdString()), 0);
  OpenFrame();
  ShowItem(*frame_, id);
  QTextDocument* doc = frame_->newsDetail()->browser()->document();
  std::vector<int> widths;
  for (QTextBlock b = doc->begin(); b != doc->end(); b = b.next())
    for (auto it = b.begin(); !it.atEnd(); ++it)
      if (it.fragment().charFormat().isImageFormat())
        widths.push_back(doc->resource(QTextDocument::ImageResource, QUrl(it.fragment().charFormat().toImageFormat().name()))
                             .value<QImage>()
                             .width());
  EXPECT_EQ(widths, std::vector<int>{40});
  EXPECT_NE(doc->toPlainText().toStdString().find("From the database"), std::string::npos);
}

// A server gone under the reader: a mark failed without a word, and the
// only advice was to make a new database with orvo init.
TEST_F(ReaderTest, OnPostgresAServerGoneIsToldAndTheDatabaseReopenedWhenItIsBack) {
  ORVO_NEED_POSTGRES(server);
  const std::string url = server->NewDatabase();
  ASSERT_EQ(Database::Open(url, Database::Mode::kCreate, &db_), 0);
  settings().WriteText(kDatabaseSection, "Url", url);
  settings().WriteInt(kSystemSection, keys::kMarkReadTime, 0);
  NewsRecord r;
  r.pair = EnsurePair(*db_, "Alpha", "World");
  for (int i = 0; i < 3; ++i) {
    r.title = "Shared " + std::to_string(i);
    r.url = "https://example.org/shared/" + std::to_string(i);
    r.published = *ParseDbTime("2024-01-01 00:00:00") + i;
    AddNews(r);
  }
  OpenFrame();
  NewsListModel* model = frame_->newsList()->model();
  ASSERT_EQ(model->rowCount(), 3);
  auto dropReader = [&] {
    Statement end(*db_,
                  "SELECT count(pg_terminate_backend(pid, 5000)) FROM pg_stat_activity"
                  " WHERE datname = current_database() AND pid <> pg_backend_pid()");
    return end.Next() ? end.Int(0) : -1;
  };
  auto unread = [&] { return QueryInt("SELECT count(*) FROM newsitem WHERE is_read = 0"); };

  ASSERT_GE(dropReader(), 1);
  QString told;
  AnswerMessageBox(QMessageBox::Ok, &told);  // Reopen
  int fills = fills_;
  SelectRow(0);  // marked at once: the write finds the connection gone
  ASSERT_TRUE(WaitFor([&] { return !told.isEmpty(); })) << frame_->statusText().toStdString();
  EXPECT_TRUE(told.contains("connection to the news database on")) << told.toStdString();
  EXPECT_FALSE(told.contains("topsecret"));
  ASSERT_TRUE(WaitFor([&] { return fills_ > fills && model->rowCount() == 3; })) << frame_->statusText().toStdString();
  SelectRow(1);
  ASSERT_TRUE(WaitFor([&] { return unread() == 2; })) << frame_->statusText().toStdString();

  // Still down when the user says Reopen: the status says what to do, and
  // coming back to the window asks again.
  ASSERT_GE(dropReader(), 1);
  TempDir nowhere;
  settings().WriteText(kDatabaseSection, "Url", "postgresql:///news?host=" + nowhere.path());
  AnswerMessageBox(QMessageBox::Ok);  // Reopen
  AnswerMessageBox(QMessageBox::Ok);  // Can not open DB
  SelectRow(2);
  ASSERT_TRUE(WaitFor([&] { return frame_->statusText().contains("cannot be reached"); }))
      << frame_->statusText().toStdString();
  EXPECT_TRUE(frame_->statusText().contains("Start the server")) << frame_->statusText().toStdString();
  EXPECT_FALSE(frame_->statusText().contains("orvo init")) << frame_->statusText().toStdString();
  // Meanwhile the Sites pane keeps its sites, with no welcome to a new user.
  told.clear();
  AnswerMessageBox(QMessageBox::Cancel, &told);  // Later
  frame_->sitesTree()->Refresh();
  EXPECT_TRUE(told.contains("was lost")) << told.toStdString();
  ASSERT_EQ(frame_->sitesTree()->topLevelItemCount(), 2);
  EXPECT_TRUE(frame_->sitesTree()->topLevelItem(1)->text(0).startsWith("Alpha"));
  EXPECT_TRUE(!frame_->welcome() || frame_->welcome()->isHidden());
  settings().WriteText(kDatabaseSection, "Url", url);
  told.clear();
  AnswerMessageBox(QMessageBox::Ok, &told);
  fills = fills_;
  EXPECT_TRUE(frame_->CheckDatabaseFile());
  EXPECT_TRUE(told.contains("was lost")) << told.toStdString();
  ASSERT_TRUE(WaitFor([&] { return fills_ > fills && model->rowCount() == 3; })) << frame_->statusText().toStdString();
  EXPECT_FALSE(frame_->CheckDatabaseFile());
  EXPECT_EQ(unread(), 2);
}

// Rectangles of the images of a laid-out document, in document order.
std::vector<QRectF> ImageRects(QTextDocument* doc) {
  std::vector<QRectF> out;
  QAbstractTextDocumentLayout* layout = doc->documentLayout();
  for (QTextBlock b = doc->begin(); b != doc->end(); b = b.next()) {
    QRectF blockRect = layout->blockBoundingRect(b);
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      QTextFragment frag = it.fragment();
      if (!frag.charFormat().isImageFormat()) continue;
      QTextImageFormat f = frag.charFormat().toImageFormat();
      QTextLine line = b.layout()->lineForTextPosition(frag.position() - b.position());
      if (!line.isValid()) continue;
      qreal x = line.cursorToX(frag.position() - b.position());
      out.emplace_back(blockRect.left() + x, blockRect.top() + line.y(), f.width(), f.height());
    }
  }
  return out;
}

// How many lines `text` takes where it is laid out.
int LinesOf(QTextDocument* doc, const QString& text) {
  for (QTextBlock b = doc->begin(); b != doc->end(); b = b.next()) {
    int at = b.text().indexOf(text);
    if (at < 0) continue;
    QTextLayout* l = b.layout();
    return l->lineForTextPosition(at + static_cast<int>(text.size()) - 1).lineNumber() -
           l->lineForTextPosition(at).lineNumber() + 1;
  }
  return -1;
}

TEST_F(ReaderTest, PicturesStackOnScreenAndCaptionsStayReadableOnPaper) {
  std::filesystem::create_directories(ImagesDir());
  std::string a = ImagesDir() + "/1_0", b = ImagesDir() + "/1_1";
  QImage(240, 160, QImage::Format_RGB32).save(QString::fromStdString(a), "PNG");
  QImage(240, 160, QImage::Format_RGB32).save(QString::fromStdString(b), "PNG");
  NewsRecord r;
  r.pair = pair_[0];
  r.title = "Two pictures";
  r.published = *ParseDbTime("2024-01-01 00:00:00");
  r.body = "<p>Before.</p>[[{0}]][[{1}]]<p>After.</p>";
  const QString caption = "The harbour at dawn, seen from the old lighthouse";
  r.images = {{0, a, caption.toStdString()}, {1, b, "The second picture"}};
  int64_t id = AddNews(r);
  OpenFrame();
  frame_->resize(1000, 700);
  ShowItem(*frame_, id);
  QTextDocument* doc = frame_->newsDetail()->browser()->document();
  doc->setTextWidth(900);
  std::vector<QRectF> rects = ImageRects(doc);
  ASSERT_EQ(rects.size(), 2u);
  // Each picture starts a new row below the one before.
  EXPECT_GE(rects[1].top(), rects[0].bottom()) << rects[0].bottom() << " " << rects[1].top();

  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(dir_.File("news.pdf")));
  std::unique_ptr<QTextDocument> paper = frame_->newsDetail()->PrintDocument(&printer);
  ASSERT_TRUE(paper);
  int lines = LinesOf(paper.get(), caption);
  ASSERT_GT(lines, 0);
  EXPECT_LE(lines, 3) << "the caption is squeezed into a narrow column";
}

// Every dialog and box that turns up, and how many were up at once.
struct WindowWatch {
  QStringList seen;
  int mostAtOnce = 0;
  QTimer timer;
  explicit WindowWatch(bool closeThem) {
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [this, closeThem] {
      int up = 0;
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!w->isVisible() || !qobject_cast<QDialog*>(w)) continue;
        ++up;
        QString name = w->metaObject()->className();
        if (!seen.contains(name)) seen << name;
      }
      mostAtOnce = std::max(mostAtOnce, up);
      if (!closeThem) return;
      if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) d->reject();
    });
    timer.start();
  }
};

TEST_F(ReaderTest, StartInTheTrayShowsNoWindowAtAll) {
  AddNews(2);
  settings().WriteInt(kSystemSection, keys::kStartTip, 1);
  vault_ = std::make_unique<Vault>();
  ASSERT_TRUE(vault_->db.Init(""));
  WindowWatch watch(/*closeThem=*/true);
  frame_ = std::make_unique<CMainFrame>(*vault_, true);
  QObject::connect(frame_->newsList(), &CNewsListView::loadingFinished, [this] { ++fills_; });
  // "min": the window is not shown.
  ASSERT_TRUE(WaitForFills(1));
  QTest::qWait(300);
  EXPECT_TRUE(watch.seen.isEmpty()) << watch.seen.join(", ").toStdString();
  EXPECT_FALSE(frame_->isVisible());
}

TEST_F(ReaderTest, FieldLabelsAreBuddiesAndTheListsHaveNames) {
  AddNews(1);
  OpenFrame();
  EXPECT_FALSE(frame_->newsList()->table()->accessibleName().isEmpty());
  EXPECT_FALSE(frame_->newsDetail()->browser()->accessibleName().isEmpty());
  COptionsPropSheet sheet(*vault_, [] { return false; }, frame_.get());
  sheet.show();
  std::vector<QWidget*> roots = {frame_.get()};
  for (int i = 0; i < sheet.tabs()->count(); ++i) {
    sheet.tabs()->setCurrentIndex(i);
    roots.push_back(sheet.tabs()->widget(i));
  }
  for (QWidget* root : roots)
    for (QLabel* l : root->findChildren<QLabel*>()) {
      // A label that names a field ends with a colon; headings and notes do not.
      if (!l->text().trimmed().endsWith(':')) continue;
      EXPECT_NE(l->buddy(), nullptr) << l->text().toStdString() << " names no field";
    }
  for (QTreeWidget* t : sheet.findChildren<QTreeWidget*>())
    EXPECT_FALSE(t->accessibleName().isEmpty()) << t->objectName().toStdString();
}

TEST_F(ReaderTest, FindDialogLabelIsTheBuddyOfItsField) {
  AddNews(1);
  OpenFrame();
  frame_->action(Cmd::FindInText)->trigger();
  QDialog* find = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && w->windowTitle() == "Find") find = qobject_cast<QDialog*>(w);
  ASSERT_NE(find, nullptr);
  int labels = 0;
  for (QLabel* l : find->findChildren<QLabel*>()) {
    if (!l->text().contains('&')) continue;
    ++labels;
    EXPECT_NE(l->buddy(), nullptr) << l->text().toStdString() << " shows its '&'";
  }
  EXPECT_EQ(labels, 1);
  find->close();
}

}  // namespace
}  // namespace orvo::testing

namespace orvo::testing {
namespace {

// The reader started on a PostgreSQL server that is down (nothing listens on
// its socket): the manager gives up at once, and the warning names the
// server, without its password, and says what to do.
TEST(ReaderOnPostgres, AServerThatIsDownGetsAWarningThatNamesIt) {
  TempDir socketDir;
  const std::string url = "postgresql:///news?host=" + socketDir.path() + "&user=orvo&password=s3cret";
  ::setenv("ORVO_DATABASE", url.c_str(), 1);
  CDBManager m;
  EXPECT_FALSE(m.Init(""));
  ::unsetenv("ORVO_DATABASE");
  EXPECT_FALSE(m.IsOpen());
  EXPECT_FALSE(m.BeginNewsListEnum());

  std::unique_ptr<QMessageBox> box = DatabaseFailureBox(url, m.openError());
  const std::string text = box->informativeText().toStdString();
  EXPECT_NE(text.find(socketDir.path()), std::string::npos) << text;
  EXPECT_NE(text.find("Start the server, or correct its address in [Database] Url"), std::string::npos) << text;
  EXPECT_EQ(text.find("s3cret"), std::string::npos) << text;
  box->show();
  QApplication::processEvents();
  EXPECT_TRUE(box->isVisible());
}

}  // namespace
}  // namespace orvo::testing

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QSplitter>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>

#include <filesystem>
#include <map>
#include <set>

#include "database.h"
#include "commands.h"
#include "newsdetail.h"
#include "newsinfo.h"
#include "newslist.h"
#include "render.h"
#include "text.h"
#include "tipdialog.h"
#include "window_fixture.h"

namespace orvo::testing {
namespace {

QString Title(CMainFrame& f, int row) { return f.newsList()->model()->title(row); }

TEST_F(ReaderTest, StartFillsTheGridWithEveryItem) {
  AddNews(50);
  OpenFrame();
  NewsListModel* model = frame_->newsList()->model();
  ASSERT_EQ(model->rowCount(), 50);
  EXPECT_EQ(frame_->statusText(), "Filter has been applied.");
  EXPECT_TRUE(frame_->filterCombo()->isEnabled());
  EXPECT_TRUE(frame_->keywordsCombo()->isEnabled());
  EXPECT_EQ(frame_->filterCombo()->itemText(0), "w/o filter");
  // Default sort: site ascending, newest first within a site.
  EXPECT_EQ(model->site(0), "Alpha");
  EXPECT_EQ(Title(*frame_, 0), "News 48");
  EXPECT_EQ(model->site(49), "Gamma");
  EXPECT_EQ(model->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), "Date/Time");
  // Unread rows are bold.
  QFont font = model->data(model->index(0, 3), Qt::FontRole).value<QFont>();
  EXPECT_TRUE(font.bold());
  EXPECT_FALSE(model->data(model->index(0, 0), Qt::DecorationRole).value<QIcon>().isNull());
  // The three panes.
  QSplitter* splitter = frame_->splitter();
  ASSERT_EQ(splitter->count(), 3);
  EXPECT_EQ(splitter->widget(0), frame_->newsList());
  EXPECT_EQ(splitter->widget(1), frame_->newsInfo());
  EXPECT_EQ(splitter->widget(2), frame_->newsDetail());
}

TEST_F(ReaderTest, SelectingARowFillsTheInformationBarAndTheTextWithItsImages) {
  AddNews(3);
  std::filesystem::create_directories(ImagesDir());
  std::string picture = ImagesDir() + "/bridge.png";
  QImage(8, 8, QImage::Format_RGB32).save(QString::fromStdString(picture));
  NewsRecord r;
  r.pair = pair_[1];
  r.title = "Bridge &#39;opens&#39; <today>";
  r.author = "Mira";
  r.url = "https://example.org/bridge";
  r.published = *ParseDbTime("2030-01-01 10:00:00");
  r.body = "<p>Before</p>[[{0}]]<p>After</p>[[{5}]] tail [[{7";
  r.images = {{0, picture, "Caption <one>"}};
  int64_t id = AddNews(r);
  OpenFrame();
  NewsListModel* model = frame_->newsList()->model();
  int row = model->RowOf(static_cast<int32_t>(id));
  ASSERT_GE(row, 0);

  int32_t shown = -1;
  QObject::connect(frame_->newsDetail(), &CNewsDetailView::itemShown, [&](int32_t i) { shown = i; });
  SelectRow(row);
  ASSERT_TRUE(WaitFor([&] { return shown == id; }));

  CNewsInfoView* info = frame_->newsInfo();
  EXPECT_EQ(info->titleText(), "Bridge 'opens' <today>");
  EXPECT_EQ(info->authorText(), "Mira");
  EXPECT_EQ(info->linkText(), "https://example.org/bridge");
  EXPECT_EQ(info->siteText(), "Beta");
  EXPECT_EQ(info->categoryText(), "Sport");
  EXPECT_FALSE(info->publishedText().isEmpty());
  EXPECT_TRUE(info->field(0)->font().bold());

  const std::string& body = frame_->newsDetail()->bodyText();
  EXPECT_EQ(body.find("[[{"), std::string::npos);
  EXPECT_NE(body.find("Caption &lt;one&gt;"), std::string::npos);
  QString html = frame_->newsDetail()->browser()->toHtml();
  QString plain = frame_->newsDetail()->browser()->toPlainText();
  EXPECT_TRUE(plain.startsWith("Bridge 'opens' <today>")) << plain.toStdString();
  EXPECT_TRUE(plain.contains("After"));
  EXPECT_TRUE(plain.contains("tail"));
  // The img points at the file in Images, and the file is there.
  QRegularExpressionMatch m = QRegularExpression("<img[^>]*src=\"([^\"]+)\"").match(html);
  ASSERT_TRUE(m.hasMatch()) << html.toStdString();
  QString file = QUrl(m.captured(1)).toLocalFile();
  EXPECT_EQ(file.toStdString(), picture);
  EXPECT_TRUE(QFile::exists(file));
}

TEST_F(ReaderTest, QuickSelectionChangesLoadOnlyTheRowThatStays) {
  AddNews(10);
  OpenFrame();
  CNewsDetailView* detail = frame_->newsDetail();
  int delivered = detail->loadsDelivered();
  SelectRow(0);
  SelectRow(1);
  SelectRow(2);
  ASSERT_TRUE(WaitFor([&] { return detail->loadsDelivered() > delivered; }));
  QTest::qWait(300);
  EXPECT_EQ(detail->loadsDelivered(), delivered + 1);
  EXPECT_EQ(frame_->newsInfo()->titleText(), Title(*frame_, 2));
}

TEST_F(ReaderTest, RowIsMarkedReadAfterTheDelayAndStaysRead) {
  settings().WriteInt(kSystemSection, keys::kMarkReadTime, 0);
  std::vector<int64_t> ids = AddNews(5);
  OpenFrame();
  EXPECT_EQ(frame_->newsList()->markReadDelay(), 0);
  NewsListModel* model = frame_->newsList()->model();
  SelectRow(1);
  ASSERT_TRUE(WaitFor([&] { return model->row(1).read; }));
  EXPECT_EQ(QueryInt("SELECT count(*) FROM newsitem WHERE is_read = 1 AND id = " +
                     std::to_string(model->row(1).id)), 1);
  EXPECT_FALSE(model->data(model->index(1, 3), Qt::FontRole).value<QFont>().bold());

  // Several rows at once: nothing loads, nothing is marked.
  QTableView* table = frame_->newsList()->table();
  table->selectionModel()->select(model->index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  table->selectionModel()->select(model->index(4, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  QTest::qWait(100);
  EXPECT_FALSE(model->row(3).read);
  EXPECT_FALSE(model->row(4).read);

  // Mark as Unread on the selection, then Mark as Read.
  // (Several rows are marked on a thread of their own.)
  frame_->action(Cmd::MarkUnread)->trigger();
  ASSERT_TRUE(WaitFor([&] { return !frame_->newsList()->marking() && !model->row(1).read; }));
  EXPECT_EQ(QueryInt("SELECT count(*) FROM newsitem WHERE is_read = 1"), 0);
  frame_->action(Cmd::MarkRead)->trigger();
  ASSERT_TRUE(WaitFor([&] { return !frame_->newsList()->marking() && model->row(3).read; }));
  EXPECT_EQ(QueryInt("SELECT count(*) FROM newsitem WHERE is_read = 1"), 3);
}

TEST_F(ReaderTest, DefaultMarkReadDelayIsFiveSeconds) {
  AddNews(1);
  OpenFrame();
  EXPECT_EQ(frame_->newsList()->markReadDelay(), 5000);
}

TEST_F(ReaderTest, DeletingTheLastRowsSelectsTheNewLastRow) {
  AddNews(10);
  OpenFrame();
  NewsListModel* model = frame_->newsList()->model();
  QTableView* table = frame_->newsList()->table();
  int32_t keep = model->row(7).id;
  std::vector<int32_t> gone = {model->row(8).id, model->row(9).id};

  // No: nothing happens.
  table->selectionModel()->select(model->index(8, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  table->selectionModel()->select(model->index(9, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  QString question;
  AnswerMessageBox(QMessageBox::No, &question);
  frame_->action(Cmd::Delete)->trigger();
  EXPECT_EQ(question, "Are you sure that you want to delete the selected news?");
  EXPECT_EQ(model->rowCount(), 10);

  AnswerMessageBox(QMessageBox::Yes);
  frame_->action(Cmd::Delete)->trigger();
  ASSERT_EQ(model->rowCount(), 8);
  QModelIndexList selected = table->selectionModel()->selectedRows();
  ASSERT_EQ(selected.size(), 1);
  EXPECT_EQ(selected.first().row(), 7);
  EXPECT_EQ(model->row(7).id, keep);
  EXPECT_EQ(QueryInt("SELECT count(*) FROM newsitem WHERE is_del <> 0"), 2);
  for (int32_t id : gone) EXPECT_EQ(model->RowOf(id), -1);

  // Deleted news do not come back with the next fill.
  int n = fills_;
  frame_->action(Cmd::SearchWithFilter)->trigger();
  ASSERT_TRUE(WaitForFills(n + 1));
  EXPECT_EQ(model->rowCount(), 8);
}

// A fill comes in many batches, each with the text of its own titles; every
// row must still show its own title, site and category, also after rows of
// several batches are deleted.
TEST_F(ReaderTest, RowsOfEveryBatchShowTheirOwnTitleAndPair) {
  const int count = 1500;
  std::map<int32_t, std::pair<std::string, int>> expected;  // id: cleaned title, pair slot
  {
    Transaction t(*db_);
    std::time_t base = *ParseDbTime("2024-05-01 08:00:00");
    for (int i = 0; i < count; ++i) {
      NewsRecord r;
      r.pair = pair_[i % 3];
      r.title = "Item " + std::to_string(i);
      if (i % 7 == 0) r.title += " &amp; more";
      if (i % 11 == 0) r.title += "\r\nsecond line";
      if (i % 13 == 0) r.title += " \xd0\x9c\xd0\xb8\xd1\x80";  // Cyrillic
      r.url = "https://example.org/item/" + std::to_string(i);
      r.body = "<p>Body.</p>";
      r.published = base + (i * 7919) % count * 60;  // sites and dates interleave
      expected[static_cast<int32_t>(AddNews(r))] = {CleanTitle(r.title), i % 3};
    }
    ASSERT_EQ(t.Commit(), 0);
  }
  OpenFrame();
  NewsListModel* model = frame_->newsList()->model();
  ASSERT_EQ(model->rowCount(), count);
  auto check = [&] {
    std::set<int32_t> seen;
    for (int row = 0; row < model->rowCount(); ++row) {
      int32_t id = model->row(row).id;
      ASSERT_TRUE(expected.count(id)) << id;
      EXPECT_TRUE(seen.insert(id).second) << "listed twice: " << id;
      const auto& [title, slot] = expected[id];
      QString shown = model->data(model->index(row, 3), Qt::DisplayRole).toString();
      ASSERT_EQ(shown.toStdString(), title) << "row " << row;
      EXPECT_EQ(model->data(model->index(row, 3), Qt::ToolTipRole).toString(), shown);
      EXPECT_EQ(model->site(row), QStringList({"Alpha", "Beta", "Gamma"})[slot]) << "row " << row;
      EXPECT_EQ(model->category(row), QStringList({"World", "Sport", "Arts"})[slot]) << "row " << row;
    }
  };
  check();

  // Rows from the first batches and from the last ones.
  QTableView* table = frame_->newsList()->table();
  table->selectionModel()->clearSelection();
  for (int row : {0, 1, 150, 700, count - 2})
    table->selectionModel()->select(model->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  AnswerMessageBox(QMessageBox::Yes);
  frame_->action(Cmd::Delete)->trigger();
  ASSERT_EQ(model->rowCount(), count - 5);
  check();
}

TEST_F(ReaderTest, ClosingWritesTheLayoutAndHidesIntoTheTray) {
  AddNews(3);
  settings().WriteInt(kSystemSection, "col2", 3);  // 5 or less shows 80 wide
  OpenFrame(/*trayAvailable=*/true);
  EXPECT_EQ(frame_->newsList()->table()->columnWidth(1), 80);
  frame_->setGeometry(40, 50, 700, 480);
  frame_->splitter()->setSizes({150, frame_->newsInfo()->height(), 200});
  bool quit = false;
  QObject::connect(frame_.get(), &CMainFrame::quitRequested, [&] { quit = true; });

  frame_->close();
  EXPECT_FALSE(frame_->isVisible());
  EXPECT_FALSE(quit);
  Settings s = settings();
  EXPECT_EQ(s.ReadInt(kSystemSection, keys::kLeftPos, -1), frame_->geometry().left());
  EXPECT_EQ(s.ReadInt(kSystemSection, keys::kRightPos, -1) - s.ReadInt(kSystemSection, keys::kLeftPos, -1), 700);
  EXPECT_EQ(s.ReadInt(kSystemSection, keys::kBottomPos, -1) - s.ReadInt(kSystemSection, keys::kTopPos, -1), 480);
  EXPECT_EQ(s.ReadInt(kSystemSection, keys::kListHeight, -1), 150);
  for (const char* key : {keys::kLastFilter, keys::kShowRead, keys::kSortColumn, keys::kSortOrder, "col1", "col4"})
    EXPECT_TRUE(s.HasKey(kSystemSection, key)) << key;

  // Show brings it back; only the tray's Exit ends the program.
  frame_->action(Cmd::TrayShow)->trigger();
  EXPECT_TRUE(frame_->isVisible());
  s.RemoveKey(kSystemSection, keys::kLeftPos);
  frame_->action(Cmd::TrayExit)->trigger();
  EXPECT_TRUE(quit);
  EXPECT_TRUE(s.HasKey(kSystemSection, keys::kLeftPos));
}

TEST_F(ReaderTest, LayoutIsRestoredAtStartAndClosingWithoutTrayQuits) {
  AddNews(2);
  Settings s = settings();
  s.WriteInt(kSystemSection, keys::kLeftPos, 30);
  s.WriteInt(kSystemSection, keys::kTopPos, 40);
  s.WriteInt(kSystemSection, keys::kRightPos, 830);
  s.WriteInt(kSystemSection, keys::kBottomPos, 640);
  s.WriteInt(kSystemSection, keys::kShowRead, 1);
  s.WriteInt(kSystemSection, keys::kLastFilter, 7);  // more than there are filters
  OpenFrame(/*trayAvailable=*/false);
  EXPECT_EQ(frame_->geometry(), QRect(30, 40, 800, 600));
  EXPECT_EQ(frame_->filterCombo()->currentIndex(), 0);
  EXPECT_TRUE(frame_->action(Cmd::ShowUnreadOnly)->isChecked());
  EXPECT_EQ(frame_->action(Cmd::ShowUnreadOnly)->text(), "Show all");
  bool quit = false;
  QObject::connect(frame_.get(), &CMainFrame::quitRequested, [&] { quit = true; });
  frame_->close();
  EXPECT_TRUE(quit);
}

TEST_F(ReaderTest, ShowOnlyUnreadListsUnreadNews) {
  std::vector<int64_t> ids = AddNews(6);
  db_->Exec(("UPDATE newsitem SET is_read = 1 WHERE id IN (" + std::to_string(ids[0]) + "," +
             std::to_string(ids[1]) + ")").c_str());
  OpenFrame();
  EXPECT_EQ(frame_->newsList()->model()->rowCount(), 6);
  int n = fills_;
  frame_->action(Cmd::ShowUnreadOnly)->trigger();
  ASSERT_TRUE(WaitForFills(n + 1));
  EXPECT_EQ(frame_->newsList()->model()->rowCount(), 4);
  frame_->close();
  EXPECT_EQ(settings().ReadInt(kSystemSection, keys::kShowRead, 0), 1);
}

TEST_F(ReaderTest, ColumnClickSortsAndIsIgnoredWhileLoading) {
  AddNews(6);
  OpenFrame();
  CNewsListView* list = frame_->newsList();
  QHeaderView* header = list->table()->horizontalHeader();

  int n = fills_;
  list->OnHeaderClicked(3);  // title, ascending
  ASSERT_TRUE(WaitForFills(n + 1));
  EXPECT_EQ(Title(*frame_, 0), "News 00");
  EXPECT_EQ(header->sortIndicatorSection(), 3);
  EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
  list->OnHeaderClicked(3);  // again: descending
  ASSERT_TRUE(WaitForFills(n + 2));
  EXPECT_EQ(Title(*frame_, 0), "News 05");
  EXPECT_EQ(list->sortOrder(), 1);

  // While a fill runs a click does nothing.
  ASSERT_TRUE(list->FillAll());
  EXPECT_TRUE(list->busy());
  EXPECT_FALSE(list->FillAll());  // a second fill request is ignored as well
  list->OnHeaderClicked(2);
  EXPECT_EQ(list->sortColumn(), 3);
  EXPECT_EQ(header->sortIndicatorSection(), 3);
  EXPECT_FALSE(frame_->filterCombo()->isEnabled());
  EXPECT_EQ(frame_->statusText(), "Applying the current filter...");
  ASSERT_TRUE(WaitForFills(n + 3));
  EXPECT_EQ(Title(*frame_, 0), "News 05");

  frame_->close();
  EXPECT_EQ(settings().ReadInt(kSystemSection, keys::kSortColumn, -1), 3);
  EXPECT_EQ(settings().ReadInt(kSystemSection, keys::kSortOrder, -1), 1);
}

TEST_F(ReaderTest, StoredSortIsAppliedAtStart) {
  AddNews(4);
  settings().WriteInt(kSystemSection, keys::kSortColumn, 2);
  settings().WriteInt(kSystemSection, keys::kSortOrder, 1);
  OpenFrame();
  EXPECT_EQ(Title(*frame_, 0), "News 03");  // newest first
  EXPECT_EQ(frame_->newsList()->table()->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
}

TEST_F(ReaderTest, KeywordSearchFindsWildcardCharactersLiterally) {
  AddNews(4);
  NewsRecord r;
  r.pair = pair_[0];
  r.title = "Sale";
  r.body = "now 50%_[a] off";
  r.published = *ParseDbTime("2024-01-01 00:00:00");
  AddNews(r);
  r.title = "Other sale";
  r.body = "now 50 percent a off";
  AddNews(r);
  OpenFrame();
  frame_->keywordsCombo()->setEditText("50%_[a]");
  int n = fills_;
  frame_->action(Cmd::Search)->trigger();
  ASSERT_TRUE(WaitForFills(n + 1));
  ASSERT_EQ(frame_->newsList()->model()->rowCount(), 1);
  EXPECT_EQ(Title(*frame_, 0), "Sale");
  EXPECT_TRUE(frame_->searchMode());
  EXPECT_EQ(frame_->keywordsCombo()->itemText(0), "50%_[a]");

  // Search in found narrows the result; Clear results empties the grid.
  frame_->action(Cmd::SearchInFound)->trigger();
  EXPECT_EQ(frame_->action(Cmd::SearchInFound)->text(), "Disable \"Search in found\"");
  frame_->keywordsCombo()->setEditText("sale");
  frame_->action(Cmd::Search)->trigger();
  ASSERT_TRUE(WaitForFills(n + 2));
  EXPECT_EQ(frame_->newsList()->model()->rowCount(), 1);
  EXPECT_EQ(frame_->keywordsCombo()->count(), 2);
  frame_->action(Cmd::ClearResults)->trigger();
  EXPECT_EQ(frame_->newsList()->model()->rowCount(), 0);
}

TEST_F(ReaderTest, FilterComboListsTheFilterNews) {
  AddNews(6);
  CFilterStruct f;
  f.name = "Only Beta";
  f.searchMode = 1;
  {
    CDBManager m;
    ASSERT_TRUE(m.Init(dbPath_));
    int32_t cat, site;
    Statement s(*m.database(), "SELECT fk_news_cat, fk_news_config FROM site_cat_rel WHERE id = ?");
    s.Bind(1, pair_[1]);
    ASSERT_TRUE(s.Next());
    cat = static_cast<int32_t>(s.Int(0));
    site = static_cast<int32_t>(s.Int(1));
    ASSERT_GT(m.CreateFilter(f, &cat, &site, 1), 0);
  }
  settings().WriteInt(kSystemSection, keys::kLastFilter, 1);
  OpenFrame();
  EXPECT_EQ(frame_->filterCombo()->currentText(), "Only Beta");
  NewsListModel* model = frame_->newsList()->model();
  ASSERT_EQ(model->rowCount(), 2);
  EXPECT_EQ(model->site(0), "Beta");
  frame_->filterCombo()->setCurrentIndex(0);
  int n = fills_;
  frame_->action(Cmd::SearchWithFilter)->trigger();
  ASSERT_TRUE(WaitForFills(n + 1));
  EXPECT_EQ(model->rowCount(), 6);
}

TEST_F(ReaderTest, WindowOpensEmptyWhenTheDatabaseCannotBeOpened) {
  settings().WriteText(kSystemSection, "PathDB", dir_.File("missing.db"));
  vault_ = std::make_unique<Vault>();
  EXPECT_FALSE(vault_->db.Init(""));
  frame_ = std::make_unique<CMainFrame>(*vault_, false);
  QObject::connect(frame_->newsList(), &CNewsListView::loadingFinished, [this] { ++fills_; });
  frame_->show();
  ASSERT_TRUE(WaitForFills(1));
  EXPECT_EQ(frame_->newsList()->model()->rowCount(), 0);
  EXPECT_EQ(frame_->filterCombo()->count(), 1);
}

TEST_F(ReaderTest, TextSizeIsKeptInTheSettings) {
  AddNews(1);
  OpenFrame();
  CNewsDetailView* detail = frame_->newsDetail();
  EXPECT_EQ(detail->textSize(), 2);
  double medium = detail->browser()->document()->defaultFont().pointSizeF();
  frame_->action(Cmd::TextLargest)->trigger();
  EXPECT_EQ(detail->textSize(), 4);
  EXPECT_GT(detail->browser()->document()->defaultFont().pointSizeF(), medium);
  EXPECT_TRUE(frame_->action(Cmd::TextLargest)->isChecked());
  EXPECT_FALSE(frame_->action(Cmd::TextMedium)->isChecked());
  EXPECT_EQ(settings().ReadInt(kSystemSection, keys::kTextSize, -1), 4);
  frame_.reset();
  OpenFrame();
  EXPECT_EQ(frame_->newsDetail()->textSize(), 4);
}

TEST_F(ReaderTest, TrayIconAnimatesOnlyWhileARunGoes) {
  AddNews(1);
  OpenFrame();
  EXPECT_EQ(frame_->trayFrame(), 0);
  EXPECT_EQ(frame_->action(Cmd::Download)->text(), "&Download news");
  frame_->SetDownloadRunning(true);
  EXPECT_EQ(frame_->action(Cmd::Download)->text(), "Stop download");
  EXPECT_TRUE(frame_->action(Cmd::Download)->isChecked());
  frame_->SetStatusText(QString(100, 'x'));
  ASSERT_TRUE(WaitFor([&] { return frame_->trayFrame() == 2; }, 5000));
  EXPECT_EQ(frame_->trayIcon()->toolTip().size(), CMainFrame::kTooltipLimit);
  frame_->SetDownloadRunning(false);
  ASSERT_TRUE(WaitFor([&] { return frame_->trayFrame() == 0; }, 3000));
}

TEST_F(ReaderTest, ContextMenusCopyAddressAndSaveFollowTheSelection) {
  AddNews(4);
  OpenFrame();
  CNewsListView* list = frame_->newsList();
  EXPECT_EQ(list->ContextMenuForSelection(), nullptr);
  int32_t shown = -1;
  QObject::connect(frame_->newsDetail(), &CNewsDetailView::itemShown, [&](int32_t i) { shown = i; });
  SelectRow(0);
  ASSERT_TRUE(WaitFor([&] { return shown == list->model()->row(0).id; }));
  QMenu* menu = list->ContextMenuForSelection();
  ASSERT_NE(menu, nullptr);
  EXPECT_TRUE(menu->actions().contains(frame_->action(Cmd::MarkRead)));
  EXPECT_TRUE(menu->actions().contains(frame_->action(Cmd::CopyAddress)));
  frame_->action(Cmd::MarkRead)->trigger();
  EXPECT_TRUE(list->ContextMenuForSelection()->actions().contains(frame_->action(Cmd::MarkUnread)));
  EXPECT_FALSE(list->ContextMenuForSelection()->actions().contains(frame_->action(Cmd::MarkRead)));

  frame_->action(Cmd::CopyAddress)->trigger();
  EXPECT_EQ(QApplication::clipboard()->text(), frame_->newsInfo()->linkText());
  EXPECT_TRUE(QApplication::clipboard()->text().startsWith("https://example.org/news/"));

  QString error;
  QString text = QString::fromStdString(dir_.File("saved.txt"));
  ASSERT_TRUE(frame_->newsDetail()->SaveTo(text, &error)) << error.toStdString();
  EXPECT_NE(ReadFile(text.toStdString()).find(list->model()->title(0).toStdString()), std::string::npos);
  QString page = QString::fromStdString(dir_.File("saved.html"));
  ASSERT_TRUE(frame_->newsDetail()->SaveTo(page, &error));
  EXPECT_NE(ReadFile(page.toStdString()).find("<html"), std::string::npos);
  EXPECT_FALSE(frame_->newsDetail()->SaveTo(QString::fromStdString(dir_.File("no/such/dir/x.html")), &error));
  EXPECT_FALSE(error.isEmpty());

  list->table()->selectionModel()->select(list->model()->index(1, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
  menu = list->ContextMenuForSelection();
  EXPECT_TRUE(menu->actions().contains(frame_->action(Cmd::MarkRead)));
  EXPECT_TRUE(menu->actions().contains(frame_->action(Cmd::MarkUnread)));
  EXPECT_FALSE(menu->actions().contains(frame_->action(Cmd::CopyAddress)));
}

// Stands in for the user's browser.
class UrlCatcher : public QObject {
  Q_OBJECT
 public slots:
  void open(const QUrl& url) { opened.push_back(url); }

 public:
  std::vector<QUrl> opened;
};

TEST_F(ReaderTest, TheAddressOpensInTheBrowserOnlyForWebAddresses) {
  UrlCatcher catcher;
  for (const char* scheme : {"http", "https", "file"}) QDesktopServices::setUrlHandler(scheme, &catcher, "open");
  NewsRecord r;
  r.pair = pair_[0];
  r.title = "Web";
  r.url = "https://example.org/a b";
  r.published = *ParseDbTime("2024-01-01 00:00:00");
  AddNews(r);
  r.title = "Local";
  r.url = "file:///etc/passwd";
  AddNews(r);
  OpenFrame();
  CNewsInfoView* info = frame_->newsInfo();
  auto show = [&](const char* title) {
    NewsListModel* model = frame_->newsList()->model();
    for (int i = 0; i < model->rowCount(); ++i)
      if (model->title(i) == title) SelectRow(i);
    return WaitFor([&] { return info->titleText() == title; });
  };
  ASSERT_TRUE(show("Web"));
  QTest::mouseClick(info->field(2), Qt::LeftButton, {}, QPoint(3, 3));
  ASSERT_EQ(catcher.opened.size(), 1u);
  EXPECT_EQ(catcher.opened[0].toString(QUrl::FullyEncoded).toStdString(), "https://example.org/a%20b");
  ASSERT_TRUE(show("Local"));
  QTest::mouseClick(info->field(2), Qt::LeftButton, {}, QPoint(3, 3));
  EXPECT_EQ(catcher.opened.size(), 1u);
  frame_->newsDetail()->Clear();
  QTest::mouseClick(info->field(2), Qt::LeftButton, {}, QPoint(3, 3));  // empty: nothing
  EXPECT_EQ(catcher.opened.size(), 1u);
  for (const char* scheme : {"http", "https", "file"}) QDesktopServices::unsetUrlHandler(scheme);
}

TEST_F(ReaderTest, HelpOpensTheBundledPageInTheBrowser) {
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler("file", &catcher, "open");
  AddNews(1);
  OpenFrame();
  frame_->action(Cmd::Contents)->trigger();
  QDesktopServices::unsetUrlHandler("file");
  ASSERT_EQ(catcher.opened.size(), 1u);
  EXPECT_EQ(catcher.opened[0].toLocalFile().toStdString(), dir_.File("newsdesk_help.html"));
  EXPECT_NE(ReadFile(dir_.File("newsdesk_help.html")).find("<h1>ORVO Newsdesk</h1>"), std::string::npos);
}

TEST_F(ReaderTest, TipOfTheDayWrapsAndRemembersItsPlace) {
  settings().WriteInt(kSystemSection, keys::kTipNum, CTipDialog::kTipCount - 1);
  {
    CTipDialog tip;
    EXPECT_EQ(tip.tipIndex(), 0);
    EXPECT_EQ(tip.tipText(), CTipDialog::Tip(0));
    tip.NextTip();
    tip.reject();
  }
  EXPECT_EQ(settings().ReadInt(kSystemSection, keys::kTipNum, -1), 1);
  EXPECT_EQ(settings().ReadInt(kSystemSection, keys::kStartTip, -1), 0);
  for (int i = 0; i < CTipDialog::kTipCount; ++i) EXPECT_FALSE(CTipDialog::Tip(i).isEmpty()) << i;
}

}  // namespace
}  // namespace orvo::testing

#include "window_test.moc"

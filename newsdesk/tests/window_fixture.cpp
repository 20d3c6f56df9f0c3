#include "window_fixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QItemSelectionModel>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <cstdlib>

#include "newslist.h"
#include "text.h"

namespace orvo::testing {

void ReaderTest::SetUp() {
  ::setenv("ORVO_HOME", dir_.path().c_str(), 1);
  dbPath_ = dir_.File("news.db");
  ASSERT_EQ(Database::Open(dbPath_, Database::Mode::kCreate, &db_), 0);
  pair_[0] = EnsurePair(*db_, "Alpha", "World");
  pair_[1] = EnsurePair(*db_, "Beta", "Sport");
  pair_[2] = EnsurePair(*db_, "Gamma", "Arts");
  Settings s = settings();
  s.WriteText(kSystemSection, "PathDB", dbPath_);
  s.WriteInt(kSystemSection, keys::kStartTip, 0);
}

void ReaderTest::TearDown() {
  frame_.reset();
  vault_.reset();
  db_.reset();
  ::unsetenv("ORVO_HOME");
}

std::vector<int64_t> ReaderTest::AddNews(int count) {
  std::vector<int64_t> ids;
  std::time_t base = *ParseDbTime("2024-05-01 08:00:00");
  for (int i = 0; i < count; ++i) {
    NewsRecord r;
    r.pair = pair_[i % 3];
    char title[32];
    std::snprintf(title, sizeof title, "News %02d", i);
    r.title = title;
    r.author = "Author " + std::to_string(i);
    r.url = "https://example.org/news/" + std::to_string(added_++);
    r.body = "<p>Body of " + r.title + ".</p>";
    r.published = base + i * 60;
    ids.push_back(AddNews(r));
  }
  return ids;
}

int64_t ReaderTest::AddNews(const NewsRecord& record) {
  int64_t id = StoreNews(*db_, record);
  EXPECT_GT(id, 0);
  return id;
}

void ReaderTest::OpenFrame(bool trayAvailable) {
  vault_ = std::make_unique<Vault>();
  ASSERT_TRUE(vault_->db.Init(""));
  frame_ = std::make_unique<CMainFrame>(*vault_, trayAvailable);
  QObject::connect(frame_->newsList(), &CNewsListView::loadingFinished, [this] { ++fills_; });
  frame_->show();
  ASSERT_TRUE(WaitForFills(1));
}

bool ReaderTest::WaitFor(const std::function<bool()>& condition, int ms) {
  return QTest::qWaitFor(condition, ms);
}

bool ReaderTest::WaitForFills(int count) {
  return WaitFor([&] { return fills_ >= count; });
}

void ReaderTest::SelectRow(int row) {
  QTableView* table = frame_->newsList()->table();
  table->selectionModel()->setCurrentIndex(table->model()->index(row, 0),
                                           QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void ReaderTest::AnswerMessageBox(QMessageBox::StandardButton button, QString* text) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, button, text] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    if (text) *text = box->text();
    timer->stop();
    timer->deleteLater();
    if (QAbstractButton* b = box->button(button)) b->click();
  });
  timer->start();
}

int64_t ReaderTest::QueryInt(const std::string& sql) {
  Statement s(*db_, sql);
  return s.Next() ? s.Int(0) : -1;
}

}  // namespace orvo::testing

// The reader's file dialogs on the program folder, while other programs use
// the news database: the reader's locks stay, and every write of both sides
// survives.
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>

#include "frame_controls.h"
#include "newsdetail.h"
#include "newslist.h"
#include "options_sheet.h"
#include "window_fixture.h"

namespace orvo::testing {
namespace {

// Every file of the program folder opened while it watches.
class OpenWatch {
 public:
  explicit OpenWatch(const std::string& dir) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ >= 0) inotify_add_watch(fd_, dir.c_str(), IN_OPEN);
  }
  ~OpenWatch() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  std::set<std::string> Opened() {
    std::set<std::string> names;
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
      ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      for (char* p = buffer; p < buffer + n;) {
        auto* e = reinterpret_cast<inotify_event*>(p);
        if (e->len) names.insert(e->name);
        p += sizeof(inotify_event) + e->len;
      }
    }
    return names;
  }

 private:
  int fd_;
};

// Lines of /proc/locks on the file's inode.
int LocksOn(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return 0;
  std::string inode = ":" + std::to_string(st.st_ino);
  std::ifstream in("/proc/locks");
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string f;
    while (fields >> f)
      if (f.size() > inode.size() && f.compare(f.size() - inode.size(), inode.size(), inode) == 0) ++count;
  }
  return count;
}

// Runs `act` on the next file dialog once it has listed the folder and looked
// at every file it shows (icons and types are fetched in the background).
void DriveNextFileDialog(const QString& folder, std::function<void(QFileDialog*)> act, bool* done) {
  auto* timer = new QTimer;
  timer->setInterval(20);
  auto started = std::make_shared<QElapsedTimer>();
  QObject::connect(timer, &QTimer::timeout, [=] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible()) return;
    auto* model = dialog->findChild<QFileSystemModel*>();
    if (!model) return;
    if (!started->isValid()) {
      dialog->setDirectory(folder);
      started->start();
      return;
    }
    QModelIndex root = model->index(folder);
    bool ready = root.isValid() && model->rowCount(root) > 0;
    for (int i = 0; ready && i < model->rowCount(root); ++i)
      if (model->data(model->index(i, 2, root), Qt::DisplayRole).toString().isEmpty() ||
          model->data(model->index(i, 0, root), Qt::DecorationRole).isNull())
        ready = false;
    // Give the gatherer a moment more, then act.
    if (!ready && started->elapsed() < 5000) return;
    if (started->elapsed() < 500) return;
    timer->stop();
    timer->deleteLater();
    act(dialog);
    *done = true;
  });
  timer->start();
}

class DatabaseFilesTest : public ReaderTest {
 protected:
  // Another program opens the database, writes and closes it.
  void OtherProgramWrites(int64_t id, const std::string& title) {
    QProcess p;
    p.start(NEWSDESK_DB_WRITER, {QString::fromStdString(dbPath_),
                                 QString::fromStdString("UPDATE newsitem SET title = '" + title +
                                                        "' WHERE id = " + std::to_string(id))});
    ASSERT_TRUE(p.waitForFinished(30000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  }
  void ReaderMarks(int64_t id) {
    VaultLock lock(vault_->lock);
    ASSERT_EQ(vault_->db.MarkAsRead(static_cast<int32_t>(id), true), 0);
  }
};

TEST_F(DatabaseFilesTest, FileDialogsOnTheProgramFolderKeepTheReaderLocksAndEveryWrite) {
  std::vector<int64_t> ids = AddNews(12);
  db_.reset();  // the reader's own connection is then the only one in this process
  OpenFrame();
  QString folder = QString::fromStdString(dir_.path());
  std::string dbName = "news.db";
  std::vector<int64_t> marked;
  std::vector<std::pair<int64_t, std::string>> retitled;
  size_t next = 0;

  auto round = [&](const char* what, const std::function<void()>& open) {
    SCOPED_TRACE(what);
    int64_t mark = ids[next++];
    ReaderMarks(mark);
    marked.push_back(mark);
    ASSERT_GT(LocksOn(dbPath_), 0);
    OpenWatch watch(dir_.path());
    ASSERT_TRUE(watch.ok());
    open();
    for (const std::string& name : watch.Opened()) EXPECT_NE(name.rfind(dbName, 0), 0u) << name << " was opened";
    EXPECT_GT(LocksOn(dbPath_), 0) << "the reader's locks on the database are gone";
    int64_t other = ids[next++];
    OtherProgramWrites(other, std::string("retitled by ") + what);
    retitled.emplace_back(other, std::string("retitled by ") + what);
    int64_t after = ids[next++];
    ReaderMarks(after);
    marked.push_back(after);
  };

  round("the database browser", [&] {
    COptionsPropSheet sheet(*vault_, [] { return false; }, frame_.get());
    sheet.tabs()->setCurrentIndex(sheet.tabs()->count() - 2);  // System
    sheet.show();
    QList<QPushButton*> browse;
    for (QPushButton* b : sheet.page(sheet.tabs()->count() - 2)->findChildren<QPushButton*>())
      if (b->text() == "Browse...") browse << b;
    ASSERT_EQ(browse.size(), 2);
    bool done = false;
    DriveNextFileDialog(folder, [](QFileDialog* d) { d->reject(); }, &done);
    browse[0]->click();
    ASSERT_TRUE(done);
  });
  round("the folder browser", [&] {
    COptionsPropSheet sheet(*vault_, [] { return false; }, frame_.get());
    sheet.tabs()->setCurrentIndex(sheet.tabs()->count() - 2);
    sheet.show();
    QList<QPushButton*> browse;
    for (QPushButton* b : sheet.page(sheet.tabs()->count() - 2)->findChildren<QPushButton*>())
      if (b->text() == "Browse...") browse << b;
    ASSERT_EQ(browse.size(), 2);
    bool done = false;
    DriveNextFileDialog(folder, [](QFileDialog* d) { d->reject(); }, &done);
    browse[1]->click();
    ASSERT_TRUE(done);
  });
  round("save as", [&] {
    bool done = false;
    DriveNextFileDialog(folder, [&](QFileDialog* d) {
      // The name typed into the program folder: the completer lists it too.
      if (auto* edit = d->findChild<QLineEdit*>()) QTest::keyClicks(edit, folder + "/ne");
      QTest::qWait(300);
      d->reject();
    }, &done);
    frame_->action(Cmd::SaveAs)->trigger();
    ASSERT_TRUE(done);
  });

  frame_.reset();
  vault_.reset();
  ASSERT_EQ(Database::Open(dbPath_, Database::Mode::kExisting, &db_), 0);
  {
    Statement check(*db_, "PRAGMA integrity_check");
    ASSERT_TRUE(check.Next());
    EXPECT_EQ(check.Text(0), "ok");
  }
  for (int64_t id : marked)
    EXPECT_EQ(QueryInt("SELECT is_read FROM newsitem WHERE id = " + std::to_string(id)), 1) << "mark of " << id;
  for (const auto& [id, title] : retitled) {
    Statement s(*db_, "SELECT title FROM newsitem WHERE id = ?");
    s.Bind(1, id);
    ASSERT_TRUE(s.Next());
    EXPECT_EQ(s.Text(0), title);
  }
}

}  // namespace
}  // namespace orvo::testing

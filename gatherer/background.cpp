#include "background.h"

#include "database.h"
#include "eventlog.h"

namespace orvo {

BackgroundJob::BackgroundJob(QObject* context, std::string dbPath) : context_(context), dbPath_(std::move(dbPath)) {}

BackgroundJob::~BackgroundJob() {
  Cancel();
  {
    std::lock_guard<std::mutex> lock(workMutex_);
    quit_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void BackgroundJob::Start(std::function<void()> body) {
  std::unique_lock<std::mutex> lock(workMutex_);
  // The last run's result was delivered already; only its end may be left.
  idle_.wait(lock, [this] { return !running_ && !next_; });
  cancel_ = false;
  busy_ = true;
  SetDoing("");
  next_ = std::move(body);
  if (!thread_.joinable()) thread_ = std::thread([this] { Serve(); });
  lock.unlock();
  wake_.notify_one();
}

void BackgroundJob::Serve() {
  std::unique_lock<std::mutex> lock(workMutex_);
  for (;;) {
    wake_.wait(lock, [this] { return next_ || quit_; });
    if (!next_) break;
    std::function<void()> body = std::move(next_);
    next_ = nullptr;
    running_ = true;
    lock.unlock();
    body();
    body = nullptr;
    lock.lock();
    running_ = false;
    idle_.notify_all();
  }
  // The connection belongs to this thread: it closes here.
  std::lock_guard<std::mutex> dbLock(mutex_);
  db_.reset();
}

void BackgroundJob::Cancel() {
  cancel_ = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (db_) db_->Interrupt();
  }
  {
    std::unique_lock<std::mutex> lock(workMutex_);
    next_ = nullptr;  // a run not begun is dropped: its result would be too
    idle_.wait(lock, [this] { return !running_; });
  }
  busy_ = false;
}

Database* BackgroundJob::db() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!db_) {
    int rc = Database::Open(dbPath_, Database::Mode::kExisting, &db_);
    if (rc != 0) {
      WriteEventLog("Error open DB: " + HexCode(rc));
      return nullptr;
    }
    // As on the main connection: WAL with NORMAL never corrupts the file.
    if (db_->backend() == Database::Backend::kSqlite) db_->Exec("PRAGMA synchronous = NORMAL");
  }
  return db_.get();
}

void BackgroundJob::SetDoing(const std::string& text, bool restartClock) {
  std::lock_guard<std::mutex> lock(mutex_);
  doing_ = text;
  if (restartClock) doingSince_ = Clock::now();
}

std::string BackgroundJob::Doing(Clock::duration* since) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (since) *since = Clock::now() - doingSince_;
  return doing_;
}

}  // namespace orvo

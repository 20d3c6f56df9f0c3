#include "background.h"

#include "database.h"
#include "eventlog.h"

namespace orvo {

BackgroundJob::BackgroundJob(QObject* context, std::string dbPath) : context_(context), dbPath_(std::move(dbPath)) {}

BackgroundJob::~BackgroundJob() { Cancel(); }

void BackgroundJob::Start(std::function<void()> body) {
  if (thread_.joinable()) thread_.join();  // its result was delivered already
  cancel_ = false;
  busy_ = true;
  SetDoing("");
  thread_ = std::thread(std::move(body));
}

void BackgroundJob::Cancel() {
  cancel_ = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (db_) sqlite3_interrupt(db_->handle());
  }
  if (thread_.joinable()) thread_.join();
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
    db_->Exec("PRAGMA synchronous = NORMAL");
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

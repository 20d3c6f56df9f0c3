// Work of the gathering run that waits on the network or the database (image
// passes, catalogue updates) runs here, on a thread of its own, so that the
// main thread keeps answering bus calls and raising progress meanwhile. A job
// keeps one thread for all its runs: a download stores every item through
// it, and a thread started per item costs more than the store.
#pragma once

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace orvo {

class Database;

class BackgroundJob {
 public:
  using Clock = std::chrono::steady_clock;

  // Results are delivered on the thread of `context`; dbPath is the news
  // database the job's own connection opens.
  BackgroundJob(QObject* context, std::string dbPath);
  // Cancels the job in progress, waits for it, and ends the thread.
  ~BackgroundJob();
  BackgroundJob(const BackgroundJob&) = delete;
  BackgroundJob& operator=(const BackgroundJob&) = delete;

  // Runs work on the job's thread, then done(result) on the context's thread,
  // unless the job was cancelled meanwhile. One job at a time.
  template <typename R>
  void Run(std::function<R(BackgroundJob&)> work, std::function<void(R)> done) {
    Start([this, work = std::move(work), done = std::move(done)]() mutable {
      auto result = std::make_shared<R>(work(*this));
      QMetaObject::invokeMethod(
          context_,
          [this, result, done = std::move(done)] {
            busy_ = false;
            if (!cancel_) done(std::move(*result));
          },
          Qt::QueuedConnection);
    });
  }

  bool busy() const { return busy_; }
  // Asks the job to end soon, and waits until it has.
  void Cancel();
  const std::atomic<bool>& cancelFlag() const { return cancel_; }
  bool cancelled() const { return cancel_; }

  // The job's own connection (worker thread only); null with a log line when
  // the database cannot be opened.
  Database* db();

  // What the job is waiting for, told as progress while it lasts.
  // restartClock false keeps the time of the step that began the wait.
  void SetDoing(const std::string& text, bool restartClock = true);
  std::string Doing(Clock::duration* since = nullptr) const;

 private:
  void Start(std::function<void()> body);
  void Serve();

  QObject* context_;
  std::string dbPath_;
  std::unique_ptr<Database> db_;
  std::thread thread_;
  std::mutex workMutex_;
  std::condition_variable wake_, idle_;
  std::function<void()> next_;  // a run the thread has not begun
  bool running_ = false;
  bool quit_ = false;
  std::atomic<bool> cancel_{false};
  bool busy_ = false;
  mutable std::mutex mutex_;
  std::string doing_;
  Clock::time_point doingSince_;
};

}  // namespace orvo

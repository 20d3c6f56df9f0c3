#include "work_pool.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace orvo {

struct WorkPool::Shared {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::function<void()>> tasks;
  size_t waiting = 0;  // workers free to take a task
  size_t started = 0;
  size_t alive = 0;
  bool closing = false;
  std::chrono::milliseconds idleLife;
};

void WorkPool::Work(const std::shared_ptr<Shared>& s) {
  std::unique_lock<std::mutex> lock(s->mutex);
  for (;;) {
    if (s->tasks.empty()) {
      if (s->closing) break;
      ++s->waiting;
      const bool woken = s->wake.wait_for(lock, s->idleLife, [&] { return !s->tasks.empty() || s->closing; });
      --s->waiting;
      if (!woken) break;
      continue;
    }
    std::function<void()> task = std::move(s->tasks.front());
    s->tasks.pop_front();
    lock.unlock();
    task();
    task = nullptr;  // what it holds goes before the lock is taken again
    lock.lock();
  }
  --s->alive;
}

WorkPool::WorkPool(std::chrono::milliseconds idleLife) : shared_(std::make_shared<Shared>()) {
  shared_->idleLife = idleLife;
}

WorkPool::~WorkPool() {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->closing = true;
  shared_->wake.notify_all();
}

void WorkPool::Post(std::function<void()> task) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->tasks.push_back(std::move(task));
  // Each waiting worker takes one queued task; more tasks than that need a
  // worker of their own, or one would wait behind abandoned work.
  if (shared_->waiting >= shared_->tasks.size()) {
    shared_->wake.notify_one();
    return;
  }
  ++shared_->started;
  ++shared_->alive;
  std::thread([s = shared_] { Work(s); }).detach();
}

size_t WorkPool::threadsStarted() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->started;
}

size_t WorkPool::threadsAlive() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->alive;
}

size_t WorkPool::threadsIdle() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->waiting;
}

}  // namespace orvo

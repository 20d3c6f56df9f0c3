// Worker threads for the parses and automatic extractions of a run. A page
// is parsed under its time-out: the run may stop waiting for the work, which
// then finishes on its own copies. So a worker held by abandoned work must
// not hold up the next page: when no worker is free, a new one starts. Free
// workers are reused, so a run of thousands of pages starts as many threads
// as it has pages in parse at once, and idle ones end after a while.
#ifndef ORVO_GATHERER_WORK_POOL_H_
#define ORVO_GATHERER_WORK_POOL_H_

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

namespace orvo {

class WorkPool {
 public:
  explicit WorkPool(std::chrono::milliseconds idleLife = std::chrono::seconds(30));
  // Never waits for work: workers still busy end when their work is done.
  ~WorkPool();
  WorkPool(const WorkPool&) = delete;
  WorkPool& operator=(const WorkPool&) = delete;

  // Runs task on a free worker at once, or on a new one.
  void Post(std::function<void()> task);

  size_t threadsStarted() const;
  size_t threadsAlive() const;
  size_t threadsIdle() const;

 private:
  struct Shared;
  static void Work(const std::shared_ptr<Shared>& s);
  std::shared_ptr<Shared> shared_;
};

}  // namespace orvo

#endif  // ORVO_GATHERER_WORK_POOL_H_

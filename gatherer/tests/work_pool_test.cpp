#include "work_pool.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "background.h"

namespace orvo {
namespace {

using namespace std::chrono_literals;

// Waits for a condition that must come, without timing what it takes.
template <typename F>
bool Eventually(F done) {
  for (int i = 0; i < 2000 && !done(); ++i) std::this_thread::sleep_for(5ms);
  return done();
}

// A run parses page after page: one worker does them all.
TEST(WorkPool, PagesOneAfterAnotherShareOneWorker) {
  WorkPool pool;
  std::thread::id first;
  for (int i = 0; i < 200; ++i) {
    std::promise<std::thread::id> ran;
    std::future<std::thread::id> id = ran.get_future();
    // The worker must be waiting again before the next page comes, as it is
    // between a run's pages.
    ASSERT_TRUE(Eventually([&] { return i == 0 || pool.threadsIdle() == 1; }));
    pool.Post([&ran] { ran.set_value(std::this_thread::get_id()); });
    const std::thread::id now = id.get();
    if (i == 0) first = now;
    EXPECT_EQ(now, first) << "page " << i;
  }
  EXPECT_EQ(pool.threadsStarted(), 1u);
}

// Work the run gave up on keeps its worker; the next page must not wait
// behind it, and the pool's end must not wait for it either.
TEST(WorkPool, AbandonedWorkHoldsUpNeitherTheNextPageNorTheEnd) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> stuckDone{false};
  {
    WorkPool pool;
    pool.Post([released, &stuckDone] {
      released.wait();
      stuckDone = true;
    });
    std::promise<void> ran;
    std::future<void> next = ran.get_future();
    pool.Post([&ran] { ran.set_value(); });
    ASSERT_EQ(next.wait_for(60s), std::future_status::ready);
    EXPECT_EQ(pool.threadsStarted(), 2u);
  }  // the pool ends with the first task still running
  release.set_value();
  EXPECT_TRUE(Eventually([&] { return stuckDone.load(); }));
}

// Idle workers end, so a long-running engine does not keep a run's peak.
TEST(WorkPool, IdleWorkersEnd) {
  WorkPool pool(20ms);
  std::promise<void> a;
  std::shared_future<void> go = std::shared_future<void>(a.get_future());
  std::atomic<int> done{0};
  for (int i = 0; i < 3; ++i)
    pool.Post([go, &done] {
      go.wait();
      ++done;
    });
  EXPECT_EQ(pool.threadsStarted(), 3u);
  a.set_value();
  EXPECT_TRUE(Eventually([&] { return done == 3 && pool.threadsAlive() == 0; }));
}

}  // namespace
}  // namespace orvo

namespace orvo {
namespace {

// A download stores every item through its lane's job: all on one thread,
// each result still delivered on the lane's own.
TEST(BackgroundJobTest, RunsOneAfterAnotherShareTheJobsThread) {
  QObject context;
  // Kernel thread ids: a joined thread's std::thread::id is often reused.
  std::vector<pid_t> workers;
  {
    BackgroundJob job(&context, "");
    for (int i = 0; i < 5; ++i) {
      bool delivered = false;
      job.Run<pid_t>([](BackgroundJob&) { return ::gettid(); },
                               [&](pid_t id) {
                                 EXPECT_EQ(QThread::currentThread(), context.thread());
                                 workers.push_back(id);
                                 delivered = true;
                               });
      for (int spin = 0; spin < 20000 && !delivered; ++spin)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      ASSERT_TRUE(delivered) << "run " << i;
    }
  }
  ASSERT_EQ(workers.size(), 5u);
  for (const auto& id : workers) EXPECT_EQ(id, workers.front());
  EXPECT_NE(workers.front(), ::gettid());
}

}  // namespace
}  // namespace orvo

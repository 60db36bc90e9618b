#include "app/TaskPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "support/Timing.h"

namespace wren {
namespace {

using namespace std::chrono_literals;
using testing::eventually;
using testing::scaledBound;

// Tasks that block until released, as a handler stuck in a long computation does.
class Gate {
 public:
  void wait() {
    ++waiting_;
    while (!open_) std::this_thread::sleep_for(1ms);
  }
  void open() { open_ = true; }
  int waiting() const { return waiting_; }

 private:
  std::atomic<bool> open_{false};
  std::atomic<int> waiting_{0};
};

TEST(TaskPool, IdleThreadsEndAfterTheirLifetime) {
  std::atomic<int> done{0};
  TaskPool pool({.idleLifetime = 50ms});
  for (int i = 0; i < 8; ++i) pool.submit([&] { ++done; });
  EXPECT_TRUE(eventually([&] { return pool.threadCount() == 0; }));
  EXPECT_EQ(done, 8);
}

TEST(TaskPool, QuickTaskIsNotHeldUpBySlowOnes) {
  TaskPool pool({.queueLimit = 4});
  Gate gate;
  // More slow tasks than the pool has eager workers or queue places.
  const int slow = pool.eagerWorkers() + 14;
  for (int i = 0; i < slow; ++i) pool.submit([&] { gate.wait(); });
  std::atomic<bool> quickRan{false};
  auto submitted = std::chrono::steady_clock::now();
  pool.submit([&] { quickRan = true; });
  EXPECT_TRUE(eventually([&] { return quickRan.load(); }));
  EXPECT_LT(std::chrono::steady_clock::now() - submitted, scaledBound(400ms));
  EXPECT_EQ(gate.waiting(), slow) << "every slow task got a thread of its own";
  gate.open();
}

TEST(TaskPool, FloodOfQuickTasksNeedsNoMoreThanOneThreadPerCore) {
  std::atomic<int> done{0};
  int peak = 0, eager = 0;
  {
    TaskPool pool({.queueLimit = 64});
    eager = pool.eagerWorkers();
    for (int i = 0; i < 20000; ++i) pool.submit([&] { ++done; });
    peak = pool.peakThreadCount();
  }  // the destructor runs what is still queued
  EXPECT_EQ(done, 20000);
  // A machine too busy to move the queue for a stall period may add a thread or two.
  EXPECT_LE(peak, eager + 3);
}

// Requests of a few milliseconds each, more than there are cores, pipelined: the queue moves
// all the time, so the workers that exist serve it and no thread is added.
TEST(TaskPool, PipelinedShortTasksAreServedByTheWorkersThatExist) {
  TaskPool pool;
  std::atomic<int> done{0};
  for (int i = 0; i < 100; ++i) {
    pool.submit([&] {
      std::this_thread::sleep_for(10ms);
      ++done;
    });
  }
  EXPECT_TRUE(eventually([&] { return done == 100; }));
  EXPECT_LE(pool.peakThreadCount(), pool.eagerWorkers() + 3);
}

TEST(TaskPool, ATaskThatThrowsIsReportedAndTheWorkerGoesOn) {
  std::atomic<int> ran{0};
  ::testing::internal::CaptureStderr();
  {
    TaskPool pool;
    pool.submit([] { throw std::runtime_error("disk on fire"); });
    EXPECT_TRUE(eventually([&] {
      pool.submit([&] { ++ran; });
      return ran > 0;
    }));
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "wren-mac-helper: a task failed: disk on fire\n");
}

}  // namespace
}  // namespace wren

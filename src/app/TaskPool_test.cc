#include "app/TaskPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

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
  // Short stall ticks, so that the ramp itself is what the bound measures.
  TaskPool pool({.stallAfter = 20ms, .queueLimit = 4});
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

// With every core's worker stuck in a long task, a quick one waits one stall period and
// gets the one worker a stalled tick adds; the workers are not added before.
TEST(TaskPool, QuickTaskRunsWhileEveryCoreWorkerIsStuck) {
  TaskPool pool({.idleLifetime = 100ms});
  Gate gate;
  for (int i = 0; i < pool.eagerWorkers(); ++i) pool.submit([&] { gate.wait(); });
  ASSERT_TRUE(eventually([&] { return gate.waiting() == pool.eagerWorkers(); }));
  std::atomic<bool> quickRan{false};
  auto submitted = std::chrono::steady_clock::now();
  pool.submit([&] { quickRan = true; });
  std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(quickRan) << "a worker was added before a stall period passed";
  EXPECT_TRUE(eventually([&] { return quickRan.load(); }));
  EXPECT_LT(std::chrono::steady_clock::now() - submitted, scaledBound(300ms));
  EXPECT_EQ(pool.peakThreadCount(), pool.eagerWorkers() + 1);
  gate.open();
  EXPECT_TRUE(eventually([&] { return pool.threadCount() == 0; })) << "the added worker ends when idle";
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

// Requests of 10 ms of computing each, far more than there are cores, pipelined: the cores
// are merely busy and the queue moves all the time, so the workers that exist serve it and
// no thread is added.
TEST(TaskPool, PipelinedShortTasksAreServedByTheWorkersThatExist) {
  TaskPool pool;
  std::atomic<int> done{0};
  for (int i = 0; i < 100; ++i) {
    pool.submit([&] {
      const auto until = std::chrono::steady_clock::now() + 10ms;
      while (std::chrono::steady_clock::now() < until) {}
      ++done;
    });
  }
  EXPECT_TRUE(eventually([&] { return done == 100; }));
  EXPECT_LE(pool.peakThreadCount(), pool.eagerWorkers() + 3);
}

// Submitters blocked on a full queue are woken when it falls below its limit: each of them,
// including one woken after another took the room, and not once per task taken.
TEST(TaskPool, EverySubmitterWaitingForRoomGetsThrough) {
  TaskPool pool({.queueLimit = 2});
  std::atomic<int> done{0};
  std::vector<std::thread> submitters;
  for (int t = 0; t < 4; ++t)
    submitters.emplace_back([&] {
      for (int i = 0; i < 500; ++i) pool.submit([&] { ++done; });
    });
  EXPECT_TRUE(eventually([&] { return done == 2000; }));
  for (auto& submitter : submitters) submitter.join();
}

TEST(TaskPool, NeverRunsMoreThreadsThanItsCap) {
  Gate gate;
  std::atomic<int> done{0};
  {
    TaskPool pool({.stallAfter = 1ms, .maxThreads = 8});
    for (int i = 0; i < 50; ++i) {
      pool.submit([&] {
        gate.wait();
        ++done;
      });
    }
    EXPECT_TRUE(eventually([&] { return gate.waiting() == 8; }));
    std::this_thread::sleep_for(20ms);  // many stalled ticks
    EXPECT_EQ(pool.threadCount(), 8);
    EXPECT_EQ(gate.waiting(), 8) << "the others wait in the queue";
    gate.open();
  }
  EXPECT_EQ(done, 50) << "and run once workers are free";
}

// Starts real threads until `allowed` have been started, then fails as the system does when
// a process limit is reached.
TaskPool::ThreadStarter failingAfter(int allowed, std::atomic<int>& started) {
  return [allowed, &started](std::function<void()> body) {
    if (started >= allowed) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    ++started;
    std::thread(std::move(body)).detach();
  };
}

TEST(TaskPool, WhenNoThreadCanStartTasksAreRefusedNotLost) {
  std::atomic<int> started{0}, ran{0}, refused{0};
  TaskPool pool({.startThread = failingAfter(0, started)});
  const std::thread::id submitter = std::this_thread::get_id();
  for (int i = 0; i < 5; ++i) {
    pool.submit([&] { ++ran; },
                [&] {
                  EXPECT_EQ(std::this_thread::get_id(), submitter);
                  ++refused;
                });
  }
  EXPECT_EQ(refused, 5);
  EXPECT_EQ(ran, 0);
  EXPECT_EQ(pool.threadCount(), 0);
}

TEST(TaskPool, WhenSomeThreadsStartTheyServeEveryTask) {
  std::atomic<int> started{0}, ran{0}, refused{0};
  Gate gate;
  {
    TaskPool pool({.stallAfter = 1ms, .startThread = failingAfter(2, started)});
    for (int i = 0; i < 40; ++i) {
      pool.submit(
          [&] {
            gate.wait();
            ++ran;
          },
          [&] { ++refused; });
    }
    std::this_thread::sleep_for(20ms);  // stalled ticks try, and fail, to add workers
    EXPECT_EQ(pool.threadCount(), 2);
    gate.open();
  }
  EXPECT_EQ(ran, 40);
  EXPECT_EQ(refused, 0);
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

#include "platform/MainQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace wren::platform {
namespace {

using namespace std::chrono_literals;

// The thread that calls run() plays the main thread here.
TEST(MainQueue, QuitAskedBeforeTheLoopRunsStillEndsIt) {
  std::thread other([] { mainQueue::quit(); });
  other.join();
  auto started = std::chrono::steady_clock::now();
  mainQueue::run();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
}

TEST(MainQueue, WorkPostedFromAnotherThreadRunsOnTheLoopThread) {
  const std::thread::id loopThread = std::this_thread::get_id();
  std::thread::id ranOn;
  std::thread other([&] {
    mainQueue::post([&] {
      ranOn = std::this_thread::get_id();
      mainQueue::quit();
    });
  });
  other.join();
  mainQueue::run();
  EXPECT_EQ(ranOn, loopThread);
}

TEST(MainQueue, TimersFireAfterTheirDelayInOrder) {
  std::vector<int> order;
  auto started = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration firedAfter{};
  mainQueue::after(60ms, [&] {
    order.push_back(2);
    firedAfter = std::chrono::steady_clock::now() - started;
    mainQueue::quit();
  });
  mainQueue::after(10ms, [&] { order.push_back(1); });
  mainQueue::run();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_GE(firedAfter, 60ms);
}

TEST(MainQueue, WorkThatThrowsIsReportedAndTheLoopGoesOn) {
  bool ranAfter = false;
  ::testing::internal::CaptureStderr();
  mainQueue::post([] { throw std::runtime_error("disk on fire"); });
  mainQueue::after(5ms, [] { throw 42; });
  mainQueue::after(20ms, [&] {
    ranAfter = true;
    mainQueue::quit();
  });
  mainQueue::run();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "wren-mac-helper: main queue work failed: disk on fire\n"
            "wren-mac-helper: main queue work failed\n");
  EXPECT_TRUE(ranAfter);
}

// Work handed in from many threads at once, timers among it: each piece runs once, on the
// loop's thread. Run under ThreadSanitizer, this also checks the hand-over itself.
TEST(MainQueue, WorkFromManyThreadsRunsOnceEachOnTheLoopThread) {
  const std::thread::id loopThread = std::this_thread::get_id();
  constexpr int kThreads = 8, kEach = 200;
  int ran = 0;  // touched on the loop thread only
  bool allOnLoop = true;
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; ++t) {
    senders.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        auto work = [&] {
          allOnLoop = allOnLoop && std::this_thread::get_id() == loopThread;
          if (++ran == kThreads * kEach) mainQueue::quit();
        };
        if ((i + t) % 3 == 0) {
          mainQueue::after(std::chrono::milliseconds(i % 4), work);
        } else {
          mainQueue::post(work);
        }
      }
    });
  }
  mainQueue::run();
  for (std::thread& sender : senders) sender.join();
  EXPECT_EQ(ran, kThreads * kEach);
  EXPECT_TRUE(allOnLoop);
}

}  // namespace
}  // namespace wren::platform

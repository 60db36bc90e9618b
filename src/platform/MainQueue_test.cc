#include "platform/MainQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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

}  // namespace
}  // namespace wren::platform

#include "platform/OneShot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

namespace wren::platform {
namespace {

using namespace std::chrono_literals;

// The thread that calls mainQueue::run() plays the main thread in these tests.

TEST(OneShot, AnAnswerBeforeTheDeadlineWinsOnTheAnsweringThread) {
  std::optional<int> got;
  std::thread::id ranOn;
  int runs = 0;
  auto slot = OneShot<int>::start(60ms, [&](std::optional<int> answer) {
    ++runs;
    got = answer;
    ranOn = std::this_thread::get_id();
  });
  std::thread::id answerer;
  bool first = false, second = true;
  std::thread platform([&] {
    answerer = std::this_thread::get_id();
    first = slot->resolve(7);
    second = slot->resolve(8);
  });
  platform.join();
  // The deadline's timer still fires on the loop, and changes nothing.
  mainQueue::after(120ms, [] { mainQueue::quit(); });
  mainQueue::run();
  EXPECT_TRUE(first);
  EXPECT_FALSE(second) << "a second answer is ignored";
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(got, 7);
  EXPECT_EQ(ranOn, answerer);
  EXPECT_TRUE(slot->settled());
}

TEST(OneShot, TheDeadlineEndsTheWaitOnTheLoopAndALateAnswerIsIgnored) {
  const std::thread::id loopThread = std::this_thread::get_id();
  std::optional<int> got = 1;
  std::thread::id ranOn;
  auto started = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration waited{};
  auto slot = OneShot<int>::start(30ms, [&](std::optional<int> answer) {
    got = answer;
    ranOn = std::this_thread::get_id();
    waited = std::chrono::steady_clock::now() - started;
    mainQueue::quit();
  });
  mainQueue::run();
  EXPECT_EQ(got, std::nullopt);
  EXPECT_EQ(ranOn, loopThread);
  EXPECT_GE(waited, 30ms);
  EXPECT_FALSE(slot->resolve(5));
}

TEST(OneShot, APlatformThatDropsItsCallbackStillGetsTheDeadline) {
  bool timedOut = false;
  std::weak_ptr<OneShot<std::string>> watched;
  {
    auto slot = OneShot<std::string>::start(10ms, [&](std::optional<std::string> answer) {
      timedOut = !answer;
      mainQueue::quit();
    });
    watched = slot;
  }  // the only holder besides the timer lets go
  mainQueue::run();
  EXPECT_TRUE(timedOut);
  EXPECT_TRUE(watched.expired()) << "the slot goes with its timer";
}

// Answers and deadlines race, many at once: every continuation runs exactly once, and the
// side that won is the side whose call returned true. A third of the slots is never answered
// and a third has a deadline far away, so that both endings occur however the threads are
// scheduled; the rest race. Run under ThreadSanitizer.
TEST(OneShot, AnswersRacingDeadlinesResolveEachSlotExactlyOnce) {
  constexpr int kSlots = 3000;
  enum Kind { kNeverAnswered, kAnsweredInTime, kRacing };
  auto kindOf = [](int i) { return static_cast<Kind>(i % 3); };
  std::vector<std::atomic<int>> runs(kSlots);
  std::vector<std::atomic<int>> outcome(kSlots);  // 1 answered, 2 timed out
  std::atomic<int> settled{0};
  std::vector<std::shared_ptr<OneShot<int>>> slots;
  for (int i = 0; i < kSlots; ++i) {
    auto deadline = kindOf(i) == kAnsweredInTime ? std::chrono::milliseconds(60000) : std::chrono::milliseconds(i % 4);
    slots.push_back(OneShot<int>::start(deadline, [&, i](std::optional<int> answer) {
      runs[i]++;
      outcome[i] = answer ? 1 : 2;
      if (answer) { EXPECT_EQ(*answer, i); }
      if (++settled == kSlots) mainQueue::post([] { mainQueue::quit(); });
    }));
  }
  std::vector<std::atomic<bool>> won(kSlots);
  std::vector<std::thread> answerers;
  for (int t = 0; t < 4; ++t) {
    answerers.emplace_back([&, t] {
      std::mt19937 random(t);
      for (int i = t; i < kSlots; i += 4) {
        if (kindOf(i) == kNeverAnswered) continue;
        if (random() % 8 == 0) std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
        won[i] = slots[i]->resolve(i);
      }
    });
  }
  mainQueue::run();
  for (std::thread& answerer : answerers) answerer.join();
  for (int i = 0; i < kSlots; ++i) {
    ASSERT_EQ(runs[i], 1) << "slot " << i;
    EXPECT_EQ(outcome[i] == 1, won[i].load()) << "slot " << i;
    if (kindOf(i) == kNeverAnswered) { EXPECT_EQ(outcome[i], 2) << "slot " << i; }
    if (kindOf(i) == kAnsweredInTime) { EXPECT_EQ(outcome[i], 1) << "slot " << i; }
  }
}

}  // namespace
}  // namespace wren::platform

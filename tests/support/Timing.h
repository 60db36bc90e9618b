#pragma once

// Wall-clock bounds for tests. A bound says what the code must achieve on an ordinary build;
// under the sanitizers, and in unoptimised builds, code runs several times slower and a
// 2-core machine running the tests in parallel adds its own delays, so the bound is loosened
// there rather than left to fail at random.
//
//   EXPECT_LT(elapsed, scaledBound(std::chrono::milliseconds(400)));

#include <chrono>
#include <thread>

namespace wren::testing {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || !defined(NDEBUG)
inline constexpr int kSlowBuildFactor = 10;
#else
inline constexpr int kSlowBuildFactor = 1;
#endif

template <typename Duration>
constexpr Duration scaledBound(Duration bound) {
  return bound * kSlowBuildFactor;
}

// Polls the condition every millisecond until it holds or the (scaled) time is up; gives
// whether it held.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds within = std::chrono::seconds(5)) {
  const auto deadline = std::chrono::steady_clock::now() + scaledBound(within);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace wren::testing

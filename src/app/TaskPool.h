#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace wren {

// An elastic pool of threads for request tasks. A task never waits behind another: when no
// idle thread is there to take it, a new thread starts. Threads left idle for a while end,
// so a burst of slow requests does not leave threads behind.
class TaskPool {
 public:
  explicit TaskPool(std::chrono::milliseconds idleLifetime = std::chrono::seconds(10))
      : idleLifetime_(idleLifetime) {}
  // Idle threads must have ended before the pool goes; the request loop's pool lives for
  // the whole process.
  ~TaskPool();
  TaskPool(const TaskPool&) = delete;
  TaskPool& operator=(const TaskPool&) = delete;

  void submit(std::function<void()> task);

 private:
  void work(std::function<void()> first);

  std::chrono::milliseconds idleLifetime_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable allGone_;
  std::deque<std::function<void()>> queue_;  // tasks handed to idle threads, not yet taken
  int idle_ = 0;     // idle threads not yet promised a queued task
  int threads_ = 0;
  bool stopping_ = false;
};

}  // namespace wren

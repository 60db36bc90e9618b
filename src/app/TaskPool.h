#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace wren {

// An elastic pool of threads for request tasks.
//
// Tasks wait in one queue that the workers drain back to back, so a flood of quick requests
// costs no thread start and no wake-up each. A task never waits behind slow ones for long:
// a supervisor watches the queue, and when it has made no progress for `stallAfter` while
// every worker is busy, it starts more workers, more on each stalled tick, until the queue
// moves again.
// Workers left idle for `idleLifetime` end, so a burst of slow requests leaves no threads
// behind.
//
// The queue holds at most `queueLimit` tasks: submit waits for room, which the workers (or,
// when they are all stuck, the workers the supervisor adds) make within a few milliseconds.
// This keeps the memory of a flood of requests bounded without letting a slow request hold
// up the ones behind it.
class TaskPool {
 public:
  struct Options {
    std::chrono::milliseconds idleLifetime{10000};
    std::chrono::milliseconds stallAfter{2};
    size_t queueLimit = 256;
  };

  TaskPool() : TaskPool(Options{}) {}
  explicit TaskPool(Options options);
  // Waits for the queued tasks to run and every thread to end.
  ~TaskPool();
  TaskPool(const TaskPool&) = delete;
  TaskPool& operator=(const TaskPool&) = delete;

  void submit(std::function<void()> task);
  // Queues the tasks together, with one wake-up; waits for room once, before the first.
  void submit(std::vector<std::function<void()>> tasks);

  // Threads running or waiting for work now (the supervisor not counted).
  int threadCount();

 private:
  void startWorkerLocked();
  void work();
  void supervise();

  const Options options_;
  const int eagerWorkers_;  // started without waiting for a stall: one per core
  std::mutex mutex_;
  std::condition_variable wake_;        // workers: a task or the end
  std::condition_variable room_;        // submit: space in the queue
  std::condition_variable watch_;       // supervisor: a queued task or the end
  std::condition_variable allGone_;     // destructor: the last worker ended
  std::deque<std::function<void()>> queue_;
  uint64_t taken_ = 0;  // tasks taken from the queue so far, the supervisor's progress mark
  int idle_ = 0;        // workers waiting for a task
  int threads_ = 0;
  bool stopping_ = false;
  std::thread supervisor_;
};

}  // namespace wren

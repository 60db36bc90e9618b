#include "app/TaskPool.h"

#include <algorithm>
#include <exception>
#include <string>

#include "base/Diagnostic.h"

namespace wren {

TaskPool::TaskPool(Options options)
    : options_(options),
      eagerWorkers_(std::max(2, static_cast<int>(std::thread::hardware_concurrency()))),
      supervisor_([this] { supervise(); }) {}

TaskPool::~TaskPool() {
  std::unique_lock lock(mutex_);
  stopping_ = true;
  wake_.notify_all();
  watch_.notify_all();
  room_.notify_all();
  allGone_.wait(lock, [this] { return threads_ == 0; });
  lock.unlock();
  supervisor_.join();
}

void TaskPool::submit(std::function<void()> task) {
  std::vector<std::function<void()>> tasks;
  tasks.push_back(std::move(task));
  submit(std::move(tasks));
}

void TaskPool::submit(std::vector<std::function<void()>> tasks) {
  if (tasks.empty()) return;
  std::unique_lock lock(mutex_);
  room_.wait(lock, [this] { return queue_.size() < options_.queueLimit || stopping_; });
  const bool wasEmpty = queue_.empty();
  for (auto& task : tasks) queue_.push_back(std::move(task));
  // Wake as many idle workers as there are tasks, and start workers up to one per core.
  size_t toWake = std::min(tasks.size(), static_cast<size_t>(idle_));
  for (size_t i = 0; i < toWake; ++i) wake_.notify_one();
  for (size_t i = toWake; i < tasks.size() && threads_ < eagerWorkers_; ++i) startWorkerLocked();
  if (wasEmpty) watch_.notify_one();
}

int TaskPool::threadCount() {
  std::lock_guard lock(mutex_);
  return threads_;
}

int TaskPool::peakThreadCount() {
  std::lock_guard lock(mutex_);
  return peak_;
}

void TaskPool::startWorkerLocked() {
  ++threads_;
  peak_ = std::max(peak_, threads_);
  std::thread([this] { work(); }).detach();
}

void TaskPool::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (!queue_.empty()) {
      std::function<void()> task = std::move(queue_.front());
      queue_.pop_front();
      room_.notify_one();
      lock.unlock();
      try {
        task();
      } catch (const std::exception& error) {
        writeDiagnostic(std::string("wren-mac-helper: a task failed: ") + error.what());
      } catch (...) {
        writeDiagnostic("wren-mac-helper: a task failed");
      }
      task = nullptr;  // the task's captures go before the lock is taken again
      lock.lock();
      ++finished_;
      continue;
    }
    if (stopping_) break;
    ++idle_;
    bool woken = wake_.wait_for(lock, options_.idleLifetime, [this] { return !queue_.empty() || stopping_; });
    --idle_;
    if (!woken) break;
  }
  if (--threads_ == 0) allGone_.notify_all();
}

// Starts workers whenever tasks wait while no task has finished for `stallAfter` and no worker
// is idle: every worker is then busy with a task that takes long, and the queue must not wait
// for them. Each further stalled tick starts twice as many as the one before (never more
// than there are waiting tasks), so a batch of slow requests gets going
// within a few ticks, while a machine that was merely too busy to finish anything for a
// moment gains one thread. Tasks taken by the new workers are not progress: only a finished
// task shows that the workers are not all stuck.
void TaskPool::supervise() {
  std::unique_lock lock(mutex_);
  size_t ramp = 1;
  while (!stopping_) {
    if (queue_.empty()) {
      ramp = 1;
      watch_.wait(lock, [this] { return !queue_.empty() || stopping_; });
      continue;
    }
    const uint64_t finishedBefore = finished_;
    watch_.wait_for(lock, options_.stallAfter, [this] { return stopping_; });
    if (stopping_ || queue_.empty() || finished_ != finishedBefore || idle_ > 0) {
      ramp = 1;
      continue;
    }
    for (size_t i = 0; i < std::min(queue_.size(), ramp); ++i) startWorkerLocked();
    ramp = std::min<size_t>(ramp * 2, 64);
  }
}

}  // namespace wren

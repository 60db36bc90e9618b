#include "app/TaskPool.h"

#include <algorithm>
#include <exception>
#include <system_error>

#include "base/Diagnostic.h"

namespace wren {

namespace {

constexpr int kDefaultMaxThreads = 64;

int coreCount() { return std::max(2, static_cast<int>(std::thread::hardware_concurrency())); }

void startStdThread(std::function<void()> body) { std::thread(std::move(body)).detach(); }

}  // namespace

TaskPool::TaskPool(Options options)
    : options_(std::move(options)),
      eagerWorkers_(coreCount()),
      maxThreads_(options_.maxThreads > 0 ? options_.maxThreads : std::max(kDefaultMaxThreads, coreCount())) {}

TaskPool::~TaskPool() {
  std::unique_lock lock(mutex_);
  stopping_ = true;
  wake_.notify_all();
  watch_.notify_all();
  room_.notify_all();
  allGone_.wait(lock, [this] { return threads_ == 0; });
  lock.unlock();
  if (supervisor_.joinable()) supervisor_.join();
}

void TaskPool::submit(std::function<void()> run, std::function<void()> refuse) {
  std::vector<Task> tasks;
  tasks.push_back({std::move(run), std::move(refuse)});
  submit(std::move(tasks));
}

void TaskPool::submit(std::vector<Task> tasks) {
  if (tasks.empty()) return;
  std::deque<Task> refused;
  {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return queue_.size() < options_.queueLimit || stopping_; });
    const bool wasEmpty = queue_.empty();
    for (auto& task : tasks) queue_.push_back(std::move(task));
    // Wake as many idle workers as there are tasks, and start workers up to one per core.
    size_t toWake = std::min(tasks.size(), static_cast<size_t>(idle_));
    for (size_t i = 0; i < toWake; ++i) wake_.notify_one();
    for (size_t i = toWake; i < tasks.size() && threads_ < std::min(eagerWorkers_, maxThreads_); ++i)
      if (!startWorkerLocked()) break;
    if (threads_ == 0) {
      // No worker exists and none can be started: nothing would ever run these.
      refused.swap(queue_);
    } else {
      startSupervisorLocked();
      if (wasEmpty) watch_.notify_one();
    }
  }
  for (Task& task : refused)
    if (task.refuse) runReportingFailure(task.refuse, "a refused task failed");
}

int TaskPool::threadCount() {
  std::lock_guard lock(mutex_);
  return threads_;
}

int TaskPool::peakThreadCount() {
  std::lock_guard lock(mutex_);
  return peak_;
}

// False when the system refused the thread (a process limit, or no memory for its stack).
bool TaskPool::startWorkerLocked() {
  if (threads_ >= maxThreads_) return false;
  try {
    auto body = [this] { work(); };
    if (options_.startThread) {
      options_.startThread(body);
    } else {
      startStdThread(body);
    }
  } catch (const std::exception&) {
    return false;
  }
  ++threads_;
  peak_ = std::max(peak_, threads_);
  return true;
}

// Without a supervisor the pool still runs its tasks, only without adding workers on stalls;
// the next submit tries again.
void TaskPool::startSupervisorLocked() {
  if (supervisor_.joinable()) return;
  try {
    supervisor_ = std::thread([this] { supervise(); });
  } catch (const std::exception&) {
  }
}

void TaskPool::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (!queue_.empty()) {
      std::function<void()> task = std::move(queue_.front().run);
      queue_.pop_front();
      // Submits wait for the queue to fall below its limit, so they are woken when it does,
      // all of them (the queue rises past the limit again before any is left waiting), and
      // not for every task taken above it, which would cost a switch of threads per task.
      if (queue_.size() + 1 == options_.queueLimit) room_.notify_all();
      lock.unlock();
      runReportingFailure(task, "a task failed");
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
// than there are waiting tasks, nor past the cap), so a batch of slow requests gets going
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
    for (size_t i = 0; i < std::min(queue_.size(), ramp); ++i)
      if (!startWorkerLocked()) break;
    ramp = std::min<size_t>(ramp * 2, static_cast<size_t>(maxThreads_));
  }
}

}  // namespace wren

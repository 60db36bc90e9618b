#include "app/TaskPool.h"

#include <thread>

namespace wren {

TaskPool::~TaskPool() {
  std::unique_lock lock(mutex_);
  stopping_ = true;
  wake_.notify_all();
  allGone_.wait(lock, [this] { return threads_ == 0; });
}

void TaskPool::submit(std::function<void()> task) {
  std::unique_lock lock(mutex_);
  if (idle_ > 0) {
    --idle_;
    queue_.push_back(std::move(task));
    wake_.notify_one();
    return;
  }
  ++threads_;
  lock.unlock();
  std::thread([this, first = std::move(task)]() mutable { work(std::move(first)); }).detach();
}

void TaskPool::work(std::function<void()> first) {
  std::function<void()> task = std::move(first);
  std::unique_lock lock(mutex_);
  for (;;) {
    lock.unlock();
    task();
    task = nullptr;
    lock.lock();
    ++idle_;
    // Every queued task was promised to one idle thread; any idle thread may take it.
    bool woken = wake_.wait_for(lock, idleLifetime_, [this] { return !queue_.empty() || stopping_; });
    if (woken && !queue_.empty()) {
      task = std::move(queue_.front());
      queue_.pop_front();
      continue;
    }
    --idle_;
    break;
  }
  if (--threads_ == 0) allGone_.notify_all();
}

}  // namespace wren

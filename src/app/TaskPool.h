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
//   TaskPool pool;
//   pool.submit([] { answer(request); }, [] { answerThatItCouldNotRun(request); });
//
// Tasks wait in one queue that the workers drain back to back, so a flood of quick requests
// costs no thread start and no wake-up each; one worker per core starts without waiting.
// A task whose work takes long does not hold up the ones behind it for long: a supervisor
// watches the workers, and when tasks wait while none has finished for `stallAfter`, it
// starts more workers, more on each stalled tick, until tasks finish again. `stallAfter` is
// several times what a quick request takes, also on a machine busy with other work, so
// that a queue of quick requests is served by the workers there are (one per core): more
// threads than cores would only share the same cores, each with its own stack and malloc
// arena. Threads beyond the cores help only when workers are stuck (a long OCR run, a read
// from a slow disk).
//
// Waits for the platform (dialogs, location fixes, authentication) do not belong here: their
// handlers park on a OneShot and give their thread back (see AsyncHandler in Router.h), so
// the workers are only ever busy with real work.
//
// At most `maxThreads` workers run at once (64, or one per core where there are more cores).
// Past that, tasks wait for a worker to finish: the process never runs out of threads,
// however many slow requests come. When the system refuses to start a thread, the pool goes
// on with the workers it has; a task that no worker can ever run (the pool has none and can
// start none) is refused: its `refuse` function is called instead, on the submitting thread.
//
// The queue holds at most `queueLimit` tasks: submit waits for room, which keeps the memory
// of a flood of requests bounded.
// Workers left idle for `idleLifetime` end, so a burst of slow requests leaves no threads
// behind.
class TaskPool {
 public:
  // Starts a thread running the function, or throws std::system_error when the system
  // refuses one.
  using ThreadStarter = std::function<void(std::function<void()>)>;

  struct Options {
    std::chrono::milliseconds idleLifetime{10000};
    std::chrono::milliseconds stallAfter{50};
    size_t queueLimit = 256;
    int maxThreads = 0;  // 0: the default above
    ThreadStarter startThread = nullptr;  // empty: std::thread; tests pass one that fails
  };

  // What a worker runs, and what is done instead when no worker can run it.
  struct Task {
    std::function<void()> run;
    std::function<void()> refuse;
  };

  TaskPool() : TaskPool(Options{}) {}
  explicit TaskPool(Options options);
  // Waits for the queued tasks to run and every thread to end.
  ~TaskPool();
  TaskPool(const TaskPool&) = delete;
  TaskPool& operator=(const TaskPool&) = delete;

  void submit(std::function<void()> run, std::function<void()> refuse = nullptr);
  // Queues the tasks together, with one wake-up; waits for room once, before the first.
  void submit(std::vector<Task> tasks);

  // Workers running or waiting for work now (the supervisor not counted).
  int threadCount();
  // The most workers there have been at once.
  int peakThreadCount();
  // Workers started without waiting for a stall.
  int eagerWorkers() const { return eagerWorkers_; }
  int maxThreads() const { return maxThreads_; }

 private:
  bool startWorkerLocked();
  void startSupervisorLocked();
  void work();
  void supervise();

  const Options options_;
  const int eagerWorkers_;
  const int maxThreads_;
  std::mutex mutex_;
  std::condition_variable wake_;        // workers: a task or the end
  std::condition_variable room_;        // submit: space in the queue
  std::condition_variable watch_;       // supervisor: a queued task or the end
  std::condition_variable allGone_;     // destructor: the last worker ended
  std::deque<Task> queue_;
  uint64_t finished_ = 0;  // tasks finished so far, the supervisor's progress mark
  int idle_ = 0;        // workers waiting for a task
  int threads_ = 0;
  int peak_ = 0;
  bool stopping_ = false;
  std::thread supervisor_;  // started with the first task
};

}  // namespace wren

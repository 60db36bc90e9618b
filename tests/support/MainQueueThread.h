#pragma once

// Runs the main queue on a thread of its own for the life of the guard, for tests whose own
// thread is busy elsewhere (running a request loop, say) while timers and answers of the
// platform need the main queue.
//
//   MainQueueThread mainThread;
//   loop.run(input);  // handlers park on OneShots whose deadlines fire on mainThread

#include <thread>

#include "platform/MainQueue.h"

namespace wren::testing {

class MainQueueThread {
 public:
  MainQueueThread() : thread_([] { platform::mainQueue::run(); }) {}
  ~MainQueueThread() {
    platform::mainQueue::quit();
    thread_.join();
  }
  MainQueueThread(const MainQueueThread&) = delete;
  MainQueueThread& operator=(const MainQueueThread&) = delete;

 private:
  std::thread thread_;
};

}  // namespace wren::testing

#pragma once

// One wait for one answer of the platform, with a deadline: a dialog's answer, a location
// fix, an address, a drawn icon, the owner's verification. A handler that answers later
// (AsyncHandler in app/Router.h) starts the wait and returns; its thread serves other
// requests meanwhile, and no thread is held while the wait lasts:
//
//   router.registerAsyncMethod("location.get", [&locator](const Params& params, Reply reply) {
//     auto fix = platform::OneShot<Fix>::start(std::chrono::seconds(10), [reply](std::optional<Fix> fix) {
//       if (!fix) return reply.fail(HelperError(ErrorCode::Timeout, "..."));
//       reply.succeed(fixRow(*fix));
//     });
//     locator.request([fix](Fix answer) { fix->resolve(std::move(answer)); });  // any thread
//   });
//
// The continuation runs exactly once: with the answer when it comes first, or with nothing
// when the deadline passes first, on the main queue. The loser's later call changes nothing
// (resolve returns false). The continuation runs on the thread of the winning call, the
// platform's callback thread or the main thread, so it only does a little: answer, or start
// the next wait. The deadline's timer keeps the slot alive, so a platform that drops its
// callback without calling it still ends the wait at the deadline.

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/MainQueue.h"

namespace wren::platform {

template <typename T>
class OneShot {
 public:
  using Continuation = std::function<void(std::optional<T>)>;

  // Starts the wait; the deadline is a timer on the main queue.
  static std::shared_ptr<OneShot> start(std::chrono::milliseconds deadline, Continuation then) {
    auto slot = std::shared_ptr<OneShot>(new OneShot(std::move(then)));
    mainQueue::after(deadline, [slot] { slot->settle(std::nullopt); });
    return slot;
  }

  // Hands in the answer; false when the wait had already ended.
  bool resolve(T answer) { return settle(std::optional<T>(std::move(answer))); }

  // True once the continuation has been started, by the answer or by the deadline.
  bool settled() const {
    std::lock_guard lock(mutex_);
    return !then_;
  }

 private:
  explicit OneShot(Continuation then) : then_(std::move(then)) {}

  bool settle(std::optional<T> outcome) {
    Continuation then;
    {
      std::lock_guard lock(mutex_);
      if (!then_) return false;
      then = std::move(then_);
      then_ = nullptr;
    }
    // Run outside the lock, and released when done: the continuation's captures (the reply
    // of the request, most often) do not live on with the slot until its timer fires.
    then(std::move(outcome));
    return true;
  }

  mutable std::mutex mutex_;
  Continuation then_;  // empty once the wait has ended
};

}  // namespace wren::platform

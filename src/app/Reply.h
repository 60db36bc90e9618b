#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <variant>

#include "app/HelperError.h"
#include "app/Json.h"

namespace wren {

// What a request came to: the handler's result, or the failure the host is meant to see.
using Outcome = std::variant<Json, HelperError>;

// The outcome of the exception being handled: a HelperError as it is, anything else as an
// execution failure with the error's own description. Call it inside a catch block.
HelperError currentFailure();

// The answer to one request, given exactly once. A handler that answers later (see
// AsyncHandler in Router.h) keeps a copy wherever the answer may come from, typically in the
// continuation of a OneShot wait:
//
//   void locate(const Params& params, Reply reply) {
//     auto fix = platform::OneShot<Fix>::start(timeout, [reply](std::optional<Fix> fix) {
//       if (!fix) return reply.fail(HelperError(ErrorCode::Timeout, "..."));
//       reply.succeed(fixRow(*fix));
//     });
//     locator.request([fix](Fix answer) { fix->resolve(std::move(answer)); });
//   }
//
// Copies share one answer: the first call of succeed or fail delivers it, from whatever thread
// makes it, and later calls are ignored (they return false). When the last copy goes without
// an answer, because a path forgot to answer or dropped its continuation, the request is
// answered with an execution failure, so that no request is ever left without a reply.
class Reply {
 public:
  explicit Reply(std::function<void(Outcome)> deliver);

  bool succeed(Json result) const;
  bool fail(HelperError error) const;
  // True once an answer was delivered.
  bool answered() const;

 private:
  struct State {
    explicit State(std::function<void(Outcome)> deliverTo) : deliver(std::move(deliverTo)) {}
    ~State();
    bool answer(Outcome outcome);

    std::function<void(Outcome)> deliver;
    std::atomic<bool> done{false};
  };
  std::shared_ptr<State> state_;
};

}  // namespace wren

#include "app/Reply.h"

#include "base/Diagnostic.h"

namespace wren {

HelperError currentFailure() {
  try {
    throw;
  } catch (const HelperError& error) {
    return error;
  } catch (const std::exception& error) {
    return HelperError(ErrorCode::ExecutionFailed, error.what());
  } catch (...) {
    return HelperError(ErrorCode::ExecutionFailed, "unknown error");
  }
}

Reply::Reply(std::function<void(Outcome)> deliver) : state_(std::make_shared<State>(std::move(deliver))) {}

bool Reply::succeed(Json result) const { return state_->answer(std::move(result)); }

bool Reply::fail(HelperError error) const { return state_->answer(std::move(error)); }

bool Reply::answered() const { return state_->done.load(); }

bool Reply::State::answer(Outcome outcome) {
  if (done.exchange(true)) return false;
  // The delivery is moved out, so that what it holds goes as soon as the answer is out.
  std::function<void(Outcome)> deliverOnce = std::move(deliver);
  deliverOnce(std::move(outcome));
  return true;
}

Reply::State::~State() {
  if (done.load()) return;
  try {
    answer(HelperError(ErrorCode::ExecutionFailed, "wren-mac-helper ended the request without an answer"));
  } catch (...) {
    writeDiagnostic("wren-mac-helper: a request could not be answered");
  }
}

}  // namespace wren

#include "app/Router.h"

#include <future>

#include "app/HelperError.h"

namespace wren {

void Router::registerMethod(const std::string& method, Handler handler) {
  handlers_[method] = Entry{std::move(handler), nullptr};
}

void Router::registerAsyncMethod(const std::string& method, AsyncHandler handler) {
  handlers_[method] = Entry{nullptr, std::move(handler)};
}

void Router::dispatch(const std::string& method, const Params& params, Reply reply) const {
  auto it = handlers_.find(method);
  // An unknown method is answered without throwing: it is the one failure a host can cause
  // at any rate it likes.
  if (it == handlers_.end()) {
    reply.fail(unknownMethodError(method));
    return;
  }
  try {
    if (it->second.plain) {
      reply.succeed(it->second.plain(params));
    } else {
      it->second.async(params, reply);
    }
  } catch (...) {
    reply.fail(currentFailure());  // ignored when the handler had answered before it threw
  }
}

Json Router::handle(const std::string& method, const Params& params) const {
  std::promise<Outcome> answer;
  std::future<Outcome> answered = answer.get_future();
  dispatch(method, params, Reply([&answer](Outcome outcome) { answer.set_value(std::move(outcome)); }));
  Outcome outcome = answered.get();
  if (HelperError* error = std::get_if<HelperError>(&outcome)) throw std::move(*error);
  return std::move(std::get<Json>(outcome));
}

HelperError unknownMethodError(const std::string& method) {
  return HelperError(ErrorCode::UnknownAction, "wren-mac-helper has no method " + method);
}

}  // namespace wren

#pragma once

#include <functional>
#include <string>
#include <unordered_map>

#include "app/HelperError.h"
#include "app/Json.h"
#include "app/Params.h"
#include "app/Reply.h"

namespace wren {

// A handler takes the request's params and returns the result value, or throws.
// Handlers never see the request id, the envelope or standard output.
using Handler = std::function<Json(const Params&)>;

// A handler that answers later, for methods that wait for the platform (a dialog, a location
// fix, an address lookup): it reads its params during the call, starts its wait and returns
// at once, and its wait answers `reply`. The thread that called it goes back to other requests
// meanwhile. What it throws before it returns answers the request like a plain handler's
// failure. The params are only valid during the call.
using AsyncHandler = std::function<void(const Params&, Reply)>;

// The method table. Filled once at start-up by the subsystems' register functions, then
// only read, from any number of request threads at once, without a lock.
class Router {
 public:
  // Stores the handler under the method name; a second registration of a name replaces
  // the first, whatever its form.
  void registerMethod(const std::string& method, Handler handler);
  void registerAsyncMethod(const std::string& method, AsyncHandler handler);
  // Runs the handler of the method (names compare exactly) and answers the reply exactly
  // once: with the result, with what the handler threw, or with unknown_action.
  void dispatch(const std::string& method, const Params& params, Reply reply) const;
  // Runs the handler of the method and waits for its answer: the result, or the failure
  // thrown. For tests and other callers that want the answer in hand.
  Json handle(const std::string& method, const Params& params) const;

 private:
  struct Entry {
    Handler plain;       // set for a plain handler
    AsyncHandler async;  // set for one that answers later
  };
  std::unordered_map<std::string, Entry> handlers_;
};

// The failure for a method name that is not in the table.
HelperError unknownMethodError(const std::string& method);

}  // namespace wren

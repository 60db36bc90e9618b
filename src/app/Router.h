#pragma once

#include <functional>
#include <string>
#include <unordered_map>

#include "app/HelperError.h"
#include "app/Json.h"
#include "app/Params.h"

namespace wren {

// A handler takes the request's params and returns the result value, or throws.
// Handlers never see the request id, the envelope or standard output.
using Handler = std::function<Json(const Params&)>;

// The method table. Filled once at start-up by the subsystems' register functions, then
// only read, from any number of request threads at once, without a lock.
class Router {
 public:
  // Stores the handler under the method name; a second registration of a name replaces
  // the first.
  void registerMethod(const std::string& method, Handler handler);
  // Runs the handler of the method (names compare exactly) or fails with unknown_action.
  Json handle(const std::string& method, const Params& params) const;
  // The handler of the method, or nullptr.
  const Handler* find(const std::string& method) const;

 private:
  std::unordered_map<std::string, Handler> handlers_;
};

// The failure for a method name that is not in the table.
HelperError unknownMethodError(const std::string& method);

}  // namespace wren

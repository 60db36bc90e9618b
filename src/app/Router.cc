#include "app/Router.h"

#include "app/HelperError.h"

namespace wren {

void Router::registerMethod(const std::string& method, Handler handler) {
  handlers_[method] = std::move(handler);
}

Json Router::handle(const std::string& method, const Params& params) const {
  auto it = handlers_.find(method);
  if (it == handlers_.end())
    throw HelperError(ErrorCode::UnknownAction, "wren-mac-helper has no method " + method);
  return it->second(params);
}

}  // namespace wren

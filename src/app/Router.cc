#include "app/Router.h"

#include "app/HelperError.h"

namespace wren {

void Router::registerMethod(const std::string& method, Handler handler) {
  handlers_[method] = std::move(handler);
}

const Handler* Router::find(const std::string& method) const {
  auto it = handlers_.find(method);
  return it == handlers_.end() ? nullptr : &it->second;
}

Json Router::handle(const std::string& method, const Params& params) const {
  const Handler* handler = find(method);
  if (!handler) throw unknownMethodError(method);
  return (*handler)(params);
}

HelperError unknownMethodError(const std::string& method) {
  return HelperError(ErrorCode::UnknownAction, "wren-mac-helper has no method " + method);
}

}  // namespace wren

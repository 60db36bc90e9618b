#include "app/Json.h"

namespace wren {

std::string serializeReply(const Json& reply) {
  std::string text = reply.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  // A slash can only occur inside a JSON string, so every slash of the text is escaped.
  std::string escaped;
  escaped.reserve(text.size() + 16);
  for (char c : text) {
    if (c == '/') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

}  // namespace wren

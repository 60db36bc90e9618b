#include "app/Json.h"

#include <stdexcept>

#include "base/JsonParse.h"

namespace wren {

std::string serializeReply(const Json& reply) {
  // The writer recurses once per level; handlers build shallow results, and values taken
  // from requests are bounded, but a reply is never allowed to find out the hard way.
  if (nestedDeeperThan(reply, kJsonDepthLimit)) throw std::length_error("reply nested too deeply");
  std::string text = reply.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  // A slash can only occur inside a JSON string, so every slash of the text is escaped.
  size_t slash = text.find('/');
  if (slash == std::string::npos) return text;
  std::string escaped;
  escaped.reserve(text.size() + 16);
  size_t done = 0;
  for (; slash != std::string::npos; slash = text.find('/', slash + 1)) {
    escaped.append(text, done, slash - done);
    escaped += "\\/";
    done = slash + 1;
  }
  escaped.append(text, done);
  return escaped;
}

}  // namespace wren

#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace wren {

// The one JSON value type of the helper: parsed requests, handler results and replies.
// Objects keep the order in which their keys were inserted, so rows read in the order
// they are built.
using Json = nlohmann::ordered_json;

// Serialises a reply as one compact line of UTF-8 (without the line feed): non-ASCII
// characters raw, control characters escaped, every "/" written as "\/", non-finite
// numbers as null, invalid UTF-8 inside strings replaced by U+FFFD.
std::string serializeReply(const Json& reply);

}  // namespace wren

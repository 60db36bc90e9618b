#pragma once

#include <string>

#include "base/Json.h"

namespace wren {

// Serialises a reply as one compact line of UTF-8 (without the line feed): non-ASCII
// characters raw, control characters escaped, every "/" written as "\/", non-finite
// numbers as null, invalid UTF-8 inside strings replaced by U+FFFD. Throws std::length_error
// for a reply nested deeper than kJsonDepthLimit.
std::string serializeReply(const Json& reply);

}  // namespace wren

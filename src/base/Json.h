#pragma once

#include <nlohmann/json.hpp>

namespace wren {

// The one JSON value type of the helper: parsed requests, handler results, replies and the
// small metadata files of the stores. Objects keep the order in which their keys were
// inserted, so rows read in the order they are built. Both the request layer and the
// platform code include this header; nothing else of either comes with it.
using Json = nlohmann::ordered_json;

}  // namespace wren

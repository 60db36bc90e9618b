#pragma once

#include <cstdint>
#include <vector>

#include "app/Json.h"
#include "app/Params.h"
#include "platform/ProcessFootprints.h"

namespace wren {

// At most this many pids are looked at per request.
inline constexpr std::size_t kMaxFootprintPids = 4096;

// The pids of a request's raw `pids` value, in order: whole numbers as they are, other
// finite numbers truncated toward zero, anything else skipped; only the first
// kMaxFootprintPids numbers count. Numbers outside the range of a process id (above 0 and
// within 32 bits) are dropped after the cap, as they name no process.
std::vector<int32_t> footprintPids(const Json* raw);

// The result of process.footprint: `footprints`, the footprint in bytes by pid (as decimal
// text) of every listed process that could be inspected, once per pid.
Json processFootprint(const Params& params, const platform::ProcessFootprints& footprints);

}  // namespace wren

#include "system/Footprint.h"

#include <cmath>
#include <optional>
#include <string>
#include <unordered_set>

namespace wren {

namespace {

// A JSON number as a whole number: exact integers as they are, finite fractions truncated;
// nothing for values that no 64-bit integer holds.
std::optional<int64_t> wholeNumber(const Json& value) {
  if (value.is_number_unsigned()) {
    uint64_t u = value.get<uint64_t>();
    return u > static_cast<uint64_t>(INT64_MAX) ? std::nullopt : std::optional<int64_t>(static_cast<int64_t>(u));
  }
  if (value.is_number_integer()) return value.get<int64_t>();
  double d = std::trunc(value.get<double>());
  if (!std::isfinite(d) || std::fabs(d) >= 9.2e18) return std::nullopt;
  return static_cast<int64_t>(d);
}

}  // namespace

std::vector<int32_t> footprintPids(const Json* raw) {
  std::vector<int32_t> pids;
  if (!raw || !raw->is_array()) return pids;
  std::size_t counted = 0;
  for (const Json& element : *raw) {
    if (counted == kMaxFootprintPids) break;
    if (!element.is_number()) continue;
    ++counted;
    std::optional<int64_t> pid = wholeNumber(element);
    if (pid && *pid > 0 && *pid <= INT32_MAX) pids.push_back(static_cast<int32_t>(*pid));
  }
  return pids;
}

Json processFootprint(const Params& params, const platform::ProcessFootprints& footprints) {
  Json map = Json::object();
  std::unordered_set<int32_t> seen;
  for (int32_t pid : footprintPids(params.find("pids"))) {
    if (!seen.insert(pid).second) continue;
    if (std::optional<uint64_t> bytes = footprints.bytes(pid)) map[std::to_string(pid)] = *bytes;
  }
  return Json{{"footprints", std::move(map)}};
}

}  // namespace wren

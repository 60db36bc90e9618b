#pragma once

#include <string>

#include "app/Json.h"
#include "platform/PowerSources.h"

namespace wren {

// The battery entry of one power-source description: name, percent (null unless both
// capacities are integers and the maximum is above 0), charging, charged, power_source,
// and minutes_to_empty, minutes_to_full and health only when the description has them.
Json batteryEntry(const Json& description);

// The result of battery.status: has_battery, batteries (the machine's own batteries in the
// order of the snapshot), providing_power_source, low_power_mode and thermal_state.
Json batteryStatus(const platform::PowerSnapshot& snapshot);

// "nominal", "fair", "serious", "critical", or "unknown" for any other level.
std::string thermalStateName(int level);

}  // namespace wren

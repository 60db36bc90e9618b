#include "system/Battery.h"

#include <cmath>
#include <optional>

namespace wren {

namespace {

const Json* field(const Json& description, const char* key) {
  auto it = description.find(key);
  return it == description.end() ? nullptr : &*it;
}

std::optional<int64_t> integerField(const Json& description, const char* key) {
  const Json* value = field(description, key);
  if (!value || !value->is_number_integer()) return std::nullopt;
  if (value->is_number_unsigned() && value->get<uint64_t>() > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
  return value->get<int64_t>();
}

bool flag(const Json& description, const char* key) {
  const Json* value = field(description, key);
  return value && value->is_boolean() && value->get<bool>();
}

// current ÷ maximum × 100, rounded half away from zero; null without both figures.
Json percent(const Json& description) {
  std::optional<int64_t> current = integerField(description, "Current Capacity");
  std::optional<int64_t> maximum = integerField(description, "Max Capacity");
  if (!current || !maximum || *maximum <= 0) return nullptr;
  double value = std::round(static_cast<double>(*current) / static_cast<double>(*maximum) * 100.0);
  // Nonsense figures of a broken driver must not overflow the conversion.
  if (!(std::fabs(value) < 9e15)) return nullptr;
  return static_cast<int64_t>(value);
}

}  // namespace

Json batteryEntry(const Json& description) {
  Json entry = Json::object();
  const Json* name = field(description, "Name");
  entry["name"] = name && name->is_string() ? name->get<std::string>() : "battery";
  entry["percent"] = percent(description);
  entry["charging"] = flag(description, "Is Charging");
  entry["charged"] = flag(description, "Is Charged");
  const Json* state = field(description, "Power Source State");
  entry["power_source"] = state && state->is_string() ? state->get<std::string>() : "";
  if (auto minutes = integerField(description, "Time to Empty"); minutes && *minutes > 0)
    entry["minutes_to_empty"] = *minutes;
  if (auto minutes = integerField(description, "Time to Full Charge"); minutes && *minutes > 0)
    entry["minutes_to_full"] = *minutes;
  if (const Json* health = field(description, "BatteryHealth"); health && health->is_string())
    entry["health"] = health->get<std::string>();
  return entry;
}

Json batteryStatus(const platform::PowerSnapshot& snapshot) {
  Json batteries = Json::array();
  for (const Json& description : snapshot.sources) {
    if (!description.is_object()) continue;
    const Json* type = field(description, "Type");
    if (!type || !type->is_string() || type->get<std::string>() != "InternalBattery") continue;
    batteries.push_back(batteryEntry(description));
  }
  Json result = Json::object();
  result["has_battery"] = !batteries.empty();
  result["batteries"] = std::move(batteries);
  result["providing_power_source"] = snapshot.providingType;
  result["low_power_mode"] = snapshot.lowPowerMode;
  result["thermal_state"] = thermalStateName(static_cast<int>(snapshot.thermalState));
  return result;
}

std::string thermalStateName(int level) {
  switch (level) {
    case 0:
      return "nominal";
    case 1:
      return "fair";
    case 2:
      return "serious";
    case 3:
      return "critical";
    default:
      return "unknown";
  }
}

}  // namespace wren

#include "platform/PowerSources.h"

#include <gio/gio.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/files/Deleters.h"
#include "platform/files/KernelFiles.h"

namespace wren::platform {

namespace fs = std::filesystem;

namespace {

// A power-saving setting that does not come within this time is read from the firmware.
constexpr int kProfileCallTimeoutMs = 300;
// An estimate beyond about two years comes from nonsense figures, not from a battery.
constexpr double kMaxEstimateMinutes = 1e6;

// Old and new names of power-profiles-daemon: the new one first, as current releases
// answer under both.
struct ProfileService {
  const char* name;
  const char* path;
};
constexpr ProfileService kProfileServices[] = {
    {"org.freedesktop.UPower.PowerProfiles", "/org/freedesktop/UPower/PowerProfiles"},
    {"net.hadess.PowerProfiles", "/net/hadess/PowerProfiles"},
};

using ConnectionPtr = std::unique_ptr<GDBusConnection, GObjectUnref>;
using VariantPtr = std::unique_ptr<GVariant, GVariantUnref>;

// The daemon's active profile ("power-saver", "balanced", "performance"); nothing when no
// system bus or no daemon answers. The daemon is not started for the question: a machine
// that does not run it has no profile of its own.
std::optional<std::string> daemonProfile() {
  ConnectionPtr bus(g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr));
  if (!bus) return std::nullopt;
  // The shared connection would otherwise end the whole helper when the bus goes away.
  g_dbus_connection_set_exit_on_close(bus.get(), FALSE);
  for (const ProfileService& service : kProfileServices) {
    VariantPtr reply(
        g_dbus_connection_call_sync(bus.get(), service.name, service.path, "org.freedesktop.DBus.Properties", "Get",
                                    g_variant_new("(ss)", service.name, "ActiveProfile"), G_VARIANT_TYPE("(v)"),
                                    G_DBUS_CALL_FLAGS_NO_AUTO_START, kProfileCallTimeoutMs, nullptr, nullptr));
    if (!reply) continue;
    VariantPtr boxed(g_variant_get_child_value(reply.get(), 0));
    VariantPtr value(g_variant_get_variant(boxed.get()));
    if (g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING)) return g_variant_get_string(value.get(), nullptr);
  }
  return std::nullopt;
}

// One folder of class/power_supply.
struct Supply {
  fs::path folder;
  std::string type;
  std::optional<std::string> status;

  std::optional<int64_t> integer(const char* name) const { return readKernelInteger(folder / name); }
  // A device's own battery (a mouse, a headset) has scope Device; the machine's have
  // System or, with older drivers, none.
  bool ofTheMachine() const { return readKernelValue(folder / "scope").value_or("") != "Device"; }
  bool isBattery() const { return type == "Battery" || type == "UPS"; }
  // Mains adapters, USB and USB-C ports (USB, USB_C, USB_PD...) and chargers without wires.
  bool isExternalPower() const { return type == "Mains" || type == "Wireless" || type.starts_with("USB"); }
  bool discharging() const { return status == "Discharging"; }
};

// Minutes from a quantity and its rate of change (µWh and µW, or µAh and µA).
std::optional<int64_t> minutesAt(std::optional<int64_t> amount, std::optional<int64_t> rate) {
  if (!amount || !rate || *amount <= 0 || *rate == 0) return std::nullopt;
  // Some drivers give the rate with a sign that says the direction; the direction is known.
  double minutes = static_cast<double>(*amount) / std::fabs(static_cast<double>(*rate)) * 60.0;
  if (!(minutes > 0) || minutes > kMaxEstimateMinutes) return std::nullopt;
  return std::llround(minutes);
}

std::optional<int64_t> minutesFromSeconds(std::optional<int64_t> seconds) {
  if (!seconds || *seconds <= 0 || *seconds / 60 > static_cast<int64_t>(kMaxEstimateMinutes)) return std::nullopt;
  return (*seconds + 30) / 60;
}

std::optional<int64_t> difference(std::optional<int64_t> full, std::optional<int64_t> now) {
  if (!full || !now) return std::nullopt;
  return *full - *now;
}

std::optional<int64_t> timeToEmpty(const Supply& battery) {
  if (auto minutes = minutesFromSeconds(battery.integer("time_to_empty_now"))) return minutes;
  if (auto minutes = minutesAt(battery.integer("energy_now"), battery.integer("power_now"))) return minutes;
  return minutesAt(battery.integer("charge_now"), battery.integer("current_now"));
}

std::optional<int64_t> timeToFull(const Supply& battery) {
  if (auto minutes = minutesFromSeconds(battery.integer("time_to_full_now"))) return minutes;
  if (auto minutes = minutesAt(difference(battery.integer("energy_full"), battery.integer("energy_now")),
                               battery.integer("power_now")))
    return minutes;
  return minutesAt(difference(battery.integer("charge_full"), battery.integer("charge_now")),
                   battery.integer("current_now"));
}

// The kernel's own verdict when the driver gives one; otherwise the wear: how much of its
// design capacity the battery still holds.
std::optional<std::string> health(const Supply& battery) {
  std::optional<std::string> verdict = readKernelValue(battery.folder / "health");
  if (verdict == "Good") return "Good";
  if (verdict && verdict != "Unknown") return "Check Battery";
  for (auto [fullName, designName] :
       {std::pair{"energy_full", "energy_full_design"}, std::pair{"charge_full", "charge_full_design"}}) {
    std::optional<int64_t> full = battery.integer(fullName);
    std::optional<int64_t> design = battery.integer(designName);
    if (!full || !design || *full <= 0 || *design <= 0) continue;
    double held = static_cast<double>(*full) / static_cast<double>(*design);
    return held >= 0.8 ? "Good" : held >= 0.5 ? "Fair" : "Poor";
  }
  return std::nullopt;
}

Json description(const Supply& battery, bool onExternalPower) {
  Json d = Json::object();
  d["Type"] = battery.type == "UPS" ? "UPS" : "InternalBattery";
  d["Name"] = battery.folder.filename().string();
  // The kernel's percentage is what the firmware shows; the raw figures stand in for it
  // with drivers that do not compute one.
  if (std::optional<int64_t> percent = battery.integer("capacity")) {
    d["Current Capacity"] = *percent;
    d["Max Capacity"] = 100;
  } else {
    for (auto [nowName, fullName] : {std::pair{"energy_now", "energy_full"}, std::pair{"charge_now", "charge_full"}}) {
      std::optional<int64_t> now = battery.integer(nowName);
      std::optional<int64_t> full = battery.integer(fullName);
      if (!now && !full) continue;
      if (now) d["Current Capacity"] = *now;
      if (full) d["Max Capacity"] = *full;
      break;
    }
  }
  if (battery.status) {
    d["Is Charging"] = battery.status == "Charging";
    d["Is Charged"] = battery.status == "Full";
  }
  d["Power Source State"] = onExternalPower ? "AC Power" : "Battery Power";
  if (battery.discharging()) {
    if (auto minutes = timeToEmpty(battery)) d["Time to Empty"] = *minutes;
  } else if (battery.status == "Charging") {
    if (auto minutes = timeToFull(battery)) d["Time to Full Charge"] = *minutes;
  }
  if (auto verdict = health(battery)) d["BatteryHealth"] = *verdict;
  return d;
}

ThermalState tripLevel(std::string_view type) {
  if (type == "critical" || type == "hot") return ThermalState::Critical;
  if (type == "passive") return ThermalState::Serious;
  if (type == "active") return ThermalState::Fair;
  return ThermalState::Nominal;
}

// The highest level among the trip points that a zone's temperature has reached. Trip
// points at or below zero are switched off.
ThermalState zoneState(const fs::path& zone) {
  if (readKernelValue(zone / "mode") == "disabled") return ThermalState::Nominal;
  std::optional<int64_t> temperature = readKernelInteger(zone / "temp");
  if (!temperature) return ThermalState::Nominal;
  ThermalState state = ThermalState::Nominal;
  for (const fs::path& entry : kernelFolderEntries(zone)) {
    std::string name = entry.filename().string();
    constexpr std::string_view kPrefix = "trip_point_", kSuffix = "_type";
    if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix)) continue;
    std::string stem = name.substr(0, name.size() - kSuffix.size());
    std::optional<int64_t> trip = readKernelInteger(zone / (stem + "_temp"));
    std::optional<std::string> type = readKernelValue(entry);
    if (!trip || !type || *trip <= 0 || *temperature < *trip) continue;
    state = std::max(state, tripLevel(*type));
  }
  return state;
}

}  // namespace

PowerSnapshot PowerSources::read() const {
  PowerSnapshot snapshot;
  std::vector<Supply> batteries;
  bool knowsExternalPower = false, onExternalPower = false;
  for (const fs::path& folder : kernelFolderEntries(sysfsRoot_ / "class/power_supply")) {
    Supply supply{folder, readKernelValue(folder / "type").value_or(""), readKernelValue(folder / "status")};
    if (!supply.ofTheMachine()) continue;
    if (supply.isExternalPower()) {
      knowsExternalPower = true;
      onExternalPower = onExternalPower || supply.integer("online") == 1;
    } else if (supply.isBattery() && supply.integer("present").value_or(1) != 0) {
      batteries.push_back(std::move(supply));
    }
  }
  auto anyDischarging = [&](const char* type) {
    return std::any_of(batteries.begin(), batteries.end(),
                       [&](const Supply& b) { return b.type == type && b.discharging(); });
  };
  // Without an adapter that says it is online, a discharging battery tells; a machine with
  // adapters that are all offline runs on its battery; one with neither runs on mains.
  if (onExternalPower) {
    snapshot.providingType = "AC Power";
  } else if (anyDischarging("Battery") || (knowsExternalPower && !batteries.empty())) {
    snapshot.providingType = "Battery Power";
  } else if (anyDischarging("UPS")) {
    snapshot.providingType = "UPS Power";
  } else {
    snapshot.providingType = "AC Power";
  }
  for (const Supply& battery : batteries)
    snapshot.sources.push_back(description(battery, snapshot.providingType == "AC Power"));

  std::optional<std::string> profile;
  if (profileSource_ == PowerProfileSource::DaemonThenFirmware) profile = daemonProfile();
  if (profile) {
    snapshot.lowPowerMode = profile == "power-saver";
  } else {
    snapshot.lowPowerMode = readKernelValue(sysfsRoot_ / "firmware/acpi/platform_profile") == "low-power";
  }

  for (const fs::path& zone : kernelFolderEntries(sysfsRoot_ / "class/thermal"))
    if (zone.filename().string().starts_with("thermal_zone"))
      snapshot.thermalState = std::max(snapshot.thermalState, zoneState(zone));
  return snapshot;
}

}  // namespace wren::platform

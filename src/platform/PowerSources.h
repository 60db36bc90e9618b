#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "base/Json.h"

namespace wren::platform {

// How hot the machine runs, from the thermal zones' trip points: a zone above an active
// (fan) trip point is fair, above a passive (throttling) one serious, above a hot or
// critical one critical.
enum class ThermalState { Nominal = 0, Fair = 1, Serious = 2, Critical = 3 };

// What the machine says about its power at one moment.
struct PowerSnapshot {
  // One description per power source, in the vocabulary of the platform's power-source
  // dictionaries: "Type" ("InternalBattery" for a battery of the machine itself, "UPS"),
  // "Name", "Current Capacity" and "Max Capacity" (integers), "Is Charging", "Is Charged"
  // (booleans), "Power Source State" ("AC Power" or "Battery Power"), "Time to Empty" and
  // "Time to Full Charge" (minutes), "BatteryHealth" ("Good", "Fair", "Poor" or "Check
  // Battery"). A key is left out when the machine does not tell.
  std::vector<Json> sources;
  // "AC Power", "Battery Power" or "UPS Power": what powers the machine now.
  std::string providingType;
  bool lowPowerMode = false;
  ThermalState thermalState = ThermalState::Nominal;
};

// Where the power-saving setting is read from.
enum class PowerProfileSource {
  // power-profiles-daemon on the system bus when it answers, else the firmware's platform
  // profile under the sysfs root.
  DaemonThenFirmware,
  // The firmware's platform profile only (tests, whose fake trees the daemon knows nothing of).
  FirmwareOnly,
};

// The machine's power supplies, power-saving profile and thermal zones, read from sysfs
// afresh on every call:
//
//   PowerSources power("/sys");
//   PowerSnapshot now = power.read();   // now.sources[0]["Current Capacity"] == 87
//
// Batteries are the supplies of type Battery whose scope is not Device (a mouse's or a
// headset's battery is the device's, not the machine's) and that are present; mains power
// is any Mains, USB or Wireless supply that is online.
class PowerSources {
 public:
  explicit PowerSources(std::filesystem::path sysfsRoot = "/sys",
                        PowerProfileSource profileSource = PowerProfileSource::DaemonThenFirmware)
      : sysfsRoot_(std::move(sysfsRoot)), profileSource_(profileSource) {}

  PowerSnapshot read() const;

 private:
  std::filesystem::path sysfsRoot_;
  PowerProfileSource profileSource_;
};

}  // namespace wren::platform

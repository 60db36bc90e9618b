#include "platform/PowerSources.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>

#include "support/TemporaryFolder.h"

namespace wren::platform {
namespace {

namespace fs = std::filesystem;

using Files = std::map<std::string, std::string>;

// A sysfs tree of its own in a temporary folder, laid out as the kernel lays out its
// power supplies, thermal zones and firmware profile.
class FakeSysfs {
 public:
  void write(const fs::path& relative, const std::string& text) const { root_.write(relative, text); }
  void folder(const fs::path& relative, const Files& files) const {
    fs::create_directories(root_.path() / relative);
    for (const auto& [name, value] : files) write(relative / name, value + "\n");
  }
  void supply(const std::string& name, const Files& files) const { folder("class/power_supply/" + name, files); }
  void zone(const std::string& name, const Files& files) const { folder("class/thermal/" + name, files); }

  PowerSnapshot read() const { return PowerSources(root_.path(), PowerProfileSource::FirmwareOnly).read(); }

 private:
  wren::testing::TemporaryFolder root_{"wren-sysfs"};
};

struct Supply {
  std::string name;
  Files files;
};

struct Scenario {
  const char* what;
  std::vector<Supply> supplies;
  std::vector<Json> sources;
  std::string providing;
};

const Files kAdapterOnline = {{"type", "Mains"}, {"online", "1"}};
const Files kAdapterOffline = {{"type", "Mains"}, {"online", "0"}};

TEST(PowerSources, DescribesBatteriesAsThePowerSourceDictionariesDo) {
  const Scenario scenarios[] = {
      {"a laptop charging",
       {{"AC", kAdapterOnline},
        {"BAT0",
         {{"type", "Battery"},
          {"present", "1"},
          {"status", "Charging"},
          {"capacity", "60"},
          {"energy_now", "30000000"},
          {"energy_full", "50000000"},
          {"energy_full_design", "52000000"},
          {"power_now", "10000000"},
          {"health", "Good"}}}},
       {{{"Type", "InternalBattery"},
         {"Name", "BAT0"},
         {"Current Capacity", 60},
         {"Max Capacity", 100},
         {"Is Charging", true},
         {"Is Charged", false},
         {"Power Source State", "AC Power"},
         {"Time to Full Charge", 120},
         {"BatteryHealth", "Good"}}},
       "AC Power"},
      {"a laptop discharging, its driver signing the rate",
       {{"ADP1", kAdapterOffline},
        {"BAT0",
         {{"type", "Battery"},
          {"scope", "System"},
          {"status", "Discharging"},
          {"capacity", "45"},
          {"energy_now", "22500000"},
          {"energy_full", "50000000"},
          {"power_now", "-7500000"}}}},
       {{{"Type", "InternalBattery"},
         {"Name", "BAT0"},
         {"Current Capacity", 45},
         {"Max Capacity", 100},
         {"Is Charging", false},
         {"Is Charged", false},
         {"Power Source State", "Battery Power"},
         {"Time to Empty", 180}}},
       "Battery Power"},
      {"a full battery on mains, with the kernel's own estimate ignored when full",
       {{"AC", kAdapterOnline},
        {"BAT0", {{"type", "Battery"}, {"status", "Full"}, {"capacity", "100"}, {"time_to_empty_now", "600"}}}},
       {{{"Type", "InternalBattery"},
         {"Name", "BAT0"},
         {"Current Capacity", 100},
         {"Max Capacity", 100},
         {"Is Charging", false},
         {"Is Charged", true},
         {"Power Source State", "AC Power"}}},
       "AC Power"},
      {"two batteries, one resting; charge-based figures and the kernel's estimate",
       {{"AC", kAdapterOffline},
        {"BAT0",
         {{"type", "Battery"},
          {"status", "Discharging"},
          {"charge_now", "2000000"},
          {"charge_full", "4000000"},
          {"current_now", "1000000"},
          {"time_to_empty_now", "5400"}}},
        {"BAT1", {{"type", "Battery"}, {"status", "Not charging"}, {"capacity", "80"}}}},
       {{{"Type", "InternalBattery"},
         {"Name", "BAT0"},
         {"Current Capacity", 2000000},
         {"Max Capacity", 4000000},
         {"Is Charging", false},
         {"Is Charged", false},
         {"Power Source State", "Battery Power"},
         {"Time to Empty", 90}},
        {{"Type", "InternalBattery"},
         {"Name", "BAT1"},
         {"Current Capacity", 80},
         {"Max Capacity", 100},
         {"Is Charging", false},
         {"Is Charged", false},
         {"Power Source State", "Battery Power"}}},
       "Battery Power"},
      {"a mouse's battery is the mouse's",
       {{"hidpp_battery_0", {{"type", "Battery"}, {"scope", "Device"}, {"status", "Discharging"}, {"capacity", "40"}}},
        {"ucsi-source-psy-USBC000:001", {{"type", "USB"}, {"online", "1"}}},
        {"BAT0", {{"type", "Battery"}, {"status", "Charging"}, {"capacity", "70"}}}},
       {{{"Type", "InternalBattery"},
         {"Name", "BAT0"},
         {"Current Capacity", 70},
         {"Max Capacity", 100},
         {"Is Charging", true},
         {"Is Charged", false},
         {"Power Source State", "AC Power"}}},
       "AC Power"},
      {"a desktop without supplies", {}, {}, "AC Power"},
      {"a desktop whose only battery is a headset's",
       {{"headset", {{"type", "Battery"}, {"scope", "Device"}, {"status", "Discharging"}}}},
       {},
       "AC Power"},
      {"broken and missing files",
       {{"BAT0",
         {{"type", "Battery"}, {"capacity", "abc"}, {"energy_now", "x"}, {"power_now", "1"}, {"health", "Overheat"}}},
        {"BAT1", {{"type", "Battery"}, {"present", "0"}, {"capacity", "50"}}},
        {"mystery", {{"online", "1"}}}},
       {{{"Type", "InternalBattery"},
         {"Name", "BAT0"},
         {"Power Source State", "AC Power"},
         {"BatteryHealth", "Check Battery"}}},
       "AC Power"},
      {"a worn battery and nonsense rates",
       {{"BAT0",
         {{"type", "Battery"},
          {"status", "Discharging"},
          {"energy_now", "9000000000000000000"},
          {"power_now", "1"},
          {"energy_full", "30000000"},
          {"energy_full_design", "50000000"},
          {"health", "Unknown"}}},
        {"BAT1",
         {{"type", "Battery"},
          {"status", "Charging"},
          {"energy_now", "100"},
          {"energy_full", "100"},
          {"power_now", "0"},
          {"charge_full", "20"},
          {"charge_full_design", "50"}}}},
       {{{"Type", "InternalBattery"},
         {"Name", "BAT0"},
         {"Current Capacity", 9000000000000000000},
         {"Max Capacity", 30000000},
         {"Is Charging", false},
         {"Is Charged", false},
         {"Power Source State", "Battery Power"},
         {"BatteryHealth", "Fair"}},
        {{"Type", "InternalBattery"},
         {"Name", "BAT1"},
         {"Current Capacity", 100},
         {"Max Capacity", 100},
         {"Is Charging", true},
         {"Is Charged", false},
         {"Power Source State", "Battery Power"},
         {"BatteryHealth", "Poor"}}},
       "Battery Power"},
      {"a UPS running on its battery",
       {{"ups", {{"type", "UPS"}, {"status", "Discharging"}, {"capacity", "90"}}}},
       {{{"Type", "UPS"},
         {"Name", "ups"},
         {"Current Capacity", 90},
         {"Max Capacity", 100},
         {"Is Charging", false},
         {"Is Charged", false},
         {"Power Source State", "Battery Power"}}},
       "UPS Power"},
  };
  for (const Scenario& scenario : scenarios) {
    SCOPED_TRACE(scenario.what);
    FakeSysfs sysfs;
    for (const Supply& supply : scenario.supplies) sysfs.supply(supply.name, supply.files);
    PowerSnapshot snapshot = sysfs.read();
    EXPECT_EQ(Json(snapshot.sources), Json(scenario.sources));
    EXPECT_EQ(snapshot.providingType, scenario.providing);
    EXPECT_FALSE(snapshot.lowPowerMode);
    EXPECT_EQ(snapshot.thermalState, ThermalState::Nominal);
  }
}

TEST(PowerSources, LowPowerModeIsTheFirmwaresLowPowerProfile) {
  for (auto [profile, low] : {std::pair{"low-power", true}, std::pair{"balanced", false},
                              std::pair{"performance", false}, std::pair{"", false}}) {
    SCOPED_TRACE(profile);
    FakeSysfs sysfs;
    sysfs.write("firmware/acpi/platform_profile", std::string(profile) + "\n");
    EXPECT_EQ(sysfs.read().lowPowerMode, low);
  }
}

TEST(PowerSources, ThermalStateIsTheHighestTripPointReached) {
  struct Case {
    const char* what;
    std::map<std::string, Files> zones;
    ThermalState state;
  };
  const Case cases[] = {
      {"below every trip point",
       {{"thermal_zone0",
         {{"temp", "40000"},
          {"trip_point_0_type", "active"},
          {"trip_point_0_temp", "60000"},
          {"trip_point_1_type", "critical"},
          {"trip_point_1_temp", "105000"}}}},
       ThermalState::Nominal},
      {"fans on",
       {{"thermal_zone0", {{"temp", "61000"}, {"trip_point_0_type", "active"}, {"trip_point_0_temp", "60000"}}}},
       ThermalState::Fair},
      {"throttling in one zone, fans in another",
       {{"thermal_zone0", {{"temp", "61000"}, {"trip_point_0_type", "active"}, {"trip_point_0_temp", "60000"}}},
        {"thermal_zone1",
         {{"temp", "96000"},
          {"trip_point_0_type", "passive"},
          {"trip_point_0_temp", "95000"},
          {"trip_point_1_type", "critical"},
          {"trip_point_1_temp", "105000"}}}},
       ThermalState::Serious},
      {"at the critical point",
       {{"thermal_zone3", {{"temp", "105000"}, {"trip_point_0_type", "critical"}, {"trip_point_0_temp", "105000"}}}},
       ThermalState::Critical},
      {"disabled zones, switched-off trip points and garbage count for nothing",
       {{"thermal_zone0",
         {{"mode", "disabled"},
          {"temp", "120000"},
          {"trip_point_0_type", "critical"},
          {"trip_point_0_temp", "100000"}}},
        {"thermal_zone1", {{"temp", "50000"}, {"trip_point_0_type", "hot"}, {"trip_point_0_temp", "0"}}},
        {"thermal_zone2", {{"temp", "hot"}, {"trip_point_0_type", "critical"}, {"trip_point_0_temp", "1"}}},
        {"thermal_zone4", {{"temp", "90000"}, {"trip_point_0_type", "critical"}}},
        {"cooling_device0", {{"temp", "90000"}, {"trip_point_0_type", "critical"}, {"trip_point_0_temp", "1"}}}},
       ThermalState::Nominal},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeSysfs sysfs;
    for (const auto& [name, files] : c.zones) sysfs.zone(name, files);
    EXPECT_EQ(sysfs.read().thermalState, c.state);
  }
}

TEST(PowerSources, ThisMachineAnswers) {
  // Whatever this machine has, the answer is complete and consistent.
  PowerSnapshot snapshot = PowerSources().read();
  EXPECT_TRUE(snapshot.providingType == "AC Power" || snapshot.providingType == "Battery Power" ||
              snapshot.providingType == "UPS Power");
  for (const Json& source : snapshot.sources) EXPECT_TRUE(source.contains("Type"));
}

}  // namespace
}  // namespace wren::platform

#include "system/Battery.h"

#include <gtest/gtest.h>

namespace wren {
namespace {

TEST(BatteryEntry, ReadsTheDescriptionKeys) {
  struct Case {
    const char* what;
    Json description;
    Json entry;
  };
  const Case cases[] = {
      {"a charging battery",
       {{"Type", "InternalBattery"},
        {"Name", "BAT0"},
        {"Current Capacity", 60},
        {"Max Capacity", 100},
        {"Is Charging", true},
        {"Is Charged", false},
        {"Power Source State", "AC Power"},
        {"Time to Full Charge", 120},
        {"BatteryHealth", "Good"}},
       {{"name", "BAT0"},
        {"percent", 60},
        {"charging", true},
        {"charged", false},
        {"power_source", "AC Power"},
        {"minutes_to_full", 120},
        {"health", "Good"}}},
      {"half full without estimates",
       {{"Current Capacity", 50}, {"Max Capacity", 100}, {"Time to Empty", 0}, {"Time to Full Charge", -1}},
       {{"name", "battery"}, {"percent", 50}, {"charging", false}, {"charged", false}, {"power_source", ""}}},
      {"raw figures round half away from zero",
       {{"Current Capacity", 1}, {"Max Capacity", 200}, {"Time to Empty", 95}},
       {{"name", "battery"},
        {"percent", 1},
        {"charging", false},
        {"charged", false},
        {"power_source", ""},
        {"minutes_to_empty", 95}}},
      {"two thirds",
       {{"Current Capacity", 2}, {"Max Capacity", 3}},
       {{"name", "battery"}, {"percent", 67}, {"charging", false}, {"charged", false}, {"power_source", ""}}},
      {"no maximum",
       {{"Current Capacity", 50}},
       {{"name", "battery"}, {"percent", nullptr}, {"charging", false}, {"charged", false}, {"power_source", ""}}},
      {"a maximum of zero",
       {{"Current Capacity", 50}, {"Max Capacity", 0}},
       {{"name", "battery"}, {"percent", nullptr}, {"charging", false}, {"charged", false}, {"power_source", ""}}},
      {"values of the wrong kinds",
       {{"Name", 7},
        {"Current Capacity", 50.5},
        {"Max Capacity", "100"},
        {"Is Charging", "yes"},
        {"Is Charged", 1},
        {"Power Source State", false},
        {"Time to Empty", "90"},
        {"BatteryHealth", 3}},
       {{"name", "battery"}, {"percent", nullptr}, {"charging", false}, {"charged", false}, {"power_source", ""}}},
      {"nonsense figures",
       {{"Current Capacity", INT64_MAX}, {"Max Capacity", 1}},
       {{"name", "battery"}, {"percent", nullptr}, {"charging", false}, {"charged", false}, {"power_source", ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(batteryEntry(c.description), c.entry);
  }
}

TEST(BatteryStatus, ListsOnlyTheMachinesBatteries) {
  platform::PowerSnapshot snapshot;
  snapshot.sources = {
      {{"Type", "InternalBattery"}, {"Name", "BAT0"}, {"Current Capacity", 80}, {"Max Capacity", 100}},
      {{"Type", "UPS"}, {"Name", "ups"}},
      {{"Name", "untyped"}},
      {{"Type", 4}, {"Name", "odd"}},
      Json("not a dictionary"),
      {{"Type", "InternalBattery"}, {"Name", "BAT1"}},
  };
  snapshot.providingType = "Battery Power";
  snapshot.lowPowerMode = true;
  snapshot.thermalState = platform::ThermalState::Serious;
  Json status = batteryStatus(snapshot);
  EXPECT_EQ(status.dump(),
            R"({"has_battery":true,"batteries":[)"
            R"({"name":"BAT0","percent":80,"charging":false,"charged":false,"power_source":""},)"
            R"({"name":"BAT1","percent":null,"charging":false,"charged":false,"power_source":""}],)"
            R"("providing_power_source":"Battery Power","low_power_mode":true,"thermal_state":"serious"})");
}

TEST(BatteryStatus, AMachineWithoutBatteryStillReportsPowerAndHeat) {
  platform::PowerSnapshot snapshot;
  snapshot.providingType = "AC Power";
  Json status = batteryStatus(snapshot);
  EXPECT_EQ(status["has_battery"], false);
  EXPECT_EQ(status["batteries"], Json::array());
  EXPECT_EQ(status["providing_power_source"], "AC Power");
  EXPECT_EQ(status["low_power_mode"], false);
  EXPECT_EQ(status["thermal_state"], "nominal");
}

TEST(ThermalStateName, NamesTheFourLevels) {
  EXPECT_EQ(thermalStateName(0), "nominal");
  EXPECT_EQ(thermalStateName(1), "fair");
  EXPECT_EQ(thermalStateName(2), "serious");
  EXPECT_EQ(thermalStateName(3), "critical");
  EXPECT_EQ(thermalStateName(4), "unknown");
  EXPECT_EQ(thermalStateName(-1), "unknown");
}

}  // namespace
}  // namespace wren

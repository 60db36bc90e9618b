#include "platform/LocationServices.h"

#include <gtest/gtest.h>

#include <chrono>

#include "support/ScopedDataHome.h"

namespace wren::platform {
namespace {

TEST(LocationServices, AFixedLocationFileSwitchesThemOn) {
  ScopedDataHome home;
  home.write("location", "52.52\n13.40\n");
  EXPECT_TRUE(locationServicesEnabled());
}

TEST(LocationServices, WithoutAFileTheyFollowGeoClue) {
  ScopedDataHome home;
  auto start = std::chrono::steady_clock::now();
  bool enabled = locationServicesEnabled();
  // A status query must stay quick even when the system bus is missing or slow.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(enabled, geoClueAvailable());
}

}  // namespace
}  // namespace wren::platform

#include "eventstore/ItemRows.h"

#include <gtest/gtest.h>

#include <vector>

namespace wren {
namespace {

TEST(AlarmMinutes, RoundHalvesAwayFromZero) {
  struct Case {
    double offset;
    long long minutes;
  };
  const std::vector<Case> cases = {
      {-900, 15}, {-90, 2}, {-89, 1}, {90, -2}, {-30, 1}, {30, -1}, {0, 0}, {-29, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    platform::Alarm alarm;
    alarm.relativeOffset = c.offset;
    EXPECT_EQ(alarmMinutesBefore(alarm), c.minutes);
  }
}

}  // namespace
}  // namespace wren

#pragma once

#include <time.h>

#include <string>

#include "platform/EnvironmentVariable.h"

namespace wren::platform {

// Sets the process's zone (TZ) for the guard's lifetime and restores the previous setting,
// including an unset TZ, when it ends. Tests use it; TZ is process-wide, so a guard must not
// be used while other threads read the zone.
class TimeZoneGuard {
 public:
  // tzset() makes the C library read TZ again after each change.
  explicit TimeZoneGuard(const std::string& zoneId) : tz_("TZ", zoneId, tzset) {}

  // Changes the zone again; the guard still restores the setting from before it.
  void set(const std::string& zoneId) { tz_.set(zoneId); }

 private:
  EnvironmentVariable tz_;
};

}  // namespace wren::platform

#pragma once

#include <stdlib.h>
#include <time.h>

#include <optional>
#include <string>

namespace wren::platform {

// Sets the process's zone (TZ) for the guard's lifetime and restores the previous setting,
// including an unset TZ, when it ends. Tests use it; TZ is process-wide, so a guard must not
// be used while other threads read the zone.
class TimeZoneGuard {
 public:
  explicit TimeZoneGuard(const std::string& zoneId) {
    if (const char* old = getenv("TZ")) previous_ = old;
    set(zoneId);
  }

  TimeZoneGuard(const TimeZoneGuard&) = delete;
  TimeZoneGuard& operator=(const TimeZoneGuard&) = delete;

  ~TimeZoneGuard() {
    if (previous_) {
      setenv("TZ", previous_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

  // Changes the zone again; the destructor still restores the setting from before the guard.
  void set(const std::string& zoneId) {
    setenv("TZ", zoneId.c_str(), 1);
    tzset();
  }

 private:
  std::optional<std::string> previous_;
};

}  // namespace wren::platform

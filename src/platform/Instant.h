#pragma once

#include <chrono>

namespace wren {

// A point in time, to the millisecond, independent of any time zone.
using Instant = std::chrono::sys_time<std::chrono::milliseconds>;

inline Instant now() {
  return std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
}

inline Instant fromSeconds(double seconds) {
  return Instant(std::chrono::milliseconds(static_cast<long long>(seconds * 1000.0)));
}

inline double toSeconds(Instant instant) {
  return static_cast<double>(instant.time_since_epoch().count()) / 1000.0;
}

}  // namespace wren

#pragma once

// Coordinates to a place map, for both location methods:
//
//   Coordinate where = coordinate(params);   // or throws invalid_args
//   reverseGeocode(geocoder, where, std::chrono::seconds(12), [reply](Outcome place) { ... });
//
// The place map has `found` and the parts of the place that are known; nothing found is
// `found` false, not a failure. A failure is a HelperError: execution_failed when the
// service cannot be reached or fails, timeout when the lookup outlived its time.

#include <chrono>
#include <functional>
#include <string>

#include "app/Json.h"
#include "app/Params.h"
#include "app/Reply.h"
#include "platform/Geocoder.h"

namespace wren {

struct Coordinate {
  double latitude = 0;
  double longitude = 0;
};

// The request's `latitude` and `longitude`: numbers within range, inclusive.
Coordinate coordinate(const Params& params);

// The place map of one placemark.
Json placemarkInfo(const platform::Placemark& placemark);

// The shortest decimal text that reads back as the same number, with at least one digit
// after the point: 91 gives "91.0", 90.5 "90.5", 1e300 "1e+300".
std::string shortestNumberText(double value);

// Looks the coordinate up and answers `done` once, on the main queue: the place map, or the
// failure. May be called from any thread.
void reverseGeocode(platform::Geocoder& geocoder, Coordinate where, std::chrono::duration<double> timeout,
                    std::function<void(Outcome)> done);

}  // namespace wren

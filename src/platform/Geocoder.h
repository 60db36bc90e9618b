#pragma once

// Turning coordinates into a place, as a network geocoding service does it:
//
//   geocoder.reverseGeocode(48.8584, 2.2945, deadline, [](GeocodeAnswer answer) {
//     if (auto* places = std::get_if<std::vector<Placemark>>(&answer)) ...  // none: nothing there
//     else { const GeocodeError& error = std::get<GeocodeError>(answer); ... }
//   });
//
// Called on the main queue, which also runs the answer, exactly once per lookup.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/PostalAddress.h"

namespace wren::platform {

// One place; every part optional (empty).
struct Placemark {
  std::string name;
  std::string subThoroughfare;  // the house number
  std::string thoroughfare;     // the street
  std::string subLocality;
  std::string locality;
  std::string subAdministrativeArea;
  std::string administrativeArea;
  std::string postalCode;
  std::string country;
  std::string isoCountryCode;
  std::string ocean;
  std::string inlandWater;
  std::string timeZone;
  // Set when the place has an address at all (open water has none).
  std::optional<PostalAddress> postalAddress;
};

enum class GeocodeErrorKind {
  // The service cannot be reached, or it turns requests away for now.
  Network,
  // The lookup was still running at its deadline and was given up.
  Canceled,
  // Anything else, described by the error's text.
  Other,
};

struct GeocodeError {
  GeocodeErrorKind kind = GeocodeErrorKind::Other;
  std::string description;
};

using GeocodeAnswer = std::variant<std::vector<Placemark>, GeocodeError>;

class Geocoder {
 public:
  virtual ~Geocoder() = default;
  // Looks up what is at the coordinates. A lookup not answered by the deadline is cancelled
  // and answers Canceled.
  virtual void reverseGeocode(double latitude, double longitude, std::chrono::steady_clock::time_point deadline,
                              std::function<void(GeocodeAnswer)> done) = 0;
};

}  // namespace wren::platform

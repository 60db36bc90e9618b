#pragma once

// Where this machine's position comes from: a location manager that is asked for one fix at
// a time and answers through its delegate, as the locator in location/OneShotLocator.h
// drives it:
//
//   auto manager = source.makeManager({
//       [](std::vector<LocationFix> fixes) { ... },   // the newest fix last
//       [](LocationError error) { ... }});
//   manager->requestLocation();   // one fix, or one error, arrives later
//   ...
//   manager->stopUpdatingLocation();  // nothing more arrives
//
// Everything here happens on the main queue: managers are made, asked and stopped there, and
// the delegate is called there, never from inside requestLocation itself. The delegate may
// stop and drop the manager while it runs, so a manager touches nothing of its own after
// calling it.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Instant.h"

namespace wren::platform {

struct LocationFix {
  double latitude = 0;
  double longitude = 0;
  // Radius in metres; negative when the fix is not usable.
  double horizontalAccuracy = -1;
  double altitude = 0;
  // Metres; negative when the altitude is not known.
  double verticalAccuracy = -1;
  Instant timestamp;
};

enum class LocationErrorKind {
  // No position for now; asking again a little later may find one.
  LocationUnknown,
  // The person or the system does not allow this program to know the position.
  Denied,
  // Anything else, described by the error's text.
  Other,
};

struct LocationError {
  LocationErrorKind kind = LocationErrorKind::Other;
  std::string description;
};

struct LocationDelegate {
  std::function<void(std::vector<LocationFix>)> didUpdateLocations;
  std::function<void(LocationError)> didFailWithError;
};

class LocationManager {
 public:
  virtual ~LocationManager() = default;
  // Asks for one fix; its answer, a delivery of fixes or an error, comes through the delegate.
  virtual void requestLocation() = 0;
  // Ends every request in flight; the delegate is not called again.
  virtual void stopUpdatingLocation() = 0;
};

class LocationSource {
 public:
  virtual ~LocationSource() = default;
  virtual std::unique_ptr<LocationManager> makeManager(LocationDelegate delegate) = 0;
};

}  // namespace wren::platform

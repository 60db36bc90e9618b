#pragma once

// This machine's position: GeoClue2 over the system bus when it answers, else the fixed
// location of the `location` file (LocationFile.h).
//
//   GeoClueLocationSource source(dataRoot() / "location");
//   auto manager = source.makeManager(delegate);   // see LocationSource.h
//   manager->requestLocation();
//
// Each request asks a GeoClue client for one fix and stops it when the fix came. A GeoClue
// that is not on the bus, cannot be started or does not answer its calls in time counts as
// absent, and the file answers instead; a machine without a system bus finds that out at
// once. GeoClue refusing this program (no agent allows it, or the person said no) is a
// denial. A GeoClue that accepts the request and then stays silent is left to the caller's
// deadline: stopping the manager ends every call in flight.

#include <filesystem>
#include <memory>

#include "platform/LocationSource.h"

typedef struct _GError GError;

namespace wren::platform {

class GeoClueLocationSource : public LocationSource {
 public:
  explicit GeoClueLocationSource(std::filesystem::path locationFile);
  std::unique_ptr<LocationManager> makeManager(LocationDelegate delegate) override;

 private:
  std::filesystem::path locationFile_;
};

// How a failed GeoClue call is taken.
enum class GeoClueFailure {
  // We cancelled the call ourselves: nothing to report.
  Cancelled,
  // GeoClue is not there or did not answer: ask the location file.
  Absent,
  Denied,
  Other,
};
GeoClueFailure classifyGeoClueError(const GError* error);

}  // namespace wren::platform

#pragma once

// The fixed location a person can keep in the data root's `location` file, in the format of
// GeoClue's /etc/geolocation: latitude, longitude, altitude and accuracy in metres, one
// number per line, with `#` starting a comment anywhere on a line:
//
//   # Our office
//   40.6893129    # latitude
//   -74.0445531   # longitude
//   96            # altitude
//   1.83          # accuracy radius
//
//   LocationFileReading reading = readLocationFile(dataRoot() / "location");
//   if (reading.fix) ...                      // a usable position, stamped with the time read
//   else if (!reading.problem.empty()) ...    // the file exists but cannot be used; why

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/LocationSource.h"

namespace wren::platform {

struct LocationFileReading {
  std::optional<LocationFix> fix;
  // Empty when the file is missing or gave a fix.
  std::string problem;
};

// Reads the text of a location file; a fix, or the problem with the text.
LocationFileReading parseLocationFile(std::string_view text, Instant readAt);

// Reads the file; neither fix nor problem when it does not exist.
LocationFileReading readLocationFile(const std::filesystem::path& path);

}  // namespace wren::platform

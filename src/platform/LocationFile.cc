#include "platform/LocationFile.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <system_error>
#include <vector>

#include "platform/Text.h"
#include "platform/files/FileError.h"
#include "platform/files/RegularFile.h"

namespace wren::platform {

namespace {

// Four short lines and their comments fit many times over; anything larger is not a location
// file, and is not read whole.
constexpr std::size_t kMaxFileBytes = 64 * 1024;

std::optional<double> numberOf(const std::string& text) {
  double value = 0;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

LocationFileReading problem(std::string text) { return {std::nullopt, std::move(text)}; }

}  // namespace

LocationFileReading parseLocationFile(std::string_view text, Instant readAt) {
  static constexpr const char* kNames[] = {"latitude", "longitude", "altitude", "accuracy"};
  std::vector<double> values;
  std::size_t lineNumber = 0;
  std::size_t begin = 0;
  while (begin <= text.size()) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(begin, end - begin);
    begin = end + 1;
    ++lineNumber;
    if (std::size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    std::string value = trimWhitespace(line);
    if (value.empty()) continue;
    if (values.size() == 4) return problem("line " + std::to_string(lineNumber) + " holds a fifth value, \"" + value + "\"");
    std::optional<double> number = numberOf(value);
    if (!number)
      return problem("line " + std::to_string(lineNumber) + " should hold the " + kNames[values.size()] +
                     " as a number, not \"" + value + "\"");
    values.push_back(*number);
  }
  if (values.size() < 4) return problem(std::string("the ") + kNames[values.size()] + " is missing");
  if (std::fabs(values[0]) > 90) return problem("the latitude is not within [-90, 90]");
  if (std::fabs(values[1]) > 180) return problem("the longitude is not within [-180, 180]");
  if (values[3] < 0) return problem("the accuracy is negative");
  LocationFix fix;
  fix.latitude = values[0];
  fix.longitude = values[1];
  fix.altitude = values[2];
  fix.horizontalAccuracy = values[3];
  // The file names an altitude, so it counts as known, as precise as the position.
  fix.verticalAccuracy = values[3];
  fix.timestamp = readAt;
  return {fix, {}};
}

LocationFileReading readLocationFile(const std::filesystem::path& path) {
  // Read like every other file of the data root: a FIFO or a device in its place never
  // holds the request up.
  auto read = readRegular(path, kMaxFileBytes);
  if (const auto* failure = std::get_if<ReadFailure>(&read)) {
    if (failure->error == ENOENT) return {};
    if (failure->error == EFBIG) return problem(path.string() + " is larger than a location file can be");
    return problem(FileError(failure->call, path, failure->error).what());
  }
  const std::string& text = std::get<RegularFileText>(read).text;
  LocationFileReading reading = parseLocationFile(text, now());
  if (!reading.problem.empty()) reading.problem = path.string() + ": " + reading.problem;
  return reading;
}

}  // namespace wren::platform

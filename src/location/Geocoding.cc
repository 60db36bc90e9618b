#include "location/Geocoding.h"

#include <charconv>
#include <cmath>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/MainQueue.h"
#include "platform/OneShot.h"
#include "platform/PostalAddress.h"

namespace wren {

namespace {

std::string trimSpacesAndTabs(std::string_view text) {
  std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  std::size_t end = text.find_last_not_of(" \t");
  return std::string(text.substr(begin, end - begin + 1));
}

// The length of the line break at `at` (LF, VT, FF, CR, NEL, LS, PS), or 0.
std::size_t lineBreakAt(std::string_view text, std::size_t at) {
  unsigned char c = static_cast<unsigned char>(text[at]);
  if (c >= 0x0A && c <= 0x0D) return 1;
  if (text.compare(at, 2, "\xC2\x85") == 0) return 2;
  if (text.compare(at, 3, "\xE2\x80\xA8") == 0 || text.compare(at, 3, "\xE2\x80\xA9") == 0) return 3;
  return 0;
}

// The mailing address on one line: its lines trimmed, the empty ones dropped, joined by ", ".
std::string oneLine(std::string_view text) {
  std::string joined;
  std::size_t begin = 0;
  auto take = [&](std::size_t end) {
    std::string line = trimSpacesAndTabs(text.substr(begin, end - begin));
    if (line.empty()) return;
    if (!joined.empty()) joined += ", ";
    joined += line;
  };
  for (std::size_t at = 0; at < text.size();) {
    if (std::size_t breakLength = lineBreakAt(text, at)) {
      take(at);
      at += breakLength;
      begin = at;
    } else {
      ++at;
    }
  }
  take(text.size());
  return joined;
}

void addText(Json& map, const char* key, const std::string& value) {
  if (!value.empty()) map[key] = value;
}

HelperError timeoutFailure(int seconds) {
  return HelperError(ErrorCode::Timeout,
                     "Looking up the address took more than " + std::to_string(seconds) + " s (it needs the internet).");
}

HelperError geocodeFailure(const platform::GeocodeError& error, int seconds) {
  switch (error.kind) {
    case platform::GeocodeErrorKind::Network:
      return HelperError(ErrorCode::ExecutionFailed,
                         "Looking up the address needs the internet (or Apple's geocoding service is limiting "
                         "requests; wait a minute).");
    case platform::GeocodeErrorKind::Canceled:
      return timeoutFailure(seconds);
    case platform::GeocodeErrorKind::Other:
      break;
  }
  return HelperError(ErrorCode::ExecutionFailed, "Looking up the address failed: " + error.description);
}

}  // namespace

Coordinate coordinate(const Params& params) {
  std::optional<double> latitude = params.number("latitude");
  std::optional<double> longitude = params.number("longitude");
  // NaN is no number to look up, and would pass every range check below.
  if (!latitude || !longitude || std::isnan(*latitude) || std::isnan(*longitude))
    throwInvalidArgs("latitude and longitude are required numbers");
  if (!(std::fabs(*latitude) <= 90))
    throwInvalidArgs("latitude must be within [-90, 90], got " + shortestNumberText(*latitude));
  if (!(std::fabs(*longitude) <= 180))
    throwInvalidArgs("longitude must be within [-180, 180], got " + shortestNumberText(*longitude));
  return {*latitude, *longitude};
}

std::string shortestNumberText(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  // Plain decimals between a ten-thousandth and 2^53, exponents outside, as the host's own
  // number printing does.
  const double magnitude = std::fabs(value);
  const bool plain = magnitude == 0 || (magnitude >= 1e-4 && magnitude < 9007199254740992.0);
  char digits[64];
  auto result = std::to_chars(digits, digits + sizeof digits, value,
                              plain ? std::chars_format::fixed : std::chars_format::scientific);
  std::string text(digits, result.ptr);
  if (plain && text.find('.') == std::string::npos) text += ".0";
  return text;
}

Json placemarkInfo(const platform::Placemark& placemark) {
  Json map = Json::object();
  map["found"] = true;
  addText(map, "name", placemark.name);
  std::string street = placemark.subThoroughfare;
  if (!placemark.thoroughfare.empty()) street += (street.empty() ? "" : " ") + placemark.thoroughfare;
  addText(map, "street", trimSpacesAndTabs(street));
  addText(map, "sub_locality", placemark.subLocality);
  addText(map, "locality", placemark.locality);
  addText(map, "sub_administrative_area", placemark.subAdministrativeArea);
  addText(map, "administrative_area", placemark.administrativeArea);
  addText(map, "postal_code", placemark.postalCode);
  addText(map, "country", placemark.country);
  addText(map, "country_code", placemark.isoCountryCode);
  addText(map, "ocean", placemark.ocean);
  addText(map, "inland_water", placemark.inlandWater);
  addText(map, "time_zone", placemark.timeZone);
  if (placemark.postalAddress) addText(map, "formatted", oneLine(platform::formatMailingAddress(*placemark.postalAddress)));
  return map;
}

void reverseGeocode(platform::Geocoder& geocoder, Coordinate where, std::chrono::duration<double> timeout,
                    std::function<void(Outcome)> done) {
  const int seconds = static_cast<int>(timeout.count());
  auto limit = std::chrono::ceil<std::chrono::milliseconds>(timeout);
  auto deadline = std::chrono::steady_clock::now() + limit;
  // The geocoder cancels a lookup at the deadline itself; this wait's own deadline answers
  // even if it does not.
  auto slot = platform::OneShot<Outcome>::start(limit, [done = std::move(done), seconds](std::optional<Outcome> outcome) {
    done(outcome ? std::move(*outcome) : Outcome(timeoutFailure(seconds)));
  });
  platform::mainQueue::post([&geocoder, where, deadline, slot, seconds] {
    geocoder.reverseGeocode(where.latitude, where.longitude, deadline, [slot, seconds](platform::GeocodeAnswer answer) {
      if (auto* failure = std::get_if<platform::GeocodeError>(&answer)) {
        slot->resolve(geocodeFailure(*failure, seconds));
        return;
      }
      const auto& places = std::get<std::vector<platform::Placemark>>(answer);
      slot->resolve(places.empty() ? Json{{"found", false}} : placemarkInfo(places.front()));
    });
  });
}

}  // namespace wren

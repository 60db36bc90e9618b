#include "location/Location.h"

#include <chrono>
#include <cmath>
#include <utility>

#include "app/Dates.h"
#include "location/Geocoding.h"
#include "location/OneShotLocator.h"
#include "permissions/Permissions.h"

namespace wren {

namespace {

using Seconds = std::chrono::duration<double>;

constexpr Seconds kFixTimeout{20};
constexpr Seconds kOwnAddressTimeout{6};
constexpr Seconds kGeocodeTimeout{12};

// To one decimal, halves away from zero: 7.25 gives 7.3.
double oneDecimal(double value) { return std::round(value * 10) / 10; }

void getLocation(platform::LocationSource& source, platform::Geocoder& geocoder, Reply reply) {
  ensureLocation();
  OneShotLocator::make(source)->locate(kFixTimeout, [&geocoder, reply](FixOutcome outcome) {
    if (auto* failure = std::get_if<HelperError>(&outcome)) {
      reply.fail(std::move(*failure));
      return;
    }
    const auto& fix = std::get<platform::LocationFix>(outcome);
    // The address is a bonus: the position is answered even when the lookup fails.
    reverseGeocode(geocoder, {fix.latitude, fix.longitude}, kOwnAddressTimeout,
                   [reply, row = locationRow(fix)](Outcome place) mutable {
                     if (auto* failure = std::get_if<HelperError>(&place)) {
                       row["address"] = nullptr;
                       row["address_error"] = failure->message();
                     } else {
                       row["address"] = std::move(std::get<Json>(place));
                     }
                     reply.succeed(std::move(row));
                   });
  });
}

void geocode(platform::Geocoder& geocoder, const Params& params, Reply reply) {
  Coordinate where = coordinate(params);
  reverseGeocode(geocoder, where, kGeocodeTimeout, [reply, where](Outcome place) {
    if (auto* failure = std::get_if<HelperError>(&place)) {
      reply.fail(std::move(*failure));
      return;
    }
    Json result = std::move(std::get<Json>(place));
    result["latitude"] = where.latitude;
    result["longitude"] = where.longitude;
    reply.succeed(std::move(result));
  });
}

}  // namespace

Json locationRow(const platform::LocationFix& fix) {
  Json row = Json::object();
  row["latitude"] = fix.latitude;
  row["longitude"] = fix.longitude;
  row["accuracy_m"] = oneDecimal(fix.horizontalAccuracy);
  row["timestamp"] = localDateTimeText(fix.timestamp);
  if (fix.verticalAccuracy >= 0) row["altitude_m"] = oneDecimal(fix.altitude);
  return row;
}

void registerLocation(Router& router, platform::LocationSource& source, platform::Geocoder& geocoder) {
  router.registerAsyncMethod("location.get", [&source, &geocoder](const Params&, Reply reply) {
    getLocation(source, geocoder, std::move(reply));
  });
  router.registerAsyncMethod("location.geocode", [&geocoder](const Params& params, Reply reply) {
    geocode(geocoder, params, std::move(reply));
  });
}

}  // namespace wren

#include "location/Geocoding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/EnvironmentVariable.h"
#include "platform/MainQueue.h"
#include "platform/NominatimGeocoder.h"
#include "support/StubHttpServer.h"

namespace wren {
namespace {

using namespace std::chrono_literals;
using testing::StubHttpServer;
using testing::StubResponse;

TEST(Coordinate, ReadsNumbersWithinRangeAndRefusesTheRest) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* name;
    Json params;
    std::string error;  // empty: accepted
  };
  const Case cases[] = {
      {"the inclusive bounds", {{"latitude", 90}, {"longitude", -180}}, ""},
      {"an integer", {{"latitude", 48}, {"longitude", 2.5}}, ""},
      {"latitude as text", {{"latitude", "48"}, {"longitude", 2}}, "latitude and longitude are required numbers"},
      {"longitude missing", {{"latitude", 48}}, "latitude and longitude are required numbers"},
      {"null", {{"latitude", nullptr}, {"longitude", 2}}, "latitude and longitude are required numbers"},
      {"a boolean", {{"latitude", 48}, {"longitude", true}}, "latitude and longitude are required numbers"},
      {"NaN", {{"latitude", nan}, {"longitude", 2}}, "latitude and longitude are required numbers"},
      {"NaN longitude", {{"latitude", 1}, {"longitude", nan}}, "latitude and longitude are required numbers"},
      {"half a degree too far north", {{"latitude", 90.5}, {"longitude", 0}}, "latitude must be within [-90, 90], got 90.5"},
      {"a whole number out of range", {{"latitude", -91}, {"longitude", 0}}, "latitude must be within [-90, 90], got -91.0"},
      {"infinity", {{"latitude", inf}, {"longitude", 0}}, "latitude must be within [-90, 90], got inf"},
      {"longitude just past", {{"latitude", 0}, {"longitude", -180.0001}},
       "longitude must be within [-180, 180], got -180.0001"},
      {"both out of range: latitude first", {{"latitude", 100}, {"longitude", 200}},
       "latitude must be within [-90, 90], got 100.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Params params(c.params);
    if (c.error.empty()) {
      Coordinate where = coordinate(params);
      EXPECT_EQ(where.latitude, c.params["latitude"].get<double>());
      EXPECT_EQ(where.longitude, c.params["longitude"].get<double>());
      continue;
    }
    try {
      coordinate(params);
      ADD_FAILURE() << "accepted";
    } catch (const HelperError& error) {
      EXPECT_EQ(error.code(), ErrorCode::InvalidArgs);
      EXPECT_EQ(error.message(), c.error);
    }
  }
}

TEST(ShortestNumberText, ReadsBackAsTheSameNumberWithADigitAfterThePoint) {
  const std::pair<double, const char*> cases[] = {
      {91, "91.0"},        {90.5, "90.5"},     {-180.0001, "-180.0001"}, {0.1, "0.1"},
      {0, "0.0"},          {-0.0, "-0.0"},     {1e300, "1e+300"},        {1e-5, "1e-05"},
      {0.0001, "0.0001"},  {1000000, "1000000.0"}, {123.456789012345, "123.456789012345"},
  };
  for (const auto& [value, text] : cases) {
    EXPECT_EQ(shortestNumberText(value), text);
    EXPECT_EQ(std::stod(text), value);
  }
}

platform::Placemark streetPlace(std::string number, std::string street) {
  platform::Placemark place;
  place.subThoroughfare = std::move(number);
  place.thoroughfare = std::move(street);
  return place;
}

TEST(PlacemarkInfo, LeavesOutWhatIsMissingAndJoinsTheStreet) {
  platform::Placemark ocean;
  ocean.ocean = "Pacific Ocean";
  EXPECT_EQ(placemarkInfo(ocean), (Json{{"found", true}, {"ocean", "Pacific Ocean"}}));
  EXPECT_EQ(placemarkInfo(streetPlace("", "Rue de Rivoli")), (Json{{"found", true}, {"street", "Rue de Rivoli"}}));
  EXPECT_EQ(placemarkInfo(streetPlace("12", "")), (Json{{"found", true}, {"street", "12"}}));
  EXPECT_EQ(placemarkInfo(streetPlace(" \t", "\tMain St ")), (Json{{"found", true}, {"street", "Main St"}}));
}

TEST(PlacemarkInfo, KeysComeInTheirOrderAndTheAddressOnOneLine) {
  platform::Placemark place = streetPlace("5", "Avenue Anatole France");
  place.name = "Tour Eiffel";
  place.subLocality = "Gros-Caillou";
  place.locality = "Paris";
  place.subAdministrativeArea = "Paris";
  place.administrativeArea = "Île-de-France";
  place.postalCode = "75007";
  place.country = "France";
  place.isoCountryCode = "FR";
  place.inlandWater = "Seine";
  place.timeZone = "Europe/Paris";
  // A street of several lines with blank ones, and line breaks of every kind.
  place.postalAddress = platform::PostalAddress{"5 Avenue Anatole France\n \t\n\u2028Champ de Mars\r\n", "", "Paris", "",
                                                "", "75007", "France", "FR"};
  Json info = placemarkInfo(place);
  std::vector<std::string> keys;
  for (const auto& item : info.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"found", "name", "street", "sub_locality", "locality",
                                            "sub_administrative_area", "administrative_area", "postal_code", "country",
                                            "country_code", "inland_water", "time_zone", "formatted"}));
  EXPECT_EQ(info["street"], "5 Avenue Anatole France");
  EXPECT_EQ(info["formatted"], "5 Avenue Anatole France, Champ de Mars, Paris 75007, France");
}

// Runs one lookup on the main queue (this thread) and returns its outcome.
Outcome lookUp(platform::Geocoder& geocoder, Coordinate where, std::chrono::duration<double> timeout) {
  std::optional<Outcome> outcome;
  auto finished = std::make_shared<bool>(false);
  reverseGeocode(geocoder, where, timeout, [&outcome, finished](Outcome answer) {
    outcome = std::move(answer);
    *finished = true;
    platform::mainQueue::quit();
  });
  platform::mainQueue::after(std::chrono::ceil<std::chrono::milliseconds>(timeout) + 2s, [finished] {
    if (!*finished) platform::mainQueue::quit();
  });
  platform::mainQueue::run();
  *finished = true;
  return outcome.value_or(Outcome(HelperError(ErrorCode::UnknownAction, "no answer")));
}

constexpr const char* kEiffelTower = R"({
  "place_id": 115390335, "licence": "Data © OpenStreetMap contributors, ODbL 1.0.",
  "osm_type": "way", "osm_id": 5013364, "lat": "48.8582599", "lon": "2.2945006",
  "category": "man_made", "type": "tower", "place_rank": 30, "importance": 0.61,
  "addresstype": "man_made", "name": "Tour Eiffel",
  "display_name": "Tour Eiffel, 5, Avenue Anatole France, Gros-Caillou, Paris, Île-de-France, 75007, France",
  "address": {"man_made": "Tour Eiffel", "house_number": "5", "road": "Avenue Anatole France",
              "city_block": "Quartier du Gros-Caillou", "suburb": "Gros-Caillou", "city_district": "Paris 7e Arrondissement",
              "city": "Paris", "ISO3166-2-lvl6": "FR-75C", "county": "Paris", "state": "Île-de-France",
              "ISO3166-2-lvl4": "FR-IDF", "region": "France métropolitaine", "postcode": "75007",
              "country": "France", "country_code": "fr"},
  "boundingbox": ["48.8574753", "48.8590465", "2.2933084", "2.2956897"]})";

constexpr const char* kNetworkMessage =
    "Looking up the address needs the internet (or Apple's geocoding service is limiting requests; wait a minute).";

TEST(ReverseGeocode, AnswersFromTheServiceOrWithTheRightFailure) {
  struct Case {
    const char* name;
    StubResponse response;
    std::chrono::duration<double> timeout;
    Json expected;           // the place map, or
    ErrorCode code;          // the failure
    std::string message;
  };
  const Case cases[] = {
      {"found", {200, "OK", kEiffelTower}, 5s,
       Json{{"found", true}, {"name", "Tour Eiffel"}, {"street", "5 Avenue Anatole France"}, {"sub_locality", "Gros-Caillou"},
            {"locality", "Paris"}, {"sub_administrative_area", "Paris"}, {"administrative_area", "Île-de-France"},
            {"postal_code", "75007"}, {"country", "France"}, {"country_code", "FR"},
            {"formatted", "5 Avenue Anatole France, Paris Île-de-France 75007, France"}},
       ErrorCode::UnknownAction, ""},
      {"not found", {200, "OK", R"({"error":"Unable to geocode"})"}, 5s, Json{{"found", false}}, ErrorCode::UnknownAction, ""},
      {"open sea", {200, "OK", R"({"name":"Mer Méditerranée","category":"natural","type":"sea","address":{"sea":"Mer Méditerranée"}})"},
       5s, Json{{"found", true}, {"name", "Mer Méditerranée"}, {"ocean", "Mer Méditerranée"}}, ErrorCode::UnknownAction, ""},
      {"slow past the deadline", {200, "OK", kEiffelTower, 3s}, 1.2s, nullptr, ErrorCode::Timeout,
       "Looking up the address took more than 1 s (it needs the internet)."},
      {"malformed JSON", {200, "OK", R"({"address": {"road": "Rue)"}, 5s, nullptr, ErrorCode::ExecutionFailed,
       "Looking up the address failed: the geocoding service's reply is not a place"},
      {"JSON that is not a place", {200, "OK", R"([1, 2])"}, 5s, nullptr, ErrorCode::ExecutionFailed,
       "Looking up the address failed: the geocoding service's reply is not a place"},
      {"throttled", {429, "Too Many Requests", "{}"}, 5s, nullptr, ErrorCode::ExecutionFailed, kNetworkMessage},
      {"server error", {503, "Service Unavailable", ""}, 5s, nullptr, ErrorCode::ExecutionFailed,
       "Looking up the address failed: the geocoding service answered HTTP 503 Service Unavailable"},
      {"a request the service refuses",
       {200, "OK", R"({"error":{"code":400,"message":"Parameter 'lat' must be a number."}})"}, 5s, nullptr,
       ErrorCode::ExecutionFailed, "Looking up the address failed: Parameter 'lat' must be a number."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StubHttpServer server([&](const std::string&) { return c.response; });
    platform::NominatimGeocoder geocoder(server.baseUrl());
    Outcome outcome = lookUp(geocoder, {48.8584, 2.2945}, c.timeout);
    if (!c.expected.is_null()) {
      ASSERT_TRUE(std::holds_alternative<Json>(outcome)) << std::get<HelperError>(outcome).message();
      EXPECT_EQ(std::get<Json>(outcome), c.expected);
    } else {
      ASSERT_TRUE(std::holds_alternative<HelperError>(outcome)) << std::get<Json>(outcome).dump();
      EXPECT_EQ(std::get<HelperError>(outcome).code(), c.code);
      EXPECT_EQ(std::get<HelperError>(outcome).message(), c.message);
    }
    ASSERT_EQ(server.requests().size(), 1u);
    const testing::StubRequest request = server.requests()[0];
    EXPECT_EQ(request.userAgent, platform::kGeocoderUserAgent);
    EXPECT_NE(request.target.find("/reverse?"), std::string::npos) << request.target;
    EXPECT_NE(request.target.find("lat=48.8584&lon=2.2945"), std::string::npos) << request.target;
  }
}

TEST(ReverseGeocode, NoServiceToReachIsANetworkFailure) {
  std::string closedPort;
  {
    StubHttpServer server([](const std::string&) { return StubResponse{}; });
    closedPort = server.baseUrl();
  }
  platform::NominatimGeocoder geocoder(closedPort);
  Outcome outcome = lookUp(geocoder, {0, 0}, 5s);
  ASSERT_TRUE(std::holds_alternative<HelperError>(outcome));
  EXPECT_EQ(std::get<HelperError>(outcome).code(), ErrorCode::ExecutionFailed);
  EXPECT_EQ(std::get<HelperError>(outcome).message(), kNetworkMessage);
}

TEST(ReverseGeocode, LookupsTakeTurnsAndOneThatRanOutOfTimeGivesItsTurnAway) {
  constexpr auto kInterval = 150ms;
  StubHttpServer server([](const std::string&) { return StubResponse{200, "OK", R"({"error":"Unable to geocode"})"}; });
  platform::NominatimGeocoder geocoder(server.baseUrl(), kInterval);
  std::vector<std::optional<Outcome>> outcomes(4);
  int answered = 0;
  // The third lookup's time runs out while it waits behind the second.
  const std::chrono::duration<double> timeouts[] = {2s, 2s, 50ms, 2s};
  for (int i = 0; i < 4; ++i)
    reverseGeocode(geocoder, {static_cast<double>(i), 0}, timeouts[i], [&, i](Outcome outcome) {
      outcomes[i] = std::move(outcome);
      if (++answered == 4) platform::mainQueue::quit();
    });
  platform::mainQueue::run();

  ASSERT_TRUE(std::holds_alternative<HelperError>(*outcomes[2]));
  EXPECT_EQ(std::get<HelperError>(*outcomes[2]).code(), ErrorCode::Timeout);
  for (int i : {0, 1, 3}) EXPECT_EQ(std::get<Json>(*outcomes[i]), (Json{{"found", false}})) << i;
  const std::vector<testing::StubRequest> requests = server.requests();
  ASSERT_EQ(requests.size(), 3u) << "the lookup that ran out of time was never sent";
  EXPECT_NE(requests[0].target.find("lat=0&"), std::string::npos);
  EXPECT_NE(requests[1].target.find("lat=1&"), std::string::npos);
  EXPECT_NE(requests[2].target.find("lat=3&"), std::string::npos);
  // The first request also opens the session's first connection, so it reaches the stub
  // later after its sending than the others do.
  EXPECT_GE(requests[1].arrived - requests[0].arrived, kInterval / 2);
  auto gap = requests[2].arrived - requests[1].arrived;
  EXPECT_GE(gap, kInterval - 10ms);
  EXPECT_LT(gap, 2 * kInterval) << "a skipped turn still holds the queue";
}

TEST(NominatimUrl, OnlyALoopbackServiceReplacesThePublicOne) {
  const std::pair<const char*, const char*> cases[] = {
      {"http://127.0.0.1:8080", "http://127.0.0.1:8080"},
      {"http://localhost:9", "http://localhost:9"},
      {"http://[::1]:80", "http://[::1]:80"},
      {"https://geocoder.example.com", "https://nominatim.openstreetmap.org"},
      {"http://127.0.0.1.example.com", "https://nominatim.openstreetmap.org"},
      {"file:///etc/passwd", "https://nominatim.openstreetmap.org"},
      {"not a url", "https://nominatim.openstreetmap.org"},
  };
  platform::EnvironmentVariable variable("WREN_GEOCODER_URL", std::nullopt);
  for (const auto& [configured, expected] : cases) {
    variable.set(configured);
    EXPECT_EQ(platform::nominatimUrl(), expected) << configured;
  }
  variable.set(std::nullopt);
  EXPECT_EQ(platform::nominatimUrl(), "https://nominatim.openstreetmap.org");
}

}  // namespace
}  // namespace wren

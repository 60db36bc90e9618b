// The location methods through the built helper: the position from the data root's location
// file (no GeoClue: the system bus is pointed at nothing), addresses from a stub geocoding
// service on 127.0.0.1, and coordinates of every wrong kind.

#include <gtest/gtest.h>

#include "support/HelperProcess.h"
#include "support/StubHttpServer.h"

namespace wren::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kNetworkMessage =
    "Looking up the address needs the internet (or Apple's geocoding service is limiting requests; wait a minute).";

constexpr const char* kShop = R"({"name":"","category":"building","type":"yes",
  "address":{"house_number":"221B","road":"Baker Street","suburb":"Marylebone","city":"London",
             "state":"England","postcode":"NW1 6XE","country":"United Kingdom","country_code":"gb"}})";

class LocationE2e : public ::testing::Test {
 protected:
  LocationE2e()
      : server_([this](const std::string&) {
          std::lock_guard lock(mutex_);
          return response_;
        }) {
    // Whatever bus this machine has, the helper finds no GeoClue on this one, at once.
    helper_.setEnv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (helper_.home() / "no-bus").string());
    helper_.setEnv("WREN_GEOCODER_URL", server_.baseUrl());
  }
  void answerWith(StubResponse response) {
    std::lock_guard lock(mutex_);
    response_ = std::move(response);
  }
  void grantLocation() { helper_.writeFile("wren/privacy.json", R"({"location":"granted"})"); }

  HelperProcess helper_;
  std::mutex mutex_;
  StubResponse response_{200, "OK", kShop};
  StubHttpServer server_;
};

TEST_F(LocationE2e, ThePositionOfTheLocationFileWithItsAddress) {
  grantLocation();
  helper_.writeFile("wren/location", "# home\n51.5237 # lat\n-0.1585\n35.25\n65.04\n");
  auto started = std::chrono::steady_clock::now();
  HelperRun run = helper_.run({requestLine(1, "location.get", {{"ignored", true}})});
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s) << "GeoClue's absence is found out at once";
  const Json& result = run.result(1);
  std::vector<std::string> keys;
  for (const auto& item : result.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"latitude", "longitude", "accuracy_m", "timestamp", "altitude_m", "address"}));
  EXPECT_EQ(result["latitude"], 51.5237);
  EXPECT_EQ(result["longitude"], -0.1585);
  EXPECT_EQ(result["accuracy_m"], 65.0);
  EXPECT_EQ(result["altitude_m"], 35.3);
  EXPECT_EQ(result["address"],
            (Json{{"found", true}, {"name", "221B Baker Street"}, {"street", "221B Baker Street"}, {"sub_locality", "Marylebone"},
                  {"locality", "London"}, {"administrative_area", "England"}, {"postal_code", "NW1 6XE"},
                  {"country", "United Kingdom"}, {"country_code", "GB"},
                  {"formatted", "221B Baker Street, London England NW1 6XE, United Kingdom"}}));
  ASSERT_EQ(server_.requests().size(), 1u);
  EXPECT_NE(server_.requests()[0].target.find("lat=51.5237&lon=-0.1585"), std::string::npos);
}

TEST_F(LocationE2e, AFailedAddressLookupStillAnswersThePosition) {
  grantLocation();
  helper_.writeFile("wren/location", "10\n20\n0\n5\n");
  answerWith({429, "Too Many Requests", "{}"});
  HelperRun throttled = helper_.run({requestLine(1, "location.get")});
  EXPECT_EQ(throttled.result(1)["address"], nullptr);
  EXPECT_EQ(throttled.result(1)["address_error"], kNetworkMessage);
  EXPECT_EQ(throttled.result(1)["latitude"], 10.0);

  answerWith({200, "OK", R"({"error":"Unable to geocode"})"});
  HelperRun nothing = helper_.run({requestLine(1, "location.get")});
  EXPECT_EQ(nothing.result(1)["address"], (Json{{"found", false}}));
  EXPECT_FALSE(nothing.result(1).contains("address_error"));
}

TEST_F(LocationE2e, WithoutPermissionOrPositionTheMethodFails) {
  // No file and no GeoClue: Location Services count as switched off.
  grantLocation();
  HelperRun off = helper_.run({requestLine(1, "location.get")});
  EXPECT_EQ(off.error(1)["code"], "os_permission");

  helper_.writeFile("wren/location", "10\n20\n0\n5\n");
  helper_.writeFile("wren/privacy.json", R"({"location":"denied"})");
  HelperRun denied = helper_.run({requestLine(1, "location.get")});
  EXPECT_EQ(denied.error(1)["code"], "os_permission");
  EXPECT_TRUE(denied.error(1)["details"].contains("settingsUrl"));
  EXPECT_TRUE(server_.requests().empty());

  grantLocation();
  std::string path = helper_.writeFile("wren/location", "10\n20\n").string();
  HelperRun broken = helper_.run({requestLine(1, "location.get")});
  EXPECT_EQ(broken.error(1),
            (Json{{"code", "execution_failed"},
                  {"message", "This Mac could not work out its location: " + path + ": the altitude is missing"}}));
}

TEST_F(LocationE2e, GeocodeAnswersThePlaceWithTheCoordinatesAndRefusesBadOnes) {
  HelperRun run = helper_.run({
      requestLine(1, "location.geocode", {{"latitude", 51.5237}, {"longitude", -0.1585}}),
      requestLine(2, "location.geocode", {{"latitude", "51.5"}, {"longitude", 0}}),
      requestLine(3, "location.geocode", {{"latitude", 90.5}, {"longitude", 0}}),
      requestLine(4, "location.geocode", {{"latitude", 0}, {"longitude", 181}}),
      requestLine(5, "location.geocode", {{"longitude", 0}}),
      requestLine(6, "location.geocode", {{"latitude", {1}}, {"longitude", 0}}),
      R"({"id":7,"method":"location.geocode","params":{"latitude":NaN,"longitude":0}})",
      R"({"id":8,"method":"location.geocode","params":{"latitude":1e999,"longitude":0}})",
  });
  const Json& place = run.result(1);
  EXPECT_EQ(place["found"], true);
  EXPECT_EQ(place["locality"], "London");
  EXPECT_EQ(place["latitude"], 51.5237);
  EXPECT_EQ(place["longitude"], -0.1585);
  const std::pair<int, const char*> refused[] = {
      {2, "latitude and longitude are required numbers"},
      {3, "latitude must be within [-90, 90], got 90.5"},
      {4, "longitude must be within [-180, 180], got 181.0"},
      {5, "latitude and longitude are required numbers"},
      {6, "latitude and longitude are required numbers"},
  };
  for (const auto& [id, message] : refused)
    EXPECT_EQ(run.error(id), (Json{{"code", "invalid_args"}, {"message", message}})) << id;
  // Text that is not JSON never reaches the method: it is reported and left unanswered.
  EXPECT_EQ(run.replies.size(), 6u);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(server_.requests().size(), 1u) << "refused coordinates are never looked up";
}

}  // namespace
}  // namespace wren::testing

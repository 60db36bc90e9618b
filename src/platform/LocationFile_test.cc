#include "platform/LocationFile.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <fstream>

#include "platform/EnvironmentVariable.h"
#include "platform/GeoClueLocationSource.h"
#include "platform/MainQueue.h"
#include "support/TemporaryFolder.h"

namespace wren::platform {
namespace {

using namespace std::chrono_literals;

TEST(LocationFile, ReadsGeoCluesFormatAndSaysWhatIsWrongOtherwise) {
  struct Case {
    const char* name;
    const char* text;
    std::string problem;  // empty: a fix of 40.5, -74.25, altitude 96, accuracy 1.5
  };
  const Case cases[] = {
      {"plain", "40.5\n-74.25\n96\n1.5\n", ""},
      {"comments and blank lines", "# Our office\n\n40.5   # latitude\n-74.25\t# longitude\n96 #\n1.5", ""},
      {"CR LF line ends", "40.5\r\n-74.25\r\n96\r\n1.5\r\n", ""},
      {"empty", "", "the latitude is missing"},
      {"three values", "40.5\n-74.25\n96\n", "the accuracy is missing"},
      {"five values", "40.5\n-74.25\n96\n1.5\n7\n", "line 5 holds a fifth value, \"7\""},
      {"text", "40.5\nwest\n96\n1.5\n", "line 2 should hold the longitude as a number, not \"west\""},
      {"trailing garbage", "40.5N\n-74.25\n96\n1.5\n", "line 1 should hold the latitude as a number, not \"40.5N\""},
      {"not a number", "nan\n-74.25\n96\n1.5\n", "line 1 should hold the latitude as a number, not \"nan\""},
      {"latitude out of range", "90.5\n0\n0\n1\n", "the latitude is not within [-90, 90]"},
      {"longitude out of range", "0\n-181\n0\n1\n", "the longitude is not within [-180, 180]"},
      {"negative accuracy", "0\n0\n0\n-1\n", "the accuracy is negative"},
  };
  const Instant readAt = fromSeconds(1700000000);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LocationFileReading reading = parseLocationFile(c.text, readAt);
    EXPECT_EQ(reading.problem, c.problem);
    if (!c.problem.empty()) {
      EXPECT_FALSE(reading.fix);
      continue;
    }
    ASSERT_TRUE(reading.fix);
    EXPECT_EQ(reading.fix->latitude, 40.5);
    EXPECT_EQ(reading.fix->longitude, -74.25);
    EXPECT_EQ(reading.fix->altitude, 96);
    EXPECT_EQ(reading.fix->horizontalAccuracy, 1.5);
    EXPECT_GE(reading.fix->verticalAccuracy, 0) << "the file's altitude counts as known";
    EXPECT_EQ(reading.fix->timestamp, readAt);
  }
}

TEST(LocationFile, AMissingFileIsNeitherAFixNorAProblemAndAHugeOneIsNotReadWhole) {
  testing::TemporaryFolder folder("wren-location");
  LocationFileReading missing = readLocationFile(folder.path() / "location");
  EXPECT_FALSE(missing.fix);
  EXPECT_EQ(missing.problem, "");

  std::ofstream(folder.path() / "location") << std::string(1 << 20, '#');
  LocationFileReading huge = readLocationFile(folder.path() / "location");
  EXPECT_FALSE(huge.fix);
  EXPECT_NE(huge.problem.find("larger than a location file can be"), std::string::npos) << huge.problem;
}

TEST(GeoClueErrors, AbsenceDenialAndTheRest) {
  struct Case {
    GQuark domain;
    int code;
    GeoClueFailure expected;
  };
  const Case cases[] = {
      {G_IO_ERROR, G_IO_ERROR_CANCELLED, GeoClueFailure::Cancelled},
      {G_IO_ERROR, G_IO_ERROR_TIMED_OUT, GeoClueFailure::Absent},
      {G_IO_ERROR, G_IO_ERROR_NOT_FOUND, GeoClueFailure::Absent},
      {G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN, GeoClueFailure::Absent},
      {G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY, GeoClueFailure::Absent},
      {G_DBUS_ERROR, G_DBUS_ERROR_SPAWN_CHILD_EXITED, GeoClueFailure::Absent},
      {G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD, GeoClueFailure::Absent},
      {G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED, GeoClueFailure::Denied},
      {G_DBUS_ERROR, G_DBUS_ERROR_AUTH_FAILED, GeoClueFailure::Denied},
      {G_DBUS_ERROR, G_DBUS_ERROR_FAILED, GeoClueFailure::Other},
      {G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS, GeoClueFailure::Other},
      {G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED, GeoClueFailure::Other},
  };
  for (const Case& c : cases) {
    GError* error = g_error_new_literal(c.domain, c.code, "failed");
    EXPECT_EQ(classifyGeoClueError(error), c.expected) << g_quark_to_string(c.domain) << " " << c.code;
    g_error_free(error);
  }
}

// A machine without a system bus has no GeoClue: the file answers at once.
TEST(GeoClueLocationSource, WithoutASystemBusTheFileAnswersAtOnce) {
  testing::TemporaryFolder folder("wren-location");
  EnvironmentVariable bus("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (folder.path() / "no-bus").string());
  GeoClueLocationSource source(folder.path() / "location");
  struct Heard {
    std::vector<LocationFix> fixes;
    std::optional<LocationError> error;
  };
  auto ask = [&source] {
    Heard heard;
    bool done = false;
    auto manager = source.makeManager({[&](std::vector<LocationFix> fixes) { heard.fixes = fixes; done = true; mainQueue::quit(); },
                                       [&](LocationError error) { heard.error = error; done = true; mainQueue::quit(); }});
    auto started = std::chrono::steady_clock::now();
    mainQueue::post([&] { manager->requestLocation(); });
    mainQueue::run();
    EXPECT_TRUE(done);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 500ms);
    manager->stopUpdatingLocation();
    return heard;
  };

  Heard none = ask();
  ASSERT_TRUE(none.error);
  EXPECT_EQ(none.error->kind, LocationErrorKind::Other);
  EXPECT_EQ(none.error->description, "neither GeoClue nor a location file gives this computer's position");

  std::ofstream(folder.path() / "location") << "51.5\n-0.125\n11\n20\n";
  Heard fixed = ask();
  ASSERT_EQ(fixed.fixes.size(), 1u);
  EXPECT_EQ(fixed.fixes[0].latitude, 51.5);
  EXPECT_EQ(fixed.fixes[0].horizontalAccuracy, 20);

  std::ofstream(folder.path() / "location") << "51.5\n";
  Heard broken = ask();
  ASSERT_TRUE(broken.error);
  EXPECT_NE(broken.error->description.find("the longitude is missing"), std::string::npos);
}

}  // namespace
}  // namespace wren::platform

#include "permissions/Permissions.h"

#include <gtest/gtest.h>

#include "app/HelperError.h"
#include "platform/LocationServices.h"
#include "support/ScopedDataHome.h"

namespace wren {
namespace {

using platform::ScopedDataHome;

constexpr const char* kCalendarsUrl =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Calendars";
constexpr const char* kRemindersUrl =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Reminders";
constexpr const char* kContactsUrl =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Contacts";
constexpr const char* kLocationUrl =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_LocationServices";

// Runs the guard and gives the error it raised; fails the test when it let the call through.
template <typename Guard>
HelperError guardError(Guard guard) {
  try {
    guard();
  } catch (const HelperError& error) {
    return error;
  }
  ADD_FAILURE() << "the guard let the call through";
  return HelperError(ErrorCode::ExecutionFailed, "");
}

void expectPermissionError(const HelperError& error, const std::string& message, const std::string& url) {
  EXPECT_EQ(error.code(), "os_permission");
  EXPECT_EQ(error.message(), message);
  ASSERT_TRUE(error.details().has_value());
  EXPECT_EQ(*error.details(), (Json{{"settingsUrl", url}}));
}

TEST(EventStatus, MapsEachDecisionOfBothKinds) {
  struct Case {
    const char* privacy;  // the privacy.json text, or nullptr for no file
    const char* calendar;
    const char* reminders;
  };
  const Case cases[] = {
      {nullptr, "not_determined", "not_determined"},
      {"[1, 2]", "not_determined", "not_determined"},
      {R"({"calendar": "granted"})", "granted", "not_determined"},
      {R"({"calendar": "denied", "reminders": "restricted"})", "denied", "restricted"},
      {R"({"calendar": "write_only", "reminders": "granted"})", "write_only", "granted"},
      {R"({"calendar": "full", "reminders": "Granted"})", "unknown", "unknown"},
      {R"({"calendar": 3, "reminders": null})", "not_determined", "not_determined"},
      // An empty string is a value the platform does not know, not a question never asked.
      {R"({"calendar": "", "reminders": ""})", "unknown", "unknown"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.privacy ? c.privacy : "no privacy.json");
    ScopedDataHome home;
    if (c.privacy) home.write("privacy.json", c.privacy);
    EXPECT_EQ(eventStatus(EntityType::Event), c.calendar);
    EXPECT_EQ(eventStatus(EntityType::Reminder), c.reminders);
  }
}

TEST(EnsureEvents, PassesOnlyFullAccess) {
  ScopedDataHome home;
  home.write("privacy.json", R"({"calendar": "granted", "reminders": "write_only"})");
  EXPECT_NO_THROW(ensureEvents(EntityType::Event));
  EXPECT_THROW(ensureEvents(EntityType::Reminder), HelperError);
}

TEST(EnsureEvents, ExplainsEachStatusWithTheLinkOfItsPane) {
  struct Case {
    const char* decision;
    EntityType kind;
    const char* message;
    const char* url;
  };
  const Case cases[] = {
      {"write_only", EntityType::Event,
       "macOS only gave Wren write-only access to Calendar. Open System Settings → Privacy & "
       "Security → Calendars → Wren and choose Full Access.",
       kCalendarsUrl},
      {"", EntityType::Reminder,
       "Wren has not been allowed to access Reminders on this Mac yet. Connect \"提醒事项\" in Wren "
       "→ Settings → Devices on this computer (macOS will ask once).",
       kRemindersUrl},
      {"", EntityType::Event,
       "Wren has not been allowed to access Calendar on this Mac yet. Connect \"日历\" in Wren → "
       "Settings → Devices on this computer (macOS will ask once).",
       kCalendarsUrl},
      {"denied", EntityType::Reminder,
       "macOS has not allowed Wren to access Reminders: System Settings → Privacy & Security → "
       "Reminders → turn on Wren.",
       kRemindersUrl},
      {"restricted", EntityType::Event,
       "macOS has not allowed Wren to access Calendar: System Settings → Privacy & Security → "
       "Calendars → turn on Wren.",
       kCalendarsUrl},
      {"sometimes", EntityType::Event,
       "macOS has not allowed Wren to access Calendar: System Settings → Privacy & Security → "
       "Calendars → turn on Wren.",
       kCalendarsUrl},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.decision) + (c.kind == EntityType::Event ? " calendar" : " reminders"));
    ScopedDataHome home;
    const char* key = c.kind == EntityType::Event ? "calendar" : "reminders";
    if (*c.decision) home.write("privacy.json", Json{{key, c.decision}}.dump());
    expectPermissionError(guardError([&] { ensureEvents(c.kind); }), c.message, c.url);
  }
}

TEST(EnsureContacts, SendsUndecidedToTheHostAndRefusalsToSettings) {
  const std::string notAsked =
      "Wren has not been allowed to access Contacts on this Mac yet. Connect \"通讯录\" in Wren → "
      "Settings → Devices on this computer (macOS will ask once).";
  const std::string refused =
      "macOS has not allowed Wren to access Contacts: System Settings → Privacy & Security → "
      "Contacts → turn on Wren.";
  struct Case {
    const char* decision;
    const std::string* message;  // nullptr: the call is let through
  };
  const Case cases[] = {
      {"granted", nullptr},   {"denied", &refused}, {"restricted", &refused},
      {"", &notAsked},        {"grnated", &notAsked}, {"write_only", &notAsked},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.decision);
    ScopedDataHome home;
    if (*c.decision) home.write("privacy.json", Json{{"contacts", c.decision}}.dump());
    if (!c.message) {
      EXPECT_NO_THROW(ensureContacts());
    } else {
      expectPermissionError(guardError([] { ensureContacts(); }), *c.message, kContactsUrl);
    }
  }
}

TEST(LocationStatus, ReadsTheDecisionWhenServicesAreOn) {
  struct Case {
    const char* decision;
    const char* status;
  };
  const Case cases[] = {
      {"", "not_determined"},     {"granted", "granted"},   {"denied", "denied"},
      {"restricted", "restricted"}, {"write_only", "not_determined"}, {"yes", "not_determined"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.decision);
    ScopedDataHome home;
    // A fixed location switches the services on whatever the system bus says.
    home.write("location", "# home\n48.85\n2.35\n");
    if (*c.decision) home.write("privacy.json", Json{{"location", c.decision}}.dump());
    EXPECT_EQ(locationStatus(), c.status);
  }
}

TEST(LocationStatus, ServicesOffOutweighsAGrant) {
  if (platform::geoClueAvailable()) GTEST_SKIP() << "GeoClue runs on this machine";
  ScopedDataHome home;
  home.write("privacy.json", R"({"location": "granted"})");
  EXPECT_EQ(locationStatus(), "services_off");
  expectPermissionError(guardError([] { ensureLocation(); }),
                        "Location Services are turned off on this Mac: System Settings → Privacy & "
                        "Security → Location Services → turn the switch on and allow Wren.",
                        kLocationUrl);
}

TEST(EnsureLocation, ExplainsEachStatus) {
  const std::string refused =
      "macOS has not allowed Wren to use this Mac's location: System Settings → Privacy & Security → "
      "Location Services → turn on Wren.";
  struct Case {
    const char* decision;
    std::string message;  // empty: the call is let through
  };
  const Case cases[] = {
      {"granted", ""},
      {"", "Wren has not been allowed to use this Mac's location yet. Connect \"位置\" in Wren → "
           "Settings → Devices on this computer."},
      {"denied", refused},
      {"restricted", refused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.decision);
    ScopedDataHome home;
    home.write("location", "48.85\n2.35\n");
    if (*c.decision) home.write("privacy.json", Json{{"location", c.decision}}.dump());
    if (c.message.empty()) {
      EXPECT_NO_THROW(ensureLocation());
    } else {
      expectPermissionError(guardError([] { ensureLocation(); }), c.message, kLocationUrl);
    }
  }
}

}  // namespace
}  // namespace wren

// permissions.status and permissions.request through the method table, with a scripted
// dialog program, a temporary data root and the real main queue.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "app/Router.h"
#include "permissions/ConsentRequests.h"
#include "permissions/LocationAuthorizer.h"
#include "permissions/Permissions.h"
#include "platform/LocationServices.h"
#include "platform/vdir/VdirStore.h"
#include "support/MainQueueThread.h"
#include "support/ScopedDataHome.h"
#include "support/ScriptedDialog.h"
#include "support/StoreTestSupport.h"
#include "support/Timing.h"
#include "support/TestSupport.h"

namespace wren {
namespace {

using namespace std::chrono_literals;
using platform::ScopedDataHome;
using testing::ScriptedDialog;

constexpr const char* kPrefix = "x-apple.systempreferences:com.apple.preference.security?";
const std::string kCalendarText =
    "你的助理要查看、新建你在「日历」里的日程(只在你于 Wren → 设置 → 设备 里连上「日历」之后)。";

// The data root, a running main queue, and the method table with the permission methods
// asking through the scripted dialog. Members end in that order: the main queue stops
// before the data root goes.
struct Fixture {
  explicit Fixture(const std::string& script, std::chrono::milliseconds locationLimit = 10s,
                   std::chrono::milliseconds dialogDeadline = 10s, bool hasDisplay = true)
      : dialog(script) {
    PermissionServices services{platform::ConsentDialogs(dialog.environment(hasDisplay)), "/proc/self/exe",
                                dialogDeadline, locationLimit};
    registerPermissions(router, box, std::move(services));
  }

  Json request(const std::string& kind) {
    return router.handle("permissions.request", testing::params(Json{{"kind", kind}}.dump()));
  }
  Json status() { return router.handle("permissions.status", Params()); }
  Json privacy() const { return Json::parse(platform::vdir::testing::readText(home.root() / "privacy.json")); }

  ScopedDataHome home;
  ScriptedDialog dialog;
  testing::MainQueueThread mainThread;
  EventStoreBox box{platform::makeVdirEventStore};
  Router router;
};

Json answer(const std::string& status, const std::string& anchor) {
  return Json{{"status", status}, {"settingsUrl", std::string(kPrefix) + anchor}};
}

TEST(PermissionsStatus, ListsTheSixKindsInOrderWithoutAsking) {
  Fixture fixture("exit 0");
  fixture.home.write("location", "48.85\n2.35\n");
  fixture.home.write("privacy.json", R"({"calendar":"write_only","reminders":"full","contacts":"grnated",
      "location":"denied","accessibility":"restricted","screen":"granted","other":"kept"})");
  Json status = fixture.status();
  EXPECT_EQ(status.dump(), Json({{"calendar", "write_only"},
                                 {"reminders", "unknown"},
                                 {"contacts", "not_determined"},
                                 {"location", "denied"},
                                 {"accessibility", "denied"},
                                 {"screen", "granted"}})
                               .dump());
  EXPECT_TRUE(fixture.dialog.runs().empty());
}

TEST(PermissionsRequest, RefusesAMissingOrMisspeltKind) {
  Fixture fixture("exit 0");
  struct Case {
    const char* params;
    const char* message;
  };
  const Case cases[] = {
      {"{}", "kind is required"},
      {R"({"kind": "  "})", "kind is required"},
      {R"({"kind": 3})", "kind is required"},
      {R"({"kind": "Calendar"})", "unknown permission kind Calendar"},
      {R"({"kind": "camera"})", "unknown permission kind camera"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params);
    EXPECT_EQ(testing::invalidArgsMessage([&] { fixture.router.handle("permissions.request", testing::params(c.params)); }),
              c.message);
  }
  EXPECT_TRUE(fixture.dialog.runs().empty());
}

TEST(PermissionsRequest, AnswersADecidedKindAtOnceWithItsLink) {
  struct Case {
    const char* kind;
    const char* decision;
    const char* status;
    const char* anchor;
  };
  const Case cases[] = {
      {"calendar", "denied", "denied", "Privacy_Calendars"},
      {"calendar", "write_only", "write_only", "Privacy_Calendars"},
      {"reminders", "restricted", "restricted", "Privacy_Reminders"},
      {"reminders", "sometimes", "unknown", "Privacy_Reminders"},
      {"contacts", "denied", "denied", "Privacy_Contacts"},
      {"location", "denied", "denied", "Privacy_LocationServices"},
      {"accessibility", "denied", "denied", "Privacy_Accessibility"},
      {"screen", "granted", "granted", "Privacy_ScreenCapture"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + " " + c.decision);
    Fixture fixture("exit 0");
    fixture.home.write("location", "48.85\n2.35\n");
    fixture.home.write("privacy.json", Json{{c.kind, c.decision}}.dump());
    EXPECT_EQ(fixture.request(c.kind), answer(c.status, c.anchor));
    EXPECT_TRUE(fixture.dialog.runs().empty());
  }
}

TEST(PermissionsRequest, RecordsTheAnswerAndMakesTheCalendarStore) {
  Fixture fixture("exit 0");
  fixture.home.write("privacy.json", R"({"future":{"x":1}})");
  EXPECT_EQ(fixture.request("  calendar "), answer("granted", "Privacy_Calendars"));
  ASSERT_EQ(fixture.dialog.runs().size(), 1u);
  EXPECT_EQ(fixture.dialog.runs()[0][3], "--text=" + kCalendarText);
  EXPECT_EQ(fixture.privacy(), (Json{{"future", {{"x", 1}}}, {"calendar", "granted"}}));
  // The store is there at once, with its one default calendar, and the shared store sees it.
  std::vector<platform::Calendar> calendars = fixture.box.store().calendars(EntityType::Event);
  ASSERT_EQ(calendars.size(), 1u);
  EXPECT_EQ(calendars[0].title, "Calendar");
  EXPECT_EQ(fixture.box.store().defaultCalendar(EntityType::Event)->id, calendars[0].id);
  // Decided now: asked again, it answers without a dialog.
  EXPECT_EQ(fixture.request("calendar"), answer("granted", "Privacy_Calendars"));
  EXPECT_EQ(fixture.dialog.runs().size(), 1u);
}

TEST(PermissionsRequest, ARefusalMakesNoStore) {
  Fixture fixture("exit 1");
  EXPECT_EQ(fixture.request("reminders"), answer("denied", "Privacy_Reminders"));
  EXPECT_EQ(fixture.privacy(), (Json{{"reminders", "denied"}}));
  EXPECT_FALSE(std::filesystem::exists(fixture.home.root() / "reminders"));
}

TEST(PermissionsRequest, AGrantOfContactsMakesTheFirstBookOnly) {
  {
    Fixture fixture("exit 0");
    EXPECT_EQ(fixture.request("contacts"), answer("granted", "Privacy_Contacts"));
    EXPECT_EQ(platform::vdir::testing::readText(fixture.home.root() / "contacts/default/displayname"), "Contacts");
    EXPECT_EQ(platform::vdir::testing::entryNames(fixture.home.root() / "contacts"), (std::set<std::string>{"default"}));
  }
  {
    // A store with a book of its own keeps it and gets no other.
    Fixture fixture("exit 0");
    fixture.home.write("contacts/work/displayname", "Work");
    EXPECT_EQ(fixture.request("contacts"), answer("granted", "Privacy_Contacts"));
    EXPECT_EQ(platform::vdir::testing::entryNames(fixture.home.root() / "contacts"), (std::set<std::string>{"work"}));
  }
}

TEST(PermissionsRequest, LeavesTheKindUndecidedWhenNoAnswerComes) {
  struct Case {
    const char* name;
    const char* script;
    bool hasDisplay;
    size_t runs;
  };
  const Case cases[] = {
      {"no display", "exit 0", false, 0},
      {"the dialog crashes", "kill -SEGV $$", true, 1},
      {"the dialog fails", "exit 3", true, 1},
      {"the dialog hangs past its deadline", "exec sleep 30", true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture fixture(c.script, 10s, 200ms, c.hasDisplay);
    fixture.home.write("privacy.json", R"({"screen":"denied"})");
    EXPECT_EQ(fixture.request("calendar"), answer("not_determined", "Privacy_Calendars"));
    EXPECT_EQ(fixture.request("contacts"), answer("not_determined", "Privacy_Contacts"));
    EXPECT_EQ(fixture.privacy(), (Json{{"screen", "denied"}}));
    EXPECT_EQ(fixture.dialog.runs().size(), 2 * c.runs);
    EXPECT_FALSE(std::filesystem::exists(fixture.home.root() / "calendars"));
    EXPECT_FALSE(std::filesystem::exists(fixture.home.root() / "contacts"));
  }
}

TEST(PermissionsRequest, ConcurrentRequestsForOneKindShareOneDialog) {
  Fixture fixture("sleep 0.3; exit 0");
  std::vector<std::future<Json>> answers;
  for (int i = 0; i < 4; ++i) answers.push_back(std::async(std::launch::async, [&] { return fixture.request("reminders"); }));
  for (auto& each : answers) EXPECT_EQ(each.get(), answer("granted", "Privacy_Reminders"));
  EXPECT_EQ(fixture.dialog.runs().size(), 1u);
}

TEST(PermissionsRequest, KeepsACopyOfAPrivacyFileThatIsNotJson) {
  Fixture fixture("exit 0");
  const std::string broken = "{\"calendar\": \"denied\", oops";
  fixture.home.write("privacy.json", broken);
  // Unreadable as decisions, so nothing counts as decided and the person is asked.
  EXPECT_EQ(fixture.request("calendar"), answer("granted", "Privacy_Calendars"));
  EXPECT_EQ(fixture.privacy(), (Json{{"calendar", "granted"}}));
  EXPECT_EQ(platform::vdir::testing::readText(fixture.home.root() / "privacy.json.broken"), broken);
}

TEST(PermissionsRequest, TrustKindsReportTheStatusOfNowAndRecordTheAnswerLater) {
  for (const char* kind : {"accessibility", "screen"}) {
    SCOPED_TRACE(kind);
    Fixture fixture("sleep 0.2; exit 0");
    const std::string anchor = std::string(kind) == "screen" ? "Privacy_ScreenCapture" : "Privacy_Accessibility";
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(fixture.request(kind), answer("denied", anchor));
    EXPECT_LT(std::chrono::steady_clock::now() - started, testing::scaledBound(150ms));
    EXPECT_TRUE(testing::eventually([&] { return fixture.status()[kind] == "granted"; }));
    EXPECT_EQ(fixture.dialog.runs().size(), 1u);
  }
}

TEST(PermissionsRequest, LocationWaitsForTheAnswer) {
  Fixture fixture("sleep 0.1; exit 0");
  fixture.home.write("location", "48.85\n2.35\n");
  EXPECT_EQ(fixture.request("location"), answer("granted", "Privacy_LocationServices"));
  EXPECT_EQ(fixture.privacy(), (Json{{"location", "granted"}}));
}

TEST(PermissionsRequest, LocationAnswersAtItsLimitWhenTheDialogHangs) {
  Fixture fixture("exec sleep 30", 100ms, 400ms);
  fixture.home.write("location", "48.85\n2.35\n");
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(fixture.request("location"), answer("not_determined", "Privacy_LocationServices"));
  auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_GE(waited, 100ms);
  EXPECT_LT(waited, testing::scaledBound(350ms));
  // The dialog is closed at its own deadline, unanswered.
  ASSERT_EQ(fixture.dialog.runs().size(), 1u);
  pid_t pid = fixture.dialog.pids()[0];
  EXPECT_TRUE(testing::eventually([pid] { return kill(pid, 0) != 0; }));
  EXPECT_FALSE(std::filesystem::exists(fixture.home.root() / "privacy.json"));
}

TEST(PermissionsRequest, LocationWithServicesOffAsksNothing) {
  if (platform::geoClueAvailable()) GTEST_SKIP() << "GeoClue runs on this machine";
  Fixture fixture("exit 0");
  EXPECT_EQ(fixture.request("location"), answer("services_off", "Privacy_LocationServices"));
  EXPECT_TRUE(fixture.dialog.runs().empty());
}

// The authorizer itself: whatever order the dialog's answer and the limit come in, the
// request is resumed exactly once, and a late one of the two changes nothing.
TEST(LocationAuthorizer, ResumesExactlyOnceWhenTheAnswerRacesTheLimit) {
  ScopedDataHome home;
  home.write("location", "48.85\n2.35\n");
  ScriptedDialog dialog("sleep 0.05; exit 0");
  testing::MainQueueThread mainThread;
  ConsentRequests consent(platform::ConsentDialogs(dialog.environment()), "/proc/self/exe", 5s);
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    std::filesystem::remove(home.root() / "privacy.json");
    auto calls = std::make_shared<std::atomic<int>>(0);
    auto first = std::make_shared<std::promise<std::string>>();
    LocationAuthorizer::make(consent, 50ms)->request([calls, first](const std::string& status) {
      if (calls->fetch_add(1) == 0) first->set_value(status);
    });
    std::string status = first->get_future().get();
    EXPECT_TRUE(status == "granted" || status == "not_determined") << status;
    // Both the dialog and the limit are over by now.
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(calls->load(), 1);
    EXPECT_EQ(locationStatus(), "granted");
  }
}

}  // namespace
}  // namespace wren

// The fourteen container methods of calendars and reminder lists, run through the built
// helper over store folders laid out in a temporary data home.

#include <gtest/gtest.h>

#include "support/HelperProcess.h"

namespace wren::testing {
namespace {

namespace fs = std::filesystem;

class ContainersE2e : public ::testing::Test {
 protected:
  void grant(const std::string& calendar = "granted", const std::string& reminders = "granted") {
    Json decisions = Json::object();
    if (!calendar.empty()) decisions["calendar"] = calendar;
    if (!reminders.empty()) decisions["reminders"] = reminders;
    helper_.writeFile("wren/privacy.json", decisions.dump());
  }
  // "<store>/<source>/<folder>" with its title and optional colour and flags.
  void container(const std::string& path, const std::string& title, const std::string& color = "",
                 const Json& flags = nullptr) {
    helper_.writeFile("wren/" + path + "/displayname", title + "\n");
    if (!color.empty()) helper_.writeFile("wren/" + path + "/color", color + "\n");
    if (!flags.is_null()) helper_.writeFile("wren/" + path + "/calendar.json", flags.dump());
  }
  void source(const std::string& path, const Json& meta) {
    helper_.writeFile("wren/" + path + "/source.json", meta.dump());
  }
  // A small store of each kind: two accounts, a read-only, a subscribed and a system
  // calendar, and a default for new items.
  void sampleStores() {
    source("calendars/home", {{"title", "On My Computer"}});
    source("calendars/work", {{"title", "Acme"}, {"type", "caldav"}, {"delegate", true}});
    container("calendars/home/personal", "Personal", "#FF9500");
    container("calendars/home/holidays", "Holidays", "", {{"subscribed", true}, {"type", "subscription"}});
    container("calendars/work/team", "Team", "#0000FF");
    container("calendars/work/archive", "Archive", "", {{"read_only", true}});
    container("calendars/home/system", "Birthdays", "", {{"immutable", true}});
    helper_.writeFile("wren/calendars/store.json", R"({"default": "home/personal"})");
    source("reminders/home", {{"title", "On My Computer"}});
    container("reminders/home/chores", "Chores");
    helper_.writeFile("wren/reminders/store.json", R"({"default": "home/chores"})");
  }

  HelperProcess helper_;
};

TEST_F(ContainersE2e, StatusAnswersBeforeAccessAndCountsAfter) {
  helper_.setEnv("TZ", "Europe/Berlin");
  HelperRun before = helper_.run({requestLine(1, "calendar.status"), requestLine(2, "reminders.status")});
  for (int id : {1, 2}) {
    SCOPED_TRACE(id);
    const Json& status = before.result(id);
    EXPECT_EQ(status["authorization"], "not_determined");
    EXPECT_EQ(status["full_access"], false);
    EXPECT_EQ(status["timezone"], "Europe/Berlin");
    EXPECT_NE(status["os_version"].get<std::string>().find(" (kernel "), std::string::npos);
    EXPECT_EQ(status["hint"],
              "Not asked yet: the person connects this group in Wren → Settings → Devices on this "
              "computer (macOS asks once).");
    EXPECT_FALSE(status.contains("containers"));
  }
  EXPECT_FALSE(fs::exists(helper_.dataRoot() / "calendars"));

  // Once granted, the first look creates the stores with their one default container.
  grant();
  HelperRun after = helper_.run({requestLine(1, "calendar.status"), requestLine(2, "reminders.status")});
  EXPECT_EQ(after.result(1)["full_access"], true);
  EXPECT_EQ(after.result(1)["containers"], 1);
  EXPECT_EQ(after.result(1)["default"]["name"], "Calendar");
  EXPECT_EQ(after.result(2)["default"]["name"], "Reminders");
  EXPECT_FALSE(after.result(1).contains("hint"));
  EXPECT_TRUE(fs::is_directory(helper_.dataRoot() / "calendars"));
}

TEST_F(ContainersE2e, EveryGuardedMethodExplainsEachMissingPermission) {
  const std::vector<std::string> calendarMethods = {
      "calendar.sources", "calendar.calendars.list", "calendar.calendars.get", "calendar.calendars.create",
      "calendar.calendars.update", "calendar.calendars.delete"};
  const std::vector<std::string> reminderMethods = {
      "reminders.sources", "reminders.lists.list", "reminders.lists.get", "reminders.lists.create",
      "reminders.lists.update", "reminders.lists.delete"};
  struct Case {
    std::string decision;
    std::string status;
    std::string calendarMessage;
    std::string reminderMessage;
  };
  const std::vector<Case> cases = {
      {"write_only", "write_only",
       "macOS only gave Wren write-only access to Calendar. Open System Settings → Privacy & Security → "
       "Calendars → Wren and choose Full Access.",
       "macOS only gave Wren write-only access to Reminders. Open System Settings → Privacy & Security → "
       "Reminders → Wren and choose Full Access."},
      {"", "not_determined",
       "Wren has not been allowed to access Calendar on this Mac yet. Connect \"日历\" in Wren → Settings → "
       "Devices on this computer (macOS will ask once).",
       "Wren has not been allowed to access Reminders on this Mac yet. Connect \"提醒事项\" in Wren → "
       "Settings → Devices on this computer (macOS will ask once)."},
      {"denied", "denied",
       "macOS has not allowed Wren to access Calendar: System Settings → Privacy & Security → Calendars → "
       "turn on Wren.",
       "macOS has not allowed Wren to access Reminders: System Settings → Privacy & Security → Reminders → "
       "turn on Wren."},
      {"restricted", "restricted",
       "macOS has not allowed Wren to access Calendar: System Settings → Privacy & Security → Calendars → "
       "turn on Wren.",
       "macOS has not allowed Wren to access Reminders: System Settings → Privacy & Security → Reminders → "
       "turn on Wren."},
      {"limited", "unknown",
       "macOS has not allowed Wren to access Calendar: System Settings → Privacy & Security → Calendars → "
       "turn on Wren.",
       "macOS has not allowed Wren to access Reminders: System Settings → Privacy & Security → Reminders → "
       "turn on Wren."},
  };
  const Json calendarsLink =
      Json{{"settingsUrl", "x-apple.systempreferences:com.apple.preference.security?Privacy_Calendars"}};
  const Json remindersLink =
      Json{{"settingsUrl", "x-apple.systempreferences:com.apple.preference.security?Privacy_Reminders"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    grant(c.decision, c.decision);
    std::vector<std::string> lines = {requestLine(1, "calendar.status"), requestLine(2, "reminders.status")};
    int id = 10;
    // Valid-looking params: the guard comes before every other check.
    for (const auto& method : calendarMethods)
      lines.push_back(requestLine(id++, method, {{"calendar_id", "home/calendar"}, {"name", "X"}, {"confirmed", true}}));
    for (const auto& method : reminderMethods)
      lines.push_back(requestLine(id++, method, {{"list_id", "home/reminders"}, {"name", "X"}, {"confirmed", true}}));
    HelperRun run = helper_.run(lines);
    EXPECT_EQ(run.result(1)["authorization"], c.status);
    EXPECT_EQ(run.result(2)["authorization"], c.status);
    for (int i = 10; i < id; ++i) {
      SCOPED_TRACE(i);
      bool calendar = i < 10 + static_cast<int>(calendarMethods.size());
      EXPECT_EQ(run.error(i), (Json{{"code", "os_permission"},
                                    {"message", calendar ? c.calendarMessage : c.reminderMessage},
                                    {"details", calendar ? calendarsLink : remindersLink}}));
    }
  }
  // Nothing was created behind the refusals.
  EXPECT_FALSE(fs::exists(helper_.dataRoot() / "calendars"));
  EXPECT_FALSE(fs::exists(helper_.dataRoot() / "reminders"));
}

TEST_F(ContainersE2e, ReadMethodsDescribeTheStore) {
  grant();
  sampleStores();
  HelperRun run = helper_.run({
      requestLine(1, "calendar.sources"),
      requestLine(2, "calendar.calendars.list"),
      requestLine(3, "calendar.calendars.list", {{"writable_only", true}}),
      requestLine(4, "calendar.calendars.list", {{"source_id", "nobody"}}),
      requestLine(5, "calendar.calendars.get", {{"calendar_id", "home/personal"}}),
      requestLine(6, "calendar.calendars.get", {{"calendar_id", " "}}),
      requestLine(7, "calendar.calendars.get", {{"calendar_id", "home/Personal"}}),
      requestLine(8, "reminders.lists.list"),
      requestLine(9, "reminders.lists.get", {{"list_id", "home/chores"}, {"count", true}}),
      requestLine(10, "reminders.lists.get", {{"list_id", "home/personal"}}),
      requestLine(11, "reminders.sources"),
  });
  const Json& sources = run.result(1)["sources"];
  ASSERT_EQ(sources.size(), 2u);
  EXPECT_EQ(sources[0], (Json{{"id", "work"}, {"name", "Acme"}, {"type", "caldav"},
                              {"container_ids", {"work/archive", "work/team"}}, {"is_delegate", true}}));
  EXPECT_EQ(sources[1]["container_ids"], (Json{"home/holidays", "home/personal", "home/system"}));

  std::vector<std::string> listed;
  for (const Json& row : run.result(2)["calendars"]) listed.push_back(row["id"]);
  EXPECT_EQ(listed, (std::vector<std::string>{"work/archive", "work/team", "home/system", "home/holidays",
                                              "home/personal"}));
  std::vector<std::string> writable;
  for (const Json& row : run.result(3)["calendars"]) writable.push_back(row["id"]);
  EXPECT_EQ(writable, (std::vector<std::string>{"work/team", "home/personal"}));
  EXPECT_EQ(run.result(4), (Json{{"calendars", Json::array()}}));

  EXPECT_EQ(run.result(5), (Json{{"id", "home/personal"},
                                 {"name", "Personal"},
                                 {"color", "#FF9500"},
                                 {"type", "local"},
                                 {"writable", true},
                                 {"is_default", true},
                                 {"immutable", false},
                                 {"subscribed", false},
                                 {"source", {{"id", "home"}, {"name", "On My Computer"}, {"type", "local"}}}}));
  EXPECT_EQ(run.error(6), (Json{{"code", "invalid_args"}, {"message", "calendar_id is required"}}));
  EXPECT_EQ(run.error(7)["message"],
            "No calendar with id home/Personal on this Mac. Get ids from calendar.list.");
  EXPECT_EQ(run.result(8)["lists"].size(), 1u);
  EXPECT_EQ(run.result(9)["reminder_count"], 0);
  EXPECT_EQ(run.result(9)["incomplete_count"], 0);
  EXPECT_EQ(run.error(10)["message"],
            "No reminder list with id home/personal on this Mac. Get ids from reminders.lists.");
  EXPECT_EQ(run.result(11)["sources"][0]["container_ids"], (Json{"home/chores"}));
}

TEST_F(ContainersE2e, CreateAndUpdateWriteTheFolders) {
  grant();
  sampleStores();
  HelperRun run = helper_.run({
      requestLine(1, "calendar.calendars.create", {{"name", "Gym"}, {"color", " ff9500 "}}),
      requestLine(2, "calendar.calendars.create", {{"name", "Shared"}, {"source_id", "work"}}),
      requestLine(3, "reminders.lists.create", {{"name", "Errands"}}),
      requestLine(4, "calendar.calendars.update", {{"calendar_id", "work/team"}, {"color", "#00FF00"}}),
      requestLine(5, "calendar.calendars.update", {{"calendar_id", "home/personal"}, {"name", "Private"}}),
  });
  const Json& gym = run.result(1);
  EXPECT_EQ(gym["name"], "Gym");
  EXPECT_EQ(gym["color"], "#FF9500");
  EXPECT_EQ(gym["source"]["id"], "home");
  EXPECT_EQ(gym["writable"], true);
  EXPECT_EQ(run.result(2)["source"]["name"], "Acme");
  EXPECT_EQ(run.result(3)["source"]["id"], "home");
  EXPECT_EQ(run.result(4)["name"], "Team");
  EXPECT_EQ(run.result(4)["color"], "#00FF00");
  EXPECT_EQ(run.result(5)["name"], "Private");
  EXPECT_EQ(run.result(5)["color"], "#FF9500");
  EXPECT_EQ(HelperProcess::readFile(helper_.dataRoot() / "calendars/home/personal/displayname").substr(0, 7),
            "Private");

  // A second run reads back what the first one wrote.
  HelperRun again = helper_.run({requestLine(1, "calendar.calendars.get", {{"calendar_id", gym["id"]}}),
                                 requestLine(2, "calendar.calendars.list", {{"source_id", "home"}})});
  EXPECT_EQ(again.result(1), gym);
  EXPECT_EQ(again.result(2)["calendars"].size(), 4u);
}

TEST_F(ContainersE2e, ChangesAreRefusedWithGuidance) {
  grant();
  sampleStores();
  struct Case {
    std::string method;
    Json params;
    std::string code;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"calendar.calendars.create", {{"color", "#FF9500"}}, "invalid_args", "name is required"},
      {"calendar.calendars.create", {{"name", "X"}, {"color", "#FF95"}}, "invalid_args",
       "color must be a hex color like #FF9500, got #FF95"},
      {"calendar.calendars.create", {{"name", "X"}, {"color", "##FF9500"}}, "invalid_args",
       "color must be a hex color like #FF9500, got ##FF9500"},
      {"reminders.lists.create", {{"name", "X"}, {"source_id", "mars"}}, "invalid_args",
       "No account source with id mars. Get ids from reminders.sources.list."},
      {"calendar.calendars.update", {{"calendar_id", "home/personal"}}, "invalid_args",
       "Pass name and/or color to change."},
      {"calendar.calendars.update", {{"calendar_id", "home/holidays"}, {"name", "Days off"}}, "invalid_args",
       "The calendar \"Holidays\" cannot be changed (system or subscribed)."},
      {"reminders.lists.update", {{"name", "X"}}, "invalid_args", "list_id is required"},
      {"calendar.calendars.delete", {{"calendar_id", "home/nothing"}}, "invalid_args",
       "No calendar with id home/nothing on this Mac. Get ids from calendar.list."},
      {"calendar.calendars.delete", {{"calendar_id", "home/system"}, {"confirmed", true}}, "invalid_args",
       "\"Birthdays\" is a system calendar and cannot be deleted."},
      {"calendar.calendars.delete", {{"calendar_id", "home/system"}, {"confirmed", "true"}},
       "needs_confirmation", "要删除「Birthdays」及其中的全部内容吗？"},
  };
  std::vector<std::string> lines;
  for (size_t i = 0; i < cases.size(); ++i) lines.push_back(requestLine(static_cast<int>(i), cases[i].method, cases[i].params));
  HelperRun run = helper_.run(lines);
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].method + " " + cases[i].params.dump());
    EXPECT_EQ(run.error(static_cast<int64_t>(i))["code"], cases[i].code);
    EXPECT_EQ(run.error(static_cast<int64_t>(i))["message"], cases[i].message);
  }
  EXPECT_EQ(HelperProcess::readFile(helper_.dataRoot() / "calendars/home/holidays/displayname"), "Holidays\n");
}

TEST_F(ContainersE2e, CreateWithoutAnyAccountToPutItIn) {
  grant();
  source("reminders/remote", {{"title", "Remote"}, {"type", "exchange"}});
  HelperRun run = helper_.run({requestLine(1, "reminders.lists.create", {{"name", "Errands"}})});
  EXPECT_EQ(run.error(1)["message"],
            "No default account to put the new reminder list in; pass source_id from reminders.sources.list.");
}

TEST_F(ContainersE2e, AnAccountThatRefusesNewCalendarsIsNamed) {
  grant();
  sampleStores();
  source("calendars/feeds", {{"title", "Feeds"}, {"type", "subscribed"}});
  HelperRun run = helper_.run({requestLine(1, "calendar.calendars.create", {{"name", "X"}, {"source_id", "feeds"}})});
  const Json& error = run.error(1);
  EXPECT_EQ(error["code"], "execution_failed");
  const std::string message = error["message"];
  const std::string prefix = "The account \"Feeds\" did not accept a new calendar: ";
  const std::string suffix = ". Try another source_id.";
  ASSERT_GT(message.size(), prefix.size() + suffix.size());
  EXPECT_EQ(message.substr(0, prefix.size()), prefix);
  EXPECT_EQ(message.substr(message.size() - suffix.size()), suffix);
  EXPECT_EQ(std::distance(fs::directory_iterator(helper_.dataRoot() / "calendars/feeds"), fs::directory_iterator()), 1);
}

TEST_F(ContainersE2e, DeleteAsksThenMovesTheFolderToTheTrash) {
  grant();
  sampleStores();
  helper_.writeFile("wren/calendars/work/team/meeting.ics",
                    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\nBEGIN:VEVENT\r\nUID:m1\r\n"
                    "DTSTAMP:20250101T000000Z\r\nDTSTART:20250102T090000Z\r\nSUMMARY:Standup\r\n"
                    "END:VEVENT\r\nEND:VCALENDAR\r\n");
  HelperRun asked = helper_.run({requestLine(1, "calendar.calendars.get", {{"calendar_id", "work/team"}}),
                                 requestLine(2, "calendar.calendars.delete", {{"calendar_id", "work/team"}})});
  const Json& row = asked.result(1);
  EXPECT_EQ(asked.error(2), (Json{{"code", "needs_confirmation"},
                                  {"message", "要删除「Team」及其中的全部内容吗？"},
                                  {"details", {{"container", row}}}}));
  EXPECT_TRUE(fs::exists(helper_.dataRoot() / "calendars/work/team/meeting.ics"));

  // Requests of one run are handled concurrently, so the look after the deletion is a run
  // of its own.
  HelperRun confirmed = helper_.run(
      {requestLine(1, "calendar.calendars.delete", {{"calendar_id", "work/team"}, {"confirmed", true}})});
  EXPECT_EQ(confirmed.result(1), (Json{{"deleted", true}, {"container", row}}));
  HelperRun after = helper_.run({requestLine(1, "calendar.calendars.get", {{"calendar_id", "work/team"}})});
  EXPECT_EQ(after.error(1)["message"], "No calendar with id work/team on this Mac. Get ids from calendar.list.");
  EXPECT_FALSE(fs::exists(helper_.dataRoot() / "calendars/work/team"));

  // The folder sits in the data home's trash with the record of where it came from.
  fs::path trash = helper_.home() / ".local/share/Trash";
  std::vector<fs::path> trashed;
  for (const auto& entry : fs::directory_iterator(trash / "files")) trashed.push_back(entry.path());
  ASSERT_EQ(trashed.size(), 1u);
  EXPECT_TRUE(fs::exists(trashed[0] / "meeting.ics"));
  std::string info = HelperProcess::readFile(trash / "info" / (trashed[0].filename().string() + ".trashinfo"));
  EXPECT_EQ(info.rfind("[Trash Info]\n", 0), 0u) << info;
  EXPECT_NE(info.find("Path=" + (helper_.dataRoot() / "calendars/work/team").string() + "\n"), std::string::npos)
      << info;
  EXPECT_NE(info.find("DeletionDate="), std::string::npos) << info;
}

TEST_F(ContainersE2e, SeesFoldersThatAnotherProgramChangesBetweenRequests) {
  grant();
  sampleStores();
  LiveHelper live(helper_);
  auto titles = [&](int id) {
    Json reply = live.ask(requestLine(id, "reminders.lists.list"));
    std::vector<std::string> names;
    for (const Json& row : reply.at("result").at("lists")) names.push_back(row["name"]);
    return names;
  };
  EXPECT_EQ(titles(1), (std::vector<std::string>{"Chores"}));

  container("reminders/home/garden", "Garden");
  EXPECT_EQ(titles(2), (std::vector<std::string>{"Chores", "Garden"}));

  helper_.writeFile("wren/reminders/home/garden/displayname", "Allotment\n");
  EXPECT_EQ(titles(3), (std::vector<std::string>{"Allotment", "Chores"}));

  fs::rename(helper_.dataRoot() / "reminders/home/chores", helper_.dataRoot() / "reminders/home/housework");
  Json moved = live.ask(requestLine(4, "reminders.lists.get", {{"list_id", "home/housework"}}));
  EXPECT_EQ(moved["result"]["name"], "Chores");
  Json gone = live.ask(requestLine(5, "reminders.lists.get", {{"list_id", "home/chores"}}));
  EXPECT_EQ(gone["error"]["code"], "invalid_args");
}

TEST_F(ContainersE2e, AGrantBetweenRequestsTakesEffectAtOnce) {
  sampleStores();
  LiveHelper live(helper_);
  EXPECT_EQ(live.ask(requestLine(1, "calendar.sources"))["error"]["code"], "os_permission");
  grant();
  EXPECT_EQ(live.ask(requestLine(2, "calendar.sources"))["result"]["sources"].size(), 2u);
}

// What another vdir program makes of a container the helper created: khal lists the new
// calendar by its name and reads its colour, todoman lists the reminders of a new list.
TEST_F(ContainersE2e, OtherVdirProgramsReadCreatedContainers) {
  if (!haveCommand("khal") || !haveCommand("todoman")) GTEST_SKIP() << "khal or todoman is not installed";
  grant();
  HelperRun created = helper_.run({requestLine(1, "calendar.calendars.create", {{"name", "Football Club"}, {"color", "#3366CC"}}),
                                   requestLine(2, "reminders.lists.create", {{"name", "Garden"}})});
  const std::string calendarId = created.result(1)["id"];
  const std::string listId = created.result(2)["id"];
  HelperRun items = helper_.run({requestLine(3, "reminders.items.create", {{"title", "Plant tulips"}, {"list", listId}})});
  ASSERT_EQ(items.reply(3)["ok"], true) << items.out;

  const fs::path home = helper_.home();
  const fs::path calendars = helper_.dataRoot() / "calendars";
  // The trailing slash keeps the glob to folders: an account folder also holds source.json.
  helper_.writeFile("khal.conf", "[calendars]\n[[wren]]\npath = " + (calendars / "*" / "*").string() +
                                     "/\ntype = discover\n[sqlite]\npath = " + (home / "khal.db").string() + "\n");
  const std::string names = runCommand("HOME='" + home.string() + "' khal -c '" +
                                        (home / ".local/share/khal.conf").string() + "' printcalendars 2>&1")
                                .out;
  EXPECT_NE(names.find("Football Club\n"), std::string::npos) << names;
  const std::string color = runCommand(
      "/usr/bin/python3 -c 'import sys; from khal.settings.utils import get_color_from_vdir; "
      "print(get_color_from_vdir(sys.argv[1]))' '" + (calendars / calendarId).string() + "' 2>&1").out;
  EXPECT_EQ(color, "#3366CC\n");

  helper_.writeFile("todoman.py", "path = \"" + (helper_.dataRoot() / "reminders" / "*" / "*").string() +
                                      "/\"\ndate_format = \"%Y-%m-%d\"\ntime_format = \"%H:%M\"\n"
                                      "cache_path = \"" + (home / "todoman.sqlite").string() + "\"\n");
  const std::string tasks = runCommand("HOME='" + home.string() + "' todoman --config '" +
                                        (home / ".local/share/todoman.py").string() + "' --porcelain list 2>&1")
                                .out;
  EXPECT_NE(tasks.find("\"summary\": \"Plant tulips\""), std::string::npos) << tasks;
  EXPECT_NE(tasks.find("\"list\": \"Garden\""), std::string::npos) << tasks;
}

}  // namespace
}  // namespace wren::testing

#include "eventstore/Containers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "app/HelperError.h"
#include "platform/vdir/VdirStore.h"
#include "support/ScopedDataHome.h"
#include "support/TimeZoneGuard.h"

namespace wren {
namespace {

using platform::Rgb;
using platform::ScopedDataHome;

// A data root with full access to both kinds and helpers that lay out store folders the
// way other calendar programs do.
class ContainersTest : public ::testing::Test {
 protected:
  ContainersTest() {
    home_.write("privacy.json", R"({"calendar": "granted", "reminders": "granted"})");
  }

  platform::EventStore& store() { return eventStore_.store(); }

  static std::string storeFolder(EntityType kind) {
    return kind == EntityType::Event ? "calendars" : "reminders";
  }
  void source(const std::string& id, const Json& meta, EntityType kind = EntityType::Event) {
    home_.write(storeFolder(kind) + "/" + id + "/source.json", meta.dump());
  }
  // Makes "<source>/<folder>" with its title, and optional colour and flags.
  void container(const std::string& path, const std::string& title, const std::string& color = "",
                 const Json& flags = nullptr, EntityType kind = EntityType::Event) {
    std::string folder = storeFolder(kind) + "/" + path;
    home_.write(folder + "/displayname", title + "\n");
    if (!color.empty()) home_.write(folder + "/color", color + "\n");
    if (!flags.is_null()) home_.write(folder + "/calendar.json", flags.dump());
  }
  void defaultContainer(const std::string& id, EntityType kind = EntityType::Event) {
    home_.write(storeFolder(kind) + "/store.json", Json{{"default", id}}.dump());
  }

  // The error a call raised; fails the test when it succeeded.
  template <typename Call>
  static HelperError errorOf(Call call) {
    try {
      call();
    } catch (const HelperError& error) {
      return error;
    }
    ADD_FAILURE() << "the call succeeded";
    return HelperError(ErrorCode::ExecutionFailed, "");
  }

  static std::vector<std::string> ids(const std::vector<platform::Calendar>& calendars) {
    std::vector<std::string> list;
    for (const auto& calendar : calendars) list.push_back(calendar.id);
    return list;
  }

  ScopedDataHome home_;
  // The store over the data root above, built by its first use as in the helper.
  EventStoreBox eventStore_{platform::makeVdirEventStore};
};

TEST(HexColor, RoundsAndClampsEachComponent) {
  struct Case {
    std::optional<Rgb> color;
    std::optional<std::string> hex;
  };
  const Case cases[] = {
      {Rgb{1.0, 0.584, 0.0}, "#FF9500"},
      {Rgb{0.0, 0.0, 0.0}, "#000000"},
      {Rgb{0.5, 0.498, 0.002}, "#807F01"},
      {Rgb{1.7, -0.2, 0.999}, "#FF00FF"},
      {Rgb{NAN, 0.5, 0.5}, std::nullopt},
      {std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hex.value_or("none"));
    EXPECT_EQ(hexColor(c.color), c.hex);
  }
}

TEST(ParseHexColor, AcceptsSixDigitsInTheirForms) {
  struct Case {
    const char* text;
    std::optional<Rgb> color;  // nothing: the colour message
  };
  const Rgb orange{1.0, 149 / 255.0, 0.0};
  const Case cases[] = {
      {"#FF9500", orange},
      {"#ff9500", orange},
      {"FF9500", orange},
      {" \t#FF9500\t ", orange},
      {"+FFFFF", Rgb{15 / 255.0, 1.0, 1.0}},
      {"-00000", Rgb{0, 0, 0}},
      {"#F90", std::nullopt},
      {"##FF9500", std::nullopt},
      {"#FF95001", std::nullopt},
      {"-00001", std::nullopt},
      {"+-FFFF", std::nullopt},
      {"0xFFFF", std::nullopt},
      {"#FF 500", std::nullopt},
      {"#GG9500", std::nullopt},
      {"\n#FF9500", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    if (c.color) {
      EXPECT_EQ(parseHexColor(c.text), *c.color);
    } else {
      HelperError error = [&] {
        try {
          parseHexColor(c.text);
        } catch (const HelperError& raised) {
          return raised;
        }
        return HelperError(ErrorCode::ExecutionFailed, "");
      }();
      EXPECT_EQ(error.code(), "invalid_args");
      EXPECT_EQ(error.message(), std::string("color must be a hex color like #FF9500, got ") + c.text);
    }
  }
}

TEST_F(ContainersTest, RowsDescribeFlagsColourAndAccount) {
  source("home", {{"title", "On My Computer"}});
  container("home/work", "Work", "#FF9500");
  container("home/plain", "Plain");
  container("home/holidays", "Holidays", "#336699AA", {{"subscribed", true}});
  container("home/system", "System", "", {{"immutable", true}, {"type", "birthday"}});
  container("home/archive", "Archive", "", {{"read_only", true}});
  defaultContainer("home/work");

  std::map<std::string, Json> rows;
  for (const auto& calendar : containers(store(), EntityType::Event, Access::Any, std::nullopt))
    rows[calendar.id] = containerRow(store(), calendar, EntityType::Event);
  ASSERT_EQ(rows.size(), 5u);

  Json work = rows["home/work"];
  EXPECT_EQ(work["name"], "Work");
  EXPECT_EQ(work["color"], "#FF9500");
  EXPECT_EQ(work["type"], "local");
  EXPECT_EQ(work["writable"], true);
  EXPECT_EQ(work["is_default"], true);
  EXPECT_EQ(work["source"], (Json{{"id", "home"}, {"name", "On My Computer"}, {"type", "local"}}));
  std::vector<std::string> keys;
  for (const auto& item : work.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"id", "name", "color", "type", "writable", "is_default",
                                            "immutable", "subscribed", "source"}));

  EXPECT_TRUE(rows["home/plain"]["color"].is_null());
  EXPECT_EQ(rows["home/plain"]["is_default"], false);
  EXPECT_EQ(rows["home/holidays"]["color"], "#336699");
  EXPECT_EQ(rows["home/holidays"]["subscribed"], true);
  EXPECT_EQ(rows["home/holidays"]["writable"], false);
  EXPECT_EQ(rows["home/system"]["immutable"], true);
  EXPECT_EQ(rows["home/system"]["type"], "birthday");
  EXPECT_EQ(rows["home/archive"]["writable"], false);
  EXPECT_EQ(rows["home/archive"]["immutable"], false);
}

TEST_F(ContainersTest, ListsSortByAccountThenTitleInPlainOrder) {
  source("b", {{"title", "Beta"}});
  source("a", {{"title", "alpha"}});
  container("a/one", "Zed");
  container("b/two", "apple");
  container("b/three", "Mid", "", {{"read_only", true}});
  container("b/four", "Zed");

  // Upper case sorts before lower case: "Beta" before "alpha", "Mid" and "Zed" before "apple".
  EXPECT_EQ(ids(containers(store(), EntityType::Event, Access::Any, std::nullopt)),
            (std::vector<std::string>{"b/three", "b/four", "b/two", "a/one"}));
  EXPECT_EQ(ids(containers(store(), EntityType::Event, Access::Writable, std::nullopt)),
            (std::vector<std::string>{"b/four", "b/two", "a/one"}));
  EXPECT_EQ(ids(containers(store(), EntityType::Event, Access::Any, std::string("a"))),
            (std::vector<std::string>{"a/one"}));
  EXPECT_TRUE(containers(store(), EntityType::Event, Access::Any, std::string("nobody")).empty());
}

TEST_F(ContainersTest, ContainerByIdMatchesExactlyAndNamesTheListMethod) {
  container("home/work", "Work");
  container("home/groceries", "Groceries", "", nullptr, EntityType::Reminder);
  EXPECT_EQ(containerById(store(), EntityType::Event, "home/work").title, "Work");

  struct Case {
    EntityType kind;
    const char* id;
    const char* message;
  };
  const Case cases[] = {
      {EntityType::Event, "home/Work", "No calendar with id home/Work on this Mac. Get ids from calendar.list."},
      {EntityType::Event, "home/groceries",
       "No calendar with id home/groceries on this Mac. Get ids from calendar.list."},
      {EntityType::Reminder, "home/work",
       "No reminder list with id home/work on this Mac. Get ids from reminders.lists."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    HelperError error = errorOf([&] { containerById(store(), c.kind, c.id); });
    EXPECT_EQ(error.code(), "invalid_args");
    EXPECT_EQ(error.message(), c.message);
  }
}

TEST_F(ContainersTest, ResolveTriesTheIdBeforeTitles) {
  container("home/work", "Personal");
  container("home/other", "home/work");
  EXPECT_EQ(resolveContainer(store(), EntityType::Event, "home/work", Access::Any).id, "home/work");
}

TEST_F(ContainersTest, ResolveFoldsCaseAndDiacriticsOfWholeTitles) {
  source("home", {{"title", "Home"}});
  source("office", {{"title", "Office"}});
  container("home/a", "Work");
  container("home/b", "Workshop");
  EXPECT_EQ(resolveContainer(store(), EntityType::Event, "work", Access::Any).id, "home/a");
  EXPECT_EQ(resolveContainer(store(), EntityType::Event, "WÖRK", Access::Any).id, "home/a");

  container("office/c", "wörk");
  HelperError error = errorOf([&] { resolveContainer(store(), EntityType::Event, "work", Access::Any); });
  EXPECT_EQ(error.code(), "invalid_args");
  // The choices follow the store's order, whichever that is.
  std::vector<std::string> order;
  for (const auto& calendar : store().calendars(EntityType::Event))
    if (calendar.id != "home/b") order.push_back(calendar.id == "home/a" ? "home/a (Home)" : "office/c (Office)");
  ASSERT_EQ(order.size(), 2u);
  EXPECT_EQ(error.message(),
            "Several calendars are named \"work\": " + order[0] + ", " + order[1] + ". Pass the id instead.");
}

TEST_F(ContainersTest, ResolveForWritingSkipsOrRefusesReadOnlyContainers) {
  container("home/locked", "Work", "", {{"read_only", true}});
  container("home/open", "work");
  container("home/feed", "Feed", "", {{"subscribed", true}});
  EXPECT_EQ(resolveContainer(store(), EntityType::Event, "Work", Access::Writable).id, "home/open");
  EXPECT_EQ(resolveContainer(store(), EntityType::Event, "home/locked", Access::Any).id, "home/locked");

  struct Case {
    const char* reference;
    const char* message;
  };
  const Case cases[] = {
      {"home/locked", "The calendar \"Work\" is read-only; pick a writable one."},
      {"home/feed", "The calendar \"Feed\" is read-only; pick a writable one."},
      {"FEED", "The calendar \"FEED\" is read-only; pick a writable one."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reference);
    HelperError error =
        errorOf([&] { resolveContainer(store(), EntityType::Event, c.reference, Access::Writable); });
    EXPECT_EQ(error.code(), "invalid_args");
    EXPECT_EQ(error.message(), c.message);
    EXPECT_FALSE(error.details().has_value());
  }
}

TEST_F(ContainersTest, ResolveListsAtMostThirtyTitlesWhenNothingMatches) {
  for (int i = 0; i < 45; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "list%02d", i);
    container(std::string("home/") + name, std::string("List ") + name, "",
              i % 2 ? Json{{"read_only", true}} : Json(nullptr), EntityType::Reminder);
  }
  std::vector<std::string> all;
  std::vector<std::string> writable;
  for (const auto& calendar : store().calendars(EntityType::Reminder)) {
    all.push_back(calendar.title);
    if (calendar.allowsContentModifications) writable.push_back(calendar.title);
  }
  ASSERT_EQ(all.size(), 45u);
  auto expected = [](const std::vector<std::string>& titles) {
    std::string text;
    for (size_t i = 0; i < std::min<size_t>(30, titles.size()); ++i) text += (i ? ", " : "") + titles[i];
    return "No reminder list named \"Chores\" on this Mac. Available: " + text;
  };
  EXPECT_EQ(errorOf([&] { resolveContainer(store(), EntityType::Reminder, "Chores", Access::Any); }).message(),
            expected(all));
  EXPECT_EQ(errorOf([&] { resolveContainer(store(), EntityType::Reminder, "Chores", Access::Writable); }).message(),
            expected(writable));
}

TEST_F(ContainersTest, ResolveInAnEmptyStoreEndsWithAnEmptyList) {
  std::filesystem::create_directories(home_.root() / "calendars");
  EXPECT_EQ(errorOf([&] { resolveContainer(store(), EntityType::Event, "Work", Access::Any); }).message(),
            "No calendar named \"Work\" on this Mac. Available: ");
}

TEST_F(ContainersTest, SourcesListEveryAccountWithItsSortedContainerIds) {
  source("zulu", {{"title", "Zulu"}, {"delegate", true}, {"type", "caldav"}}, EntityType::Reminder);
  source("empty", {{"title", "Empty"}}, EntityType::Reminder);
  container("zulu/b", "B", "", nullptr, EntityType::Reminder);
  container("zulu/a", "A", "", nullptr, EntityType::Reminder);

  Json sources = sourcesList(store(), EntityType::Reminder);
  ASSERT_EQ(sources.size(), 2u);
  EXPECT_EQ(sources[0], (Json{{"id", "empty"}, {"name", "Empty"}, {"type", "local"},
                              {"container_ids", Json::array()}, {"is_delegate", false}}));
  EXPECT_EQ(sources[1], (Json{{"id", "zulu"}, {"name", "Zulu"}, {"type", "caldav"},
                              {"container_ids", {"zulu/a", "zulu/b"}}, {"is_delegate", true}}));
}

TEST_F(ContainersTest, StatusCountsContainersWhenGranted) {
  platform::TimeZoneGuard zone("Asia/Tokyo");
  container("home/work", "Work");
  container("home/family", "Family");
  defaultContainer("home/family");
  Json status = ekStatus(eventStore_, EntityType::Event);
  EXPECT_EQ(status["authorization"], "granted");
  EXPECT_EQ(status["full_access"], true);
  EXPECT_EQ(status["timezone"], "Asia/Tokyo");
  EXPECT_TRUE(status["os_version"].is_string());
  EXPECT_EQ(status["containers"], 2);
  EXPECT_EQ(status["default"], (Json{{"id", "home/family"}, {"name", "Family"}}));
  EXPECT_FALSE(status.contains("hint"));

  std::filesystem::remove(home_.root() / "calendars/store.json");
  EXPECT_FALSE(ekStatus(eventStore_, EntityType::Event).contains("default"));
}

TEST_F(ContainersTest, StatusHintsWhenNotGranted) {
  struct Case {
    const char* decision;
    EntityType kind;
    const char* hint;
  };
  const Case cases[] = {
      {"", EntityType::Reminder,
       "Not asked yet: the person connects this group in Wren → Settings → Devices on this "
       "computer (macOS asks once)."},
      {"denied", EntityType::Reminder, "Turn on Wren in System Settings → Privacy & Security → Reminders (Full Access)."},
      {"write_only", EntityType::Event, "Turn on Wren in System Settings → Privacy & Security → Calendars (Full Access)."},
      {"odd", EntityType::Event, "Turn on Wren in System Settings → Privacy & Security → Calendars (Full Access)."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.decision);
    const char* key = c.kind == EntityType::Event ? "calendar" : "reminders";
    home_.write("privacy.json", *c.decision ? Json{{key, c.decision}}.dump() : "{}");
    Json status = ekStatus(eventStore_, c.kind);
    EXPECT_EQ(status["full_access"], false);
    EXPECT_EQ(status["hint"], c.hint);
    EXPECT_FALSE(status.contains("containers"));
    EXPECT_FALSE(status.contains("default"));
  }
}

TEST_F(ContainersTest, CreatePutsTheContainerInTheDefaultAccount) {
  source("local", {{"title", "On My Computer"}}, EntityType::Reminder);
  source("office", {{"title", "Office"}, {"type", "caldav"}}, EntityType::Reminder);
  container("office/tasks", "Tasks", "", nullptr, EntityType::Reminder);
  defaultContainer("office/tasks", EntityType::Reminder);

  Json row =
      createContainer(store(), EntityType::Reminder, Params(Json{{"name", " Errands "}, {"color", "ff9500"}}));
  EXPECT_EQ(row["name"], "Errands");
  EXPECT_EQ(row["color"], "#FF9500");
  EXPECT_EQ(row["source"]["id"], "office");
  EXPECT_EQ(containerById(store(), EntityType::Reminder, row["id"]).title, "Errands");

  Json local =
      createContainer(store(), EntityType::Reminder, Params(Json{{"name", "Home"}, {"source_id", "local"}}));
  EXPECT_EQ(local["source"]["id"], "local");
  EXPECT_TRUE(local["color"].is_null());
}

TEST_F(ContainersTest, CreateWithoutADefaultTakesTheFirstLocalAccount) {
  source("remote", {{"title", "Remote"}, {"type", "caldav"}});
  source("mine", {{"title", "Mine"}});
  container("remote/shared", "Shared");
  Json row = createContainer(store(), EntityType::Event, Params(Json{{"name", "New"}}));
  EXPECT_EQ(row["source"]["id"], "mine");
}

TEST_F(ContainersTest, CreateReportsItsRefusalsInOrder) {
  source("remote", {{"title", "Remote"}, {"type", "caldav"}});
  struct Case {
    EntityType kind;
    Json params;
    const char* message;
  };
  const Case cases[] = {
      {EntityType::Event, Json{{"name", "  "}}, "name is required"},
      {EntityType::Event, Json{{"name", "X"}, {"color", "#F90"}, {"source_id", "nobody"}},
       "color must be a hex color like #FF9500, got #F90"},
      // The colour is read trimmed, like every string param, and quoted as read.
      {EntityType::Event, Json{{"name", "X"}, {"color", " \n#F90 \t"}}, "color must be a hex color like #FF9500, got #F90"},
      {EntityType::Event, Json{{"name", "X"}, {"source_id", "nobody"}},
       "No account source with id nobody. Get ids from calendar.sources.list."},
      {EntityType::Event, Json{{"name", "X"}},
       "No default account to put the new calendar in; pass source_id from calendar.sources.list."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params.dump());
    HelperError error = errorOf([&] { createContainer(store(), c.kind, Params(c.params)); });
    EXPECT_EQ(error.code(), "invalid_args");
    EXPECT_EQ(error.message(), c.message);
  }
  EXPECT_TRUE(containers(store(), EntityType::Event, Access::Any, std::nullopt).empty());
}

TEST_F(ContainersTest, UpdateChangesOnlyWhatIsGiven) {
  container("home/work", "Work", "#112233");
  Json recoloured = updateContainer(store(), EntityType::Event,
                                    Params(Json{{"calendar_id", "home/work"}, {"color", "#FF9500\r\n"}}));
  EXPECT_EQ(recoloured["name"], "Work");
  EXPECT_EQ(recoloured["color"], "#FF9500");

  Json renamed =
      updateContainer(store(), EntityType::Event, Params(Json{{"calendar_id", "home/work"}, {"name", "Job"}}));
  EXPECT_EQ(renamed["name"], "Job");
  EXPECT_EQ(renamed["color"], "#FF9500");
  EXPECT_EQ(containerById(store(), EntityType::Event, "home/work").title, "Job");
}

TEST_F(ContainersTest, UpdateReportsItsRefusalsAndSavesNothing) {
  container("home/work", "Work", "#112233");
  container("home/feed", "Feed", "", {{"subscribed", true}});
  container("home/system", "System", "", {{"immutable", true}});
  struct Case {
    Json params;
    const char* message;
  };
  const Case cases[] = {
      {Json{{"name", "X"}}, "calendar_id is required"},
      {Json{{"calendar_id", "home/none"}, {"name", "X"}},
       "No calendar with id home/none on this Mac. Get ids from calendar.list."},
      {Json{{"calendar_id", "home/work"}, {"color", " "}}, "Pass name and/or color to change."},
      {Json{{"calendar_id", "home/feed"}, {"name", "X"}},
       "The calendar \"Feed\" cannot be changed (system or subscribed)."},
      {Json{{"calendar_id", "home/system"}, {"color", "#000000"}},
       "The calendar \"System\" cannot be changed (system or subscribed)."},
      {Json{{"calendar_id", "home/work"}, {"name", "Renamed"}, {"color", "red"}},
       "color must be a hex color like #FF9500, got red"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params.dump());
    HelperError error = errorOf([&] { updateContainer(store(), EntityType::Event, Params(c.params)); });
    EXPECT_EQ(error.code(), "invalid_args");
    EXPECT_EQ(error.message(), c.message);
  }
  platform::Calendar work = containerById(store(), EntityType::Event, "home/work");
  EXPECT_EQ(work.title, "Work");
  EXPECT_EQ(hexColor(work.color), "#112233");
}

TEST_F(ContainersTest, DeleteAsksFirstThenRemoves) {
  container("home/work", "Work");
  container("home/system", "System", "", {{"immutable", true}});
  Json row = containerRow(store(), containerById(store(), EntityType::Event, "home/work"), EntityType::Event);

  for (const Json& confirmed : {Json(nullptr), Json(false), Json("true"), Json(1)}) {
    SCOPED_TRACE(confirmed.dump());
    Json params = {{"calendar_id", "home/work"}};
    if (!confirmed.is_null()) params["confirmed"] = confirmed;
    HelperError error = errorOf([&] { deleteContainer(store(), EntityType::Event, Params(params)); });
    EXPECT_EQ(error.code(), "needs_confirmation");
    EXPECT_EQ(error.message(), "要删除「Work」及其中的全部内容吗？");
    EXPECT_EQ(error.details(), (Json{{"container", row}}));
  }
  EXPECT_NO_THROW(containerById(store(), EntityType::Event, "home/work"));

  HelperError system = errorOf(
      [&] { deleteContainer(store(), EntityType::Event, Params(Json{{"calendar_id", "home/system"}})); });
  EXPECT_EQ(system.code(), "needs_confirmation");
  system = errorOf([&] {
    deleteContainer(store(), EntityType::Event, Params(Json{{"calendar_id", "home/system"}, {"confirmed", true}}));
  });
  EXPECT_EQ(system.code(), "invalid_args");
  EXPECT_EQ(system.message(), "\"System\" is a system calendar and cannot be deleted.");

  Json answer =
      deleteContainer(store(), EntityType::Event, Params(Json{{"calendar_id", "home/work"}, {"confirmed", true}}));
  EXPECT_EQ(answer, (Json{{"deleted", true}, {"container", row}}));
  EXPECT_EQ(ids(containers(store(), EntityType::Event, Access::Any, std::nullopt)),
            (std::vector<std::string>{"home/system"}));
}

TEST_F(ContainersTest, DeleteOfAnUnknownIdAsksNothing) {
  container("home/work", "Work");
  HelperError error = errorOf(
      [&] { deleteContainer(store(), EntityType::Reminder, Params(Json{{"list_id", "home/work"}})); });
  EXPECT_EQ(error.code(), "invalid_args");
  EXPECT_EQ(error.message(), "No reminder list with id home/work on this Mac. Get ids from reminders.lists.");
}

TEST_F(ContainersTest, ListGetCountsTheRemindersOfOneList) {
  container("home/chores", "Chores", "", nullptr, EntityType::Reminder);
  container("home/empty", "Empty", "", nullptr, EntityType::Reminder);
  auto todo = [&](const std::string& name, const std::string& extra) {
    home_.write("reminders/home/chores/" + name + ".ics",
                "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\nBEGIN:VTODO\r\nUID:" + name +
                    "\r\nDTSTAMP:20250101T000000Z\r\nSUMMARY:" + name + "\r\n" + extra +
                    "END:VTODO\r\nEND:VCALENDAR\r\n");
  };
  todo("sweep", "");
  todo("dust", "");
  todo("mop", "STATUS:COMPLETED\r\nCOMPLETED:20250102T000000Z\r\n");

  const Handler getList = ContainerMethods(EntityType::Reminder, eventStore_).get();
  Json counted = getList(Params(Json{{"list_id", "home/chores"}, {"count", true}}));
  EXPECT_EQ(counted["reminder_count"], 3);
  EXPECT_EQ(counted["incomplete_count"], 2);
  Json empty = getList(Params(Json{{"list_id", "home/empty"}, {"count", true}}));
  EXPECT_EQ(empty["reminder_count"], 0);
  EXPECT_EQ(empty["incomplete_count"], 0);
  Json plain = getList(Params(Json{{"list_id", "home/chores"}, {"count", "yes"}}));
  EXPECT_FALSE(plain.contains("reminder_count"));
}

TEST_F(ContainersTest, EveryMethodButStatusChecksAccessFirst) {
  home_.write("privacy.json", R"({"calendar": "denied", "reminders": "granted"})");
  const ContainerMethods calendars(EntityType::Event, eventStore_);
  const ContainerMethods lists(EntityType::Reminder, eventStore_);
  const std::pair<const char*, Handler> guardedMethods[] = {
      {"sources", calendars.sources()}, {"list", calendars.list()},     {"get", calendars.get()},
      {"create", calendars.create()},   {"update", calendars.update()}, {"delete", calendars.remove()},
  };
  for (const auto& [method, handler] : guardedMethods) {
    SCOPED_TRACE(method);
    // Even a request without its required params meets the permission error first.
    HelperError error = errorOf([&] { handler(Params()); });
    EXPECT_EQ(error.code(), "os_permission");
  }
  EXPECT_EQ(calendars.status()(Params())["authorization"], "denied");
  EXPECT_EQ(errorOf([&] { lists.get()(Params()); }).message(), "list_id is required");
}

}  // namespace
}  // namespace wren

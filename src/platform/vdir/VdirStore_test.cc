#include "platform/vdir/VdirStore.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <regex>
#include <thread>

#include "base/Json.h"
#include "platform/files/AtomicFile.h"
#include "support/ScopedDataHome.h"
#include "support/TimeZoneGuard.h"
#include "platform/vdir/ItemIndex.h"
#include "support/StoreTestSupport.h"

namespace wren::platform {
namespace {

namespace fs = std::filesystem;
using vdir::testing::entryNames;
using vdir::testing::FileSizeLimit;
using vdir::testing::readText;
using vdir::testing::writeElsewhere;
using vdir::testing::writeText;

class VdirStoreTest : public ::testing::Test {
 protected:
  void grant(const std::string& calendar = "granted", const std::string& reminders = "granted") {
    home_.write("privacy.json", Json{{"calendar", calendar}, {"reminders", reminders}}.dump());
  }
  fs::path root() const { return home_.root(); }
  // A calendar folder "<store>/<source>/<name>" with a displayname and optional metadata.
  fs::path container(const std::string& path, const std::optional<std::string>& title,
                     const std::string& color = "", const std::string& meta = "") {
    fs::path folder = root() / path;
    fs::create_directories(folder);
    if (title) writeText(folder / "displayname", *title);
    if (!color.empty()) writeText(folder / "color", color);
    if (!meta.empty()) writeText(folder / "calendar.json", meta);
    return folder;
  }
  std::vector<std::string> calendarIds(EntityType kind) {
    std::vector<std::string> ids;
    for (const Calendar& calendar : store_.calendars(kind)) ids.push_back(calendar.id);
    return ids;
  }

  ScopedDataHome home_;
  VdirEventStore store_;
};

// ---- Containers -------------------------------------------------------------------------

TEST_F(VdirStoreTest, SourcesAndCalendarsReadTheirFolders) {
  grant();
  home_.write("calendars/b-work/source.json",
              R"({"title":"Acme","type":"caldav","delegate":true,"emails":["me@acme.test",5,"boss@acme.test"]})");
  home_.write("calendars/c-feeds/source.json", R"({"title":"Feeds","type":"subscribed"})");
  home_.write("calendars/d-odd/source.json", R"({"type":"martian"})");
  home_.write("calendars/e-cloud/source.json", R"({"title":"Cloud","type":"mobileme"})");
  container("calendars/a-home/personal", "Personal\n", "#FF9500\n");
  container("calendars/a-home/Zeta", "Zeta", "#00ff0080");
  container("calendars/a-home/.hidden", "Hidden");
  writeText(root() / "calendars/a-home/notes.txt", "not a folder");
  container("calendars/b-work/team", "Team", "", R"({"read_only":true})");
  container("calendars/b-work/feed", "Feed", "", R"({"type":"subscription"})");
  container("calendars/b-work/system", "Birthdays", "", R"({"immutable":true,"type":"local"})");
  container("calendars/b-work/weird", "Weird", "", R"({"type":"quantum"})");
  container("calendars/c-feeds/news", std::nullopt, "", R"({"subscribed":true})");
  container("calendars/d-odd/x", "X");
  container("calendars/e-cloud/y", "Y");

  std::vector<Source> sources = store_.sources(EntityType::Event);
  ASSERT_EQ(sources.size(), 5u);
  EXPECT_EQ(sources[0].id, "a-home");
  EXPECT_EQ(sources[0].title, "a-home");
  EXPECT_EQ(sources[0].type, SourceType::Local);
  EXPECT_EQ(sources[1].title, "Acme");
  EXPECT_EQ(sources[1].type, SourceType::CalDav);
  EXPECT_TRUE(sources[1].isDelegate);
  EXPECT_EQ(sources[1].emails, (std::vector<std::string>{"me@acme.test", "boss@acme.test"}));
  EXPECT_EQ(sources[2].type, SourceType::Subscribed);
  EXPECT_EQ(sources[3].type, SourceType::Unknown);
  EXPECT_EQ(sources[4].type, SourceType::MobileMe);

  struct Expected {
    std::string id;
    std::string title;
    std::optional<Rgb> color;
    CalendarType type;
    bool writable;
    bool immutable;
    bool subscribed;
    std::string sourceTitle;
  };
  const Rgb orange{1.0, 149 / 255.0, 0.0};
  const Rgb green{0.0, 1.0, 0.0};
  // Byte order of the folder names: "Zeta" sorts before "personal".
  const std::vector<Expected> expected = {
      {"a-home/Zeta", "Zeta", green, CalendarType::Local, true, false, false, "a-home"},
      {"a-home/personal", "Personal", orange, CalendarType::Local, true, false, false, "a-home"},
      // The type alone sets no flag: only calendar.json does.
      {"b-work/feed", "Feed", std::nullopt, CalendarType::Subscription, true, false, false, "Acme"},
      {"b-work/system", "Birthdays", std::nullopt, CalendarType::Local, false, true, false, "Acme"},
      {"b-work/team", "Team", std::nullopt, CalendarType::CalDav, false, false, false, "Acme"},
      {"b-work/weird", "Weird", std::nullopt, CalendarType::Unknown, true, false, false, "Acme"},
      {"c-feeds/news", "news", std::nullopt, CalendarType::Subscription, false, false, true, "Feeds"},
      {"d-odd/x", "X", std::nullopt, CalendarType::Local, true, false, false, "d-odd"},
      {"e-cloud/y", "Y", std::nullopt, CalendarType::CalDav, true, false, false, "Cloud"},
  };
  std::vector<Calendar> calendars = store_.calendars(EntityType::Event);
  ASSERT_EQ(calendars.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const Expected& want = expected[i];
    const Calendar& got = calendars[i];
    SCOPED_TRACE(want.id);
    EXPECT_EQ(got.id, want.id);
    EXPECT_EQ(got.title, want.title);
    EXPECT_EQ(got.color, want.color);
    EXPECT_EQ(got.type, want.type);
    EXPECT_EQ(got.allowsContentModifications, want.writable);
    EXPECT_EQ(got.immutable, want.immutable);
    EXPECT_EQ(got.subscribed, want.subscribed);
    ASSERT_TRUE(got.source);
    EXPECT_EQ(got.source->title, want.sourceTitle);
  }
  // The reminder store is a store of its own, made on first use.
  EXPECT_EQ(calendarIds(EntityType::Reminder).size(), 1u);
}

TEST_F(VdirStoreTest, MalformedMetadataFallsBackToDefaults) {
  grant();
  struct Case {
    std::string name;
    std::string file;  // relative to calendars/src/
    std::string text;
    std::string title;
    std::optional<Rgb> color;
    bool writable;
    SourceType sourceType;
    std::string sourceTitle;
  };
  const std::vector<Case> cases = {
      {"source.json not JSON", "source.json", "{title: x", "cal", std::nullopt, true, SourceType::Local, "src"},
      {"source.json wrong types", "source.json", R"({"title":5,"type":[],"delegate":"yes","emails":"a"})", "cal",
       std::nullopt, true, SourceType::Local, "src"},
      {"source.json an array", "source.json", "[1]", "cal", std::nullopt, true, SourceType::Local, "src"},
      {"calendar.json wrong types", "cal/calendar.json", R"({"read_only":"true","type":7})", "cal", std::nullopt,
       true, SourceType::Local, "src"},
      {"calendar.json not JSON", "cal/calendar.json", "read_only", "cal", std::nullopt, true, SourceType::Local,
       "src"},
      {"colour word", "cal/color", "red", "cal", std::nullopt, true, SourceType::Local, "src"},
      {"colour bad digit", "cal/color", "#GG0000", "cal", std::nullopt, true, SourceType::Local, "src"},
      {"colour short", "cal/color", "#FFF", "cal", std::nullopt, true, SourceType::Local, "src"},
      {"colour without sign", "cal/color", "FF0000", "cal", std::nullopt, true, SourceType::Local, "src"},
      {"colour with alpha", "cal/color", "#0000FFCC\n", "cal", Rgb{0, 0, 1}, true, SourceType::Local, "src"},
      {"title invalid UTF-8", "cal/displayname", "Caf\xE9\n", "Caf\xEF\xBF\xBD", std::nullopt, true,
       SourceType::Local, "src"},
      {"title CR LF and a second line", "cal/displayname", "Work\r\nignored", "Work", std::nullopt, true,
       SourceType::Local, "src"},
      {"title empty", "cal/displayname", "", "cal", std::nullopt, true, SourceType::Local, "src"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root() / "calendars");
    fs::create_directories(root() / "calendars/src/cal");
    writeText(root() / "calendars/src" / c.file, c.text);
    std::vector<Calendar> calendars = store_.calendars(EntityType::Event);
    ASSERT_EQ(calendars.size(), 1u);
    EXPECT_EQ(calendars[0].id, "src/cal");
    EXPECT_EQ(calendars[0].title, c.title);
    EXPECT_EQ(calendars[0].color, c.color);
    EXPECT_EQ(calendars[0].allowsContentModifications, c.writable);
    EXPECT_EQ(calendars[0].source->type, c.sourceType);
    EXPECT_EQ(calendars[0].source->title, c.sourceTitle);
    EXPECT_FALSE(calendars[0].source->isDelegate);
    EXPECT_TRUE(calendars[0].source->emails.empty());
  }
}

TEST_F(VdirStoreTest, MetadataThatIsNoFileOrTooLongReadsAsMissing) {
  grant();
  // FIFOs without a writer would hold every request; /dev/zero would be read without end.
  fs::create_directories(root() / "calendars/src/cal");
  ASSERT_EQ(mkfifo((root() / "calendars/src/cal/displayname").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", root() / "calendars/src/cal/color");
  ASSERT_EQ(mkfifo((root() / "calendars/src/source.json").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", root() / "calendars/store.json");
  // A flag after more than any metadata file holds is not read.
  writeText(root() / "calendars/src/cal/calendar.json",
            R"({"padding":")" + std::string(32 * 1024, ' ') + R"(","read_only":true})");
  const auto began = std::chrono::steady_clock::now();
  std::vector<Calendar> calendars = store_.calendars(EntityType::Event);
  ASSERT_EQ(calendars.size(), 1u);
  EXPECT_EQ(calendars[0].title, "cal");
  EXPECT_EQ(calendars[0].color, std::nullopt);
  EXPECT_TRUE(calendars[0].allowsContentModifications);
  EXPECT_EQ(calendars[0].source->title, "src");
  EXPECT_FALSE(store_.defaultCalendar(EntityType::Event));
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(2));
}

TEST_F(VdirStoreTest, BrokenLinksAndStrayFilesAreNotContainers) {
  grant();
  container("calendars/src/real", "Real");
  fs::create_symlink(root() / "nowhere", root() / "calendars/src/broken");
  fs::create_symlink(root() / "calendars/src/real", root() / "calendars/src/linked");
  fs::create_symlink(root() / "nowhere", root() / "calendars/dangling-source");
  writeText(root() / "calendars/README", "a file beside the sources");
  EXPECT_EQ(calendarIds(EntityType::Event), (std::vector<std::string>{"src/linked", "src/real"}));
  EXPECT_EQ(store_.sources(EntityType::Event).size(), 1u);
}

TEST_F(VdirStoreTest, DefaultCalendarIsTheOneStoreJsonNamesWhenItExists) {
  grant();
  container("calendars/home/personal", "Personal");
  container("reminders/home/chores", "Chores");
  struct Case {
    std::string storeJson;
    std::optional<std::string> expected;
  };
  const std::vector<Case> cases = {
      {R"({"default":"home/personal"})", "home/personal"},
      {R"({"default":"home/missing"})", std::nullopt},
      {R"({"default":"home/chores"})", std::nullopt},  // a reminder list, not a calendar
      {R"({"default":["home/personal"]})", std::nullopt},
      {"home/personal", std::nullopt},
      // Names that are not plain folder names find nothing, wherever they would lead.
      {R"({"default":"home/../home/personal"})", std::nullopt},
      {R"({"default":"home/personal/"})", std::nullopt},
      {R"({"default":"./home/personal"})", std::nullopt},
      {R"({"default":"home/.hidden"})", std::nullopt},
      {R"({"default":"home"})", std::nullopt},
  };
  fs::create_directories(root() / "calendars/home/.hidden");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.storeJson);
    home_.write("calendars/store.json", c.storeJson);
    std::optional<Calendar> found = store_.defaultCalendar(EntityType::Event);
    EXPECT_EQ(found ? std::optional<std::string>(found->id) : std::nullopt, c.expected);
  }
  fs::remove(root() / "calendars/store.json");
  EXPECT_FALSE(store_.defaultCalendar(EntityType::Event));
}

TEST_F(VdirStoreTest, EveryCallSeesFoldersAsTheyAreNow) {
  grant();
  container("reminders/home/chores", "Chores");
  EXPECT_EQ(calendarIds(EntityType::Reminder), (std::vector<std::string>{"home/chores"}));
  container("reminders/home/garden", "Garden");
  container("reminders/away/trip", "Trip");
  EXPECT_EQ(calendarIds(EntityType::Reminder),
            (std::vector<std::string>{"away/trip", "home/chores", "home/garden"}));
  writeText(root() / "reminders/home/garden/displayname", "Allotment");
  fs::rename(root() / "reminders/home/chores", root() / "reminders/home/housework");
  std::vector<Calendar> now = store_.calendars(EntityType::Reminder);
  ASSERT_EQ(now.size(), 3u);
  EXPECT_EQ(now[1].title, "Allotment");
  EXPECT_EQ(now[2].id, "home/housework");
  EXPECT_EQ(now[2].title, "Chores");
}

// ---- The store made on first use --------------------------------------------------------

TEST_F(VdirStoreTest, FirstUseCreatesADefaultStoreOnlyWhenGrantedAndMissing) {
  struct Case {
    std::string decision;
    bool created;
  };
  const std::vector<Case> cases = {{"granted", true}, {"denied", false}, {"write_only", false},
                                   {"", false},       {"restricted", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.decision);
    fs::remove_all(root() / "calendars");
    fs::remove_all(root() / "reminders");
    grant(c.decision, c.decision);
    std::set<std::string> expectedEntries = {"privacy.json"};
    if (c.created) expectedEntries.insert({"calendars", "reminders"});
    for (EntityType kind : {EntityType::Event, EntityType::Reminder}) {
      std::vector<Calendar> calendars = store_.calendars(kind);
      EXPECT_EQ(fs::exists(root() / (kind == EntityType::Event ? "calendars" : "reminders")), c.created);
      if (!c.created) {
        EXPECT_TRUE(calendars.empty());
        continue;
      }
      ASSERT_EQ(calendars.size(), 1u);
      EXPECT_EQ(calendars[0].title, kind == EntityType::Event ? "Calendar" : "Reminders");
      EXPECT_TRUE(calendars[0].allowsContentModifications);
      EXPECT_EQ(calendars[0].source->id, "local");
      EXPECT_EQ(calendars[0].source->title, "On My Computer");
      EXPECT_EQ(calendars[0].source->type, SourceType::Local);
      std::optional<Calendar> fallback = store_.defaultCalendar(kind);
      ASSERT_TRUE(fallback);
      EXPECT_EQ(fallback->id, calendars[0].id);
      // The calendar folder's name is opaque, not its title.
      EXPECT_EQ(calendars[0].id.rfind("local/", 0), 0u);
      EXPECT_NE(calendars[0].id, "local/Calendar");
    }
    // No staging folder is left beside the stores, whether they were made or not.
    EXPECT_EQ(entryNames(root()), expectedEntries);
  }
}

TEST_F(VdirStoreTest, AStoreFolderThatExistsStaysAsItIs) {
  grant();
  fs::create_directories(root() / "calendars");
  EXPECT_TRUE(store_.calendars(EntityType::Event).empty());
  EXPECT_FALSE(store_.defaultCalendar(EntityType::Event));
  EXPECT_TRUE(entryNames(root() / "calendars").empty());
}

TEST_F(VdirStoreTest, ConcurrentFirstUsesMakeOneStore) {
  grant();
  std::vector<std::vector<std::string>> seen(8);
  {
    std::vector<std::jthread> threads;
    for (auto& ids : seen)
      threads.emplace_back([&] {
        for (const Calendar& calendar : store_.calendars(EntityType::Event)) ids.push_back(calendar.id);
      });
  }
  for (const auto& ids : seen) {
    ASSERT_EQ(ids.size(), 1u);
    EXPECT_EQ(ids, seen[0]);
  }
  EXPECT_EQ(entryNames(root()), (std::set<std::string>{"calendars", "privacy.json"}));
  EXPECT_EQ(entryNames(root() / "calendars/local").size(), 2u);  // source.json and the calendar
}

// ---- Creating, changing and removing containers -----------------------------------------

TEST_F(VdirStoreTest, CreateCalendarWritesAFreshFolder) {
  grant();
  home_.write("calendars/home/source.json", R"({"title":"On My Computer"})");
  Calendar made = store_.createCalendar(EntityType::Event, "home", "Gym", Rgb{1.0, 149 / 255.0, 0.0});
  EXPECT_EQ(made.title, "Gym");
  EXPECT_EQ(made.color, (Rgb{1.0, 149 / 255.0, 0.0}));
  EXPECT_TRUE(made.allowsContentModifications);
  EXPECT_EQ(made.source->title, "On My Computer");
  ASSERT_TRUE(std::regex_match(made.id, std::regex("home/[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[0-9a-f]{4}-[0-9a-f]{12}")))
      << made.id;
  fs::path folder = root() / "calendars" / made.id;
  // Bare values, as other vdir programs write them.
  EXPECT_EQ(readText(folder / "displayname"), "Gym");
  EXPECT_EQ(readText(folder / "color"), "#FF9500");
  EXPECT_EQ(entryNames(folder), (std::set<std::string>{"color", "displayname"}));
  EXPECT_EQ(entryNames(root() / "calendars/home"), (std::set<std::string>{"source.json", fs::path(made.id).filename()}));

  Calendar plain = store_.createCalendar(EntityType::Reminder, "local", "Errands", std::nullopt);
  EXPECT_FALSE(plain.color);
  EXPECT_FALSE(fs::exists(root() / "reminders" / plain.id / "color"));
  EXPECT_EQ(calendarIds(EntityType::Reminder).size(), 2u);
}

TEST_F(VdirStoreTest, ConcurrentCreatesAllSucceedWithDistinctIds) {
  grant();
  fs::create_directories(root() / "calendars/home");
  std::vector<std::string> ids(8);
  {
    std::vector<std::jthread> threads;
    for (size_t i = 0; i < ids.size(); ++i)
      threads.emplace_back([&, i] {
        ids[i] = store_.createCalendar(EntityType::Event, "home", "Team " + std::to_string(i), std::nullopt).id;
      });
  }
  std::vector<std::string> listed = calendarIds(EntityType::Event);
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(listed, ids);
  EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), 8u);
}

TEST_F(VdirStoreTest, CreateCalendarRefusalsLeaveNoTrace) {
  grant();
  home_.write("calendars/feeds/source.json", R"({"type":"subscribed"})");
  home_.write("calendars/days/source.json", R"({"type":"birthdays"})");
  home_.write("reminders/days/source.json", R"({"type":"birthdays"})");
  struct Case {
    EntityType kind;
    std::string source;
    std::string message;
  };
  const std::vector<Case> cases = {
      {EntityType::Event, "feeds", "the account does not accept new calendars (subscribed)"},
      {EntityType::Event, "days", "the account does not accept new calendars (birthdays)"},
      {EntityType::Reminder, "days", "the account does not accept new reminder lists (birthdays)"},
      {EntityType::Event, "mars", "there is no account with id mars"},
      {EntityType::Event, "../feeds", "there is no account with id ../feeds"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    try {
      store_.createCalendar(c.kind, c.source, "New", std::nullopt);
      ADD_FAILURE() << "the account accepted a calendar";
    } catch (const StoreError& error) {
      EXPECT_EQ(std::string(error.what()), c.message);
    }
  }
  EXPECT_EQ(entryNames(root() / "calendars/feeds"), (std::set<std::string>{"source.json"}));
  EXPECT_EQ(entryNames(root() / "calendars/days"), (std::set<std::string>{"source.json"}));
  EXPECT_EQ(entryNames(root() / "calendars"), (std::set<std::string>{"days", "feeds"}));
}

TEST_F(VdirStoreTest, ACreateThatFailsHalfwayRemovesItsFolder) {
  grant();
  fs::create_directories(root() / "calendars/home");
  {
    FileSizeLimit limit(2);
    EXPECT_THROW(store_.createCalendar(EntityType::Event, "home", "A title too long", std::nullopt), StoreError);
  }
  EXPECT_TRUE(entryNames(root() / "calendars/home").empty());
  if (geteuid() == 0) return;  // permission bits do not stop the superuser
  chmod((root() / "calendars/home").c_str(), 0555);
  EXPECT_THROW(store_.createCalendar(EntityType::Event, "home", "X", std::nullopt), StoreError);
  chmod((root() / "calendars/home").c_str(), 0755);
  EXPECT_TRUE(entryNames(root() / "calendars/home").empty());
}

TEST_F(VdirStoreTest, UpdateCalendarRewritesWhatIsGiven) {
  grant();
  fs::path folder = container("calendars/home/personal", "Personal\n", "#FF9500\n");
  Calendar renamed = store_.updateCalendar(EntityType::Event, "home/personal", "Private", std::nullopt);
  EXPECT_EQ(renamed.title, "Private");
  EXPECT_EQ(renamed.color, (Rgb{1.0, 149 / 255.0, 0.0}));
  EXPECT_EQ(readText(folder / "displayname"), "Private");
  EXPECT_EQ(readText(folder / "color"), "#FF9500\n");

  Calendar recoloured = store_.updateCalendar(EntityType::Event, "home/personal", std::nullopt, Rgb{0, 1, 0});
  EXPECT_EQ(recoloured.title, "Private");
  EXPECT_EQ(readText(folder / "color"), "#00FF00");
  EXPECT_EQ(entryNames(folder), (std::set<std::string>{"color", "displayname"}));
  EXPECT_THROW(store_.updateCalendar(EntityType::Reminder, "home/personal", "X", std::nullopt), StoreError);
}

TEST_F(VdirStoreTest, AnUpdateWhoseColourFailsKeepsTheOldTitle) {
  grant();
  fs::path folder = container("calendars/home/personal", "Personal\n");
  // A folder in the place of the colour file: no file can be renamed over it.
  writeText(folder / "color/occupied", "x");
  EXPECT_THROW(store_.updateCalendar(EntityType::Event, "home/personal", "Private", Rgb{0, 1, 0}), StoreError);
  EXPECT_EQ(readText(folder / "displayname"), "Personal\n");
  EXPECT_EQ(entryNames(folder), (std::set<std::string>{"color", "displayname"}));

  fs::remove(folder / "displayname");
  EXPECT_THROW(store_.updateCalendar(EntityType::Event, "home/personal", "Private", Rgb{0, 1, 0}), StoreError);
  EXPECT_EQ(entryNames(folder), (std::set<std::string>{"color"}));
  EXPECT_EQ(store_.calendars(EntityType::Event).at(0).title, "personal");
}

TEST_F(VdirStoreTest, AnUpdateNeverUnlinksMetadataWrittenWhileItWasMade) {
  grant();
  const fs::path folder = container("calendars/work/team", "Team", "#FF0000");
  struct Case {
    const char* name;
    std::optional<std::string> title;
    std::optional<Rgb> color;
    std::string file;  // the one another program writes at the worst moment
    std::string theirs;
  };
  const std::vector<Case> cases = {
      {"title", "Mine", std::nullopt, "displayname", "Theirs"},
      {"colour", std::nullopt, Rgb{0, 0, 1}, "color", "#00FF00"},
      // The colour is refused after the title was written: the title goes back.
      {"title and colour", "Mine", Rgb{0, 0, 1}, "color", "#00FF00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeText(folder / "displayname", "Team");
    writeText(folder / "color", "#FF0000");
    ReplaceHookForTesting hook([&](const fs::path& path) {
      if (path == folder / c.file) writeElsewhere(path, c.theirs);
    });
    try {
      store_.updateCalendar(EntityType::Event, "work/team", c.title, c.color);
      FAIL() << "another program's file was replaced";
    } catch (const StoreError& error) {
      EXPECT_NE(std::string(error.what()).find("changed on disk since it was read"), std::string::npos) << error.what();
    }
    EXPECT_EQ(readText(folder / c.file), c.theirs);
    EXPECT_EQ(readText(folder / "displayname"), c.file == "displayname" ? c.theirs : "Team");
    EXPECT_EQ(entryNames(folder), (std::set<std::string>{"color", "displayname"}));
  }
}

TEST_F(VdirStoreTest, RemoveCalendarMovesItToTheTrashWithItsItems) {
  grant();
  fs::path team = container("calendars/work/team", "Team");
  writeText(team / "meeting.ics", "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n");
  container("calendars/work/other", "Other");
  home_.write("calendars/store.json", R"({"default":"work/team"})");
  ASSERT_TRUE(store_.defaultCalendar(EntityType::Event));

  store_.removeCalendar(EntityType::Event, "work/team");
  EXPECT_FALSE(fs::exists(team));
  EXPECT_EQ(calendarIds(EntityType::Event), (std::vector<std::string>{"work/other"}));
  fs::path trash = home_.home() / "Trash";
  EXPECT_EQ(readText(trash / "files/team/meeting.ics"), "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n");
  EXPECT_EQ(readText(trash / "files/team/displayname"), "Team");
  std::string info = readText(trash / "info/team.trashinfo");
  EXPECT_EQ(info.rfind("[Trash Info]\nPath=" + team.string() + "\nDeletionDate=", 0), 0u) << info;
  // The default is left as recorded; it names nothing now.
  EXPECT_EQ(readText(root() / "calendars/store.json"), R"({"default":"work/team"})");
  EXPECT_FALSE(store_.defaultCalendar(EntityType::Event));

  // A second calendar of the same folder name gets a name of its own in the trash.
  container("calendars/work/team", "Team again");
  store_.removeCalendar(EntityType::Event, "work/team");
  EXPECT_EQ(entryNames(trash / "files"), (std::set<std::string>{"team", "team.2"}));
  EXPECT_THROW(store_.removeCalendar(EntityType::Event, "work/team"), StoreError);
  EXPECT_THROW(store_.removeCalendar(EntityType::Event, "../work/other"), StoreError);
  EXPECT_TRUE(fs::exists(root() / "calendars/work/other"));
}

// ---- Items ------------------------------------------------------------------------------

std::string crlf(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (c == '\n') result += '\r';
    result += c;
  }
  return result;
}

std::string eventText(const std::string& uid, const std::string& summary,
                      const std::string& start = "20250102T090000Z", const std::string& end = "20250102T100000Z") {
  return crlf("BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Test//EN\nBEGIN:VEVENT\nUID:" + uid +
              "\nDTSTAMP:20250101T000000Z\nDTSTART:" + start + "\nDTEND:" + end + "\nSUMMARY:" + summary +
              "\nEND:VEVENT\nEND:VCALENDAR\n");
}

std::string todoText(const std::string& uid, const std::string& summary, bool completed) {
  return crlf("BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Test//EN\nBEGIN:VTODO\nUID:" + uid +
              "\nDTSTAMP:20250101T000000Z\nSUMMARY:" + summary +
              (completed ? "\nSTATUS:COMPLETED\nCOMPLETED:20250103T080000Z" : "\nSTATUS:NEEDS-ACTION") +
              "\nEND:VTODO\nEND:VCALENDAR\n");
}

Instant at(int year, int month, int day, int hour = 0) {
  using namespace std::chrono;
  return Instant(sys_days(std::chrono::year(year) / month / day) + hours(hour));
}

class VdirItemsTest : public VdirStoreTest {
 protected:
  void SetUp() override {
    grant();
    personal_ = container("calendars/home/personal", "Personal");
    other_ = container("calendars/home/other", "Other");
    archive_ = container("calendars/home/archive", "Archive", "", R"({"read_only":true})");
    chores_ = container("reminders/home/chores", "Chores");
  }
  std::vector<std::string> titles(const std::vector<EventItem>& items) {
    std::vector<std::string> result;
    for (const EventItem& item : items) result.push_back(item.title);
    std::sort(result.begin(), result.end());
    return result;
  }
  std::vector<EventItem> january() { return store_.events(at(2025, 1, 1), at(2025, 2, 1), std::nullopt); }
  EventItem only(const std::vector<EventItem>& items) {
    EXPECT_EQ(items.size(), 1u);
    return items.empty() ? EventItem{} : items.front();
  }

  fs::path personal_, other_, archive_, chores_;
};

TEST_F(VdirItemsTest, OnlyIcsFilesThatHoldAnItemAreItems) {
  writeText(personal_ / "a.ics", eventText("a@test", "Alpha"));
  writeText(personal_ / "broken.ics", "hello, not a calendar");
  writeText(personal_ / "empty.ics", "");
  writeText(personal_ / "notes.txt", eventText("n@test", "Not an item file"));
  writeText(personal_ / ".hidden.ics", eventText("h@test", "Hidden"));
  fs::create_symlink(personal_ / "missing.ics", personal_ / "dangling.ics");
  writeText(personal_ / "february.ics", eventText("f@test", "February", "20250210T090000Z", "20250210T100000Z"));

  EventItem alpha = only(january());
  EXPECT_EQ(alpha.title, "Alpha");
  EXPECT_EQ(alpha.calendarId, "home/personal");
  EXPECT_EQ(alpha.calendarTitle, "Personal");
  EXPECT_TRUE(std::regex_match(alpha.itemId, std::regex("[0-9a-f]{32}"))) << alpha.itemId;
  ASSERT_TRUE(alpha.origin);
  EXPECT_EQ(titles(store_.events(at(2025, 1, 1), at(2025, 3, 1), std::vector<std::string>{"home/personal"})),
            (std::vector<std::string>{"Alpha", "February"}));
  EXPECT_TRUE(store_.events(at(2025, 1, 1), at(2025, 3, 1), std::vector<std::string>{"home/other"}).empty());
  EXPECT_TRUE(store_.events(at(2025, 1, 1), at(2025, 3, 1), std::vector<std::string>{"nowhere"}).empty());
}

TEST_F(VdirItemsTest, IdsAreStableAndLookUpOnlyWhatWasScanned) {
  writeText(personal_ / "a.ics", eventText("a@test", "Alpha"));
  writeText(chores_ / "t.ics", todoText("t@test", "Take out the bins", false));
  std::string eventId = only(january()).itemId;
  std::vector<ReminderItem> open = store_.reminders(ReminderFilter::All, std::nullopt);
  ASSERT_EQ(open.size(), 1u);
  std::string reminderId = open[0].itemId;
  EXPECT_NE(eventId, reminderId);

  // A fresh store (a new run of the helper) gives the same ids and finds them cold.
  VdirEventStore fresh;
  std::optional<EventItem> found = fresh.event(eventId);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->title, "Alpha");
  EXPECT_EQ(found->itemId, eventId);
  std::optional<ReminderItem> task = fresh.reminder(reminderId);
  ASSERT_TRUE(task);
  EXPECT_EQ(task->title, "Take out the bins");

  for (const std::string& id : {std::string("../x"), std::string(""), std::string("home/personal/a.ics"),
                                std::string("a.ics"), std::string("a@test"), reminderId}) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(fresh.event(id));
  }
  EXPECT_FALSE(fresh.reminder(eventId));

  // The id belongs to the place: once the file is gone, so is the item.
  fs::remove(personal_ / "a.ics");
  EXPECT_FALSE(store_.event(eventId));
  EXPECT_FALSE(fresh.event(eventId));
}

TEST_F(VdirItemsTest, EveryListingChecksTheFilesAgain) {
  TimeZoneGuard zone("UTC");
  fs::path file = personal_ / "a.ics";
  writeText(file, eventText("a@test", "Alpha"));
  EXPECT_EQ(titles(january()), (std::vector<std::string>{"Alpha"}));

  // Rewritten in place: same inode, same size, only the modification time differs.
  struct stat before;
  ASSERT_EQ(stat(file.c_str(), &before), 0);
  {
    std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
    std::string text = eventText("a@test", "Bravo");
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  timespec times[2] = {before.st_atim, before.st_mtim};
  times[1].tv_nsec = (times[1].tv_nsec + 1000) % 1000000000;
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  struct stat after;
  ASSERT_EQ(stat(file.c_str(), &after), 0);
  ASSERT_EQ(after.st_ino, before.st_ino);
  ASSERT_EQ(after.st_size, before.st_size);
  EXPECT_EQ(titles(january()), (std::vector<std::string>{"Bravo"}));

  writeText(other_ / "c.ics", eventText("c@test", "Charlie"));
  EXPECT_EQ(titles(january()), (std::vector<std::string>{"Bravo", "Charlie"}));
  fs::remove(file);
  EXPECT_EQ(titles(january()), (std::vector<std::string>{"Charlie"}));
  // A calendar folder renamed by another program keeps its items under new ids.
  std::string before_rename = only(january()).itemId;
  fs::rename(other_, root() / "calendars/home/renamed");
  EventItem moved = only(january());
  EXPECT_EQ(moved.calendarId, "home/renamed");
  EXPECT_NE(moved.itemId, before_rename);
  store_.reset();
  EXPECT_EQ(titles(january()), (std::vector<std::string>{"Charlie"}));
}

TEST_F(VdirItemsTest, ChangesBehindLinksAndReplacedFoldersAreSeen) {
  TimeZoneGuard zone("UTC");
  // An item file that links to a file elsewhere: editing the target touches nothing in the
  // calendar folder itself.
  fs::path elsewhere = root() / "elsewhere.ics";
  writeText(elsewhere, eventText("l@test", "Linked"));
  fs::create_symlink(elsewhere, personal_ / "linked.ics");
  EXPECT_EQ(titles(january()), (std::vector<std::string>{"Linked"}));
  writeText(elsewhere, eventText("l@test", "Linked and changed"));
  EXPECT_EQ(titles(january()), (std::vector<std::string>{"Linked and changed"}));

  // A calendar folder removed and made again under the same name by another program.
  fs::remove_all(personal_);
  fs::create_directories(personal_);
  writeText(personal_ / "displayname", "Personal");
  writeText(personal_ / "b.ics", eventText("b@test", "Bravo"));
  EXPECT_EQ(titles(january()), (std::vector<std::string>{"Bravo"}));
  // A file replaced by rename, as synchronisation tools write.
  writeText(personal_ / ".b.ics.tmp", eventText("b@test", "Bravo renamed over"));
  fs::rename(personal_ / ".b.ics.tmp", personal_ / "b.ics");
  EXPECT_EQ(titles(january()), (std::vector<std::string>{"Bravo renamed over"}));
}

TEST_F(VdirItemsTest, SavingWritesNewChangedAndMovedEvents) {
  TimeZoneGuard zone("UTC");
  EventItem fresh;
  fresh.calendarId = "home/personal";
  fresh.title = "Dentist";
  fresh.start = at(2025, 1, 15, 9);
  fresh.end = at(2025, 1, 15, 10);
  EventItem saved = store_.saveEvent(fresh, Span::ThisEvent);
  EXPECT_EQ(saved.title, "Dentist");
  EXPECT_EQ(saved.calendarTitle, "Personal");
  ASSERT_TRUE(saved.origin);
  std::set<std::string> files = entryNames(personal_);
  files.erase("displayname");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::regex_match(*files.begin(), std::regex("[0-9a-f-]{36}\\.ics"))) << *files.begin();
  files.insert("displayname");
  EXPECT_EQ(only(january()).itemId, saved.itemId);

  saved.title = "Dentist (moved to 11)";
  EventItem changed = store_.saveEvent(saved, Span::ThisEvent);
  EXPECT_EQ(changed.title, "Dentist (moved to 11)");
  EXPECT_EQ(changed.itemId, saved.itemId);
  EXPECT_EQ(entryNames(personal_), files);

  changed.calendarId = "home/other";
  EventItem moved = store_.saveEvent(changed, Span::ThisEvent);
  EXPECT_EQ(moved.calendarId, "home/other");
  EXPECT_EQ(moved.calendarTitle, "Other");
  EXPECT_EQ(entryNames(personal_), (std::set<std::string>{"displayname"}));
  EXPECT_EQ(only(january()).title, "Dentist (moved to 11)");

  EventItem intoArchive = fresh;
  intoArchive.calendarId = "home/archive";
  EXPECT_THROW(store_.saveEvent(intoArchive, Span::ThisEvent), StoreError);
  EXPECT_EQ(entryNames(archive_), (std::set<std::string>{"calendar.json", "displayname"}));
  EventItem nowhere = fresh;
  nowhere.calendarId = "../home/personal";
  EXPECT_THROW(store_.saveEvent(nowhere, Span::ThisEvent), StoreError);

  store_.removeEvent(moved, Span::ThisEvent);
  EXPECT_EQ(entryNames(other_), (std::set<std::string>{"displayname"}));
  EXPECT_TRUE(january().empty());
}

TEST_F(VdirItemsTest, ChangesToAFileEditedElsewhereAreRefused) {
  TimeZoneGuard zone("UTC");
  fs::path file = personal_ / "a.ics";
  writeText(file, eventText("a@test", "Alpha"));
  EventItem read = only(january());
  std::string edited = eventText("a@test", "Edited by another program");
  writeText(file, edited);

  read.title = "Mine";
  try {
    store_.saveEvent(read, Span::ThisEvent);
    FAIL() << "a changed file was overwritten";
  } catch (const StoreError& error) {
    EXPECT_NE(std::string(error.what()).find("changed on disk since it was read"), std::string::npos) << error.what();
    EXPECT_NE(std::string(error.what()).find(file.string()), std::string::npos) << error.what();
  }
  EXPECT_THROW(store_.removeEvent(read, Span::ThisEvent), StoreError);
  EXPECT_EQ(readText(file), edited);

  fs::remove(file);
  EXPECT_THROW(store_.saveEvent(read, Span::ThisEvent), StoreError);
  EXPECT_FALSE(fs::exists(file));
}

// Another program's atomic write at the worst moment: after the helper checked the file and
// made the new one, just before the new one takes the old one's place.
TEST_F(VdirItemsTest, AChangeNeverUnlinksAVersionWrittenWhileItWasMade) {
  TimeZoneGuard zone("UTC");
  const fs::path event = personal_ / "a.ics";
  const fs::path todo = chores_ / "t.ics";
  auto readEvent = [&] { return only(january()); };
  auto readTodo = [&] { return store_.reminders(ReminderFilter::All, std::nullopt).at(0); };
  struct Case {
    const char* name;
    fs::path file;
    std::function<void()> change;
  };
  const std::vector<Case> cases = {
      {"event saved", event,
       [&] {
         EventItem item = readEvent();
         item.title = "Mine";
         store_.saveEvent(item, Span::ThisEvent);
       }},
      {"event moved", event,
       [&] {
         EventItem item = readEvent();
         item.calendarId = "home/other";
         store_.saveEvent(item, Span::ThisEvent);
       }},
      {"event removed", event, [&] { store_.removeEvent(readEvent(), Span::ThisEvent); }},
      {"reminder completed", todo,
       [&] {
         ReminderItem item = readTodo();
         item.completed = true;
         store_.saveReminder(item);
       }},
      {"reminder removed", todo, [&] { store_.removeReminder(readTodo()); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeText(event, eventText("a@test", "Alpha"));
    writeText(todo, todoText("t@test", "Bins", false));
    const std::string theirs = c.file == event ? eventText("a@test", "Theirs") : todoText("t@test", "Theirs", false);
    ReplaceHookForTesting hook([&](const fs::path& path) {
      if (path == c.file) writeElsewhere(path, theirs);
    });
    try {
      c.change();
      FAIL() << "another program's version was replaced";
    } catch (const StoreError& error) {
      EXPECT_NE(std::string(error.what()).find("changed on disk since it was read"), std::string::npos) << error.what();
    }
    EXPECT_EQ(readText(c.file), theirs);
    EXPECT_EQ(entryNames(personal_), (std::set<std::string>{"a.ics", "displayname"}));
    EXPECT_EQ(entryNames(other_), (std::set<std::string>{"displayname"}));
    EXPECT_EQ(entryNames(chores_), (std::set<std::string>{"displayname", "t.ics"}));
  }
}

TEST_F(VdirItemsTest, ChangesOfOneItemReadBeforeAnEarlierSaveEachApply) {
  TimeZoneGuard zone("UTC");
  // Requests pipelined by one host read the event before any of them saves it.
  writeText(personal_ / "a.ics", eventText("a@test", "Alpha"));
  const EventItem read = only(january());
  EventItem retitled = read;
  retitled.title = "Alpha (retitled)";
  EventItem relocated = read;
  relocated.location = "Room 7";
  EventItem moved = read;
  moved.start = at(2025, 1, 2, 11);
  moved.end = at(2025, 1, 2, 12);
  store_.saveEvent(retitled, Span::ThisEvent);
  store_.saveEvent(relocated, Span::ThisEvent);
  EventItem saved = store_.saveEvent(moved, Span::ThisEvent);
  EXPECT_EQ(saved.title, "Alpha (retitled)");
  EXPECT_EQ(saved.location, "Room 7");
  EXPECT_EQ(saved.start, at(2025, 1, 2, 11));
  EXPECT_EQ(only(january()).location, "Room 7");
  EXPECT_NE(readText(personal_ / "a.ics").find("SEQUENCE:3"), std::string::npos);
  // A removal read before the saves removes what they made.
  store_.removeEvent(read, Span::ThisEvent);
  EXPECT_TRUE(january().empty());

  writeText(chores_ / "t.ics", todoText("t@test", "Bins", false));
  const ReminderItem task = store_.reminders(ReminderFilter::All, std::nullopt).at(0);
  ReminderItem renamed = task;
  renamed.title = "Bins and recycling";
  ReminderItem done = task;
  done.completed = true;
  store_.saveReminder(renamed);
  ReminderItem both = store_.saveReminder(done);
  EXPECT_EQ(both.title, "Bins and recycling");
  EXPECT_TRUE(both.completed);

  // Another program's edit in between is still refused.
  writeElsewhere(chores_ / "t.ics", todoText("t@test", "Theirs", false));
  EXPECT_THROW(store_.saveReminder(renamed), StoreError);
  EXPECT_THROW(store_.removeReminder(task), StoreError);
  EXPECT_EQ(readText(chores_ / "t.ics"), todoText("t@test", "Theirs", false));
}

TEST_F(VdirItemsTest, AChangeOfAnOccurrenceThatAnEarlierSaveEndedIsRefused) {
  TimeZoneGuard zone("UTC");
  writeText(personal_ / "s.ics",
            crlf("BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Test//EN\nBEGIN:VEVENT\nUID:s@test\n"
                 "DTSTAMP:20250101T000000Z\nDTSTART:20250106T090000Z\nDTEND:20250106T100000Z\n"
                 "RRULE:FREQ=DAILY;COUNT=10\nSUMMARY:Daily\nEND:VEVENT\nEND:VCALENDAR\n"));
  std::vector<EventItem> occurrences = january();
  ASSERT_EQ(occurrences.size(), 10u);
  // One request ends the series before the fifth day; another, which read the series
  // before, changes the seventh, which the file no longer holds.
  EventItem fifth = occurrences[4];
  fifth.title = "Daily, new time";
  fifth.start = *fifth.start + std::chrono::hours(1);
  fifth.end = *fifth.end + std::chrono::hours(1);
  store_.saveEvent(fifth, Span::FutureEvents);
  EventItem seventh = occurrences[6];
  seventh.title = "Mine";
  try {
    store_.saveEvent(seventh, Span::ThisEvent);
    FAIL() << "an occurrence the file no longer holds was changed";
  } catch (const StoreError& error) {
    EXPECT_NE(std::string(error.what()).find("no longer holds that occurrence"), std::string::npos) << error.what();
  }
  // The third is still in the file, and its change applies.
  EventItem third = occurrences[2];
  third.title = "Third";
  EXPECT_EQ(store_.saveEvent(third, Span::ThisEvent).title, "Third");
}

// Files no calendar program writes, among real ones: each is skipped or read only as far as
// the limits let it be, none holds the listing up, and none is changed.
TEST_F(VdirItemsTest, HostileFilesAreSkippedOrReadWithinBoundsAndLeftAsTheyAre) {
  TimeZoneGuard zone("UTC");
  writeText(personal_ / "a.ics", eventText("a@test", "Alpha"));
  std::map<std::string, std::string> left;  // small hostile files, by name, as written
  auto hostile = [&](const std::string& name, const std::string& text) {
    writeText(personal_ / name, text);
    left[name] = text;
  };
  const std::string zonedEvent =
      "BEGIN:VEVENT\r\nUID:z@test\r\nDTSTAMP:20250101T000000Z\r\nDTSTART;TZID=Odd:20250102T090000\r\n"
      "SUMMARY:Zoned\r\nEND:VEVENT\r\n";
  for (const char* frequency : {"SECONDLY", "MINUTELY", "HOURLY"}) {
    hostile(std::string("zone-") + frequency + ".ics",
            "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VTIMEZONE\r\nTZID:Odd\r\nBEGIN:STANDARD\r\n"
            "DTSTART:19700101T000000\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0000\r\nRRULE:FREQ=" +
                std::string(frequency) + "\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n" + zonedEvent + "END:VCALENDAR\r\n");
  }
  std::string longLine = eventText("l@test", "Long line");
  longLine.insert(longLine.find("SUMMARY"), "DESCRIPTION:" + std::string(3 << 20, 'x') + "\r\n");
  hostile("long-line.ics", longLine);
  // Nested 37,500 levels deep in a file of a megabyte: listed, as far as the levels go.
  std::string deep = eventText("d@test", "Deep");
  std::string alarms;
  for (int i = 0; i < 37'500; ++i) alarms += "BEGIN:VALARM\r\n";
  for (int i = 0; i < 37'500; ++i) alarms += "END:VALARM\r\n";
  deep.insert(deep.find("END:VEVENT"), alarms);
  hostile("deep.ics", deep);
  // Larger than any item: never read, whatever they hold.
  writeText(personal_ / "junk.ics", eventText("j@test", "Junk") + std::string(9 << 20, 'j'));
  std::error_code sparse;
  fs::resize_file(personal_ / "junk.ics", std::uintmax_t{1} << 40, sparse);
  ASSERT_EQ(mkfifo((personal_ / "fifo.ics").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", personal_ / "zero.ics");

  const auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(titles(january()), (std::vector<std::string>{"Alpha", "Deep"}));
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(10));
  for (const auto& [name, text] : left) EXPECT_EQ(readText(personal_ / name), text) << name;
  EXPECT_TRUE(fs::is_fifo(personal_ / "fifo.ics"));

  // The deep file is not changed, and says why.
  EventItem deepEvent;
  for (const EventItem& item : january())
    if (item.title == "Deep") deepEvent = item;
  deepEvent.title = "Shallow";
  try {
    store_.saveEvent(deepEvent, Span::ThisEvent);
    FAIL() << "a file nested too deep for the writer was changed";
  } catch (const StoreError& error) {
    EXPECT_EQ(std::string(error.what()),
              "the file " + (personal_ / "deep.ics").string() +
                  " cannot be changed: it nests components 37502 levels deep, more than the 64 the helper "
                  "changes; it is left as it is");
  }
  EXPECT_THROW(store_.removeEvent(deepEvent, Span::ThisEvent), StoreError);
  EXPECT_EQ(readText(personal_ / "deep.ics"), deep);
}

TEST_F(VdirItemsTest, RemindersAreFilteredByCompletion) {
  writeText(chores_ / "open.ics", todoText("o@test", "Open", false));
  writeText(chores_ / "done.ics", todoText("d@test", "Done", true));
  writeText(chores_ / "event.ics", eventText("e@test", "An event among reminders"));
  struct Case {
    ReminderFilter filter;
    std::vector<std::string> titles;
  };
  const std::vector<Case> cases = {{ReminderFilter::Incomplete, {"Open"}},
                                   {ReminderFilter::Completed, {"Done"}},
                                   {ReminderFilter::All, {"Done", "Open"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.filter));
    std::vector<std::string> got;
    for (const ReminderItem& item : store_.reminders(c.filter, std::nullopt)) {
      EXPECT_EQ(item.calendarTitle, "Chores");
      got.push_back(item.title);
    }
    EXPECT_EQ(got, c.titles);  // in file name order
  }
}

TEST_F(VdirItemsTest, SavingAndRemovingReminders) {
  ReminderItem fresh;
  fresh.calendarId = "home/chores";
  fresh.title = "Water the plants";
  ReminderItem saved = store_.saveReminder(fresh);
  EXPECT_EQ(saved.title, "Water the plants");
  ASSERT_TRUE(saved.origin);
  ASSERT_EQ(entryNames(chores_).size(), 2u);

  saved.completed = true;
  ReminderItem done = store_.saveReminder(saved);
  EXPECT_TRUE(done.completed);
  EXPECT_EQ(store_.reminders(ReminderFilter::Completed, std::nullopt).size(), 1u);
  EXPECT_TRUE(store_.reminders(ReminderFilter::Incomplete, std::nullopt).empty());

  // A reminder changed elsewhere is not removed.
  fs::path file = saved.origin->path;
  writeText(file, todoText("x@test", "Changed elsewhere", false));
  EXPECT_THROW(store_.removeReminder(done), StoreError);
  ASSERT_EQ(store_.reminders(ReminderFilter::All, std::nullopt).size(), 1u);
  ReminderItem current = store_.reminders(ReminderFilter::All, std::nullopt)[0];
  store_.removeReminder(current);
  EXPECT_EQ(entryNames(chores_), (std::set<std::string>{"displayname"}));
}

// A reminder taken from a list is changed like one fetched alone, and refused like it when
// another program wrote its file since it was listed.
TEST_F(VdirItemsTest, ListedRemindersAreChangedOnlyWhileTheirFileIsTheVersionListed) {
  fs::path file = chores_ / "open.ics";
  writeText(file, todoText("o@test", "Open", false));
  ReminderItem listed = store_.reminders(ReminderFilter::All, std::nullopt).at(0);
  listed.title = "Renamed from the list";
  ReminderItem saved = store_.saveReminder(listed);
  EXPECT_EQ(saved.title, "Renamed from the list");
  EXPECT_NE(readText(file).find("SUMMARY:Renamed from the list"), std::string::npos);

  ReminderItem stale = store_.reminders(ReminderFilter::All, std::nullopt).at(0);
  const std::string edited = todoText("o@test", "Edited by another program", false);
  writeText(file, edited);
  stale.title = "Mine";
  try {
    store_.saveReminder(stale);
    FAIL() << "a changed file was overwritten";
  } catch (const StoreError& error) {
    EXPECT_NE(std::string(error.what()).find("changed on disk since it was read"), std::string::npos) << error.what();
  }
  EXPECT_THROW(store_.removeReminder(stale), StoreError);
  EXPECT_EQ(readText(file), edited);
}

}  // namespace
}  // namespace wren::platform

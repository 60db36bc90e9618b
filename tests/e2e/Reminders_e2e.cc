// The reminders methods run through the real helper over a temporary store of VTODO files.
// After every change the files are read back with an independent iCalendar parser (Python's
// icalendar module) and with a command-line task manager that reads the same folders, so
// that what the helper writes is proven readable by other programs, not only by itself.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/HelperProcess.h"

namespace wren::testing {
namespace {

namespace fs = std::filesystem;

// The system interpreter, where the distribution installs the icalendar module.
constexpr const char* kPython = "/usr/bin/python3";

// Prints every VTODO under the folder as one JSON array: where it is, its properties as the
// helper writes them, its alarms, and whether the file keeps the line and zone rules.
constexpr const char* kDumpScript = R"PY(
import datetime, json, os, sys
import icalendar
root = sys.argv[1]
def utc(value):
    if isinstance(value, datetime.datetime):
        if value.tzinfo is None:
            return value.strftime('%Y%m%dT%H%M%S')
        return value.astimezone(datetime.timezone.utc).strftime('%Y%m%dT%H%M%SZ')
    return value.strftime('%Y%m%d')
out = []
for folder, dirs, files in sorted(os.walk(root)):
    dirs.sort()
    for name in sorted(files):
        if not name.endswith('.ics'):
            continue
        raw = open(os.path.join(folder, name), 'rb').read()
        lines = raw.split(b'\r\n')
        cal = icalendar.Calendar.from_ical(raw)
        zones = [str(z['TZID']) for z in cal.walk('VTIMEZONE')]
        for todo in cal.walk('VTODO'):
            def text(key):
                return str(todo[key]) if key in todo else None
            alarms = []
            for alarm in todo.walk('VALARM'):
                trigger = alarm['TRIGGER']
                if trigger.params.get('VALUE') == 'DATE-TIME':
                    kind = 'at ' + utc(alarm.decoded('TRIGGER'))
                else:
                    kind = 'rel ' + trigger.to_ical().decode()
                alarms.append({'trigger': kind, 'described': 'DESCRIPTION' in alarm or str(alarm.get('ACTION')) != 'DISPLAY'})
            due = todo.get('DUE')
            out.append({
                'list': os.path.relpath(folder, root), 'file': name,
                'uid': text('UID'), 'dtstamp': 'DTSTAMP' in todo,
                'summary': text('SUMMARY'), 'description': text('DESCRIPTION'), 'url': text('URL'),
                'priority': int(todo.get('PRIORITY', 0)), 'status': text('STATUS'),
                'completed': utc(todo.decoded('COMPLETED')) if 'COMPLETED' in todo else None,
                'due': utc(todo.decoded('DUE')) if due is not None else None,
                'due_tzid': str(due.params['TZID']) if due is not None and 'TZID' in due.params else None,
                'rrule': todo['RRULE'].to_ical().decode() if 'RRULE' in todo else None,
                'alarms': alarms, 'zones': zones,
                'crlf': all(b'\n' not in line for line in lines) and raw.endswith(b'\r\n'),
                'folded': all(len(line) <= 75 for line in lines),
            })
print(json.dumps(out))
)PY";

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

bool haveIcalendarModule() {
  static const bool present =
      runCommand(std::string(kPython) + " -c 'import icalendar' 2>/dev/null").status == 0;
  return present;
}

// The task manager's command, under either of the names distributions give it.
std::string taskManager() {
  static const std::string found = [] {
    for (const char* name : {"todo", "todoman"}) {
      if (haveCommand(name)) return std::string(name);
    }
    return std::string();
  }();
  return found;
}

std::string vtodo(const std::string& uid, const std::vector<std::string>& lines) {
  std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Wren tests//EN\r\nBEGIN:VTODO\r\n";
  text += "UID:" + uid + "\r\nDTSTAMP:20240101T000000Z\r\n";
  for (const std::string& line : lines) text += line + "\r\n";
  return text + "END:VTODO\r\nEND:VCALENDAR\r\n";
}

class RemindersE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    helper_.writeFile("wren/privacy.json", R"({"reminders":"granted","calendar":"granted"})");
    writeStore("wren/reminders/store.json", R"({"default":"local/work"})");
    writeStore("wren/reminders/local/source.json", R"({"title":"On My Computer"})");
    writeStore("wren/reminders/local/home/displayname", "Home\n");
    writeStore("wren/reminders/local/work/displayname", "Work\n");
    writeStore("wren/reminders/local/archive/displayname", "Archive\n");
    writeStore("wren/reminders/local/archive/calendar.json", R"({"read_only":true})");
    todo("home", "rent", {"SUMMARY:Pay rent", "DUE;VALUE=DATE:20240501", "PRIORITY:1"});
    todo("home", "call", {"SUMMARY:Call mum", "DUE:20240501T090000Z", "PRIORITY:5",
                          "DESCRIPTION:Ask about the weekend"});
    todo("home", "cafe", {"SUMMARY:Meet at Café Luna"});
    todo("work", "meeting", {"SUMMARY:Team meeting", "DESCRIPTION:Bring coffee from the cafe"});
    todo("work", "done", {"SUMMARY:Old task", "STATUS:COMPLETED", "COMPLETED:20240420T100000Z"});
    todo("archive", "locked", {"SUMMARY:Locked item", "DUE;VALUE=DATE:20240601"});
  }

  void writeStore(const std::string& relative, const std::string& text) { helper_.writeFile(relative, text); }
  void todo(const std::string& list, const std::string& name, const std::vector<std::string>& lines) {
    writeStore("wren/reminders/local/" + list + "/" + name + ".ics", vtodo(name + "-uid", lines));
  }
  fs::path storeRoot() const { return helper_.dataRoot() / "reminders"; }
  fs::path file(const std::string& list, const std::string& name) const {
    return storeRoot() / "local" / list / (name + ".ics");
  }

  Json call(const std::string& method, const Json& params = Json::object()) {
    HelperRun run = helper_.run({requestLine(1, method, params)});
    return run.reply(1);
  }
  Json result(const std::string& method, const Json& params = Json::object()) {
    Json reply = call(method, params);
    EXPECT_EQ(reply.value("ok", false), true) << reply.dump();
    return reply.value("result", Json());
  }
  Json error(const std::string& method, const Json& params) {
    Json reply = call(method, params);
    EXPECT_EQ(reply.value("ok", true), false) << reply.dump();
    return reply.value("error", Json::object());
  }

  std::vector<std::string> titles(const Json& params) {
    std::vector<std::string> out;
    const Json page = result("reminders.items.list", params);
    for (const Json& row : page.at("reminders")) out.push_back(row.at("title"));
    return out;
  }
  // The id of the one reminder with that title, looked up through the helper itself.
  std::string idOf(const std::string& title) {
    const Json page = result("reminders.items.list", {{"status", "all"}, {"limit", 500}});
    for (const Json& row : page.at("reminders")) {
      if (row.at("title") == title) return row.at("reminder_id");
    }
    ADD_FAILURE() << "no reminder titled " << title;
    return {};
  }

  // Every VTODO on disk as Python's icalendar reads it; null when the module is missing.
  Json filesOnDisk() const {
    if (!haveIcalendarModule()) return Json();
    Command dump = runCommand(std::string(kPython) + " -c " + quoted(kDumpScript) + " " + quoted(storeRoot().string()));
    EXPECT_EQ(dump.status, 0) << dump.out;
    return Json::parse(dump.out);
  }
  Json onDisk(const std::string& summary) const {
    Json files = filesOnDisk();
    for (const Json& item : files) {
      if (item.at("summary") == summary) return item;
    }
    return Json();
  }
  // Checks the rules every file the helper writes must keep.
  void expectWellFormed(const Json& item) const {
    SCOPED_TRACE(item.dump());
    EXPECT_TRUE(item.at("crlf"));
    EXPECT_TRUE(item.at("folded"));
    EXPECT_TRUE(item.at("dtstamp"));
    EXPECT_FALSE(item.at("uid").is_null());
    for (const Json& alarm : item.at("alarms")) {
      EXPECT_TRUE(alarm.at("described"));
    }
    if (!item.at("due_tzid").is_null()) {
      std::set<std::string> zones(item.at("zones").begin(), item.at("zones").end());
      EXPECT_TRUE(zones.count(item.at("due_tzid").get<std::string>()));
    }
  }

  // The reminders as the task manager lists them (open and completed); null when missing.
  Json taskManagerList() const {
    if (taskManager().empty()) return Json();
    fs::path config = helper_.home() / "todoman.py";
    std::ofstream(config) << "path = \"" << (storeRoot() / "*" / "*").string() << "\"\n"
                          << "date_format = \"%Y-%m-%d\"\ntime_format = \"%H:%M\"\n"
                          << "cache_path = \"" << (helper_.home() / "todoman.sqlite3").string() << "\"\n";
    Command list = runCommand("HOME=" + quoted(helper_.home().string()) + " " + taskManager() + " --config " +
                              quoted(config.string()) + " --porcelain list --status ANY 2>/dev/null");
    EXPECT_EQ(list.status, 0) << list.out;
    return Json::parse(list.out);
  }
  std::multiset<std::string> taskManagerTitles() const {
    std::multiset<std::string> out;
    for (const Json& task : taskManagerList()) out.insert(task.at("summary").get<std::string>());
    return out;
  }

  HelperProcess helper_;
};

#define SKIP_WITHOUT_PARSER() \
  if (!haveIcalendarModule()) GTEST_SKIP() << "Python's icalendar module is not installed"

TEST_F(RemindersE2e, ListsOpenRemindersDatedFirstByDefault) {
  Json page = result("reminders.items.list");
  EXPECT_EQ(page.at("total"), 5);
  EXPECT_EQ(page.at("has_more"), false);
  EXPECT_FALSE(page.contains("next_cursor"));
  std::vector<std::string> order;
  for (const Json& row : page.at("reminders")) order.push_back(row.at("title"));
  EXPECT_EQ(order, (std::vector<std::string>{"Pay rent", "Call mum", "Locked item", "Meet at Café Luna",
                                             "Team meeting"}));
  const Json& rent = page.at("reminders").at(0);
  EXPECT_EQ(rent.at("due"), "2024-05-01");
  EXPECT_EQ(rent.at("due_all_day"), true);
  EXPECT_EQ(rent.at("priority"), "high");
  EXPECT_EQ(rent.at("list"), "Home");
  EXPECT_EQ(rent.at("list_id"), "local/home");
  EXPECT_EQ(rent.at("completed"), false);
  const Json& callRow = page.at("reminders").at(1);
  EXPECT_EQ(callRow.at("due"), "2024-05-01T09:00:00Z");
  EXPECT_FALSE(callRow.contains("due_all_day"));
  EXPECT_EQ(callRow.at("priority"), "medium");
  EXPECT_EQ(callRow.at("notes"), "Ask about the weekend");
}

TEST_F(RemindersE2e, FiltersByStatus) {
  Json completed = result("reminders.items.list", {{"status", "completed"}});
  ASSERT_EQ(completed.at("total"), 1);
  EXPECT_EQ(completed.at("reminders").at(0).at("title"), "Old task");
  EXPECT_EQ(completed.at("reminders").at(0).at("completed_at"), "2024-04-20T10:00:00Z");
  EXPECT_EQ(result("reminders.items.list", {{"status", "all"}}).at("total"), 6);
  Json bad = error("reminders.items.list", {{"status", "Completed"}});
  EXPECT_EQ(bad.at("code"), "invalid_args");
  EXPECT_EQ(bad.at("message"), "status must be incomplete / completed / all, got Completed");
}

TEST_F(RemindersE2e, FiltersByListsAndDefaultList) {
  struct Case {
    Json params;
    std::vector<std::string> titles;
  };
  const std::vector<Case> cases = {
      {{{"list", "work"}}, {"Team meeting"}},
      {{{"list", "local/home"}}, {"Pay rent", "Call mum", "Meet at Café Luna"}},
      {{{"list_ids", {"local/work", "local/archive"}}}, {"Locked item", "Team meeting"}},
      {{{"list_ids", "local/archive"}}, {"Locked item"}},
      {{{"default_list", true}}, {"Team meeting"}},
      {{{"list", "Archive"}, {"default_list", true}, {"status", "all"}}, {"Locked item", "Team meeting", "Old task"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params.dump());
    EXPECT_EQ(titles(c.params), c.titles);
  }
  EXPECT_EQ(error("reminders.items.list", {{"list_ids", {"local/work", "local/nowhere"}}}).at("code"), "invalid_args");
  EXPECT_EQ(error("reminders.items.list", {{"list", "Nowhere"}}).at("code"), "invalid_args");
}

TEST_F(RemindersE2e, DefaultListFilterFailsWithoutADefault) {
  fs::remove(storeRoot() / "store.json");
  Json failure = error("reminders.items.list", {{"default_list", true}});
  EXPECT_EQ(failure.at("code"), "execution_failed");
  EXPECT_EQ(failure.at("message"), "This Mac's Reminders has no default list.");
}

TEST_F(RemindersE2e, FiltersByDueBounds) {
  struct Case {
    Json params;
    std::vector<std::string> titles;
  };
  const std::vector<Case> cases = {
      // A bare day includes everything due on it; a moment excludes what is due exactly then.
      {{{"due_before", "2024-05-01"}}, {"Pay rent", "Call mum"}},
      {{{"due_before", "2024-05-01T09:00:00Z"}}, {"Pay rent"}},
      {{{"due_after", "2024-05-01T09:00:00Z"}}, {"Call mum", "Locked item"}},
      {{{"due_after", "2024-05-02"}, {"status", "all"}}, {"Locked item"}},
      {{{"due_before", "2030-01-01"}, {"status", "all"}}, {"Pay rent", "Call mum", "Locked item"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params.dump());
    EXPECT_EQ(titles(c.params), c.titles);
  }
  Json bad = error("reminders.items.list", {{"due_before", "tomorrow"}});
  EXPECT_EQ(bad.at("code"), "invalid_args");
  EXPECT_EQ(bad.at("message"), "due_before must be an ISO 8601 date/time, got tomorrow");
}

TEST_F(RemindersE2e, FiltersByQueryIgnoringCaseAndDiacritics) {
  struct Case {
    const char* query;
    std::vector<std::string> titles;
  };
  const std::vector<Case> cases = {
      {"cafe", {"Meet at Café Luna", "Team meeting"}},  // the second matches in its notes only
      {"CAFÉ", {"Meet at Café Luna", "Team meeting"}},
      {"weekend", {"Call mum"}},
      {"nothing like this", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    EXPECT_EQ(titles({{"query", c.query}}), c.titles);
  }
}

TEST(RemindersE2ePaging, PagesManyRemindersWithACursor) {
  HelperProcess helper;
  helper.writeFile("wren/privacy.json", R"({"reminders":"granted"})");
  helper.writeFile("wren/reminders/local/many/displayname", "Many\n");
  for (int i = 0; i < 120; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "t%03d", i);
    helper.writeFile(std::string("wren/reminders/local/many/") + name + ".ics",
                     vtodo(name, {std::string("SUMMARY:Task ") + name}));
  }
  struct Case {
    Json params;
    size_t rows;
    bool hasMore;
    const char* cursor;
    const char* first;
  };
  const std::vector<Case> cases = {
      {Json::object(), 50, true, "50", "Task t000"},
      {{{"offset", 100}}, 20, false, nullptr, "Task t100"},
      {{{"offset", 200}}, 0, false, nullptr, nullptr},
      {{{"limit", 0}, {"offset", 7}}, 1, true, "8", "Task t007"},
      {{{"limit", 10000}}, 120, false, nullptr, "Task t000"},
  };
  std::vector<std::string> lines;
  for (size_t i = 0; i < cases.size(); ++i) {
    lines.push_back(requestLine(static_cast<int64_t>(i + 1), "reminders.items.list", cases[i].params));
  }
  HelperRun run = helper.run(lines);
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.params.dump());
    const Json& page = run.result(static_cast<int64_t>(i + 1));
    EXPECT_EQ(page.at("total"), 120);
    EXPECT_EQ(page.at("reminders").size(), c.rows);
    EXPECT_EQ(page.at("has_more"), c.hasMore);
    EXPECT_EQ(page.contains("next_cursor"), c.cursor != nullptr);
    if (c.cursor) {
      EXPECT_EQ(page.at("next_cursor"), c.cursor);
    }
    if (c.first) {
      EXPECT_EQ(page.at("reminders").at(0).at("title"), c.first);
    }
  }
}

TEST_F(RemindersE2e, GetsADetailRowAndRejectsIdsOfNoReminder) {
  todo("home", "long", {"SUMMARY:Long notes", "DESCRIPTION:" + std::string(301, 'n'), "RRULE:FREQ=WEEKLY;COUNT=3",
                        "DUE;VALUE=DATE:20240510", "CREATED:20240401T080000Z"});
  std::string id = idOf("Long notes");
  Json listRow = result("reminders.items.list", {{"query", "Long notes"}}).at("reminders").at(0);
  EXPECT_EQ(listRow.at("notes").get<std::string>().size(), 300u);
  EXPECT_EQ(listRow.at("notes_truncated"), true);
  EXPECT_FALSE(listRow.contains("recurrence"));

  Json detail = result("reminders.items.get", {{"reminder_id", id}});
  EXPECT_EQ(detail.at("notes").get<std::string>().size(), 301u);
  EXPECT_FALSE(detail.contains("notes_truncated"));
  EXPECT_EQ(detail.at("recurring"), true);
  EXPECT_EQ(detail.at("recurrence"), "FREQ=WEEKLY;COUNT=3");
  EXPECT_EQ(detail.at("created"), "2024-04-01T08:00:00Z");

  EXPECT_EQ(error("reminders.items.get", Json::object()).at("message"), "reminder_id is required");
  Json unknown = error("reminders.items.get", {{"reminder_id", "no-such-id"}});
  EXPECT_EQ(unknown.at("code"), "invalid_args");
  EXPECT_EQ(unknown.at("message"),
            "No reminder with reminder_id no-such-id on this Mac (deleted, or not a reminder id). Find it with "
            "reminders.list.");

  helper_.writeFile("wren/calendars/local/cal/displayname", "Calendar\n");
  helper_.writeFile("wren/calendars/local/cal/e.ics",
                    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Wren tests//EN\r\nBEGIN:VEVENT\r\nUID:event-uid\r\n"
                    "DTSTAMP:20240101T000000Z\r\nDTSTART:20240501T100000Z\r\nDTEND:20240501T110000Z\r\n"
                    "SUMMARY:Event\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
  Json events = result("calendar.events.list", {{"start", "2024-05-01"}, {"end", "2024-05-02"}});
  ASSERT_EQ(events.at("events").size(), 1u) << events.dump();
  std::string eventId = events.at("events").at(0).at("event_id");
  EXPECT_EQ(error("reminders.items.get", {{"reminder_id", eventId}}).at("message"),
            "No reminder with reminder_id " + eventId +
                " on this Mac (deleted, or not a reminder id). Find it with reminders.list.");
}

TEST_F(RemindersE2e, CreatesInTheWritableDefaultListElseTheFirstWritableList) {
  Json created = result("reminders.items.create", {{"title", "  Buy milk  "}});
  EXPECT_EQ(created.at("title"), "Buy milk");
  EXPECT_EQ(created.at("list"), "Work");
  EXPECT_EQ(created.at("list_id"), "local/work");
  EXPECT_EQ(created.at("completed"), false);
  EXPECT_FALSE(created.contains("due"));

  // With a read-only default, the first writable list by account and list title wins.
  writeStore("wren/reminders/store.json", R"({"default":"local/archive"})");
  EXPECT_EQ(result("reminders.items.create", {{"title", "Buy bread"}}).at("list"), "Home");
  EXPECT_EQ(result("reminders.items.create", {{"title", "Named"}, {"list", "work"}}).at("list"), "Work");

  if (haveIcalendarModule()) {
    for (const auto& [title, list] : {std::pair{"Buy milk", "local/work"}, {"Buy bread", "local/home"}}) {
      SCOPED_TRACE(title);
      Json item = onDisk(title);
      ASSERT_FALSE(item.is_null());
      EXPECT_EQ(item.at("list"), list);
      EXPECT_TRUE(item.at("due").is_null());
      EXPECT_TRUE(item.at("alarms").empty());
      expectWellFormed(item);
    }
  }
  if (!taskManager().empty()) {
    std::multiset<std::string> seen = taskManagerTitles();
    EXPECT_EQ(seen.count("Buy milk"), 1u);
    EXPECT_EQ(seen.count("Buy bread"), 1u);
  }
}

TEST_F(RemindersE2e, CreatesWithADueDayOrADueTimeAndItsAlarm) {
  helper_.setEnv("TZ", "Asia/Shanghai");
  Json day = result("reminders.items.create", {{"title", "Day due"}, {"due", "2024-06-01"}, {"priority", "low"},
                                               {"notes", "  spaced  "}, {"url", "https://example.org/day"}});
  EXPECT_EQ(day.at("due"), "2024-06-01");
  EXPECT_EQ(day.at("due_all_day"), true);
  EXPECT_EQ(day.at("priority"), "low");
  EXPECT_EQ(day.at("notes"), "  spaced  ");
  EXPECT_EQ(day.at("url"), "https://example.org/day");
  EXPECT_FALSE(day.contains("alarms"));

  Json timed = result("reminders.items.create", {{"title", "Time due"}, {"due", "2024-06-01T09:30:00+08:00"}});
  EXPECT_EQ(timed.at("due"), "2024-06-01T09:30:00+08:00");
  EXPECT_FALSE(timed.contains("due_all_day"));
  EXPECT_EQ(timed.at("alarms"), Json::parse(R"([{"at":"2024-06-01T09:30:00+08:00"}])"));

  Json quiet = result("reminders.items.create", {{"title", "Quiet"}, {"due", "2024-06-01T10:00"}, {"alarm", false}});
  EXPECT_EQ(quiet.at("due"), "2024-06-01T10:00:00+08:00");
  EXPECT_FALSE(quiet.contains("alarms"));

  SKIP_WITHOUT_PARSER();
  Json dayFile = onDisk("Day due");
  EXPECT_EQ(dayFile.at("due"), "20240601");
  EXPECT_EQ(dayFile.at("priority"), 9);
  EXPECT_EQ(dayFile.at("description"), "  spaced  ");
  EXPECT_EQ(dayFile.at("url"), "https://example.org/day");
  EXPECT_TRUE(dayFile.at("alarms").empty());
  Json timeFile = onDisk("Time due");
  EXPECT_EQ(timeFile.at("due"), "20240601T013000Z");
  EXPECT_EQ(timeFile.at("due_tzid"), "Asia/Shanghai");
  EXPECT_EQ(timeFile.at("alarms"), Json::parse(R"([{"trigger":"at 20240601T013000Z","described":true}])"));
  EXPECT_TRUE(onDisk("Quiet").at("alarms").empty());
  for (const char* title : {"Day due", "Time due", "Quiet"}) expectWellFormed(onDisk(title));
}

TEST_F(RemindersE2e, CreateRejectsBadValuesAndWritesNothing) {
  struct Case {
    Json params;
    const char* code;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{{"title", "   "}}, "invalid_args", "title is required"},
      {{{"title", "x"}, {"url", "example"}}, "invalid_args", "url must be an absolute URL, got example"},
      {{{"title", "x"}, {"priority", "High"}}, "invalid_args", "priority must be high / medium / low / none, got High"},
      {{{"title", "x"}, {"due", "June"}}, "invalid_args", "due must be an ISO 8601 date or date-time, got June"},
      {{{"title", "x"}, {"recurrence", {{"frequency", "daily"}}}},
       "invalid_args",
       "A repeating reminder needs a due date: pass due as well."},
      {{{"title", "x"}, {"due", "2024-06-01"}, {"recurrence", {{"frequency", "Daily"}}}},
       "invalid_args",
       "recurrence.frequency must be daily / weekly / monthly / yearly / none, got Daily"},
  };
  auto countFiles = [&] {
    size_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(storeRoot())) count += entry.path().extension() == ".ics";
    return count;
  };
  const size_t before = countFiles();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params.dump());
    Json failure = error("reminders.items.create", c.params);
    EXPECT_EQ(failure.at("code"), c.code);
    EXPECT_EQ(failure.at("message"), c.message);
  }
  EXPECT_EQ(error("reminders.items.create", {{"title", "x"}, {"list", "Archive"}}).at("code"), "invalid_args");
  EXPECT_EQ(countFiles(), before);
}

TEST_F(RemindersE2e, UpdatesFieldsAndReportsWhatChanged) {
  std::string id = idOf("Call mum");
  Json updated = result("reminders.items.update", {{"reminder_id", id},
                                                   {"title", "Call mum tonight"},
                                                   {"notes", nullptr},
                                                   {"url", "https://example.org/call"},
                                                   {"priority", "none"}});
  EXPECT_EQ(updated.at("changed"), Json::parse(R"(["title","notes","url","priority"])"));
  EXPECT_EQ(updated.at("reminder_id"), id);
  EXPECT_EQ(updated.at("title"), "Call mum tonight");
  EXPECT_FALSE(updated.contains("notes"));
  EXPECT_FALSE(updated.contains("priority"));
  EXPECT_EQ(updated.at("due"), "2024-05-01T09:00:00Z");
  EXPECT_EQ(result("reminders.items.get", {{"reminder_id", id}}).at("title"), "Call mum tonight");

  Json cleared = result("reminders.items.update", {{"reminder_id", id}, {"url", nullptr}, {"due", ""}});
  EXPECT_EQ(cleared.at("changed"), Json::parse(R"(["url","due"])"));
  EXPECT_FALSE(cleared.contains("url"));
  EXPECT_FALSE(cleared.contains("due"));

  SKIP_WITHOUT_PARSER();
  Json item = onDisk("Call mum tonight");
  ASSERT_FALSE(item.is_null());
  EXPECT_EQ(item.at("uid"), "call-uid");
  EXPECT_EQ(item.at("file"), "call.ics");
  EXPECT_TRUE(item.at("description").is_null());
  EXPECT_TRUE(item.at("url").is_null());
  EXPECT_TRUE(item.at("due").is_null());
  EXPECT_EQ(item.at("priority"), 0);
  expectWellFormed(item);
  if (!taskManager().empty()) {
    EXPECT_EQ(taskManagerTitles().count("Call mum tonight"), 1u);
  }
}

TEST_F(RemindersE2e, UpdateReplacesTheDueAlarmAndKeepsRelativeOnes) {
  todo("home", "alarmed", {"SUMMARY:Alarmed", "DUE:20240501T090000Z", "BEGIN:VALARM", "ACTION:DISPLAY",
                           "DESCRIPTION:Reminder", "TRIGGER;VALUE=DATE-TIME:20240501T090000Z", "END:VALARM",
                           "BEGIN:VALARM", "ACTION:DISPLAY", "DESCRIPTION:Reminder", "TRIGGER:-PT15M",
                           "END:VALARM"});
  std::string id = idOf("Alarmed");
  Json moved = result("reminders.items.update", {{"reminder_id", id}, {"due", "2024-05-02T10:00:00Z"}});
  EXPECT_EQ(moved.at("changed"), Json::parse(R"(["due"])"));
  EXPECT_EQ(moved.at("alarms"), Json::parse(R"([{"minutes_before":15},{"at":"2024-05-02T10:00:00Z"}])"));

  Json silenced = result("reminders.items.update", {{"reminder_id", id}, {"alarm", false}});
  EXPECT_EQ(silenced.at("changed"), Json::parse(R"(["alarm"])"));
  EXPECT_EQ(silenced.at("alarms"), Json::parse(R"([{"minutes_before":15}])"));

  Json nothing = error("reminders.items.update", {{"reminder_id", id}, {"alarm", true}});
  EXPECT_EQ(nothing.at("message"),
            "Nothing to change: pass at least one field (title, notes, due, priority, url, list, alarm, "
            "recurrence).");

  SKIP_WITHOUT_PARSER();
  Json item = onDisk("Alarmed");
  EXPECT_EQ(item.at("due"), "20240502T100000Z");
  EXPECT_EQ(item.at("alarms"), Json::parse(R"([{"trigger":"rel -PT15M","described":true}])"));
  expectWellFormed(item);
}

TEST_F(RemindersE2e, UpdateSetsRecurrenceOnlyWithADueDate) {
  std::string dated = idOf("Pay rent");
  Json repeating = result("reminders.items.update",
                          {{"reminder_id", dated}, {"recurrence", {{"frequency", "monthly"}, {"count", 12}}}});
  EXPECT_EQ(repeating.at("changed"), Json::parse(R"(["recurrence"])"));
  EXPECT_EQ(repeating.at("recurrence"), "FREQ=MONTHLY;COUNT=12");

  std::string undated = idOf("Meet at Café Luna");
  const std::string before = HelperProcess::readFile(file("home", "cafe"));
  Json failure = error("reminders.items.update", {{"reminder_id", undated}, {"title", "Renamed"},
                                                  {"recurrence", {{"frequency", "daily"}}}});
  EXPECT_EQ(failure.at("message"), "A repeating reminder needs a due date: pass due as well.");
  EXPECT_EQ(HelperProcess::readFile(file("home", "cafe")), before);

  SKIP_WITHOUT_PARSER();
  EXPECT_EQ(onDisk("Pay rent").at("rrule"), "FREQ=MONTHLY;COUNT=12");
  expectWellFormed(onDisk("Pay rent"));
}

TEST_F(RemindersE2e, UpdateRefusesReadOnlyListsAndMovesBetweenLists) {
  Json locked = error("reminders.items.update", {{"reminder_id", idOf("Locked item")}, {"title", "Unlocked"}});
  EXPECT_EQ(locked.at("code"), "invalid_args");
  EXPECT_EQ(locked.at("message"), "\"Locked item\" is in a read-only list and cannot be changed.");

  std::string id = idOf("Meet at Café Luna");
  const std::string before = HelperProcess::readFile(file("home", "cafe"));
  EXPECT_EQ(error("reminders.items.update", {{"reminder_id", id}, {"list", "Archive"}}).at("code"), "invalid_args");
  EXPECT_EQ(error("reminders.items.update", {{"reminder_id", id}, {"url", "nope"}}).at("message"),
            "url must be an absolute URL, got nope");
  EXPECT_EQ(HelperProcess::readFile(file("home", "cafe")), before);

  Json moved = result("reminders.items.update", {{"reminder_id", id}, {"list", "Work"}});
  EXPECT_EQ(moved.at("changed"), Json::parse(R"(["list"])"));
  EXPECT_EQ(moved.at("list"), "Work");
  EXPECT_EQ(titles({{"list", "Work"}}), (std::vector<std::string>{"Meet at Café Luna", "Team meeting"}));
  EXPECT_EQ(titles({{"list", "Home"}}), (std::vector<std::string>{"Pay rent", "Call mum"}));

  SKIP_WITHOUT_PARSER();
  Json item = onDisk("Meet at Café Luna");
  EXPECT_EQ(item.at("list"), "local/work");
  EXPECT_EQ(item.at("uid"), "cafe-uid");
  EXPECT_EQ(filesOnDisk().size(), 6u);
}

TEST_F(RemindersE2e, CompletesReopensAndKeepsAnEarlierCompletionDate) {
  std::string id = idOf("Pay rent");
  Json done = result("reminders.items.complete", {{"reminder_id", id}, {"completion_date", "2024-05-02T08:00:00Z"}});
  EXPECT_EQ(done.at("completed"), true);
  EXPECT_EQ(done.at("completed_at"), "2024-05-02T08:00:00Z");
  EXPECT_FALSE(done.contains("alarms"));  // a list row

  Json again = result("reminders.items.complete", {{"reminder_id", id}});
  EXPECT_EQ(again.at("completed_at"), "2024-05-02T08:00:00Z");
  if (haveIcalendarModule()) {
    Json item = onDisk("Pay rent");
    EXPECT_EQ(item.at("status"), "COMPLETED");
    EXPECT_EQ(item.at("completed"), "20240502T080000Z");
    expectWellFormed(item);
  }

  Json reopened = result("reminders.items.complete", {{"reminder_id", id}, {"completed", false}});
  EXPECT_EQ(reopened.at("completed"), false);
  EXPECT_FALSE(reopened.contains("completed_at"));
  EXPECT_EQ(titles(Json::object()).front(), "Pay rent");

  Json recompleted = result("reminders.items.complete", {{"reminder_id", id}});
  EXPECT_EQ(recompleted.at("completed"), true);
  EXPECT_TRUE(recompleted.contains("completed_at"));
  EXPECT_EQ(error("reminders.items.complete", {{"reminder_id", id}, {"completion_date", "soon"}}).at("message"),
            "completion_date must be an ISO 8601 date/time, got soon");

  // Completion makes no read-only check of its own: the store's refusal to write into a
  // read-only list is what the host hears, and the file stays as it was.
  const std::string lockedBefore = HelperProcess::readFile(file("archive", "locked"));
  Json locked = error("reminders.items.complete", {{"reminder_id", idOf("Locked item")}});
  EXPECT_EQ(locked.at("code"), "execution_failed");
  EXPECT_EQ(locked.at("message").get<std::string>().rfind("Reminders did not save it: ", 0), 0u) << locked.dump();
  EXPECT_EQ(HelperProcess::readFile(file("archive", "locked")), lockedBefore);

  SKIP_WITHOUT_PARSER();
  Json item = onDisk("Pay rent");
  EXPECT_EQ(item.at("status"), "COMPLETED");
  EXPECT_FALSE(item.at("completed").is_null());
  if (!taskManager().empty()) {
    for (const Json& task : taskManagerList()) {
      if (task.at("summary") == "Pay rent") {
        EXPECT_EQ(task.at("completed"), true);
      }
    }
  }
}

TEST_F(RemindersE2e, CompletingARepeatingReminderOpensTheNextOccurrence) {
  todo("home", "water", {"SUMMARY:Water plants", "DUE;VALUE=DATE:20240501", "RRULE:FREQ=WEEKLY"});
  std::string id = idOf("Water plants");
  Json done = result("reminders.items.complete", {{"reminder_id", id}, {"completion_date", "2024-05-01T12:00:00Z"}});
  EXPECT_EQ(done.at("completed"), true);

  Json open = result("reminders.items.list", {{"list", "Home"}, {"query", "Water plants"}});
  ASSERT_EQ(open.at("total"), 1) << open.dump();
  const Json& next = open.at("reminders").at(0);
  EXPECT_NE(next.at("reminder_id"), id);
  EXPECT_EQ(next.at("due"), "2024-05-08");
  EXPECT_EQ(next.at("recurring"), true);
  EXPECT_EQ(next.at("list_id"), "local/home");
  Json closed = result("reminders.items.list", {{"status", "completed"}, {"query", "Water plants"}});
  ASSERT_EQ(closed.at("total"), 1);
  EXPECT_EQ(closed.at("reminders").at(0).at("reminder_id"), id);

  SKIP_WITHOUT_PARSER();
  std::vector<Json> copies;
  for (const Json& item : filesOnDisk()) {
    if (item.at("summary") == "Water plants") copies.push_back(item);
  }
  ASSERT_EQ(copies.size(), 2u);
  for (const Json& item : copies) {
    SCOPED_TRACE(item.dump());
    EXPECT_EQ(item.at("list"), "local/home");
    expectWellFormed(item);
  }
  EXPECT_NE(copies[0].at("uid"), copies[1].at("uid"));
  if (!taskManager().empty()) {
    EXPECT_EQ(taskManagerTitles().count("Water plants"), 2u);
  }
}

TEST_F(RemindersE2e, DeletesOnlyWhenConfirmed) {
  std::string id = idOf("Pay rent");
  for (const Json& confirmed : {Json(nullptr), Json(false), Json("true")}) {
    SCOPED_TRACE(confirmed.dump());
    Json params = {{"reminder_id", id}};
    if (!confirmed.is_null()) params["confirmed"] = confirmed;
    Json question = error("reminders.items.delete", params);
    EXPECT_EQ(question.at("code"), "needs_confirmation");
    EXPECT_EQ(question.at("message"), "要删除提醒「Pay rent」吗？");
    EXPECT_EQ(question.at("details").at("reminder").at("reminder_id"), id);
    EXPECT_EQ(question.at("details").at("reminder").at("due"), "2024-05-01");
    EXPECT_TRUE(fs::exists(file("home", "rent")));
  }
  EXPECT_EQ(error("reminders.items.delete", {{"reminder_id", "missing"}}).at("code"), "invalid_args");

  Json deleted = result("reminders.items.delete", {{"reminder_id", id}, {"confirmed", true}});
  EXPECT_EQ(deleted.at("deleted"), true);
  EXPECT_EQ(deleted.at("reminder").at("title"), "Pay rent");
  EXPECT_FALSE(fs::exists(file("home", "rent")));
  EXPECT_EQ(error("reminders.items.get", {{"reminder_id", id}}).at("code"), "invalid_args");
  if (!taskManager().empty()) {
    EXPECT_EQ(taskManagerTitles().count("Pay rent"), 0u);
  }
}

TEST_F(RemindersE2e, EveryItemMethodNeedsTheRemindersPermission) {
  helper_.writeFile("wren/privacy.json", R"({"reminders":"denied"})");
  std::vector<std::string> methods = {"reminders.items.list",   "reminders.items.get",      "reminders.items.create",
                                      "reminders.items.update", "reminders.items.complete", "reminders.items.delete"};
  std::vector<std::string> lines;
  for (size_t i = 0; i < methods.size(); ++i)
    lines.push_back(requestLine(static_cast<int64_t>(i + 1), methods[i]));
  HelperRun run = helper_.run(lines);
  for (size_t i = 0; i < methods.size(); ++i) {
    SCOPED_TRACE(methods[i]);
    EXPECT_EQ(run.error(static_cast<int64_t>(i + 1)).at("code"), "os_permission");
  }
}

}  // namespace
}  // namespace wren::testing

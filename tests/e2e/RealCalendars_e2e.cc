// Calendar files shaped as the programs people use write them (Outlook and Exchange zones
// of their own, Lotus Notes periods, Google's day exceptions, Confluence's duplicate
// versions, older Apple all-day overrides), listed, changed and exported through the built
// helper east and west of UTC. What the helper writes is read back by python3-icalendar,
// expanded with python3-dateutil, and listed by khal.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "platform/LocalTime.h"
#include "platform/formats/IcalText.h"
#include "support/CalendarFiles.h"
#include "support/HelperProcess.h"

namespace wren::testing {
namespace {

namespace fs = std::filesystem;

// A row's start or end as UTC text ("20250303T090000Z"), or the day text of an all-day row.
std::string utcOf(const Json& value) {
  const std::string text = value;
  if (text.size() == 10) return text;
  const std::optional<Instant> instant = platform::parsePattern(text, "yyyy-MM-dd'T'HH:mm:ssXXX");
  return instant ? platform::utcText(*instant) : "unreadable " + text;
}

class RealCalendars : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    helper_.setEnv("TZ", GetParam());
    helper_.writeFile("wren/privacy.json", R"({"calendar":"granted"})");
    helper_.writeFile("wren/calendars/store.json", R"({"default":"local/home"})");
    helper_.writeFile("wren/calendars/local/home/displayname", "Home\n");
    for (const auto& [name, text] : realCalendarFiles()) helper_.writeFile(fs::path("wren/calendars/local/home") / name, text);
  }

  fs::path folder() const { return helper_.dataRoot() / "calendars/local/home"; }

  Json result(const std::string& method, const Json& params) const {
    HelperRun run = helper_.run({requestLine(1, method, params)});
    const Json& reply = run.reply(1);
    EXPECT_EQ(reply["ok"], true) << reply.dump();
    return reply.value("result", Json::object());
  }

  // "title start-end" of every row of the window, in UTC, in listing order.
  std::vector<std::string> listed(const std::string& start, const std::string& end, const std::string& query = "") const {
    Json params = {{"start", start}, {"end", end}, {"limit", 500}};
    if (!query.empty()) params["query"] = query;
    std::vector<std::string> rows;
    const Json page = result("calendar.events.list", params);
    for (const Json& row : page["events"])
      rows.push_back(row["title"].get<std::string>() + " " + utcOf(row["start"]) + "-" + utcOf(row["end"]));
    return rows;
  }

  std::string idAt(const std::string& query, const std::string& utcStart) const {
    const Json page =
        result("calendar.events.list", {{"start", "2008-11-01"}, {"end", "2018-10-01"}, {"query", query}, {"limit", 500}});
    for (const Json& row : page["events"])
      if (utcOf(row["start"]) == utcStart) return row["event_id"];
    ADD_FAILURE() << "no " << query << " at " << utcStart;
    return "";
  }

  // Each VEVENT of the files as python3-icalendar reads them, its occurrences expanded by
  // python3-dateutil (RRULE, RDATE, EXDATE), in UTC: "summary: start, start...".
  std::string independentReading(const std::vector<fs::path>& paths) const {
    const fs::path script = helper_.home() / "expand.py";
    helper_.writeFile("../../expand.py",
                      "import sys, icalendar, datetime\n"
                      "from dateutil import rrule, tz\n"
                      "def values(prop):\n"
                      "    if prop is None: return []\n"
                      "    out = []\n"
                      "    for p in (prop if isinstance(prop, list) else [prop]):\n"
                      "        for d in p.dts: out.append(d.dt[0] if isinstance(d.dt, tuple) else d.dt)\n"
                      "    return out\n"
                      "for path in sys.argv[1:]:\n"
                      "    cal = icalendar.Calendar.from_ical(open(path, 'rb').read())\n"
                      "    for ev in cal.walk('VEVENT'):\n"
                      "        start = ev.decoded('DTSTART')\n"
                      "        found = rrule.rruleset()\n"
                      "        found.rdate(start)\n"
                      "        if 'RRULE' in ev:\n"
                      "            found.rrule(rrule.rrulestr(ev['RRULE'].to_ical().decode(), dtstart=start))\n"
                      "        for d in values(ev.get('RDATE')): found.rdate(d)\n"
                      "        for d in values(ev.get('EXDATE')): found.exdate(d)\n"
                      "        if 'RECURRENCE-ID' in ev: found = [start]\n"
                      "        starts = [d.astimezone(tz.UTC).strftime('%Y%m%dT%H%M%SZ') for d in found]\n"
                      "        print(str(ev['SUMMARY']) + ': ' + ', '.join(starts))\n");
    std::string command = "/usr/bin/python3 '" + script.string() + "'";
    for (const fs::path& path : paths) command += " '" + path.string() + "'";
    const Command run = runCommand(command + " 2>&1");
    EXPECT_EQ(run.status, 0) << run.out;
    return run.out;
  }

  std::vector<fs::path> filesWith(const std::string& marker) const {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder()))
      if (HelperProcess::readFile(entry.path()).find(marker) != std::string::npos) found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    return found;
  }

  HelperProcess helper_;
};

bool havePythonReaders() {
  return runCommand("/usr/bin/python3 -c 'import icalendar, dateutil' 2>/dev/null").status == 0;
}

TEST_P(RealCalendars, ListsOccurrencesAsTheirAuthorsMeantThem) {
  struct Case {
    const char* title;
    const char* start;
    const char* end;
    std::vector<std::string> rows;
  };
  const Case cases[] = {
      // Five meetings given as periods in Lotus Notes' own zone, each as long as it says.
      {"Planning", "2011-05-01", "2011-06-30",
       {"Planning board 20110505T130000Z-20110505T140000Z", "Planning board 20110512T130000Z-20110512T140000Z",
        "Planning board 20110519T130000Z-20110519T153000Z", "Planning board 20110526T130000Z-20110526T140000Z",
        "Planning board 20110602T130000Z-20110602T150000Z"}},
      // The day Google took out is the 5th in Los Angeles, whatever the zone of the listing.
      {"Gym", "2025-03-01", "2025-03-10",
       {"Gym 20250304T020000Z-20250304T030000Z", "Gym 20250305T020000Z-20250305T030000Z",
        "Gym 20250307T020000Z-20250307T030000Z", "Gym 20250308T020000Z-20250308T030000Z"}},
      // The later version counts: its title, its deleted date, its UNTIL beside COUNT=-1.
      {"Team", "2025-03-01", "2025-05-31",
       {"Team sync 20250303T090000Z-20250303T100000Z", "Team sync 20250317T090000Z-20250317T100000Z",
        "Team sync 20250324T090000Z-20250324T100000Z", "Team sync 20250331T090000Z-20250331T100000Z"}},
      // The holiday moved by its Berlin midnight shows once, on its new day.
      {"New Year", "2025-12-20", "2026-01-10", {"New Year (observed) 2026-01-02-2026-01-02"}},
      // Extra dates before DTSTART, in a window that holds only them and in a wider one.
      {"Workshop", "2025-02-27", "2025-03-03",
       {"Workshop 20250301T090000Z-20250301T100000Z", "Workshop 20250302T090000Z-20250302T100000Z"}},
      {"Workshop", "2025-01-01", "2025-12-31",
       {"Workshop 20250301T090000Z-20250301T100000Z", "Workshop 20250302T090000Z-20250302T100000Z",
        "Workshop 20250310T090000Z-20250310T100000Z"}},
      // A Windows display name is its zone (daylight time from 9 March); the title keeps its blanks.
      {"Budget", "2025-03-09", "2025-03-11", {"  Budget review   20250310T130000Z-20250310T140000Z"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.title) + " " + c.start);
    EXPECT_EQ(listed(c.start, c.end, c.title), c.rows);
  }
  const Json notes = result("calendar.events.get", {{"event_id", idAt("Planning", "20110505T130000Z")}});
  EXPECT_EQ(notes["recurring"], true);
}

TEST_P(RealCalendars, ChangingOneOccurrenceKeepsTheFilesOwnZone) {
  const std::string second = idAt("Weekly review", "20081208T013000Z");
  const Json changed = result("calendar.events.update", {{"event_id", second}, {"span", "this"}, {"title", "Review (Q4)"}});
  // The reply is the occurrence that changed.
  EXPECT_EQ(changed["event_id"], second);
  EXPECT_EQ(utcOf(changed["start"]), "20081208T013000Z");
  EXPECT_EQ(changed["title"], "Review (Q4)");

  const std::string text = HelperProcess::readFile(folder() / "outlook-weekly.ics");
  EXPECT_NE(text.find(calendarText(kKualaLumpurZone)), std::string::npos) << text;
  EXPECT_NE(text.find("RECURRENCE-ID;TZID=" + kMalaysia + ":20081208T093000\r\n"), std::string::npos) << text;
  EXPECT_EQ(listed("2008-11-30", "2008-12-31", "review"),
            (std::vector<std::string>{"Weekly review 20081201T013000Z-20081201T023000Z",
                                      "Review (Q4) 20081208T013000Z-20081208T023000Z",
                                      "Weekly review 20081215T013000Z-20081215T023000Z",
                                      "Weekly review 20081222T013000Z-20081222T023000Z"}));
  if (!havePythonReaders()) GTEST_SKIP() << "python3-icalendar or python3-dateutil is not installed";
  EXPECT_EQ(independentReading({folder() / "outlook-weekly.ics"}),
            "Weekly review: 20081201T013000Z, 20081208T013000Z, 20081215T013000Z, 20081222T013000Z\n"
            "Review (Q4): 20081208T013000Z\n");
}

TEST_P(RealCalendars, ContinuingASeriesTakesTheZoneAlong) {
  const std::string fifth = idAt("Daily call", "20081204T223000Z");
  const Json changed = result("calendar.events.update", {{"event_id", fifth}, {"span", "future"}, {"title", "Stand-up"}});
  EXPECT_EQ(utcOf(changed["start"]), "20081204T223000Z");
  const std::vector<fs::path> files = filesWith("Canberra, Melbourne, Sydney");
  ASSERT_EQ(files.size(), 2u);
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    const std::string text = HelperProcess::readFile(file);
    EXPECT_NE(text.find(calendarText(kCanberraZone)), std::string::npos);
  }
  const std::string original = HelperProcess::readFile(folder() / "outlook-daily.ics");
  EXPECT_NE(original.find("RRULE:FREQ=DAILY;UNTIL=20081204T222959Z\r\n"), std::string::npos) << original;

  const std::vector<std::string> continued = listed("2008-11-30", "2008-12-31", "Stand-up");
  ASSERT_EQ(continued.size(), 7u);
  EXPECT_EQ(continued.front(), "Stand-up 20081204T223000Z-20081204T233000Z");
  EXPECT_EQ(continued.back(), "Stand-up 20081220T030000Z-20081220T040000Z");
  if (!havePythonReaders()) GTEST_SKIP() << "python3-icalendar or python3-dateutil is not installed";
  const std::string reading = independentReading(files);
  EXPECT_NE(reading.find("Stand-up: 20081204T223000Z, 20081205T223000Z, 20081206T223000Z, 20081207T223000Z, "
                         "20081208T223000Z, 20081209T223000Z, 20081220T030000Z\n"),
            std::string::npos)
      << reading;
  EXPECT_NE(reading.find("Daily call: 20081130T223000Z, 20081201T223000Z, 20081203T223000Z\n"), std::string::npos)
      << reading;
}

TEST_P(RealCalendars, ExportWritesTheSeriesFromItsMasterWithItsDates) {
  const Json exported = result("calendar.events.export", {{"event_id", idAt("Daily call", "20081205T223000Z")}});
  EXPECT_EQ(exported["count"], 1);
  EXPECT_EQ(exported["notes"],
            Json::array({"\"Daily call\": occurrences changed one by one are exported as the plain series rule."}));
  const std::string ics = exported["ics"];
  EXPECT_NE(ics.find(calendarText(kCanberraZone)), std::string::npos) << ics;
  EXPECT_NE(ics.find("DTSTART;TZID=" + kAustralia + ":20081201T093000\r\nDTEND;TZID=" + kAustralia +
                     ":20081201T103000\r\nSUMMARY:Daily call\r\nDESCRIPTION:dial in\r\nRRULE:FREQ=DAILY;COUNT=10\r\n"
                     "EXDATE;TZID=" + kAustralia + ":20081203T093000\r\nRDATE;TZID=" + kAustralia +
                     ":20081220T140000\r\nEND:VEVENT\r\n"),
            std::string::npos)
      << ics;
  const fs::path file = helper_.home() / "export.ics";
  helper_.writeFile("../../export.ics", ics);

  if (havePythonReaders()) {
    EXPECT_EQ(independentReading({file}),
              "Daily call: 20081130T223000Z, 20081201T223000Z, 20081203T223000Z, 20081204T223000Z, "
              "20081205T223000Z, 20081206T223000Z, 20081207T223000Z, 20081208T223000Z, 20081209T223000Z, "
              "20081220T030000Z\n");
  }
  if (!haveCommand("khal")) GTEST_SKIP() << "khal is not installed";
  const fs::path home = helper_.home();
  fs::create_directories(home / "khal-calendar");
  fs::copy_file(file, home / "khal-calendar/export.ics");
  helper_.writeFile("../../khal.conf", "[calendars]\n[[export]]\npath = " + (home / "khal-calendar").string() +
                                           "\n[locale]\ntimeformat = %H:%M\ndateformat = %Y-%m-%d\n"
                                           "longdateformat = %Y-%m-%d\ndatetimeformat = %Y-%m-%d %H:%M\n"
                                           "longdatetimeformat = %Y-%m-%d %H:%M\nlocal_timezone = UTC\n"
                                           "default_timezone = UTC\n[sqlite]\npath = " +
                                           (home / "khal.db").string() + "\n");
  const std::string days = runCommand("HOME='" + home.string() + "' khal -c '" + (home / "khal.conf").string() +
                                      "' list --format '{start}' 2008-11-29 30d 2>&1")
                               .out;
  EXPECT_EQ(days,
            "Sunday, 2008-11-30\n2008-11-30 22:30\n"
            "Monday, 2008-12-01\n2008-12-01 22:30\nWednesday, 2008-12-03\n2008-12-03 22:30\n"
            "Thursday, 2008-12-04\n2008-12-04 22:30\nFriday, 2008-12-05\n2008-12-05 22:30\n"
            "Saturday, 2008-12-06\n2008-12-06 22:30\nSunday, 2008-12-07\n2008-12-07 22:30\n"
            "Monday, 2008-12-08\n2008-12-08 22:30\nTuesday, 2008-12-09\n2008-12-09 22:30\n"
            "Saturday, 2008-12-20\n2008-12-20 03:00\n");
}

INSTANTIATE_TEST_SUITE_P(EastAndWestOfUtc, RealCalendars, ::testing::Values("America/Los_Angeles", "Australia/Sydney"),
                         [](const ::testing::TestParamInfo<const char*>& zone) {
                           std::string name = zone.param;
                           std::replace(name.begin(), name.end(), '/', '_');
                           return name;
                         });

}  // namespace
}  // namespace wren::testing

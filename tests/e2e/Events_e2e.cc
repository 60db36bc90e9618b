// The six calendar.events methods run through the built helper over a temporary event store:
// windows, occurrences of series across a clock change, filters, and every change checked
// in the .ics files it leaves on disk.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "support/HelperProcess.h"

namespace wren::testing {
namespace {

namespace fs = std::filesystem;

std::string icsText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::string calendarFile(const std::vector<std::string>& body) {
  std::vector<std::string> lines = {"BEGIN:VCALENDAR", "VERSION:2.0", "PRODID:-//Fixture//EN"};
  lines.insert(lines.end(), body.begin(), body.end());
  lines.push_back("END:VCALENDAR");
  return icsText(lines);
}

const std::vector<std::string> kNewYorkZone = {
    "BEGIN:VTIMEZONE",       "TZID:America/New_York",
    "BEGIN:DAYLIGHT",        "TZOFFSETFROM:-0500",
    "TZOFFSETTO:-0400",      "TZNAME:EDT",
    "DTSTART:19700308T020000", "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=2SU",
    "END:DAYLIGHT",          "BEGIN:STANDARD",
    "TZOFFSETFROM:-0400",    "TZOFFSETTO:-0500",
    "TZNAME:EST",            "DTSTART:19701101T020000",
    "RRULE:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU", "END:STANDARD",
    "END:VTIMEZONE"};

std::vector<std::string> vevent(const std::vector<std::string>& properties) {
  std::vector<std::string> lines = {"BEGIN:VEVENT", "DTSTAMP:20250101T000000Z"};
  lines.insert(lines.end(), properties.begin(), properties.end());
  lines.push_back("END:VEVENT");
  return lines;
}

// The file's content lines with folding undone.
std::string unfolded(const fs::path& path) {
  std::string text = HelperProcess::readFile(path);
  std::string result;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 3, "\r\n ") == 0 || text.compare(i, 3, "\r\n\t") == 0) {
      i += 2;
      continue;
    }
    result += text[i];
  }
  return result;
}

int occurrencesOf(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

class EventsEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    helper_.setEnv("TZ", "America/New_York");
    helper_.writeFile("wren/privacy.json", R"({"calendar":"granted"})");
    helper_.writeFile("wren/calendars/store.json", R"({"default":"local/home"})");
    helper_.writeFile("wren/calendars/local/source.json", R"({"title":"On My Computer","emails":["me@example.com"]})");
    helper_.writeFile("wren/calendars/local/home/displayname", "Home\n");
    helper_.writeFile("wren/calendars/local/work/displayname", "Work\n");
    helper_.writeFile("wren/calendars/feeds/holidays/displayname", "Holidays\n");
    helper_.writeFile("wren/calendars/feeds/holidays/calendar.json", R"({"subscribed":true})");
    writeEvent("local/home/standup.ics",
               vevent({"UID:standup-1", "DTSTART:20250303T140000Z", "DTEND:20250303T143000Z", "SUMMARY:Standup",
                       "LOCATION:Room 4"}));
    std::vector<std::string> weekly = kNewYorkZone;
    for (const std::string& line :
         vevent({"UID:weekly-1", "DTSTART;TZID=America/New_York:20250303T090000",
                 "DTEND;TZID=America/New_York:20250303T100000", "RRULE:FREQ=WEEKLY;COUNT=4", "SUMMARY:Weekly sync"}))
      weekly.push_back(line);
    writeEvent("local/work/weekly.ics", weekly);
    writeEvent("local/work/holiday.ics",
               vevent({"UID:holiday-1", "DTSTART;VALUE=DATE:20250305", "DTEND;VALUE=DATE:20250306",
                       "SUMMARY:Café day", "DESCRIPTION:bring CAKE"}));
    writeEvent("local/home/declined.ics",
               vevent({"UID:declined-1", "DTSTART:20250304T150000Z", "DTEND:20250304T160000Z", "SUMMARY:Budget",
                       "ORGANIZER:mailto:boss@example.com",
                       "ATTENDEE;PARTSTAT=DECLINED:mailto:me@example.com"}));
    writeEvent("feeds/holidays/national.ics",
               vevent({"UID:national-1", "DTSTART;VALUE=DATE:20250317", "DTEND;VALUE=DATE:20250318",
                       "SUMMARY:Parade"}));
  }

  void writeEvent(const std::string& relative, const std::vector<std::string>& body) {
    helper_.writeFile("wren/calendars/" + relative, calendarFile(body));
  }

  fs::path calendarFolder(const std::string& id) const { return helper_.dataRoot() / "calendars" / id; }

  std::vector<fs::path> icsFiles(const std::string& calendarId) const {
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(calendarFolder(calendarId)))
      if (entry.path().extension() == ".ics") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
  }

  // The text of the calendar's only file whose text contains `marker`.
  std::string fileWith(const std::string& calendarId, const std::string& marker) const {
    std::string found;
    for (const fs::path& path : icsFiles(calendarId)) {
      std::string text = unfolded(path);
      if (text.find(marker) == std::string::npos) continue;
      EXPECT_TRUE(found.empty()) << "several files contain " << marker;
      found = text;
    }
    EXPECT_FALSE(found.empty()) << "no file of " << calendarId << " contains " << marker;
    return found;
  }

  // One request in a helper process of its own; the reply envelope.
  Json call(const std::string& method, const Json& params = Json::object()) const {
    HelperRun run = helper_.run({requestLine(1, method, params)});
    EXPECT_EQ(run.exitStatus, 0);
    return run.reply(1);
  }
  Json result(const std::string& method, const Json& params = Json::object()) const {
    Json reply = call(method, params);
    EXPECT_EQ(reply["ok"], true) << reply.dump();
    return reply.value("result", Json::object());
  }
  Json error(const std::string& method, const Json& params) const {
    Json reply = call(method, params);
    EXPECT_EQ(reply["ok"], false) << reply.dump();
    return reply.value("error", Json::object());
  }

  std::vector<Json> list(const Json& params) const { return result("calendar.events.list", params)["events"]; }

  // The event id of the only row of March 2025 with that title.
  std::string idOf(const std::string& title, const std::string& start = "") const {
    for (const Json& row : list({{"start", "2025-03-01"}, {"end", "2025-03-31"}, {"include_declined", true}}))
      if (row["title"] == title && (start.empty() || row["start"] == start)) return row["event_id"];
    ADD_FAILURE() << "no event " << title;
    return "";
  }

  HelperProcess helper_;
};

std::vector<std::string> titles(const std::vector<Json>& rows) {
  std::vector<std::string> list;
  for (const Json& row : rows) list.push_back(row["title"].get<std::string>() + " " + row["start"].get<std::string>());
  return list;
}

TEST_F(EventsEndToEnd, ListsTheWindowSortedWithOccurrencesKeepingLocalTimeAcrossTheClockChange) {
  Json page = result("calendar.events.list", {{"start", "2025-03-01"}, {"end", "2025-03-31"}});
  EXPECT_EQ(page["range"], Json({{"start", "2025-03-01T00:00:00-05:00"}, {"end", "2025-04-01T00:00:00-04:00"}}));
  EXPECT_EQ(titles(page["events"]), (std::vector<std::string>{
                                        "Standup 2025-03-03T09:00:00-05:00",
                                        "Weekly sync 2025-03-03T09:00:00-05:00",
                                        "Café day 2025-03-05",
                                        "Weekly sync 2025-03-10T09:00:00-04:00",
                                        "Parade 2025-03-17",
                                        "Weekly sync 2025-03-17T09:00:00-04:00",
                                        "Weekly sync 2025-03-24T09:00:00-04:00",
                                    }));
  EXPECT_EQ(page["total"], 7);
  EXPECT_EQ(page["has_more"], false);
  EXPECT_FALSE(page.contains("next_cursor"));

  std::set<std::string> seriesIds;
  for (const Json& row : page["events"]) {
    if (row["title"] != "Weekly sync") continue;
    SCOPED_TRACE(row.dump());
    std::string id = row["event_id"];
    EXPECT_EQ(id.substr(id.rfind('@') + 1), row["start"]);
    EXPECT_EQ(row["recurring"], true);
    EXPECT_EQ(row["calendar"], "Work");
    EXPECT_EQ(row["calendar_id"], "local/work");
    seriesIds.insert(id.substr(0, id.rfind('@')));
  }
  EXPECT_EQ(seriesIds.size(), 1u);
  const Json& holiday = page["events"][2];
  EXPECT_EQ(holiday["all_day"], true);
  EXPECT_EQ(holiday["end"], "2025-03-05");
  EXPECT_EQ(holiday["event_id"].get<std::string>().find('@'), std::string::npos);
}

TEST_F(EventsEndToEnd, DefaultWindowPagingAndWindowErrors) {
  Json page = result("calendar.events.list");
  EXPECT_EQ(page["events"], Json::array());
  ASSERT_TRUE(page["range"]["start"].is_string());
  EXPECT_EQ(page["range"]["start"].get<std::string>().substr(10, 9), "T00:00:00");

  Json paged = result("calendar.events.list", {{"start", "2025-03-01"}, {"end", "2025-03-31"}, {"limit", 3},
                                               {"offset", 3}});
  EXPECT_EQ(titles(paged["events"]), (std::vector<std::string>{"Weekly sync 2025-03-10T09:00:00-04:00",
                                                               "Parade 2025-03-17",
                                                               "Weekly sync 2025-03-17T09:00:00-04:00"}));
  EXPECT_EQ(paged["next_cursor"], "6");
  EXPECT_EQ(paged["has_more"], true);

  EXPECT_EQ(error("calendar.events.list", {{"start", "2025-03-01"}, {"end", "2025-03-01T00:00"}})["message"],
            "end must be after start");
  EXPECT_EQ(error("calendar.events.list", {{"start", "2020-01-01"}, {"end", "2030-01-10"}})["message"],
            "The time window is limited to about 10 years; narrow start/end.");
}

TEST_F(EventsEndToEnd, FiltersByQueryCalendarAndDeclined) {
  auto titlesOf = [&](const Json& params) {
    std::vector<std::string> names;
    for (const Json& row : list(params)) names.push_back(row["title"]);
    return names;
  };
  Json march = {{"start", "2025-03-01"}, {"end", "2025-03-31"}};
  struct Case {
    Json extra;
    std::vector<std::string> titles;
  };
  const std::vector<Case> cases = {
      {{{"query", "cafe"}}, {"Café day"}},
      {{{"query", "cake"}}, {"Café day"}},
      {{{"query", "ROOM"}}, {"Standup"}},
      {{{"query", "  "}}, {"Standup", "Weekly sync", "Café day", "Weekly sync", "Parade", "Weekly sync",
                            "Weekly sync"}},
      {{{"calendar", "home"}, {"include_declined", true}}, {"Standup", "Budget"}},
      {{{"calendar", "local/work"}, {"calendar_ids", {"local/work"}}},
       {"Weekly sync", "Café day", "Weekly sync", "Weekly sync", "Weekly sync"}},
      {{{"calendar_ids", {"feeds/holidays", "local/home"}}}, {"Standup", "Parade"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extra.dump());
    Json params = march;
    params.update(c.extra);
    EXPECT_EQ(titlesOf(params), c.titles);
  }
  Json unknown = error("calendar.events.list", {{"calendar_ids", {"local/nowhere"}}});
  EXPECT_EQ(unknown["code"], "invalid_args");
}

TEST_F(EventsEndToEnd, AnEventAcrossAFetchBorderIsListedOnce) {
  helper_.setEnv("TZ", "UTC");
  // The window's first 365-day piece ends at 2026-01-01T00:00Z, inside this event.
  writeEvent("local/home/newyear.ics", vevent({"UID:newyear-1", "DTSTART:20251231T230000Z",
                                                "DTEND:20260101T010000Z", "SUMMARY:New Year"}));
  Json page = result("calendar.events.list", {{"start", "2025-01-01T00:00:00Z"}, {"end", "2026-06-01T00:00:00Z"},
                                              {"query", "new year"}});
  EXPECT_EQ(page["total"], 1);
}

TEST_F(EventsEndToEnd, MoreThanFiftyThousandFetchedEventsFailEvenWithAQuery) {
  helper_.setEnv("TZ", "UTC");
  helper_.writeFile("wren/calendars/local/bulk/displayname", "Bulk\n");
  // Fourteen daily series: 51240 occurrences in the longest window, 42000 in 3000 days.
  for (int i = 0; i < 14; ++i) {
    writeEvent("local/bulk/daily" + std::to_string(i) + ".ics",
               vevent({"UID:daily-" + std::to_string(i), "DTSTART:20250101T090000Z", "DTEND:20250101T091000Z",
                       "RRULE:FREQ=DAILY", "SUMMARY:Daily " + std::to_string(i)}));
  }
  Json tooMany = error("calendar.events.list", {{"start", "2025-01-01T00:00:00Z"}, {"end", "2035-01-09T00:00:00Z"},
                                                {"calendar", "Bulk"}, {"query", "no such title"}});
  EXPECT_EQ(tooMany["message"], "More than 50000 events in that window; narrow start/end or pick a calendar.");

  Json page = result("calendar.events.list", {{"start", "2025-01-01T00:00:00Z"}, {"end", "2033-03-20T00:00:00Z"},
                                              {"calendar", "Bulk"}, {"offset", 41990}});
  EXPECT_EQ(page["total"], 42000);
  EXPECT_EQ(page["events"].size(), 10u);
  EXPECT_EQ(page["has_more"], false);
  EXPECT_EQ(page["events"][9]["start"], "2033-03-19T09:00:00Z");
}

TEST_F(EventsEndToEnd, GetFindsOccurrencesByTheirIds) {
  std::string second = idOf("Weekly sync", "2025-03-10T09:00:00-04:00");
  std::string base = second.substr(0, second.rfind('@'));
  Json row = result("calendar.events.get", {{"event_id", second}});
  EXPECT_EQ(row["event_id"], second);
  EXPECT_EQ(row["start"], "2025-03-10T09:00:00-04:00");
  EXPECT_EQ(row["end"], "2025-03-10T10:00:00-04:00");
  EXPECT_EQ(row["recurring"], true);
  EXPECT_EQ(row["time_zone"], "America/New_York");
  EXPECT_EQ(row["recurrence"], "FREQ=WEEKLY;COUNT=4");

  // The same instant written in another offset names the same occurrence.
  EXPECT_EQ(result("calendar.events.get", {{"event_id", base + "@2025-03-10T13:00:00Z"}})["event_id"], second);
  // The bare id is the series itself, through its first occurrence.
  EXPECT_EQ(result("calendar.events.get", {{"event_id", base}})["start"], "2025-03-03T09:00:00-05:00");

  std::string gone = base + "@2025-03-11T09:00:00-04:00";
  EXPECT_EQ(error("calendar.events.get", {{"event_id", gone}})["message"],
            "No occurrence " + gone +
                " on this Mac any more (deleted or moved). Find it again with calendar.events.list.");
  EXPECT_EQ(error("calendar.events.get", {{"event_id", "nothing@here"}})["message"],
            "No event with event_id nothing@here on this Mac (deleted, or not an event id). Find it with "
            "calendar.events.list.");
  EXPECT_EQ(error("calendar.events.get", {{"event_id", "  "}})["message"], "event_id is required");
}

TEST_F(EventsEndToEnd, MovedOccurrenceIsStillFoundByItsOriginalStart) {
  std::string second = idOf("Weekly sync", "2025-03-10T09:00:00-04:00");
  // Another program moves that occurrence by a day.
  std::vector<std::string> body = kNewYorkZone;
  for (const std::string& line :
       vevent({"UID:weekly-1", "DTSTART;TZID=America/New_York:20250303T090000",
               "DTEND;TZID=America/New_York:20250303T100000", "RRULE:FREQ=WEEKLY;COUNT=4", "SUMMARY:Weekly sync"}))
    body.push_back(line);
  for (const std::string& line :
       vevent({"UID:weekly-1", "RECURRENCE-ID;TZID=America/New_York:20250310T090000",
               "DTSTART;TZID=America/New_York:20250311T140000", "DTEND;TZID=America/New_York:20250311T150000",
               "SUMMARY:Weekly sync (moved)"}))
    body.push_back(line);
  writeEvent("local/work/weekly.ics", body);
  Json row = result("calendar.events.get", {{"event_id", second}});
  EXPECT_EQ(row["title"], "Weekly sync (moved)");
  EXPECT_EQ(row["start"], "2025-03-11T14:00:00-04:00");
  EXPECT_EQ(row["detached"], true);
}

TEST_F(EventsEndToEnd, CreateWritesANewFileInTheDefaultOrNamedCalendar) {
  Json created = result("calendar.events.create", {{"title", "Dentist"}, {"start", "2025-03-12T10:00"},
                                                   {"location", "Main St"}, {"alarms_minutes_before", {15}}});
  EXPECT_EQ(created["start"], "2025-03-12T10:00:00-04:00");
  EXPECT_EQ(created["end"], "2025-03-12T11:00:00-04:00");
  EXPECT_EQ(created["calendar_id"], "local/home");
  EXPECT_EQ(created["alarms"], Json::parse(R"([{"minutes_before":15}])"));
  std::string text = fileWith("local/home", "SUMMARY:Dentist");
  EXPECT_NE(text.find("LOCATION:Main St"), std::string::npos);
  EXPECT_NE(text.find("BEGIN:VALARM"), std::string::npos);
  EXPECT_EQ(result("calendar.events.get", {{"event_id", created["event_id"]}})["title"], "Dentist");

  Json allDay = result("calendar.events.create",
                       {{"title", "Offsite"}, {"start", "2025-03-20"}, {"all_day", true}, {"calendar", "Work"}});
  EXPECT_EQ(allDay["start"], "2025-03-20");
  EXPECT_EQ(allDay["end"], "2025-03-20");
  EXPECT_EQ(allDay["all_day"], true);
  std::string offsite = fileWith("local/work", "SUMMARY:Offsite");
  EXPECT_NE(offsite.find("DTSTART;VALUE=DATE:20250320"), std::string::npos);
  EXPECT_NE(offsite.find("DTEND;VALUE=DATE:20250321"), std::string::npos);

  Json weekly = result("calendar.events.create", {{"title", "Gym"}, {"start", "2025-03-04T07:00"},
                                                  {"recurrence", {{"frequency", "weekly"}, {"count", 3}}}});
  EXPECT_EQ(weekly["recurring"], true);
  EXPECT_NE(fileWith("local/home", "SUMMARY:Gym").find("RRULE:FREQ=WEEKLY;COUNT=3"), std::string::npos);
}

TEST_F(EventsEndToEnd, CreateRefusesBadRequestsAndWritesNothing) {
  struct Case {
    Json params;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{{"start", "2025-03-12T10:00"}}, "title is required"},
      {{{"title", "  "}, {"start", "2025-03-12T10:00"}}, "title is required"},
      {{{"title", "X"}}, "start is required"},
      {{{"title", "X"}, {"start", "soon"}}, "start must be an ISO 8601 date/time, got soon"},
      {{{"title", "X"}, {"start", "2025-03-01T10:00"}, {"end", "2025-03-01T10:00"}}, "end must be after start"},
      {{{"title", "X"}, {"start", "2025-03-01T10:00"}, {"url", "example.com/x"}},
       "url must be an absolute URL, got example.com/x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params.dump());
    Json failure = error("calendar.events.create", c.params);
    EXPECT_EQ(failure["code"], "invalid_args");
    EXPECT_EQ(failure["message"], c.message);
  }
  EXPECT_EQ(error("calendar.events.create", {{"title", "X"}, {"start", "2025-03-01"}, {"calendar", "Holidays"}})["code"],
            "invalid_args");
  EXPECT_EQ(icsFiles("local/home").size(), 2u);
  EXPECT_EQ(icsFiles("feeds/holidays").size(), 1u);
}

TEST_F(EventsEndToEnd, UpdateMovesAOneOffEventKeepingItsLength) {
  std::string id = idOf("Standup");
  Json moved = result("calendar.events.update", {{"event_id", id}, {"start", "2025-03-06T11:00"}});
  EXPECT_EQ(moved["changed"], Json({"start"}));
  EXPECT_EQ(moved["start"], "2025-03-06T11:00:00-05:00");
  EXPECT_EQ(moved["end"], "2025-03-06T11:30:00-05:00");
  EXPECT_EQ(moved["location"], "Room 4");
  std::string text = fileWith("local/home", "UID:standup-1");
  EXPECT_EQ(text.find("20250303"), std::string::npos);
  EXPECT_NE(text.find("LOCATION:Room 4"), std::string::npos);

  Json cleared = result("calendar.events.update", {{"event_id", moved["event_id"]}, {"location", ""},
                                                   {"title", "Daily standup"}, {"notes", "  agenda first  "}});
  EXPECT_EQ(cleared["changed"], Json({"title", "location", "notes"}));
  EXPECT_FALSE(cleared.contains("location"));
  EXPECT_EQ(cleared["notes"], "  agenda first  ") << "notes are stored exactly as sent";
  EXPECT_EQ(result("calendar.events.get", {{"event_id", cleared["event_id"]}})["notes"], "  agenda first  ");
  text = fileWith("local/home", "UID:standup-1");
  EXPECT_EQ(text.find("LOCATION"), std::string::npos);
  EXPECT_NE(text.find("SUMMARY:Daily standup"), std::string::npos);

  Json relocated = result("calendar.events.update", {{"event_id", cleared["event_id"]}, {"calendar", "Work"}});
  EXPECT_EQ(relocated["changed"], Json({"calendar"}));
  EXPECT_EQ(relocated["calendar_id"], "local/work");
  EXPECT_NE(fileWith("local/work", "UID:standup-1").find("SUMMARY:Daily standup"), std::string::npos);
  for (const fs::path& path : icsFiles("local/home"))
    EXPECT_EQ(unfolded(path).find("UID:standup-1"), std::string::npos) << path;
}

TEST_F(EventsEndToEnd, UpdateChecksInTheDocumentedOrder) {
  std::string standup = idOf("Standup");
  std::string weekly = idOf("Weekly sync", "2025-03-10T09:00:00-04:00");
  std::string parade = idOf("Parade");
  struct Case {
    Json params;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{{"title", "X"}}, "event_id is required"},
      {{{"event_id", standup}}, "Nothing to change: pass at least one field (title, start, end, all_day, calendar, "
                                "location, notes, url, alarms_minutes_before, recurrence)."},
      {{{"event_id", standup}, {"title", ""}}, "Nothing to change: pass at least one field (title, start, end, "
                                               "all_day, calendar, location, notes, url, alarms_minutes_before, "
                                               "recurrence)."},
      {{{"event_id", weekly}, {"title", "X"}},
       "\"Weekly sync\" is a recurring event: pass span \"this\" (only this occurrence) or \"future\" (this and all "
       "later ones)."},
      {{{"event_id", weekly}, {"span", "all"}}, "span must be \"this\" or \"future\", got all"},
      // Read-only comes before the span and the fields.
      {{{"event_id", parade}, {"span", "all"}, {"url", "bad"}},
       "\"Parade\" is in the read-only calendar \"Holidays\" and cannot be changed."},
      {{{"event_id", standup}, {"alarms_minutes_before", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}}}, "At most 10 alarms"},
  };
  std::string before = HelperProcess::readFile(calendarFolder("local/home") / "standup.ics");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params.dump());
    EXPECT_EQ(error("calendar.events.update", c.params)["message"], c.message);
  }
  EXPECT_EQ(HelperProcess::readFile(calendarFolder("local/home") / "standup.ics"), before);
}

TEST_F(EventsEndToEnd, UpdateOfOneOccurrenceWritesAnOverride) {
  std::string second = idOf("Weekly sync", "2025-03-10T09:00:00-04:00");
  Json changed = result("calendar.events.update", {{"event_id", second}, {"span", "this"}, {"title", "Sync (Q1)"}});
  EXPECT_EQ(changed["changed"], Json({"title"}));
  EXPECT_EQ(changed["title"], "Sync (Q1)");
  std::string text = fileWith("local/work", "UID:weekly-1\r\n");
  EXPECT_NE(text.find("RECURRENCE-ID"), std::string::npos);
  EXPECT_NE(text.find("SUMMARY:Sync (Q1)"), std::string::npos);
  EXPECT_NE(text.find("RRULE:FREQ=WEEKLY;COUNT=4"), std::string::npos);

  std::vector<std::string> names;
  for (const Json& row : list({{"start", "2025-03-01"}, {"end", "2025-03-31"}, {"calendar", "Work"}}))
    names.push_back(row["title"]);
  EXPECT_EQ(names, (std::vector<std::string>{"Weekly sync", "Café day", "Sync (Q1)", "Weekly sync", "Weekly sync"}));
}

TEST_F(EventsEndToEnd, UpdateOfFutureOccurrencesSplitsTheSeries) {
  std::string third = idOf("Weekly sync", "2025-03-17T09:00:00-04:00");
  Json changed = result("calendar.events.update",
                        {{"event_id", third}, {"span", "future"}, {"start", "2025-03-17T10:00"}});
  EXPECT_EQ(changed["changed"], Json({"start"}));
  EXPECT_EQ(changed["start"], "2025-03-17T10:00:00-04:00");
  EXPECT_EQ(changed["end"], "2025-03-17T11:00:00-04:00");
  EXPECT_EQ(icsFiles("local/work").size(), 3u);
  EXPECT_NE(fileWith("local/work", "UID:weekly-1\r\n").find("UNTIL="), std::string::npos);

  std::vector<std::string> starts;
  for (const Json& row : list({{"start", "2025-03-01"}, {"end", "2025-03-25"}, {"query", "weekly"}}))
    starts.push_back(row["start"]);
  EXPECT_EQ(starts, (std::vector<std::string>{"2025-03-03T09:00:00-05:00", "2025-03-10T09:00:00-04:00",
                                              "2025-03-17T10:00:00-04:00", "2025-03-24T10:00:00-04:00"}));
}

TEST_F(EventsEndToEnd, MovingFutureOccurrencesKeepsADeletedOneDeleted) {
  std::string fourth = idOf("Weekly sync", "2025-03-24T09:00:00-04:00");
  result("calendar.events.delete", {{"event_id", fourth}, {"span", "this"}, {"confirmed", true}});
  std::string second = idOf("Weekly sync", "2025-03-10T09:00:00-04:00");
  result("calendar.events.update", {{"event_id", second}, {"span", "future"}, {"start", "2025-03-10T10:00"}});

  std::vector<std::string> starts;
  for (const Json& row : list({{"start", "2025-03-01"}, {"end", "2025-04-30"}, {"query", "weekly"}}))
    starts.push_back(row["start"]);
  EXPECT_EQ(starts, (std::vector<std::string>{"2025-03-03T09:00:00-05:00", "2025-03-10T10:00:00-04:00",
                                              "2025-03-17T10:00:00-04:00"}));
}

TEST_F(EventsEndToEnd, DeleteAsksFirstThenRemovesTheFile) {
  std::string id = idOf("Standup");
  Json question = error("calendar.events.delete", {{"event_id", id}});
  EXPECT_EQ(question["code"], "needs_confirmation");
  EXPECT_EQ(question["message"], "要删除日程「Standup」吗？");
  EXPECT_EQ(question["details"]["event"]["event_id"], id);
  EXPECT_EQ(question["details"]["event"]["title"], "Standup");
  EXPECT_TRUE(fs::exists(calendarFolder("local/home") / "standup.ics"));

  Json deleted = result("calendar.events.delete", {{"event_id", id}, {"confirmed", true}});
  EXPECT_EQ(deleted["deleted"], true);
  EXPECT_EQ(deleted["span"], "this");
  EXPECT_EQ(deleted["event"]["title"], "Standup");
  EXPECT_EQ(deleted["event"]["location"], "Room 4");
  EXPECT_FALSE(fs::exists(calendarFolder("local/home") / "standup.ics"));
  EXPECT_EQ(error("calendar.events.get", {{"event_id", id}})["code"], "invalid_args");
}

TEST_F(EventsEndToEnd, DeleteOfOccurrencesAndOfReadOnlyEvents) {
  std::string weekly = idOf("Weekly sync", "2025-03-10T09:00:00-04:00");
  // A missing span is reported before the question.
  EXPECT_EQ(error("calendar.events.delete", {{"event_id", weekly}, {"confirmed", true}})["message"],
            "\"Weekly sync\" is a recurring event: pass span \"this\" (only this occurrence) or \"future\" (this and "
            "all later ones).");
  EXPECT_EQ(error("calendar.events.delete", {{"event_id", weekly}, {"span", "this"}})["code"], "needs_confirmation");
  Json deleted = result("calendar.events.delete", {{"event_id", weekly}, {"span", "this"}, {"confirmed", true}});
  EXPECT_EQ(deleted["span"], "this");
  EXPECT_NE(fileWith("local/work", "UID:weekly-1\r\n").find("EXDATE"), std::string::npos);
  EXPECT_EQ(list({{"start", "2025-03-01"}, {"end", "2025-03-31"}, {"query", "weekly"}}).size(), 3u);

  std::string parade = idOf("Parade");
  EXPECT_EQ(error("calendar.events.delete", {{"event_id", parade}})["code"], "needs_confirmation");
  EXPECT_EQ(error("calendar.events.delete", {{"event_id", parade}, {"confirmed", true}})["message"],
            "\"Parade\" is in the read-only calendar \"Holidays\" and cannot be deleted.");
  EXPECT_TRUE(fs::exists(calendarFolder("feeds/holidays") / "national.ics"));
}

TEST_F(EventsEndToEnd, DeleteOfFutureOccurrencesEndsTheSeries) {
  std::string third = idOf("Weekly sync", "2025-03-17T09:00:00-04:00");
  Json deleted = result("calendar.events.delete", {{"event_id", third}, {"span", "future"}, {"confirmed", true}});
  EXPECT_EQ(deleted["span"], "future");
  EXPECT_EQ(deleted["event"]["start"], "2025-03-17T09:00:00-04:00");
  EXPECT_NE(fileWith("local/work", "UID:weekly-1\r\n").find("UNTIL="), std::string::npos);
  EXPECT_EQ(list({{"start", "2025-03-01"}, {"end", "2025-03-31"}, {"query", "weekly"}}).size(), 2u);
}

TEST_F(EventsEndToEnd, ExportGivesSeriesOnceOrOccurrencesOneByOne) {
  const std::string header =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Wren//Device Actions//ZH\r\nCALSCALE:GREGORIAN\r\n";
  std::string weekly = idOf("Weekly sync", "2025-03-17T09:00:00-04:00");
  Json series = result("calendar.events.export", {{"event_id", weekly}});
  EXPECT_EQ(series["count"], 1);
  EXPECT_EQ(series["truncated"], false);
  std::string ics = series["ics"];
  // The series keeps its zone from its own first start on, described right after the header.
  EXPECT_EQ(ics.rfind(header + "BEGIN:VTIMEZONE\r\nTZID:America/New_York\r\n", 0), 0u);
  EXPECT_EQ(occurrencesOf(ics, "BEGIN:VTIMEZONE"), 1);
  EXPECT_LT(ics.find("END:VTIMEZONE"), ics.find("BEGIN:VEVENT"));
  EXPECT_NE(ics.find("\r\nDTSTART;TZID=America/New_York:20250303T090000\r\n"
                     "DTEND;TZID=America/New_York:20250303T100000\r\n"),
            std::string::npos);
  EXPECT_NE(ics.find("\r\nRRULE:FREQ=WEEKLY;COUNT=4\r\n"), std::string::npos);

  Json one = result("calendar.events.export", {{"event_id", weekly}, {"occurrence_only", true}});
  EXPECT_EQ(one["count"], 1);
  const std::string single = one["ics"];
  EXPECT_NE(single.find("\r\nUID:weekly-1-20250317T130000Z\r\n"), std::string::npos);
  EXPECT_NE(single.find("\r\nDTSTART:20250317T130000Z\r\nDTEND:20250317T140000Z\r\n"), std::string::npos);
  EXPECT_EQ(single.find("RRULE"), std::string::npos);
  EXPECT_EQ(single.find("VTIMEZONE"), std::string::npos);

  Json window = result("calendar.events.export", {{"start", "2025-03-01"}, {"end", "2025-03-31"}});
  // Standup, the series once, the holiday, the parade and the declined meeting (not filtered here).
  EXPECT_EQ(window["count"], 5);
  EXPECT_EQ(occurrencesOf(window["ics"], "BEGIN:VEVENT"), 5);
  EXPECT_EQ(occurrencesOf(window["ics"], "SUMMARY:Weekly sync"), 1);
  EXPECT_EQ(occurrencesOf(window["ics"], "BEGIN:VTIMEZONE"), 1);

  Json byOccurrence = result("calendar.events.export",
                             {{"start", "2025-03-01"}, {"end", "2025-03-31"}, {"occurrence_only", true},
                              {"query", "weekly"}});
  EXPECT_EQ(byOccurrence["count"], 4);
  EXPECT_EQ(occurrencesOf(byOccurrence["ics"], "VTIMEZONE"), 0);
}

TEST_F(EventsEndToEnd, ExportOfOneOffAndAllDayEventsByteForByte) {
  Json exported = result("calendar.events.export", {{"start", "2025-03-03"}, {"end", "2025-03-06"}, {"query", "a"}});
  std::string ics = exported["ics"];
  // The stamp is the moment of the export; every event carries the same one.
  const std::size_t stamp = ics.find("DTSTAMP:");
  ASSERT_NE(stamp, std::string::npos);
  const std::string stampLine = ics.substr(stamp, ics.find("\r\n", stamp) - stamp);
  EXPECT_EQ(stampLine.size(), std::string("DTSTAMP:20250101T000000Z").size());
  EXPECT_EQ(ics, "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Wren//Device Actions//ZH\r\nCALSCALE:GREGORIAN\r\n"
                 "BEGIN:VEVENT\r\nUID:standup-1\r\n" + stampLine + "\r\n"
                 "DTSTART:20250303T140000Z\r\nDTEND:20250303T143000Z\r\nSUMMARY:Standup\r\nLOCATION:Room 4\r\n"
                 "END:VEVENT\r\n"
                 "BEGIN:VEVENT\r\nUID:holiday-1\r\n" + stampLine + "\r\n"
                 "DTSTART;VALUE=DATE:20250305\r\nDTEND;VALUE=DATE:20250306\r\nSUMMARY:Café day\r\n"
                 "DESCRIPTION:bring CAKE\r\nEND:VEVENT\r\n"
                 "END:VCALENDAR\r\n");
  EXPECT_EQ(exported["count"], 2);
  EXPECT_EQ(exported["truncated"], false);
  EXPECT_FALSE(exported.contains("notes"));
}

TEST_F(EventsEndToEnd, WithoutPermissionEveryMethodRefuses) {
  helper_.writeFile("wren/privacy.json", R"({"calendar":"denied"})");
  const char* methods[] = {"calendar.events.list",   "calendar.events.get",    "calendar.events.create",
                           "calendar.events.update", "calendar.events.delete", "calendar.events.export"};
  for (const char* method : methods) {
    SCOPED_TRACE(method);
    EXPECT_EQ(error(method, {{"event_id", "x"}, {"title", "T"}, {"start", "2025-03-01"}})["code"], "os_permission");
  }
}

}  // namespace
}  // namespace wren::testing

// The scan against the full parse: wherever the scan answers, its span holds every instant
// the parsed file's extent holds (equal for the plain shapes), and a to-do's completion is
// the parsed one. Checked on tables of shapes, on the real-world and fuzzer files the other
// tests use, on the shapes the benchmarks generate, and on random mutations of all of them.

#include "platform/vdir/ItemScan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/vdir/TodoCodec.h"
#include "support/CalendarFiles.h"
#include "support/TimeZoneGuard.h"

namespace wren::platform::vdir {
namespace {

std::string calendar(const std::string& body) {
  return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\n" + body + "END:VCALENDAR\r\n";
}

std::string event(const std::string& lines) {
  return "BEGIN:VEVENT\r\nUID:e@test\r\nDTSTAMP:20250101T000000Z\r\n" + lines + "SUMMARY:Event\r\nEND:VEVENT\r\n";
}

std::string text(const std::optional<Instant>& instant) {
  return instant ? std::to_string(instant->time_since_epoch().count()) : "none";
}

std::string text(const EventExtent& extent) { return text(extent.earliest) + ".." + text(extent.latest); }

// Whether `outer` holds every instant of `inner`.
bool holds(const EventExtent& outer, const EventExtent& inner) {
  if (!inner.earliest || !outer.earliest || *outer.earliest > *inner.earliest) return false;
  if (!outer.latest) return true;
  return inner.latest && *inner.latest <= *outer.latest;
}

// The shapes of the files the benchmarks write: one-off events in UTC, daily, weekly and
// monthly series in UTC and in a named zone, some with a changed occurrence.
std::vector<std::string> benchShapedFiles() {
  std::vector<std::string> files;
  auto stamp = [](int month, int day, int hour) {
    char value[32];
    std::snprintf(value, sizeof value, "2025%02d%02dT%02d0000", month, day, hour);
    return std::string(value);
  };
  for (int i = 0; i < 40; ++i) {
    files.push_back(calendar(event("DTSTART:" + stamp(1 + i % 12, 1 + i % 28, 8 + i % 10) + "Z\r\nDTEND:" +
                                   stamp(1 + i % 12, 1 + i % 28, 9 + i % 10) + "Z\r\nLOCATION:Room " +
                                   std::to_string(i) + "\r\nDESCRIPTION:Notes\r\n")));
  }
  for (int i = 0; i < 30; ++i) {
    const char* rule = i % 5 == 0 ? "FREQ=DAILY;COUNT=60" : i % 5 < 4 ? "FREQ=WEEKLY" : "FREQ=MONTHLY";
    const bool zoned = i % 3 == 0;
    const std::string tzid = zoned ? ";TZID=America/New_York:" : ":";
    const std::string z = zoned ? "" : "Z";
    const std::string start = stamp(1 + i % 3, 1 + i % 28, 7 + i % 12);
    std::string body = event("DTSTART" + tzid + start + z + "\r\nDTEND" + tzid + stamp(1 + i % 3, 1 + i % 28, 8 + i % 12) +
                             z + "\r\nRRULE:" + rule + "\r\n");
    if (i % 10 == 0) {
      body += event("RECURRENCE-ID" + tzid + start + z + "\r\nDTSTART" + tzid + stamp(1 + i % 3, 1 + i % 28, 8 + i % 12) +
                    z + "\r\nDTEND" + tzid + stamp(1 + i % 3, 1 + i % 28, 9 + i % 12) + z + "\r\n");
    }
    files.push_back(calendar(body));
  }
  return files;
}

std::vector<std::string> fixtureFiles() {
  std::vector<std::string> files = testing::fuzzSeedFiles();
  for (const auto& [name, content] : testing::realCalendarFiles()) files.push_back(content);
  for (std::string& file : benchShapedFiles()) files.push_back(std::move(file));
  return files;
}

// Shapes the scan decides, each equal to the parsed extent.
const std::vector<std::pair<const char*, std::string>> kDecided = {
    {"one-off in UTC", event("DTSTART:20250303T090000Z\r\nDTEND:20250303T100000Z\r\n")},
    {"zoned, ends in another zone",
     event("DTSTART;TZID=Europe/Berlin:20250330T013000\r\nDTEND;TZID=America/New_York:20250330T090000\r\n")},
    {"across a change of offset",
     event("DTSTART;TZID=Europe/Berlin:20250329T220000\r\nDTEND;TZID=Europe/Berlin:20250330T040000\r\n")},
    {"floating with a duration", event("DTSTART:20250303T090000\r\nDURATION:PT1H30M\r\n")},
    {"no end", event("DTSTART:20250303T090000Z\r\n")},
    {"an end before the start", event("DTSTART:20250303T090000Z\r\nDTEND:20250302T090000Z\r\n")},
    {"all day over three days", event("DTSTART;VALUE=DATE:20250303\r\nDTEND;VALUE=DATE:20250306\r\n")},
    {"all day with a duration", event("DTSTART;VALUE=DATE:20250303\r\nDURATION:P2W\r\n")},
    {"all day without an end", event("DTSTART;VALUE=DATE:20250303\r\n")},
    {"Windows zone name", event("DTSTART;TZID=W. Europe Standard Time:20250303T090000\r\n"
                                "DTEND;TZID=W. Europe Standard Time:20250303T100000\r\n")},
    {"vendor-prefixed zone", event("DTSTART;TZID=/freeassociation.sourceforge.net/Europe/Berlin:20250303T090000\r\n")},
    {"lower-case names, folded values", event("dtstart;tzid=Europe/Ber\r\n lin:20250303T09\r\n 0000\r\nDuration:PT1H\r\n")},
    {"daily, counted", event("DTSTART:20250303T090000Z\r\nDTEND:20250303T100000Z\r\nRRULE:FREQ=DAILY;COUNT=60\r\n")},
    {"weekly, counted, with an interval",
     event("DTSTART;TZID=America/New_York:20250303T090000\r\nRRULE:FREQ=WEEKLY;INTERVAL=2;COUNT=10;WKST=SU\r\n")},
    {"monthly, counted", event("DTSTART;VALUE=DATE:20250128\r\nRRULE:FREQ=MONTHLY;COUNT=13\r\n")},
    {"yearly, counted", event("DTSTART:20250303T090000\r\nRRULE:FREQ=YEARLY;COUNT=5\r\n")},
    {"until in UTC", event("DTSTART;TZID=Asia/Tokyo:20250303T090000\r\nRRULE:FREQ=DAILY;UNTIL=20250310T000000Z\r\n")},
    {"until a day", event("DTSTART;VALUE=DATE:20250303\r\nRRULE:FREQ=WEEKLY;UNTIL=20250331\r\n")},
    {"until a local time", event("DTSTART;TZID=Europe/Berlin:20250303T090000\r\nRRULE:FREQ=DAILY;UNTIL=20250310T090000\r\n")},
    {"until before the start", event("DTSTART:20250303T090000Z\r\nRRULE:FREQ=DAILY;UNTIL=20250101T000000Z\r\n")},
    {"unbounded with BY parts", event("DTSTART:20250303T090000Z\r\nRRULE:FREQ=MONTHLY;BYDAY=1MO,-1FR\r\n")},
    {"extra dates before the start",
     event("DTSTART:20250310T090000Z\r\nDTEND:20250310T100000Z\r\nRDATE:20250301T090000Z,20250302T090000Z\r\n")},
    {"extra days of an all-day series", event("DTSTART;VALUE=DATE:20250310\r\nRDATE;VALUE=DATE:20250401\r\n")},
    {"two rules, one unbounded",
     event("DTSTART:20250303T090000Z\r\nRRULE:FREQ=DAILY;COUNT=3\r\nRRULE:FREQ=YEARLY\r\n")},
    {"a moved occurrence outside the series",
     event("DTSTART:20250303T090000Z\r\nRRULE:FREQ=DAILY;COUNT=3\r\nEXDATE:20250304T090000Z\r\n") +
         event("RECURRENCE-ID:20250304T090000Z\r\nDTSTART:20250601T090000Z\r\nDURATION:P1D\r\n")},
    {"only changed occurrences", event("RECURRENCE-ID:20250304T090000Z\r\nDTSTART:20250305T090000Z\r\n")},
    {"alarms, attendees and zones defined alongside",
     "BEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\nBEGIN:STANDARD\r\nDTSTART:19701025T030000\r\nTZOFFSETFROM:+0200\r\n"
     "TZOFFSETTO:+0100\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n" +
         event("DTSTART;TZID=Europe/Berlin:20250303T090000\r\nATTENDEE;CN=\"Ann: Smith\":mailto:a@example.com\r\n"
               "BEGIN:VALARM\r\nTRIGGER:-PT15M\r\nDTSTART:19990101T000000Z\r\nEND:VALARM\r\n")},
};

// Shapes the scan leaves to the parse.
const std::vector<std::pair<const char*, std::string>> kUndecided = {
    {"two events", event("DTSTART:20250303T090000Z\r\n") + event("DTSTART:20250304T090000Z\r\n")},
    {"a zone only the file defines",
     "BEGIN:VTIMEZONE\r\nTZID:Office\r\nBEGIN:STANDARD\r\nDTSTART:19700101T000000\r\nTZOFFSETFROM:+0100\r\n"
     "TZOFFSETTO:+0100\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n" +
         event("DTSTART;TZID=Office:20250303T090000\r\n")},
    {"a quoted zone", event("DTSTART;TZID=\"Europe/Berlin\":20250303T090000\r\n")},
    {"periods", event("DTSTART:20250303T090000Z\r\nRDATE;VALUE=PERIOD:20250310T090000Z/PT5H\r\n")},
    {"extra dates in another zone", event("DTSTART:20250303T090000Z\r\nRDATE;TZID=Asia/Tokyo:20250310T090000\r\n")},
    {"count with month days", event("DTSTART:20250303T090000Z\r\nRRULE:FREQ=MONTHLY;COUNT=5;BYMONTHDAY=1,15\r\n")},
    {"count from the 31st", event("DTSTART:20250131T090000Z\r\nRRULE:FREQ=MONTHLY;COUNT=5\r\n")},
    {"a rule in lower case", event("DTSTART:20250303T090000Z\r\nRRULE:freq=daily;count=5\r\n")},
    {"a negative count beside until",
     event("DTSTART:20250303T090000Z\r\nRRULE:FREQ=WEEKLY;COUNT=-1;UNTIL=20250331T235959Z\r\n")},
    {"hourly", event("DTSTART:20250303T090000Z\r\nRRULE:FREQ=HOURLY;COUNT=5\r\n")},
    {"a bare date", event("DTSTART:20250303\r\n")},
    {"a time out of range", event("DTSTART:20250303T250000Z\r\n")},
    {"an unknown value type", event("DTSTART;VALUE=PERIOD:20250303T090000Z/PT1H\r\n")},
    {"no start", event("DTEND:20250303T090000Z\r\n")},
    {"an unknown zone", event("DTSTART;TZID=Nowhere/Special:20250303T090000\r\n")},
    {"a folded BEGIN", "BEGIN:VEV\r\n ENT\r\nDTSTART:20250303T090000Z\r\nEND:VEVENT\r\n"},
    {"a component left open", "BEGIN:VEVENT\r\nDTSTART:20250303T090000Z\r\n"},
    {"a NUL", event("DTSTART:20250303T090000Z\r\n" + std::string("X-A:\0b\r\n", 8))},
    {"a lone CR", event("DTSTART:20250303T090000Z\r\nX-A:a\rRRULE:FREQ=DAILY\r\n")},
};

TEST(ItemScan, DecidesPlainShapesExactlyAsTheParseDoes) {
  for (const char* zone : {"Europe/Berlin", "America/Los_Angeles", "Australia/Sydney"}) {
    TimeZoneGuard guard(zone);
    for (const auto& [name, body] : kDecided) {
      SCOPED_TRACE(std::string(zone) + ": " + name);
      const std::string file = calendar(body);
      const std::shared_ptr<const ParsedEventFile> parsed = parseEventFile(file);
      ASSERT_TRUE(parsed);
      const std::optional<EventExtent> scanned = scanEventExtent(file);
      ASSERT_TRUE(scanned);
      EXPECT_EQ(text(*scanned), text(eventExtent(*parsed)));
    }
  }
}

TEST(ItemScan, LeavesUnusualShapesToTheParse) {
  TimeZoneGuard guard("Europe/Berlin");
  for (const auto& [name, body] : kUndecided) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(scanEventExtent(calendar(body)));
  }
  EXPECT_FALSE(scanEventExtent(""));
  EXPECT_FALSE(scanEventExtent(calendar("")));
  EXPECT_FALSE(scanEventExtent(calendar(event("DTSTART:20250303T090000Z\r\n")) + "X-TRAILING:1\r\n"));
  EXPECT_FALSE(scanEventExtent(calendar(event("DTSTART:20250303T090000Z\r\n")) + calendar("")));
}

TEST(ItemScan, DecidesEveryBenchShapedFileExactly) {
  TimeZoneGuard guard("Europe/Berlin");
  for (const std::string& file : benchShapedFiles()) {
    const std::optional<EventExtent> scanned = scanEventExtent(file);
    ASSERT_TRUE(scanned) << file;
    EXPECT_EQ(text(*scanned), text(eventExtent(*parseEventFile(file)))) << file;
  }
}

// Whether the scan agrees with the parse on one file: its span holds the parsed one.
void expectAgreement(const std::string& file, int& decided) {
  const std::optional<EventExtent> scanned = scanEventExtent(file);
  if (!scanned) return;
  ++decided;
  const std::shared_ptr<const ParsedEventFile> parsed = parseEventFile(file);
  if (!parsed) return;  // the parse skips the file: any answer only costs that parse
  EXPECT_TRUE(holds(*scanned, eventExtent(*parsed)))
      << "scanned " << text(*scanned) << ", parsed " << text(eventExtent(*parsed)) << "\n"
      << file.substr(0, 3000);
}

TEST(ItemScan, SpanHoldsTheParsedOneOnFixturesAndTheirMutations) {
  TimeZoneGuard guard("America/Los_Angeles");
  std::vector<std::string> files = fixtureFiles();
  for (const auto& [name, body] : kDecided) files.push_back(calendar(body));
  int decided = 0;
  for (const std::string& file : files) expectAgreement(file, decided);
  EXPECT_GE(decided, 40 + 30 + static_cast<int>(kDecided.size()));
  // Mutations: the fuzzer's, and changes of the very values the scan reads.
  std::mt19937_64 random(20250601);
  static const char* kValues[] = {"DTSTART:20250303T090000Z\r\n", "DTEND;VALUE=DATE:20250309\r\n",
                                  "DURATION:-PT5H\r\n", "DURATION:P3D\r\n", "RRULE:FREQ=YEARLY;COUNT=3\r\n",
                                  "RRULE:FREQ=WEEKLY;BYDAY=MO,FR;COUNT=7\r\n", "RRULE:FREQ=DAILY\r\n",
                                  "RRULE:FREQ=MONTHLY;UNTIL=20260101\r\n", "RDATE:20240101T000000Z\r\n",
                                  "RECURRENCE-ID:20250304T090000Z\r\n", "DTSTART;VALUE=DATE:20250101\r\n",
                                  "BEGIN:VEVENT\r\n", "END:VEVENT\r\n", "DTSTART;TZID=Asia/Kolkata:20250303T090000\r\n"};
  int mutated = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  for (; mutated < 20'000 && std::chrono::steady_clock::now() < deadline; ++mutated) {
    std::string file = files[random() % files.size()];
    for (int changes = 1 + static_cast<int>(random() % 3); changes > 0; --changes) {
      if (random() % 2) {
        file = testing::mutatedFile(file, random);
      } else {
        std::size_t at = file.find("\r\n", random() % (file.size() + 1));
        at = at == std::string::npos ? file.size() : at + 2;
        file.insert(at, kValues[random() % std::size(kValues)]);
      }
    }
    expectAgreement(file, decided);
    if (::testing::Test::HasFailure()) break;
  }
  EXPECT_GT(mutated, 100);
}

TEST(ItemScan, TodoCompletionIsTheParsedOne) {
  TimeZoneGuard guard("Europe/Berlin");
  auto todo = [](const std::string& lines) {
    return calendar("BEGIN:VTODO\r\nUID:t@test\r\nDTSTAMP:20250101T000000Z\r\nSUMMARY:Task\r\n" + lines +
                    "BEGIN:VALARM\r\nTRIGGER:-PT5M\r\nSTATUS:COMPLETED\r\nEND:VALARM\r\nEND:VTODO\r\n");
  };
  const struct {
    const char* name;
    std::string file;
    std::optional<bool> completed;
  } cases[] = {
      {"open", todo("STATUS:NEEDS-ACTION\r\n"), false},
      {"no status", todo(""), false},
      {"completed", todo("STATUS:COMPLETED\r\nCOMPLETED:20250301T120000Z\r\n"), true},
      {"completed, lower-case name, folded", todo("status:COMPL\r\n ETED\r\n"), true},
      {"a completion time alone", todo("COMPLETED:20250301T120000Z\r\n"), true},
      {"cancelled", todo("STATUS:CANCELLED\r\n"), false},
      {"an unknown status", todo("STATUS:DONE\r\n"), std::nullopt},
      {"a status in lower case", todo("STATUS:completed\r\n"), std::nullopt},
      {"an unreadable completion time", todo("COMPLETED:yesterday\r\n"), std::nullopt},
      {"two statuses", todo("STATUS:COMPLETED\r\nSTATUS:NEEDS-ACTION\r\n"), std::nullopt},
      {"two to-dos", todo("") + todo(""), std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(scanTodoCompleted(c.file), c.completed);
    const std::shared_ptr<const ParsedTodoFile> parsed = parseTodoFile(c.file);
    if (c.completed && parsed) {
      EXPECT_EQ(todoCompleted(*parsed), *c.completed);
    }
  }
  // Whenever the scan answers on a mutated file that parses, it answers as the parse does.
  std::mt19937_64 random(20250602);
  std::vector<std::string> files;
  for (const auto& c : cases) files.push_back(c.file);
  for (const std::string& file : testing::fuzzSeedFiles()) files.push_back(file);
  for (int i = 0; i < 3000; ++i) {
    std::string file = files[random() % files.size()];
    for (int changes = 1 + static_cast<int>(random() % 3); changes > 0; --changes) file = testing::mutatedFile(file, random);
    const std::optional<bool> scanned = scanTodoCompleted(file);
    const std::shared_ptr<const ParsedTodoFile> parsed = scanned ? parseTodoFile(file) : nullptr;
    if (parsed) {
      ASSERT_EQ(*scanned, todoCompleted(*parsed)) << file;
    }
  }
}

}  // namespace
}  // namespace wren::platform::vdir

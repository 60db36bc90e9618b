#include "calendar/IcsExport.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/formats/IcalText.h"
#include "support/TestSupport.h"
#include "support/TimeZoneGuard.h"

namespace wren {
namespace {

using namespace std::chrono;
using platform::EventItem;
using testing::utc;

const std::string kStamp = "20250101T000000Z";

EventItem oneHour() {
  EventItem event;
  event.itemId = "item-1";
  event.externalId = "uid-1@example.org";
  event.title = "Review";
  event.start = utc(2025, 3, 1, 1, 30);
  event.end = utc(2025, 3, 1, 2, 30);
  return event;
}

EventItem weeklySeries(const std::string& itemId, Instant start) {
  EventItem event;
  event.itemId = itemId;
  event.title = "Weekly " + itemId;
  event.start = start;
  event.end = start + hours(1);
  event.repeats = true;
  platform::RecurrenceRule rule;
  rule.frequency = platform::Frequency::Weekly;
  rule.occurrenceCount = 3;
  event.rules = {rule};
  return event;
}

SeriesLookup noStore() {
  return [](const std::string&) { return std::optional<EventItem>(); };
}

Json exportOf(const std::vector<EventItem>& events, OccurrenceExport mode = OccurrenceExport::AsSeries,
              const SeriesLookup& lookup = noStore()) {
  return exportICS(events, mode, lookup, kStamp);
}

// The physical lines of the text, without their CRLF.
std::vector<std::string> physicalLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t begin = 0;
  for (std::size_t end; (end = text.find("\r\n", begin)) != std::string::npos; begin = end + 2) {
    lines.push_back(text.substr(begin, end - begin));
  }
  EXPECT_EQ(begin, text.size()) << "text does not end in CRLF";
  return lines;
}

std::size_t occurrences(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

TEST(IcsEscape, ReplacesInOrder) {
  struct Case {
    std::string text;
    std::string escaped;
  };
  const std::vector<Case> cases = {
      {"a,b;c\\d", "a\\,b\\;c\\\\d"},
      {"\\;", "\\\\\\;"},
      {"one\r\ntwo\nthree\rfour", "one\\ntwo\\nthree\\nfour"},
      {"\n\r", "\\n\\n"},
      {"key: \"value\"", "key: \"value\""},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(icsEscape(c.text), c.escaped);
  }
}

TEST(IcsFold, SplitsAfter75ThenEvery74Bytes) {
  const std::string line = "DESCRIPTION:" + std::string(188, 'x');
  ASSERT_EQ(line.size(), 200u);
  const std::string folded = icsFold(line);
  EXPECT_EQ(folded, line.substr(0, 75) + "\r\n " + line.substr(75, 74) + "\r\n " + line.substr(149));
}

TEST(IcsFold, KeepsCharactersWhole) {
  std::string chinese = "SUMMARY:";
  for (int i = 0; i < 60; ++i) chinese += "\xE4\xBC\x9A";  // 会, three bytes
  // e with a combining acute accent is one character of three bytes.
  std::string combining = "SUMMARY:" + std::string(66, 'a');
  for (int i = 0; i < 10; ++i) combining += "e\xCC\x81";

  struct Case {
    const char* name;
    std::string line;
    std::vector<std::size_t> lengths;  // of the physical lines, the leading space included
  };
  const std::vector<Case> cases = {
      {"short", "SUMMARY:hello", {13}},
      {"exactly 75", std::string(75, 'q'), {75}},
      {"76", std::string(76, 'q'), {75, 2}},
      {"empty", "", {}},
      // 8 bytes of name, then 22 characters (66 bytes) fit in 75; 74-byte chunks hold 24.
      {"chinese", chinese, {74, 73, 1 + 3 * (60 - 22 - 24)}},
      // 74 bytes, then the accented e would reach 77: it moves whole.
      {"combining marks", combining, {74, 1 + 30}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folded = icsFold(c.line);
    std::vector<std::size_t> lengths;
    std::string unfolded;
    for (const std::string& physical : physicalLines(folded.empty() ? folded : folded + "\r\n")) {
      lengths.push_back(physical.size());
      unfolded += unfolded.empty() && lengths.size() == 1 ? physical : physical.substr(1);
    }
    EXPECT_EQ(lengths, c.lengths);
    EXPECT_EQ(unfolded, c.line);
  }
}

TEST(IcsDuration, SignFollowsTheSide) {
  EXPECT_EQ(icsDuration(15), "-PT15M");
  EXPECT_EQ(icsDuration(0), "-PT0M");
  EXPECT_EQ(icsDuration(-5), "PT5M");
}

TEST(IcsExportText, OneHourEventByteForByte) {
  platform::TimeZoneGuard zone("Asia/Shanghai");
  const Json result = exportOf({oneHour()});
  EXPECT_EQ(result["ics"],
            "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Wren//Device Actions//ZH\r\nCALSCALE:GREGORIAN\r\n"
            "BEGIN:VEVENT\r\nUID:uid-1@example.org\r\nDTSTAMP:20250101T000000Z\r\n"
            "DTSTART:20250301T013000Z\r\nDTEND:20250301T023000Z\r\nSUMMARY:Review\r\nEND:VEVENT\r\n"
            "END:VCALENDAR\r\n");
  EXPECT_EQ(result["count"], 1);
  EXPECT_EQ(result["truncated"], false);
  EXPECT_FALSE(result.contains("notes"));
}

TEST(IcsExportText, EmptyListIsAnEmptyCalendar) {
  const Json result = exportOf({});
  EXPECT_EQ(result["ics"],
            "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Wren//Device Actions//ZH\r\nCALSCALE:GREGORIAN\r\n"
            "END:VCALENDAR\r\n");
  EXPECT_EQ(result["count"], 0);
}

TEST(IcsVevent, EveryOptionalProperty) {
  platform::TimeZoneGuard zone("UTC");
  EventItem event = oneHour();
  event.externalId.clear();
  event.title = "Plan, review; ship\\now\nthen rest";
  event.location = "Room 1, floor 2";
  event.notes = "Bring\r\nlaptops";
  event.url = "https://example.org/a,b";
  event.availability = platform::Availability::Free;
  event.status = platform::EventStatus::Canceled;
  event.end.reset();
  platform::Alarm before;
  before.relativeOffset = -900;
  platform::Alarm fixed;
  fixed.absoluteDate = utc(2025, 3, 1, 0, 45);
  event.alarms = {before, fixed};

  const std::string description = "DESCRIPTION:Plan\\, review\\; ship\\\\now\\nthen rest";
  EXPECT_EQ(vevent(event, VeventForm::Occurrence, kStamp),
            (std::vector<std::string>{
                "BEGIN:VEVENT", "UID:item-1", "DTSTAMP:" + kStamp, "DTSTART:20250301T013000Z",
                "DTEND:20250301T013000Z", "SUMMARY:Plan\\, review\\; ship\\\\now\\nthen rest",
                "LOCATION:Room 1\\, floor 2", "DESCRIPTION:Bring\\nlaptops", "URL:https://example.org/a,b",
                "TRANSP:TRANSPARENT", "STATUS:CANCELLED", "BEGIN:VALARM", "ACTION:DISPLAY", description,
                "TRIGGER:-PT15M", "END:VALARM", "BEGIN:VALARM", "ACTION:DISPLAY", description,
                "TRIGGER;VALUE=DATE-TIME:20250301T004500Z", "END:VALARM", "END:VEVENT"}));
}

TEST(IcsVevent, UntitledAlarmSaysReminder) {
  EventItem event = oneHour();
  event.title.clear();
  platform::Alarm after;
  after.relativeOffset = 300;
  event.alarms = {after};
  const std::vector<std::string> lines = vevent(event, VeventForm::Occurrence, kStamp);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "SUMMARY:"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "DESCRIPTION:Reminder"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "TRIGGER:PT5M"), lines.end());
}

TEST(IcsVevent, AllDayEndIsTheNextDay) {
  platform::TimeZoneGuard zone("Asia/Shanghai");
  struct Case {
    const char* name;
    std::optional<Instant> end;
    std::string dtend;
  };
  const std::vector<Case> cases = {
      {"one day", utc(2025, 3, 1, 15, 59, 59), "DTEND;VALUE=DATE:20250302"},
      {"three days", utc(2025, 3, 3, 15, 59, 59), "DTEND;VALUE=DATE:20250304"},
      {"no end", std::nullopt, "DTEND;VALUE=DATE:20250302"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EventItem event = oneHour();
    event.allDay = true;
    event.start = utc(2025, 2, 28, 16);  // 1 March, local midnight
    event.end = c.end;
    const std::vector<std::string> lines = vevent(event, VeventForm::Series, kStamp);
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[3], "DTSTART;VALUE=DATE:20250301");
    EXPECT_EQ(lines[4], c.dtend);
  }
}

TEST(IcsVevent, RuleOnlyInSeriesFormAndOccurrenceUids) {
  platform::TimeZoneGuard zone("UTC");
  EventItem series = weeklySeries("s1", utc(2025, 3, 3, 14));
  series.externalId = "series-uid";
  const std::vector<std::string> asSeries = vevent(series, VeventForm::Series, kStamp);
  EXPECT_EQ(asSeries[1], "UID:series-uid");
  EXPECT_NE(std::find(asSeries.begin(), asSeries.end(), "RRULE:FREQ=WEEKLY;COUNT=3"), asSeries.end());

  const std::vector<std::string> asOccurrence = vevent(series, VeventForm::Occurrence, kStamp);
  EXPECT_EQ(asOccurrence[1], "UID:series-uid-20250303T140000Z");
  EXPECT_EQ(std::count_if(asOccurrence.begin(), asOccurrence.end(),
                          [](const std::string& l) { return l.rfind("RRULE:", 0) == 0; }),
            0);
}

TEST(IcsExportSeries, OnceAsSeriesOrEveryOccurrenceAlone) {
  platform::TimeZoneGuard zone("UTC");
  std::vector<EventItem> window;
  for (int week = 0; week < 10; ++week) {
    EventItem occurrence = weeklySeries("s1", utc(2025, 3, 3, 14) + days(7 * week));
    occurrence.externalId = "series-uid";
    occurrence.timeZone = "UTC";
    window.push_back(occurrence);
  }
  EventItem stored = window.front();
  stored.start = utc(2025, 2, 24, 14);  // the series began before the window
  stored.end = *stored.start + hours(1);
  int lookups = 0;
  const SeriesLookup lookup = [&](const std::string& itemId) {
    ++lookups;
    EXPECT_EQ(itemId, "s1");
    return std::optional<EventItem>(stored);
  };

  const Json series = exportOf(window, OccurrenceExport::AsSeries, lookup);
  EXPECT_EQ(series["count"], 1);
  EXPECT_EQ(lookups, 1);
  const std::string ics = series["ics"];
  EXPECT_EQ(occurrences(ics, "BEGIN:VEVENT"), 1u);
  EXPECT_EQ(occurrences(ics, "\r\nDTSTART:20250224T140000Z\r\n"), 1u);
  EXPECT_EQ(occurrences(ics, "\r\nRRULE:FREQ=WEEKLY;COUNT=3\r\n"), 1u);

  const Json alone = exportOf(window, OccurrenceExport::OneByOne, lookup);
  EXPECT_EQ(alone["count"], 10);
  EXPECT_EQ(lookups, 1);
  const std::string each = alone["ics"];
  EXPECT_EQ(occurrences(each, "RRULE:"), 0u);
  EXPECT_EQ(occurrences(each, "\r\nUID:series-uid-20250303T140000Z\r\n"), 1u);
  EXPECT_EQ(occurrences(each, "\r\nUID:series-uid-20250505T140000Z\r\n"), 1u);
}

TEST(IcsExportSeries, WithoutStoredItemTheEventStandsIn) {
  platform::TimeZoneGuard zone("UTC");
  EventItem series = weeklySeries("gone", utc(2025, 3, 3, 14));
  series.timeZone = "UTC";
  const Json result = exportOf({series});
  EXPECT_EQ(result["count"], 1);
  EXPECT_EQ(occurrences(result["ics"], "\r\nDTSTART:20250303T140000Z\r\n"), 1u);
}

TEST(IcsExportSeries, SeriesOfExtraDatesOnlyGoOneByOne) {
  platform::TimeZoneGuard zone("UTC");
  std::vector<EventItem> window;
  for (int day : {3, 5}) {
    EventItem occurrence = weeklySeries("rdates", utc(2025, 3, day, 14));
    occurrence.externalId = "rdate-uid";
    occurrence.rules.clear();  // the series repeats through RDATE alone
    window.push_back(occurrence);
  }
  const SeriesLookup lookup = [](const std::string&) -> std::optional<EventItem> {
    ADD_FAILURE() << "a series without rule is not looked up";
    return std::nullopt;
  };
  const Json result = exportOf(window, OccurrenceExport::AsSeries, lookup);
  EXPECT_EQ(result["count"], 2);
  const std::string ics = result["ics"];
  EXPECT_EQ(occurrences(ics, "\r\nUID:rdate-uid-20250303T140000Z\r\nDTSTAMP:20250101T000000Z\r\n"
                             "DTSTART:20250303T140000Z\r\n"),
            1u);
  EXPECT_EQ(occurrences(ics, "\r\nUID:rdate-uid-20250305T140000Z\r\n"), 1u);
}

TEST(IcsExportSeries, DetachedOccurrencesAreNoted) {
  std::vector<EventItem> window;
  for (int i = 0; i < 25; ++i) {
    EventItem changed = weeklySeries("s" + std::to_string(i), utc(2025, 3, 3, 14));
    changed.detached = true;
    window.push_back(changed);
    window.push_back(changed);  // a second occurrence of the same series adds no note
  }
  EventItem plain = weeklySeries("plain", utc(2025, 3, 4, 14));
  window.push_back(plain);
  const Json result = exportOf(window);
  EXPECT_EQ(result["count"], 26);
  ASSERT_EQ(result["notes"].size(), 20u);
  EXPECT_EQ(result["notes"][0], "\"Weekly s0\": occurrences changed one by one are exported as the plain series rule.");
  EXPECT_EQ(result["notes"][19], "\"Weekly s19\": occurrences changed one by one are exported as the plain series rule.");
}

TEST(IcsExportSeries, DetachedStoredItemIsNotedToo) {
  EventItem occurrence = weeklySeries("s1", utc(2025, 3, 3, 14));
  occurrence.title.clear();
  EventItem stored = occurrence;
  stored.detached = true;
  const SeriesLookup lookup = [&](const std::string&) { return std::optional<EventItem>(stored); };
  const Json result = exportOf({occurrence}, OccurrenceExport::AsSeries, lookup);
  EXPECT_EQ(result["notes"], Json::array({"\"\": occurrences changed one by one are exported as the plain series rule."}));
}

// What a series adds and takes out follows its RRULE, written as its DTSTART is.
TEST(IcsExportSeries, ExtraAndExcludedDatesFollowTheRule) {
  platform::TimeZoneGuard zone("America/Denver");
  auto dates = std::make_shared<platform::SeriesDates>();
  dates->excluded = {{2025, 3, 10, 9, 0, 0, 0}, {2025, 3, 17, 9, 0, 0, 0}};
  dates->added = {{{2025, 3, 12, 9, 0, 0, 0}, std::nullopt}, {{2025, 3, 13, 14, 0, 0, 0}, std::chrono::minutes(90)}};
  const struct {
    const char* name;
    std::optional<std::string> timeZone;
    bool allDay;
    std::vector<std::string> lines;
  } cases[] = {
      {"zoned", "Europe/Berlin", false,
       {"EXDATE;TZID=Europe/Berlin:20250310T090000,20250317T090000", "RDATE;TZID=Europe/Berlin:20250312T090000",
        "RDATE;VALUE=PERIOD;TZID=Europe/Berlin:20250313T140000/PT1H30M"}},
      {"utc", "UTC", false,
       {"EXDATE:20250310T090000Z,20250317T090000Z", "RDATE:20250312T090000Z",
        "RDATE;VALUE=PERIOD:20250313T140000Z/PT1H30M"}},
      {"floating", std::nullopt, false,
       {"EXDATE:20250310T090000,20250317T090000", "RDATE:20250312T090000",
        "RDATE;VALUE=PERIOD:20250313T140000/PT1H30M"}},
      {"all-day", std::nullopt, true,
       {"EXDATE;VALUE=DATE:20250310,20250317", "RDATE;VALUE=DATE:20250312,20250313"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EventItem series = weeklySeries("s", utc(2025, 3, 3, 8));
    series.timeZone = c.timeZone;
    series.allDay = c.allDay;
    series.seriesDates = dates;
    const std::vector<std::string> lines = vevent(series, VeventForm::Series, kStamp);
    const auto rule = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("RRULE:", 0) == 0; });
    ASSERT_NE(rule, lines.end());
    EXPECT_EQ(std::vector<std::string>(rule + 1, rule + 1 + static_cast<std::ptrdiff_t>(c.lines.size())), c.lines);
    // An occurrence exported on its own carries none of them.
    const std::vector<std::string> alone = vevent(series, VeventForm::Occurrence, kStamp);
    EXPECT_EQ(std::count_if(alone.begin(), alone.end(), [](const std::string& l) { return l.find("DATE") == 0; }), 0);
  }
}

// A zone that only the event's file defines is written with its TZID and its VTIMEZONE.
TEST(IcsExportSeries, ZoneDefinedByTheFileGoesAlong) {
  struct Brisbane final : platform::DefinedZone {
    const std::string& tzid() const override { return name; }
    const std::string& definition() const override { return text; }
    platform::CivilTime wallClock(Instant instant) const override { return platform::utcCivil(instant + hours(10)); }
    std::string name = "Brisbane, Queensland";
    std::string text = "BEGIN:VTIMEZONE\r\nTZID:Brisbane\\, Queensland\r\nBEGIN:STANDARD\r\nDTSTART:16010101T000000\r\n"
                       "TZOFFSETFROM:+1000\r\nTZOFFSETTO:+1000\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n";
  };
  platform::TimeZoneGuard zone("UTC");
  EventItem series = weeklySeries("q", utc(2025, 3, 2, 23));
  series.definedZone = std::make_shared<Brisbane>();
  const std::string ics = exportOf({series})["ics"];
  EXPECT_EQ(occurrences(ics, "CALSCALE:GREGORIAN\r\n" + series.definedZone->definition() + "BEGIN:VEVENT\r\n"), 1u);
  EXPECT_EQ(occurrences(ics, "\r\nDTSTART;TZID=\"Brisbane, Queensland\":20250303T090000\r\n"
                             "DTEND;TZID=\"Brisbane, Queensland\":20250303T100000\r\n"),
            1u);
  // Exported one by one, the occurrences are in UTC and need no zone.
  const std::string alone = exportOf({series}, OccurrenceExport::OneByOne)["ics"];
  EXPECT_EQ(occurrences(alone, "VTIMEZONE"), 0u);
  EXPECT_EQ(occurrences(alone, "\r\nDTSTART:20250302T230000Z\r\n"), 1u);
}

TEST(IcsExportLimits, AtMost500Events) {
  std::vector<EventItem> events;
  for (int i = 0; i < 600; ++i) {
    EventItem event = oneHour();
    event.externalId = "uid-" + std::to_string(i);
    events.push_back(event);
  }
  const Json result = exportOf(events);
  EXPECT_EQ(result["count"], 500);
  EXPECT_EQ(result["truncated"], true);
  const std::string ics = result["ics"];
  EXPECT_EQ(occurrences(ics, "BEGIN:VEVENT"), 500u);
  EXPECT_EQ(occurrences(ics, "\r\nUID:uid-499\r\n"), 1u);
  EXPECT_EQ(occurrences(ics, "\r\nUID:uid-500\r\n"), 0u);

  events.resize(500);
  EXPECT_EQ(exportOf(events)["truncated"], false);
}

// The bytes of the VEVENT text in the calendar object: everything between the header and
// the footer.
std::size_t bodyBytes(const std::string& ics) {
  const std::size_t begin = ics.find("BEGIN:VEVENT");
  const std::size_t end = ics.rfind("END:VCALENDAR");
  return begin == std::string::npos ? 0 : end - begin;
}

TEST(IcsExportLimits, StopsBeforeTheByteBudget) {
  EventItem event = oneHour();
  event.notes = std::string(99000, 'n');
  const std::size_t one = bodyBytes(exportOf({event})["ics"]);
  ASSERT_GT(one, 99000u);
  const std::size_t fitting = 1000000 / one;

  const Json result = exportOf(std::vector<EventItem>(fitting + 3, event));
  EXPECT_EQ(result["count"], fitting);
  EXPECT_EQ(result["truncated"], true);
  EXPECT_LE(bodyBytes(result["ics"]), 1000000u);
  EXPECT_EQ(bodyBytes(result["ics"]), fitting * one);

  // A small event after the first too large one is not added: the export stops there.
  std::vector<EventItem> mixed(fitting, event);
  mixed.push_back(event);
  mixed.push_back(oneHour());
  EXPECT_EQ(exportOf(mixed)["count"], fitting);
}

// Pads the event with ASCII notes and title so that its folded VEVENT text is exactly
// 1,000,000 bytes: the longest notes that fit, then the title makes up the few bytes a
// fold may leave over.
void padToBudget(EventItem& event) {
  constexpr std::size_t kBudget = 1000000;
  // An event left out of the export counts as too long, whatever the text then holds.
  auto sizeWith = [&](std::size_t length) {
    event.notes = std::string(length, 'n');
    const Json result = exportOf({event});
    return result["count"] == 1 ? bodyBytes(result["ics"]) : kBudget + 1;
  };
  std::size_t low = 0;  // fits
  std::size_t high = kBudget;  // too long
  while (high - low > 1) {
    const std::size_t middle = (low + high) / 2;
    (sizeWith(middle) <= kBudget ? low : high) = middle;
  }
  const std::size_t size = sizeWith(low);
  event.title += std::string(kBudget - size, 't');
  ASSERT_EQ(bodyBytes(exportOf({event})["ics"]), kBudget);
}

TEST(IcsExportLimits, ExactlyTheBudgetFits) {
  EventItem event = oneHour();
  padToBudget(event);
  const Json fits = exportOf({event});
  EXPECT_EQ(fits["count"], 1);
  EXPECT_EQ(fits["truncated"], false);
  event.title.push_back('t');
  const Json over = exportOf({event});
  EXPECT_EQ(over["count"], 0);
  EXPECT_EQ(over["truncated"], true);
  EXPECT_EQ(occurrences(over["ics"], "BEGIN:VEVENT"), 0u);
}

TEST(IcsExportZones, SeriesKeepTheirZoneOthersUseUtc) {
  platform::TimeZoneGuard zone("Asia/Shanghai");
  EventItem zoned = weeklySeries("ny", utc(2025, 3, 3, 14));
  zoned.timeZone = "America/New_York";
  EventItem floating = weeklySeries("float", utc(2025, 3, 3, 1));
  EventItem inUtc = weeklySeries("utc", utc(2025, 3, 3, 14));
  inUtc.timeZone = "Etc/UTC";
  EventItem oneOff = oneHour();
  oneOff.timeZone = "America/New_York";
  EventItem repeatsWithoutRule = zoned;
  repeatsWithoutRule.rules.clear();

  struct Case {
    const char* name;
    EventItem event;
    VeventForm form;
    std::string dtstart;
    std::string dtend;
  };
  const std::vector<Case> cases = {
      {"zoned series", zoned, VeventForm::Series, "DTSTART;TZID=America/New_York:20250303T090000",
       "DTEND;TZID=America/New_York:20250303T100000"},
      {"floating series", floating, VeventForm::Series, "DTSTART:20250303T090000", "DTEND:20250303T100000"},
      {"utc series", inUtc, VeventForm::Series, "DTSTART:20250303T140000Z", "DTEND:20250303T150000Z"},
      {"zoned occurrence", zoned, VeventForm::Occurrence, "DTSTART:20250303T140000Z", "DTEND:20250303T150000Z"},
      {"zoned one-off", oneOff, VeventForm::Series, "DTSTART:20250301T013000Z", "DTEND:20250301T023000Z"},
      {"series without rule", repeatsWithoutRule, VeventForm::Series, "DTSTART:20250303T140000Z",
       "DTEND:20250303T150000Z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> lines = vevent(c.event, c.form, kStamp);
    EXPECT_EQ(lines[3], c.dtstart);
    EXPECT_EQ(lines[4], c.dtend);
  }
}

TEST(IcsExportZones, UntilIsInUtcExceptForFloatingSeries) {
  platform::TimeZoneGuard zone("America/New_York");
  EventItem zoned = weeklySeries("ny", utc(2025, 3, 3, 14));
  zoned.timeZone = "America/New_York";
  zoned.rules[0].occurrenceCount = 0;
  zoned.rules[0].endDate = utc(2025, 6, 30, 3, 59, 59);
  const std::vector<std::string> lines = vevent(zoned, VeventForm::Series, kStamp);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "RRULE:FREQ=WEEKLY;UNTIL=20250630T035959Z"), lines.end());
  // A floating series needs a floating UNTIL, in the wall-clock time of the current zone.
  EventItem floating = zoned;
  floating.timeZone.reset();
  const std::vector<std::string> floatingLines = vevent(floating, VeventForm::Series, kStamp);
  EXPECT_NE(std::find(floatingLines.begin(), floatingLines.end(), "RRULE:FREQ=WEEKLY;UNTIL=20250629T235959"),
            floatingLines.end());
}

TEST(IcsExportZones, OneVtimezonePerZoneBeforeTheEvents) {
  platform::TimeZoneGuard zone("UTC");
  std::vector<EventItem> events;
  for (const char* id : {"a", "b"}) {
    EventItem series = weeklySeries(id, utc(2025, 3, 3, 14));
    series.timeZone = "America/New_York";
    events.push_back(series);
  }
  EventItem shanghai = weeklySeries("c", utc(2025, 3, 3, 1));
  shanghai.timeZone = "Asia/Shanghai";
  events.push_back(shanghai);
  EventItem floating = weeklySeries("d", utc(2025, 3, 3, 1));
  events.push_back(floating);

  const std::string ics = exportOf(events)["ics"];
  EXPECT_EQ(occurrences(ics, "BEGIN:VTIMEZONE"), 2u);
  EXPECT_EQ(occurrences(ics, "\r\nTZID:America/New_York\r\n"), 1u);
  EXPECT_EQ(occurrences(ics, "\r\nTZID:Asia/Shanghai\r\n"), 1u);
  const std::string header =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Wren//Device Actions//ZH\r\nCALSCALE:GREGORIAN\r\n";
  EXPECT_EQ(ics.rfind(header + "BEGIN:VTIMEZONE\r\n", 0), 0u);
  EXPECT_LT(ics.rfind("END:VTIMEZONE"), ics.find("BEGIN:VEVENT"));
  EXPECT_LT(ics.find("TZID:America/New_York"), ics.find("TZID:Asia/Shanghai"));
  // The zone starts with the observance in effect at the first start: standard time since
  // 3 November 2024, then the clock changes that follow.
  const std::string newYork = ics.substr(0, ics.find("TZID:Asia/Shanghai"));
  EXPECT_LT(newYork.find("BEGIN:STANDARD\r\nTZOFFSETTO:-050000\r\nTZOFFSETFROM:-040000\r\n"), newYork.size());
  EXPECT_NE(newYork.find("\r\nDTSTART:20241103T020000\r\n"), std::string::npos);
  for (const std::string& line : physicalLines(ics)) {
    SCOPED_TRACE(line);
    EXPECT_LE(line.size(), 75u);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
  }

  // One-by-one occurrences are written in UTC and need no zone.
  EXPECT_EQ(occurrences(exportOf(events, OccurrenceExport::OneByOne)["ics"], "VTIMEZONE"), 0u);
}

TEST(IcsExportZones, VtimezoneIsOutsideTheByteBudget) {
  EventItem series = weeklySeries("ny", utc(2025, 3, 3, 14));
  series.timeZone = "America/New_York";
  padToBudget(series);
  const Json result = exportOf({series});
  EXPECT_EQ(result["count"], 1);
  EXPECT_EQ(result["truncated"], false);
  EXPECT_EQ(occurrences(result["ics"], "BEGIN:VTIMEZONE"), 1u);
}

// A fresh folder in the temporary directory, removed with everything in it.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "wren-ics-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp(" + pattern + ") failed");
    path_ = pattern;
  }
  ~TemporaryFolder() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// An independent reader: the python icalendar module parses the text, the VTIMEZONE is
// turned into a zone by that module, and dateutil expands the rule in local time. The
// script prints the DTSTART zone, then each occurrence in UTC; it exits with 77 when the
// modules are missing.
constexpr const char* kReaderScript = R"(import datetime
import sys
try:
    import icalendar
    from dateutil import rrule
except ImportError:
    sys.exit(77)
calendar = icalendar.Calendar.from_ical(open(sys.argv[1], 'rb').read())
zones = {str(z['TZID']): z.to_tz() for z in calendar.walk('VTIMEZONE')}
event = calendar.walk('VEVENT')[0]
start = event.decoded('DTSTART')
print(str(start.tzinfo) if start.tzinfo else 'floating')
local = start.replace(tzinfo=None)
rule = rrule.rrulestr(event['RRULE'].to_ical().decode(), dtstart=local)
tzid = event['DTSTART'].params.get('TZID')
for occurrence in rule:
    if tzid:
        occurrence = zones[tzid].localize(occurrence).astimezone(datetime.timezone.utc)
    print(occurrence.strftime('%Y-%m-%dT%H:%M:%S%z'))
)";

struct ReaderOutput {
  bool available = false;
  std::vector<std::string> lines;
};

ReaderOutput readWithPython(const std::string& ics) {
  ReaderOutput output;
  if (access("/usr/bin/python3", X_OK) != 0) return output;
  TemporaryFolder folder;
  const std::filesystem::path script = folder.path() / "reader.py";
  const std::filesystem::path file = folder.path() / "export.ics";
  std::ofstream(script) << kReaderScript;
  std::ofstream(file, std::ios::binary) << ics;
  const std::string command = "/usr/bin/python3 " + script.string() + " " + file.string();
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return output;
  std::string text;
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe)) text += buffer;
  const int status = pclose(pipe);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) return output;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text;
  output.available = true;
  std::size_t begin = 0;
  for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
    output.lines.push_back(text.substr(begin, end - begin));
  }
  return output;
}

TEST(IcsExportZonesReader, WeeklySeriesKeepsItsLocalTimeAcrossTheClockChange) {
  // The current zone differs from the event's, so nothing can come from it by accident.
  platform::TimeZoneGuard zone("Asia/Shanghai");
  EventItem series = weeklySeries("ny", utc(2025, 3, 3, 14));  // 09:00 EST
  series.timeZone = "America/New_York";
  const ReaderOutput read = readWithPython(exportOf({series})["ics"]);
  if (!read.available) GTEST_SKIP() << "python3 with icalendar and dateutil is not installed";
  // 9 March 2025 starts daylight saving time in New York: 09:00 becomes 13:00 UTC.
  EXPECT_EQ(read.lines, (std::vector<std::string>{"America/New_York", "2025-03-03T14:00:00+0000",
                                                  "2025-03-10T13:00:00+0000", "2025-03-17T13:00:00+0000"}));
}

TEST(IcsExportZonesReader, FloatingSeriesStaysFloating) {
  platform::TimeZoneGuard zone("America/New_York");
  EventItem series = weeklySeries("float", utc(2025, 3, 3, 14));  // 09:00 local
  const ReaderOutput read = readWithPython(exportOf({series})["ics"]);
  if (!read.available) GTEST_SKIP() << "python3 with icalendar and dateutil is not installed";
  EXPECT_EQ(read.lines, (std::vector<std::string>{"floating", "2025-03-03T09:00:00", "2025-03-10T09:00:00",
                                                  "2025-03-17T09:00:00"}));
}

TEST(IcsExportZonesReader, FloatingSeriesWithAnEndIsReadToItsLastOccurrence) {
  platform::TimeZoneGuard zone("America/New_York");
  EventItem series = weeklySeries("float", utc(2025, 3, 3, 14));  // 09:00 local
  series.rules[0].occurrenceCount = 0;
  series.rules[0].endDate = utc(2025, 3, 17, 14);  // the third occurrence
  const ReaderOutput read = readWithPython(exportOf({series})["ics"]);
  if (!read.available) GTEST_SKIP() << "python3 with icalendar and dateutil is not installed";
  EXPECT_EQ(read.lines, (std::vector<std::string>{"floating", "2025-03-03T09:00:00", "2025-03-10T09:00:00",
                                                  "2025-03-17T09:00:00"}));
}

}  // namespace
}  // namespace wren

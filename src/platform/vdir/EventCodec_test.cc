#include "platform/vdir/EventCodec.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "platform/LocalTime.h"
#include "support/TimeZoneGuard.h"
#include "platform/vdir/Ical.h"
#include "support/StoreTestSupport.h"

namespace wren::platform::vdir {
namespace {

using std::chrono::hours;
using std::chrono::seconds;
using testing::countOf;

std::string calendarOf(std::initializer_list<std::string_view> lines) {
  std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\n";
  for (std::string_view line : lines) text.append(line).append("\r\n");
  return text + "END:VCALENDAR\r\n";
}

const ItemContext kContext{"item-1", "local/calendar", {"Me@Example.com"}};

Instant at(int year, int month, int day, int hour = 0, int minute = 0, std::string_view zone = "UTC") {
  return instantFromCivil(CivilTime{year, month, day, hour, minute, 0, 0}, zone).value();
}

std::vector<EventItem> window(const std::string& text, Instant start, Instant end) {
  std::shared_ptr<const ParsedEventFile> file = parseEventFile(text);
  EXPECT_TRUE(file);
  if (!file) return {};
  return eventsInWindow(*file, start, end, kContext);
}

EventItem primary(const std::string& text) {
  std::shared_ptr<const ParsedEventFile> file = parseEventFile(text);
  EXPECT_TRUE(file);
  std::optional<EventItem> item = file ? primaryEvent(*file, kContext) : std::nullopt;
  EXPECT_TRUE(item);
  return item.value_or(EventItem{});
}

std::string lineOf(const std::string& text, std::string_view prefix) {
  const std::size_t found = text.find("\r\n" + std::string(prefix));
  if (found == std::string::npos) return "";
  return text.substr(found + 2, text.find("\r\n", found + 2) - found - 2);
}

// ---------------------------------------------------------------------------------------
// Reading and expansion.

TEST(EventCodecExpansion, WeeklySeriesKeepsWallClockTimeAcrossDstChange) {
  TimeZoneGuard zone("Europe/London");
  const std::string text = calendarOf({"BEGIN:VEVENT", "UID:w", "DTSTART;TZID=America/New_York:20250227T090000",
                                       "DTEND;TZID=America/New_York:20250227T100000", "RRULE:FREQ=WEEKLY;COUNT=4",
                                       "SUMMARY:Standup", "END:VEVENT"});
  const std::vector<EventItem> items = window(text, at(2025, 2, 1), at(2025, 4, 1));
  ASSERT_EQ(items.size(), 4u);
  for (const EventItem& item : items) {
    SCOPED_TRACE(formatPattern(*item.start, "yyyy-MM-dd HH:mm", "America/New_York"));
    EXPECT_EQ(civilFromInstant(*item.start, "America/New_York").hour, 9);
    EXPECT_EQ(*item.end - *item.start, hours(1));
    EXPECT_EQ(item.occurrenceDate, item.start);
    EXPECT_EQ(item.timeZone, "America/New_York");
    EXPECT_TRUE(item.repeats);
    EXPECT_FALSE(item.detached);
    EXPECT_EQ(item.itemId, "item-1");
  }
  // The clocks change on 9 March: the UTC hour moves, the local one does not.
  EXPECT_EQ(*items[1].start, at(2025, 3, 6, 14));
  EXPECT_EQ(*items[2].start, at(2025, 3, 13, 13));
}

TEST(EventCodecExpansion, RdateAddsAndExdateRemovesOccurrences) {
  TimeZoneGuard zone("UTC");
  const std::string text = calendarOf({"BEGIN:VEVENT", "UID:r", "DTSTART:20250301T090000Z", "DURATION:PT30M",
                                       "RRULE:FREQ=DAILY;COUNT=4", "EXDATE:20250302T090000Z",
                                       "RDATE:20250310T120000Z", "END:VEVENT"});
  std::vector<Instant> starts;
  for (const EventItem& item : window(text, at(2025, 2, 1), at(2025, 4, 1))) starts.push_back(*item.start);
  EXPECT_EQ(starts, (std::vector<Instant>{at(2025, 3, 1, 9), at(2025, 3, 3, 9), at(2025, 3, 4, 9),
                                          at(2025, 3, 10, 12)}));
}

TEST(EventCodecExpansion, OverrideReplacesItsOccurrence) {
  TimeZoneGuard zone("UTC");
  const std::string text = calendarOf({"BEGIN:VEVENT", "UID:o", "DTSTART:20250301T090000Z",
                                       "DTEND:20250301T100000Z", "RRULE:FREQ=DAILY;COUNT=3", "SUMMARY:Series",
                                       "END:VEVENT", "BEGIN:VEVENT", "UID:o", "RECURRENCE-ID:20250302T090000Z",
                                       "DTSTART:20250302T150000Z", "DTEND:20250302T160000Z", "SUMMARY:Moved",
                                       "END:VEVENT"});
  const std::vector<EventItem> items = window(text, at(2025, 3, 1), at(2025, 3, 5));
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[1].title, "Moved");
  EXPECT_TRUE(items[1].detached);
  EXPECT_EQ(*items[1].start, at(2025, 3, 2, 15));
  EXPECT_EQ(items[1].occurrenceDate, at(2025, 3, 2, 9));
  EXPECT_TRUE(items[1].repeats);
  EXPECT_EQ(items[1].rules.size(), 1u);
  EXPECT_EQ(items[0].title, "Series");
  EXPECT_FALSE(items[0].detached);
  // A window holding only the moved occurrence's original time shows nothing.
  EXPECT_TRUE(window(text, at(2025, 3, 2, 9), at(2025, 3, 2, 10)).empty());
}

TEST(EventCodecExpansion, AllDayEventsEndOnTheirLastDay) {
  TimeZoneGuard zone("Asia/Tokyo");
  const struct {
    const char* name;
    std::vector<std::string_view> lines;
    int lastDay;
  } cases[] = {
      {"one day", {"DTSTART;VALUE=DATE:20250301", "DTEND;VALUE=DATE:20250302"}, 1},
      {"three days", {"DTSTART;VALUE=DATE:20250301", "DTEND;VALUE=DATE:20250304"}, 3},
      {"no end", {"DTSTART;VALUE=DATE:20250301"}, 1},
      {"end before start", {"DTSTART;VALUE=DATE:20250301", "DTEND;VALUE=DATE:20250225"}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:d\r\n";
    for (std::string_view line : c.lines) text.append(line).append("\r\n");
    text += "END:VEVENT\r\nEND:VCALENDAR\r\n";
    const EventItem item = primary(text);
    EXPECT_TRUE(item.allDay);
    EXPECT_FALSE(item.timeZone);
    EXPECT_EQ(*item.start, at(2025, 3, 1, 0, 0, "Asia/Tokyo"));
    EXPECT_EQ(*item.end, at(2025, 3, c.lastDay, 23, 59, "Asia/Tokyo") + seconds(59));
    // Overlap uses the exclusive end: the midnight after the last day is outside.
    const Instant after = at(2025, 3, c.lastDay + 1, 0, 0, "Asia/Tokyo");
    EXPECT_TRUE(window(text, after - seconds(1), after + hours(1)).size() == 1);
    EXPECT_TRUE(window(text, after, after + hours(1)).empty());
  }
}

TEST(EventCodecExpansion, WindowEdgesFollowHalfOpenOverlap) {
  TimeZoneGuard zone("UTC");
  const std::string timed = calendarOf({"BEGIN:VEVENT", "UID:t", "DTSTART:20250301T090000Z",
                                        "DTEND:20250301T100000Z", "END:VEVENT"});
  const std::string instant = calendarOf({"BEGIN:VEVENT", "UID:z", "DTSTART:20250301T090000Z",
                                          "DTEND:20250301T090000Z", "END:VEVENT"});
  const struct {
    const char* name;
    const std::string* text;
    Instant start;
    Instant end;
    std::size_t count;
  } cases[] = {
      {"ends at window start", &timed, at(2025, 3, 1, 10), at(2025, 3, 1, 12), 0},
      {"starts at window end", &timed, at(2025, 3, 1, 7), at(2025, 3, 1, 9), 0},
      {"overlaps the start", &timed, at(2025, 3, 1, 9, 59), at(2025, 3, 1, 12), 1},
      {"zero length at window start", &instant, at(2025, 3, 1, 9), at(2025, 3, 1, 10), 1},
      {"zero length at window end", &instant, at(2025, 3, 1, 8), at(2025, 3, 1, 9), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(window(*c.text, c.start, c.end).size(), c.count);
  }
}

TEST(EventCodecExpansion, FloatingTimesFollowTheCurrentZone) {
  const std::string text = calendarOf({"BEGIN:VEVENT", "UID:f", "DTSTART:20250301T090000",
                                       "DTEND:20250301T100000", "END:VEVENT"});
  std::shared_ptr<const ParsedEventFile> file = parseEventFile(text);
  ASSERT_TRUE(file);
  for (const char* zoneId : {"Europe/Berlin", "America/Los_Angeles"}) {
    SCOPED_TRACE(zoneId);
    TimeZoneGuard zone(zoneId);
    // The file parsed once serves both zones.
    const std::optional<EventItem> item = primaryEvent(*file, kContext);
    ASSERT_TRUE(item);
    EXPECT_EQ(*item->start, at(2025, 3, 1, 9, 0, zoneId));
    EXPECT_FALSE(item->timeZone);
    EXPECT_EQ(eventsInWindow(*file, at(2025, 3, 1, 8, 0, zoneId), at(2025, 3, 1, 9, 30, zoneId), kContext).size(), 1u);
  }
}

TEST(EventCodecExpansion, CountAndUntilEndSeries) {
  TimeZoneGuard zone("Europe/Berlin");
  const struct {
    const char* name;
    const char* rule;
    const char* dtstart;
    std::size_t count;
  } cases[] = {
      {"count", "RRULE:FREQ=DAILY;COUNT=5", "DTSTART:20250301T090000Z", 5},
      {"until utc", "RRULE:FREQ=DAILY;UNTIL=20250305T090000Z", "DTSTART:20250301T090000Z", 5},
      {"until just before", "RRULE:FREQ=DAILY;UNTIL=20250305T085959Z", "DTSTART:20250301T090000Z", 4},
      {"until date includes its day", "RRULE:FREQ=DAILY;UNTIL=20250305", "DTSTART;VALUE=DATE:20250301", 5},
      {"weekly by day", "RRULE:FREQ=WEEKLY;BYDAY=MO,FR;COUNT=4", "DTSTART:20250303T090000Z", 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = calendarOf({"BEGIN:VEVENT", "UID:c", c.dtstart, c.rule, "END:VEVENT"});
    EXPECT_EQ(window(text, at(2025, 1, 1), at(2026, 1, 1)).size(), c.count);
    std::shared_ptr<const ParsedEventFile> file = parseEventFile(text);
    ASSERT_TRUE(file);
    EXPECT_TRUE(eventExtent(*file).latest) << "a series with an end has a latest instant";
  }
}

TEST(EventCodecExpansion, ReadsFieldsParticipantsAndAvailability) {
  TimeZoneGuard zone("UTC");
  const std::string text = calendarOf({
      "BEGIN:VEVENT", "UID:ext-42", "DTSTART:20250301T090000Z", "DTEND:20250301T100000Z", "SUMMARY:Plan\\, review",
      "LOCATION:Room 1", "DESCRIPTION:Line one\\nLine two", "URL:https://example.com/x", "TRANSP:OPAQUE",
      "X-MICROSOFT-CDO-BUSYSTATUS:OOF", "STATUS:CANCELLED", "CREATED:20250101T000000Z",
      "LAST-MODIFIED:20250201T000000Z", "ORGANIZER;CN=Boss:mailto:boss@example.com",
      "ATTENDEE;CN=Me;PARTSTAT=ACCEPTED:mailto:me@example.com", "ATTENDEE;PARTSTAT=NEEDS-ACTION:mailto:a@example.com",
      "ATTENDEE;PARTSTAT=IN-PROCESS:mailto:b@example.com", "ATTENDEE;PARTSTAT=X-ODD:mailto:c@example.com",
      "BEGIN:VALARM", "ACTION:DISPLAY", "DESCRIPTION:x", "TRIGGER;RELATED=END:-PT10M", "END:VALARM", "END:VEVENT",
  });
  const EventItem item = primary(text);
  EXPECT_EQ(item.externalId, "ext-42");
  EXPECT_EQ(item.title, "Plan, review");
  EXPECT_EQ(item.location, "Room 1");
  EXPECT_EQ(item.notes, "Line one\nLine two");
  EXPECT_EQ(item.url, "https://example.com/x");
  EXPECT_EQ(item.availability, Availability::Unavailable);
  EXPECT_EQ(item.status, EventStatus::Canceled);
  EXPECT_EQ(item.created, at(2025, 1, 1));
  EXPECT_EQ(item.lastModified, at(2025, 2, 1));
  EXPECT_EQ(item.timeZone, "UTC");
  EXPECT_FALSE(item.repeats);
  ASSERT_TRUE(item.organizer);
  EXPECT_EQ(item.organizer->name, "Boss");
  EXPECT_FALSE(item.organizer->isCurrentUser);
  ASSERT_EQ(item.attendees.size(), 4u);
  EXPECT_EQ(item.attendees[0].url, "mailto:me@example.com");
  EXPECT_TRUE(item.attendees[0].isCurrentUser);
  const ParticipantStatus statuses[] = {ParticipantStatus::Accepted, ParticipantStatus::Pending,
                                        ParticipantStatus::InProcess, ParticipantStatus::Unknown};
  for (std::size_t i = 0; i < item.attendees.size(); ++i) {
    SCOPED_TRACE(item.attendees[i].url);
    EXPECT_EQ(item.attendees[i].status, statuses[i]);
    EXPECT_EQ(item.attendees[i].isCurrentUser, i == 0);
  }
  ASSERT_EQ(item.alarms.size(), 1u);
  EXPECT_EQ(item.alarms[0].relativeOffset, 3600 - 600);
}

TEST(EventCodecExpansion, AvailabilityFromTranspAndBusyStatus) {
  const struct {
    std::vector<std::string_view> lines;
    Availability expected;
  } cases[] = {
      {{}, Availability::Busy},
      {{"TRANSP:TRANSPARENT"}, Availability::Free},
      {{"TRANSP:OPAQUE"}, Availability::Busy},
      {{"TRANSP:OPAQUE", "X-MICROSOFT-CDO-BUSYSTATUS:TENTATIVE"}, Availability::Tentative},
      {{"TRANSP:OPAQUE", "X-MICROSOFT-CDO-BUSYSTATUS:FREE"}, Availability::Free},
  };
  for (const auto& c : cases) {
    std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:a\r\nDTSTART:20250301T090000Z\r\n";
    for (std::string_view line : c.lines) text.append(line).append("\r\n");
    text += "END:VEVENT\r\nEND:VCALENDAR\r\n";
    SCOPED_TRACE(text);
    EXPECT_EQ(primary(text).availability, c.expected);
  }
}

TEST(EventCodecExpansion, NotesKeepTheBlanksAroundThemAndAnEmptyUrlIsNone) {
  TimeZoneGuard zone("UTC");
  const std::string text = calendarOf({
      "BEGIN:VEVENT", "UID:n", "DTSTART:20250301T090000Z", "RRULE:FREQ=DAILY;COUNT=2",
      "DESCRIPTION:  indented\\, and trailing  ", "URL:", "END:VEVENT",
      "BEGIN:VEVENT", "UID:n", "RECURRENCE-ID:20250302T090000Z", "DTSTART:20250302T100000Z",
      "DESCRIPTION:plain", "END:VEVENT",
      // The value starts on the folded line after the colon, with a blank.
      "BEGIN:VEVENT", "UID:n", "RECURRENCE-ID:20250303T090000Z", "DTSTART:20250303T090000Z",
      "DESCRIPTION:", "  late", "END:VEVENT",
  });
  const std::vector<EventItem> items = window(text, at(2025, 3, 1), at(2025, 3, 4));
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].notes, "  indented, and trailing  ");
  EXPECT_EQ(items[0].url, std::nullopt);
  EXPECT_EQ(items[1].notes, "plain");
  EXPECT_TRUE(items[1].detached);
  EXPECT_EQ(items[2].notes, " late");
}

TEST(EventCodecExpansion, RuleDaysKeepTheOrderTheyAreWrittenIn) {
  TimeZoneGuard zone("UTC");
  using platform::RecurrenceDay;
  const EventItem weekly = primary(calendarOf({"BEGIN:VEVENT", "UID:d", "DTSTART:20250303T090000Z",
                                               "RRULE:FREQ=WEEKLY;BYDAY=FR,MO,-1SU", "END:VEVENT"}));
  ASSERT_EQ(weekly.rules.size(), 1u);
  EXPECT_EQ(weekly.rules[0].daysOfWeek,
            (std::vector<RecurrenceDay>{{6, 0}, {2, 0}, {1, -1}}));
  // A rule whose days cannot be matched to its line keeps libical's order.
  const EventItem odd = primary(calendarOf({"BEGIN:VEVENT", "UID:e", "DTSTART:20250303T090000Z",
                                            "RRULE:FREQ=WEEKLY;BYDAY=FR,XX", "END:VEVENT"}));
  for (const auto& rule : odd.rules) EXPECT_LE(rule.daysOfWeek.size(), 1u);
}

TEST(EventCodecRobustness, BadInputDoesNotCrashOrHang) {
  TimeZoneGuard zone("Europe/Berlin");
  const struct {
    const char* name;
    std::string text;
    std::size_t inWindow;
  } cases[] = {
      {"invalid rrule",
       calendarOf({"BEGIN:VEVENT", "UID:1", "DTSTART:20250301T090000Z", "RRULE:FREQ=SOMETIMES;BYDAY=XX",
                   "END:VEVENT"}),
       1},
      {"unknown tzid reads as floating",
       calendarOf({"BEGIN:VEVENT", "UID:2", "DTSTART;TZID=Atlantis/Capital:20250301T090000", "END:VEVENT"}), 1},
      {"end before start",
       calendarOf({"BEGIN:VEVENT", "UID:3", "DTSTART:20250301T090000Z", "DTEND:20250301T080000Z", "END:VEVENT"}), 1},
      {"impossible rule",
       calendarOf({"BEGIN:VEVENT", "UID:4", "DTSTART:20250301T090000Z", "RRULE:FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30",
                   "END:VEVENT"}),
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(window(c.text, at(2025, 1, 1), at(2026, 1, 1)).size(), c.inWindow);
  }
  const EventItem unknownZone = primary(cases[1].text);
  EXPECT_FALSE(unknownZone.timeZone);
  EXPECT_EQ(*unknownZone.start, at(2025, 3, 1, 9, 0, "Europe/Berlin"));
  EXPECT_EQ(primary(cases[2].text).end, primary(cases[2].text).start);
  for (const char* junk : {"", "not a calendar", "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n",
                           "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:x\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n"}) {
    SCOPED_TRACE(junk);
    EXPECT_FALSE(parseEventFile(junk));
  }
}

TEST(EventCodecRobustness, EndlessSeriesAndManyOverridesStayBounded) {
  TimeZoneGuard zone("UTC");
  std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:m\r\nDTSTART:20200101T090000Z\r\n"
                     "DURATION:PT1H\r\nRRULE:FREQ=DAILY\r\nEND:VEVENT\r\n";
  const Instant first = at(2020, 1, 1, 9);
  for (int i = 1; i <= 10000; ++i) {
    const std::string original = utcText(first + hours(24 * i));
    text += "BEGIN:VEVENT\r\nUID:m\r\nRECURRENCE-ID:" + original + "\r\nDTSTART:" +
            utcText(first + hours(24 * i + 2)) + "\r\nDURATION:PT1H\r\nSUMMARY:o\r\nEND:VEVENT\r\n";
  }
  text += "END:VCALENDAR\r\n";
  const auto began = std::chrono::steady_clock::now();
  std::shared_ptr<const ParsedEventFile> file = parseEventFile(text);
  ASSERT_TRUE(file);
  EXPECT_FALSE(eventExtent(*file).latest) << "an endless series has no latest instant";
  const std::vector<EventItem> items = eventsInWindow(*file, at(2020, 1, 1), at(2030, 1, 1), kContext);
  const auto took = std::chrono::steady_clock::now() - began;
  EXPECT_EQ(items.size(), 3653u);  // every day of ten years, overridden or not, once
  std::size_t detached = 0;
  for (const EventItem& item : items) detached += item.detached ? 1 : 0;
  EXPECT_EQ(detached, 3652u);  // the overrides of 2 January 2020 to 31 December 2029
  EXPECT_LT(took, std::chrono::seconds(20));
}

// ---------------------------------------------------------------------------------------
// Occurrence keys kept with the parsed file.

// What a listing shows of each occurrence, for comparing two expansions.
std::vector<std::string> shown(const std::vector<EventItem>& items) {
  std::vector<std::string> list;
  for (const EventItem& item : items) {
    list.push_back(item.title + " " + utcText(*item.start) + "-" + utcText(*item.end) + " from " +
                   utcText(*item.occurrenceDate) + (item.detached ? " detached" : ""));
  }
  return list;
}

const std::string kKeptSeries[] = {
    // Floating, so its UNTIL falls on another occurrence in every zone.
    calendarOf({"BEGIN:VEVENT", "UID:a", "DTSTART:20250301T090000", "DURATION:PT1H", "SUMMARY:floating",
                "RRULE:FREQ=DAILY;UNTIL=20250305T090000Z", "END:VEVENT"}),
    calendarOf({"BEGIN:VEVENT", "UID:b", "DTSTART;VALUE=DATE:20250301", "SUMMARY:all day",
                "RRULE:FREQ=WEEKLY;UNTIL=20250412", "EXDATE;VALUE=DATE:20250315", "END:VEVENT"}),
    calendarOf({"BEGIN:VEVENT", "UID:c", "DTSTART;TZID=America/New_York:20250303T100000", "DURATION:PT1H",
                "SUMMARY:zoned", "RRULE:FREQ=WEEKLY", "EXDATE;TZID=America/New_York:20250317T100000",
                "RDATE;TZID=America/New_York:20250305T120000", "END:VEVENT", "BEGIN:VEVENT", "UID:c",
                "RECURRENCE-ID;TZID=America/New_York:20250310T100000",
                "DTSTART;TZID=America/New_York:20250324T100000", "DURATION:PT1H", "SUMMARY:moved", "END:VEVENT"}),
    calendarOf({"BEGIN:VEVENT", "UID:d", "DTSTART:20250301T090000Z", "DURATION:PT30M", "SUMMARY:two rules",
                "RRULE:FREQ=DAILY;COUNT=20", "RRULE:FREQ=MONTHLY;BYMONTHDAY=-1", "END:VEVENT"}),
};

TEST(EventCodecKeptKeys, FloatingUntilFollowsTheZoneOfEachWindow) {
  const std::string& text = kKeptSeries[0];
  std::shared_ptr<const ParsedEventFile> file = parseEventFile(text);
  ASSERT_TRUE(file);
  // 09:00 on 5 March is 08:00 UTC in Berlin, before UNTIL, and 17:00 UTC in Los Angeles, after it.
  const struct {
    const char* zone;
    std::size_t count;
  } cases[] = {{"America/Los_Angeles", 4}, {"Europe/Berlin", 5}, {"America/Los_Angeles", 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.zone);
    TimeZoneGuard zone(c.zone);
    EXPECT_EQ(eventsInWindow(*file, at(2025, 2, 1), at(2025, 4, 1), kContext).size(), c.count);
  }
}

TEST(EventCodecKeptKeys, WindowsOfOneParsedFileMatchAFreshParse) {
  // Windows moving forward, far ahead, back, across UNTIL, and in another zone: whatever the
  // file kept from earlier windows, each gives what a file parsed just for it gives.
  const struct {
    const char* zone;
    Instant start;
    Instant end;
  } windows[] = {
      {"America/Los_Angeles", at(2025, 3, 3), at(2025, 3, 17)}, {"Europe/Berlin", at(2025, 3, 10), at(2025, 3, 24)},
      {"Europe/Berlin", at(2031, 6, 1), at(2031, 7, 1)},    {"Europe/Berlin", at(2025, 1, 1), at(2026, 1, 1)},
      {"America/Los_Angeles", at(2025, 3, 1), at(2025, 5, 1)}, {"Asia/Tokyo", at(2024, 12, 1), at(2025, 3, 6)},
      {"Europe/Berlin", at(2026, 1, 1), at(2034, 1, 1)},   {"Europe/Berlin", at(2090, 1, 1), at(2090, 3, 1)},
      {"Europe/Berlin", at(2025, 3, 3), at(2025, 3, 17)},
  };
  for (const std::string& text : kKeptSeries) {
    std::shared_ptr<const ParsedEventFile> kept = parseEventFile(text);
    ASSERT_TRUE(kept);
    for (const auto& w : windows) {
      SCOPED_TRACE(lineOf(text, "SUMMARY") + " in " + w.zone + " from " + utcText(w.start));
      TimeZoneGuard zone(w.zone);
      EXPECT_EQ(shown(eventsInWindow(*kept, w.start, w.end, kContext)), shown(window(text, w.start, w.end)));
    }
  }
}

TEST(EventCodecKeptKeys, ThreadsSharingAParsedFileSeeTheSameOccurrences) {
  TimeZoneGuard zone("Europe/Berlin");
  const std::string& text = kKeptSeries[2];
  std::vector<std::vector<std::string>> expected;
  for (int year = 0; year < 8; ++year) {
    expected.push_back(shown(window(text, at(2025 + year, 1, 1), at(2026 + year, 1, 1))));
  }
  std::shared_ptr<const ParsedEventFile> file = parseEventFile(text);
  ASSERT_TRUE(file);
  std::vector<std::vector<std::string>> seen(expected.size());
  std::vector<std::thread> threads;
  // Each thread reaches further than the one before, so the keys grow while others read.
  for (std::size_t t = 0; t < expected.size(); ++t) {
    threads.emplace_back([&, t] {
      const int year = 2025 + static_cast<int>(t);
      for (int round = 0; round < 20; ++round) {
        seen[t] = shown(eventsInWindow(*file, at(year, 1, 1), at(year + 1, 1, 1), kContext));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(seen, expected);
}

// ---------------------------------------------------------------------------------------
// Writing.

const std::string kSeries = calendarOf({
    "BEGIN:VEVENT", "UID:series-1", "DTSTAMP:20250101T000000Z", "SEQUENCE:3",
    "DTSTART;TZID=Europe/Berlin:20250303T090000", "DTEND;TZID=Europe/Berlin:20250303T100000",
    "RRULE:FREQ=DAILY;COUNT=10", "SUMMARY:Daily", "X-FOO;X-P=\"q;r\":a\\,b\\;c", "CATEGORIES:Work,Team",
    "ATTACH;FMTTYPE=text/plain:https://example.com/files/", " a-rather-long-attachment-name-that-folds.txt",
    "ATTENDEE;CN=\"Doe, Jane\";PARTSTAT=ACCEPTED:mailto:jane@example.com", "BEGIN:VALARM", "ACTION:DISPLAY",
    "DESCRIPTION:First", "TRIGGER:-PT15M", "END:VALARM", "BEGIN:VALARM", "ACTION:AUDIO", "TRIGGER:-PT5M",
    "X-KEEP:yes", "END:VALARM", "END:VEVENT",
});

const char* const kUnknownLines[] = {
    "X-FOO;X-P=\"q;r\":a\\,b\\;c",
    "CATEGORIES:Work,Team",
    // Folded where its writer chose, which a save keeps.
    "ATTACH;FMTTYPE=text/plain:https://example.com/files/\r\n a-rather-long-attachment-name-that-folds.txt",
    "ATTENDEE;CN=\"Doe, Jane\";PARTSTAT=ACCEPTED:mailto:jane@example.com",
};

EventItem occurrence(const std::string& text, int index) {
  const std::vector<EventItem> items = window(text, at(2025, 3, 1), at(2025, 4, 1));
  EXPECT_GT(items.size(), static_cast<std::size_t>(index));
  return items.size() > static_cast<std::size_t>(index) ? items[static_cast<std::size_t>(index)] : EventItem{};
}

std::size_t occurrencesOf(const std::string& text) { return window(text, at(2024, 1, 1), at(2027, 1, 1)).size(); }

TEST(EventCodecSaving, ThisOccurrenceWritesThenReplacesAnOverride) {
  TimeZoneGuard zone("Asia/Tokyo");
  EventItem third = occurrence(kSeries, 2);
  third.title = "Moved once";
  third.start = *third.start + hours(2);
  third.end = *third.end + hours(2);
  const EventSaveResult first = saveEventText(kSeries, third, Span::ThisEvent);
  EXPECT_FALSE(first.continuation);
  EXPECT_EQ(countOf(first.text, "RECURRENCE-ID;TZID=Europe/Berlin:20250305T090000"), 1u);
  std::vector<EventItem> items = window(first.text, at(2025, 3, 1), at(2025, 4, 1));
  ASSERT_EQ(items.size(), 10u);
  EXPECT_EQ(items[2].title, "Moved once");
  EXPECT_TRUE(items[2].detached);
  EXPECT_EQ(civilFromInstant(*items[2].start, "Europe/Berlin").hour, 11);
  EXPECT_EQ(items[3].title, "Daily");

  EventItem again = items[2];
  again.title = "Moved twice";
  const EventSaveResult second = saveEventText(first.text, again, Span::ThisEvent);
  EXPECT_EQ(countOf(second.text, "RECURRENCE-ID"), 1u) << "the override is replaced, not added";
  items = window(second.text, at(2025, 3, 1), at(2025, 4, 1));
  ASSERT_EQ(items.size(), 10u);
  EXPECT_EQ(items[2].title, "Moved twice");
  EXPECT_EQ(civilFromInstant(*items[2].start, "Europe/Berlin").hour, 11);
}

TEST(EventCodecSaving, FutureSplitKeepsTheTotalNumberOfOccurrences) {
  TimeZoneGuard zone("America/New_York");
  ASSERT_EQ(occurrencesOf(kSeries), 10u);
  for (int split : {1, 4, 9}) {
    SCOPED_TRACE(split);
    EventItem from = occurrence(kSeries, split);
    from.title = "Renamed";
    const EventSaveResult result = saveEventText(kSeries, from, Span::FutureEvents);
    ASSERT_TRUE(result.continuation);
    EXPECT_EQ(occurrencesOf(result.text), static_cast<std::size_t>(split));
    EXPECT_EQ(occurrencesOf(*result.continuation), static_cast<std::size_t>(10 - split));
    EXPECT_EQ(countOf(result.text, "COUNT="), 0u) << "COUNT gives way to UNTIL";
    // UNTIL is one second before the split occurrence, in UTC for a zoned series.
    const Instant until = *from.occurrenceDate - seconds(1);
    EXPECT_NE(result.text.find("UNTIL=" + utcText(until)), std::string::npos);
    const EventItem continued = primary(*result.continuation);
    EXPECT_EQ(continued.title, "Renamed");
    EXPECT_NE(continued.externalId, "series-1");
    EXPECT_EQ(continued.start, from.start);
    EXPECT_EQ(primary(result.text).title, "Daily");
    for (const char* line : kUnknownLines) {
      EXPECT_NE(result.continuation->find("\r\n" + std::string(line) + "\r\n"), std::string::npos) << line;
    }
  }
}

TEST(EventCodecSaving, FutureFromTheFirstOccurrenceEditsTheWholeSeries) {
  TimeZoneGuard zone("UTC");
  EventItem first = occurrence(kSeries, 0);
  first.title = "All of them";
  const EventSaveResult result = saveEventText(kSeries, first, Span::FutureEvents);
  EXPECT_FALSE(result.continuation);
  const std::vector<EventItem> items = window(result.text, at(2025, 3, 1), at(2025, 4, 1));
  ASSERT_EQ(items.size(), 10u);
  for (const EventItem& item : items) EXPECT_EQ(item.title, "All of them");
  EXPECT_NE(result.text.find("RRULE:FREQ=DAILY;COUNT=10"), std::string::npos) << "an unchanged rule keeps its text";
}

TEST(EventCodecSaving, FutureSplitMovesLaterExceptionsWithTheSeries) {
  TimeZoneGuard zone("UTC");
  // Daily at 09:00 Berlin time; the 5th and 8th March are deleted (one list of dates
  // reaching across the split), the 7th moved to 12:00 and the 6th renamed.
  const std::string text = calendarOf({
      "BEGIN:VEVENT", "UID:s", "DTSTART;TZID=Europe/Berlin:20250303T090000",
      "DTEND;TZID=Europe/Berlin:20250303T100000", "RRULE:FREQ=DAILY;COUNT=7", "SUMMARY:Daily",
      "EXDATE;TZID=Europe/Berlin:20250305T090000,20250308T090000", "END:VEVENT",
      "BEGIN:VEVENT", "UID:s", "RECURRENCE-ID;TZID=Europe/Berlin:20250306T090000",
      "DTSTART;TZID=Europe/Berlin:20250306T090000", "DTEND;TZID=Europe/Berlin:20250306T100000",
      "SUMMARY:Renamed before", "END:VEVENT",
      "BEGIN:VEVENT", "UID:s", "RECURRENCE-ID;TZID=Europe/Berlin:20250307T090000",
      "DTSTART;TZID=Europe/Berlin:20250307T120000", "DTEND;TZID=Europe/Berlin:20250307T130000",
      "SUMMARY:Moved", "END:VEVENT",
  });
  ASSERT_EQ(occurrencesOf(text), 5u);
  struct Case {
    const char* name;
    int hoursLater;
  };
  for (const Case& c : {Case{"same time", 0}, Case{"an hour later", 1}}) {
    SCOPED_TRACE(c.name);
    EventItem split = occurrence(text, 2);  // 6 March, the renamed override
    ASSERT_TRUE(split.detached);
    split.title = "From here";
    split.start = *split.start + hours(c.hoursLater);
    split.end = *split.end + hours(c.hoursLater);
    const EventSaveResult result = saveEventText(text, split, Span::FutureEvents);
    ASSERT_TRUE(result.continuation);
    EXPECT_EQ(occurrencesOf(result.text), 2u);  // 3 and 4 March
    const std::vector<EventItem> later = window(*result.continuation, at(2025, 3, 1), at(2025, 4, 1));
    ASSERT_EQ(later.size(), 3u) << *result.continuation;  // 6, 7 and 9 March; the 8th stays deleted
    EXPECT_EQ(later[0].title, "From here") << "the old override of the split occurrence is gone";
    EXPECT_EQ(civilFromInstant(*later[0].start, "Europe/Berlin").hour, 9 + c.hoursLater);
    EXPECT_EQ(later[1].title, "Moved");
    EXPECT_EQ(civilFromInstant(*later[1].start, "Europe/Berlin").hour, 12);
    EXPECT_EQ(later[2].title, "From here");
    EXPECT_EQ(civilFromInstant(*later[2].start, "Europe/Berlin").day, 9);
    EXPECT_EQ(civilFromInstant(*later[2].start, "Europe/Berlin").hour, 9 + c.hoursLater);
    EXPECT_EQ(countOf(*result.continuation, "RECURRENCE-ID"), 1u);
  }
}

TEST(EventCodecSaving, RemovingOccurrencesAndSeries) {
  TimeZoneGuard zone("UTC");
  EventItem second = occurrence(kSeries, 1);
  const std::optional<std::string> without = removeEventText(kSeries, second, Span::ThisEvent);
  ASSERT_TRUE(without);
  EXPECT_EQ(occurrencesOf(*without), 9u);
  EXPECT_NE(without->find("EXDATE;TZID=Europe/Berlin:20250304T090000"), std::string::npos);

  // Removing an overridden occurrence drops its override as well.
  EventItem moved = second;
  moved.title = "Override";
  const std::string overridden = saveEventText(kSeries, moved, Span::ThisEvent).text;
  const std::optional<std::string> cleaned = removeEventText(overridden, occurrence(overridden, 1), Span::ThisEvent);
  ASSERT_TRUE(cleaned);
  EXPECT_EQ(countOf(*cleaned, "RECURRENCE-ID"), 0u);
  EXPECT_EQ(occurrencesOf(*cleaned), 9u);

  const std::optional<std::string> truncated = removeEventText(kSeries, occurrence(kSeries, 6), Span::FutureEvents);
  ASSERT_TRUE(truncated);
  EXPECT_EQ(occurrencesOf(*truncated), 6u);
  EXPECT_FALSE(removeEventText(kSeries, occurrence(kSeries, 0), Span::FutureEvents));
  const std::string single = calendarOf({"BEGIN:VEVENT", "UID:s", "DTSTART:20250301T090000Z", "END:VEVENT"});
  EXPECT_FALSE(removeEventText(single, primary(single), Span::ThisEvent));
}

TEST(EventCodecSaving, UnknownPropertiesStayByteIdenticalAndSequenceGoesUp) {
  TimeZoneGuard zone("UTC");
  EventItem item = primary(kSeries);
  item.title = "Changed";
  item.location = "Somewhere, else";
  item.alarms.erase(item.alarms.begin());  // the first alarm goes; the second keeps its origin
  const std::string saved = saveEventText(kSeries, item, Span::FutureEvents).text;
  for (const char* line : kUnknownLines) {
    SCOPED_TRACE(line);
    EXPECT_NE(saved.find("\r\n" + std::string(line) + "\r\n"), std::string::npos);
  }
  EXPECT_NE(saved.find("BEGIN:VALARM\r\nACTION:AUDIO\r\nTRIGGER:-PT5M\r\nX-KEEP:yes\r\nEND:VALARM\r\n"),
            std::string::npos);
  EXPECT_EQ(saved.find("DESCRIPTION:First"), std::string::npos);
  EXPECT_EQ(lineOf(saved, "SEQUENCE:"), "SEQUENCE:4");
  EXPECT_EQ(lineOf(saved, "SUMMARY:"), "SUMMARY:Changed");
  EXPECT_EQ(lineOf(saved, "LOCATION:"), "LOCATION:Somewhere\\, else");
  EXPECT_NE(lineOf(saved, "DTSTAMP:"), "DTSTAMP:20250101T000000Z");
  EXPECT_FALSE(lineOf(saved, "LAST-MODIFIED:").empty());
  const EventItem reread = primary(saved);
  EXPECT_EQ(reread.location, "Somewhere, else");
  ASSERT_EQ(reread.alarms.size(), 1u);
  EXPECT_EQ(reread.alarms[0].relativeOffset, -300);
}

TEST(EventCodecSaving, AllDayEventsWriteTheExclusiveEndDay) {
  TimeZoneGuard zone("Pacific/Auckland");
  EventItem event;
  event.title = "Holiday";
  event.allDay = true;
  event.start = at(2025, 3, 1, 0, 0, "Pacific/Auckland");
  event.end = at(2025, 3, 3, 23, 59, "Pacific/Auckland") + seconds(59);
  const std::string text = newEventText(event);
  EXPECT_EQ(lineOf(text, "DTSTART"), "DTSTART;VALUE=DATE:20250301");
  EXPECT_EQ(lineOf(text, "DTEND"), "DTEND;VALUE=DATE:20250304");
  const EventItem reread = primary(text);
  EXPECT_TRUE(reread.allDay);
  EXPECT_EQ(reread.start, event.start);
  EXPECT_EQ(reread.end, event.end);
}

TEST(EventCodecSaving, NewEventsAreCompleteAndUseTheCurrentZone) {
  TimeZoneGuard zone("Europe/Berlin");
  EventItem event;
  event.title = "Kickoff";
  event.start = at(2025, 7, 1, 8);
  event.end = at(2025, 7, 1, 9);
  Alarm alarm;
  alarm.relativeOffset = -600;
  event.alarms.push_back(alarm);
  RecurrenceRule rule;
  rule.frequency = Frequency::Weekly;
  rule.endDate = at(2025, 8, 1);
  event.rules.push_back(rule);
  const std::string text = newEventText(event);
  for (const char* needed : {"\r\nVERSION:2.0\r\n", "\r\nPRODID:", "\r\nUID:", "\r\nDTSTAMP:", "\r\nBEGIN:VTIMEZONE\r\n",
                             "\r\nTZID:Europe/Berlin\r\n", "DTSTART;TZID=Europe/Berlin:20250701T100000",
                             "RRULE:FREQ=WEEKLY;UNTIL=20250801T000000Z", "DESCRIPTION:Kickoff", "TRIGGER:-PT10M"}) {
    EXPECT_NE(text.find(needed), std::string::npos) << needed;
  }
  const EventItem reread = primary(text);
  EXPECT_EQ(reread.timeZone, "Europe/Berlin");
  EXPECT_EQ(reread.start, event.start);
  EXPECT_TRUE(reread.repeats);
  EXPECT_EQ(window(text, at(2025, 6, 1), at(2025, 9, 1)).size(), 5u);
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find("\r\n", at);
    ASSERT_NE(end, std::string::npos);
    EXPECT_LE(end - at, 75u);
    at = end + 2;
  }
}

TEST(EventCodecSaving, OneOffEventsIgnoreTheSpanAndKeepFloatingTimes) {
  TimeZoneGuard zone("Asia/Tokyo");
  const std::string text = calendarOf({"BEGIN:VEVENT", "UID:f", "DTSTART:20250301T090000",
                                       "DTEND:20250301T100000", "END:VEVENT"});
  for (Span span : {Span::ThisEvent, Span::FutureEvents}) {
    EventItem item = primary(text);
    item.start = *item.start + hours(1);
    item.end = *item.end + hours(1);
    const EventSaveResult result = saveEventText(text, item, span);
    EXPECT_FALSE(result.continuation);
    EXPECT_EQ(lineOf(result.text, "DTSTART"), "DTSTART:20250301T100000");
    EXPECT_EQ(lineOf(result.text, "DTEND"), "DTEND:20250301T110000");
  }
}

// ---------------------------------------------------------------------------------------
// Files as other programs write them.

// Lists "start-end" in UTC for every occurrence in the window.
std::vector<std::string> spans(const std::string& text, Instant start, Instant end) {
  std::vector<std::string> found;
  for (const EventItem& item : window(text, start, end)) found.push_back(utcText(*item.start) + "-" + utcText(*item.end));
  return found;
}

TEST(EventCodecRealFiles, PeriodsDateExceptionsAndEarlyExtraDates) {
  const struct {
    const char* name;
    std::string text;
    Instant from;
    Instant to;
    std::vector<std::string> spans;
  } cases[] = {
      {"RFC 5545 periods: start/end and start/duration",
       calendarOf({"BEGIN:VEVENT", "UID:p", "DTSTART:19960402T010000Z", "DTEND:19960402T020000Z",
                   "RDATE;VALUE=PERIOD:19960403T020000Z/19960403T040000Z,19960404T010000Z/PT3H", "END:VEVENT"}),
       at(1996, 4, 1), at(1996, 4, 6),
       {"19960402T010000Z-19960402T020000Z", "19960403T020000Z-19960403T040000Z", "19960404T010000Z-19960404T040000Z"}},
      {"a long period found by a window that opens after it starts",
       calendarOf({"BEGIN:VEVENT", "UID:p", "DTSTART:19960402T010000Z", "DTEND:19960402T020000Z",
                   "RDATE;VALUE=PERIOD:19960410T000000Z/P3D", "END:VEVENT"}),
       at(1996, 4, 12), at(1996, 4, 13), {"19960410T000000Z-19960413T000000Z"}},
      {"a date exception takes the occurrence of that day in the series' zone",
       calendarOf({"BEGIN:VEVENT", "UID:g", "DTSTART;TZID=Asia/Tokyo:20250303T080000",
                   "DTEND;TZID=Asia/Tokyo:20250303T090000", "RRULE:FREQ=DAILY;COUNT=4",
                   "EXDATE;VALUE=DATE:20250304,20250306", "END:VEVENT"}),
       at(2025, 3, 1), at(2025, 3, 10), {"20250302T230000Z-20250303T000000Z", "20250304T230000Z-20250305T000000Z"}},
      {"extra dates before DTSTART in a window that holds only them",
       calendarOf({"BEGIN:VEVENT", "UID:e", "DTSTART:20250310T090000Z", "DTEND:20250310T100000Z",
                   "RDATE:20250301T090000Z", "END:VEVENT"}),
       at(2025, 2, 28), at(2025, 3, 2), {"20250301T090000Z-20250301T100000Z"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* zone : {"America/Los_Angeles", "Asia/Tokyo"}) {
      TimeZoneGuard guard(zone);
      EXPECT_EQ(spans(c.text, c.from, c.to), c.spans);
    }
  }
}

TEST(EventCodecRealFiles, TheLaterOfTwoVersionsCountsAndASaveDropsTheOlder) {
  TimeZoneGuard zone("UTC");
  const auto version = [](const char* sequence, const char* stamp, const char* title) {
    return std::vector<std::string>{"BEGIN:VEVENT", "UID:v", std::string("DTSTAMP:") + stamp,
                                    std::string("SEQUENCE:") + sequence, "DTSTART:20250303T090000Z",
                                    "DTEND:20250303T100000Z", "RRULE:FREQ=DAILY;COUNT=3",
                                    std::string("SUMMARY:") + title, "END:VEVENT"};
  };
  const struct {
    const char* name;
    std::vector<std::string> first;
    std::vector<std::string> second;
    const char* title;
  } cases[] = {
      {"higher sequence first", version("3", "20250101T000000Z", "New"), version("1", "20250201T000000Z", "Old"), "New"},
      {"higher sequence second", version("1", "20250201T000000Z", "Old"), version("2", "20250101T000000Z", "New"), "New"},
      {"same sequence, later stamp", version("1", "20250201T000000Z", "New"), version("1", "20250101T000000Z", "Old"),
       "New"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\n";
    for (const auto* lines : {&c.first, &c.second})
      for (const std::string& line : *lines) text += line + "\r\n";
    text += "END:VCALENDAR\r\n";
    EventItem second = occurrence(text, 1);
    EXPECT_EQ(second.title, c.title);
    second.location = "Room 2";
    const std::string saved = saveEventText(text, second, Span::ThisEvent).text;
    EXPECT_EQ(countOf(saved, "SUMMARY:Old"), 0u);
    EXPECT_EQ(countOf(saved, "SUMMARY:New"), 2u);  // the master and the new override
    EXPECT_EQ(occurrencesOf(saved), 3u);
  }
}

TEST(EventCodecRealFiles, AllDayOverridesAreNamedByTheirOwnDay) {
  const std::string text = calendarOf({"BEGIN:VEVENT", "UID:h", "DTSTART;VALUE=DATE:20250101",
                                       "DTEND;VALUE=DATE:20250102", "RRULE:FREQ=YEARLY;COUNT=3", "SUMMARY:Holiday",
                                       "END:VEVENT", "BEGIN:VEVENT", "UID:h",
                                       "RECURRENCE-ID;TZID=Europe/Berlin:20260101T000000",
                                       "DTSTART;VALUE=DATE:20260102", "DTEND;VALUE=DATE:20260103",
                                       "SUMMARY:Holiday (observed)", "END:VEVENT"});
  for (const char* zone : {"America/Los_Angeles", "Asia/Tokyo", "Europe/Berlin"}) {
    TimeZoneGuard guard(zone);
    SCOPED_TRACE(zone);
    std::vector<std::string> titles;
    for (const EventItem& item : window(text, at(2025, 12, 20, 0, 0, zone), at(2026, 1, 10, 0, 0, zone)))
      titles.push_back(item.title + " " + formatDay(*item.start));
    EXPECT_EQ(titles, std::vector<std::string>{"Holiday (observed) 2026-01-02"});
  }
}

TEST(EventCodecRealFiles, WhatLibicalRefusesOrCutsShortIsStillRead) {
  TimeZoneGuard zone("UTC");
  // A negative COUNT beside UNTIL: the rule ends by UNTIL.
  EXPECT_EQ(occurrencesOf(calendarOf({"BEGIN:VEVENT", "UID:c", "DTSTART:20250303T090000Z",
                                      "RRULE:FREQ=WEEKLY;COUNT=-1;UNTIL=20250324T090000Z", "END:VEVENT"})),
            4u);
  EXPECT_EQ(occurrencesOf(calendarOf({"BEGIN:VEVENT", "UID:c", "DTSTART:20250303T090000Z",
                                      "RRULE:FREQ=WEEKLY;UNTIL=20250324T090000Z;COUNT=-1", "END:VEVENT"})),
            4u);
  // A NUL byte and a blank line inside a folded property.
  const std::string damaged = std::string("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:n\r\n") +
                              "DTSTART:20250303T090000Z\r\nSUMMARY:Pay" + std::string(1, '\0') +
                              "ment\r\nDESCRIPTION:first\r\n\r\n  second\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
  const EventItem item = primary(damaged);
  EXPECT_EQ(item.title, "Payment");
  EXPECT_EQ(item.notes, "first second");
  // Titles keep their blanks as notes do.
  EXPECT_EQ(primary(calendarOf({"BEGIN:VEVENT", "UID:t", "DTSTART:20250303T090000Z", "SUMMARY:  two  ",
                                "END:VEVENT"}))
                .title,
            "  two  ");
}

TEST(EventCodecRealFiles, SavesKeepZonesTheDatabaseDoesNotKnow) {
  TimeZoneGuard zone("Europe/Berlin");
  const std::string ownZone = "BEGIN:VTIMEZONE\r\nTZID:Kuala Lumpur\\, Singapore\r\nBEGIN:STANDARD\r\n"
                              "DTSTART:16010101T000000\r\nTZOFFSETFROM:+0800\r\nTZOFFSETTO:+0800\r\nEND:STANDARD\r\n"
                              "END:VTIMEZONE\r\n";
  const std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\n" + ownZone +
                           "BEGIN:VEVENT\r\nUID:k\r\nDTSTART;TZID=\"Kuala Lumpur, Singapore\":20081201T093000\r\n"
                           "DTEND;TZID=\"Kuala Lumpur, Singapore\":20081201T103000\r\nRRULE:FREQ=DAILY;COUNT=4\r\n"
                           "EXDATE;VALUE=DATE:20081204\r\nSUMMARY:Call\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
  const std::vector<EventItem> before = window(text, at(2008, 11, 1), at(2009, 1, 1));
  ASSERT_EQ(before.size(), 3u);
  EventItem changed = before[1];
  changed.title = "Call (moved)";
  const std::string saved = saveEventText(text, changed, Span::ThisEvent).text;
  EXPECT_EQ(countOf(saved, ownZone), 1u);
  EXPECT_EQ(spans(saved, at(2008, 11, 1), at(2009, 1, 1)), spans(text, at(2008, 11, 1), at(2009, 1, 1)));

  // A future change: both files carry the zone; UNTIL is in UTC; the day taken out moves along.
  const EventSaveResult split = saveEventText(text, before[1], Span::FutureEvents);
  ASSERT_TRUE(split.continuation);
  EXPECT_EQ(countOf(split.text, ownZone), 1u);
  EXPECT_EQ(countOf(*split.continuation, ownZone), 1u);
  EXPECT_EQ(lineOf(split.text, "RRULE"), "RRULE:FREQ=DAILY;UNTIL=20081202T012959Z");
  EXPECT_EQ(lineOf(*split.continuation, "EXDATE"), "EXDATE;VALUE=DATE:20081204");

  // A TZID that nothing defines stays on the times it was on, and UNTIL is then in UTC too.
  const std::string unknown = calendarOf({"BEGIN:VEVENT", "UID:u", "DTSTART;TZID=Lunar Standard:20250303T090000",
                                          "DTEND;TZID=Lunar Standard:20250303T100000", "RRULE:FREQ=DAILY;COUNT=4",
                                          "END:VEVENT"});
  const EventSaveResult ended = saveEventText(unknown, occurrence(unknown, 2), Span::FutureEvents);
  EXPECT_EQ(lineOf(ended.text, "DTSTART"), "DTSTART;TZID=Lunar Standard:20250303T090000");
  EXPECT_EQ(lineOf(ended.text, "RRULE"), "RRULE:FREQ=DAILY;UNTIL=20250305T075959Z");
}

TEST(EventCodecRealFiles, TheSeriesItselfDespiteAMovedFirstOccurrence) {
  TimeZoneGuard zone("UTC");
  const std::string text = calendarOf({"BEGIN:VEVENT", "UID:s", "DTSTART:20250303T090000Z", "DTEND:20250303T100000Z",
                                       "RRULE:FREQ=DAILY;COUNT=3", "EXDATE:20250304T090000Z", "RDATE:20250310T120000Z",
                                       "SUMMARY:Series", "DESCRIPTION:of the series", "END:VEVENT", "BEGIN:VEVENT",
                                       "UID:s", "RECURRENCE-ID:20250303T090000Z", "DTSTART:20250303T150000Z",
                                       "DTEND:20250303T160000Z", "SUMMARY:Moved", "END:VEVENT"});
  std::shared_ptr<const ParsedEventFile> file = parseEventFile(text);
  ASSERT_TRUE(file);
  EXPECT_EQ(primaryEvent(*file, kContext)->title, "Moved");
  const std::optional<EventItem> series = seriesEvent(*file, kContext);
  ASSERT_TRUE(series);
  EXPECT_EQ(series->title, "Series");
  EXPECT_EQ(series->notes, "of the series");
  EXPECT_EQ(series->start, at(2025, 3, 3, 9));
  EXPECT_FALSE(series->detached);
  ASSERT_TRUE(series->seriesDates);
  EXPECT_EQ(series->seriesDates->excluded, (std::vector<CivilTime>{{2025, 3, 4, 9, 0, 0, 0}}));
  ASSERT_EQ(series->seriesDates->added.size(), 1u);
  EXPECT_EQ(series->seriesDates->added[0].start, (CivilTime{2025, 3, 10, 12, 0, 0, 0}));
}

// Whether /usr/bin/python3 with its icalendar module reads the text, and what it saw.
std::optional<std::string> pythonRead(const std::string& text) {
  char folder[] = "/tmp/wren-eventcodec-XXXXXX";
  if (!mkdtemp(folder)) return std::nullopt;
  const std::string path = std::string(folder) + "/event.ics";
  std::ofstream(path, std::ios::binary) << text;
  const std::string script =
      "import sys, icalendar\n"
      "cal = icalendar.Calendar.from_ical(open(sys.argv[1], 'rb').read())\n"
      "for c in cal.walk('VEVENT'):\n"
      "    print(str(c.get('SUMMARY')), c.decoded('DTSTART').isoformat(), str(c.get('X-FOO')))\n";
  const testing::PythonRun run = testing::runPython(folder, script, {path});
  std::filesystem::remove_all(folder);
  return run.status == 0 ? run.printed : "failed: " + run.printed;
}

TEST(EventCodecSaving, PythonIcalendarReadsWhatIsWritten) {
  if (!testing::hasPythonIcalendar()) GTEST_SKIP() << "python3-icalendar is not installed";
  TimeZoneGuard zone("UTC");
  EventItem third = occurrence(kSeries, 2);
  third.title = "Über, die Brücke";
  const std::string text = saveEventText(kSeries, third, Span::ThisEvent).text;
  const std::optional<std::string> seen = pythonRead(text);
  ASSERT_TRUE(seen);
  EXPECT_EQ(*seen,
            "Daily 2025-03-03T09:00:00+01:00 a,b;c\n"
            "Über, die Brücke 2025-03-05T09:00:00+01:00 a,b;c\n");
}

}  // namespace
}  // namespace wren::platform::vdir

#include "calendar/EventQueries.h"

#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "platform/LocalTime.h"
#include "support/TimeZoneGuard.h"

namespace wren {
namespace {

using platform::EventItem;
using std::chrono::seconds;
using testing::at;
using testing::invalidArgsMessage;
using testing::params;

EventItem oneOff(const std::string& id, const std::string& title, std::optional<Instant> start) {
  EventItem event;
  event.itemId = id;
  event.calendarId = "local/calendar";
  event.title = title;
  event.start = start;
  if (start) event.end = *start + seconds(3600);
  return event;
}

std::vector<std::string> ids(const std::vector<EventItem>& events) {
  std::vector<std::string> list;
  for (const EventItem& event : events) list.push_back(event.itemId);
  return list;
}

TEST(EventWindow, WithoutBoundsRunsFourteenDaysFromTodaysMidnight) {
  platform::TimeZoneGuard zone("Asia/Shanghai");
  EventWindow window = eventWindow(params("{}"));
  platform::CivilTime start = platform::civilFromInstant(window.start);
  platform::CivilTime today = platform::civilFromInstant(now());
  EXPECT_EQ(start, (platform::CivilTime{today.year, today.month, today.day, 0, 0, 0, 0}));
  EXPECT_EQ(window.end - window.start, seconds(1209600));
}

TEST(EventWindow, BoundsFollowTheGivenDates) {
  // 2025-03-09 is the day New York moves its clocks forward: the day after a plain end date
  // begins at local midnight, not 24 hours later.
  platform::TimeZoneGuard zone("America/New_York");
  struct Case {
    const char* params;
    const char* start;
    const char* end;
  };
  const Case cases[] = {
      {R"({"end":"2025-03-09"})", "2025-02-23T23:00:00-05:00", "2025-03-10T00:00:00-04:00"},
      {R"({"end":"2025-03-10"})", "2025-02-24T23:00:00-05:00", "2025-03-11T00:00:00-04:00"},
      {R"({"end":"2025-03-10T08:00"})", "2025-02-24T07:00:00-05:00", "2025-03-10T08:00:00-04:00"},
      {R"({"start":"2025-03-01T09:30"})", "2025-03-01T09:30:00-05:00", "2025-03-15T10:30:00-04:00"},
      {R"({"start":"2025-03-01","end":"2025-03-01"})", "2025-03-01T00:00:00-05:00", "2025-03-02T00:00:00-05:00"},
      // Exactly 3660 days.
      {R"({"start":"2025-01-01T00:00:00Z","end":"2035-01-09T00:00:00Z"})", "2025-01-01T00:00:00Z",
       "2035-01-09T00:00:00Z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params);
    EventWindow window = eventWindow(params(c.params));
    EXPECT_EQ(window.start, at(c.start));
    EXPECT_EQ(window.end, at(c.end));
  }
}

TEST(EventWindow, RefusesEmptyReversedAndOverlongWindows) {
  platform::TimeZoneGuard zone("UTC");
  struct Case {
    const char* params;
    const char* message;
  };
  const char* tooLong = "The time window is limited to about 10 years; narrow start/end.";
  const Case cases[] = {
      {R"({"start":"2025-03-01T10:00","end":"2025-03-01T10:00"})", "end must be after start"},
      {R"({"start":"2025-03-02T10:00","end":"2025-03-01T10:00"})", "end must be after start"},
      // 3661 days, and 3660 days and a second; exactly 3660 days is accepted above.
      {R"({"start":"2025-01-01T00:00:00Z","end":"2035-01-10T00:00:00Z"})", tooLong},
      {R"({"start":"2025-01-01T00:00:00Z","end":"2035-01-09T00:00:01Z"})", tooLong},
      {R"({"end":"tomorrow"})", "end must be an ISO 8601 date/time, got tomorrow"},
      {R"({"start":"2025-13-01"})", "start must be an ISO 8601 date/time, got 2025-13-01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params);
    EXPECT_EQ(invalidArgsMessage([&] { eventWindow(params(c.params)); }), c.message);
  }
}

TEST(EventFilter, QueryMatchesTitleLocationOrNotesIgnoringCaseAndDiacritics) {
  std::vector<EventItem> events = {oneOff("a", "Café", at("2025-03-01T09:00:00Z")),
                                   oneOff("b", "Lunch", at("2025-03-01T10:00:00Z")),
                                   oneOff("c", "Walk", at("2025-03-01T11:00:00Z")),
                                   oneOff("d", "Standup", at("2025-03-01T12:00:00Z"))};
  events[1].notes = "meet at the CAFE downstairs";
  events[2].location = "Cafè Nero";
  events[3].location = "Room 4";
  keepMatching(events, "cafe", Declined::Keep);
  EXPECT_EQ(ids(events), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(EventFilter, DeclinedEventsAreDroppedOnlyWhenTheCurrentUserDeclined) {
  auto attendee = [](platform::ParticipantStatus status, bool me) {
    return platform::Participant{"", "mailto:someone@example.com", status, me};
  };
  std::vector<EventItem> events = {oneOff("declined", "A", at("2025-03-01T09:00:00Z")),
                                   oneOff("accepted", "B", at("2025-03-01T09:00:00Z")),
                                   oneOff("others", "C", at("2025-03-01T09:00:00Z")),
                                   oneOff("alone", "D", at("2025-03-01T09:00:00Z"))};
  using platform::ParticipantStatus;
  events[0].attendees = {attendee(ParticipantStatus::Accepted, false), attendee(ParticipantStatus::Declined, true)};
  events[1].attendees = {attendee(ParticipantStatus::Accepted, true), attendee(ParticipantStatus::Declined, true)};
  events[2].attendees = {attendee(ParticipantStatus::Declined, false)};

  std::vector<EventItem> kept = events;
  keepMatching(kept, std::nullopt, Declined::Keep);
  EXPECT_EQ(ids(kept), ids(events));
  keepMatching(events, std::nullopt, Declined::Drop);
  EXPECT_EQ(ids(events), (std::vector<std::string>{"accepted", "others", "alone"}));
}

TEST(EventOrder, ListingSortsByStartThenTitleThenEventId) {
  Instant nine = at("2025-03-01T09:00:00Z");
  std::vector<EventItem> events = {oneOff("z", "Beta", nine + seconds(60)), oneOff("y", "Beta", nine),
                                   oneOff("x", "Alpha", nine),              oneOff("w", "Beta", nine),
                                   oneOff("v", "", std::nullopt),           oneOff("u", "alpha", nine)};
  sortForListing(events);
  // Plain string order puts capitals first; an event without a start sorts first.
  EXPECT_EQ(ids(events), (std::vector<std::string>{"v", "x", "w", "y", "u", "z"}));
}

// Whatever the page size, the collector holds exactly the first events of the listing:
// events arrive out of order, and two events alike in start, title and id (the same file in
// two calendars) keep their order of arrival even when the second arrives once it is full.
TEST(EventOrder, CollectorHoldsTheFirstEventsOfTheListing) {
  Instant nine = at("2025-03-01T09:00:00Z");
  std::vector<EventItem> arriving = {oneOff("z", "Beta", nine + seconds(60)), oneOff("w", "Beta", nine),
                                     oneOff("y", "Beta", nine),              oneOff("x", "Alpha", nine),
                                     oneOff("v", "", std::nullopt),          oneOff("u", "alpha", nine),
                                     oneOff("w", "Beta", nine)};
  arriving.back().calendarId = "local/other";
  const std::vector<std::string> listing = {"v", "x", "w local/calendar", "w local/other", "y", "u", "z"};
  auto labels = [](const std::vector<EventItem>& events) {
    std::vector<std::string> list;
    for (const EventItem& event : events)
      list.push_back(event.itemId == "w" ? "w " + event.calendarId : event.itemId);
    return list;
  };
  for (std::size_t keep = 0; keep <= arriving.size() + 1; ++keep) {
    SCOPED_TRACE(keep);
    ListingCollector collector(keep);
    for (EventItem event : arriving) {
      std::string id = event.itemId;
      collector.add(std::move(event), std::move(id));
    }
    EXPECT_EQ(collector.total(), arriving.size());
    std::vector<std::string> expected(listing.begin(), listing.begin() + std::min(keep, listing.size()));
    EXPECT_EQ(labels(std::move(collector).sorted()), expected);
  }
  std::vector<EventItem> all = arriving;
  sortForListing(all);
  EXPECT_EQ(labels(all), listing);
}

TEST(EventOrder, ExportOrderKeepsFetchOrderForEqualStarts) {
  Instant nine = at("2025-03-01T09:00:00Z");
  std::vector<EventItem> events = {oneOff("late", "A", nine + seconds(1)), oneOff("second", "Z", nine),
                                   oneOff("first", "A", nine)};
  sortByStart(events);
  EXPECT_EQ(ids(events), (std::vector<std::string>{"second", "first", "late"}));
}

TEST(EventPaging, OffsetAndLimitAreClamped) {
  struct Case {
    const char* params;
    std::size_t total;
    PageBounds expected;
  };
  const Case cases[] = {
      {"{}", 120, {0, 50}},
      {R"({"limit":0})", 120, {0, 1}},
      {R"({"limit":-4})", 120, {0, 1}},
      {R"({"limit":1000})", 120, {0, 500}},
      {R"({"limit":"20"})", 120, {0, 50}},
      {R"({"offset":-3,"limit":10})", 120, {0, 10}},
      {R"({"offset":100})", 120, {100, 50}},
      {R"({"offset":500})", 120, {120, 50}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params);
    PageBounds bounds = pageBounds(params(c.params), c.total);
    EXPECT_EQ(bounds.offset, c.expected.offset);
    EXPECT_EQ(bounds.limit, c.expected.limit);
  }
}

TEST(EventPaging, PagesReportTotalAndTheNextCursor) {
  platform::TimeZoneGuard zone("UTC");
  std::vector<EventItem> events;
  Instant first = at("2025-03-01T00:00:00Z");
  for (int i = 0; i < 120; ++i) events.push_back(oneOff("e" + std::to_string(i), "Event", first + seconds(60 * i)));
  EventWindow window{first, first + seconds(1209600)};

  struct Case {
    PageBounds bounds;
    std::size_t rows;
    bool hasMore;
    std::optional<std::string> cursor;
    const char* firstId;
  };
  const Case cases[] = {
      {{0, 50}, 50, true, "50", "e0"},
      {{50, 50}, 50, true, "100", "e50"},
      {{100, 50}, 20, false, std::nullopt, "e100"},
      {{119, 1}, 1, false, std::nullopt, "e119"},
      {{120, 50}, 0, false, std::nullopt, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bounds.offset);
    Json page = listingPage(events, events.size(), c.bounds, window);
    EXPECT_EQ(page["total"], 120);
    EXPECT_EQ(page["events"].size(), c.rows);
    EXPECT_EQ(page["has_more"], c.hasMore);
    EXPECT_EQ(page.contains("next_cursor"), c.cursor.has_value());
    if (c.cursor) {
      EXPECT_EQ(page["next_cursor"], *c.cursor);
    }
    if (c.firstId) {
      EXPECT_EQ(page["events"][0]["event_id"], c.firstId);
    }
    EXPECT_EQ(page["range"], Json::parse(R"({"start":"2025-03-01T00:00:00Z","end":"2025-03-15T00:00:00Z"})"));
  }
}

}  // namespace
}  // namespace wren

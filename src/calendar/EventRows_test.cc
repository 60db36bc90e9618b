#include "calendar/EventRows.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "support/TimeZoneGuard.h"

namespace wren {
namespace {

using namespace std::chrono;
using platform::Alarm;
using platform::Availability;
using platform::EventItem;
using platform::EventStatus;
using platform::Participant;
using platform::ParticipantStatus;
using testing::utc;

EventItem timedEvent() {
  EventItem event;
  event.itemId = "item-1";
  event.calendarId = "local/home";
  event.calendarTitle = "Home";
  event.title = "Standup";
  event.start = utc(2025, 3, 1, 1, 30);
  event.end = utc(2025, 3, 1, 2, 30);
  return event;
}

std::vector<std::string> keysOf(const Json& row) {
  std::vector<std::string> keys;
  for (const auto& item : row.items()) keys.push_back(item.key());
  return keys;
}

TEST(EventIds, SeriesOccurrencesCarryTheirStart) {
  platform::TimeZoneGuard zone("Asia/Shanghai");
  EventItem oneOff = timedEvent();
  EventItem repeating = timedEvent();
  repeating.repeats = true;
  EventItem withRule = timedEvent();
  withRule.rules.push_back({});
  EventItem detached = timedEvent();
  detached.detached = true;
  EventItem seriesWithoutStart = repeating;
  seriesWithoutStart.start.reset();

  struct Case {
    const char* name;
    EventItem event;
    bool series;
    std::string id;
  };
  const std::vector<Case> cases = {
      {"one-off", oneOff, false, "item-1"},
      {"repeating", repeating, true, "item-1@2025-03-01T09:30:00+08:00"},
      {"rule only", withRule, true, "item-1@2025-03-01T09:30:00+08:00"},
      {"detached", detached, true, "item-1@2025-03-01T09:30:00+08:00"},
      {"series without start", seriesWithoutStart, true, "item-1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(isSeriesOccurrence(c.event), c.series);
    EXPECT_EQ(eventId(c.event), c.id);
    EXPECT_EQ(eventRow(c.event, RowForm::Summary)["recurring"], c.series);
  }
}

TEST(EventIds, OccurrencesOfOneSeriesDifferAfterTheAtSign) {
  platform::TimeZoneGuard zone("UTC");
  EventItem first = timedEvent();
  first.repeats = true;
  EventItem second = first;
  second.start = *first.start + days(7);
  EXPECT_EQ(eventId(first), "item-1@2025-03-01T01:30:00Z");
  EXPECT_EQ(eventId(second), "item-1@2025-03-08T01:30:00Z");
}

TEST(EventRows, MinimalRowHasTheEightKeysInOrder) {
  platform::TimeZoneGuard zone("Asia/Shanghai");
  EventItem event = timedEvent();
  const Json row = eventRow(event, RowForm::Detail);
  EXPECT_EQ(keysOf(row), (std::vector<std::string>{"event_id", "title", "start", "end", "all_day", "calendar",
                                                    "calendar_id", "recurring"}));
  EXPECT_EQ(row["start"], "2025-03-01T09:30:00+08:00");
  EXPECT_EQ(row["end"], "2025-03-01T10:30:00+08:00");
  EXPECT_EQ(row["all_day"], false);
  EXPECT_EQ(row["calendar"], "Home");
  EXPECT_EQ(row["calendar_id"], "local/home");
}

TEST(EventRows, NoCalendarNoTitleNoDates) {
  EventItem event;
  event.itemId = "x";
  const Json row = eventRow(event, RowForm::Summary);
  EXPECT_EQ(row["title"], "");
  EXPECT_EQ(row["calendar"], "");
  EXPECT_EQ(row["calendar_id"], "");
  EXPECT_TRUE(row["start"].is_null());
  EXPECT_TRUE(row["end"].is_null());
}

TEST(EventRows, AllDayDatesAreDays) {
  platform::TimeZoneGuard zone("Asia/Shanghai");
  EventItem event = timedEvent();
  event.allDay = true;
  event.start = utc(2025, 2, 28, 16);          // 1 March, 00:00 local
  event.end = utc(2025, 3, 1, 15, 59, 59);      // 1 March, 23:59:59 local
  const Json row = eventRow(event, RowForm::Summary);
  EXPECT_EQ(row["start"], "2025-03-01");
  EXPECT_EQ(row["end"], "2025-03-01");
  EXPECT_EQ(row["all_day"], true);
}

TEST(EventRows, NotesAreCutByCharacters) {
  const std::string threeHundred(300, 'a');
  // "é" written as e and a combining accent is one character of three bytes.
  std::string accented;
  for (int i = 0; i < 301; ++i) accented += "e\xCC\x81";
  std::string accentedPrefix;
  for (int i = 0; i < 300; ++i) accentedPrefix += "e\xCC\x81";

  struct Case {
    const char* name;
    std::string notes;
    RowForm form;
    std::string shown;
    bool truncated;
  };
  const std::vector<Case> cases = {
      {"300 in summary", threeHundred, RowForm::Summary, threeHundred, false},
      {"301 in summary", threeHundred + "b", RowForm::Summary, threeHundred, true},
      {"301 in detail", threeHundred + "b", RowForm::Detail, threeHundred + "b", false},
      {"combining marks", accented, RowForm::Summary, accentedPrefix, true},
      {"2001 in detail", std::string(2001, 'z'), RowForm::Detail, std::string(2000, 'z'), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EventItem event = timedEvent();
    event.notes = c.notes;
    const Json row = eventRow(event, c.form);
    EXPECT_EQ(row["notes"], c.shown);
    EXPECT_EQ(row.contains("notes_truncated"), c.truncated);
    if (c.truncated) {
      EXPECT_EQ(row["notes_truncated"], true);
    }
  }
}

TEST(EventRows, EmptyOptionalTextsAreLeftOut) {
  EventItem event = timedEvent();
  event.location = "";
  event.notes = "";
  const Json row = eventRow(event, RowForm::Detail);
  EXPECT_FALSE(row.contains("location"));
  EXPECT_FALSE(row.contains("notes"));
  event.location = "   ";
  EXPECT_EQ(eventRow(event, RowForm::Summary)["location"], "   ");
}

TEST(EventRows, AvailabilityAndStatus) {
  struct Case {
    Availability availability;
    EventStatus status;
    std::optional<std::string> availabilityText;
    bool canceled;
  };
  const std::vector<Case> cases = {
      {Availability::Busy, EventStatus::Confirmed, std::nullopt, false},
      {Availability::NotSupported, EventStatus::Tentative, std::nullopt, false},
      {Availability::Free, EventStatus::None, "free", false},
      {Availability::Tentative, EventStatus::Canceled, "tentative", true},
      {Availability::Unavailable, EventStatus::None, "unavailable", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.availability));
    EventItem event = timedEvent();
    event.availability = c.availability;
    event.status = c.status;
    const Json row = eventRow(event, RowForm::Summary);
    EXPECT_EQ(row.contains("availability"), c.availabilityText.has_value());
    if (c.availabilityText) {
      EXPECT_EQ(row["availability"], *c.availabilityText);
    }
    EXPECT_EQ(row.contains("status"), c.canceled);
    if (c.canceled) {
      EXPECT_EQ(row["status"], "canceled");
    }
  }
}

Participant attendee(int index, ParticipantStatus status = ParticipantStatus::Accepted) {
  return Participant{"", "mailto:person" + std::to_string(index) + "@example.org", status, false};
}

TEST(EventRowAttendees, CountInBothFormsListOfTwentyInDetail) {
  EventItem event = timedEvent();
  for (int i = 0; i < 25; ++i) event.attendees.push_back(attendee(i));
  event.attendees[7].isCurrentUser = true;
  event.attendees[7].status = ParticipantStatus::Tentative;
  event.attendees[9].isCurrentUser = true;

  const Json summary = eventRow(event, RowForm::Summary);
  EXPECT_EQ(summary["attendee_count"], 25);
  EXPECT_EQ(summary["my_status"], "tentative");
  EXPECT_FALSE(summary.contains("attendees"));

  const Json detail = eventRow(event, RowForm::Detail);
  EXPECT_EQ(detail["attendee_count"], 25);
  ASSERT_EQ(detail["attendees"].size(), 20u);
  EXPECT_EQ(detail["attendees"][19]["email"], "person19@example.org");
  EXPECT_EQ(detail["attendees"][7]["is_me"], true);
  EXPECT_FALSE(detail["attendees"][6].contains("is_me"));
}

TEST(EventRowAttendees, NoCurrentUserNoAttendees) {
  EventItem event = timedEvent();
  EXPECT_FALSE(eventRow(event, RowForm::Detail).contains("attendee_count"));
  event.attendees.push_back(attendee(1));
  EXPECT_FALSE(eventRow(event, RowForm::Summary).contains("my_status"));
}

TEST(EventRowAttendees, RowsAndStatusTexts) {
  struct Case {
    Participant participant;
    Json row;
  };
  const std::vector<Case> cases = {
      {{"Ann", "mailto:ann@example.org", ParticipantStatus::Pending, false},
       {{"name", "Ann"}, {"status", "pending"}, {"email", "ann@example.org"}}},
      {{"", "MAILTO:Bob@Example.org", ParticipantStatus::Declined, false},
       {{"name", "Bob@Example.org"}, {"status", "declined"}, {"email", "Bob@Example.org"}}},
      {{"", "urn:uuid:1234", ParticipantStatus::Delegated, false},
       {{"name", "urn:uuid:1234"}, {"status", "delegated"}}},
      {{"Me", "mailto:me@example.org", ParticipantStatus::InProcess, true},
       {{"name", "Me"}, {"status", "in_process"}, {"email", "me@example.org"}, {"is_me", true}}},
      {{"C", "", ParticipantStatus::Completed, false}, {{"name", "C"}, {"status", "completed"}}},
      {{"U", "", ParticipantStatus::Unknown, false}, {{"name", "U"}, {"status", "unknown"}}},
      {{"T", "mailto", ParticipantStatus::Tentative, false}, {{"name", "T"}, {"status", "tentative"}}},
      {{"A", "", static_cast<ParticipantStatus>(42), false}, {{"name", "A"}, {"status", "unknown"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.participant.url);
    EventItem event = timedEvent();
    event.attendees = {c.participant};
    EXPECT_EQ(eventRow(event, RowForm::Detail)["attendees"][0], c.row);
  }
}

TEST(EventRowAttendees, OrganizerIsNamed) {
  EventItem event = timedEvent();
  event.organizer = Participant{"", "mailto:Boss@example.org", ParticipantStatus::Unknown, false};
  EXPECT_EQ(eventRow(event, RowForm::Summary)["organizer"], "Boss@example.org");
}

TEST(EventRowAlarms, RowsInOrder) {
  platform::TimeZoneGuard zone("Asia/Shanghai");
  EventItem event = timedEvent();
  Alarm relative;
  relative.relativeOffset = -90;
  Alarm absolute;
  absolute.absoluteDate = utc(2025, 3, 1, 1);
  event.alarms = {relative, absolute};
  const Json alarms = eventRow(event, RowForm::Detail)["alarms"];
  EXPECT_EQ(alarms, Json::parse(R"([{"minutes_before":2},{"at":"2025-03-01T09:00:00+08:00"}])"));
  EXPECT_FALSE(eventRow(event, RowForm::Summary).contains("alarms"));
}

TEST(EventRowDetail, RecurrenceZoneAndIdentity) {
  platform::TimeZoneGuard zone("UTC");
  EventItem event = timedEvent();
  platform::RecurrenceRule weekly;
  weekly.frequency = platform::Frequency::Weekly;
  platform::RecurrenceRule daily;
  event.rules = {weekly, daily};
  event.detached = true;
  event.timeZone = "Asia/Shanghai";
  event.externalId = "uid-1@example.org";
  event.lastModified = utc(2025, 2, 1, 12);
  event.url = "https://example.org/meet";

  const Json detail = eventRow(event, RowForm::Detail);
  EXPECT_EQ(detail["recurrence"], "FREQ=WEEKLY");
  EXPECT_EQ(detail["detached"], true);
  EXPECT_EQ(detail["time_zone"], "Asia/Shanghai");
  EXPECT_EQ(detail["external_id"], "uid-1@example.org");
  EXPECT_EQ(detail["modified"], "2025-02-01T12:00:00Z");
  EXPECT_EQ(detail["url"], "https://example.org/meet");

  const Json summary = eventRow(event, RowForm::Summary);
  for (const char* key : {"recurrence", "detached", "time_zone", "external_id", "modified"}) {
    SCOPED_TRACE(key);
    EXPECT_FALSE(summary.contains(key));
  }
}

TEST(EventRowDetail, AllDayRecurrenceWritesUntilAsDay) {
  platform::TimeZoneGuard zone("Asia/Shanghai");
  EventItem event = timedEvent();
  event.allDay = true;
  platform::RecurrenceRule rule;
  rule.endDate = utc(2025, 6, 30, 15, 59, 59);
  event.rules = {rule};
  EXPECT_EQ(eventRow(event, RowForm::Detail)["recurrence"], "FREQ=DAILY;UNTIL=20250630");
}

}  // namespace
}  // namespace wren

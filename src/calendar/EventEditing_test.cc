#include "calendar/EventEditing.h"

#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "support/TimeZoneGuard.h"

namespace wren {
namespace {

using platform::EventItem;
using platform::Span;
using testing::at;
using testing::invalidArgsMessage;
using testing::params;
using Changed = std::vector<std::string>;

EventItem stored(const char* start, const char* end, bool allDay = false) {
  EventItem event;
  event.itemId = "item";
  event.calendarId = "local/calendar";
  event.title = "Review";
  event.start = at(start);
  event.end = at(end);
  event.allDay = allDay;
  if (!allDay) event.timeZone = "Europe/Berlin";
  return event;
}

TEST(EventSpan, NamedSpanOrNoneForOneOffEvents) {
  EventItem oneOff = stored("2025-03-01T10:00", "2025-03-01T11:00");
  EventItem occurrence = oneOff;
  occurrence.repeats = true;
  struct Case {
    const char* params;
    const EventItem* event;
    Span expected;
  };
  const Case cases[] = {
      {R"({"span":"this"})", &occurrence, Span::ThisEvent},
      {R"({"span":" future "})", &occurrence, Span::FutureEvents},
      {R"({"span":"future"})", &oneOff, Span::FutureEvents},
      {"{}", &oneOff, Span::ThisEvent},
      {R"({"span":""})", &oneOff, Span::ThisEvent},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params);
    EXPECT_EQ(span(params(c.params), *c.event), c.expected);
  }
  EXPECT_EQ(spanText(Span::ThisEvent), "this");
  EXPECT_EQ(spanText(Span::FutureEvents), "future");
}

TEST(EventSpan, RepeatingEventsNeedAValidSpan) {
  EventItem occurrence = stored("2025-03-01T10:00", "2025-03-01T11:00");
  occurrence.repeats = true;
  EventItem detached = stored("2025-03-01T10:00", "2025-03-01T11:00");
  detached.detached = true;
  detached.title = "";
  const char* recurring =
      "\"Review\" is a recurring event: pass span \"this\" (only this occurrence) or \"future\" (this and all later "
      "ones).";
  EXPECT_EQ(invalidArgsMessage([&] { span(params("{}"), occurrence); }), recurring);
  EXPECT_EQ(invalidArgsMessage([&] { span(params(R"({"span":7})"), occurrence); }), recurring);
  EXPECT_EQ(invalidArgsMessage([&] { span(params("{}"), detached); }),
            "\"\" is a recurring event: pass span \"this\" (only this occurrence) or \"future\" (this and all later "
            "ones).");
  EXPECT_EQ(invalidArgsMessage([&] { span(params(R"({"span":"all"})"), occurrence); }),
            "span must be \"this\" or \"future\", got all");
}

TEST(EventAlarms, MinutesBecomeOffsetsBeforeTheStart) {
  struct Case {
    const char* params;
    std::optional<std::vector<double>> offsets;
  };
  const Case cases[] = {
      {"{}", std::nullopt},
      {R"({"alarms_minutes_before":null})", std::nullopt},
      {R"({"alarms_minutes_before":[]})", std::vector<double>{}},
      {R"({"alarms_minutes_before":[15,60]})", std::vector<double>{-900, -3600}},
      {R"({"alarms_minutes_before":[-5,0,1.5]})", std::vector<double>{300, 0, -90}},
      {R"({"alarms_minutes_before":[1,2,3,4,5,6,7,8,9,10]})",
       std::vector<double>{-60, -120, -180, -240, -300, -360, -420, -480, -540, -600}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params);
    std::optional<std::vector<platform::Alarm>> alarms = alarmList(params(c.params));
    ASSERT_EQ(alarms.has_value(), c.offsets.has_value());
    if (!alarms) continue;
    std::vector<double> offsets;
    for (const platform::Alarm& alarm : *alarms) {
      EXPECT_FALSE(alarm.absoluteDate);
      EXPECT_FALSE(alarm.origin);
      offsets.push_back(alarm.relativeOffset);
    }
    EXPECT_EQ(offsets, *c.offsets);
  }
}

TEST(EventAlarms, RefusesWhatIsNotAShortListOfNumbers) {
  struct Case {
    const char* params;
    const char* message;
  };
  const Case cases[] = {
      {R"({"alarms_minutes_before":15})", "alarms_minutes_before must be an array of minutes"},
      {R"({"alarms_minutes_before":"15"})", "alarms_minutes_before must be an array of minutes"},
      {R"({"alarms_minutes_before":{"a":1}})", "alarms_minutes_before must be an array of minutes"},
      {R"({"alarms_minutes_before":[1,2,3,4,5,6,7,8,9,10,11]})", "At most 10 alarms"},
      {R"({"alarms_minutes_before":["15"]})", "alarms_minutes_before must contain numbers"},
      {R"({"alarms_minutes_before":[15,null]})", "alarms_minutes_before must contain numbers"},
      {R"({"alarms_minutes_before":[true]})", "alarms_minutes_before must contain numbers"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params);
    EXPECT_EQ(invalidArgsMessage([&] { alarmList(params(c.params)); }), c.message);
  }
}

TEST(EventFields, CreatingDerivesTheMissingEnd) {
  platform::TimeZoneGuard zone("Europe/Berlin");
  struct Case {
    const char* params;
    const char* start;
    const char* end;
    bool allDay;
    Changed changed;
  };
  const Case cases[] = {
      {R"({"title":"Dentist","start":"2025-03-01T10:00"})", "2025-03-01T10:00", "2025-03-01T11:00", false,
       {"title", "start"}},
      {R"({"title":"Trip","start":"2025-03-01T10:00","all_day":true})", "2025-03-01", "2025-03-01", true,
       {"title", "all_day", "start"}},
      {R"({"title":"Trip","start":"2025-03-01T10:00","end":"2025-03-01T08:00","all_day":true})", "2025-03-01",
       "2025-03-01", true, {"title", "all_day", "start", "end"}},
      {R"({"title":"Trip","start":"2025-03-01","end":"2025-03-03","all_day":true})", "2025-03-01", "2025-03-03", true,
       {"title", "all_day", "start", "end"}},
      {R"({"title":"Late","start":"2025-03-01T23:30","end":"2025-03-02T00:15"})", "2025-03-01T23:30",
       "2025-03-02T00:15", false, {"title", "start", "end"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params);
    EventItem event;
    Changed changed = applyEventFields(event, params(c.params), Editing::Creating);
    EXPECT_EQ(changed, c.changed);
    EXPECT_EQ(event.start, at(c.start));
    EXPECT_EQ(event.end, at(c.end));
    EXPECT_EQ(event.allDay, c.allDay);
    EXPECT_EQ(event.timeZone.has_value(), !c.allDay);
  }
}

TEST(EventFields, UpdatingKeepsWhatTheRequestDoesNotMove) {
  platform::TimeZoneGuard zone("Europe/Berlin");
  struct Case {
    const char* params;
    EventItem before;
    const char* start;
    const char* end;
    bool allDay;
    Changed changed;
  };
  EventItem ninetyMinutes = stored("2025-03-01T10:00", "2025-03-01T11:30");
  EventItem twoDays = stored("2025-03-01", "2025-03-02T23:59:59", true);
  const Case cases[] = {
      {R"({"start":"2025-03-04T15:00"})", ninetyMinutes, "2025-03-04T15:00", "2025-03-04T16:30", false, {"start"}},
      {R"({"end":"2025-03-01T12:00"})", ninetyMinutes, "2025-03-01T10:00", "2025-03-01T12:00", false, {"end"}},
      {R"({"all_day":true})", ninetyMinutes, "2025-03-01", "2025-03-01", true, {"all_day"}},
      // An all-day event made timed keeps its length, counted from the new start.
      {R"({"all_day":false,"start":"2025-03-05T09:00"})", twoDays, "2025-03-05T09:00", "2025-03-07T08:59:59", false,
       {"all_day", "start"}},
      {R"({"start":"2025-03-10"})", twoDays, "2025-03-10", "2025-03-11", true, {"start"}},
      {R"({"title":"Retro"})", ninetyMinutes, "2025-03-01T10:00", "2025-03-01T11:30", false, {"title"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params);
    EventItem event = c.before;
    Changed changed = applyEventFields(event, params(c.params), Editing::Updating);
    EXPECT_EQ(changed, c.changed);
    EXPECT_EQ(event.start, at(c.start));
    EXPECT_EQ(event.end, at(c.end));
    EXPECT_EQ(event.allDay, c.allDay);
  }
}

TEST(EventFields, ZoneFollowsTheKindOfEvent) {
  platform::TimeZoneGuard zone("Asia/Tokyo");
  EventItem floating = stored("2025-03-01T10:00", "2025-03-01T11:30");
  floating.timeZone.reset();
  EventItem allDay = stored("2025-03-01", "2025-03-01T23:59:59", true);
  EventItem berlin = stored("2025-03-01T10:00", "2025-03-01T11:30");
  struct Case {
    const char* params;
    EventItem before;
    Editing editing;
    std::optional<std::string> zone;
  };
  const Case cases[] = {
      {R"({"start":"2025-03-01T10:00"})", EventItem{}, Editing::Creating, "Asia/Tokyo"},
      {R"({"start":"2025-03-01","all_day":true})", EventItem{}, Editing::Creating, std::nullopt},
      {R"({"start":"2025-03-02T10:00"})", floating, Editing::Updating, std::nullopt},
      {R"({"start":"2025-03-02T10:00"})", berlin, Editing::Updating, "Europe/Berlin"},
      {R"({"all_day":false,"start":"2025-03-02T10:00"})", allDay, Editing::Updating, "Asia/Tokyo"},
      {R"({"all_day":true})", berlin, Editing::Updating, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params);
    EventItem event = c.before;
    applyEventFields(event, params(c.params), c.editing);
    EXPECT_EQ(event.timeZone, c.zone);
  }
}

TEST(EventFields, RefusesBadDatesAndTexts) {
  platform::TimeZoneGuard zone("Europe/Berlin");
  EventItem timed = stored("2025-03-01T10:00", "2025-03-01T11:30");
  EventItem allDay = stored("2025-03-01", "2025-03-01T23:59:59", true);
  struct Case {
    const char* params;
    const EventItem* before;
    Editing editing;
    const char* message;
  };
  const Case cases[] = {
      {R"({"start":"2025-03-01T10:00","end":"2025-03-01T10:00"})", nullptr, Editing::Creating,
       "end must be after start"},
      {R"({"end":"2025-03-01T09:00"})", &timed, Editing::Updating, "end must be after start"},
      {R"({"start":"2025-03-02","end":"2025-03-01","all_day":true})", nullptr, Editing::Creating,
       "end must not be before start"},
      {R"({"all_day":false})", &allDay, Editing::Updating,
       "To turn an all-day event into a timed one, also pass start (and end)."},
      {R"({"all_day":false,"end":"2025-03-01T12:00"})", &allDay, Editing::Updating,
       "To turn an all-day event into a timed one, also pass start (and end)."},
      {R"({"start":"next week"})", &timed, Editing::Updating, "start must be an ISO 8601 date/time, got next week"},
      {R"({"url":"example.com/path"})", &timed, Editing::Updating, "url must be an absolute URL, got example.com/path"},
      {R"({"url":"https://example.com/a b"})", &timed, Editing::Updating,
       "url must be an absolute URL, got https://example.com/a b"},
      {R"({"url":"1http://example.com"})", &timed, Editing::Updating,
       "url must be an absolute URL, got 1http://example.com"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params);
    EventItem event = c.before ? *c.before : EventItem{};
    EXPECT_EQ(invalidArgsMessage([&] { applyEventFields(event, params(c.params), c.editing); }), c.message);
  }
}

TEST(EventFields, TextFieldsAreSetOrClearedWhenTheirKeyIsPresent) {
  EventItem before = stored("2025-03-01T10:00", "2025-03-01T11:30");
  before.location = "Room 1";
  before.notes = "agenda";
  before.url = "https://example.com/old";
  struct Case {
    const char* params;
    std::optional<std::string> location;
    std::optional<std::string> notes;
    std::optional<std::string> url;
    Changed changed;
  };
  const Case cases[] = {
      {R"({"location":""})", std::nullopt, "agenda", "https://example.com/old", {"location"}},
      {R"({"location":null,"notes":null,"url":null})", std::nullopt, std::nullopt, std::nullopt,
       {"location", "notes", "url"}},
      {R"({"location":"  Room 2 ","notes":"  keep  spaces ","url":" mailto:a@b.c "})", "Room 2", "  keep  spaces ",
       "mailto:a@b.c", {"location", "notes", "url"}},
      {R"({"notes":42,"url":"   "})", "Room 1", std::nullopt, std::nullopt, {"notes", "url"}},
      {R"({"location":7})", std::nullopt, "agenda", "https://example.com/old", {"location"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params);
    EventItem event = before;
    EXPECT_EQ(applyEventFields(event, params(c.params), Editing::Updating), c.changed);
    EXPECT_EQ(event.location, c.location);
    EXPECT_EQ(event.notes, c.notes);
    EXPECT_EQ(event.url, c.url);
  }
}

TEST(EventFields, BlankTitleChangesNothing) {
  EventItem event = stored("2025-03-01T10:00", "2025-03-01T11:30");
  EXPECT_EQ(applyEventFields(event, params(R"({"title":"  "})"), Editing::Updating), Changed{});
  EXPECT_EQ(event.title, "Review");
}

TEST(EventFields, ChangedListFollowsTheOrderOfApplication) {
  platform::TimeZoneGuard zone("Europe/Berlin");
  EventItem event = stored("2025-03-01T10:00", "2025-03-01T11:30");
  event.repeats = true;
  event.rules.push_back(platform::RecurrenceRule{});
  event.alarms.push_back(platform::Alarm{std::nullopt, -600, false, "", 0});
  // Keys deliberately in another order than the one the fields are applied in.
  Changed changed = applyEventFields(event, params(R"({
      "recurrence":{"frequency":"none"}, "alarms_minutes_before":[30], "url":"https://example.com",
      "notes":"n", "location":"l", "end":"2025-03-02T12:00", "start":"2025-03-02T11:00",
      "all_day":false, "title":"Planning"})"),
                                     Editing::Updating);
  EXPECT_EQ(changed, (Changed{"title", "all_day", "start", "end", "location", "notes", "url", "alarms", "recurrence"}));
  EXPECT_EQ(event.title, "Planning");
  EXPECT_TRUE(event.rules.empty());
  ASSERT_EQ(event.alarms.size(), 1u);
  EXPECT_EQ(event.alarms[0].relativeOffset, -1800);
  EXPECT_FALSE(event.alarms[0].origin);
}

TEST(EventFields, RecurrenceObjectReplacesTheRules) {
  EventItem event = stored("2025-03-01T10:00", "2025-03-01T11:30");
  Changed changed =
      applyEventFields(event, params(R"({"recurrence":{"frequency":"weekly","interval":2}})"), Editing::Updating);
  EXPECT_EQ(changed, Changed{"recurrence"});
  ASSERT_EQ(event.rules.size(), 1u);
  EXPECT_EQ(event.rules[0].frequency, platform::Frequency::Weekly);
  EXPECT_EQ(event.rules[0].interval, 2);
  // A recurrence that is not an object is not a recurrence parameter at all.
  EXPECT_EQ(applyEventFields(event, params(R"({"recurrence":"weekly"})"), Editing::Updating), Changed{});
  EXPECT_EQ(event.rules.size(), 1u);
}

TEST(EventFields, FieldsBeforeAFailureStayWritten) {
  EventItem event = stored("2025-03-01T10:00", "2025-03-01T11:30");
  EXPECT_EQ(invalidArgsMessage([&] {
              applyEventFields(event, params(R"({"title":"New","location":"Hall","url":"nope","alarms_minutes_before":[5]})"),
                               Editing::Updating);
            }),
            "url must be an absolute URL, got nope");
  EXPECT_EQ(event.title, "New");
  EXPECT_EQ(event.location, "Hall");
  EXPECT_TRUE(event.alarms.empty());
}

}  // namespace
}  // namespace wren

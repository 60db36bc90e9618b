#include "platform/vdir/ItemRebase.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

namespace wren::platform::vdir {
namespace {

Instant at(int hour) { return Instant(std::chrono::hours(24 * 20000 + hour)); }

Alarm storedAlarm(double offset, int origin) {
  Alarm alarm;
  alarm.relativeOffset = offset;
  alarm.origin = origin;
  return alarm;
}

TEST(RebasedEvent, TakesWhatTheRequestChangedAndKeepsTheNewerRest) {
  EventItem before;
  before.itemId = "id";
  before.calendarId = "home/personal";
  before.title = "Standup";
  before.location = "Room 1";
  before.start = at(9);
  before.end = at(10);
  before.occurrenceDate = at(9);
  struct Case {
    const char* name;
    std::function<void(EventItem&)> request;  // what the request changed in what it read
    std::function<void(EventItem&)> earlier;  // what the save in between changed
    std::function<void(const EventItem&)> check;
  };
  const std::vector<Case> cases = {
      {"different fields", [](EventItem& e) { e.location = "Room 2"; }, [](EventItem& e) { e.title = "Daily"; },
       [](const EventItem& e) {
         EXPECT_EQ(e.title, "Daily");
         EXPECT_EQ(e.location, "Room 2");
       }},
      {"the same field: the later change wins", [](EventItem& e) { e.title = "Second"; },
       [](EventItem& e) { e.title = "First"; }, [](const EventItem& e) { EXPECT_EQ(e.title, "Second"); }},
      {"times apart", [](EventItem& e) { e.end = at(11); }, [](EventItem& e) { e.start = at(8); },
       [](const EventItem& e) {
         EXPECT_EQ(e.start, at(8));
         EXPECT_EQ(e.end, at(11));
       }},
      {"a field cleared", [](EventItem& e) { e.location.reset(); }, [](EventItem& e) { e.notes = "Agenda"; },
       [](const EventItem& e) {
         EXPECT_FALSE(e.location);
         EXPECT_EQ(e.notes, "Agenda");
       }},
      {"a move to another calendar", [](EventItem& e) { e.calendarId = "home/work"; },
       [](EventItem& e) { e.availability = Availability::Free; },
       [](const EventItem& e) {
         EXPECT_EQ(e.calendarId, "home/work");
         EXPECT_EQ(e.availability, Availability::Free);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EventItem edited = before;
    c.request(edited);
    EventItem newer = before;
    c.earlier(newer);
    const EventItem merged = rebasedEvent(edited, before, newer);
    c.check(merged);
    EXPECT_EQ(merged.itemId, "id");
    EXPECT_EQ(merged.occurrenceDate, at(9));
  }
}

TEST(RebasedReminder, TakesWhatTheRequestChangedAndKeepsTheNewerRest) {
  ReminderItem before;
  before.title = "Bins";
  before.priority = 5;
  ReminderItem edited = before;
  edited.completed = true;
  edited.completionDate = at(7);
  ReminderItem newer = before;
  newer.title = "Bins and recycling";
  newer.dueDateComponents = DateComponents{2025, 3, 1, 8, 0, 0, "UTC"};
  const ReminderItem merged = rebasedReminder(edited, before, newer);
  EXPECT_EQ(merged.title, "Bins and recycling");
  EXPECT_EQ(merged.dueDateComponents, newer.dueDateComponents);
  EXPECT_TRUE(merged.completed);
  EXPECT_EQ(merged.completionDate, at(7));
  EXPECT_EQ(merged.priority, 5);
}

TEST(RebasedAlarms, KeepTheStoredFormOnlyWhereTheNewerVersionHoldsIt) {
  // Read: alarms 15 and 60 minutes before, the stored blocks 0 and 1. Saved since: the
  // 15-minute alarm removed, so the 60-minute one is block 0 now.
  const std::vector<Alarm> before = {storedAlarm(-900, 0), storedAlarm(-3600, 1)};
  const std::vector<Alarm> newer = {storedAlarm(-3600, 0)};
  Alarm added;
  added.relativeOffset = -300;
  // The request keeps both alarms it read and adds a third.
  const std::vector<Alarm> edited = {before[0], before[1], added};
  const std::vector<Alarm> merged = rebasedAlarms(edited, before, newer);
  ASSERT_EQ(merged.size(), 3u);
  EXPECT_EQ(merged[0].relativeOffset, -900);
  EXPECT_EQ(merged[0].origin, std::nullopt);  // gone from the newer version: written anew
  EXPECT_EQ(merged[1].relativeOffset, -3600);
  EXPECT_EQ(merged[1].origin, 0);
  EXPECT_EQ(merged[2].relativeOffset, -300);
  EXPECT_EQ(merged[2].origin, std::nullopt);

  // A request that left the alarms alone keeps the newer version's.
  EventItem read;
  read.alarms = before;
  EventItem saved = read;
  saved.alarms = newer;
  EventItem request = read;
  request.title = "Renamed";
  const EventItem event = rebasedEvent(request, read, saved);
  ASSERT_EQ(event.alarms.size(), 1u);
  EXPECT_EQ(event.alarms[0].origin, 0);
}

}  // namespace
}  // namespace wren::platform::vdir

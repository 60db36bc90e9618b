#include "reminders/ReminderEditing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "support/TimeZoneGuard.h"
#include "reminders/ReminderRows.h"

namespace wren {
namespace {

using platform::Alarm;
using platform::DateComponents;
using platform::ReminderItem;
using platform::TimeZoneGuard;
using testing::at;
using testing::invalidArgsMessage;
using Names = std::vector<std::string>;

Alarm absoluteAlarm(const std::string& text) {
  Alarm alarm;
  alarm.absoluteDate = at(text);
  return alarm;
}

Alarm relativeAlarm(double seconds) {
  Alarm alarm;
  alarm.relativeOffset = seconds;
  return alarm;
}

Alarm locationAlarm(const std::string& title) {
  Alarm alarm;
  alarm.hasLocation = true;
  alarm.locationTitle = title;
  return alarm;
}

// A stored reminder with a timed due date, its alarm at that moment, and one relative and
// one location alarm that no due change may touch.
ReminderItem storedReminder() {
  ReminderItem item;
  item.itemId = "r1";
  item.title = "Old title";
  item.notes = "old notes";
  item.url = "https://example.org/old";
  item.priority = 5;
  DateComponents due;
  due.year = 2024;
  due.month = 5;
  due.day = 1;
  due.hour = 9;
  due.timeZone = "UTC";
  item.dueDateComponents = due;
  item.alarms = {absoluteAlarm("2024-05-01T09:00:00Z"), relativeAlarm(-600), locationAlarm("Home")};
  return item;
}

size_t absoluteCount(const ReminderItem& item) {
  return static_cast<size_t>(std::count_if(item.alarms.begin(), item.alarms.end(),
                                           [](const Alarm& alarm) { return alarm.absoluteDate.has_value(); }));
}

TEST(ApplyReminderFields, ReportsChangedFieldsInFixedOrder) {
  TimeZoneGuard zone("UTC");
  ReminderItem item = storedReminder();
  Params params(Json{{"recurrence", {{"frequency", "daily"}}},
                     {"due", "2024-06-01"},
                     {"priority", "high"},
                     {"url", "https://example.org/new"},
                     {"notes", "new"},
                     {"title", "  New title  "}});
  EXPECT_EQ(applyReminderFields(item, params), (Names{"title", "notes", "url", "priority", "due", "recurrence"}));
  EXPECT_EQ(item.title, "New title");
  EXPECT_EQ(item.notes, "new");
  EXPECT_EQ(item.url, "https://example.org/new");
  EXPECT_EQ(item.priority, 1);
  ASSERT_EQ(item.rules.size(), 1u);
  EXPECT_EQ(item.rules.front().frequency, platform::Frequency::Daily);
}

TEST(ApplyReminderFields, ChangesNothingWithoutFields) {
  ReminderItem item = storedReminder();
  for (const Json& params : {Json::object(), Json{{"title", "   "}}, Json{{"priority", 3}},
                             Json{{"alarm", true}}, Json{{"recurrence", "daily"}}}) {
    SCOPED_TRACE(params.dump());
    EXPECT_EQ(applyReminderFields(item, Params(params)), Names{});
    EXPECT_EQ(item.title, "Old title");
    EXPECT_EQ(item.priority, 5);
    EXPECT_EQ(item.alarms.size(), 3u);
  }
}

TEST(ApplyReminderFields, KeepsNotesAsSentAndClearsThemForAnythingElse) {
  struct Case {
    Json notes;
    std::optional<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"  ", "  "}, {" padded\n", " padded\n"}, {"", std::nullopt}, {nullptr, std::nullopt}, {42, std::nullopt}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.notes.dump());
    ReminderItem item = storedReminder();
    EXPECT_EQ(applyReminderFields(item, Params(Json{{"notes", c.notes}})), Names{"notes"});
    EXPECT_EQ(item.notes, c.expected);
  }
}

TEST(ApplyReminderFields, AcceptsOnlyAbsoluteUrlsAndClearsOnNull) {
  struct Case {
    Json url;
    std::optional<std::string> expected;
  };
  const std::vector<Case> accepted = {{"https://example.org/x?y=1", "https://example.org/x?y=1"},
                                      {" mailto:a@example.org ", "mailto:a@example.org"},
                                      {"x-task+v2:abc", "x-task+v2:abc"},
                                      {nullptr, std::nullopt},
                                      {"  ", std::nullopt},
                                      {7, std::nullopt}};
  for (const Case& c : accepted) {
    SCOPED_TRACE(c.url.dump());
    ReminderItem item = storedReminder();
    EXPECT_EQ(applyReminderFields(item, Params(Json{{"url", c.url}})), Names{"url"});
    EXPECT_EQ(item.url, c.expected);
  }
  for (const std::string bad : {"example", "example.org/path", ":nothing", "1http://x", "http://a b"}) {
    SCOPED_TRACE(bad);
    ReminderItem item = storedReminder();
    EXPECT_EQ(invalidArgsMessage([&] { applyReminderFields(item, Params(Json{{"url", bad}})); }),
              "url must be an absolute URL, got " + bad);
  }
}

TEST(ApplyReminderFields, StopsAtTheFirstBadValue) {
  ReminderItem item = storedReminder();
  Params params(Json{{"url", "bare"}, {"priority", "urgent"}, {"due", "soon"}});
  EXPECT_EQ(invalidArgsMessage([&] { applyReminderFields(item, params); }), "url must be an absolute URL, got bare");
  EXPECT_EQ(invalidArgsMessage([&] { applyReminderFields(item, Params(Json{{"priority", "Urgent"}, {"due", "soon"}})); }),
            "priority must be high / medium / low / none, got Urgent");
  EXPECT_EQ(invalidArgsMessage([&] { applyReminderFields(item, Params(Json{{"due", "soon"}})); }),
            "due must be an ISO 8601 date or date-time, got soon");
}

TEST(ApplyReminderFields, SetsADueDayWithoutTimeZoneOrAlarm) {
  TimeZoneGuard zone("Asia/Shanghai");
  ReminderItem item = storedReminder();
  EXPECT_EQ(applyReminderFields(item, Params(Json{{"due", "2024-06-01"}})), Names{"due"});
  DateComponents expected;
  expected.year = 2024;
  expected.month = 6;
  expected.day = 1;
  EXPECT_EQ(item.dueDateComponents, expected);
  EXPECT_FALSE(hasDueTime(item));
  EXPECT_EQ(absoluteCount(item), 0u);
  EXPECT_EQ(item.alarms.size(), 2u);  // the relative and the location alarm stay
  Json row = reminderRow(item, ReminderForm::Detail);
  EXPECT_EQ(row.at("due"), "2024-06-01");
  EXPECT_EQ(row.at("due_all_day"), true);
}

TEST(ApplyReminderFields, SetsADueTimeInTheCurrentZoneAndReplacesTheAbsoluteAlarm) {
  TimeZoneGuard zone("Asia/Shanghai");
  ReminderItem item = storedReminder();
  EXPECT_EQ(applyReminderFields(item, Params(Json{{"due", "2024-06-01T01:30:00Z"}})), Names{"due"});
  ASSERT_TRUE(item.dueDateComponents);
  const DateComponents& due = *item.dueDateComponents;
  EXPECT_EQ(std::vector<int>({due.year, due.month, due.day, due.hour.value_or(-1), due.minute, due.second}),
            std::vector<int>({2024, 6, 1, 9, 30, 0}));
  EXPECT_EQ(due.timeZone, "Asia/Shanghai");
  ASSERT_EQ(absoluteCount(item), 1u);
  EXPECT_EQ(item.alarms.size(), 3u);
  auto absolute = std::find_if(item.alarms.begin(), item.alarms.end(),
                               [](const Alarm& alarm) { return alarm.absoluteDate.has_value(); });
  EXPECT_EQ(*absolute->absoluteDate, at("2024-06-01T01:30:00Z"));
  EXPECT_EQ(reminderRow(item, ReminderForm::Detail).at("due"), "2024-06-01T09:30:00+08:00");
}

TEST(ApplyReminderFields, LeavesOutTheDueAlarmWhenAlarmIsFalse) {
  TimeZoneGuard zone("UTC");
  ReminderItem item = storedReminder();
  Params params(Json{{"due", "2024-06-01T10:00:00Z"}, {"alarm", false}});
  EXPECT_EQ(applyReminderFields(item, params), Names{"due"});
  EXPECT_TRUE(hasDueTime(item));
  EXPECT_EQ(absoluteCount(item), 0u);
  EXPECT_EQ(item.alarms.size(), 2u);
}

TEST(ApplyReminderFields, ClearsTheDueForNullBlankOrNonText) {
  for (const Json& due : {Json(nullptr), Json(""), Json("  "), Json(20240601)}) {
    SCOPED_TRACE(due.dump());
    ReminderItem item = storedReminder();
    EXPECT_EQ(applyReminderFields(item, Params(Json{{"due", due}})), Names{"due"});
    EXPECT_FALSE(item.dueDateComponents.has_value());
    EXPECT_EQ(absoluteCount(item), 0u);
    EXPECT_EQ(item.alarms.size(), 2u);
  }
}

TEST(ApplyReminderFields, AlarmFalseAloneRemovesOnlyAbsoluteAlarms) {
  ReminderItem item = storedReminder();
  EXPECT_EQ(applyReminderFields(item, Params(Json{{"alarm", false}})), Names{"alarm"});
  EXPECT_EQ(absoluteCount(item), 0u);
  ASSERT_EQ(item.alarms.size(), 2u);
  EXPECT_EQ(item.alarms[0].relativeOffset, -600);
  EXPECT_EQ(item.alarms[1].locationTitle, "Home");
  EXPECT_TRUE(item.dueDateComponents.has_value());
}

TEST(ApplyReminderFields, RequiresADueDateForARepeatingReminder) {
  ReminderItem undated = storedReminder();
  undated.dueDateComponents.reset();
  Json weekly = {{"frequency", "weekly"}};
  EXPECT_EQ(invalidArgsMessage([&] { applyReminderFields(undated, Params(Json{{"recurrence", weekly}})); }),
            "A repeating reminder needs a due date: pass due as well.");
  EXPECT_TRUE(undated.rules.empty());

  // Clearing the due in the same request counts: the check sees the reminder after the due step.
  ReminderItem cleared = storedReminder();
  EXPECT_EQ(invalidArgsMessage([&] {
              applyReminderFields(cleared, Params(Json{{"due", nullptr}, {"recurrence", weekly}}));
            }),
            "A repeating reminder needs a due date: pass due as well.");

  ReminderItem dated = storedReminder();
  EXPECT_EQ(applyReminderFields(dated, Params(Json{{"recurrence", weekly}})), Names{"recurrence"});
  ASSERT_EQ(dated.rules.size(), 1u);
  EXPECT_EQ(dated.rules.front().frequency, platform::Frequency::Weekly);
}

TEST(ApplyReminderFields, FrequencyNoneRemovesRecurrenceEvenWithoutDue) {
  ReminderItem item = storedReminder();
  item.dueDateComponents.reset();
  item.rules.resize(2);
  EXPECT_EQ(applyReminderFields(item, Params(Json{{"recurrence", {{"frequency", "none"}}}})), Names{"recurrence"});
  EXPECT_TRUE(item.rules.empty());
}

TEST(RemoveAbsoluteAlarms, KeepsRelativeAndLocationAlarmsInOrder) {
  ReminderItem item;
  item.alarms = {relativeAlarm(-60), absoluteAlarm("2024-01-01T00:00:00Z"), locationAlarm("Gym"),
                 absoluteAlarm("2024-01-02T00:00:00Z")};
  removeAbsoluteAlarms(item);
  ASSERT_EQ(item.alarms.size(), 2u);
  EXPECT_EQ(item.alarms[0].relativeOffset, -60);
  EXPECT_TRUE(item.alarms[1].hasLocation);
}

}  // namespace
}  // namespace wren

#include "reminders/ReminderRows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/vdir/VdirStore.h"
#include "support/ScopedDataHome.h"
#include "support/TestSupport.h"
#include "support/TimeZoneGuard.h"

namespace wren {
namespace {

using platform::Alarm;
using platform::DateComponents;
using platform::ReminderFilter;
using platform::ReminderItem;
using platform::TimeZoneGuard;
using testing::at;
using testing::invalidArgsMessage;

// The query of list params that name no list, read with a store over an empty data root.
ReminderQuery queryNamingNoList(const Json& params) {
  platform::ScopedDataHome home;
  platform::VdirEventStore store;
  return reminderQuery(store, Params(params));
}

DateComponents day(int year, int month, int dayOfMonth) {
  DateComponents components;
  components.year = year;
  components.month = month;
  components.day = dayOfMonth;
  return components;
}

DateComponents dayTime(int year, int month, int dayOfMonth, int hour, int minute,
                    std::optional<std::string> zone) {
  DateComponents components = day(year, month, dayOfMonth);
  components.hour = hour;
  components.minute = minute;
  components.timeZone = std::move(zone);
  return components;
}

ReminderItem reminder(const std::string& id, const std::string& title) {
  ReminderItem item;
  item.itemId = id;
  item.title = title;
  item.calendarId = "local/tasks";
  item.calendarTitle = "Tasks";
  return item;
}

std::string repeat(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

TEST(ReminderRow, AlwaysCarriesIdentityCompletionAndList) {
  ReminderItem plain = reminder("r1", "");
  plain.calendarId.clear();
  plain.calendarTitle.clear();
  Json row = reminderRow(plain, ReminderForm::List);
  EXPECT_EQ(row.dump(), R"({"reminder_id":"r1","title":"","completed":false,"list":"","list_id":""})");
}

TEST(ReminderRow, WritesADueDayAsDayTextAndADueTimeAsLocalDateTime) {
  TimeZoneGuard zone("Asia/Shanghai");
  struct Case {
    const char* name;
    DateComponents due;
    std::string expected;
    bool allDay;
  };
  const std::vector<Case> cases = {
      {"day without hour", day(2024, 5, 1), "2024-05-01", true},
      {"floating time reads in the current zone", dayTime(2024, 5, 1, 9, 30, std::nullopt),
       "2024-05-01T09:30:00+08:00", false},
      {"time in its own zone", dayTime(2024, 5, 1, 9, 30, "UTC"), "2024-05-01T17:30:00+08:00", false},
      {"time in another zone crossing midnight", dayTime(2024, 5, 1, 20, 0, "America/New_York"),
       "2024-05-02T08:00:00+08:00", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReminderItem item = reminder("r", "Pay rent");
    item.dueDateComponents = c.due;
    Json row = reminderRow(item, ReminderForm::List);
    EXPECT_EQ(row.at("due"), c.expected);
    EXPECT_EQ(row.contains("due_all_day"), c.allDay);
    EXPECT_EQ(hasDueTime(item), !c.allDay);
    if (c.allDay) {
      EXPECT_EQ(row.at("due_all_day"), true);
    }
  }
}

TEST(ReminderRow, LeavesOutADueThatIsNotADate) {
  ReminderItem item = reminder("r", "Broken");
  item.dueDateComponents = day(2024, 2, 30);
  EXPECT_FALSE(dueDate(item).has_value());
  EXPECT_FALSE(reminderRow(item, ReminderForm::Detail).contains("due"));
}

TEST(ReminderRow, MapsPriorityNumbersToWords) {
  struct Case {
    int priority;
    const char* word;  // nullptr: no key
  };
  const std::vector<Case> cases = {{0, nullptr}, {1, "high"}, {3, "high"},  {4, "high"},
                                   {5, "medium"}, {6, "low"},  {7, "low"},  {9, "low"},
                                   {10, nullptr}, {-1, nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.priority);
    ReminderItem item = reminder("r", "Call");
    item.priority = c.priority;
    Json row = reminderRow(item, ReminderForm::List);
    if (c.word) {
      EXPECT_EQ(row.at("priority"), c.word);
    } else {
      EXPECT_FALSE(row.contains("priority"));
    }
  }
}

TEST(ReminderRow, CutsNotesByUserPerceivedCharactersPerForm) {
  struct Case {
    const char* name;
    std::string unit;  // one user-perceived character
    int count;
    ReminderForm form;
    int expectedCount;
    bool truncated;
  };
  // "e" followed by a combining acute accent is one character of three bytes.
  const std::string accented = "e\xCC\x81";
  const std::vector<Case> cases = {
      {"300 in a list row", "a", 300, ReminderForm::List, 300, false},
      {"301 in a list row", "a", 301, ReminderForm::List, 300, true},
      {"301 in a detail row", "a", 301, ReminderForm::Detail, 301, false},
      {"2001 in a detail row", "a", 2001, ReminderForm::Detail, 2000, true},
      {"301 combined characters in a list row", accented, 301, ReminderForm::List, 300, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReminderItem item = reminder("r", "Read");
    item.notes = repeat(c.unit, c.count);
    Json row = reminderRow(item, c.form);
    EXPECT_EQ(row.at("notes"), repeat(c.unit, c.expectedCount));
    EXPECT_EQ(row.contains("notes_truncated"), c.truncated);
  }
}

TEST(ReminderRow, OmitsEmptyNotesAndUrl) {
  ReminderItem item = reminder("r", "Empty");
  item.notes = "";
  item.url = "";
  Json row = reminderRow(item, ReminderForm::Detail);
  EXPECT_FALSE(row.contains("notes"));
  EXPECT_FALSE(row.contains("url"));
  item.url = "https://example.org/a";
  EXPECT_EQ(reminderRow(item, ReminderForm::List).at("url"), "https://example.org/a");
}

TEST(ReminderRow, ShowsCompletionDateOnlyWhenCompleted) {
  TimeZoneGuard zone("UTC");
  ReminderItem item = reminder("r", "Done");
  item.completionDate = at("2024-05-01T10:00:00Z");
  EXPECT_FALSE(reminderRow(item, ReminderForm::List).contains("completed_at"));
  item.completed = true;
  Json row = reminderRow(item, ReminderForm::List);
  EXPECT_EQ(row.at("completed"), true);
  EXPECT_EQ(row.at("completed_at"), "2024-05-01T10:00:00Z");
  item.completionDate.reset();
  EXPECT_FALSE(reminderRow(item, ReminderForm::List).contains("completed_at"));
}

TEST(ReminderRow, WritesRecurrenceUntilAsDayWithoutDueTime) {
  TimeZoneGuard zone("Asia/Shanghai");
  platform::RecurrenceRule rule;
  rule.frequency = platform::Frequency::Weekly;
  rule.endDate = at("2025-06-30T15:59:59Z");
  struct Case {
    const char* name;
    DateComponents due;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"due day", day(2025, 6, 2), "FREQ=WEEKLY;UNTIL=20250630"},
      {"due time", dayTime(2025, 6, 2, 9, 0, std::nullopt), "FREQ=WEEKLY;UNTIL=20250630T155959Z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReminderItem item = reminder("r", "Water plants");
    item.dueDateComponents = c.due;
    item.rules = {rule};
    Json detail = reminderRow(item, ReminderForm::Detail);
    EXPECT_EQ(detail.at("recurrence"), c.expected);
    EXPECT_EQ(detail.at("recurring"), true);
    Json list = reminderRow(item, ReminderForm::List);
    EXPECT_EQ(list.at("recurring"), true);
    EXPECT_FALSE(list.contains("recurrence"));
  }
}

TEST(ReminderRow, DescribesEachAlarmByItsKind) {
  TimeZoneGuard zone("UTC");
  ReminderItem item = reminder("r", "Alarms");
  Alarm absolute;
  absolute.absoluteDate = at("2024-05-01T09:00:00Z");
  Alarm place;
  place.hasLocation = true;
  place.locationTitle = "Office";
  Alarm untitledPlace;
  untitledPlace.hasLocation = true;
  auto relative = [](double seconds) {
    Alarm alarm;
    alarm.relativeOffset = seconds;
    return alarm;
  };
  item.alarms = {absolute, place, untitledPlace, relative(-900), relative(-30), relative(90), relative(0)};
  Json alarms = reminderRow(item, ReminderForm::Detail).at("alarms");
  EXPECT_EQ(alarms.dump(),
            R"([{"at":"2024-05-01T09:00:00Z"},{"location":"Office"},{"location":""},)"
            R"({"minutes_before":15},{"minutes_before":1},{"minutes_before":-2},{"minutes_before":0}])");
  EXPECT_FALSE(reminderRow(item, ReminderForm::List).contains("alarms"));
}

TEST(ReminderRow, AddsStartCreatedAndModifiedToDetailRowsInTableOrder) {
  TimeZoneGuard zone("UTC");
  ReminderItem item = reminder("r", "Plan");
  item.dueDateComponents = day(2024, 5, 3);
  item.startDateComponents = dayTime(2024, 5, 1, 8, 0, std::nullopt);
  item.created = at("2024-04-01T00:00:00Z");
  item.lastModified = at("2024-04-02T12:00:00Z");
  item.priority = 5;
  item.notes = "n";
  Json row = reminderRow(item, ReminderForm::Detail);
  std::vector<std::string> keys;
  for (const auto& entry : row.items()) keys.push_back(entry.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"reminder_id", "title", "completed", "list", "list_id", "due",
                                            "due_all_day", "priority", "notes", "start", "created",
                                            "modified"}));
  EXPECT_EQ(row.at("start"), "2024-05-01T08:00:00Z");
  EXPECT_EQ(row.at("created"), "2024-04-01T00:00:00Z");
  EXPECT_EQ(row.at("modified"), "2024-04-02T12:00:00Z");

  item.startDateComponents = day(2024, 5, 1);
  EXPECT_EQ(reminderRow(item, ReminderForm::Detail).at("start"), "2024-05-01");
  EXPECT_FALSE(reminderRow(item, ReminderForm::List).contains("start"));
}

TEST(ReminderPriorityValue, AcceptsTheFourWordsExactly) {
  EXPECT_EQ(priorityValue("high"), 1);
  EXPECT_EQ(priorityValue("medium"), 5);
  EXPECT_EQ(priorityValue("low"), 9);
  EXPECT_EQ(priorityValue("none"), 0);
  for (const std::string word : {"High", "urgent", "1", ""}) {
    SCOPED_TRACE(word);
    EXPECT_EQ(invalidArgsMessage([&] { priorityValue(word); }),
              "priority must be high / medium / low / none, got " + word);
  }
}

TEST(ReminderDueWindow, IncludesTheWholeNamedDayOfABareDueBefore) {
  TimeZoneGuard zone("Asia/Shanghai");
  DueWindow window = dueWindow(Params(Json{{"due_before", "2024-05-01"}}));
  ASSERT_TRUE(window.bounded());
  struct Case {
    const char* due;
    bool kept;
  };
  const std::vector<Case> cases = {{"2024-04-30T23:00:00+08:00", true},
                                   {"2024-05-01T00:00:00+08:00", true},
                                   {"2024-05-01T23:59:59+08:00", true},
                                   {"2024-05-02T00:00:00+08:00", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.due);
    EXPECT_EQ(window.contains(at(c.due)), c.kept);
  }
  EXPECT_FALSE(window.contains(std::nullopt));
}

TEST(ReminderDueWindow, KeepsDueAfterInclusiveAndDateTimeDueBeforeExclusive) {
  TimeZoneGuard zone("UTC");
  DueWindow window = dueWindow(
      Params(Json{{"due_after", "2024-05-01T09:00:00Z"}, {"due_before", "2024-05-01T17:00:00Z"}}));
  struct Case {
    const char* due;
    bool kept;
  };
  const std::vector<Case> cases = {{"2024-05-01T08:59:59Z", false},
                                   {"2024-05-01T09:00:00Z", true},
                                   {"2024-05-01T16:59:59Z", true},
                                   {"2024-05-01T17:00:00Z", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.due);
    EXPECT_EQ(window.contains(at(c.due)), c.kept);
  }
}

TEST(ReminderDueWindow, IsUnboundedWithoutBoundsAndRejectsUnreadableDates) {
  EXPECT_FALSE(dueWindow(Params(Json{{"due_after", ""}})).bounded());
  EXPECT_EQ(invalidArgsMessage([] { dueWindow(Params(Json{{"due_after", "next week"}})); }),
            "due_after must be an ISO 8601 date/time, got next week");
}

TEST(ReminderQuery, ReadsStatusPagingAndQuery) {
  struct Case {
    Json params;
    ReminderFilter filter;
    int64_t offset;
    int64_t limit;
  };
  const std::vector<Case> cases = {
      {Json::object(), ReminderFilter::Incomplete, 0, 50},
      {Json{{"status", "completed"}, {"offset", -5}, {"limit", 0}}, ReminderFilter::Completed, 0, 1},
      {Json{{"status", "all"}, {"offset", 120}, {"limit", 10000}}, ReminderFilter::All, 120, 500},
      {Json{{"status", "incomplete"}, {"limit", 7.9}}, ReminderFilter::Incomplete, 0, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params.dump());
    ReminderQuery query = queryNamingNoList(c.params);
    EXPECT_EQ(query.filter, c.filter);
    EXPECT_EQ(query.offset, c.offset);
    EXPECT_EQ(query.limit, c.limit);
    EXPECT_FALSE(query.listIds.has_value());
    EXPECT_FALSE(query.foldedText.has_value());
  }
}

TEST(ReminderQuery, RejectsStatusWordsOtherThanTheThreeExactOnes) {
  for (const std::string status : {"Completed", "done", "ALL"}) {
    SCOPED_TRACE(status);
    EXPECT_EQ(invalidArgsMessage([&] { queryNamingNoList(Json{{"status", status}}); }),
              "status must be incomplete / completed / all, got " + status);
  }
}

// Sorting by the comparator must give the order the host expects, whatever the input order.
TEST(ReminderOrder, PutsOpenDatedFirstThenUndatedThenCompletedByRecency) {
  TimeZoneGuard zone("UTC");
  std::vector<ReminderItem> items;
  auto add = [&](const std::string& id, const std::string& title) -> ReminderItem& {
    items.push_back(reminder(id, title));
    return items.back();
  };
  items.reserve(16);
  add("d1", "Zebra").dueDateComponents = dayTime(2024, 5, 1, 9, 0, std::nullopt);
  add("d0", "Yak").dueDateComponents = day(2024, 4, 30);
  add("d2b", "Same").dueDateComponents = dayTime(2024, 5, 2, 9, 0, std::nullopt);
  add("d2a", "Same").dueDateComponents = dayTime(2024, 5, 2, 9, 0, std::nullopt);
  add("u2", "beta");
  add("u1", "Alpha");
  ReminderItem& recent = add("c1", "Old task");
  recent.completed = true;
  recent.completionDate = at("2024-05-10T00:00:00Z");
  ReminderItem& undatedDone = add("c3", "Aaa");
  undatedDone.completed = true;
  ReminderItem& older = add("c2", "New task");
  older.completed = true;
  older.completionDate = at("2024-05-01T00:00:00Z");

  std::vector<std::string> expected = {"d0", "d1", "d2a", "d2b", "u1", "u2", "c1", "c2", "c3"};
  for (int rotation = 0; rotation < static_cast<int>(items.size()); ++rotation) {
    SCOPED_TRACE(rotation);
    std::vector<ReminderSortKey> keys;
    for (const ReminderItem& item : items) keys.push_back({&item, dueDate(item)});
    std::rotate(keys.begin(), keys.begin() + rotation, keys.end());
    std::stable_sort(keys.begin(), keys.end(), reminderBefore);
    std::vector<std::string> order;
    for (const ReminderSortKey& key : keys) order.push_back(key.reminder->itemId);
    EXPECT_EQ(order, expected);
  }
}

std::vector<std::string> pageIds(const Json& page) {
  std::vector<std::string> ids;
  for (const Json& row : page.at("reminders")) ids.push_back(row.at("reminder_id"));
  return ids;
}

TEST(ReminderPage, PagesWithCursorFromTheRequestedOffset) {
  std::vector<ReminderItem> items;
  for (int i = 0; i < 120; ++i) {
    char title[16];
    std::snprintf(title, sizeof title, "Task %03d", i);
    items.push_back(reminder("id" + std::to_string(i), title));
  }
  struct Case {
    Json params;
    size_t rows;
    bool hasMore;
    const char* cursor;  // nullptr: no key
    const char* firstTitle;
  };
  const std::vector<Case> cases = {
      {Json::object(), 50, true, "50", "Task 000"},
      {Json{{"offset", 50}}, 50, true, "100", "Task 050"},
      {Json{{"offset", 100}}, 20, false, nullptr, "Task 100"},
      {Json{{"offset", 500}}, 0, false, nullptr, nullptr},
      {Json{{"limit", 0}}, 1, true, "1", "Task 000"},
      {Json{{"limit", 10000}}, 120, false, nullptr, "Task 000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params.dump());
    Json page = reminderPage(items, queryNamingNoList(c.params));
    EXPECT_EQ(page.at("total"), 120);
    EXPECT_EQ(page.at("reminders").size(), c.rows);
    EXPECT_EQ(page.at("has_more"), c.hasMore);
    EXPECT_EQ(page.contains("next_cursor"), c.cursor != nullptr);
    if (c.cursor) {
      EXPECT_EQ(page.at("next_cursor"), c.cursor);
    }
    if (c.firstTitle) {
      EXPECT_EQ(page.at("reminders").front().at("title"), c.firstTitle);
    }
  }
}

TEST(ReminderPage, FiltersByFoldedQueryInTitleOrNotesAndByDueWindow) {
  TimeZoneGuard zone("UTC");
  std::vector<ReminderItem> items;
  items.push_back(reminder("cafe", "Meet at Café Luna"));
  items.back().dueDateComponents = day(2024, 5, 1);
  items.push_back(reminder("notes", "Errand"));
  items.back().notes = "buy CAFE beans";
  items.push_back(reminder("other", "Dentist"));
  items.back().dueDateComponents = day(2024, 5, 1);
  items.push_back(reminder("undated", "Undated café"));

  struct Case {
    Json params;
    std::vector<std::string> ids;
  };
  const std::vector<Case> cases = {
      {Json{{"query", "cafe"}}, {"cafe", "notes", "undated"}},
      {Json{{"query", "  CAFÉ "}}, {"cafe", "notes", "undated"}},
      {Json{{"query", "dentist"}}, {"other"}},
      {Json{{"due_before", "2024-05-01"}}, {"other", "cafe"}},  // same due day: by title
      {Json{{"due_after", "2024-05-02"}}, {}},
      {Json{{"query", "café"}, {"due_after", "2024-05-01"}}, {"cafe"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params.dump());
    Json page = reminderPage(items, queryNamingNoList(c.params));
    EXPECT_EQ(pageIds(page), c.ids);
    EXPECT_EQ(page.at("total"), c.ids.size());
  }
}

}  // namespace
}  // namespace wren

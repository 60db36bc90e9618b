#pragma once

// Reading reminders: the row that describes one reminder to the host, the lookup of one
// reminder by id, and the filter, order and paging of reminders.items.list.
//
//   ReminderQuery query = reminderQuery(store, params);  // validates before any fetch
//   auto fetched = fetchReminders(store, query.filter, query.listIds);
//   Json page = reminderPage(fetched, query);            // rows only for the page

#include <optional>
#include <string>
#include <vector>

#include "app/Json.h"
#include "app/Params.h"
#include "platform/EventStore.h"
#include "platform/Instant.h"

namespace wren {

// List rows describe a reminder in lists and in the answers of completion and deletion;
// detail rows add recurrence, alarms, start, creation and modification, and longer notes.
enum class ReminderForm { List, Detail };

// The instant of wall-clock components in their own zone, or in the current zone when they
// carry none; nothing when the fields do not form a date.
std::optional<Instant> componentsInstant(const platform::DateComponents& components);
std::optional<Instant> dueDate(const platform::ReminderItem& reminder);
// True exactly when the reminder has due components that carry an hour.
bool hasDueTime(const platform::ReminderItem& reminder);

// "high" 1, "medium" 5, "low" 9, "none" 0; anything else fails with invalid_args.
int priorityValue(const std::string& word);

Json reminderRow(const platform::ReminderItem& reminder, ReminderForm form);

// The stored reminder with that id, or invalid_args telling how to find a valid id.
platform::ReminderItem resolveReminder(platform::EventStore& store, const std::string& reminderId);

// The half-open due window [after, before) of a list request. A bare-day `before` has
// already been moved to the start of the next day, so that the named day is included.
struct DueWindow {
  std::optional<Instant> after;
  std::optional<Instant> before;

  bool bounded() const { return after || before; }
  bool contains(std::optional<Instant> due) const;
};
DueWindow dueWindow(const Params& params);

// Everything reminders.items.list asks for, checked before anything is fetched.
struct ReminderQuery {
  std::optional<std::vector<std::string>> listIds;  // none: every reminder list
  platform::ReminderFilter filter = platform::ReminderFilter::Incomplete;
  DueWindow window;
  std::optional<std::u16string> foldedText;  // the query, folded once for all reminders
  int64_t offset = 0;
  int64_t limit = 50;
};
ReminderQuery reminderQuery(platform::EventStore& store, const Params& params);

// The key a reminder is sorted by, computed once per reminder before sorting.
struct ReminderSortKey {
  const platform::ReminderItem* reminder = nullptr;
  std::optional<Instant> due;
};
// Open reminders first, by due date (undated last); completed ones by most recent
// completion; ties by title, then id.
bool reminderBefore(const ReminderSortKey& a, const ReminderSortKey& b);

// Filters, sorts and pages the fetched reminders into the list answer.
Json reminderPage(const std::vector<platform::ReminderItem>& fetched, const ReminderQuery& query);

}  // namespace wren

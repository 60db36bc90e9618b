#include "reminders/ReminderRows.h"

#include <algorithm>
#include <tuple>

#include "app/Dates.h"
#include "app/HelperError.h"
#include "app/Paging.h"
#include "eventstore/Containers.h"
#include "eventstore/ItemRows.h"
#include "eventstore/Recurrence.h"
#include "platform/LocalTime.h"
#include "platform/Text.h"
#include "reminders/DueInstants.h"

namespace wren {

using platform::Alarm;
using platform::DateComponents;
using platform::ReminderFilter;
using platform::ReminderItem;

namespace {

std::optional<std::string> priorityWord(int priority) {
  if (priority >= 1 && priority <= 4) return "high";
  if (priority == 5) return "medium";
  if (priority >= 6 && priority <= 9) return "low";
  return std::nullopt;
}

// Day text for components without an hour, local date-time text otherwise.
std::optional<std::string> componentsText(const DateComponents& components) {
  std::optional<Instant> instant = componentsInstant(components);
  if (!instant) return std::nullopt;
  if (!components.hour) return isoDay(instant);
  return localDateTimeText(*instant);
}

void addDue(Json& row, const ReminderItem& reminder) {
  if (!reminder.dueDateComponents) return;
  std::optional<std::string> text = componentsText(*reminder.dueDateComponents);
  if (!text) return;
  row["due"] = *text;
  if (!hasDueTime(reminder)) row["due_all_day"] = true;
}

Json alarmRow(const Alarm& alarm) {
  if (alarm.absoluteDate) return Json{{"at", localDateTimeText(*alarm.absoluteDate)}};
  if (alarm.hasLocation) return Json{{"location", alarm.locationTitle}};
  // A positive offset lies after the due time, so it counts as negative minutes before.
  return Json{{"minutes_before", alarmMinutesBefore(alarm)}};
}

void addDetail(Json& row, const ReminderItem& reminder) {
  if (!reminder.rules.empty()) {
    UntilForm until = hasDueTime(reminder) ? UntilForm::Moment : UntilForm::Day;
    row["recurrence"] = rruleText(reminder.rules.front(), until);
  }
  if (!reminder.alarms.empty()) {
    Json alarms = Json::array();
    for (const Alarm& alarm : reminder.alarms) alarms.push_back(alarmRow(alarm));
    row["alarms"] = std::move(alarms);
  }
  if (reminder.startDateComponents) {
    if (auto start = componentsText(*reminder.startDateComponents)) row["start"] = *start;
  }
  if (reminder.created) row["created"] = localDateTimeText(*reminder.created);
  if (reminder.lastModified) row["modified"] = localDateTimeText(*reminder.lastModified);
}

std::optional<std::vector<std::string>> listFilter(platform::EventStore& store, const Params& params) {
  std::vector<std::string> listIds = params.strings("list_ids").value_or(std::vector<std::string>{});
  std::vector<std::string> ids;
  for (const platform::Calendar& list :
       namedContainers(store, EntityType::Reminder, params.string("list"), listIds))
    ids.push_back(list.id);
  if (params.boolean("default_list") == true) {
    auto defaultList = store.defaultCalendar(EntityType::Reminder);
    if (!defaultList) throwExecutionFailed("This Mac's Reminders has no default list.");
    ids.push_back(defaultList->id);
  }
  if (ids.empty()) return std::nullopt;
  return ids;
}

ReminderFilter statusFilter(const Params& params) {
  std::string status = params.string("status").value_or("incomplete");
  if (status == "incomplete") return ReminderFilter::Incomplete;
  if (status == "completed") return ReminderFilter::Completed;
  if (status == "all") return ReminderFilter::All;
  throwInvalidArgs("status must be incomplete / completed / all, got " + status);
}

bool matchesText(const ReminderItem& reminder, const std::u16string& foldedText) {
  if (platform::containsFolded(reminder.title, foldedText)) return true;
  return reminder.notes && platform::containsFolded(*reminder.notes, foldedText);
}

}  // namespace

std::optional<Instant> componentsInstant(const DateComponents& components) {
  platform::CivilTime civil;
  civil.year = components.year;
  civil.month = components.month;
  civil.day = components.day;
  if (components.hour) {
    civil.hour = *components.hour;
    civil.minute = components.minute;
    civil.second = components.second;
  }
  return platform::instantFromCivil(civil, components.timeZone.value_or(""));
}

std::optional<Instant> dueDate(const ReminderItem& reminder) {
  if (!reminder.dueDateComponents) return std::nullopt;
  return componentsInstant(*reminder.dueDateComponents);
}

bool hasDueTime(const ReminderItem& reminder) {
  return reminder.dueDateComponents && reminder.dueDateComponents->hour.has_value();
}

int priorityValue(const std::string& word) {
  if (word == "high") return 1;
  if (word == "medium") return 5;
  if (word == "low") return 9;
  if (word == "none") return 0;
  throwInvalidArgs("priority must be high / medium / low / none, got " + word);
}

Json reminderRow(const ReminderItem& reminder, ReminderForm form) {
  Json row = Json::object();
  row["reminder_id"] = reminder.itemId;
  row["title"] = reminder.title;
  row["completed"] = reminder.completed;
  row["list"] = reminder.calendarTitle;
  row["list_id"] = reminder.calendarId;
  addDue(row, reminder);
  if (auto word = priorityWord(reminder.priority)) row["priority"] = *word;
  if (reminder.completed && reminder.completionDate)
    row["completed_at"] = localDateTimeText(*reminder.completionDate);
  addNotes(row, reminder.notes, form == ReminderForm::Detail ? kDetailNotesLimit : kSummaryNotesLimit);
  if (reminder.url && !reminder.url->empty()) row["url"] = *reminder.url;
  if (!reminder.rules.empty()) row["recurring"] = true;
  if (form == ReminderForm::Detail) addDetail(row, reminder);
  return row;
}

ReminderItem resolveReminder(platform::EventStore& store, const std::string& reminderId) {
  if (auto reminder = store.reminder(reminderId)) return std::move(*reminder);
  throwInvalidArgs("No reminder with reminder_id " + reminderId +
                   " on this Mac (deleted, or not a reminder id). Find it with reminders.list.");
}

bool DueWindow::contains(std::optional<Instant> due) const {
  if (!due) return false;
  if (after && *due < *after) return false;
  return !before || *due < *before;
}

DueWindow dueWindow(const Params& params) {
  DueWindow window;
  window.after = params.date("due_after");
  window.before = params.endDate("due_before");
  return window;
}

ReminderQuery reminderQuery(platform::EventStore& store, const Params& params) {
  ReminderQuery query;
  query.listIds = listFilter(store, params);
  query.filter = statusFilter(params);
  query.window = dueWindow(params);
  if (auto text = params.string("query")) query.foldedText = platform::foldForSearch(*text);
  PageRequest page = pageRequest(params);
  query.offset = page.offset;
  query.limit = page.limit;
  return query;
}

bool reminderBefore(const ReminderSortKey& a, const ReminderSortKey& b) {
  const ReminderItem& left = *a.reminder;
  const ReminderItem& right = *b.reminder;
  if (left.completed != right.completed) return !left.completed;
  if (left.completed) {
    Instant leftDone = left.completionDate.value_or(Instant::min());
    Instant rightDone = right.completionDate.value_or(Instant::min());
    if (leftDone != rightDone) return leftDone > rightDone;
  } else if (a.due.has_value() != b.due.has_value()) {
    return a.due.has_value();
  } else if (a.due && *a.due != *b.due) {
    return *a.due < *b.due;
  }
  return std::tie(left.title, left.itemId) < std::tie(right.title, right.itemId);
}

Json reminderPage(const std::vector<ReminderItem>& fetched, const ReminderQuery& query) {
  // Each due date is converted once, before filtering and sorting, and rows are built only
  // for the page: a list request may look at thousands of reminders.
  DueInstants dueInstants;
  std::vector<ReminderSortKey> kept;
  kept.reserve(fetched.size());
  for (const ReminderItem& reminder : fetched) {
    ReminderSortKey key{&reminder, dueInstants.of(reminder)};
    if (query.window.bounded() && !query.window.contains(key.due)) continue;
    if (query.foldedText && !matchesText(reminder, *query.foldedText)) continue;
    kept.push_back(key);
  }
  std::stable_sort(kept.begin(), kept.end(), reminderBefore);

  const auto total = static_cast<int64_t>(kept.size());
  const int64_t start = std::min(query.offset, total);
  const int64_t end = std::min(start + query.limit, total);
  Json rows = Json::array();
  for (int64_t i = start; i < end; ++i) rows.push_back(reminderRow(*kept[i].reminder, ReminderForm::List));
  return pagedAnswer("reminders", std::move(rows), kept.size(), static_cast<size_t>(end));
}

}  // namespace wren

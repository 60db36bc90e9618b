#include "reminders/ReminderEditing.h"

#include <algorithm>
#include <cctype>

#include "app/Dates.h"
#include "app/HelperError.h"
#include "calendar/Containers.h"
#include "calendar/Recurrence.h"
#include "permissions/Permissions.h"
#include "platform/LocalTime.h"
#include "reminders/ReminderRows.h"

namespace wren {

using platform::Alarm;
using platform::Calendar;
using platform::DateComponents;
using platform::ReminderItem;

namespace {

// Texts up to this length name a day (yyyy-MM-dd); longer ones a date and time.
constexpr size_t kDayTextLength = 10;

platform::EventStore& store() { return EventStoreBox::shared().store(); }

bool isSchemeCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

// An absolute URL starts with a scheme (a letter, then letters, digits, "+", "-" or ".")
// and a colon, and holds no white space or control characters, which no URL may contain.
bool isAbsoluteUrl(const std::string& text) {
  size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  if (!std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  if (!std::all_of(text.begin(), text.begin() + colon, isSchemeCharacter)) return false;
  return std::none_of(text.begin(), text.end(),
                      [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == '\x7f'; });
}

void applyNotes(ReminderItem& reminder, const Params& params, std::vector<std::string>& changed) {
  const Json* notes = params.find("notes");
  if (!notes) return;
  // Notes are kept exactly as sent, surrounding white space included.
  if (notes->is_string() && !notes->get_ref<const std::string&>().empty())
    reminder.notes = notes->get<std::string>();
  else
    reminder.notes.reset();
  changed.push_back("notes");
}

void applyUrl(ReminderItem& reminder, const Params& params, std::vector<std::string>& changed) {
  if (!params.contains("url")) return;
  std::optional<std::string> url = params.string("url");
  if (url && !isAbsoluteUrl(*url)) throwInvalidArgs("url must be an absolute URL, got " + *url);
  reminder.url = url;
  changed.push_back("url");
}

DateComponents dayComponents(Instant instant) {
  platform::CivilTime civil = platform::civilFromInstant(instant);
  DateComponents components;
  components.year = civil.year;
  components.month = civil.month;
  components.day = civil.day;
  return components;
}

DateComponents timeComponents(Instant instant) {
  platform::CivilTime civil = platform::civilFromInstant(instant);
  DateComponents components = dayComponents(instant);
  components.hour = civil.hour;
  components.minute = civil.minute;
  components.second = civil.second;
  components.timeZone = platform::currentZoneId();
  return components;
}

// Sets the due date from the `due` text: a day gets no alarm; a date and time gets one at
// that moment unless `alarm` is false. Either replaces the alarms at the old due moment.
void setDue(ReminderItem& reminder, const std::string& text, const Params& params) {
  std::optional<Instant> parsed = parseDate(text);
  if (!parsed) throwInvalidArgs("due must be an ISO 8601 date or date-time, got " + text);
  removeAbsoluteAlarms(reminder);
  if (text.size() <= kDayTextLength) {
    reminder.dueDateComponents = dayComponents(*parsed);
    return;
  }
  reminder.dueDateComponents = timeComponents(*parsed);
  if (params.boolean("alarm") == false) return;
  Alarm alarm;
  alarm.absoluteDate = dueDate(reminder);
  reminder.alarms.push_back(alarm);
}

void applyDueOrAlarm(ReminderItem& reminder, const Params& params, std::vector<std::string>& changed) {
  if (!params.contains("due")) {
    if (params.boolean("alarm") != false) return;
    removeAbsoluteAlarms(reminder);
    changed.push_back("alarm");
    return;
  }
  if (std::optional<std::string> text = params.string("due")) {
    setDue(reminder, *text, params);
  } else {
    reminder.dueDateComponents.reset();
    removeAbsoluteAlarms(reminder);
  }
  changed.push_back("due");
}

void applyRecurrence(ReminderItem& reminder, const Params& params, std::vector<std::string>& changed) {
  std::optional<Json> object = params.object("recurrence");
  if (!object) return;
  std::optional<platform::RecurrenceRule> rule = recurrenceRule(*object);
  if (rule && !reminder.dueDateComponents)
    throwInvalidArgs("A repeating reminder needs a due date: pass due as well.");
  reminder.rules.clear();
  if (rule) reminder.rules.push_back(*rule);
  changed.push_back("recurrence");
}

// A reminder can be changed only in a list that exists and accepts changes.
bool inWritableList(const ReminderItem& reminder) {
  for (const Calendar& list : store().calendars(EntityType::Reminder)) {
    if (list.id == reminder.calendarId) return list.allowsContentModifications;
  }
  return false;
}

void moveToList(ReminderItem& reminder, const Calendar& list) {
  reminder.calendarId = list.id;
  reminder.calendarTitle = list.title;
}

}  // namespace

Calendar writableList(const Params& params) {
  if (auto reference = params.string("list"))
    return resolveContainer(EntityType::Reminder, *reference, Access::Writable);
  std::optional<Calendar> defaultList = store().defaultCalendar(EntityType::Reminder);
  if (defaultList && defaultList->allowsContentModifications) return *defaultList;
  std::vector<Calendar> writable = containers(EntityType::Reminder, true, std::nullopt);
  if (writable.empty()) throwExecutionFailed("This Mac's Reminders has no writable list.");
  return writable.front();
}

std::vector<std::string> applyReminderFields(ReminderItem& reminder, const Params& params) {
  std::vector<std::string> changed;
  if (auto title = params.string("title")) {
    reminder.title = *title;
    changed.push_back("title");
  }
  applyNotes(reminder, params, changed);
  applyUrl(reminder, params, changed);
  if (auto word = params.string("priority")) {
    reminder.priority = priorityValue(*word);
    changed.push_back("priority");
  }
  applyDueOrAlarm(reminder, params, changed);
  applyRecurrence(reminder, params, changed);
  return changed;
}

void removeAbsoluteAlarms(ReminderItem& reminder) {
  std::erase_if(reminder.alarms, [](const Alarm& alarm) { return alarm.absoluteDate.has_value(); });
}

ReminderItem saveReminder(const ReminderItem& reminder) {
  try {
    return store().saveReminder(reminder);
  } catch (const platform::StoreError& error) {
    throwExecutionFailed(std::string("Reminders did not save it: ") + error.what());
  }
}

Json createReminder(const Params& params) {
  ensureEvents(EntityType::Reminder);
  ReminderItem reminder;
  reminder.title = params.requireString("title");
  moveToList(reminder, writableList(params));
  applyReminderFields(reminder, params);
  return reminderRow(saveReminder(reminder), ReminderForm::Detail);
}

Json updateReminder(const Params& params) {
  ensureEvents(EntityType::Reminder);
  ReminderItem reminder = resolveReminder(params.requireString("reminder_id"));
  if (!inWritableList(reminder))
    throwInvalidArgs("\"" + reminder.title + "\" is in a read-only list and cannot be changed.");
  std::vector<std::string> changed = applyReminderFields(reminder, params);
  if (auto reference = params.string("list")) {
    moveToList(reminder, resolveContainer(EntityType::Reminder, *reference, Access::Writable));
    changed.push_back("list");
  }
  if (changed.empty())
    throwInvalidArgs("Nothing to change: pass at least one field (title, notes, due, priority, url, "
                     "list, alarm, recurrence).");
  Json row = reminderRow(saveReminder(reminder), ReminderForm::Detail);
  row["changed"] = changed;
  return row;
}

Json completeReminder(const Params& params) {
  ensureEvents(EntityType::Reminder);
  ReminderItem reminder = resolveReminder(params.requireString("reminder_id"));
  if (params.boolean("completed") == false) {
    reminder.completed = false;
    reminder.completionDate.reset();
  } else if (std::optional<Instant> date = params.date("completion_date")) {
    reminder.completed = true;
    reminder.completionDate = date;
  } else if (!reminder.completed) {
    // An already completed reminder keeps the moment it was completed.
    reminder.completed = true;
    reminder.completionDate = now();
  }
  return reminderRow(saveReminder(reminder), ReminderForm::List);
}

Json deleteReminder(const Params& params) {
  ensureEvents(EntityType::Reminder);
  ReminderItem reminder = resolveReminder(params.requireString("reminder_id"));
  Json row = reminderRow(reminder, ReminderForm::List);
  requireConfirmation(params, "要删除提醒「" + reminder.title + "」吗？", Json{{"reminder", row}});
  try {
    store().removeReminder(reminder);
  } catch (const platform::StoreError& error) {
    throwExecutionFailed(std::string("Reminders did not delete it: ") + error.what());
  }
  return Json{{"deleted", true}, {"reminder", row}};
}

}  // namespace wren

#include "reminders/ReminderEditing.h"

#include "app/Dates.h"
#include "app/HelperError.h"
#include "eventstore/Containers.h"
#include "eventstore/Recurrence.h"
#include "platform/LocalTime.h"
#include "reminders/ReminderRows.h"

namespace wren {

using platform::Alarm;
using platform::Calendar;
using platform::DateComponents;
using platform::ReminderItem;

namespace {

// Notes are kept exactly as sent, surrounding white space included. A reminder's url may
// hold the delimiters an event's url refuses.
void applyNotesAndUrl(ReminderItem& reminder, const Params& params, std::vector<std::string>& changed) {
  if (params.contains("notes")) {
    reminder.notes = params.untrimmedString("notes");
    changed.push_back("notes");
  }
  if (params.contains("url")) {
    reminder.url = params.absoluteUrl("url");
    changed.push_back("url");
  }
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
  if (isDayText(text)) {
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
  const Json* object = params.object("recurrence");
  if (!object) return;
  std::optional<platform::RecurrenceRule> rule = recurrenceRule(*object);
  if (rule && !reminder.dueDateComponents)
    throwInvalidArgs("A repeating reminder needs a due date: pass due as well.");
  reminder.rules.clear();
  if (rule) reminder.rules.push_back(*rule);
  changed.push_back("recurrence");
}

void moveToList(ReminderItem& reminder, const Calendar& list) {
  reminder.calendarId = list.id;
  reminder.calendarTitle = list.title;
}

}  // namespace

std::vector<std::string> applyReminderFields(ReminderItem& reminder, const Params& params) {
  std::vector<std::string> changed;
  if (auto title = params.string("title")) {
    reminder.title = *title;
    changed.push_back("title");
  }
  applyNotesAndUrl(reminder, params, changed);
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

ReminderItem saveReminder(platform::EventStore& store, const ReminderItem& reminder) {
  try {
    return store.saveReminder(reminder);
  } catch (const platform::StoreError& error) {
    throwExecutionFailed(std::string("Reminders did not save it: ") + error.what());
  }
}

Json createReminder(platform::EventStore& store, const Params& params) {
  ReminderItem reminder;
  reminder.title = params.requireString("title");
  moveToList(reminder, containerForNewItem(store, EntityType::Reminder, params.string("list")));
  applyReminderFields(reminder, params);
  return reminderRow(saveReminder(store, reminder), ReminderForm::Detail);
}

Json updateReminder(platform::EventStore& store, const Params& params) {
  ReminderItem reminder = resolveReminder(store, params.requireString("reminder_id"));
  // One reading of the lists serves both the check and the move to another list.
  std::vector<Calendar> lists = store.calendars(EntityType::Reminder);
  if (!isWritableContainer(lists, reminder.calendarId))
    throwInvalidArgs("\"" + reminder.title + "\" is in a read-only list and cannot be changed.");
  std::vector<std::string> changed = applyReminderFields(reminder, params);
  if (auto reference = params.string("list")) {
    moveToList(reminder, resolveContainer(EntityType::Reminder, lists, *reference, Access::Writable));
    changed.push_back("list");
  }
  if (changed.empty())
    throwInvalidArgs("Nothing to change: pass at least one field (title, notes, due, priority, url, "
                     "list, alarm, recurrence).");
  Json row = reminderRow(saveReminder(store, reminder), ReminderForm::Detail);
  row["changed"] = changed;
  return row;
}

Json completeReminder(platform::EventStore& store, const Params& params) {
  ReminderItem reminder = resolveReminder(store, params.requireString("reminder_id"));
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
  return reminderRow(saveReminder(store, reminder), ReminderForm::List);
}

Json deleteReminder(platform::EventStore& store, const Params& params) {
  ReminderItem reminder = resolveReminder(store, params.requireString("reminder_id"));
  Json row = reminderRow(reminder, ReminderForm::List);
  requireConfirmation(params, "要删除提醒「" + reminder.title + "」吗？", Json{{"reminder", row}});
  try {
    store.removeReminder(reminder);
  } catch (const platform::StoreError& error) {
    throwExecutionFailed(std::string("Reminders did not delete it: ") + error.what());
  }
  return Json{{"deleted", true}, {"reminder", row}};
}

}  // namespace wren

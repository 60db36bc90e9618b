#pragma once

// Changing reminders: the fields a create or update request may set, and the four editing
// handlers.
//
//   ReminderItem reminder = resolveReminder(store, id);
//   std::vector<std::string> changed = applyReminderFields(reminder, params);  // memory only
//   ReminderItem saved = saveReminder(store, reminder);

#include <string>
#include <vector>

#include "app/Json.h"
#include "app/Params.h"
#include "platform/EventStore.h"

namespace wren {

// Applies title, notes, url, priority, due (or alarm) and recurrence from the params to the
// reminder in memory, in that order, and gives the names of the fields it changed. Throws
// invalid_args on the first bad value; it never saves.
std::vector<std::string> applyReminderFields(platform::ReminderItem& reminder, const Params& params);

// Removes the alarms at a fixed moment; relative and location alarms stay.
void removeAbsoluteAlarms(platform::ReminderItem& reminder);

// Saves to the store and gives the reminder as saved; a refusal of the store becomes
// execution_failed.
platform::ReminderItem saveReminder(platform::EventStore& store, const platform::ReminderItem& reminder);

// The handlers of reminders.items.create, .update, .complete and .delete; access is checked
// where they are registered.
Json createReminder(platform::EventStore& store, const Params& params);
Json updateReminder(platform::EventStore& store, const Params& params);
Json completeReminder(platform::EventStore& store, const Params& params);
Json deleteReminder(platform::EventStore& store, const Params& params);

}  // namespace wren

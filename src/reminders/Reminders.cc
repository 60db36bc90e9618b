#include "reminders/Reminders.h"

#include "calendar/Containers.h"
#include "permissions/Permissions.h"
#include "reminders/ReminderEditing.h"
#include "reminders/ReminderRows.h"

namespace wren {

namespace {

Json listReminders(const Params& params) {
  ensureEvents(EntityType::Reminder);
  // Every parameter is checked before the store is asked for anything.
  ReminderQuery query = reminderQuery(params);
  return reminderPage(fetchReminders(query.filter, query.listIds), query);
}

Json getReminder(const Params& params) {
  ensureEvents(EntityType::Reminder);
  return reminderRow(resolveReminder(params.requireString("reminder_id")), ReminderForm::Detail);
}

}  // namespace

void registerReminders(Router& router) {
  registerContainerMethods(router, EntityType::Reminder);
  router.registerMethod("reminders.items.list", listReminders);
  router.registerMethod("reminders.items.get", getReminder);
  router.registerMethod("reminders.items.create", createReminder);
  router.registerMethod("reminders.items.update", updateReminder);
  router.registerMethod("reminders.items.complete", completeReminder);
  router.registerMethod("reminders.items.delete", deleteReminder);
}

}  // namespace wren

#include "reminders/Reminders.h"

#include "eventstore/Containers.h"
#include "reminders/ReminderEditing.h"
#include "reminders/ReminderRows.h"

namespace wren {

namespace {

Json listReminders(const Params& params) {
  // Every parameter is checked before the store is asked for anything.
  ReminderQuery query = reminderQuery(params);
  return reminderPage(fetchReminders(query.filter, query.listIds), query);
}

Json getReminder(const Params& params) {
  return reminderRow(resolveReminder(params.requireString("reminder_id")), ReminderForm::Detail);
}

}  // namespace

void registerReminders(Router& router) {
  registerContainerMethods(router, EntityType::Reminder);
  router.registerMethod("reminders.items.list", guarded(EntityType::Reminder, listReminders));
  router.registerMethod("reminders.items.get", guarded(EntityType::Reminder, getReminder));
  router.registerMethod("reminders.items.create", guarded(EntityType::Reminder, createReminder));
  router.registerMethod("reminders.items.update", guarded(EntityType::Reminder, updateReminder));
  router.registerMethod("reminders.items.complete", guarded(EntityType::Reminder, completeReminder));
  router.registerMethod("reminders.items.delete", guarded(EntityType::Reminder, deleteReminder));
}

}  // namespace wren

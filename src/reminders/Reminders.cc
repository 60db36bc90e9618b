#include "reminders/Reminders.h"

#include "eventstore/Containers.h"
#include "reminders/ReminderEditing.h"
#include "reminders/ReminderRows.h"

namespace wren {

namespace {

Json listReminders(platform::EventStore& store, const Params& params) {
  // Every parameter is checked before the store is asked for anything.
  ReminderQuery query = reminderQuery(store, params);
  return reminderPage(fetchReminders(store, query.filter, query.listIds), query);
}

Json getReminder(platform::EventStore& store, const Params& params) {
  return reminderRow(resolveReminder(store, params.requireString("reminder_id")), ReminderForm::Detail);
}

}  // namespace

void registerReminders(Router& router, EventStoreBox& eventStore) {
  const ContainerMethods lists(EntityType::Reminder, eventStore);
  router.registerMethod("reminders.status", lists.status());
  router.registerMethod("reminders.sources", lists.sources());
  router.registerMethod("reminders.lists.list", lists.list());
  router.registerMethod("reminders.lists.get", lists.get());
  router.registerMethod("reminders.lists.create", lists.create());
  router.registerMethod("reminders.lists.update", lists.update());
  router.registerMethod("reminders.lists.delete", lists.remove());
  router.registerMethod("reminders.items.list", guarded(EntityType::Reminder, eventStore, listReminders));
  router.registerMethod("reminders.items.get", guarded(EntityType::Reminder, eventStore, getReminder));
  router.registerMethod("reminders.items.create", guarded(EntityType::Reminder, eventStore, createReminder));
  router.registerMethod("reminders.items.update", guarded(EntityType::Reminder, eventStore, updateReminder));
  router.registerMethod("reminders.items.complete", guarded(EntityType::Reminder, eventStore, completeReminder));
  router.registerMethod("reminders.items.delete", guarded(EntityType::Reminder, eventStore, deleteReminder));
}

}  // namespace wren

#pragma once

#include "app/Router.h"
#include "permissions/EventStoreBox.h"

namespace wren {

// The reminders methods: status, sources and lists, then reminders.items.list, .get,
// .create, .update, .complete and .delete, all on the shared event store.
void registerReminders(Router& router, EventStoreBox& eventStore);

}  // namespace wren

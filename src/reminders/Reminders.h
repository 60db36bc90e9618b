#pragma once

#include "app/Router.h"

namespace wren {

// The reminders methods: status, sources and lists, then reminders.items.list, .get,
// .create, .update, .complete and .delete.
void registerReminders(Router& router);

}  // namespace wren

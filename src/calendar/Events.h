#pragma once

#include "app/Router.h"
#include "permissions/EventStoreBox.h"

namespace wren {

// calendar.events.list, .get, .create, .update, .delete and .export, in that order.
void registerEventMethods(Router& router, EventStoreBox& eventStore);

}  // namespace wren

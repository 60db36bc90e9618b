#pragma once

#include "app/Router.h"
#include "permissions/EventStoreBox.h"

namespace wren {

// The calendar methods: status, sources and calendars, then events, all on the shared
// event store.
void registerCalendar(Router& router, EventStoreBox& eventStore);

}  // namespace wren

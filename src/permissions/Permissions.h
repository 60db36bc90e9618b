#pragma once

#include <string>

#include "app/Router.h"
#include "permissions/EventStoreBox.h"
#include "platform/EventStore.h"

namespace wren {

using platform::EntityType;

// The status vocabulary: "granted", "denied", "not_determined", "restricted", "write_only",
// "unknown", "services_off". Every call reads the person's decisions afresh.
std::string eventStatus(EntityType kind);
std::string locationStatus();

// Guards run first in every data method; they return when access is granted and otherwise
// throw os_permission with guidance and the settings link as details.
void ensureEvents(EntityType kind);
void ensureContacts();
void ensureLocation();

// The methods that report and ask for the privacy permissions. None is served yet; the
// function keeps their place first in the start-up order, and takes the shared event store
// because a granted request for calendar or reminders access must reset it, so that the
// store sees the new permission.
void registerPermissions(Router& router, EventStoreBox& eventStore);

}  // namespace wren

#pragma once

#include <chrono>
#include <filesystem>
#include <string>

#include "app/Router.h"
#include "permissions/EventStoreBox.h"
#include "platform/ConsentDialog.h"
#include "platform/EventStore.h"

namespace wren {

using platform::EntityType;

// The status vocabulary: "granted", "denied", "not_determined", "restricted", "write_only",
// "unknown", "services_off". Every call reads the person's decisions afresh.
std::string eventStatus(EntityType kind);
std::string contactsStatus();
std::string locationStatus();

// Guards run first in every data method; they return when access is granted and otherwise
// throw os_permission with guidance and the settings link as details.
void ensureEvents(EntityType kind);
void ensureContacts();
void ensureLocation();

// What the permission requests ask with. The start-up code passes the real ones; tests pass
// a scripted dialog program and limits of milliseconds.
struct PermissionServices {
  platform::ConsentDialogs dialogs;
  // The executable whose embedded property list holds the consent texts.
  std::filesystem::path executable = "/proc/self/exe";
  // How long a consent dialog may stay open before it is closed unanswered.
  std::chrono::milliseconds dialogDeadline = std::chrono::seconds(60);
  // How long a location request waits for the person's decision.
  std::chrono::milliseconds locationLimit = std::chrono::seconds(60);
};

// permissions.status reports the six permissions without asking; permissions.request asks
// for one that was never decided in a consent dialog and answers with the resulting status.
// A granted request for calendar or reminders access resets the shared event store, so that
// it sees the new permission, and makes the store when there is none yet.
void registerPermissions(Router& router, EventStoreBox& eventStore, PermissionServices services);

}  // namespace wren

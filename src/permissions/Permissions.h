#pragma once

#include <memory>
#include <mutex>
#include <string>

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

// The one event store of the process, shared by every calendar and reminders request.
class EventStoreBox {
 public:
  static EventStoreBox& shared();
  platform::EventStore& store();
  // Drops everything the store has read, so that it sees changed permissions.
  void reset();

 private:
  EventStoreBox();
  std::unique_ptr<platform::EventStore> store_;
};

}  // namespace wren

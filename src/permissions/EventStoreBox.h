#pragma once

// The one event store of the process, shared by every calendar and reminders request. The
// start-up code makes the box with the way to build the store and hands it to the
// subsystems that use it; the store itself is built by the first request that needs it.
//
//   EventStoreBox eventStore(platform::makeVdirEventStore);
//   registerCalendar(router, eventStore);
//   ...
//   platform::EventStore& store = eventStore.store();  // in a handler: built on first use

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/EventStore.h"

namespace wren {

class EventStoreBox {
 public:
  using Factory = std::function<std::unique_ptr<platform::EventStore>()>;

  explicit EventStoreBox(Factory make);
  EventStoreBox(const EventStoreBox&) = delete;
  EventStoreBox& operator=(const EventStoreBox&) = delete;

  // The store, built exactly once even when requests on several threads ask at the same
  // time; the same store for every caller after. When building fails, the error passes
  // through and the next caller tries again.
  platform::EventStore& store();
  // Drops everything the store has read, so that it sees changed permissions.
  void reset();

 private:
  Factory make_;
  std::mutex making_;
  std::unique_ptr<platform::EventStore> store_;  // set once, under the mutex
  std::atomic<platform::EventStore*> built_ = nullptr;
};

}  // namespace wren

#include "permissions/EventStoreBox.h"

#include <utility>

namespace wren {

EventStoreBox::EventStoreBox(Factory make) : make_(std::move(make)) {}

platform::EventStore& EventStoreBox::store() {
  if (platform::EventStore* built = built_.load(std::memory_order_acquire)) return *built;
  std::lock_guard lock(making_);
  if (!store_) {
    store_ = make_();
    built_.store(store_.get(), std::memory_order_release);
  }
  return *store_;
}

void EventStoreBox::reset() { store().reset(); }

}  // namespace wren

#include "calendar/Calendar.h"

#include "calendar/Events.h"
#include "eventstore/Containers.h"

namespace wren {

void registerCalendar(Router& router, EventStoreBox& eventStore) {
  registerContainerMethods(router, EntityType::Event, eventStore);
  registerEventMethods(router, eventStore);
}

}  // namespace wren

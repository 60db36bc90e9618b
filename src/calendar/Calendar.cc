#include "calendar/Calendar.h"

#include "calendar/Events.h"
#include "eventstore/Containers.h"

namespace wren {

void registerCalendar(Router& router) {
  registerContainerMethods(router, EntityType::Event);
  registerEventMethods(router);
}

}  // namespace wren

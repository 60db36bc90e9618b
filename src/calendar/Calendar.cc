#include "calendar/Calendar.h"

#include "calendar/Containers.h"
#include "calendar/Events.h"

namespace wren {

void registerCalendar(Router& router) {
  registerContainerMethods(router, EntityType::Event);
  registerEventMethods(router);
}

}  // namespace wren

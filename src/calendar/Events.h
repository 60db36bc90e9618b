#pragma once

#include "app/Router.h"

namespace wren {

// calendar.events.list, .get, .create, .update, .delete and .export, in that order.
void registerEventMethods(Router& router);

}  // namespace wren

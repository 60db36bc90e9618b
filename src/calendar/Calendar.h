#pragma once

#include "app/Router.h"

namespace wren {

// The calendar methods: status, sources and calendars, then events.
void registerCalendar(Router& router);

}  // namespace wren

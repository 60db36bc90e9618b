#pragma once

#include "app/Json.h"
#include "app/Router.h"
#include "platform/Geocoder.h"
#include "platform/LocationSource.h"

namespace wren {

// The row of a fix: coordinates as they are, accuracy and altitude to one decimal, the
// altitude only when it is known, the time as local date-time text.
Json locationRow(const platform::LocationFix& fix);

// location.get (this machine's position and its address) and location.geocode (the place at
// given coordinates). Both answer later: their waits for a fix and an address are on the
// main queue and hold no thread.
void registerLocation(Router& router, platform::LocationSource& source, platform::Geocoder& geocoder);

}  // namespace wren

#pragma once

#include <string>
#include <string_view>

#include "platform/EventStore.h"

namespace wren::platform::vdir {

// A fresh random name for a new folder or file (a version 4 UUID in lower case).
std::string freshName();

// The id of the item stored in `fileName` of a calendar: the first 32 hex digits of the
// SHA-256 of "<kind>:<calendar id>/<file name>". The id stays the same across runs while the
// file stays where it is; it is never a path, holds neither "@" nor "/", and an event's id
// never equals a reminder's.
std::string itemIdFor(EntityType kind, std::string_view calendarId, std::string_view fileName);

}  // namespace wren::platform::vdir

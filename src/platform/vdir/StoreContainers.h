#pragma once

#include <optional>
#include <string>

#include "platform/EventStore.h"
#include "platform/vdir/StoreLayout.h"

namespace wren::platform::vdir {

// Changes to the containers of a store. Each change either happens whole or leaves the
// folders as they were; it throws StoreError for what the account refuses and FileError
// with the failing call and path.

// Makes a calendar (or reminder list) in the account: a folder of random name holding
// `displayname` and, when given, `color`. The folder is filled under a hidden name and then
// renamed into place, so no reader ever sees it half made. Gives the new folder's name.
// Accounts of subscriptions and birthdays accept no new containers.
std::string makeCalendarFolder(const SourceFolder& source, EntityType kind, const std::string& title,
                               std::optional<Rgb> color);

// Rewrites the title and colour that are given, each file atomically and only over the
// version read just before (FileChangedError when another program writes it meanwhile);
// when the colour cannot be written, the title is put back as it was.
void writeCalendarMetadata(const CalendarFolder& calendar, const std::optional<std::string>& title,
                           std::optional<Rgb> color);

}  // namespace wren::platform::vdir

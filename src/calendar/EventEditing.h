#pragma once

// Changing events: the alarms and span of a request, and the one routine that reads the
// editable fields (title, all_day, start, end, location, notes, url, alarms_minutes_before,
// recurrence) and writes them into an event.
//
//   platform::EventItem event;
//   event.calendarId = containerForNewItem(store, EntityType::Event, params.string("calendar")).id;
//   std::vector<std::string> changed = applyEventFields(event, params, Editing::Creating);

#include <optional>
#include <string>
#include <vector>

#include "app/Json.h"
#include "app/Params.h"
#include "platform/EventStore.h"

namespace wren {

// The alarms of `alarms_minutes_before`: nothing when the key is absent (the alarms stay
// as they are), an empty list to remove them all.
std::optional<std::vector<platform::Alarm>> alarmList(const Params& params);

// The part of a repeating event a change applies to, from `span`; a one-off event needs
// none.
platform::Span span(const Params& params, const platform::EventItem& event);
// "this" or "future".
std::string spanText(platform::Span span);

// Whether the fields are written into a new event or into one read from the store; a new
// event gets a start and an end even when the request names neither.
enum class Editing { Creating, Updating };

// Writes the editable fields the request carries into the event and gives the names of
// those applied, in the order they were applied. The first invalid field ends it with
// invalid_args; fields written before stay written in the (unsaved) event.
std::vector<std::string> applyEventFields(platform::EventItem& event, const Params& params, Editing editing);

// The handlers of calendar.events.create, .update and .delete; access is checked where they
// are registered.
Json createEvent(platform::EventStore& store, const Params& params);
Json updateEvent(platform::EventStore& store, const Params& params);
Json deleteEvent(platform::EventStore& store, const Params& params);

}  // namespace wren

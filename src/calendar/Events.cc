#include "calendar/Events.h"

#include "app/HelperError.h"
#include "calendar/EventEditing.h"
#include "calendar/EventQueries.h"
#include "calendar/IcsExport.h"
#include "permissions/Permissions.h"

namespace wren {

namespace {

// calendar.events.export: one event by id (its whole series unless occurrence_only), or
// the events of a window that match the query, by start. Declined events are exported too.
Json exportEvents(const Params& params) {
  ensureEvents(EntityType::Event);
  OccurrenceExport mode =
      params.boolean("occurrence_only") == true ? OccurrenceExport::OneByOne : OccurrenceExport::AsSeries;
  platform::EventStore& store = EventStoreBox::shared().store();
  if (std::optional<std::string> id = params.string("event_id")) return exportICS({resolveEvent(store, *id)}, mode);
  EventWindow window = eventWindow(params);
  std::optional<std::string> query = params.string("query");
  std::vector<platform::EventItem> events = fetchEvents(store, window, eventCalendars(params));
  keepMatching(events, query, Declined::Keep);
  sortByStart(events);
  return exportICS(events, mode);
}

}  // namespace

void registerEventMethods(Router& router) {
  router.registerMethod("calendar.events.list", listEvents);
  router.registerMethod("calendar.events.get", getEvent);
  router.registerMethod("calendar.events.create", createEvent);
  router.registerMethod("calendar.events.update", updateEvent);
  router.registerMethod("calendar.events.delete", deleteEvent);
  router.registerMethod("calendar.events.export", exportEvents);
}

}  // namespace wren

#include "calendar/Events.h"

#include "calendar/EventEditing.h"
#include "calendar/EventQueries.h"
#include "calendar/IcsExport.h"
#include "eventstore/Containers.h"
#include "permissions/Permissions.h"

namespace wren {

namespace {

// calendar.events.export: one event by id (its whole series unless occurrence_only), or
// the events of a window that match the query, by start. Declined events are exported too.
Json exportEvents(const Params& params) {
  OccurrenceExport mode =
      params.boolean("occurrence_only") == true ? OccurrenceExport::OneByOne : OccurrenceExport::AsSeries;
  platform::EventStore& store = EventStoreBox::shared().store();
  if (std::optional<std::string> id = params.string("event_id")) return exportICS({resolveEvent(store, *id)}, mode);
  EventWindow window = eventWindow(params);
  EventFilter filter(params.string("query"), Declined::Keep);
  std::vector<platform::EventItem> events = fetchEvents(store, window, eventCalendars(params), filter);
  sortByStart(events);
  return exportICS(events, mode);
}

}  // namespace

void registerEventMethods(Router& router) {
  router.registerMethod("calendar.events.list", guarded(EntityType::Event, listEvents));
  router.registerMethod("calendar.events.get", guarded(EntityType::Event, getEvent));
  router.registerMethod("calendar.events.create", guarded(EntityType::Event, createEvent));
  router.registerMethod("calendar.events.update", guarded(EntityType::Event, updateEvent));
  router.registerMethod("calendar.events.delete", guarded(EntityType::Event, deleteEvent));
  router.registerMethod("calendar.events.export", guarded(EntityType::Event, exportEvents));
}

}  // namespace wren

#include "calendar/Calendar.h"

#include "calendar/EventEditing.h"
#include "calendar/EventQueries.h"
#include "calendar/IcsExport.h"
#include "eventstore/Containers.h"

namespace wren {

namespace {

// calendar.events.export: one event by id (its whole series unless occurrence_only), or
// the events of a window that match the query, by start. Declined events are exported too.
Json exportEvents(platform::EventStore& store, const Params& params) {
  OccurrenceExport mode =
      params.boolean("occurrence_only") == true ? OccurrenceExport::OneByOne : OccurrenceExport::AsSeries;
  if (std::optional<std::string> id = params.string("event_id")) {
    std::vector<platform::EventItem> one;  // a braced list would copy the event
    one.push_back(resolveEvent(store, *id));
    return exportICS(store, one, mode);
  }
  EventWindow window = eventWindow(params);
  EventFilter filter(params.string("query"), Declined::Keep);
  std::vector<platform::EventItem> events = fetchEvents(store, window, eventCalendars(store, params), filter);
  sortByStart(events);
  return exportICS(store, events, mode);
}

}  // namespace

void registerCalendar(Router& router, EventStoreBox& eventStore) {
  const ContainerMethods calendars(EntityType::Event, eventStore);
  router.registerMethod("calendar.status", calendars.status());
  router.registerMethod("calendar.sources", calendars.sources());
  router.registerMethod("calendar.calendars.list", calendars.list());
  router.registerMethod("calendar.calendars.get", calendars.get());
  router.registerMethod("calendar.calendars.create", calendars.create());
  router.registerMethod("calendar.calendars.update", calendars.update());
  router.registerMethod("calendar.calendars.delete", calendars.remove());
  router.registerMethod("calendar.events.list", guarded(EntityType::Event, eventStore, listEvents));
  router.registerMethod("calendar.events.get", guarded(EntityType::Event, eventStore, getEvent));
  router.registerMethod("calendar.events.create", guarded(EntityType::Event, eventStore, createEvent));
  router.registerMethod("calendar.events.update", guarded(EntityType::Event, eventStore, updateEvent));
  router.registerMethod("calendar.events.delete", guarded(EntityType::Event, eventStore, deleteEvent));
  router.registerMethod("calendar.events.export", guarded(EntityType::Event, eventStore, exportEvents));
}

}  // namespace wren

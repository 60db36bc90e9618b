#include "calendar/EventEditing.h"

#include <chrono>
#include <cmath>
#include <string_view>

#include "app/HelperError.h"
#include "calendar/EventQueries.h"
#include "calendar/EventRows.h"
#include "eventstore/Containers.h"
#include "eventstore/Recurrence.h"
#include "platform/LocalTime.h"

namespace wren {

namespace {

using platform::EventItem;

constexpr std::chrono::seconds kDefaultLength{3600};
constexpr std::size_t kMostAlarms = 10;

// The fields a request can change on an existing event, for the nothing-to-change message.
constexpr const char* kNothingToChange =
    "Nothing to change: pass at least one field (title, start, end, all_day, calendar, location, notes, "
    "url, alarms_minutes_before, recurrence).";

// The delimiters RFC 3986 excludes from URLs, which an event's url may not hold unescaped
// either.
constexpr std::string_view kExcludedDelimiters = "\"<>\\^`{|}";

// The end an event gets when the request names none.
Instant derivedEnd(const EventItem& event, Instant start, bool startGiven, Editing editing) {
  if (editing == Editing::Creating) return event.allDay ? start : start + kDefaultLength;
  if (startGiven && event.start && event.end) return start + (*event.end - *event.start);
  return event.end.value_or(start + kDefaultLength);
}

// All-day events run from the midnight of their first day to the midnight of their last;
// timed ones must end after they start.
void applyDates(EventItem& event, std::optional<Instant> start, std::optional<Instant> end, Editing editing) {
  Instant s = start ? *start : event.start.value_or(now());
  Instant e = end ? *end : derivedEnd(event, s, start.has_value(), editing);
  if (event.allDay) {
    s = platform::startOfDay(s);
    e = platform::startOfDay(e);
    if (e < s) throwInvalidArgs("end must not be before start");
  } else if (e <= s) {
    throwInvalidArgs("end must be after start");
  }
  event.start = s;
  event.end = e;
}

// All-day events have no zone. A timed event keeps its zone, or its floating time; one that
// had no time of day before (new, or all-day until now) is placed in the current zone, as
// the person sees it.
void settleZone(EventItem& event, bool wasAllDay, Editing editing) {
  if (event.allDay) {
    event.timeZone.reset();
  } else if (!event.timeZone && (editing == Editing::Creating || wasAllDay)) {
    event.timeZone = platform::currentZoneId();
  }
}

// Steps for title, all_day, start and end.
void applyTitleAndDates(EventItem& event, const Params& params, Editing editing, std::vector<std::string>& changed) {
  if (std::optional<std::string> title = params.string("title")) {
    event.title = *title;
    changed.push_back("title");
  }
  std::optional<bool> allDay = params.boolean("all_day");
  bool wasAllDay = event.allDay;
  std::optional<Instant> start = params.date("start");
  std::optional<Instant> end = params.date("end");
  if (allDay) {
    if (!*allDay && wasAllDay && editing == Editing::Updating && !start)
      throwInvalidArgs("To turn an all-day event into a timed one, also pass start (and end).");
    event.allDay = *allDay;
    changed.push_back("all_day");
  }
  if (editing == Editing::Creating || start || end || allDay) {
    applyDates(event, start, end, editing);
    settleZone(event, wasAllDay, editing);
    if (start) changed.push_back("start");
    if (end) changed.push_back("end");
  }
}

// Steps for location, notes and url: each is applied whenever its key is present, and a
// value that is empty (or not text) clears the field.
void applyTexts(EventItem& event, const Params& params, std::vector<std::string>& changed) {
  if (params.contains("location")) {
    event.location = params.string("location");
    changed.push_back("location");
  }
  if (params.contains("notes")) {
    event.notes = params.untrimmedString("notes");
    changed.push_back("notes");
  }
  if (params.contains("url")) {
    event.url = params.absoluteUrl("url", kExcludedDelimiters);
    changed.push_back("url");
  }
}

// Steps for alarms and recurrence: each replaces what the event had.
void applyAlarmsAndRecurrence(EventItem& event, const Params& params, std::vector<std::string>& changed) {
  if (std::optional<std::vector<platform::Alarm>> alarms = alarmList(params)) {
    event.alarms = std::move(*alarms);
    changed.push_back("alarms");
  }
  if (const Json* object = params.object("recurrence")) {
    std::optional<platform::RecurrenceRule> rule = recurrenceRule(*object);
    event.rules.clear();
    if (rule) event.rules.push_back(*rule);
    changed.push_back("recurrence");
  }
}

// Update and delete refuse events of calendars that do not accept changes; `verb` is
// "changed" or "deleted".
void requireWritableCalendar(const std::vector<platform::Calendar>& calendars, const EventItem& event,
                             const std::string& verb) {
  if (isWritableContainer(calendars, event.calendarId)) return;
  throwInvalidArgs("\"" + event.title + "\" is in the read-only calendar \"" + event.calendarTitle +
                   "\" and cannot be " + verb + ".");
}

// Saves and gives the event as saved; a refusal of the store becomes execution_failed
// after the prefix that names the action.
EventItem saveOrFail(platform::EventStore& store, const EventItem& event, platform::Span span,
                     const std::string& prefix) {
  try {
    return store.saveEvent(event, span);
  } catch (const platform::StoreError& error) {
    throwExecutionFailed(prefix + error.what());
  }
}

}  // namespace

std::optional<std::vector<platform::Alarm>> alarmList(const Params& params) {
  const Json* value = params.find("alarms_minutes_before");
  if (!value || value->is_null()) return std::nullopt;
  if (!value->is_array()) throwInvalidArgs("alarms_minutes_before must be an array of minutes");
  if (value->size() > kMostAlarms) throwInvalidArgs("At most 10 alarms");
  std::vector<platform::Alarm> alarms;
  for (const Json& minutes : *value) {
    if (!minutes.is_number() || !std::isfinite(minutes.get<double>()))
      throwInvalidArgs("alarms_minutes_before must contain numbers");
    platform::Alarm alarm;
    alarm.relativeOffset = minutes.get<double>() * -60.0;
    alarms.push_back(alarm);
  }
  return alarms;
}

platform::Span span(const Params& params, const EventItem& event) {
  if (std::optional<std::string> text = params.string("span")) {
    if (*text == "this") return platform::Span::ThisEvent;
    if (*text == "future") return platform::Span::FutureEvents;
    throwInvalidArgs("span must be \"this\" or \"future\", got " + *text);
  }
  if (!isSeriesOccurrence(event)) return platform::Span::ThisEvent;
  throwInvalidArgs("\"" + event.title +
                   "\" is a recurring event: pass span \"this\" (only this occurrence) or \"future\" "
                   "(this and all later ones).");
}

std::string spanText(platform::Span span) { return span == platform::Span::FutureEvents ? "future" : "this"; }

std::vector<std::string> applyEventFields(EventItem& event, const Params& params, Editing editing) {
  std::vector<std::string> changed;
  applyTitleAndDates(event, params, editing, changed);
  applyTexts(event, params, changed);
  applyAlarmsAndRecurrence(event, params, changed);
  return changed;
}

Json createEvent(platform::EventStore& store, const Params& params) {
  params.requireString("title");
  params.requireDate("start");
  platform::Calendar calendar = containerForNewItem(store, EntityType::Event, params.string("calendar"));
  EventItem event;
  event.calendarId = calendar.id;
  event.calendarTitle = calendar.title;
  applyEventFields(event, params, Editing::Creating);
  EventItem saved = saveOrFail(store, event, platform::Span::ThisEvent, "Calendar did not save the event: ");
  return eventRow(saved, RowForm::Detail);
}

Json updateEvent(platform::EventStore& store, const Params& params) {
  std::string id = params.requireString("event_id");
  EventItem event = resolveEvent(store, id);
  // One reading of the calendars serves both the check and the move to another calendar.
  std::vector<platform::Calendar> calendars = store.calendars(EntityType::Event);
  requireWritableCalendar(calendars, event, "changed");
  platform::Span sp = span(params, event);
  std::vector<std::string> changed = applyEventFields(event, params, Editing::Updating);
  if (std::optional<std::string> reference = params.string("calendar")) {
    platform::Calendar target = resolveContainer(EntityType::Event, calendars, *reference, Access::Writable);
    event.calendarId = target.id;
    event.calendarTitle = target.title;
    changed.push_back("calendar");
  } else if (changed.empty()) {
    throwInvalidArgs(kNothingToChange);
  }
  EventItem saved = saveOrFail(store, event, sp, "Calendar did not save the change: ");
  Json row = eventRow(saved, RowForm::Detail);
  row["changed"] = changed;
  return row;
}

Json deleteEvent(platform::EventStore& store, const Params& params) {
  std::string id = params.requireString("event_id");
  EventItem event = resolveEvent(store, id);
  platform::Span sp = span(params, event);
  Json row = eventRow(event, RowForm::Summary);
  requireConfirmation(params, "要删除日程「" + event.title + "」吗？", Json{{"event", row}});
  requireWritableCalendar(store.calendars(EntityType::Event), event, "deleted");
  try {
    store.removeEvent(event, sp);
  } catch (const platform::StoreError& error) {
    throwExecutionFailed(std::string("Calendar did not delete the event: ") + error.what());
  }
  return Json{{"deleted", true}, {"span", spanText(sp)}, {"event", std::move(row)}};
}

}  // namespace wren

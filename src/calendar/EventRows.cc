#include "calendar/EventRows.h"

#include <algorithm>
#include <cstddef>

#include "app/Dates.h"
#include "eventstore/Recurrence.h"

namespace wren {
namespace {

using platform::Availability;
using platform::EventItem;
using platform::Participant;
using platform::ParticipantStatus;

constexpr std::size_t kDetailAttendeeLimit = 20;
constexpr std::string_view kMailtoScheme = "mailto:";

std::string statusText(ParticipantStatus status) {
  switch (status) {
    case ParticipantStatus::Pending: return "pending";
    case ParticipantStatus::Accepted: return "accepted";
    case ParticipantStatus::Declined: return "declined";
    case ParticipantStatus::Tentative: return "tentative";
    case ParticipantStatus::Delegated: return "delegated";
    case ParticipantStatus::Completed: return "completed";
    case ParticipantStatus::InProcess: return "in_process";
    case ParticipantStatus::Unknown: break;
  }
  return "unknown";
}

// Busy, and calendars that do not know availability, are the default and get no key.
std::optional<std::string> availabilityText(Availability availability) {
  switch (availability) {
    case Availability::Free: return "free";
    case Availability::Tentative: return "tentative";
    case Availability::Unavailable: return "unavailable";
    case Availability::Busy:
    case Availability::NotSupported: break;
  }
  return std::nullopt;
}

Json timeValue(const EventItem& event, const std::optional<Instant>& instant) {
  return event.allDay ? dayValue(instant) : dateTimeValue(instant);
}

void addAttendeeSummary(Json& row, const EventItem& event) {
  if (event.attendees.empty()) return;
  row["attendee_count"] = event.attendees.size();
  const auto me = std::find_if(event.attendees.begin(), event.attendees.end(),
                               [](const Participant& p) { return p.isCurrentUser; });
  if (me != event.attendees.end()) row["my_status"] = statusText(me->status);
}

Json attendeeRow(const Participant& attendee) {
  Json row = Json::object();
  row["name"] = participantName(attendee);
  row["status"] = statusText(attendee.status);
  if (std::optional<std::string> email = participantEmail(attendee)) row["email"] = *email;
  if (attendee.isCurrentUser) row["is_me"] = true;
  return row;
}

Json alarmRow(const platform::Alarm& alarm) {
  Json row = Json::object();
  if (alarm.absoluteDate) {
    row["at"] = localDateTimeText(*alarm.absoluteDate);
  } else {
    row["minutes_before"] = alarmMinutesBefore(alarm);
  }
  return row;
}

void addDetail(Json& row, const EventItem& event) {
  if (!event.attendees.empty()) {
    Json attendees = Json::array();
    const std::size_t shown = std::min(event.attendees.size(), kDetailAttendeeLimit);
    for (std::size_t i = 0; i < shown; ++i) attendees.push_back(attendeeRow(event.attendees[i]));
    row["attendees"] = std::move(attendees);
  }
  if (!event.rules.empty()) {
    row["recurrence"] = rruleText(event.rules.front(), event.allDay ? UntilForm::Day : UntilForm::Moment);
  }
  if (event.detached) row["detached"] = true;
  if (!event.alarms.empty()) {
    Json alarms = Json::array();
    for (const platform::Alarm& alarm : event.alarms) alarms.push_back(alarmRow(alarm));
    row["alarms"] = std::move(alarms);
  }
  if (event.timeZone) row["time_zone"] = *event.timeZone;
  if (!event.externalId.empty()) row["external_id"] = event.externalId;
  if (event.lastModified) row["modified"] = localDateTimeText(*event.lastModified);
}

std::string occurrenceId(const EventItem& event, const std::string& startText) {
  return event.itemId + "@" + startText;
}

}  // namespace

bool isSeriesOccurrence(const EventItem& event) {
  return event.repeats || event.detached || !event.rules.empty();
}

std::string eventId(const EventItem& event) {
  if (!isSeriesOccurrence(event) || !event.start) return event.itemId;
  return occurrenceId(event, localDateTimeText(*event.start));
}

Json eventRow(const EventItem& event, RowForm form) {
  Json row = Json::object();
  // A timed occurrence's id ends with the very text its start shows, so it is made once.
  std::optional<std::string> startText;
  if (event.start && !event.allDay) startText = localDateTimeText(*event.start);
  row["event_id"] = startText && isSeriesOccurrence(event) ? occurrenceId(event, *startText) : eventId(event);
  row["title"] = event.title;
  row["start"] = startText ? Json(*startText) : timeValue(event, event.start);
  row["end"] = timeValue(event, event.end);
  row["all_day"] = event.allDay;
  row["calendar"] = event.calendarTitle;
  row["calendar_id"] = event.calendarId;
  row["recurring"] = isSeriesOccurrence(event);
  if (event.location && !event.location->empty()) row["location"] = *event.location;
  addNotes(row, event.notes, form == RowForm::Detail ? kDetailNotesLimit : kSummaryNotesLimit);
  if (event.url) row["url"] = *event.url;
  if (std::optional<std::string> availability = availabilityText(event.availability)) {
    row["availability"] = *availability;
  }
  if (event.status == platform::EventStatus::Canceled) row["status"] = "canceled";
  if (event.organizer) row["organizer"] = participantName(*event.organizer);
  addAttendeeSummary(row, event);
  if (form == RowForm::Detail) addDetail(row, event);
  return row;
}

std::optional<std::string> participantEmail(const Participant& participant) {
  const std::string& url = participant.url;
  if (url.size() < kMailtoScheme.size()) return std::nullopt;
  for (std::size_t i = 0; i < kMailtoScheme.size(); ++i) {
    char c = url[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kMailtoScheme[i]) return std::nullopt;
  }
  return url.substr(kMailtoScheme.size());
}

std::string participantName(const Participant& participant) {
  if (!participant.name.empty()) return participant.name;
  if (std::optional<std::string> email = participantEmail(participant)) return *email;
  return participant.url;
}

}  // namespace wren

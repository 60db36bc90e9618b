#pragma once

#include <optional>
#include <string>

#include "app/Json.h"
#include "eventstore/ItemRows.h"
#include "platform/EventStore.h"

namespace wren {

// The summary row is what lists are made of; the detail row adds attendees, recurrence,
// alarms, zone, external id and modification time, and longer notes.
enum class RowForm { Summary, Detail };

// True for occurrences of a series: the event repeats or is an occurrence changed on its own.
bool isSeriesOccurrence(const platform::EventItem& event);

// The item id, followed for an occurrence of a series by "@" and its start as local
// date-time text.
std::string eventId(const platform::EventItem& event);
Json eventRow(const platform::EventItem& event, RowForm form);

std::optional<std::string> participantEmail(const platform::Participant& participant);
std::string participantName(const platform::Participant& participant);

}  // namespace wren

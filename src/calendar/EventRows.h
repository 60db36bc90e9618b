#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "app/Json.h"
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

// Minutes before the start of a relative alarm, rounded half away from zero.
long long alarmMinutesBefore(const platform::Alarm& alarm);

// The characters of notes that rows show: few in summary (list) rows, more in detail rows.
constexpr std::size_t kSummaryNotesLimit = 300;
constexpr std::size_t kDetailNotesLimit = 2000;
// Adds `notes` cut to at most `limit` characters, and `notes_truncated` when cut; absent or
// empty notes add nothing.
void addNotes(Json& row, const std::optional<std::string>& notes, std::size_t limit);

}  // namespace wren

#pragma once

// The parts of rows that events and reminders share: their notes, cut to a length that
// depends on the form of the row, and the minutes of a relative alarm.
//
//   addNotes(row, item.notes, form == Detail ? kDetailNotesLimit : kSummaryNotesLimit);
//   alarmRow["minutes_before"] = alarmMinutesBefore(alarm);

#include <cstddef>
#include <optional>
#include <string>

#include "app/Json.h"
#include "platform/EventStore.h"

namespace wren {

// The characters of notes that rows show: few in summary (list) rows, more in detail rows.
constexpr std::size_t kSummaryNotesLimit = 300;
constexpr std::size_t kDetailNotesLimit = 2000;
// Adds `notes` cut to at most `limit` characters, and `notes_truncated` when cut; absent or
// empty notes add nothing.
void addNotes(Json& row, const std::optional<std::string>& notes, std::size_t limit);

// Minutes before the start (or due time) of a relative alarm, rounded half away from zero.
long long alarmMinutesBefore(const platform::Alarm& alarm);

}  // namespace wren

#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/Json.h"
#include "platform/EventStore.h"

namespace wren {

// iCalendar text values: backslash, semicolon and comma escaped; line breaks as \n. The
// same escaping and folding as the stored files get (ContentLines.h).
std::string icsEscape(std::string_view text);
// Folds one content line into physical lines of at most 75 octets joined by CRLF and a
// space, never splitting a character.
std::string icsFold(std::string_view line);
// An alarm trigger duration: 15 minutes before gives -PT15M, 5 after gives PT5M.
std::string icsDuration(long long minutesBefore);

enum class VeventForm { Occurrence, Series };
// The unfolded content lines of one VEVENT.
std::vector<std::string> vevent(const platform::EventItem& event, VeventForm form,
                                const std::string& stamp);

enum class OccurrenceExport { AsSeries, OneByOne };
// The calendar object of the events, with count, truncation and notes.
Json exportICS(platform::EventStore& store, const std::vector<platform::EventItem>& events,
               OccurrenceExport mode);

// The series by its item id, as its master describes it, or nothing; it counts as detached
// when one of its occurrences that the export cannot see was changed on its own.
using SeriesLookup = std::function<std::optional<platform::EventItem>(const std::string& itemId)>;
// As above, with the series read through `lookup` and `stamp` as the DTSTAMP of every
// event; the plain form reads the series from the store and stamps the current time. A series
// written with its rule keeps its zone, and the calendar object then describes that zone
// with a VTIMEZONE (outside the byte limit).
Json exportICS(const std::vector<platform::EventItem>& events, OccurrenceExport mode,
               const SeriesLookup& lookup, const std::string& stamp);

}  // namespace wren

#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/Json.h"
#include "platform/EventStore.h"
#include "platform/formats/IcalText.h"

namespace wren {

// The recurrence parameter object of the create and update methods of events and
// reminders, as a rule; nothing when it asks for no repetition ("none"). Throws
// invalid_args for a bad object.
std::optional<platform::RecurrenceRule> recurrenceRule(const Json& object);

// The value text of an iCalendar RRULE for the rule (no "RRULE:" prefix), from the one
// writer that the stored files use too. UNTIL is written as a UTC moment, as a day (for
// all-day series), or as a local wall-clock time in the current zone (for a series whose
// times float, which iCalendar requires to match).
using platform::rruleText;
using platform::UntilForm;

// yyyyMMdd'T'HHmmss'Z' in UTC, and yyyyMMdd in the current zone.
std::string icsUTC(Instant instant);
std::string icsDay(Instant instant);

// The items with the separator between them; an item adds no separator while the text
// joined so far is empty.
std::string joined(const std::vector<std::string>& items, std::string_view separator);

}  // namespace wren

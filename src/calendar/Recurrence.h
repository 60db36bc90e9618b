#pragma once

#include <optional>
#include <string>

#include "app/Json.h"
#include "platform/EventStore.h"

namespace wren {

// The recurrence parameter object of the create and update methods of events and
// reminders, as a rule; nothing when it asks for no repetition ("none"). Throws
// invalid_args for a bad object.
std::optional<platform::RecurrenceRule> recurrenceRule(const Json& object);

// The value text of an iCalendar RRULE for the rule (no "RRULE:" prefix). `dateOnly`
// writes UNTIL as a day rather than a UTC moment.
enum class UntilForm { Moment, Day };
std::string rruleText(const platform::RecurrenceRule& rule, UntilForm untilForm);

// yyyyMMdd'T'HHmmss'Z' in UTC, and yyyyMMdd in the current zone.
std::string icsUTC(Instant instant);
std::string icsDay(Instant instant);

}  // namespace wren

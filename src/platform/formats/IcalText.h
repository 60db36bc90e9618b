#pragma once

// The iCalendar value texts the helper writes, without libical, so that the stored files,
// the exported calendar text and the `recurrence` of rows all come from one writer:
//
//   RecurrenceRule rule;                       // every other week on Monday, ten times
//   rule.frequency = Frequency::Weekly;
//   rule.interval = 2;
//   rule.occurrenceCount = 10;
//   rule.daysOfWeek = {{2, 0}};
//   rruleText(rule, UntilForm::Moment);        // "FREQ=WEEKLY;INTERVAL=2;COUNT=10;BYDAY=MO"
//   utcText(instant);                          // "20250301T013000Z"

#include <optional>
#include <string>
#include <string_view>

#include "platform/EventStore.h"
#include "platform/Instant.h"
#include "platform/LocalTime.h"

namespace wren::platform {

// The instant that wall-clock fields name in UTC, and back: calendar arithmetic on wall
// clocks, free of any zone's offsets.
Instant utcInstant(const CivilTime& civil);
CivilTime utcCivil(Instant instant);

// Value texts: "20250301", "20250301T090000", "20250301T090000Z".
std::string dateText(const CivilTime& civil);
std::string localDateTimeText(const CivilTime& civil);
std::string utcText(Instant instant);

// The two-letter day code of a weekday number (1 Sunday ... 7 Saturday), and back (in any
// letter case). Nothing for a number or code outside the week.
std::optional<std::string_view> weekdayCode(int weekday);
std::optional<int> weekdayOfCode(std::string_view code);

// A DURATION value for an offset in seconds: "-PT15M", "PT0S", "-P1D", "PT1H30M", "-PT90S".
std::string durationText(double seconds);

// How UNTIL is written: RFC 5545 wants it in UTC when DTSTART has a zone (Moment), as a
// DATE for all-day series (Day, the day in the current zone), and as a wall-clock time in
// the current zone for floating series (FloatingMoment).
enum class UntilForm { Moment, Day, FloatingMoment };

// The RRULE value text, without the "RRULE:" prefix
// ("FREQ=WEEKLY;INTERVAL=2;UNTIL=20250301T045959Z;BYDAY=MO,-1FR"): the parts FREQ,
// INTERVAL (when 2 or more), UNTIL or else COUNT, BYDAY, BYMONTHDAY, BYMONTH, BYWEEKNO,
// BYYEARDAY, BYSETPOS and WKST, in this order, each only when the rule has it. A rule with
// both an end date and a count ends by date; a weekday outside the week is written as MO;
// a week starting on Monday, the default, has no WKST.
std::string rruleText(const RecurrenceRule& rule, UntilForm untilForm);

}  // namespace wren::platform

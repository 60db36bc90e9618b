#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Instant.h"

namespace wren::platform {

// Calendar and time-zone operations (ICU, Gregorian calendar). A zone id is an IANA name
// ("Asia/Shanghai", "UTC"); the empty id means the system's current zone, detected afresh
// on every call (TZ, else /etc/localtime), so a change of zone applies at once.

// The IANA id of the current zone.
std::string currentZoneId();
// True when the zone database knows the id.
bool isKnownZone(std::string_view zoneId);

// Wall-clock fields of a calendar day and time of day.
struct CivilTime {
  int year = 1970;
  int month = 1;  // 1...12
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  bool operator==(const CivilTime&) const = default;
};

CivilTime civilFromInstant(Instant instant, std::string_view zoneId = {});
// The instant of a wall-clock time in a zone, or nothing when the fields are not a valid
// date. A time skipped by a clock change resolves as the calendar does (to the later
// side of the gap); a repeated one to its first occurrence.
std::optional<Instant> instantFromCivil(const CivilTime& civil, std::string_view zoneId = {});
// Offset from UTC in seconds at that instant (daylight saving included).
int utcOffsetSeconds(Instant instant, std::string_view zoneId = {});

// Midnight at the start of the instant's day.
Instant startOfDay(Instant instant, std::string_view zoneId = {});
// Adds calendar days keeping the wall-clock time (so across a clock change a day may be
// 23 or 25 hours long).
Instant addDays(Instant instant, int days, std::string_view zoneId = {});

// The instant's calendar day in the zone, as yyyy-MM-dd.
std::string formatDay(Instant instant, std::string_view zoneId = {});
// The instant as ISO 8601 internet date-time in the zone, without fractions (pattern
// yyyy-MM-dd'T'HH:mm:ssXXX): 2025-03-01T09:30:00+08:00, or 2025-03-01T01:30:00Z at offset zero.
std::string formatDateTime(Instant instant, std::string_view zoneId = {});
// Formats with an ICU date pattern in locale en_US_POSIX ("yyyy-MM-dd'T'HH:mm:ssXXX").
std::string formatPattern(Instant instant, std::string_view pattern, std::string_view zoneId = {});
// Parses the whole text with an ICU date pattern in locale en_US_POSIX, non-lenient; a
// text with trailing characters, or a date that does not exist, gives nothing.
std::optional<Instant> parsePattern(std::string_view text, std::string_view pattern,
                                    std::string_view zoneId = {});

}  // namespace wren::platform

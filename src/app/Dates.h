#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/Json.h"
#include "platform/Instant.h"

namespace wren {

// Reads the date-time texts the host sends, trying in order: ISO 8601 with a zone and
// fractional seconds, ISO 8601 with a zone, then local wall-clock forms
// yyyy-MM-dd'T'HH:mm:ss.SSS, yyyy-MM-dd'T'HH:mm:ss, yyyy-MM-dd'T'HH:mm,
// yyyy-MM-dd HH:mm:ss, yyyy-MM-dd HH:mm and yyyy-MM-dd (local midnight). The whole text
// must match. No trimming.
std::optional<Instant> parseDate(std::string_view text);
// True when the text has the plain day form yyyy-MM-dd, which parseDate reads as local
// midnight and callers take as naming the whole day.
bool isDayText(std::string_view text);

// The calendar day of the instant in the current zone, as yyyy-MM-dd.
std::optional<std::string> isoDay(std::optional<Instant> instant);

// The instant as ISO 8601 internet date-time in the current zone, without fractions:
// 2025-03-01T09:30:00+08:00, or 2025-03-01T01:30:00Z at offset zero.
std::string localDateTimeText(Instant instant);

// Result values: the local date-time text, or null when there is no instant.
Json dateTimeValue(std::optional<Instant> instant);
// Result values: the day text, or null when there is no instant.
Json dayValue(std::optional<Instant> instant);

}  // namespace wren

#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Instant.h"

namespace wren::platform {

// The VTIMEZONE component text (RFC 5545, CRLF line ends, unfolded lines) of a zone of the
// system zone database: the observance in effect at `from`, every later transition and the
// rules that continue them, so that `from` and every later time convert as the zone
// database does. Nothing for an unknown zone.
std::optional<std::string> vtimezoneText(std::string_view zoneId, Instant from);

}  // namespace wren::platform

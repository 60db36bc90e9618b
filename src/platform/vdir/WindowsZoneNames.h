#pragma once

// The zone a Windows time zone display name stands for. Outlook and Exchange name zones in
// TZIDs by the text Windows shows for them, without a VTIMEZONE at times:
//
//   zoneOfWindowsDisplayName("(UTC-05:00) Eastern Time (US & Canada)");       // "America/New_York"
//   zoneOfWindowsDisplayName("(UTC+01:00) Amsterdam, Berlin, Bern, Rome");    // "Europe/Amsterdam"
//   zoneOfWindowsDisplayName("(GMT+10:00) Canberra, Melbourne, Sydney");       // "Australia/Melbourne"
//
// The names are matched against ICU's English zone names: a generic zone name ("Eastern
// Time", "Brasilia" for "Brasilia Time") gives the zone that stands for it, else the first
// listed place that names a zone's city. Either must have the standard offset the name
// opens with. Windows ids ("Eastern Standard Time") are ICU's own mapping, not this.

#include <optional>
#include <string>
#include <string_view>

namespace wren::platform::vdir {

std::optional<std::string> zoneOfWindowsDisplayName(std::string_view name);

}  // namespace wren::platform::vdir

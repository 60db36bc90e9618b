#include "platform/ZoneText.h"

#include <unicode/tztrans.h>
#include <unicode/unistr.h>
#include <unicode/vtzone.h>

#include <memory>

#include "platform/IcuSupport.h"
#include "platform/LocalTime.h"

namespace wren::platform {
namespace {

// ICU writes the transitions strictly after the time it is given, so the observance in
// effect at `from` itself would be missing and readers would apply the next one to the
// times before it. Starting just before the last transition at or before `from` keeps it.
UDate coveredFrom(const icu::VTimeZone& zone, Instant from) {
  const UDate at = static_cast<UDate>(from.time_since_epoch().count());
  icu::TimeZoneTransition previous;
  if (!zone.getPreviousTransition(at, true, previous)) return at;
  return previous.getTime() - 1;
}

}  // namespace

std::optional<std::string> vtimezoneText(std::string_view zoneId, Instant from) {
  // ICU answers an unknown id with a zone of its own that computes as UTC; a VTIMEZONE
  // for it would hide the mistake, so unknown ids give nothing.
  if (!isKnownZone(zoneId)) return std::nullopt;
  std::unique_ptr<icu::VTimeZone> zone(icu::VTimeZone::createVTimeZoneByID(icuSupport::fromUtf8(zoneId)));
  if (!zone) return std::nullopt;
  icu::UnicodeString text;
  UErrorCode status = U_ZERO_ERROR;
  zone->write(coveredFrom(*zone, from), text, status);
  if (U_FAILURE(status)) return std::nullopt;
  return icuSupport::toUtf8(text);
}

}  // namespace wren::platform

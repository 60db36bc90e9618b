#include "platform/vdir/WindowsZoneNames.h"

#include <unicode/locid.h>
#include <unicode/strenum.h>
#include <unicode/timezone.h>
#include <unicode/tznames.h>

#include <map>
#include <memory>
#include <vector>

#include "platform/IcuSupport.h"

namespace wren::platform::vdir {
namespace {

using icuSupport::fromUtf8;
using icuSupport::toUtf8;

// ICU's English names of places and of generic zones, each with the zone it stands for.
struct ZoneNames {
  std::map<std::string, std::string> byPlace;        // "Melbourne" -> Australia/Melbourne
  std::map<std::string, std::string> byGenericName;  // "Eastern Time" -> America/New_York
};

ZoneNames loadNames() {
  ZoneNames names;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::TimeZoneNames> english(icu::TimeZoneNames::createInstance(icu::Locale::getEnglish(), status));
  if (U_FAILURE(status) || !english) return names;
  std::unique_ptr<icu::StringEnumeration> zones(
      icu::TimeZone::createTimeZoneIDEnumeration(UCAL_ZONE_TYPE_CANONICAL_LOCATION, nullptr, nullptr, status));
  for (const icu::UnicodeString* id = zones && U_SUCCESS(status) ? zones->snext(status) : nullptr;
       id && U_SUCCESS(status); id = zones->snext(status)) {
    icu::UnicodeString place;
    english->getExemplarLocationName(*id, place);
    if (!place.isEmpty()) names.byPlace.emplace(toUtf8(place), toUtf8(*id));
  }
  status = U_ZERO_ERROR;
  std::unique_ptr<icu::StringEnumeration> metazones(english->getAvailableMetaZoneIDs(status));
  for (const icu::UnicodeString* id = metazones && U_SUCCESS(status) ? metazones->snext(status) : nullptr;
       id && U_SUCCESS(status); id = metazones->snext(status)) {
    icu::UnicodeString generic;
    icu::UnicodeString reference;
    english->getMetaZoneDisplayName(*id, UTZNM_LONG_GENERIC, generic);
    english->getReferenceZoneID(*id, "001", reference);
    if (!generic.isEmpty() && !reference.isEmpty()) names.byGenericName.emplace(toUtf8(generic), toUtf8(reference));
  }
  return names;
}

const ZoneNames& zoneNames() {
  static const ZoneNames names = loadNames();
  return names;
}

// "(UTC-05:00) rest", "(GMT+01:00) rest", "(UTC) rest": the offset in minutes and the rest.
std::optional<std::pair<int, std::string_view>> splitOffset(std::string_view name) {
  if (name.size() < 5 || name[0] != '(' || (name.substr(1, 3) != "UTC" && name.substr(1, 3) != "GMT")) {
    return std::nullopt;
  }
  const std::size_t close = name.find(')');
  if (close == std::string_view::npos) return std::nullopt;
  const std::string_view offset = name.substr(4, close - 4);
  int minutes = 0;
  if (!offset.empty()) {
    if (offset.size() != 6 || (offset[0] != '+' && offset[0] != '-') || offset[3] != ':') return std::nullopt;
    for (std::size_t i : {1, 2, 4, 5}) {
      if (offset[i] < '0' || offset[i] > '9') return std::nullopt;
    }
    minutes = ((offset[1] - '0') * 10 + (offset[2] - '0')) * 60 + (offset[4] - '0') * 10 + (offset[5] - '0');
    if (offset[0] == '-') minutes = -minutes;
  }
  std::string_view rest = name.substr(close + 1);
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  return std::pair(minutes, rest);
}

bool hasStandardOffset(const std::string& zoneId, int minutes) {
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(fromUtf8(zoneId)));
  return zone && zone->getRawOffset() == minutes * 60000;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

}  // namespace

std::optional<std::string> zoneOfWindowsDisplayName(std::string_view name) {
  const auto split = splitOffset(name);
  if (!split) return std::nullopt;
  const auto [minutes, rest] = *split;
  const ZoneNames& names = zoneNames();
  auto matching = [&](const std::map<std::string, std::string>& table,
                      const std::string& key) -> std::optional<std::string> {
    const auto found = table.find(key);
    if (found == table.end() || !hasStandardOffset(found->second, minutes)) return std::nullopt;
    return found->second;
  };
  // "Eastern Time (US & Canada)": the generic name, without the countries it is written for.
  std::string_view generic = rest.substr(0, rest.find(" ("));
  if (auto zone = matching(names.byGenericName, std::string(trimmed(generic)))) return zone;
  std::vector<std::string_view> places;
  for (std::size_t at = 0; at <= rest.size();) {
    const std::size_t comma = std::min(rest.find(',', at), rest.size());
    places.push_back(trimmed(rest.substr(at, comma - at)));
    at = comma + 1;
  }
  for (std::string_view place : places) {
    if (auto zone = matching(names.byPlace, std::string(place))) return zone;
    if (auto zone = matching(names.byGenericName, std::string(place) + " Time")) return zone;
  }
  if (minutes == 0 && rest.find("Universal Time") != std::string_view::npos) return std::string("UTC");
  return std::nullopt;
}

}  // namespace wren::platform::vdir

#include "platform/vdir/Ical.h"

#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <set>
#include <utility>

#include "platform/ZoneText.h"
#include "platform/vdir/IcalLimits.h"
#include "platform/vdir/StoreNames.h"
#include "platform/vdir/WindowsZoneNames.h"

namespace wren::platform::vdir {
namespace {

CivilTime civilOfIcal(const icaltimetype& value) {
  return CivilTime{value.year, value.month, value.day, value.is_date ? 0 : value.hour,
                   value.is_date ? 0 : value.minute, value.is_date ? 0 : value.second, 0};
}

bool isValidIcal(const icaltimetype& value) {
  if (icaltime_is_null_time(value) || !icaltime_is_valid_time(value)) return false;
  const std::chrono::year_month_day date{std::chrono::year{value.year},
                                         std::chrono::month{static_cast<unsigned>(value.month)},
                                         std::chrono::day{static_cast<unsigned>(value.day)}};
  return date.ok() && value.hour >= 0 && value.hour < 24 && value.minute >= 0 && value.minute < 60 &&
         value.second >= 0 && value.second <= 60;
}

std::string tzidOf(icalproperty* property) {
  icalparameter* parameter = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
  const char* tzid = parameter ? icalparameter_get_tzid(parameter) : nullptr;
  return tzid ? tzid : "";
}

// A libical time with the TZID it was written with (empty: none).
IcalTime timeFromIcal(const icaltimetype& value, std::string_view tzid, const ZoneTable& zones) {
  IcalTime time;
  time.civil = civilOfIcal(value);
  if (value.is_date) {
    time.anchor = TimeAnchor::Date;
  } else if (icaltime_is_utc(value)) {
    time.anchor = TimeAnchor::Utc;
  } else if (!tzid.empty()) {
    zones.resolve(tzid, time);
  } else {
    time.anchor = TimeAnchor::Floating;
  }
  return time;
}

std::optional<Frequency> frequencyOf(icalrecurrencetype_frequency frequency) {
  switch (frequency) {
    case ICAL_DAILY_RECURRENCE: return Frequency::Daily;
    case ICAL_WEEKLY_RECURRENCE: return Frequency::Weekly;
    case ICAL_MONTHLY_RECURRENCE: return Frequency::Monthly;
    case ICAL_YEARLY_RECURRENCE: return Frequency::Yearly;
    default: return std::nullopt;
  }
}

template <std::size_t N>
std::vector<int> listOf(const short (&values)[N]) {
  std::vector<int> result;
  for (std::size_t i = 0; i < N && values[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i) result.push_back(values[i]);
  return result;
}

// The X-TITLE of an X-APPLE-STRUCTURED-LOCATION property, or nothing when it has none.
std::string locationTitleOf(icalproperty* property) {
  for (icalparameter* parameter = icalproperty_get_first_parameter(property, ICAL_X_PARAMETER); parameter;
       parameter = icalproperty_get_next_parameter(property, ICAL_X_PARAMETER)) {
    const char* name = icalparameter_get_xname(parameter);
    const char* value = icalparameter_get_xvalue(parameter);
    if (name && value && equalsIgnoringAsciiCase(name, "X-TITLE")) return value;
  }
  return "";
}

icalproperty* structuredLocationOf(icalcomponent* alarm) {
  for (icalproperty* property = icalcomponent_get_first_property(alarm, ICAL_X_PROPERTY); property;
       property = icalcomponent_get_next_property(alarm, ICAL_X_PROPERTY)) {
    const char* name = icalproperty_get_x_name(property);
    if (name && equalsIgnoringAsciiCase(name, "X-APPLE-STRUCTURED-LOCATION")) return property;
  }
  return nullptr;
}

std::optional<Alarm> alarmOf(icalcomponent* component, const ZoneTable& zones, double duration) {
  Alarm alarm;
  if (icalproperty* location = structuredLocationOf(component)) {
    alarm.hasLocation = true;
    alarm.locationTitle = locationTitleOf(location);
  }
  icalproperty* trigger = icalcomponent_get_first_property(component, ICAL_TRIGGER_PROPERTY);
  if (!trigger) {
    if (!alarm.hasLocation) return std::nullopt;
    return alarm;
  }
  const icaltriggertype value = icalproperty_get_trigger(trigger);
  if (!icaltime_is_null_time(value.time)) {
    if (!isValidIcal(value.time)) return std::nullopt;
    alarm.absoluteDate = toInstant(timeFromIcal(value.time, tzidOf(trigger), zones));
    return alarm;
  }
  alarm.relativeOffset = icaldurationtype_as_int(value.duration);
  if (triggerRelatesTo(trigger, ICAL_RELATED_END)) alarm.relativeOffset += duration;
  return alarm;
}

// The TZID parameters that the lines of a component and its children use.
void collectTzids(const RawComponent& component, std::set<std::string>& tzids) {
  if (component.name == "VTIMEZONE") return;
  for (const ContentLine& line : component.lines) {
    if (auto tzid = parameterOf(line.unfolded, "TZID")) tzids.insert(*tzid);
  }
  for (const RawComponent& child : component.children) collectTzids(child, tzids);
}

// The TZID a VTIMEZONE defines, as a value: Outlook escapes the commas of its zone names
// there ("Kuala Lumpur\, Singapore") and quotes them where a date uses them.
std::string definedTzid(const RawComponent& vtimezone) {
  const ContentLine* line = vtimezone.line("TZID");
  if (!line) return "";
  return unescapeText(valueOf(*line));
}

// A VTIMEZONE from the zone database for a TZID that names a zone in another way (a Windows
// name, say), renamed to that TZID so that the lines using it find it.
std::optional<RawComponent> databaseVtimezone(const std::string& tzid, Instant from) {
  const std::optional<std::string> iana = isKnownZone(tzid) ? std::optional(tzid) : ianaZoneId(tzid);
  if (!iana) return std::nullopt;
  const std::optional<std::string> text = vtimezoneText(*iana, from);
  if (!text) return std::nullopt;
  std::optional<RawComponent> vtimezone = splitComponents(*text);
  if (vtimezone && *iana != tzid) vtimezone->setLine("TZID:" + escapeText(tzid));
  return vtimezone;
}

}  // namespace

// ---------------------------------------------------------------------------------------

void ComponentDeleter::operator()(icalcomponent* component) const { icalcomponent_free(component); }
void PropertyDeleter::operator()(icalproperty* property) const { icalproperty_free(property); }
void TimezoneDeleter::operator()(icaltimezone* zone) const { icaltimezone_free(zone, 1); }
void RecurIteratorDeleter::operator()(icalrecur_iterator* iterator) const { icalrecur_iterator_free(iterator); }

ComponentPtr parseCalendar(std::string_view text) {
  static const bool nonFatal = [] {
    icalerror_set_errors_are_fatal(0);
    return true;
  }();
  static_cast<void>(nonFatal);
  const std::optional<LibicalInput> input = libicalInput(text);
  if (!input) return nullptr;
  std::optional<ParseBudget::Share> share = libicalBudget().take(input->footprint);
  if (!share) return nullptr;
  ComponentDeleter deleter;
  if (share->size() > 0) deleter.keep = std::make_shared<ParseBudget::Share>(std::move(*share));
  ComponentPtr root(icalparser_parse_string(input->text.c_str()), deleter);
  icalerror_clear_errno();
  if (!root) return nullptr;
  if (icalcomponent_isa(root.get()) == ICAL_VCALENDAR_COMPONENT) return root;
  // Text with more than one top-level component parses into an XROOT holding them.
  icalcomponent* calendar = icalcomponent_get_first_component(root.get(), ICAL_VCALENDAR_COMPONENT);
  if (!calendar) return nullptr;
  icalcomponent_remove_component(root.get(), calendar);
  return ComponentPtr(calendar, deleter);
}

// ---------------------------------------------------------------------------------------

std::optional<std::string> ianaZoneId(std::string_view tzid) {
  // Each suffix after a '/' is looked up below: a TZID longer than any zone id costs time in
  // proportion to the square of its length and names nothing.
  if (tzid.empty() || tzid.size() > kMaxTzidOctets) return std::nullopt;
  if (isKnownZone(tzid)) return std::string(tzid);
  // Vendor prefixes ("/freeassociation.sourceforge.net/", "/mozilla.org/20050126_1/",
  // "/softwarestudio.org/Olson_20011030_5/") come before the IANA id; the longest suffix
  // after a '/' that the database knows is the zone.
  for (std::size_t slash = tzid.find('/'); slash != std::string_view::npos; slash = tzid.find('/', slash + 1)) {
    const std::string_view suffix = tzid.substr(slash + 1);
    if (suffix.find('/') != std::string_view::npos && isKnownZone(suffix)) return std::string(suffix);
  }
  icu::UnicodeString iana;
  UErrorCode status = U_ZERO_ERROR;
  icu::TimeZone::getIDForWindowsID(icu::UnicodeString::fromUTF8(icu::StringPiece(tzid.data(),
                                                                                 static_cast<int32_t>(tzid.size()))),
                                   nullptr, iana, status);
  if (U_FAILURE(status) || iana.isEmpty()) return zoneOfWindowsDisplayName(tzid);
  std::string result;
  iana.toUTF8String(result);
  return result;
}

CustomZone::CustomZone(TimezonePtr zone, std::string tzid) : zone_(std::move(zone)), tzid_(std::move(tzid)) {}

std::shared_ptr<const CustomZone> CustomZone::fromComponent(icalcomponent* vtimezone) {
  TimezonePtr zone(icaltimezone_new());
  if (!zone) return nullptr;
  if (!icaltimezone_set_component(zone.get(), icalcomponent_new_clone(vtimezone))) return nullptr;
  const char* tzid = icaltimezone_get_tzid(zone.get());
  if (!tzid) return nullptr;
  std::string name = tzid;
  return std::shared_ptr<const CustomZone>(new CustomZone(std::move(zone), std::move(name)));
}

Instant CustomZone::instantOf(const CivilTime& civil) const {
  const time_t seconds = icaltime_as_timet_with_zone(icalOfCivil(civil, false), zone_.get());
  return Instant(std::chrono::seconds(seconds)) + std::chrono::milliseconds(civil.millisecond);
}

CivilTime CustomZone::civilOf(Instant instant) const {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(instant);
  const icaltimetype value =
      icaltime_from_timet_with_zone(static_cast<time_t>(seconds.time_since_epoch().count()), 0, zone_.get());
  CivilTime civil = civilOfIcal(value);
  civil.millisecond = static_cast<int>((instant - seconds).count());
  return civil;
}

ZoneTable::ZoneTable(icalcomponent* calendar) {
  for (icalcomponent* vtimezone = icalcomponent_get_first_component(calendar, ICAL_VTIMEZONE_COMPONENT);
       vtimezone; vtimezone = icalcomponent_get_next_component(calendar, ICAL_VTIMEZONE_COMPONENT)) {
    icalproperty* tzidProperty = icalcomponent_get_first_property(vtimezone, ICAL_TZID_PROPERTY);
    const char* tzid = tzidProperty ? icalproperty_get_tzid(tzidProperty) : nullptr;
    if (!tzid) continue;
    Entry entry{tzid, ianaZoneId(tzid), nullptr};
    if (!entry.ianaId) entry.custom = CustomZone::fromComponent(vtimezone);
    entries_.push_back(std::move(entry));
  }
}

void ZoneTable::resolve(std::string_view tzid, IcalTime& time) const {
  time.anchor = TimeAnchor::Zoned;
  for (const Entry& entry : entries_) {
    if (entry.tzid != tzid) continue;
    if (entry.ianaId) {
      time.zoneId = *entry.ianaId;
      return;
    }
    if (entry.custom) {
      time.customZone = entry.custom;
      return;
    }
  }
  if (auto iana = ianaZoneId(tzid)) {
    time.zoneId = *iana;
    return;
  }
  // An unknown zone reads as local time rather than failing the whole file.
  time.anchor = TimeAnchor::Floating;
  time.unknownTzid = std::string(tzid);
}

std::optional<IcalTime> readTime(icalproperty* property, const ZoneTable& zones) {
  icalvalue* value = property ? icalproperty_get_value(property) : nullptr;
  if (!value) return std::nullopt;
  icaltimetype time = icaltime_null_time();
  switch (icalvalue_isa(value)) {
    case ICAL_DATE_VALUE:
    case ICAL_DATETIME_VALUE: time = icalvalue_get_datetime(value); break;
    case ICAL_DATETIMEPERIOD_VALUE: {
      const icaldatetimeperiodtype period = icalvalue_get_datetimeperiod(value);
      time = icaltime_is_null_time(period.time) ? period.period.start : period.time;
      break;
    }
    case ICAL_PERIOD_VALUE: time = icalvalue_get_period(value).start; break;
    default: return std::nullopt;
  }
  if (!isValidIcal(time)) return std::nullopt;
  return timeFromIcal(time, tzidOf(property), zones);
}

std::optional<IcalPeriod> readPeriod(icalproperty* property, const ZoneTable& zones) {
  icalvalue* value = property ? icalproperty_get_value(property) : nullptr;
  if (!value || icalvalue_isa(value) != ICAL_PERIOD_VALUE) return std::nullopt;
  const icalperiodtype period = icalvalue_get_period(value);
  if (!isValidIcal(period.start) || period.start.is_date) return std::nullopt;
  IcalPeriod result{timeFromIcal(period.start, tzidOf(property), zones), {}};
  if (!icaltime_is_null_time(period.end)) {
    if (!isValidIcal(period.end) || period.end.is_date) return std::nullopt;
    result.length = toInstant(timeFromIcal(period.end, tzidOf(property), zones)) - toInstant(result.start);
  } else {
    result.length = std::chrono::seconds(icaldurationtype_as_int(period.duration));
  }
  if (result.length < std::chrono::milliseconds{0}) return std::nullopt;
  return result;
}

std::optional<IcalTime> readTime(icalcomponent* component, icalproperty_kind kind, const ZoneTable& zones) {
  return readTime(icalcomponent_get_first_property(component, kind), zones);
}

std::optional<Instant> readInstant(icalcomponent* component, icalproperty_kind kind, const ZoneTable& zones) {
  const std::optional<IcalTime> time = readTime(component, kind, zones);
  if (!time) return std::nullopt;
  return toInstant(*time);
}

Instant toInstant(const IcalTime& time) { return toInstant(time.civil, time); }

Instant toInstant(const CivilTime& civil, const IcalTime& anchoredLike) {
  CivilTime fields = civil;
  std::string_view zone;
  switch (anchoredLike.anchor) {
    case TimeAnchor::Utc: return utcInstant(civil);
    case TimeAnchor::Date: fields.hour = fields.minute = fields.second = fields.millisecond = 0; break;
    case TimeAnchor::Floating: break;
    case TimeAnchor::Zoned:
      if (anchoredLike.customZone) return anchoredLike.customZone->instantOf(civil);
      zone = anchoredLike.zoneId;
      break;
  }
  // Fields that name no real time (a leap second, say) fall back to UTC arithmetic rather
  // than failing the whole file.
  return instantFromCivil(fields, zone).value_or(utcInstant(fields));
}

CivilTime civilIn(Instant instant, const IcalTime& anchoredLike) {
  switch (anchoredLike.anchor) {
    case TimeAnchor::Utc: return utcCivil(instant);
    case TimeAnchor::Date:
    case TimeAnchor::Floating: return civilFromInstant(instant);
    case TimeAnchor::Zoned:
      if (anchoredLike.customZone) return anchoredLike.customZone->civilOf(instant);
      return civilFromInstant(instant, anchoredLike.zoneId);
  }
  return civilFromInstant(instant);
}

icaltimetype icalOfCivil(const CivilTime& civil, bool isDate) {
  icaltimetype value = icaltime_null_time();
  value.year = civil.year;
  value.month = civil.month;
  value.day = civil.day;
  value.is_date = isDate ? 1 : 0;
  if (!isDate) {
    value.hour = civil.hour;
    value.minute = civil.minute;
    value.second = civil.second;
  }
  return value;
}

std::string timeLine(std::string_view name, Instant instant, const IcalTime& anchoredLike) {
  IcalTime time = anchoredLike;
  time.civil = civilIn(instant, anchoredLike);
  return timeLine(name, time);
}

std::string timeLine(std::string_view name, const IcalTime& time) {
  const std::string prefix(name);
  switch (time.anchor) {
    case TimeAnchor::Date: return prefix + ";VALUE=DATE:" + dateText(time.civil);
    case TimeAnchor::Floating:
      if (!time.unknownTzid.empty()) {
        return prefix + ";TZID=" + parameterValue(time.unknownTzid) + ":" + localDateTimeText(time.civil);
      }
      return prefix + ":" + localDateTimeText(time.civil);
    case TimeAnchor::Utc: break;
    case TimeAnchor::Zoned: {
      const std::string tzid = time.customZone ? time.customZone->tzid() : time.zoneId;
      return prefix + ";TZID=" + parameterValue(tzid) + ":" + localDateTimeText(time.civil);
    }
  }
  return prefix + ":" + localDateTimeText(time.civil) + "Z";
}

// ---------------------------------------------------------------------------------------

std::optional<RecurrenceRule> ruleFromRecurrence(const icalrecurrencetype& recurrence, const IcalTime& start) {
  const std::optional<Frequency> frequency = frequencyOf(recurrence.freq);
  if (!frequency) return std::nullopt;
  RecurrenceRule rule;
  rule.frequency = *frequency;
  rule.interval = std::max<int>(1, recurrence.interval);
  rule.occurrenceCount = std::max(0, recurrence.count);
  if (!icaltime_is_null_time(recurrence.until) && isValidIcal(recurrence.until)) {
    const icaltimetype& until = recurrence.until;
    if (until.is_date) {
      // A last day counts to its end, so that an occurrence on that day still belongs.
      CivilTime last = civilOfIcal(until);
      last.hour = 23;
      last.minute = 59;
      last.second = 59;
      rule.endDate = toInstant(last, IcalTime{{}, TimeAnchor::Floating, {}, nullptr, {}});
    } else if (icaltime_is_utc(until)) {
      rule.endDate = utcInstant(civilOfIcal(until));
    } else {
      // A local UNTIL is read in the series' own zone, as the series is expanded there.
      IcalTime like = start;
      if (like.anchor == TimeAnchor::Date) like.anchor = TimeAnchor::Floating;
      rule.endDate = toInstant(civilOfIcal(until), like);
    }
  }
  for (std::size_t i = 0; i < ICAL_BY_DAY_SIZE && recurrence.by_day[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i) {
    rule.daysOfWeek.push_back(RecurrenceDay{static_cast<int>(icalrecurrencetype_day_day_of_week(recurrence.by_day[i])),
                                            icalrecurrencetype_day_position(recurrence.by_day[i])});
  }
  rule.daysOfMonth = listOf(recurrence.by_month_day);
  for (int month : listOf(recurrence.by_month)) {
    rule.monthsOfYear.push_back(icalrecurrencetype_month_month(static_cast<short>(month)));
  }
  rule.weeksOfYear = listOf(recurrence.by_week_no);
  rule.daysOfYear = listOf(recurrence.by_year_day);
  rule.setPositions = listOf(recurrence.by_set_pos);
  if (recurrence.week_start >= ICAL_SUNDAY_WEEKDAY && recurrence.week_start <= ICAL_SATURDAY_WEEKDAY &&
      recurrence.week_start != ICAL_MONDAY_WEEKDAY) {
    rule.firstDayOfWeek = static_cast<int>(recurrence.week_start);
  }
  return rule;
}

UntilForm untilFormFor(const IcalTime& start) {
  switch (start.anchor) {
    case TimeAnchor::Date: return UntilForm::Day;
    case TimeAnchor::Floating: return start.unknownTzid.empty() ? UntilForm::FloatingMoment : UntilForm::Moment;
    case TimeAnchor::Utc:
    case TimeAnchor::Zoned: return UntilForm::Moment;
  }
  return UntilForm::Moment;
}

icalrecurrencetype recurrenceFromRule(const RecurrenceRule& rule, UntilForm untilForm) {
  const icalrecurrencetype recurrence = icalrecurrencetype_from_string(rruleText(rule, untilForm).c_str());
  icalerror_clear_errno();
  return recurrence;
}

// ---------------------------------------------------------------------------------------

// ---------------------------------------------------------------------------------------

std::vector<Alarm> readAlarms(icalcomponent* owner, const ZoneTable& zones, double duration) {
  std::vector<Alarm> alarms;
  int index = 0;
  for (icalcomponent* component = icalcomponent_get_first_component(owner, ICAL_VALARM_COMPONENT); component;
       component = icalcomponent_get_next_component(owner, ICAL_VALARM_COMPONENT), ++index) {
    if (std::optional<Alarm> alarm = alarmOf(component, zones, duration)) {
      alarm->origin = index;
      alarms.push_back(std::move(*alarm));
    }
  }
  return alarms;
}

RawComponent newAlarmComponent(const Alarm& alarm, std::string_view description) {
  RawComponent component{"VALARM", {}, {}};
  component.setLine("ACTION:DISPLAY");
  component.setLine("DESCRIPTION:" + escapeText(description));
  if (alarm.absoluteDate) {
    component.setLine("TRIGGER;VALUE=DATE-TIME:" + utcText(*alarm.absoluteDate));
  } else {
    component.setLine("TRIGGER:" + durationText(alarm.relativeOffset));
  }
  if (alarm.hasLocation) {
    // The place itself is not modelled, only its title; the empty URI keeps the line valid
    // for readers that look for the title.
    component.setLine("X-APPLE-STRUCTURED-LOCATION;VALUE=URI;X-TITLE=" + parameterValue(alarm.locationTitle) +
                      ":");
  }
  return component;
}

bool triggerRelatesTo(icalproperty* trigger, icalparameter_related related) {
  icalparameter* parameter = trigger ? icalproperty_get_first_parameter(trigger, ICAL_RELATED_PARAMETER) : nullptr;
  return parameter && icalparameter_get_related(parameter) == related;
}

// ---------------------------------------------------------------------------------------

std::string newUid() { return asciiUpper(freshName()); }

void bumpRevision(RawComponent& component, Instant when) {
  long long sequence = 0;
  if (const ContentLine* line = component.line("SEQUENCE")) {
    const std::string value(valueOf(*line));
    char* end = nullptr;
    sequence = std::strtoll(value.c_str(), &end, 10);
    if (sequence < 0) sequence = 0;
  }
  component.setLine("SEQUENCE:" + std::to_string(sequence + 1));
  component.setLine("DTSTAMP:" + utcText(when));
  component.setLine("LAST-MODIFIED:" + utcText(when));
}

RawComponent newCalendar(std::vector<RawComponent> components) {
  RawComponent calendar{"VCALENDAR", {}, std::move(components)};
  calendar.setLine("VERSION:2.0");
  calendar.setLine("PRODID:" + std::string(kProductId));
  return calendar;
}

void syncTimezones(RawComponent& calendar, Instant from, const std::vector<RawComponent>& known) {
  std::set<std::string> used;
  collectTzids(calendar, used);
  std::erase_if(calendar.children, [&](const RawComponent& child) {
    return child.name == "VTIMEZONE" && !used.count(definedTzid(child));
  });
  for (const RawComponent& child : calendar.children) {
    if (child.name == "VTIMEZONE") used.erase(definedTzid(child));
  }
  std::vector<RawComponent> added;
  for (const std::string& tzid : used) {
    // The file's own definition wins: a zone that only the file defines has no other, and
    // one with a database name keeps the rules its author wrote.
    auto own = std::find_if(known.begin(), known.end(), [&](const RawComponent& vtimezone) {
      return vtimezone.name == "VTIMEZONE" && definedTzid(vtimezone) == tzid;
    });
    if (own != known.end()) {
      added.push_back(*own);
    } else if (std::optional<RawComponent> vtimezone = databaseVtimezone(tzid, from)) {
      added.push_back(std::move(*vtimezone));
    }
  }
  calendar.children.insert(calendar.children.begin(), std::make_move_iterator(added.begin()),
                           std::make_move_iterator(added.end()));
}

std::string vtimezoneDefinition(const RawComponent& calendar, std::string_view tzid) {
  for (const RawComponent& child : calendar.children) {
    if (child.name == "VTIMEZONE" && definedTzid(child) == tzid) return emitComponent(child);
  }
  return "";
}

std::optional<icalrecurrencetype> recurrenceOfLine(const ContentLine& line) {
  std::string value(valueOf(line));
  const std::string upper = asciiUpper(value);
  // COUNT=-1 beside UNTIL is how some servers say "no count"; the rule ends by UNTIL.
  const std::size_t count = upper.find("COUNT=-");
  if (count != std::string::npos && upper.find("UNTIL=") != std::string::npos) {
    std::size_t end = upper.find(';', count);
    if (end == std::string::npos) end = upper.size();
    std::size_t begin = count;
    if (begin > 0 && value[begin - 1] == ';') {
      --begin;
    } else if (end < upper.size()) {
      ++end;
    }
    value.erase(begin, end - begin);
  }
  const icalrecurrencetype recurrence = icalrecurrencetype_from_string(value.c_str());
  icalerror_clear_errno();
  if (recurrence.freq == ICAL_NO_RECURRENCE) return std::nullopt;
  return recurrence;
}

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool startsProperty(std::string_view line, std::string_view name) {
  if (line.size() <= name.size() || (line[name.size()] != ':' && line[name.size()] != ';')) return false;
  return equalsIgnoringAsciiCase(line.substr(0, name.size()), name);
}

bool startsPersonText(std::string_view line) {
  return startsProperty(line, "DESCRIPTION") || startsProperty(line, "SUMMARY");
}

bool valueMayStartBlank(std::string_view line) {
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == ':' && !quoted) return i + 1 == line.size() || isBlank(line[i + 1]);
  }
  return true;
}

}  // namespace

bool textMayHoldEdgeBlanks(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty() && isBlank(line.back())) return true;
    if (startsPersonText(line) && valueMayStartBlank(line)) return true;
    at = end + 1;
  }
  return false;
}

namespace {

// The days of a rule value's BYDAY part as written ("2TU", "-1FR", "MO"), or nothing.
std::optional<std::vector<RecurrenceDay>> writtenDays(std::string_view rule) {
  for (std::size_t at = 0; at <= rule.size();) {
    std::size_t end = std::min(rule.find(';', at), rule.size());
    std::string_view part = rule.substr(at, end - at);
    at = end + 1;
    constexpr std::string_view kName = "BYDAY=";
    if (part.size() <= kName.size() || !equalsIgnoringAsciiCase(part.substr(0, kName.size()), kName)) continue;
    std::vector<RecurrenceDay> days;
    std::string_view list = part.substr(kName.size());
    for (std::size_t from = 0; from <= list.size();) {
      std::size_t comma = std::min(list.find(',', from), list.size());
      std::string_view token = list.substr(from, comma - from);
      from = comma + 1;
      if (token.size() < 2) return std::nullopt;
      const std::optional<int> weekday = weekdayOfCode(token.substr(token.size() - 2));
      std::string_view number = token.substr(0, token.size() - 2);
      int weekNumber = 0;
      if (!number.empty()) {
        if (number.front() == '+') number.remove_prefix(1);
        auto [rest, error] = std::from_chars(number.data(), number.data() + number.size(), weekNumber);
        if (error != std::errc() || rest != number.data() + number.size()) return std::nullopt;
      }
      if (!weekday) return std::nullopt;
      days.push_back({*weekday, weekNumber});
    }
    return days;
  }
  return std::nullopt;
}

std::vector<RecurrenceDay> sortedDays(std::vector<RecurrenceDay> days) {
  std::sort(days.begin(), days.end(), [](const RecurrenceDay& a, const RecurrenceDay& b) {
    return std::pair(a.weekNumber, a.weekday) < std::pair(b.weekNumber, b.weekday);
  });
  return days;
}

}  // namespace

void keepWrittenDayOrder(std::vector<RecurrenceRule>& rules, LazySplit& file, std::string_view componentName) {
  if (std::none_of(rules.begin(), rules.end(), [](const RecurrenceRule& rule) { return rule.daysOfWeek.size() > 1; }))
    return;
  const RawComponent* calendar = file.get();
  if (!calendar) return;
  // Only a component without a RECURRENCE-ID holds the rules as written.
  const RawComponent* master = calendar->masterChild(componentName);
  if (!master || master->line("RECURRENCE-ID")) return;
  std::vector<std::vector<RecurrenceDay>> written;
  for (const ContentLine& line : master->lines) {
    if (line.name != "RRULE") continue;
    if (std::optional<std::vector<RecurrenceDay>> days = writtenDays(valueOf(line))) written.push_back(std::move(*days));
  }
  for (RecurrenceRule& rule : rules) {
    if (rule.daysOfWeek.size() < 2) continue;
    const std::vector<RecurrenceDay> read = sortedDays(rule.daysOfWeek);
    auto match = std::find_if(written.begin(), written.end(),
                              [&](const std::vector<RecurrenceDay>& days) { return sortedDays(days) == read; });
    if (match == written.end()) continue;
    rule.daysOfWeek = std::move(*match);
    written.erase(match);
  }
}

}  // namespace wren::platform::vdir

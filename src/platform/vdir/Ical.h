#pragma once

// The iCalendar toolkit shared by the event and reminder codecs: libical handles owned by
// RAII types, date-time values with their zone, recurrence rules and alarms. The raw content
// lines that let a save keep what the helper does not model byte for byte are in
// ContentLines.h, the value texts the helper writes in IcalText.h.
//
// Reading goes through libical (values, parameters, recurrence); writing goes through
// RawComponent, so unknown properties keep their original text:
//
//   ComponentPtr calendar = parseCalendar(text);           // values
//   ZoneTable zones(calendar.get());
//   std::optional<IcalTime> start = readTime(dtstartProperty, zones);
//   Instant at = toInstant(*start);
//
//   std::optional<RawComponent> raw = splitComponents(text);  // lines, for saving
//   RawComponent* event = raw->masterChild("VEVENT");
//   event->setLine(timeLine("DTSTART", newStart, *start));
//   bumpRevision(*event, now());
//   std::string written = emitComponent(*raw);               // CRLF, folded at 75 octets

#include <libical/ical.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/EventStore.h"
#include "platform/Instant.h"
#include "platform/LocalTime.h"
#include "platform/formats/ContentLines.h"
#include "platform/formats/IcalText.h"

namespace wren::platform::vdir {

// ---------------------------------------------------------------------------------------
// Owned libical handles.

struct ComponentDeleter {
  void operator()(icalcomponent* component) const;
  // What the component keeps alive with it: for a parsed calendar, its share of the parse
  // budget (IcalLimits.h), given back when the component is freed.
  std::shared_ptr<const void> keep;
};
using ComponentPtr = std::unique_ptr<icalcomponent, ComponentDeleter>;

struct PropertyDeleter {
  void operator()(icalproperty* property) const;
};
using PropertyPtr = std::unique_ptr<icalproperty, PropertyDeleter>;

struct TimezoneDeleter {
  void operator()(icaltimezone* zone) const;
};
using TimezonePtr = std::unique_ptr<icaltimezone, TimezoneDeleter>;

struct RecurIteratorDeleter {
  void operator()(icalrecur_iterator* iterator) const;
};
using RecurIteratorPtr = std::unique_ptr<icalrecur_iterator, RecurIteratorDeleter>;

// Parses iCalendar text into its VCALENDAR component; nothing when libical finds none, or
// when the text is not for libical to read at all (IcalLimits.h). libical's error state is
// cleared afterwards, so one bad file never leaks into the next. A large file waits for its
// share of the budget of all threads' parses (ParseBudget), which it holds until the
// component is freed.
ComponentPtr parseCalendar(std::string_view text);

// ---------------------------------------------------------------------------------------
// Time zones and date-time values.

// The IANA id for a TZID as calendar programs write it: an IANA id itself, one behind a
// vendor prefix ("/freeassociation.sourceforge.net/Europe/Berlin" gives "Europe/Berlin"),
// a Windows zone id ("W. Europe Standard Time") or a Windows display name
// ("(UTC-05:00) Eastern Time (US & Canada)"). Nothing when no known zone matches.
std::optional<std::string> ianaZoneId(std::string_view tzid);

// A zone that only the file's own VTIMEZONE defines (no IANA id matches its TZID).
// Immutable once built, so parsed files can share it between threads.
class CustomZone {
 public:
  // Takes a copy of the VTIMEZONE component; nothing when libical cannot use it.
  static std::shared_ptr<const CustomZone> fromComponent(icalcomponent* vtimezone);

  Instant instantOf(const CivilTime& civil) const;
  CivilTime civilOf(Instant instant) const;
  const std::string& tzid() const { return tzid_; }

 private:
  CustomZone(TimezonePtr zone, std::string tzid);

  TimezonePtr zone_;
  std::string tzid_;
};

// The VTIMEZONE of the calendar that defines the TZID, as the file wrote it (CRLF lines);
// empty when none does.
std::string vtimezoneDefinition(const RawComponent& calendar, std::string_view tzid);

// How a date or date-time value is anchored in time.
enum class TimeAnchor {
  Date,      // a day (VALUE=DATE): midnight in the current zone
  Floating,  // a wall-clock time read in the current zone
  Utc,       // ends in Z
  Zoned,     // TZID=... resolved to an IANA zone or to the file's own VTIMEZONE
};

// A date or date-time value with the wall-clock fields as written.
struct IcalTime {
  CivilTime civil;  // for Date only year, month and day count
  TimeAnchor anchor = TimeAnchor::Floating;
  std::string zoneId;  // Zoned with an IANA zone: its id; otherwise empty
  std::shared_ptr<const CustomZone> customZone;  // Zoned through the file's VTIMEZONE only
  // Floating only because its TZID names no zone known here: that TZID, kept so that a save
  // writes the value with it again rather than turning it into a floating time.
  std::string unknownTzid;
};

// The TZIDs of a VCALENDAR resolved once: to IANA ids where possible, else to the file's
// own VTIMEZONE. A TZID that neither knows is unknown and its times count as floating.
class ZoneTable {
 public:
  ZoneTable() = default;
  explicit ZoneTable(icalcomponent* calendar);

  // Fills `time` for a value carrying this TZID (anchor Zoned, or Floating when unknown).
  void resolve(std::string_view tzid, IcalTime& time) const;

 private:
  struct Entry {
    std::string tzid;
    std::optional<std::string> ianaId;
    std::shared_ptr<const CustomZone> custom;
  };
  std::vector<Entry> entries_;
};

// The value of a date or date-time property (DTSTART, DTEND, DUE, RECURRENCE-ID, EXDATE,
// CREATED, the first value of an RDATE, the start of an RDATE period...), honouring its TZID
// parameter. Nothing when the property holds no valid date or date-time.
std::optional<IcalTime> readTime(icalproperty* property, const ZoneTable& zones);
// An RDATE given as a period (VALUE=PERIOD, start/end or start/duration): its start and how
// long it lasts. Nothing for any other value, or a period that ends before it starts.
struct IcalPeriod {
  IcalTime start;
  std::chrono::milliseconds length{0};
};
std::optional<IcalPeriod> readPeriod(icalproperty* property, const ZoneTable& zones);
// The value of the first property of that kind in the component, as a time or an instant.
std::optional<IcalTime> readTime(icalcomponent* component, icalproperty_kind kind, const ZoneTable& zones);
std::optional<Instant> readInstant(icalcomponent* component, icalproperty_kind kind, const ZoneTable& zones);

// The instant of a value: Date is midnight of the day in the current zone, Floating the
// wall-clock time in the current zone.
Instant toInstant(const IcalTime& time);
// The same anchoring with other wall-clock fields (an occurrence of a series, say).
Instant toInstant(const CivilTime& civil, const IcalTime& anchoredLike);
// The wall-clock fields of an instant in the value's zone (current zone for Date and
// Floating, UTC for Utc).
CivilTime civilIn(Instant instant, const IcalTime& anchoredLike);

// The libical form of wall-clock fields: a date (the time of day dropped) or a date-time
// without zone.
icaltimetype icalOfCivil(const CivilTime& civil, bool isDate);

// A whole content line for a time property, e.g. "DTSTART;TZID=Europe/Berlin:20250301T090000"
// or "DTSTART;VALUE=DATE:20250301", for an instant written with the given anchoring
// (a Zoned custom zone keeps its TZID).
std::string timeLine(std::string_view name, Instant instant, const IcalTime& anchoredLike);
// The same for a value's own wall-clock fields, written as they are.
std::string timeLine(std::string_view name, const IcalTime& time);

// ---------------------------------------------------------------------------------------
// Recurrence rules.

// libical puts the days of BYDAY in week order as it reads a rule, but a rule keeps the
// order it was written in. Puts each rule's days back in the order of the RRULE lines of the
// component of that name in the file (the one without a RECURRENCE-ID); rules and lines are
// matched by the days they hold. The file is split only when some rule has several days.
void keepWrittenDayOrder(std::vector<RecurrenceRule>& rules, LazySplit& file, std::string_view componentName);

// A rule read from libical. `start` is the series' DTSTART: it decides how an UNTIL
// without zone is read (a DATE UNTIL counts until the end of that day, 23:59:59 local).
// Nothing when the rule has no usable frequency (secondly, minutely, hourly or none).
// libical reads a missing WKST as Monday, so WKST=MO, the default, reads as not given.
std::optional<RecurrenceRule> ruleFromRecurrence(const icalrecurrencetype& recurrence,
                                                 const IcalTime& start);

// How UNTIL is written for a series that starts at `start` (see rruleText in IcalText.h):
// in UTC whenever DTSTART carries a TZID, known here or not.
UntilForm untilFormFor(const IcalTime& start);
// Reads an RRULE line's value as its rule, tolerating what some servers write and libical
// refuses: a negative COUNT next to UNTIL (the rule ends by UNTIL). Nothing when the text
// is not a rule.
std::optional<icalrecurrencetype> recurrenceOfLine(const ContentLine& line);
// The libical form of a rule, for expansion with icalrecur_iterator.
icalrecurrencetype recurrenceFromRule(const RecurrenceRule& rule, UntilForm untilForm);

// ---------------------------------------------------------------------------------------
// Text read from the raw lines.

// libical trims the blanks around every value it reads, but titles and notes are the
// person's text and keep them. True when a SUMMARY or DESCRIPTION value of the file text
// may begin with a blank (or on its next physical line) or some physical line ends in one,
// which few files do: only then need these be read again from the raw lines.
bool textMayHoldEdgeBlanks(std::string_view text);

// ---------------------------------------------------------------------------------------
// Alarms.

// The VALARMs of a component, in order; each Alarm's origin is its index among the
// component's VALARM children, which is also the index of its RawComponent block for
// writing it back unchanged. A trigger related to the end is converted to one relative
// to the start with `duration` (end minus start, seconds). A VALARM holding an
// X-APPLE-STRUCTURED-LOCATION is a location alarm titled by its X-TITLE parameter.
std::vector<Alarm> readAlarms(icalcomponent* owner, const ZoneTable& zones, double duration);

// A new VALARM block: ACTION:DISPLAY, DESCRIPTION, and TRIGGER relative ("-PT15M") or
// absolute (VALUE=DATE-TIME, UTC).
RawComponent newAlarmComponent(const Alarm& alarm, std::string_view description);
// Whether a TRIGGER says RELATED with this value; no trigger or no parameter says neither.
bool triggerRelatesTo(icalproperty* trigger, icalparameter_related related);

// ---------------------------------------------------------------------------------------
// Identity and revision.

// A fresh UID (a random UUID, upper case).
std::string newUid();

// Prepares a changed component for writing: SEQUENCE one higher (0 when absent becomes 1),
// DTSTAMP and LAST-MODIFIED set to `when` in UTC.
void bumpRevision(RawComponent& component, Instant when);

// The PRODID the helper writes into new calendars.
inline constexpr std::string_view kProductId = "-//Wren//Wren Helper//EN";

// A VCALENDAR (VERSION:2.0, PRODID) holding these components, for a new file.
RawComponent newCalendar(std::vector<RawComponent> components);

// Adds a VTIMEZONE for every TZID that the calendar's components use and that it does not
// define yet, placed before the other components: a copy of one of `known` (the VTIMEZONEs
// of the file the components came from) when it defines the TZID, else one from the
// system zone database with the rules from `from` on (named by the TZID as used, which
// may be a Windows name). Removes VTIMEZONEs that no line uses any more. TZIDs compare as
// their values: escapes and quotes undone.
void syncTimezones(RawComponent& calendar, Instant from, const std::vector<RawComponent>& known = {});

}  // namespace wren::platform::vdir

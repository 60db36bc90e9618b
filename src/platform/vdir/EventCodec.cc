#include "platform/vdir/EventCodec.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <map>
#include <mutex>
#include <set>

#include <strings.h>

#include "platform/vdir/Ical.h"

namespace wren::platform::vdir {

// Occurrences of a series are computed in the wall-clock fields of the series' own zone
// (so a weekly 09:00 stays 09:00 across a change of offset) and turned into instants only
// at the end. Such a wall-clock time is kept as a "civil key": the instant its fields would
// name in UTC. Keys of one series compare like the times they stand for, and they do not
// depend on the current zone, so a parsed file stays valid when the zone changes.
using CivilKey = Instant;

namespace {

using std::chrono::days;
using std::chrono::hours;
using std::chrono::milliseconds;
using std::chrono::seconds;

// No window asks for more occurrences of one file than this; a rule that would give more
// is cut there rather than exhausting memory.
constexpr std::size_t kMaxOccurrences = 100000;
// Iterations of a rule without a matching occurrence in the window, after which the rule
// counts as exhausted (libical itself gives up on impossible rules, this bounds the rest).
constexpr std::size_t kMaxIterations = 2000000;
// The widest distance between a wall-clock time and UTC, with room for a day's length.
constexpr hours kOffsetMargin = kExtentOffsetMargin;

// Keys count whole seconds: the milliseconds of a wall-clock time are left out.
CivilKey keyOf(CivilTime civil) {
  civil.millisecond = 0;
  return utcInstant(civil);
}

CivilTime civilOfKey(CivilKey key) {
  CivilTime civil = utcCivil(key);
  civil.millisecond = 0;
  return civil;
}

bool sameAnchoring(const IcalTime& a, const IcalTime& b) {
  return a.anchor == b.anchor && a.zoneId == b.zoneId && a.customZone == b.customZone;
}

// The key of a time in the series' anchoring (a RECURRENCE-ID or EXDATE written in UTC
// for a zoned series, say, is converted into the series' wall clock). An all-day series'
// occurrence is named by its day as the value gives it, in its own zone: older files name
// the days of an all-day series by their midnight in the author's zone.
CivilKey keyIn(const IcalTime& time, const IcalTime& series) {
  const bool asWritten = sameAnchoring(time, series) || series.anchor == TimeAnchor::Date;
  CivilTime civil = asWritten ? time.civil : civilIn(toInstant(time), series);
  if (series.anchor == TimeAnchor::Date) civil.hour = civil.minute = civil.second = 0;
  return keyOf(civil);
}

// The midnight that begins the key's day.
CivilKey dayOf(CivilKey key) { return std::chrono::floor<days>(key); }

}  // namespace

// The values of one VEVENT, as read.
struct EventValues {
  std::string uid;
  std::string title;
  std::optional<std::string> location;
  std::optional<std::string> notes;
  std::optional<std::string> url;
  IcalTime start;
  bool allDay = false;
  milliseconds length{0};  // timed events
  int dayCount = 1;        // all-day events: days covered
  std::optional<IcalTime> recurrenceId;
  Availability availability = Availability::Busy;
  EventStatus status = EventStatus::None;
  std::optional<Participant> organizer;
  std::vector<Participant> attendees;
  std::vector<Alarm> alarms;
  std::optional<Instant> created;
  std::optional<Instant> lastModified;
  std::vector<RecurrenceRule> rules;
  std::vector<icalrecurrencetype> recurrences;  // the rules for expansion, without UNTIL
  std::vector<CivilKey> rdates;
  std::map<CivilKey, milliseconds> periodLengths;  // RDATE periods: how long each lasts
  milliseconds longestLength{0};                   // of the event and of its periods
  std::vector<CivilKey> exdates;
  // Days a timed series leaves out whole (EXDATE;VALUE=DATE): every occurrence starting then.
  std::vector<CivilKey> exdays;
  bool repeats = false;
  // Which version of the event this is, for files that hold two (iTIP's order).
  int sequence = 0;
  std::optional<Instant> revised;  // the later of DTSTAMP and LAST-MODIFIED
  std::size_t fileIndex = 0;       // among the file's VEVENTs
  std::shared_ptr<const DefinedZone> definedZone;
  std::shared_ptr<const SeriesDates> seriesDates;
};

class RuleKeyCache;

struct ParsedEventFile {
  std::optional<EventValues> master;
  // VEVENTs that a later version of the same event in the file supersedes, by file index.
  std::set<std::size_t> superseded;
  // Overrides of a series by the key of the occurrence they replace; without a master,
  // the file's events (each shown on its own).
  std::map<CivilKey, EventValues> overrides;
  EventExtent extent;
  // The keys of the master's rules as far as windows have needed them; none without rules.
  // It changes behind the const file (see RuleKeyCache).
  std::unique_ptr<RuleKeyCache> ruleKeys;
};

namespace {

// ---------------------------------------------------------------------------------------
// Reading.

std::optional<std::string> textOf(icalcomponent* event, icalproperty_kind kind) {
  icalproperty* property = icalcomponent_get_first_property(event, kind);
  if (!property) return std::nullopt;
  const char* value = nullptr;
  if (icalvalue* raw = icalproperty_get_value(property)) {
    value = icalvalue_isa(raw) == ICAL_URI_VALUE ? icalvalue_get_uri(raw) : icalvalue_get_text(raw);
  }
  if (!value) return std::nullopt;
  return std::string(value);
}

std::optional<std::string> xTextOf(icalcomponent* event, std::string_view name) {
  for (icalproperty* property = icalcomponent_get_first_property(event, ICAL_X_PROPERTY); property;
       property = icalcomponent_get_next_property(event, ICAL_X_PROPERTY)) {
    const char* xname = icalproperty_get_x_name(property);
    const char* value = icalproperty_get_x(property);
    if (xname && value && name == xname) return std::string(value);
  }
  return std::nullopt;
}

Availability availabilityOf(icalcomponent* event) {
  Availability availability = Availability::Busy;
  if (icalproperty* transp = icalcomponent_get_first_property(event, ICAL_TRANSP_PROPERTY)) {
    const icalproperty_transp value = icalproperty_get_transp(transp);
    if (value == ICAL_TRANSP_TRANSPARENT || value == ICAL_TRANSP_TRANSPARENTNOCONFLICT) {
      availability = Availability::Free;
    }
  }
  const std::optional<std::string> busy = xTextOf(event, "X-MICROSOFT-CDO-BUSYSTATUS");
  if (!busy) return availability;
  if (*busy == "FREE") return Availability::Free;
  if (*busy == "TENTATIVE") return Availability::Tentative;
  if (*busy == "BUSY") return Availability::Busy;
  if (*busy == "OOF") return Availability::Unavailable;
  return availability;
}

EventStatus statusOf(icalcomponent* event) {
  icalproperty* property = icalcomponent_get_first_property(event, ICAL_STATUS_PROPERTY);
  if (!property) return EventStatus::None;
  switch (icalproperty_get_status(property)) {
    case ICAL_STATUS_CONFIRMED: return EventStatus::Confirmed;
    case ICAL_STATUS_TENTATIVE: return EventStatus::Tentative;
    case ICAL_STATUS_CANCELLED: return EventStatus::Canceled;
    default: return EventStatus::None;
  }
}

ParticipantStatus participantStatusOf(icalproperty* property) {
  icalparameter* parameter = icalproperty_get_first_parameter(property, ICAL_PARTSTAT_PARAMETER);
  if (!parameter) return ParticipantStatus::Unknown;
  switch (icalparameter_get_partstat(parameter)) {
    case ICAL_PARTSTAT_NEEDSACTION: return ParticipantStatus::Pending;
    case ICAL_PARTSTAT_ACCEPTED: return ParticipantStatus::Accepted;
    case ICAL_PARTSTAT_DECLINED: return ParticipantStatus::Declined;
    case ICAL_PARTSTAT_TENTATIVE: return ParticipantStatus::Tentative;
    case ICAL_PARTSTAT_DELEGATED: return ParticipantStatus::Delegated;
    case ICAL_PARTSTAT_COMPLETED: return ParticipantStatus::Completed;
    case ICAL_PARTSTAT_INPROCESS: return ParticipantStatus::InProcess;
    case ICAL_PARTSTAT_X: {
      // libical spells the standard value INPROCESS and reads the standard IN-PROCESS
      // as an extension value, so that one is recognised by its text here.
      const char* text = icalparameter_get_xvalue(parameter);
      return text && strcasecmp(text, "IN-PROCESS") == 0 ? ParticipantStatus::InProcess : ParticipantStatus::Unknown;
    }
    default: return ParticipantStatus::Unknown;
  }
}

Participant participantOf(icalproperty* property) {
  Participant participant;
  if (icalvalue* value = icalproperty_get_value(property)) {
    if (const char* address = icalvalue_get_caladdress(value)) participant.url = address;
  }
  if (icalparameter* cn = icalproperty_get_first_parameter(property, ICAL_CN_PARAMETER)) {
    if (const char* name = icalparameter_get_cn(cn)) participant.name = name;
  }
  participant.status = participantStatusOf(property);
  return participant;
}

int daysBetween(const CivilTime& from, const CivilTime& to) {
  return static_cast<int>(std::chrono::floor<days>(keyOf(to) - keyOf(from)).count());
}

// DTSTART and how long the event lasts (DTEND, else DURATION, else none: zero length for a
// timed event, one day for an all-day event). An end before the start counts as none.
bool readTimes(icalcomponent* event, const ZoneTable& zones, EventValues& values) {
  std::optional<IcalTime> start = readTime(event, ICAL_DTSTART_PROPERTY, zones);
  if (!start) return false;
  values.start = *start;
  values.allDay = start->anchor == TimeAnchor::Date;
  std::optional<IcalTime> end = readTime(event, ICAL_DTEND_PROPERTY, zones);
  icalproperty* duration = icalcomponent_get_first_property(event, ICAL_DURATION_PROPERTY);
  if (values.allDay) {
    int count = 1;
    if (end) count = daysBetween(start->civil, end->civil);
    if (!end && duration) count = icaldurationtype_as_int(icalproperty_get_duration(duration)) / 86400;
    values.dayCount = std::max(1, count);
    return true;
  }
  milliseconds length{0};
  if (end) length = toInstant(*end) - toInstant(*start);
  if (!end && duration) length = seconds(icaldurationtype_as_int(icalproperty_get_duration(duration)));
  values.length = std::max(milliseconds{0}, length);
  return true;
}

void addRule(icalrecurrencetype recurrence, EventValues& values) {
  std::optional<RecurrenceRule> rule = ruleFromRecurrence(recurrence, values.start);
  if (!rule) return;
  values.rules.push_back(*rule);
  // UNTIL is applied to instants by the expansion itself, and the copy must not point at
  // text owned by the libical tree.
  recurrence.until = icaltime_null_time();
  recurrence.rscale = nullptr;
  values.recurrences.push_back(recurrence);
}

void readRecurrence(icalcomponent* event, const ZoneTable& zones, EventValues& values) {
  for (icalproperty* property = icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY); property;
       property = icalcomponent_get_next_property(event, ICAL_RRULE_PROPERTY)) {
    addRule(icalproperty_get_rrule(property), values);
  }
  values.longestLength = values.length;
  for (icalproperty* property = icalcomponent_get_first_property(event, ICAL_RDATE_PROPERTY); property;
       property = icalcomponent_get_next_property(event, ICAL_RDATE_PROPERTY)) {
    if (std::optional<IcalPeriod> period = readPeriod(property, zones); period && !values.allDay) {
      const CivilKey key = keyIn(period->start, values.start);
      values.rdates.push_back(key);
      values.periodLengths[key] = period->length;
      values.longestLength = std::max(values.longestLength, period->length);
    } else if (std::optional<IcalTime> time = readTime(property, zones)) {
      values.rdates.push_back(keyIn(*time, values.start));
    }
  }
  for (icalproperty* property = icalcomponent_get_first_property(event, ICAL_EXDATE_PROPERTY); property;
       property = icalcomponent_get_next_property(event, ICAL_EXDATE_PROPERTY)) {
    const std::optional<IcalTime> time = readTime(property, zones);
    if (!time) continue;
    if (time->anchor == TimeAnchor::Date && !values.allDay) {
      values.exdays.push_back(keyOf(time->civil));
    } else {
      values.exdates.push_back(keyIn(*time, values.start));
    }
  }
  std::sort(values.exdates.begin(), values.exdates.end());
  std::sort(values.exdays.begin(), values.exdays.end());
  values.repeats = !values.rules.empty() || !values.rdates.empty();
}

// The rules again from the lines as written, where libical refused one that readers agree
// on (a negative COUNT beside UNTIL).
void rereadRules(const RawComponent& event, EventValues& values) {
  values.rules.clear();
  values.recurrences.clear();
  for (const ContentLine& line : event.lines) {
    if (line.name != "RRULE") continue;
    if (std::optional<icalrecurrencetype> recurrence = recurrenceOfLine(line)) addRule(*recurrence, values);
  }
  values.repeats = !values.rules.empty() || !values.rdates.empty();
}

std::optional<Instant> laterOf(std::optional<Instant> a, std::optional<Instant> b) {
  if (!a) return b;
  if (!b) return a;
  return std::max(*a, *b);
}

std::optional<EventValues> readEvent(icalcomponent* event, const ZoneTable& zones) {
  EventValues values;
  if (!readTimes(event, zones, values)) return std::nullopt;
  values.uid = textOf(event, ICAL_UID_PROPERTY).value_or("");
  values.title = textOf(event, ICAL_SUMMARY_PROPERTY).value_or("");
  values.location = textOf(event, ICAL_LOCATION_PROPERTY);
  values.notes = textOf(event, ICAL_DESCRIPTION_PROPERTY);
  // An empty URL property names no address; the event has no URL then.
  values.url = textOf(event, ICAL_URL_PROPERTY);
  if (values.url && values.url->empty()) values.url.reset();
  values.recurrenceId = readTime(event, ICAL_RECURRENCEID_PROPERTY, zones);
  values.availability = availabilityOf(event);
  values.status = statusOf(event);
  if (icalproperty* organizer = icalcomponent_get_first_property(event, ICAL_ORGANIZER_PROPERTY)) {
    values.organizer = participantOf(organizer);
  }
  for (icalproperty* attendee = icalcomponent_get_first_property(event, ICAL_ATTENDEE_PROPERTY); attendee;
       attendee = icalcomponent_get_next_property(event, ICAL_ATTENDEE_PROPERTY)) {
    values.attendees.push_back(participantOf(attendee));
  }
  const double duration = values.allDay ? values.dayCount * 86400.0 : values.length.count() / 1000.0;
  values.alarms = readAlarms(event, zones, duration);
  values.created = readInstant(event, ICAL_CREATED_PROPERTY, zones);
  values.lastModified = readInstant(event, ICAL_LASTMODIFIED_PROPERTY, zones);
  if (icalproperty* sequence = icalcomponent_get_first_property(event, ICAL_SEQUENCE_PROPERTY)) {
    values.sequence = icalproperty_get_sequence(sequence);
  }
  values.revised = laterOf(readInstant(event, ICAL_DTSTAMP_PROPERTY, zones), values.lastModified);
  values.longestLength = values.length;
  if (!values.recurrenceId) readRecurrence(event, zones, values);
  return values;
}

// ---------------------------------------------------------------------------------------
// Expansion.

// The latest key the end of an occurrence starting at `key` can have (all-day: the
// exclusive end day).
CivilKey endKeyOf(const EventValues& values, CivilKey key) {
  if (values.allDay) return key + days(values.dayCount);
  return key + values.longestLength;
}

// Whether EXDATE takes the occurrence at the key out of the series.
bool isExcluded(const EventValues& values, CivilKey key) {
  return std::binary_search(values.exdates.begin(), values.exdates.end(), key) ||
         (!values.exdays.empty() && std::binary_search(values.exdays.begin(), values.exdays.end(), dayOf(key)));
}

// Why a walk through the keys of a rule ended.
enum class WalkEnd { Exhausted, PastLast, Stopped };

// Calls `visit(key)` for the keys libical gives for the rule, in order, up to `last`
// (inclusive); `visit` returns false to stop. UNTIL is left to the caller.
template <typename Visit>
WalkEnd walkRuleKeys(const EventValues& values, std::size_t ruleIndex, CivilKey last, Visit&& visit) {
  const CivilKey first = keyOf(values.start.civil);
  RecurIteratorPtr iterator(
      icalrecur_iterator_new(values.recurrences[ruleIndex], icalOfCivil(civilOfKey(first), values.allDay)));
  icalerror_clear_errno();
  if (!iterator) return WalkEnd::Exhausted;
  for (std::size_t step = 0; step < kMaxIterations; ++step) {
    const icaltimetype next = icalrecur_iterator_next(iterator.get());
    if (icaltime_is_null_time(next)) return WalkEnd::Exhausted;
    const CivilKey key = keyOf(CivilTime{next.year, next.month, next.day, next.hour, next.minute, next.second, 0});
    if (key > last) return WalkEnd::PastLast;
    if (!visit(key)) return WalkEnd::Stopped;
  }
  return WalkEnd::Exhausted;
}

// Whether the occurrence at the key comes after the rule's UNTIL.
bool pastUntil(const EventValues& values, std::size_t ruleIndex, CivilKey key) {
  const std::optional<Instant>& until = values.rules[ruleIndex].endDate;
  return until && toInstant(civilOfKey(key), values.start) > *until;
}

// Calls `visit(key)` for the rule's occurrences in order, up to `last` (inclusive) and
// the rule's own end; `visit` returns false to stop.
template <typename Visit>
void forEachRuleKey(const EventValues& values, std::size_t ruleIndex, CivilKey last, Visit&& visit) {
  walkRuleKeys(values, ruleIndex, last,
               [&](CivilKey key) { return !pastUntil(values, ruleIndex, key) && visit(key); });
}

// Every occurrence key of the series in [from, last], DTSTART first (it is always an
// occurrence, matching its rule or not), EXDATEs removed, each rule walked from DTSTART.
std::set<CivilKey> walkedSeriesKeys(const EventValues& values, CivilKey from, CivilKey last) {
  std::set<CivilKey> keys;
  const CivilKey first = keyOf(values.start.civil);
  auto add = [&](CivilKey key) {
    if (key >= from && key <= last) keys.insert(key);
    return keys.size() < kMaxOccurrences;
  };
  add(first);
  for (std::size_t i = 0; i < values.recurrences.size(); ++i) forEachRuleKey(values, i, last, add);
  for (CivilKey key : values.rdates) add(key);
  std::erase_if(keys, [&](CivilKey key) { return isExcluded(values, key); });
  return keys;
}

// The keys one rule gives from DTSTART on, as far as a window has needed them. UNTIL is
// applied when they are used, because it compares instants, and those of floating and
// all-day series depend on the current zone, which may change; the keys do not.
struct RuleKeys {
  std::vector<CivilKey> keys;          // ascending
  CivilKey reached = CivilKey::min();  // every key up to this one is in `keys`
  bool complete = false;               // the rule gives no key after the last one here
  bool walkAlways = false;             // keys out of order, or too many to keep
};

// A window reaching past the keys kept expands the rule this much further, so that a
// window moving on a day at a time walks the rule about once a year.
constexpr days kLookahead{366};
// Keys are kept up to this far past the present (the widest window a request may ask for);
// a window beyond it is walked as before rather than growing what every series keeps.
constexpr days kKeptHorizon{3660};

RuleKeys expandRule(const EventValues& values, std::size_t ruleIndex, CivilKey bound) {
  RuleKeys rule;
  // No key this far past UNTIL can name an instant before it, whatever the zone.
  const std::optional<Instant>& until = values.rules[ruleIndex].endDate;
  const bool untilFirst = until && *until < bound - kOffsetMargin;
  const CivilKey stop = untilFirst ? *until + kOffsetMargin : bound;
  const WalkEnd end = walkRuleKeys(values, ruleIndex, stop, [&](CivilKey key) {
    if (!rule.keys.empty() && key <= rule.keys.back()) return false;
    rule.keys.push_back(key);
    return rule.keys.size() < kMaxOccurrences;
  });
  rule.complete = end == WalkEnd::Exhausted || (end == WalkEnd::PastLast && untilFirst);
  // A walk cut short is known only up to its last key (the next one might come before it).
  rule.reached = end == WalkEnd::Stopped ? rule.keys.back() - milliseconds(1) : bound;
  rule.walkAlways = end == WalkEnd::Stopped;
  return rule;
}

// How many of the rule's kept keys (all up to `last`) come before UNTIL. Only keys within
// a day or so of UNTIL can fall either side of it, so only those are converted.
std::size_t keysBeforeUntil(const EventValues& values, std::size_t ruleIndex, const std::vector<CivilKey>& keys,
                            std::size_t count) {
  const std::optional<Instant>& until = values.rules[ruleIndex].endDate;
  if (!until) return count;
  std::size_t at = std::lower_bound(keys.begin(), keys.begin() + count, *until - kOffsetMargin) - keys.begin();
  while (at < count && !pastUntil(values, ruleIndex, keys[at])) ++at;
  return at;
}

}  // namespace

// The occurrence keys of a series' rules, kept with the parsed file once walked, so that
// windows do not walk every rule from DTSTART with libical again. The parsed file is shared
// between request threads; this is the one part of it that changes, under its own lock.
class RuleKeyCache {
 public:
  explicit RuleKeyCache(std::size_t ruleCount) : rules_(ruleCount) {}

  // Appends the keys in [from, last] of every rule, UNTIL applied, or gives false when a
  // rule has to be walked afresh (its keys cannot be kept, or the window may hold more
  // occurrences than one window is given).
  bool collect(const EventValues& values, CivilKey from, CivilKey last, std::vector<CivilKey>& keys) {
    std::lock_guard lock(mutex_);
    std::size_t total = 1;  // DTSTART
    for (std::size_t i = 0; i < rules_.size(); ++i) {
      const RuleKeys* rule = covering(values, i, last);
      if (!rule) return false;
      const auto begin = std::lower_bound(rule->keys.begin(), rule->keys.end(), from);
      const auto upTo = std::upper_bound(rule->keys.begin(), rule->keys.end(), last);
      const auto end = rule->keys.begin() + keysBeforeUntil(values, i, rule->keys, upTo - rule->keys.begin());
      if (begin >= end) continue;
      total += end - begin;
      if (total >= kMaxOccurrences) return false;
      keys.insert(keys.end(), begin, end);
    }
    return true;
  }

 private:
  // The rule's keys, walked up to `last` at least; null when they cannot be kept.
  const RuleKeys* covering(const EventValues& values, std::size_t ruleIndex, CivilKey last) {
    RuleKeys& rule = rules_[ruleIndex];
    if (rule.complete || rule.reached >= last) return &rule;
    const CivilKey horizon = now() + kKeptHorizon;
    if (rule.walkAlways || last > horizon) return nullptr;
    rule = expandRule(values, ruleIndex, last < horizon - kLookahead ? last + kLookahead : horizon);
    return rule.walkAlways && rule.reached < last ? nullptr : &rule;
  }

  std::mutex mutex_;
  std::vector<RuleKeys> rules_;
};

namespace {

// Every occurrence key of the series in [from, last], ascending: as walkedSeriesKeys gives
// them, taken from the file's kept keys where it can.
std::vector<CivilKey> seriesKeys(const EventValues& values, RuleKeyCache* cache, CivilKey from, CivilKey last) {
  std::vector<CivilKey> keys;
  const bool kept = values.recurrences.empty() || (cache && cache->collect(values, from, last, keys));
  if (!kept) {
    const std::set<CivilKey> walked = walkedSeriesKeys(values, from, last);
    return {walked.begin(), walked.end()};
  }
  auto inWindow = [&](CivilKey key) { return key >= from && key <= last; };
  if (const CivilKey first = keyOf(values.start.civil); inWindow(first)) keys.push_back(first);
  std::copy_if(values.rdates.begin(), values.rdates.end(), std::back_inserter(keys), inWindow);
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  std::erase_if(keys, [&](CivilKey key) { return isExcluded(values, key); });
  return keys;
}

bool overlaps(Instant start, Instant end, Instant windowStart, Instant windowEnd) {
  if (start == end) return windowStart <= start && start < windowEnd;
  return start < windowEnd && end > windowStart;
}

// The instants an occurrence covers (the end exclusive: the midnight after an all-day
// event's last day).
std::pair<Instant, Instant> spanOf(const EventValues& values, CivilKey key) {
  const Instant start = toInstant(civilOfKey(key), values.start);
  if (!values.allDay) {
    const auto period = values.periodLengths.find(key);
    return {start, start + (period != values.periodLengths.end() ? period->second : values.length)};
  }
  return {start, toInstant(civilOfKey(key + days(values.dayCount)), values.start)};
}

bool isCurrentUser(const Participant& participant, const ItemContext& context) {
  const std::string& url = participant.url;
  if (url.size() < 7 || !std::equal(url.begin(), url.begin() + 7, "mailto:", [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
      })) {
    return false;
  }
  const std::string_view address = std::string_view(url).substr(7);
  return std::any_of(context.ownEmails.begin(), context.ownEmails.end(), [&](const std::string& own) {
    return own.size() == address.size() && std::equal(own.begin(), own.end(), address.begin(), [](char a, char b) {
             return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
  });
}

// The item for one occurrence covering `span` (see spanOf): `values` give its fields,
// `series` the series it belongs to (the same for a master's own occurrences).
EventItem itemOf(const EventValues& values, const EventValues* series, std::pair<Instant, Instant> span,
                 std::optional<Instant> occurrenceDate, const ItemContext& context) {
  EventItem item;
  item.itemId = context.itemId;
  item.calendarId = context.calendarId;
  item.externalId = values.uid;
  item.title = values.title;
  item.location = values.location;
  item.notes = values.notes;
  item.url = values.url;
  const auto [start, end] = span;
  item.start = start;
  item.end = values.allDay ? end - seconds(1) : end;
  item.allDay = values.allDay;
  if (!values.allDay && values.start.anchor == TimeAnchor::Zoned && !values.start.zoneId.empty()) {
    item.timeZone = values.start.zoneId;
  } else if (!values.allDay && values.start.anchor == TimeAnchor::Utc) {
    item.timeZone = "UTC";
  }
  if (!values.allDay) item.definedZone = values.definedZone;
  item.occurrenceDate = occurrenceDate.value_or(start);
  item.repeats = series && series->repeats;
  item.detached = values.recurrenceId.has_value();
  if (series) {
    item.rules = series->rules;
    item.seriesDates = series->seriesDates;
  }
  item.availability = values.availability;
  item.status = values.status;
  item.organizer = values.organizer;
  if (item.organizer) item.organizer->isCurrentUser = isCurrentUser(*item.organizer, context);
  item.attendees = values.attendees;
  for (Participant& attendee : item.attendees) attendee.isCurrentUser = isCurrentUser(attendee, context);
  item.alarms = values.alarms;
  item.created = values.created;
  item.lastModified = values.lastModified;
  return item;
}

std::pair<Instant, Instant> overrideSpan(const EventValues& values) {
  return spanOf(values, keyOf(values.start.civil));
}

EventItem overrideItem(const EventValues& values, const EventValues* master, std::pair<Instant, Instant> span,
                       const ItemContext& context) {
  std::optional<Instant> original;
  if (values.recurrenceId) original = toInstant(*values.recurrenceId);
  return itemOf(values, master ? master : &values, span, original, context);
}

// ---------------------------------------------------------------------------------------
// Extent.

// The latest key a series can reach, or nothing when it has no end.
std::optional<CivilKey> lastKeyOf(const EventValues& values) {
  CivilKey last = keyOf(values.start.civil);
  for (CivilKey key : values.rdates) last = std::max(last, key);
  for (std::size_t i = 0; i < values.rules.size(); ++i) {
    const RecurrenceRule& rule = values.rules[i];
    if (rule.endDate) {
      last = std::max(last, keyOf(civilIn(*rule.endDate, values.start)) + kOffsetMargin);
    } else if (rule.occurrenceCount > 0) {
      forEachRuleKey(values, i, CivilKey::max(), [&](CivilKey key) {
        last = std::max(last, key);
        return true;
      });
    } else {
      return std::nullopt;
    }
  }
  return last;
}

// The SUMMARY and DESCRIPTION of each VEVENT as written, blanks included, in file order
// (which is the order libical gives them in). Nothing when the file needs no second reading.
struct WrittenText {
  std::optional<std::string> title;
  std::optional<std::string> notes;
};
std::optional<std::vector<WrittenText>> textAsWritten(LazySplit& split) {
  if (!textMayHoldEdgeBlanks(split.text())) return std::nullopt;
  const RawComponent* calendar = split.get();
  if (!calendar) return std::nullopt;
  std::vector<WrittenText> texts;
  auto valueOfLine = [](const ContentLine* line) {
    return line ? std::optional(unescapeText(valueOf(*line))) : std::nullopt;
  };
  for (const RawComponent& child : calendar->children) {
    if (child.name != "VEVENT") continue;
    texts.push_back({valueOfLine(child.line("SUMMARY")), valueOfLine(child.line("DESCRIPTION"))});
  }
  return texts;
}

EventExtent extentOf(const ParsedEventFile& file) {
  std::optional<CivilKey> earliest;
  std::optional<CivilKey> latest;
  bool unbounded = false;
  auto include = [&](const EventValues& values, std::optional<CivilKey> lastStart) {
    CivilKey first = keyOf(values.start.civil);
    // Extra dates may come before DTSTART.
    if (!values.rdates.empty()) first = std::min(first, *std::min_element(values.rdates.begin(), values.rdates.end()));
    earliest = std::min(earliest.value_or(first), first);
    if (!lastStart) {
      unbounded = true;
      return;
    }
    const CivilKey end = endKeyOf(values, *lastStart);
    latest = std::max(latest.value_or(end), end);
  };
  if (file.master) include(*file.master, lastKeyOf(*file.master));
  for (const auto& [key, values] : file.overrides) include(values, keyOf(values.start.civil));
  // Keys are wall-clock fields; the margin covers every zone's offset.
  EventExtent extent;
  if (earliest) extent.earliest = *earliest - kOffsetMargin;
  if (latest && !unbounded) extent.latest = *latest + kOffsetMargin;
  return extent;
}

// Whether `candidate` is a later version of the same VEVENT than `current`, as iTIP orders
// them: the higher SEQUENCE, then the later DTSTAMP (or LAST-MODIFIED); the later in the
// file when nothing tells them apart.
bool supersedes(const EventValues& candidate, const EventValues& current) {
  if (candidate.sequence != current.sequence) return candidate.sequence > current.sequence;
  if (candidate.revised != current.revised) return candidate.revised > current.revised;
  return true;
}

// A zone that only the file defines, as items carry it.
class FileZone final : public DefinedZone {
 public:
  FileZone(std::shared_ptr<const CustomZone> zone, std::string definition)
      : zone_(std::move(zone)), definition_(std::move(definition)) {}
  const std::string& tzid() const override { return zone_->tzid(); }
  const std::string& definition() const override { return definition_; }
  CivilTime wallClock(Instant instant) const override { return zone_->civilOf(instant); }

 private:
  std::shared_ptr<const CustomZone> zone_;
  std::string definition_;
};

// The master's extra and excluded dates in the series' wall clock. A day taken out of a
// timed series stands for the occurrence at the series' time of day.
std::shared_ptr<const SeriesDates> seriesDatesOf(const EventValues& values) {
  if (values.rdates.empty() && values.exdates.empty() && values.exdays.empty()) return nullptr;
  auto dates = std::make_shared<SeriesDates>();
  const CivilKey first = keyOf(values.start.civil);
  for (CivilKey key : values.exdates) dates->excluded.push_back(civilOfKey(key));
  for (CivilKey day : values.exdays) dates->excluded.push_back(civilOfKey(day + (first - dayOf(first))));
  for (CivilKey key : values.rdates) {
    const auto period = values.periodLengths.find(key);
    dates->added.push_back({civilOfKey(key), period != values.periodLengths.end()
                                                 ? std::optional(period->second)
                                                 : std::nullopt});
  }
  return dates;
}

// What readEventFile needs of the file's lines beyond libical's reading: the zones only the
// file defines, and the rules libical refused.
void completeFromLines(ParsedEventFile& file, LazySplit& split) {
  EventValues* master = file.master ? &*file.master : nullptr;
  std::map<const CustomZone*, std::shared_ptr<const DefinedZone>> zones;
  auto defined = [&](EventValues& values) {
    const std::shared_ptr<const CustomZone>& custom = values.start.customZone;
    if (!custom) return;
    auto found = zones.find(custom.get());
    if (found == zones.end()) {
      const RawComponent* calendar = split.get();
      std::string definition = calendar ? vtimezoneDefinition(*calendar, custom->tzid()) : "";
      found = zones.emplace(custom.get(), std::make_shared<FileZone>(custom, std::move(definition))).first;
    }
    values.definedZone = found->second;
  };
  if (master) defined(*master);
  for (auto& [key, values] : file.overrides) defined(values);
  if (!master || split.text().find("COUNT=-") == std::string_view::npos) return;
  const RawComponent* calendar = split.get();
  if (!calendar) return;
  std::size_t index = 0;
  for (const RawComponent& child : calendar->children) {
    if (child.name != "VEVENT") continue;
    if (index++ == master->fileIndex) rereadRules(child, *master);
  }
}

// The events of a file that libical has parsed; `split` gives the file's lines where
// libical's reading loses what was written.
std::shared_ptr<const ParsedEventFile> readEventFile(icalcomponent* calendar, const ZoneTable& zones,
                                                     LazySplit& split) {
  const std::optional<std::vector<WrittenText>> written = textAsWritten(split);
  auto file = std::make_shared<ParsedEventFile>();
  std::vector<EventValues> detached;
  std::size_t index = 0;
  for (icalcomponent* event = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); event;
       event = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT), ++index) {
    std::optional<EventValues> values = readEvent(event, zones);
    if (!values) continue;
    values->fileIndex = index;
    if (written && index < written->size()) {
      if ((*written)[index].title) values->title = *(*written)[index].title;
      values->notes = (*written)[index].notes;
    }
    if (values->recurrenceId) {
      detached.push_back(std::move(*values));
    } else if (!file->master) {
      file->master = std::move(*values);
    } else if (supersedes(*values, *file->master)) {
      file->superseded.insert(file->master->fileIndex);
      file->master = std::move(*values);
    } else {
      file->superseded.insert(values->fileIndex);
    }
  }
  for (EventValues& values : detached) {
    const CivilKey key = file->master ? keyIn(*values.recurrenceId, file->master->start)
                                      : keyIn(*values.recurrenceId, values.start);
    const auto [existing, added] = file->overrides.try_emplace(key, std::move(values));
    if (added) continue;
    if (supersedes(values, existing->second)) {
      file->superseded.insert(existing->second.fileIndex);
      existing->second = std::move(values);
    } else {
      file->superseded.insert(values.fileIndex);
    }
  }
  if (!file->master && file->overrides.empty()) return nullptr;
  completeFromLines(*file, split);
  if (file->master) {
    keepWrittenDayOrder(file->master->rules, split, "VEVENT");
    file->master->seriesDates = seriesDatesOf(*file->master);
  }
  file->extent = extentOf(*file);
  if (file->master && !file->master->recurrences.empty()) {
    file->ruleKeys = std::make_unique<RuleKeyCache>(file->master->recurrences.size());
  }
  return file;
}

}  // namespace

// ---------------------------------------------------------------------------------------

std::shared_ptr<const ParsedEventFile> parseEventFile(std::string_view text) {
  ComponentPtr calendar = parseCalendar(text);
  if (!calendar) return nullptr;
  LazySplit split(text);
  return readEventFile(calendar.get(), ZoneTable(calendar.get()), split);
}

EventExtent eventExtent(const ParsedEventFile& file) { return file.extent; }

std::vector<EventItem> eventsInWindow(const ParsedEventFile& file, Instant start, Instant end,
                                      const ItemContext& context) {
  std::vector<EventItem> items;
  if (file.extent.earliest && *file.extent.earliest >= end) return items;
  if (file.extent.latest && *file.extent.latest <= start) return items;
  // What overlaps the window, found in this order: the master's occurrences, then the
  // overrides. It is put in order by start before any item is made, so that no item moves;
  // std::sort orders these stand-ins exactly as it would order the items themselves.
  struct Found {
    std::pair<Instant, Instant> span;
    const EventValues* overriding;  // null for an occurrence of the master
  };
  std::vector<Found> found;
  const EventValues* master = file.master ? &*file.master : nullptr;
  if (master) {
    const CivilKey from =
        keyOf(civilIn(start, master->start)) - kOffsetMargin - master->longestLength - days(master->dayCount);
    const CivilKey last = keyOf(civilIn(end, master->start)) + kOffsetMargin;
    for (CivilKey key : seriesKeys(*master, file.ruleKeys.get(), from, last)) {
      if (file.overrides.count(key)) continue;
      const std::pair<Instant, Instant> span = spanOf(*master, key);
      if (overlaps(span.first, span.second, start, end)) found.push_back({span, nullptr});
    }
  }
  for (const auto& [key, values] : file.overrides) {
    if (master && isExcluded(*master, key)) continue;
    const std::pair<Instant, Instant> span = overrideSpan(values);
    if (overlaps(span.first, span.second, start, end)) found.push_back({span, &values});
  }
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.span.first < b.span.first; });
  items.reserve(found.size());
  for (const auto& [span, overriding] : found) {
    items.push_back(overriding ? overrideItem(*overriding, master, span, context)
                               : itemOf(*master, master->repeats ? master : nullptr, span, span.first, context));
  }
  return items;
}

std::optional<EventItem> seriesEvent(const ParsedEventFile& file, const ItemContext& context) {
  if (!file.master || !file.master->repeats) return primaryEvent(file, context);
  const EventValues& master = *file.master;
  return itemOf(master, &master, spanOf(master, keyOf(master.start.civil)), std::nullopt, context);
}

std::optional<EventItem> primaryEvent(const ParsedEventFile& file, const ItemContext& context) {
  if (file.master) {
    const EventValues& master = *file.master;
    const CivilKey first = keyOf(master.start.civil);
    if (auto found = file.overrides.find(first); found != file.overrides.end()) {
      return overrideItem(found->second, &master, overrideSpan(found->second), context);
    }
    return itemOf(master, master.repeats ? &master : nullptr, spanOf(master, first), std::nullopt, context);
  }
  if (file.overrides.empty()) return std::nullopt;
  const EventValues& only = file.overrides.begin()->second;
  return overrideItem(only, nullptr, overrideSpan(only), context);
}

}  // namespace wren::platform::vdir

// ---------------------------------------------------------------------------------------
// Writing.

namespace wren::platform::vdir {
namespace {

// Whether a component that is being changed takes a role of a series' master (it carries
// the rules) or of one occurrence.
enum class Role { Master, Occurrence };
// A component copied from another one holds that one's times, so its own must be written
// even when they equal what the copied lines say.
enum class TimesPolicy { IfChanged, Always };

bool sameAlarm(const Alarm& a, const Alarm& b) {
  return a.absoluteDate == b.absoluteDate && a.relativeOffset == b.relativeOffset && a.hasLocation == b.hasLocation &&
         a.locationTitle == b.locationTitle && a.origin == b.origin;
}

bool sameAlarms(const std::vector<Alarm>& a, const std::vector<Alarm>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), sameAlarm);
}

void setOrRemove(RawComponent& component, std::string_view name, const std::optional<std::string>& value,
                 bool escape) {
  if (!value) {
    component.removeLines(name);
    return;
  }
  component.setLine(std::string(name) + ":" + (escape ? escapeText(*value) : *value));
}

void addLine(RawComponent& component, const std::string& logical) {
  component.lines.push_back(ContentLine::fromLogical(logical));
}

// How the times of the event are written: all-day as dates; a zone the item names; a
// floating, UTC or file-defined zone kept as it was; new events in the current zone.
IcalTime anchorFor(const EventItem& event, const EventValues* before) {
  IcalTime anchor;
  if (event.allDay) {
    anchor.anchor = TimeAnchor::Date;
    return anchor;
  }
  const bool beforeTimed = before && !before->allDay;
  if (event.timeZone) {
    if (beforeTimed && before->start.anchor == TimeAnchor::Utc && *event.timeZone == "UTC") return before->start;
    if (isKnownZone(*event.timeZone)) {
      anchor.anchor = TimeAnchor::Zoned;
      anchor.zoneId = *event.timeZone;
      return anchor;
    }
  }
  if (beforeTimed && !(before->start.anchor == TimeAnchor::Zoned && !before->start.zoneId.empty())) {
    return before->start;
  }
  if (beforeTimed) return anchor;  // the item dropped its zone: floating from now on
  const std::string zone = currentZoneId();
  anchor.anchor = zone == "UTC" ? TimeAnchor::Utc : TimeAnchor::Zoned;
  if (anchor.anchor == TimeAnchor::Zoned) anchor.zoneId = zone;
  return anchor;
}

void writeTimes(RawComponent& component, const EventItem& event, const IcalTime& anchor) {
  const Instant start = event.start.value_or(now());
  component.setLine(timeLine("DTSTART", start, anchor));
  component.removeLines("DURATION");
  if (event.allDay) {
    // The stored end is exclusive: the day after the last day.
    const Instant lastDay = std::max(start, event.end.value_or(start));
    component.setLine(timeLine("DTEND", addDays(startOfDay(lastDay), 1), anchor));
    return;
  }
  component.setLine(timeLine("DTEND", std::max(start, event.end.value_or(start)), anchor));
}

void writeRules(RawComponent& component, const std::vector<RecurrenceRule>& rules, const IcalTime& anchor,
                bool repeats) {
  component.removeLines("RRULE");
  for (const RecurrenceRule& rule : rules) addLine(component, "RRULE:" + rruleText(rule, untilFormFor(anchor)));
  if (rules.empty() && !repeats) {
    component.removeLines("RDATE");
    component.removeLines("EXDATE");
  }
}

void writeAvailability(RawComponent& component, Availability availability) {
  const bool hasBusyStatus = component.line("X-MICROSOFT-CDO-BUSYSTATUS") != nullptr;
  switch (availability) {
    case Availability::NotSupported: return;
    case Availability::Free:
      component.setLine("TRANSP:TRANSPARENT");
      if (hasBusyStatus) component.setLine("X-MICROSOFT-CDO-BUSYSTATUS:FREE");
      return;
    case Availability::Busy:
      component.setLine("TRANSP:OPAQUE");
      if (hasBusyStatus) component.setLine("X-MICROSOFT-CDO-BUSYSTATUS:BUSY");
      return;
    case Availability::Tentative:
      component.setLine("TRANSP:OPAQUE");
      component.setLine("X-MICROSOFT-CDO-BUSYSTATUS:TENTATIVE");
      return;
    case Availability::Unavailable:
      component.setLine("TRANSP:OPAQUE");
      component.setLine("X-MICROSOFT-CDO-BUSYSTATUS:OOF");
      return;
  }
}

void writeStatus(RawComponent& component, EventStatus status) {
  switch (status) {
    case EventStatus::None: component.removeLines("STATUS"); return;
    case EventStatus::Confirmed: component.setLine("STATUS:CONFIRMED"); return;
    case EventStatus::Tentative: component.setLine("STATUS:TENTATIVE"); return;
    case EventStatus::Canceled: component.setLine("STATUS:CANCELLED"); return;
  }
}

// The VALARMs of the item: those with an origin as they were read, new ones built; the
// VALARMs the codec does not model (no trigger) stay.
void writeAlarms(RawComponent& component, const EventItem& event, const std::vector<Alarm>& read) {
  std::vector<RawComponent> blocks;
  std::vector<RawComponent> others;
  for (RawComponent& child : component.children) {
    (child.name == "VALARM" ? blocks : others).push_back(std::move(child));
  }
  std::set<int> modelled;
  for (const Alarm& alarm : read) {
    if (alarm.origin) modelled.insert(*alarm.origin);
  }
  std::vector<RawComponent> written;
  for (int i = 0; i < static_cast<int>(blocks.size()); ++i) {
    if (!modelled.count(i)) written.push_back(blocks[static_cast<std::size_t>(i)]);
  }
  const std::string description = event.title.empty() ? "Reminder" : event.title;
  for (const Alarm& alarm : event.alarms) {
    if (alarm.origin && *alarm.origin >= 0 && *alarm.origin < static_cast<int>(blocks.size()) &&
        modelled.count(*alarm.origin)) {
      written.push_back(blocks[static_cast<std::size_t>(*alarm.origin)]);
    } else {
      written.push_back(newAlarmComponent(Alarm{alarm.absoluteDate, alarm.relativeOffset, alarm.hasLocation,
                                                alarm.locationTitle, std::nullopt},
                                          description));
    }
  }
  component.children = std::move(others);
  component.children.insert(component.children.end(), written.begin(), written.end());
}

// What a component held, in the item's terms, for telling which fields the item changes.
EventItem itemBefore(const EventValues& values, Role role) {
  EventItem item = itemOf(values, role == Role::Master ? &values : nullptr, spanOf(values, keyOf(values.start.civil)),
                          std::nullopt, ItemContext{});
  if (role == Role::Master) item.repeats = values.repeats;
  return item;
}

// Writes the item's modelled fields into a VEVENT, line by line only where they changed, so
// that unchanged lines keep their text; then marks the revision.
void applyItem(RawComponent& component, const EventItem& event, const EventValues* before, Role role,
               TimesPolicy times) {
  const std::optional<EventItem> prior = before ? std::optional(itemBefore(*before, role)) : std::nullopt;
  const bool isNew = !prior;
  if (isNew || event.title != prior->title) component.setLine("SUMMARY:" + escapeText(event.title));
  if (isNew || event.location != prior->location) setOrRemove(component, "LOCATION", event.location, true);
  if (isNew || event.notes != prior->notes) setOrRemove(component, "DESCRIPTION", event.notes, true);
  if (isNew || event.url != prior->url) setOrRemove(component, "URL", event.url, false);
  const IcalTime anchor = anchorFor(event, before);
  const bool timesChanged = isNew || times == TimesPolicy::Always || event.allDay != prior->allDay ||
                            event.start != prior->start || event.end != prior->end ||
                            event.timeZone != prior->timeZone;
  if (timesChanged) writeTimes(component, event, anchor);
  if (role == Role::Master && (isNew || timesChanged || event.rules != prior->rules || event.repeats != prior->repeats)) {
    writeRules(component, event.rules, anchor, event.repeats || !event.rules.empty());
  }
  if (isNew || event.availability != prior->availability) writeAvailability(component, event.availability);
  if (isNew || event.status != prior->status) writeStatus(component, event.status);
  if (isNew || !sameAlarms(event.alarms, prior->alarms)) {
    writeAlarms(component, event, before ? before->alarms : std::vector<Alarm>{});
  }
  if (!component.line("UID")) component.setLine("UID:" + (event.externalId.empty() ? newUid() : event.externalId));
  bumpRevision(component, now());
}

// ---------------------------------------------------------------------------------------
// The stored file, split for editing.

struct StoredFile {
  RawComponent calendar;
  std::shared_ptr<const ParsedEventFile> parsed;
  ZoneTable zones;
};

// The file read once by libical and split once, for both its values and its lines.
StoredFile loadStored(std::string_view text) {
  const ComponentPtr ical = parseCalendar(text);
  ZoneTable zones = ical ? ZoneTable(ical.get()) : ZoneTable();
  LazySplit split(text);
  std::shared_ptr<const ParsedEventFile> parsed = ical ? readEventFile(ical.get(), zones, split) : nullptr;
  std::optional<RawComponent> calendar = split.take();
  if (!calendar || !parsed) throw StoreError("icalparser_parse_string: the event file is not valid iCalendar");
  // Older versions of the event that the file still holds go: the one read is the one kept.
  if (!parsed->superseded.empty()) {
    std::size_t index = 0;
    std::erase_if(calendar->children, [&](const RawComponent& child) {
      return child.name == "VEVENT" && parsed->superseded.count(index++);
    });
  }
  return StoredFile{std::move(*calendar), std::move(parsed), std::move(zones)};
}

std::optional<IcalTime> timeOfLine(const ContentLine& line, const StoredFile& stored) {
  PropertyPtr property(icalproperty_new_from_string(line.unfolded.c_str()));
  icalerror_clear_errno();
  return readTime(property.get(), stored.zones);
}

// Whether the line holds a day (VALUE=DATE) that takes a whole day out of a timed series.
bool isDayOfTimedSeries(const IcalTime& time, const StoredFile& stored) {
  return time.anchor == TimeAnchor::Date && !stored.parsed->master->allDay;
}

// The key of a time line (RDATE, EXDATE, RECURRENCE-ID) in the series, by its first value;
// a day of a timed series by its midnight.
std::optional<CivilKey> timeKeyOf(const ContentLine& line, const StoredFile& stored) {
  const std::optional<IcalTime> time = timeOfLine(line, stored);
  if (!time) return std::nullopt;
  if (isDayOfTimedSeries(*time, stored)) return keyOf(time->civil);
  return keyIn(*time, stored.parsed->master->start);
}

// The key a raw VEVENT's RECURRENCE-ID names in the series, or nothing for the master.
std::optional<CivilKey> recurrenceKeyOf(const RawComponent& event, const StoredFile& stored) {
  const ContentLine* line = event.line("RECURRENCE-ID");
  if (!line) return std::nullopt;
  if (!stored.parsed->master) return CivilKey::min();
  return timeKeyOf(*line, stored).value_or(CivilKey::min());
}

// `known` are the VTIMEZONEs of the file the components came from, for a new file.
std::string finish(RawComponent& calendar, Instant from, const std::vector<RawComponent>& known = {}) {
  if (!calendar.line("VERSION")) calendar.setLine("VERSION:2.0");
  if (!calendar.line("PRODID")) calendar.setLine("PRODID:" + std::string(kProductId));
  // A year of history covers the times of the event and its earlier occurrences.
  syncTimezones(calendar, from - days(366), known);
  return emitComponent(calendar);
}

Instant firstInstant(const StoredFile& stored) {
  return toInstant(stored.parsed->master ? stored.parsed->master->start
                                         : stored.parsed->overrides.begin()->second.start);
}

CivilKey occurrenceKey(const EventValues& master, Instant occurrence) {
  CivilTime civil = civilIn(occurrence, master.start);
  if (master.allDay) civil.hour = civil.minute = civil.second = 0;
  civil.millisecond = 0;
  return keyOf(civil);
}

// How many occurrences each rule of the series gives before the key.
std::vector<int> countsBefore(const EventValues& master, CivilKey split) {
  std::vector<int> counts;
  for (std::size_t i = 0; i < master.recurrences.size(); ++i) {
    int count = 0;
    forEachRuleKey(master, i, split - milliseconds(1), [&](CivilKey) {
      ++count;
      return true;
    });
    counts.push_back(count);
  }
  return counts;
}

// The values of an RDATE or EXDATE line one by one, as lines of their own (libical reads a
// list of values as one property per value too).
std::vector<ContentLine> singleValued(const ContentLine& line) {
  const std::string_view value = valueOf(line);
  const std::string prefix = line.unfolded.substr(0, line.unfolded.size() - value.size());
  std::vector<ContentLine> lines;
  for (std::size_t at = 0; at <= value.size();) {
    const std::size_t comma = std::min(value.find(',', at), value.size());
    lines.push_back(ContentLine::fromLogical(prefix + std::string(value.substr(at, comma - at))));
    at = comma + 1;
  }
  return lines;
}

// Ends the master's rules before the occurrence at `split` (UNTIL one second before it, in
// place of COUNT too, so that the earlier occurrences stay exactly those), and takes the
// RDATEs, EXDATEs and overrides from there on out of the file; they are returned.
struct SeriesTail {
  std::vector<ContentLine> timeLines;
  std::vector<RawComponent> overrides;
};

SeriesTail endSeriesBefore(StoredFile& stored, RawComponent& master, CivilKey split, Instant occurrence) {
  const EventValues& values = *stored.parsed->master;
  master.removeLines("RRULE");
  for (RecurrenceRule rule : values.rules) {
    const Instant until = occurrence - seconds(1);
    rule.occurrenceCount = 0;
    rule.endDate = rule.endDate ? std::min(*rule.endDate, until) : until;
    addLine(master, "RRULE:" + rruleText(rule, untilFormFor(values.start)));
  }
  SeriesTail tail;
  std::vector<ContentLine> kept;
  for (ContentLine& line : master.lines) {
    if (line.name != "RDATE" && line.name != "EXDATE") {
      kept.push_back(std::move(line));
      continue;
    }
    // A list of dates may reach past the split; a single date keeps its line as written.
    std::vector<ContentLine> singles = singleValued(line);
    if (singles.size() == 1) singles = {std::move(line)};
    for (ContentLine& single : singles) {
      const std::optional<CivilKey> key = timeKeyOf(single, stored);
      (key && *key >= split ? tail.timeLines : kept).push_back(std::move(single));
    }
  }
  master.lines = std::move(kept);
  std::erase_if(stored.calendar.children, [&](const RawComponent& child) {
    if (child.name != "VEVENT") return false;
    const std::optional<CivilKey> key = recurrenceKeyOf(child, stored);
    if (!key || *key < split) return false;
    tail.overrides.push_back(child);
    return true;
  });
  bumpRevision(master, now());
  return tail;
}

// The rules of the continuation: the item's, with a COUNT the item did not change reduced
// by the occurrences that stay in the original series.
std::vector<RecurrenceRule> continuedRules(const EventItem& event, const EventValues& master,
                                           const std::vector<int>& before) {
  std::vector<RecurrenceRule> rules = event.rules;
  for (std::size_t i = 0; i < rules.size() && i < master.rules.size() && i < before.size(); ++i) {
    if (master.rules[i].occurrenceCount > 0 && rules[i].occurrenceCount == master.rules[i].occurrenceCount) {
      rules[i].occurrenceCount = std::max(1, master.rules[i].occurrenceCount - before[i]);
    }
  }
  return rules;
}

// The continuation is the rest of the old series moved as its first occurrence moved (a
// change of start with span "future" moves every later occurrence alike). Its excluded and
// added dates and its overrides move with it, so that each still names the occurrence it
// named before: a deleted occurrence stays deleted. The override of the first occurrence
// itself is left out, because the saved event replaces it.
void moveTail(SeriesTail& tail, const StoredFile& stored, CivilKey split, const EventItem& event,
              const IcalTime& anchor) {
  const EventValues& values = *stored.parsed->master;
  const milliseconds shift = event.start ? occurrenceKey(values, *event.start) - split : milliseconds{0};
  auto moved = [&](std::string_view name, CivilKey key) {
    return ContentLine::fromLogical(timeLine(name, toInstant(civilOfKey(key + shift), values.start), anchor));
  };
  std::vector<RawComponent> overrides;
  for (RawComponent& child : tail.overrides) {
    const std::optional<CivilKey> key = recurrenceKeyOf(child, stored);
    if (key == split) continue;
    if (key && shift != milliseconds{0}) child.setLine(moved("RECURRENCE-ID", *key));
    overrides.push_back(std::move(child));
  }
  tail.overrides = std::move(overrides);
  if (shift == milliseconds{0}) return;
  const CivilKey first = keyOf(values.start.civil);
  const milliseconds timeOfDay = first - dayOf(first);
  for (ContentLine& line : tail.timeLines) {
    const std::optional<IcalTime> time = timeOfLine(line, stored);
    if (!time) continue;
    if (isDayOfTimedSeries(*time, stored)) {
      // The day of the occurrence it took out, wherever that occurrence moves.
      const CivilKey day = dayOf(keyOf(time->civil) + timeOfDay + shift);
      line = ContentLine::fromLogical(line.name + ";VALUE=DATE:" + dateText(civilOfKey(day)));
    } else {
      line = moved(line.name, keyIn(*time, values.start));
    }
  }
}

std::string continuationText(const StoredFile& stored, RawComponent masterCopy, SeriesTail tail,
                             const EventItem& event, const std::vector<int>& before, CivilKey split) {
  const EventValues& values = *stored.parsed->master;
  const std::string uid = newUid();
  moveTail(tail, stored, split, event, anchorFor(event, &values));
  masterCopy.removeLines("RDATE");
  masterCopy.removeLines("EXDATE");
  masterCopy.removeLines("SEQUENCE");
  masterCopy.lines.insert(masterCopy.lines.end(), tail.timeLines.begin(), tail.timeLines.end());
  masterCopy.setLine("UID:" + uid);
  masterCopy.setLine("CREATED:" + utcText(now()));
  EventItem continued = event;
  continued.rules = continuedRules(event, values, before);
  continued.repeats = true;
  applyItem(masterCopy, continued, &values, Role::Master, TimesPolicy::Always);
  RawComponent calendar{stored.calendar.name, stored.calendar.lines, {}};
  calendar.children.push_back(std::move(masterCopy));
  for (RawComponent& moved : tail.overrides) {
    moved.setLine("UID:" + uid);
    calendar.children.push_back(std::move(moved));
  }
  return finish(calendar, event.start.value_or(now()), stored.calendar.children);
}

RawComponent* overrideComponent(StoredFile& stored, CivilKey key) {
  for (RawComponent& child : stored.calendar.children) {
    if (child.name != "VEVENT") continue;
    if (recurrenceKeyOf(child, stored) == key) return &child;
  }
  return nullptr;
}

// A new override of the occurrence: the master's lines without its recurrence, with a
// RECURRENCE-ID naming the occurrence in the master's own anchoring.
void addOverride(StoredFile& stored, const RawComponent& master, const EventItem& event, Instant occurrence) {
  const EventValues& values = *stored.parsed->master;
  RawComponent copy = master;
  copy.removeLines("RRULE");
  copy.removeLines("RDATE");
  copy.removeLines("EXDATE");
  copy.setLine(timeLine("RECURRENCE-ID", occurrence, values.start));
  applyItem(copy, event, &values, Role::Occurrence, TimesPolicy::Always);
  stored.calendar.children.push_back(std::move(copy));
}

void saveOccurrence(StoredFile& stored, RawComponent& master, const EventItem& event, CivilKey key,
                    Instant occurrence) {
  if (RawComponent* existing = overrideComponent(stored, key)) {
    const auto found = stored.parsed->overrides.find(key);
    const EventValues* before = found != stored.parsed->overrides.end() ? &found->second : nullptr;
    applyItem(*existing, event, before, Role::Occurrence, TimesPolicy::IfChanged);
    return;
  }
  addOverride(stored, master, event, occurrence);
}

}  // namespace

std::string newEventText(const EventItem& event) {
  RawComponent component{"VEVENT", {}, {}};
  component.setLine("UID:" + (event.externalId.empty() ? newUid() : event.externalId));
  component.setLine("CREATED:" + utcText(now()));
  EventItem written = event;
  written.repeats = !event.rules.empty();
  applyItem(component, written, nullptr, Role::Master, TimesPolicy::Always);
  component.setLine("SEQUENCE:0");
  RawComponent calendar = newCalendar({std::move(component)});
  return finish(calendar, event.start.value_or(now()));
}

EventSaveResult saveEventText(std::string_view originalText, const EventItem& event, Span span) {
  StoredFile stored = loadStored(originalText);
  RawComponent* master = stored.calendar.masterChild("VEVENT");
  const std::optional<EventValues>& values = stored.parsed->master;
  if (!master) throw StoreError("icalparser_parse_string: the event file holds no VEVENT");
  if (!values || !values->repeats || !event.occurrenceDate) {
    const EventValues* before = values ? &*values : &stored.parsed->overrides.begin()->second;
    applyItem(*master, event, before, values ? Role::Master : Role::Occurrence, TimesPolicy::IfChanged);
    return {finish(stored.calendar, firstInstant(stored)), std::nullopt};
  }
  const CivilKey key = occurrenceKey(*values, *event.occurrenceDate);
  const Instant from = std::min(firstInstant(stored), event.start.value_or(firstInstant(stored)));
  if (span == Span::ThisEvent) {
    saveOccurrence(stored, *master, event, key, *event.occurrenceDate);
    return {finish(stored.calendar, from), std::nullopt};
  }
  if (key <= keyOf(values->start.civil)) {
    applyItem(*master, event, &*values, Role::Master, TimesPolicy::IfChanged);
    return {finish(stored.calendar, from), std::nullopt};
  }
  const RawComponent masterCopy = *master;
  const std::vector<int> before = countsBefore(*values, key);
  SeriesTail tail = endSeriesBefore(stored, *master, key, *event.occurrenceDate);
  std::string continuation = continuationText(stored, masterCopy, std::move(tail), event, before, key);
  return {finish(stored.calendar, from), std::move(continuation)};
}

std::optional<std::string> removeEventText(std::string_view originalText, const EventItem& event, Span span) {
  StoredFile stored = loadStored(originalText);
  RawComponent* master = stored.calendar.masterChild("VEVENT");
  const std::optional<EventValues>& values = stored.parsed->master;
  if (!master || !values || !values->repeats || !event.occurrenceDate) return std::nullopt;
  const CivilKey key = occurrenceKey(*values, *event.occurrenceDate);
  if (span == Span::FutureEvents) {
    if (key <= keyOf(values->start.civil)) return std::nullopt;
    endSeriesBefore(stored, *master, key, *event.occurrenceDate);
    return finish(stored.calendar, firstInstant(stored));
  }
  std::erase_if(stored.calendar.children, [&](const RawComponent& child) {
    return child.name == "VEVENT" && recurrenceKeyOf(child, stored) == key;
  });
  master = stored.calendar.masterChild("VEVENT");
  addLine(*master, timeLine("EXDATE", *event.occurrenceDate, values->start));
  bumpRevision(*master, now());
  return finish(stored.calendar, firstInstant(stored));
}

std::optional<EventItem> eventAt(const ParsedEventFile& file, Instant occurrenceDate, const ItemContext& context) {
  const EventValues* master = file.master ? &*file.master : nullptr;
  if (!master || !master->repeats) return primaryEvent(file, context);
  const CivilKey key = occurrenceKey(*master, occurrenceDate);
  if (std::binary_search(master->exdates.begin(), master->exdates.end(), key)) return std::nullopt;
  if (auto found = file.overrides.find(key); found != file.overrides.end())
    return overrideItem(found->second, master, overrideSpan(found->second), context);
  if (seriesKeys(*master, file.ruleKeys.get(), key, key).empty()) return std::nullopt;
  const std::pair<Instant, Instant> span = spanOf(*master, key);
  return itemOf(*master, master, span, span.first, context);
}

}  // namespace wren::platform::vdir

#include "platform/vdir/ItemScan.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstring>
#include <string>

#include "platform/formats/IcalText.h"
#include "platform/vdir/Ical.h"

namespace wren::platform::vdir {
namespace {

using std::chrono::days;
using std::chrono::milliseconds;
using std::chrono::seconds;

// Wall-clock fields as the instant they would name in UTC, as the event codec keys them.
using CivilKey = Instant;

// Components nested deeper than calendar programs nest them are for the full parse.
constexpr std::size_t kMaxDepth = 8;
// Rules of one event the scan follows; more are for the full parse.
constexpr std::size_t kMaxRules = 4;
// A series whose count of occurrences reaches further than this is left to the expansion.
constexpr int kMaxCountedYears = 100;

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Compares a name with an upper-case word, ignoring the name's case (as libical reads names).
bool isName(std::string_view name, std::string_view word) {
  if (name.size() != word.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (upper(name[i]) != word[i]) return false;
  }
  return true;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A whole decimal number without sign, at most nine digits.
std::optional<int> numberOf(std::string_view text) {
  if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), isDigit)) return std::nullopt;
  int value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// ---------------------------------------------------------------------------------------
// Content lines.

struct Line {
  std::string_view name;
  std::string_view parameters;  // after the name's ';', up to the value's ':';
                                // empty when none
  std::string_view value;
  bool folded = false;  // its text is a copy, valid until the next line is read
};

enum class Step { Line, End, Unsure };

// Reads the logical lines of a text as libical does (folded lines joined, CR LF or LF ends,
// blank lines skipped), but splits only the lines whose name `wanted` accepts; the others are
// passed over by their first physical line. A line is unfolded into a buffer only when it is
// wanted and folded, which few are.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}

  template <typename Wanted>
  Step next(Line& line, Wanted&& wanted) {
    while (at_ < text_.size()) {
      std::string_view first;
      if (!physical(first)) return Step::Unsure;
      if (first.empty()) continue;
      // A folded part after a blank line, or at the start, joins a line libical may read
      // differently.
      if (first.front() == ' ' || first.front() == '\t') return Step::Unsure;
      const std::size_t nameEnd = std::min(first.find_first_of(";:"), first.size());
      const bool folded = at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t');
      // A name cut by a fold is not worth reading.
      if (folded && nameEnd == first.size()) return Step::Unsure;
      line.name = first.substr(0, nameEnd);
      if (!wanted(line.name)) {
        if (!skipFolds()) return Step::Unsure;
        continue;
      }
      std::string_view whole = first;
      line.folded = folded;
      if (folded) {
        unfolded_.assign(first);
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t')) {
          std::string_view part;
          if (!physical(part)) return Step::Unsure;
          unfolded_.append(part.substr(1));
        }
        whole = unfolded_;
      }
      return split(whole, nameEnd, line) ? Step::Line : Step::Unsure;
    }
    return Step::End;
  }

 private:
  // The next physical line without its end; false when it holds a CR of its own, which readers
  // split differently.
  bool physical(std::string_view& line) {
    const char* begin = text_.data() + at_;
    const void* newline = std::memchr(begin, '\n', text_.size() - at_);
    const std::size_t end =
        newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - text_.data()) : text_.size();
    line = text_.substr(at_, end - at_);
    at_ = std::min(end + 1, text_.size());
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return std::memchr(line.data(), '\r', line.size()) == nullptr;
  }

  bool skipFolds() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t')) {
      std::string_view part;
      if (!physical(part)) return false;
    }
    return true;
  }

  // Splits a wanted line at its value's ':'. Quotes in parameters are for the full parse.
  static bool split(std::string_view whole, std::size_t nameEnd, Line& line) {
    const std::size_t colon = whole.find(':', nameEnd);
    if (colon == std::string_view::npos) return false;
    line.name = whole.substr(0, nameEnd);
    line.parameters = colon > nameEnd ? whole.substr(nameEnd + 1, colon - nameEnd - 1) : std::string_view();
    line.value = whole.substr(colon + 1);
    return line.parameters.find('"') == std::string_view::npos;
  }

  std::string_view text_;
  std::size_t at_ = 0;
  std::string unfolded_;
};

// The TZID and VALUE parameters of a line; false when a parameter is malformed or given twice.
struct TimeParameters {
  std::string_view tzid;
  std::string_view valueType;
};

bool readParameters(std::string_view parameters, TimeParameters& read) {
  if (parameters.empty()) return true;
  for (std::size_t at = 0; at <= parameters.size();) {
    const std::size_t end = std::min(parameters.find(';', at), parameters.size());
    const std::string_view parameter = parameters.substr(at, end - at);
    at = end + 1;
    const std::size_t equals = parameter.find('=');
    if (equals == std::string_view::npos || equals == 0) return false;
    const std::string_view key = parameter.substr(0, equals);
    std::string_view* slot = isName(key, "TZID") ? &read.tzid : isName(key, "VALUE") ? &read.valueType : nullptr;
    if (!slot) continue;
    if (!slot->empty() || equals + 1 == parameter.size()) return false;
    *slot = parameter.substr(equals + 1);
  }
  return true;
}

// ---------------------------------------------------------------------------------------
// Values.

// A TZID kept by value: the line it came from may be overwritten by the next one.
struct ZoneName {
  std::array<char, 64> chars{};
  std::size_t size = 0;
  std::string_view view() const { return {chars.data(), size}; }
  bool operator==(const ZoneName& other) const { return view() == other.view(); }
};

struct ScanTime {
  CivilTime civil;
  TimeAnchor anchor = TimeAnchor::Floating;
  ZoneName zone;  // Zoned: the TZID as written
};

bool validCivil(const CivilTime& civil) {
  const std::chrono::year_month_day date{std::chrono::year{civil.year},
                                         std::chrono::month{static_cast<unsigned>(civil.month)},
                                         std::chrono::day{static_cast<unsigned>(civil.day)}};
  // Years far from today are left to libical, whose iterators have limits of their own.
  return date.ok() && civil.year >= 1800 && civil.year <= 2200 && civil.hour < 24 && civil.minute < 60 &&
         civil.second < 60;
}

int digits(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) value = value * 10 + (text[i] - '0');
  return value;
}

// "20250301" (a date) or "20250301T090000", with a final Z for UTC.
std::optional<ScanTime> timeOfText(std::string_view text, bool date) {
  ScanTime time;
  if (date) {
    if (text.size() != 8 || !std::all_of(text.begin(), text.end(), isDigit)) return std::nullopt;
    time.anchor = TimeAnchor::Date;
  } else {
    if (text.size() == 16 && text.back() == 'Z') {
      time.anchor = TimeAnchor::Utc;
      text.remove_suffix(1);
    }
    if (text.size() != 15 || text[8] != 'T') return std::nullopt;
    if (!std::all_of(text.begin(), text.begin() + 8, isDigit) || !std::all_of(text.begin() + 9, text.end(), isDigit))
      return std::nullopt;
    time.civil.hour = digits(text, 9, 2);
    time.civil.minute = digits(text, 11, 2);
    time.civil.second = digits(text, 13, 2);
  }
  time.civil.year = digits(text, 0, 4);
  time.civil.month = digits(text, 4, 2);
  time.civil.day = digits(text, 6, 2);
  if (!validCivil(time.civil)) return std::nullopt;
  return time;
}

// The value of a date or date-time line with its parameters. A date needs VALUE=DATE: what
// libical makes of a bare date for a date-time property is for it to say.
std::optional<ScanTime> timeOfLine(const TimeParameters& parameters, std::string_view value) {
  const bool date = isName(parameters.valueType, "DATE");
  if (!date && !parameters.valueType.empty() && !isName(parameters.valueType, "DATE-TIME")) return std::nullopt;
  std::optional<ScanTime> time = timeOfText(value, date);
  if (!time || parameters.tzid.empty() || time->anchor == TimeAnchor::Date) return time;
  if (time->anchor == TimeAnchor::Utc || parameters.tzid.size() > time->zone.chars.size()) return std::nullopt;
  if (parameters.tzid.find_first_of("^\\") != std::string_view::npos) return std::nullopt;
  time->anchor = TimeAnchor::Zoned;
  std::copy(parameters.tzid.begin(), parameters.tzid.end(), time->zone.chars.begin());
  time->zone.size = parameters.tzid.size();
  return time;
}

std::optional<ScanTime> timeOfLine(const Line& line) {
  TimeParameters parameters;
  if (!readParameters(line.parameters, parameters)) return std::nullopt;
  return timeOfLine(parameters, line.value);
}

// A DURATION value in seconds, as libical counts it (a day is 86,400 seconds): "P1D",
// "PT1H30M", "-P2W"; nothing for any other shape.
std::optional<long long> durationOf(std::string_view text) {
  long long sign = 1;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    if (text.front() == '-') sign = -1;
    text.remove_prefix(1);
  }
  if (text.size() < 3 || text.front() != 'P') return std::nullopt;
  text.remove_prefix(1);
  long long total = 0;
  bool inTime = false, any = false;
  std::string_view units = "WD";  // the units still allowed, in order
  while (!text.empty()) {
    if (text.front() == 'T') {
      if (inTime) return std::nullopt;
      inTime = true;
      units = "HMS";
      text.remove_prefix(1);
      if (text.empty()) return std::nullopt;
      continue;
    }
    std::size_t length = 0;
    while (length < text.size() && isDigit(text[length])) ++length;
    const std::optional<int> amount = numberOf(text.substr(0, length));
    if (!amount || length == text.size()) return std::nullopt;
    const std::size_t unit = units.find(text[length]);
    if (unit == std::string_view::npos) return std::nullopt;
    const char u = units[unit];
    // A week stands alone.
    if (u == 'W' && (any || length + 1 != text.size())) return std::nullopt;
    total += *amount * (u == 'W' ? 604800LL : u == 'D' ? 86400LL : u == 'H' ? 3600LL : u == 'M' ? 60LL : 1LL);
    units.remove_prefix(unit + 1);
    any = true;
    text.remove_prefix(length + 1);
  }
  if (!any) return std::nullopt;
  return sign * total;
}

// ---------------------------------------------------------------------------------------
// Rules.

enum class Frequency { Daily, Weekly, Monthly, Yearly };

struct Rule {
  Frequency frequency = Frequency::Daily;
  int interval = 1;
  int count = 0;  // 0: none
  std::optional<ScanTime> until;
  bool byParts = false;      // any BY part at all
  bool onlyWeekDays = true;  // the BY parts are one BYDAY of plain days ("MO,WE")
};

bool isWeekday(std::string_view code) {
  static constexpr std::string_view kDays[] = {"MO", "TU", "WE", "TH", "FR", "SA", "SU"};
  return std::find(std::begin(kDays), std::end(kDays), code) != std::end(kDays);
}

bool plainDays(std::string_view list) {
  for (std::size_t at = 0; at <= list.size();) {
    const std::size_t end = std::min(list.find(',', at), list.size());
    if (!isWeekday(list.substr(at, end - at))) return false;
    at = end + 1;
  }
  return true;
}

// An RRULE value written the plain way (upper case, each part once, COUNT or UNTIL but not
// both); nothing otherwise, or for a frequency below a day, which the codec ignores.
std::optional<Rule> ruleOf(std::string_view text) {
  Rule rule;
  bool frequency = false, interval = false, weekStart = false;
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t end = std::min(text.find(';', at), text.size());
    const std::string_view part = text.substr(at, end - at);
    at = end + 1;
    const std::size_t equals = part.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view key = part.substr(0, equals), value = part.substr(equals + 1);
    if (key == "FREQ" && !frequency) {
      frequency = true;
      if (value == "DAILY")
        rule.frequency = Frequency::Daily;
      else if (value == "WEEKLY")
        rule.frequency = Frequency::Weekly;
      else if (value == "MONTHLY")
        rule.frequency = Frequency::Monthly;
      else if (value == "YEARLY")
        rule.frequency = Frequency::Yearly;
      else
        return std::nullopt;
    } else if (key == "INTERVAL" && !interval) {
      interval = true;
      const std::optional<int> n = numberOf(value);
      if (!n || *n < 1) return std::nullopt;
      rule.interval = *n;
    } else if (key == "COUNT" && rule.count == 0) {
      const std::optional<int> n = numberOf(value);
      if (!n || *n < 1) return std::nullopt;
      rule.count = *n;
    } else if (key == "UNTIL" && !rule.until) {
      rule.until = timeOfText(value, value.size() == 8);
      if (!rule.until) return std::nullopt;
    } else if (key == "WKST" && !weekStart) {
      weekStart = true;
      if (!isWeekday(value)) return std::nullopt;
    } else if (key == "BYDAY" || key == "BYMONTHDAY" || key == "BYMONTH" || key == "BYYEARDAY" || key == "BYWEEKNO" ||
               key == "BYSETPOS" || key == "BYHOUR" || key == "BYMINUTE" || key == "BYSECOND") {
      rule.onlyWeekDays = !rule.byParts && key == "BYDAY" && plainDays(value);
      rule.byParts = true;
    } else {
      return std::nullopt;
    }
  }
  if (!frequency || (rule.count > 0 && rule.until)) return std::nullopt;
  return rule;
}

// ---------------------------------------------------------------------------------------
// Zones and instants.

// The IANA zone of a TZID, remembered by each thread for the few zones a store uses: looking
// one up goes through ICU. Nothing for a TZID that names no known zone (a zone the file
// defines itself, or none).
std::optional<std::string> zoneIdOf(std::string_view tzid) {
  struct Known {
    std::string tzid;
    std::optional<std::string> zoneId;
  };
  thread_local std::array<Known, 16> known;
  thread_local std::size_t next = 0;
  for (const Known& entry : known) {
    if (!entry.tzid.empty() && entry.tzid == tzid) return entry.zoneId;
  }
  std::optional<std::string> zoneId = ianaZoneId(tzid);
  known[next++ % known.size()] = Known{std::string(tzid), zoneId};
  return zoneId;
}

// The value as the codec's reading of it (Ical.h); nothing for a zone it would not know.
std::optional<IcalTime> icalTimeOf(const ScanTime& time) {
  IcalTime ical;
  ical.civil = time.civil;
  ical.anchor = time.anchor;
  if (time.anchor != TimeAnchor::Zoned) return ical;
  std::optional<std::string> zoneId = zoneIdOf(time.zone.view());
  if (!zoneId) return std::nullopt;
  ical.zoneId = std::move(*zoneId);
  return ical;
}

CivilKey keyOf(CivilTime civil) {
  civil.millisecond = 0;
  return utcInstant(civil);
}

CivilTime plusMonths(CivilTime civil, long long months) {
  const long long index = civil.year * 12LL + (civil.month - 1) + months;
  civil.year = static_cast<int>(index / 12);
  civil.month = static_cast<int>(index % 12) + 1;
  return civil;
}

// The last instant a rule's UNTIL lets an occurrence start at, as the codec reads it
// (ruleFromRecurrence): a date counts to its last second in the current zone, a local time is
// read in the series' zone.
std::optional<Instant> untilInstant(const ScanTime& until, const IcalTime& start) {
  if (until.anchor == TimeAnchor::Date) {
    CivilTime last = until.civil;
    last.hour = 23;
    last.minute = 59;
    last.second = 59;
    return toInstant(last, IcalTime{{}, TimeAnchor::Floating, {}, nullptr, {}});
  }
  if (until.anchor == TimeAnchor::Utc) return utcInstant(until.civil);
  IcalTime like = start;
  if (like.anchor == TimeAnchor::Date) like.anchor = TimeAnchor::Floating;
  return toInstant(until.civil, like);
}

// The latest key a rule can give, from the series' first key; nothing when it cannot say.
// `unbounded` is set for a rule without an end.
std::optional<CivilKey> lastKeyOfRule(const Rule& rule, const IcalTime& start, CivilKey first, bool& unbounded) {
  if (rule.until) {
    const std::optional<Instant> until = untilInstant(*rule.until, start);
    if (!until) return std::nullopt;
    return std::max(first, keyOf(civilIn(*until, start)) + kExtentOffsetMargin);
  }
  if (rule.count == 0) {
    unbounded = true;
    return first;
  }
  const long long steps = static_cast<long long>(rule.count - 1) * rule.interval;
  const long long periods = static_cast<long long>(rule.count) * rule.interval;
  switch (rule.frequency) {
    case Frequency::Daily:
      if (rule.byParts || periods > kMaxCountedYears * 366LL) return std::nullopt;
      return first + days(steps);
    case Frequency::Weekly:
      if (periods > kMaxCountedYears * 53LL) return std::nullopt;
      if (!rule.byParts) return first + days(7 * steps);
      // Every week of the rule from the first one holds each of its days, so the last
      // occurrence falls in the week `count` intervals on at the latest.
      if (!rule.onlyWeekDays) return std::nullopt;
      return first + days(7 * (periods + 1));
    case Frequency::Monthly:
      // Days past the 28th are left out of the months that lack them.
      if (rule.byParts || periods > kMaxCountedYears * 12LL || start.civil.day > 28) return std::nullopt;
      return keyOf(plusMonths(start.civil, steps));
    case Frequency::Yearly:
      if (rule.byParts || periods > kMaxCountedYears || (start.civil.month == 2 && start.civil.day == 29))
        return std::nullopt;
      return keyOf(plusMonths(start.civil, 12 * steps));
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------------------
// Events.

// The lines of one VEVENT that decide its extent.
struct EventLines {
  std::optional<ScanTime> start;
  std::optional<ScanTime> end;
  std::optional<long long> duration;
  bool recurrenceId = false;
  std::array<Rule, kMaxRules> rules;
  std::size_t ruleCount = 0;
  // Extra dates, all of one anchoring: the earliest and the latest.
  std::optional<ScanTime> firstDate;
  std::optional<ScanTime> lastDate;
};

// Wall-clock keys of the dates of an RDATE line; false when the line is not a plain list of
// dates or date-times of one anchoring.
bool addDates(const Line& line, EventLines& event) {
  TimeParameters parameters;
  if (!readParameters(line.parameters, parameters)) return false;
  for (std::size_t at = 0; at <= line.value.size();) {
    const std::size_t end = std::min(line.value.find(',', at), line.value.size());
    const std::optional<ScanTime> time = timeOfLine(parameters, line.value.substr(at, end - at));
    at = end + 1;
    if (!time) return false;
    if (event.firstDate && (event.firstDate->anchor != time->anchor || !(event.firstDate->zone == time->zone)))
      return false;
    if (!event.firstDate || keyOf(time->civil) < keyOf(event.firstDate->civil)) event.firstDate = time;
    if (!event.lastDate || keyOf(time->civil) > keyOf(event.lastDate->civil)) event.lastDate = time;
  }
  return true;
}

// Reads one line of a VEVENT; false when the scan cannot be sure of it.
bool readEventLine(const Line& line, EventLines& event) {
  if (isName(line.name, "DTSTART")) {
    if (event.start) return false;
    event.start = timeOfLine(line);
    return event.start.has_value();
  }
  if (isName(line.name, "DTEND")) {
    if (event.end) return false;
    event.end = timeOfLine(line);
    return event.end.has_value();
  }
  if (isName(line.name, "DURATION")) {
    if (event.duration || !line.parameters.empty()) return false;
    event.duration = durationOf(line.value);
    return event.duration.has_value();
  }
  if (isName(line.name, "RECURRENCE-ID")) {
    if (event.recurrenceId) return false;
    event.recurrenceId = true;
    return timeOfLine(line).has_value();
  }
  if (isName(line.name, "RRULE")) {
    if (event.ruleCount == kMaxRules) return false;
    std::optional<Rule> rule = ruleOf(line.value);
    if (!rule) return false;
    event.rules[event.ruleCount++] = *rule;
    return true;
  }
  if (isName(line.name, "RDATE")) return addDates(line, event);
  return true;
}

// Where the extent of a file stands as its VEVENTs are read (EventCodec's extentOf).
struct ExtentSoFar {
  std::optional<CivilKey> earliest;
  std::optional<CivilKey> latest;
  bool unbounded = false;
  int masters = 0;
  int events = 0;
};

// Adds a VEVENT that ended; false when the scan cannot be sure of its span.
bool addEvent(const EventLines& event, ExtentSoFar& extent) {
  if (!event.start) return false;
  const std::optional<IcalTime> start = icalTimeOf(*event.start);
  if (!start) return false;
  const bool allDay = start->anchor == TimeAnchor::Date;
  int dayCount = 1;
  milliseconds length{0};
  if (allDay) {
    if (event.end) {
      dayCount = static_cast<int>(std::chrono::floor<days>(keyOf(event.end->civil) - keyOf(start->civil)).count());
    } else if (event.duration) {
      dayCount = static_cast<int>(*event.duration / 86400);
    }
    dayCount = std::max(1, dayCount);
  } else {
    if (event.end) {
      const std::optional<IcalTime> end = icalTimeOf(*event.end);
      if (!end) return false;
      length = toInstant(*end) - toInstant(*start);
    } else if (event.duration) {
      length = seconds(*event.duration);
    }
    length = std::max(milliseconds{0}, length);
  }
  const CivilKey first = keyOf(start->civil);
  CivilKey earliest = first, lastStart = first;
  bool unbounded = false;
  ++extent.events;
  if (!event.recurrenceId) {
    if (++extent.masters > 1) return false;
    if (event.firstDate) {
      // An extra date of another anchoring than a timed series' is converted through its
      // instant, which the scan leaves to the codec.
      const bool asWritten =
          allDay || (event.firstDate->anchor == event.start->anchor && event.firstDate->zone == event.start->zone);
      if (!asWritten) return false;
      auto dateKey = [&](CivilTime civil) {
        if (allDay) civil.hour = civil.minute = civil.second = 0;
        return keyOf(civil);
      };
      earliest = std::min(earliest, dateKey(event.firstDate->civil));
      lastStart = std::max(lastStart, dateKey(event.lastDate->civil));
    }
    for (std::size_t i = 0; i < event.ruleCount; ++i) {
      const std::optional<CivilKey> last = lastKeyOfRule(event.rules[i], *start, first, unbounded);
      if (!last) return false;
      lastStart = std::max(lastStart, *last);
    }
  }
  extent.earliest = std::min(extent.earliest.value_or(earliest), earliest);
  if (unbounded) {
    extent.unbounded = true;
    return true;
  }
  const CivilKey end = allDay ? lastStart + days(dayCount) : lastStart + length;
  extent.latest = std::max(extent.latest.value_or(end), end);
  return true;
}

// --------------------------------------------------------------------------------------- The
// walk through a file's components.

// Follows BEGIN and END through a file of one VCALENDAR and hands the lines of its components
// of one kind (VEVENT, VTODO) to the reader. Lines outside the VCALENDAR, components closed
// out of order or nested deeper than kMaxDepth make the scan unsure.
class ComponentWalk {
 public:
  explicit ComponentWalk(std::string_view kind) : kind_(kind) {}

  // Reads the text; `line(const Line&)` gets the lines of each component of the kind,
  // `begin()` and `end()` frame them. False when the scan is unsure.
  template <typename Wanted, typename Begin, typename OnLine, typename End>
  bool walk(std::string_view text, Wanted&& wanted, Begin&& begin, OnLine&& onLine, End&& end) {
    // libical reads a text up to its first NUL.
    if (std::memchr(text.data(), '\0', text.size())) return false;
    LineReader reader(text);
    Line line;
    bool seenCalendar = false;
    auto accepts = [&](std::string_view name) {
      return isName(name, "BEGIN") || isName(name, "END") || (inKind() && wanted(name)) || depth_ == 0;
    };
    for (;;) {
      const Step step = reader.next(line, accepts);
      if (step == Step::Unsure) return false;
      if (step == Step::End) return depth_ == 0 && seenCalendar;
      const bool begins = isName(line.name, "BEGIN");
      // Component names are kept as views into the text, so their lines must not be folded.
      if ((begins || isName(line.name, "END")) && line.folded) return false;
      if (begins) {
        if (!line.parameters.empty() || depth_ == kMaxDepth || !componentName(line.value)) return false;
        if (depth_ == 0) {
          if (seenCalendar || line.value != "VCALENDAR") return false;
          seenCalendar = true;
        }
        stack_[depth_++] = line.value;
        if (inKind()) begin();
      } else if (isName(line.name, "END")) {
        if (depth_ == 0 || !line.parameters.empty() || line.value != stack_[depth_ - 1]) return false;
        if (inKind() && !end()) return false;
        --depth_;
      } else if (depth_ == 0) {
        return false;
      } else if (inKind() && !onLine(line)) {
        return false;
      }
    }
  }

 private:
  // The lines of a component of the kind itself, directly inside the VCALENDAR.
  bool inKind() const { return depth_ == 2 && stack_[1] == kind_; }

  // Component names as calendar programs write them: upper-case letters, digits and '-'.
  static bool componentName(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(),
                                        [](char c) { return (c >= 'A' && c <= 'Z') || isDigit(c) || c == '-'; });
  }

  std::string_view kind_;
  std::array<std::string_view, kMaxDepth> stack_{};
  std::size_t depth_ = 0;
};

}  // namespace

std::optional<EventExtent> scanEventExtent(std::string_view text) {
  ExtentSoFar extent;
  EventLines event;
  ComponentWalk walk("VEVENT");
  auto wanted = [](std::string_view name) {
    if (name.empty()) return false;
    switch (upper(name.front())) {
      case 'D': return isName(name, "DTSTART") || isName(name, "DTEND") || isName(name, "DURATION");
      case 'R': return isName(name, "RRULE") || isName(name, "RDATE") || isName(name, "RECURRENCE-ID");
      default: return false;
    }
  };
  const bool sure = walk.walk(
      text, wanted, [&] { event = EventLines{}; }, [&](const Line& line) { return readEventLine(line, event); },
      [&] { return addEvent(event, extent); });
  if (!sure || extent.events == 0 || !extent.earliest) return std::nullopt;
  EventExtent result;
  result.earliest = *extent.earliest - kExtentOffsetMargin;
  if (!extent.unbounded && extent.latest) result.latest = *extent.latest + kExtentOffsetMargin;
  return result;
}

std::optional<bool> scanTodoCompleted(std::string_view text) {
  int todos = 0;
  std::optional<std::string_view> status;  // "COMPLETED" or another status libical knows
  bool completedLine = false;
  bool statusCompleted = false;
  ComponentWalk walk("VTODO");
  auto wanted = [](std::string_view name) { return isName(name, "STATUS") || isName(name, "COMPLETED"); };
  auto onLine = [&](const Line& line) {
    if (isName(line.name, "STATUS")) {
      if (status) return false;
      static constexpr std::string_view kStatuses[] = {"NEEDS-ACTION", "COMPLETED", "IN-PROCESS", "CANCELLED"};
      if (std::find(std::begin(kStatuses), std::end(kStatuses), line.value) == std::end(kStatuses)) return false;
      status = line.value;
      statusCompleted = line.value == "COMPLETED";
      return true;
    }
    // A COMPLETED line counts only when libical reads its value.
    const std::optional<ScanTime> when = timeOfLine(line);
    if (completedLine || !when || when->anchor == TimeAnchor::Date) return false;
    completedLine = true;
    return true;
  };
  const bool sure = walk.walk(
      text, wanted, [&] { ++todos; }, onLine, [] { return true; });
  // A file of several VTODOs (a series with changed occurrences) is for the full parse.
  if (!sure || todos != 1) return std::nullopt;
  return statusCompleted || completedLine;
}

}  // namespace wren::platform::vdir

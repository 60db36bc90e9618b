#include "calendar/IcsExport.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <set>

#include "calendar/EventRows.h"
#include "eventstore/Recurrence.h"
#include "platform/LocalTime.h"
#include "platform/ZoneText.h"
#include "platform/formats/ContentLines.h"

namespace wren {
namespace {

using platform::EventItem;

constexpr std::size_t kMaxEvents = 500;
constexpr std::size_t kMaxBodyBytes = 1000000;
constexpr std::size_t kMaxNotes = 20;
constexpr std::string_view kCrlf = "\r\n";

// How the start and end of a timed event are written. Only a series exported with its
// rule keeps its zone (or its floating local time): a reader expands the rule in the zone
// of DTSTART, so a series written in UTC would drift by an hour after a clock change.
// Everything else is written in UTC, which every reader understands without a VTIMEZONE.
// A zone that only the event's file defines is written with that file's TZID and VTIMEZONE.
enum class TimeKind { Utc, Zoned, Floating };

struct TimeForm {
  TimeKind kind = TimeKind::Utc;
  std::string zoneId;  // Zoned: an IANA id, or the TZID of `defined`
  std::shared_ptr<const platform::DefinedZone> defined;
};

bool isUtcZone(const std::string& zoneId) {
  return zoneId == "UTC" || zoneId == "Etc/UTC" || zoneId == "GMT";
}

TimeForm timeForm(const EventItem& event, VeventForm form) {
  if (event.allDay || form != VeventForm::Series || event.rules.empty()) return {};
  if (event.definedZone) return {TimeKind::Zoned, event.definedZone->tzid(), event.definedZone};
  if (!event.timeZone) return {TimeKind::Floating, {}, nullptr};
  // A zone the database does not know cannot be described by a VTIMEZONE; UTC stays right
  // for the first occurrence at least.
  if (isUtcZone(*event.timeZone) || !platform::isKnownZone(*event.timeZone)) return {};
  return {TimeKind::Zoned, *event.timeZone, nullptr};
}

// UNTIL is in UTC, as the rule text is everywhere else, but a floating series needs a
// floating UNTIL: readers reject or misread a UTC one there.
UntilForm untilForm(const EventItem& event, VeventForm form) {
  if (event.allDay) return UntilForm::Day;
  return timeForm(event, form).kind == TimeKind::Floating ? UntilForm::FloatingMoment : UntilForm::Moment;
}

// The TZID parameter of a zoned value; a TZID of the file's own is quoted where it needs it
// ("Canberra, Melbourne, Sydney"), as its VTIMEZONE defines it.
std::string tzidParameter(const TimeForm& time) { return ";TZID=" + platform::parameterValue(time.zoneId); }

std::string timeLine(const std::string& name, Instant instant, const TimeForm& time) {
  constexpr std::string_view kLocalPattern = "yyyyMMdd'T'HHmmss";
  switch (time.kind) {
    case TimeKind::Zoned:
      if (time.defined) {
        return name + tzidParameter(time) + ":" + platform::localDateTimeText(time.defined->wallClock(instant));
      }
      return name + tzidParameter(time) + ":" + platform::formatPattern(instant, kLocalPattern, time.zoneId);
    case TimeKind::Floating:
      return name + ":" + platform::formatPattern(instant, kLocalPattern);
    case TimeKind::Utc: break;
  }
  return name + ":" + icsUTC(instant);
}

void addDates(std::vector<std::string>& lines, const EventItem& event, VeventForm form) {
  if (!event.start) return;
  const Instant end = event.end.value_or(*event.start);
  if (event.allDay) {
    // The iCalendar end of an all-day event is exclusive: the day after its last day.
    lines.push_back("DTSTART;VALUE=DATE:" + icsDay(*event.start));
    lines.push_back("DTEND;VALUE=DATE:" + icsDay(platform::addDays(platform::startOfDay(end), 1)));
    return;
  }
  const TimeForm time = timeForm(event, form);
  lines.push_back(timeLine("DTSTART", *event.start, time));
  lines.push_back(timeLine("DTEND", end, time));
}

std::string uidOf(const EventItem& event, VeventForm form) {
  std::string uid = event.externalId.empty() ? event.itemId : event.externalId;
  if (form == VeventForm::Occurrence && isSeriesOccurrence(event) && event.start) {
    uid += "-" + icsUTC(*event.start);
  }
  return icsEscape(uid);
}

// The value text of a wall-clock time of the series as its DTSTART is written: a day, a
// floating or zoned time as it stands, or the UTC time of a series kept in UTC.
std::string seriesTimeText(const platform::CivilTime& civil, const EventItem& event, const TimeForm& time) {
  if (event.allDay) return platform::dateText(civil);
  if (time.kind == TimeKind::Utc) return platform::localDateTimeText(civil) + "Z";
  return platform::localDateTimeText(civil);
}

// The series' excluded and extra dates, after its RRULE: a reader that knows only the rule
// would bring deleted occurrences back and lose added ones. One line per kind of value,
// in the zone DTSTART is written in; an extra date that lasts its own time is a period.
void addSeriesDates(std::vector<std::string>& lines, const EventItem& event, const TimeForm& time) {
  if (!event.seriesDates) return;
  const std::string parameters = event.allDay ? ";VALUE=DATE" : time.kind == TimeKind::Zoned ? tzidParameter(time) : "";
  auto line = [&](const std::string& name, const std::string& extra, const std::vector<std::string>& values) {
    if (values.empty()) return;
    lines.push_back(name + extra + parameters + ":" + joined(values, ","));
  };
  std::vector<std::string> excluded;
  for (const platform::CivilTime& civil : event.seriesDates->excluded) {
    excluded.push_back(seriesTimeText(civil, event, time));
  }
  std::vector<std::string> added;
  std::vector<std::string> periods;
  for (const platform::SeriesDates::Added& date : event.seriesDates->added) {
    const std::string start = seriesTimeText(date.start, event, time);
    if (date.length && !event.allDay) {
      periods.push_back(start + "/" + platform::durationText(std::chrono::duration<double>(*date.length).count()));
    } else {
      added.push_back(start);
    }
  }
  line("EXDATE", "", excluded);
  line("RDATE", "", added);
  line("RDATE", ";VALUE=PERIOD", periods);
}

void addAlarms(std::vector<std::string>& lines, const EventItem& event) {
  const std::string description = icsEscape(event.title.empty() ? "Reminder" : event.title);
  for (const platform::Alarm& alarm : event.alarms) {
    lines.push_back("BEGIN:VALARM");
    lines.push_back("ACTION:DISPLAY");
    lines.push_back("DESCRIPTION:" + description);
    if (alarm.absoluteDate) {
      lines.push_back("TRIGGER;VALUE=DATE-TIME:" + icsUTC(*alarm.absoluteDate));
    } else {
      lines.push_back("TRIGGER:" + icsDuration(alarmMinutesBefore(alarm)));
    }
    lines.push_back("END:VALARM");
  }
}

// Splits text into its lines, whether they end in CRLF or LF; empty lines are dropped.
std::vector<std::string> splitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(begin, end - begin);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) lines.emplace_back(line);
    begin = end + 1;
  }
  return lines;
}

// A zone to describe with a VTIMEZONE, from the first start of its series on.
struct ZoneUse {
  std::string zoneId;
  Instant from;
  std::shared_ptr<const platform::DefinedZone> defined;
};

void noteZone(std::vector<ZoneUse>& zones, const EventItem& item, VeventForm form) {
  const TimeForm time = timeForm(item, form);
  if (time.kind != TimeKind::Zoned || !item.start) return;
  auto found = std::find_if(zones.begin(), zones.end(), [&](const ZoneUse& z) { return z.zoneId == time.zoneId; });
  if (found == zones.end()) {
    zones.push_back({time.zoneId, *item.start, time.defined});
  } else {
    found->from = std::min(found->from, *item.start);
  }
}

void appendLine(std::string& text, std::string_view line) {
  text += line;
  text += kCrlf;
}

// The folded VTIMEZONE lines of the zone. Only known zones are written with a TZID, so the
// database always describes them; should it not, readers still resolve the TZID by name.
std::string zoneBlock(const ZoneUse& zone) {
  std::string block;
  // A zone only the file defines is described as the file describes it, line for line.
  if (zone.defined) return zone.defined->definition();
  const std::optional<std::string> text = platform::vtimezoneText(zone.zoneId, zone.from);
  if (!text) return block;
  for (const std::string& line : splitLines(*text)) appendLine(block, icsFold(line));
  return block;
}

std::string noteFor(const EventItem& event) {
  return "\"" + event.title + "\": occurrences changed one by one are exported as the plain series rule.";
}

// The item to write for one event of the list, or nothing when its series was written
// already.
struct Selected {
  EventItem item;
  VeventForm form;
};

// Only a rule can be written for a series, so a series made of extra dates alone (RDATE)
// is exported one occurrence at a time; its UIDs still carry the occurrence's start.
std::optional<Selected> select(const EventItem& event, OccurrenceExport mode, const SeriesLookup& lookup,
                               std::set<std::string>& seen, std::vector<std::string>& notes) {
  if ((event.rules.empty() && !event.detached) || mode == OccurrenceExport::OneByOne) {
    return Selected{event, VeventForm::Occurrence};
  }
  if (!seen.insert(event.itemId).second) return std::nullopt;
  std::optional<EventItem> stored = event.itemId.empty() ? std::nullopt : lookup(event.itemId);
  EventItem item = stored ? std::move(*stored) : event;
  if (event.detached || item.detached) notes.push_back(noteFor(event));
  return Selected{std::move(item), VeventForm::Series};
}

}  // namespace

std::string icsEscape(std::string_view text) { return platform::escapeText(text); }

std::string icsFold(std::string_view line) { return platform::foldedText(line); }

std::string icsDuration(long long minutesBefore) {
  if (minutesBefore >= 0) return "-PT" + std::to_string(minutesBefore) + "M";
  return "PT" + std::to_string(-minutesBefore) + "M";
}

std::vector<std::string> vevent(const EventItem& event, VeventForm form, const std::string& stamp) {
  std::vector<std::string> lines{"BEGIN:VEVENT", "UID:" + uidOf(event, form), "DTSTAMP:" + stamp};
  addDates(lines, event, form);
  lines.push_back("SUMMARY:" + icsEscape(event.title));
  if (event.location && !event.location->empty()) lines.push_back("LOCATION:" + icsEscape(*event.location));
  if (event.notes && !event.notes->empty()) lines.push_back("DESCRIPTION:" + icsEscape(*event.notes));
  if (event.url) lines.push_back("URL:" + *event.url);
  if (form == VeventForm::Series && !event.rules.empty()) {
    lines.push_back("RRULE:" + rruleText(event.rules.front(), untilForm(event, form)));
    addSeriesDates(lines, event, timeForm(event, form));
  }
  if (event.availability == platform::Availability::Free) lines.push_back("TRANSP:TRANSPARENT");
  if (event.status == platform::EventStatus::Canceled) lines.push_back("STATUS:CANCELLED");
  addAlarms(lines, event);
  lines.push_back("END:VEVENT");
  return lines;
}

Json exportICS(platform::EventStore& store, const std::vector<EventItem>& events, OccurrenceExport mode) {
  // The series is written from its master; a first occurrence changed on its own counts as
  // a changed occurrence of it, which the export notes.
  const SeriesLookup lookup = [&store](const std::string& itemId) {
    std::optional<EventItem> series = store.series(itemId);
    if (series && !series->detached) {
      const std::optional<EventItem> first = store.event(itemId);
      series->detached = first && first->detached;
    }
    return series;
  };
  return exportICS(events, mode, lookup, icsUTC(now()));
}

Json exportICS(const std::vector<EventItem>& events, OccurrenceExport mode, const SeriesLookup& lookup,
               const std::string& stamp) {
  std::string body;
  std::size_t count = 0;
  std::size_t bytes = 0;
  bool truncated = false;
  std::vector<std::string> notes;
  std::set<std::string> seen;
  std::vector<ZoneUse> zones;
  for (const EventItem& event : events) {
    std::optional<Selected> selected = select(event, mode, lookup, seen, notes);
    if (!selected) continue;
    std::string text;
    for (const std::string& line : vevent(selected->item, selected->form, stamp)) appendLine(text, icsFold(line));
    if (count == kMaxEvents || bytes + text.size() > kMaxBodyBytes) {
      truncated = true;
      break;
    }
    bytes += text.size();
    body += text;
    ++count;
    noteZone(zones, selected->item, selected->form);
  }
  std::string ics;
  for (std::string_view line : {"BEGIN:VCALENDAR", "VERSION:2.0", "PRODID:-//Wren//Device Actions//ZH", "CALSCALE:GREGORIAN"}) {
    appendLine(ics, line);
  }
  for (const ZoneUse& zone : zones) ics += zoneBlock(zone);
  ics += body;
  appendLine(ics, "END:VCALENDAR");
  Json result = Json::object();
  result["ics"] = std::move(ics);
  result["count"] = count;
  result["truncated"] = truncated;
  if (!notes.empty()) {
    notes.resize(std::min(notes.size(), kMaxNotes));
    result["notes"] = notes;
  }
  return result;
}

}  // namespace wren

#include "calendar/IcsExport.h"

#include <algorithm>
#include <cstddef>
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
enum class TimeKind { Utc, Zoned, Floating };

struct TimeForm {
  TimeKind kind = TimeKind::Utc;
  std::string zoneId;
};

bool isUtcZone(const std::string& zoneId) {
  return zoneId == "UTC" || zoneId == "Etc/UTC" || zoneId == "GMT";
}

TimeForm timeForm(const EventItem& event, VeventForm form) {
  if (event.allDay || form != VeventForm::Series || event.rules.empty()) return {};
  if (!event.timeZone) return {TimeKind::Floating, {}};
  // A zone the database does not know cannot be described by a VTIMEZONE; UTC stays right
  // for the first occurrence at least.
  if (isUtcZone(*event.timeZone) || !platform::isKnownZone(*event.timeZone)) return {};
  return {TimeKind::Zoned, *event.timeZone};
}

// UNTIL is in UTC, as the rule text is everywhere else, but a floating series needs a
// floating UNTIL: readers reject or misread a UTC one there.
UntilForm untilForm(const EventItem& event, VeventForm form) {
  if (event.allDay) return UntilForm::Day;
  return timeForm(event, form).kind == TimeKind::Floating ? UntilForm::FloatingMoment : UntilForm::Moment;
}

std::string timeLine(const std::string& name, Instant instant, const TimeForm& time) {
  constexpr std::string_view kLocalPattern = "yyyyMMdd'T'HHmmss";
  switch (time.kind) {
    case TimeKind::Zoned:
      return name + ";TZID=" + time.zoneId + ":" + platform::formatPattern(instant, kLocalPattern, time.zoneId);
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
};

void noteZone(std::vector<ZoneUse>& zones, const EventItem& item, VeventForm form) {
  const TimeForm time = timeForm(item, form);
  if (time.kind != TimeKind::Zoned || !item.start) return;
  auto found = std::find_if(zones.begin(), zones.end(), [&](const ZoneUse& z) { return z.zoneId == time.zoneId; });
  if (found == zones.end()) {
    zones.push_back({time.zoneId, *item.start});
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
  if (form == VeventForm::Series && !event.rules.empty()) lines.push_back("RRULE:" + rruleText(event.rules.front(), untilForm(event, form)));
  if (event.availability == platform::Availability::Free) lines.push_back("TRANSP:TRANSPARENT");
  if (event.status == platform::EventStatus::Canceled) lines.push_back("STATUS:CANCELLED");
  addAlarms(lines, event);
  lines.push_back("END:VEVENT");
  return lines;
}

Json exportICS(platform::EventStore& store, const std::vector<EventItem>& events, OccurrenceExport mode) {
  const SeriesLookup lookup = [&store](const std::string& itemId) { return store.event(itemId); };
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

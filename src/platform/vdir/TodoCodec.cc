#include "platform/vdir/TodoCodec.h"

#include <algorithm>
#include <chrono>
#include <set>

#include <strings.h>

#include "platform/LocalTime.h"
#include "platform/Text.h"
#include "platform/vdir/Ical.h"

namespace wren::platform::vdir {

// What the reminder of a file reads as, kept as plain values so that a parsed file costs
// little memory and can be shared between threads. `hiddenAlarms` are the VALARM blocks that
// no Alarm stands for (ACTION:NONE placeholders, alarms without a usable trigger); a save
// always keeps them as they are.
struct ParsedTodoFile {
  ReminderItem reminder;
  std::set<int> hiddenAlarms;
};

namespace {

// Reading.

icalcomponent* masterTodo(icalcomponent* calendar) {
  icalcomponent* first = icalcomponent_get_first_component(calendar, ICAL_VTODO_COMPONENT);
  for (icalcomponent* todo = first; todo; todo = icalcomponent_get_next_component(calendar, ICAL_VTODO_COMPONENT)) {
    if (!icalcomponent_get_first_property(todo, ICAL_RECURRENCEID_PROPERTY)) return todo;
  }
  return first;
}

std::optional<std::string> textOf(const char* value) {
  if (!value) return std::nullopt;
  return toValidUtf8(value);
}

// Date components keep the wall-clock fields as written. A time in a zone that only the
// file's own VTIMEZONE defines has no IANA id to carry, so it becomes the same instant in UTC.
DateComponents componentsOf(const IcalTime& time) {
  CivilTime civil = time.civil;
  std::optional<std::string> zone;
  if (time.anchor == TimeAnchor::Utc) zone = "UTC";
  if (time.anchor == TimeAnchor::Zoned && !time.customZone) zone = time.zoneId;
  if (time.anchor == TimeAnchor::Zoned && time.customZone) {
    civil = civilIn(toInstant(time), IcalTime{{}, TimeAnchor::Utc, {}, nullptr, {}});
    zone = "UTC";
  }
  DateComponents components{civil.year, civil.month, civil.day, std::nullopt, 0, 0, std::nullopt};
  if (time.anchor == TimeAnchor::Date) return components;
  components.hour = civil.hour;
  components.minute = civil.minute;
  components.second = civil.second;
  components.timeZone = zone;
  return components;
}

// The anchoring that date components stand for, for turning them into instants and for
// choosing the form of UNTIL.
IcalTime timeOf(const DateComponents& components) {
  IcalTime time;
  time.civil = CivilTime{components.year, components.month, components.day,
                         components.hour.value_or(0), components.minute, components.second, 0};
  if (!components.hour) {
    time.anchor = TimeAnchor::Date;
  } else if (components.timeZone == "UTC") {
    time.anchor = TimeAnchor::Utc;
  } else if (components.timeZone && isKnownZone(*components.timeZone)) {
    time.anchor = TimeAnchor::Zoned;
    time.zoneId = *components.timeZone;
  } else {
    time.anchor = TimeAnchor::Floating;
  }
  return time;
}

int priorityOf(icalcomponent* todo) {
  icalproperty* property = icalcomponent_get_first_property(todo, ICAL_PRIORITY_PROPERTY);
  const int priority = property ? icalproperty_get_priority(property) : 0;
  return priority >= 0 && priority <= 9 ? priority : 0;
}

bool isCompleted(icalcomponent* todo) {
  return icalcomponent_get_status(todo) == ICAL_STATUS_COMPLETED ||
         icalcomponent_get_first_property(todo, ICAL_COMPLETED_PROPERTY) != nullptr;
}

std::vector<RecurrenceRule> rulesOf(icalcomponent* todo, const IcalTime& anchor) {
  std::vector<RecurrenceRule> rules;
  for (icalproperty* property = icalcomponent_get_first_property(todo, ICAL_RRULE_PROPERTY); property;
       property = icalcomponent_get_next_property(todo, ICAL_RRULE_PROPERTY)) {
    if (auto rule = ruleFromRecurrence(icalproperty_get_rrule(property), anchor)) rules.push_back(std::move(*rule));
  }
  return rules;
}

// ACTION:NONE marks a placeholder alarm that must never go off. libical 3.0 knows no NONE
// action and reads the word as an extension value, so the text itself is compared.
bool isPlaceholder(icalcomponent* alarm) {
  icalproperty* action = icalcomponent_get_first_property(alarm, ICAL_ACTION_PROPERTY);
  if (!action) return false;
  if (icalproperty_get_action(action) == ICAL_ACTION_NONE) return true;
  const char* text = icalproperty_get_value_as_string(action);
  return text && strcasecmp(text, "NONE") == 0;
}

bool relatesToStart(icalcomponent* alarm) {
  return triggerRelatesTo(icalcomponent_get_first_property(alarm, ICAL_TRIGGER_PROPERTY), ICAL_RELATED_START);
}

// The DUE and DTSTART of a reminder, read once for its dates and for its alarms.
struct TodoTimes {
  std::optional<IcalTime> due;
  std::optional<IcalTime> start;
};

// A reminder's relative alarms count from its due date: a trigger without RELATED, or with
// RELATED=END (the DUE of a VTODO), is read as it stands. Only a trigger that says
// RELATED=START, on a reminder with both a start and a due date, is moved to count from due.
void readAlarmsInto(icalcomponent* todo, const ZoneTable& zones, const TodoTimes& times, ParsedTodoFile& parsed) {
  std::vector<icalcomponent*> blocks;
  for (icalcomponent* alarm = icalcomponent_get_first_component(todo, ICAL_VALARM_COMPONENT); alarm;
       alarm = icalcomponent_get_next_component(todo, ICAL_VALARM_COMPONENT)) {
    blocks.push_back(alarm);
  }
  std::optional<double> startAfterDue;
  if (times.start && times.due) startAfterDue = toSeconds(toInstant(*times.start)) - toSeconds(toInstant(*times.due));
  std::set<int> shown;
  for (Alarm& alarm : readAlarms(todo, zones, 0)) {
    icalcomponent* block = blocks[static_cast<std::size_t>(*alarm.origin)];
    if (isPlaceholder(block)) continue;
    if (!alarm.absoluteDate && startAfterDue && relatesToStart(block)) alarm.relativeOffset += *startAfterDue;
    if (!alarm.locationTitle.empty()) alarm.locationTitle = toValidUtf8(alarm.locationTitle);
    shown.insert(*alarm.origin);
    parsed.reminder.alarms.push_back(std::move(alarm));
  }
  for (int index = 0; index < static_cast<int>(blocks.size()); ++index) {
    if (!shown.count(index)) parsed.hiddenAlarms.insert(index);
  }
}

void readDates(icalcomponent* todo, const ZoneTable& zones, const TodoTimes& times, ReminderItem& reminder) {
  if (times.due) reminder.dueDateComponents = componentsOf(*times.due);
  if (times.start) reminder.startDateComponents = componentsOf(*times.start);
  reminder.completionDate = readInstant(todo, ICAL_COMPLETED_PROPERTY, zones);
  reminder.created = readInstant(todo, ICAL_CREATED_PROPERTY, zones);
  reminder.lastModified = readInstant(todo, ICAL_LASTMODIFIED_PROPERTY, zones);
  // The rule repeats the due date, which is what a person sees and completes.
  reminder.rules = rulesOf(todo, times.due ? *times.due : times.start.value_or(IcalTime{}));
}

// The text of a property of the master VTODO as written, blanks included.
std::optional<std::string> textAsWritten(LazySplit& split, std::string_view name) {
  const RawComponent* calendar = split.get();
  const RawComponent* todo = calendar ? calendar->masterChild("VTODO") : nullptr;
  const ContentLine* line = todo ? todo->line(name) : nullptr;
  if (!line) return std::nullopt;
  return toValidUtf8(unescapeText(valueOf(*line)));
}

// The reminder of a file; `split` gives the file's lines where libical's reading loses what
// was written.
std::shared_ptr<const ParsedTodoFile> readTodoFile(LazySplit& split) {
  ComponentPtr calendar = parseCalendar(split.text());
  if (!calendar) return nullptr;
  icalcomponent* todo = masterTodo(calendar.get());
  if (!todo) return nullptr;
  const ZoneTable zones(calendar.get());
  auto parsed = std::make_shared<ParsedTodoFile>();
  ReminderItem& reminder = parsed->reminder;
  reminder.externalId = textOf(icalcomponent_get_uid(todo)).value_or("");
  reminder.title = textOf(icalcomponent_get_summary(todo)).value_or("");
  reminder.notes = textOf(icalcomponent_get_description(todo));
  if (textMayHoldEdgeBlanks(split.text())) {
    if (std::optional<std::string> title = textAsWritten(split, "SUMMARY")) reminder.title = std::move(*title);
    if (std::optional<std::string> notes = textAsWritten(split, "DESCRIPTION")) reminder.notes = std::move(notes);
  }
  icalproperty* url = icalcomponent_get_first_property(todo, ICAL_URL_PROPERTY);
  reminder.url = url ? textOf(icalproperty_get_url(url)) : std::nullopt;
  reminder.priority = priorityOf(todo);
  reminder.completed = isCompleted(todo);
  const TodoTimes times{readTime(todo, ICAL_DUE_PROPERTY, zones), readTime(todo, ICAL_DTSTART_PROPERTY, zones)};
  readDates(todo, zones, times, reminder);
  keepWrittenDayOrder(reminder.rules, split, "VTODO");
  readAlarmsInto(todo, zones, times, *parsed);
  return parsed;
}

// Writing.

constexpr std::string_view kDefaultAlarmText = "Reminder";

// Sets the one line of a property, or removes it when there is no value.
void putLine(RawComponent& todo, std::string_view name, const std::optional<std::string>& logical) {
  if (logical) {
    todo.setLine(*logical);
  } else {
    todo.removeLines(name);
  }
}

std::optional<std::string> textLine(std::string_view name, const std::optional<std::string>& text) {
  if (!text || text->empty()) return std::nullopt;
  return std::string(name) + ":" + escapeText(*text);
}

// A URI value is not escaped, but it must stay on its own logical line.
std::optional<std::string> urlLine(const std::optional<std::string>& url) {
  if (!url || url->empty()) return std::nullopt;
  std::string value = *url;
  std::erase_if(value, [](char c) { return c == '\r' || c == '\n'; });
  return "URL:" + value;
}

std::optional<std::string> dateLine(std::string_view name, const std::optional<DateComponents>& components) {
  if (!components) return std::nullopt;
  return timeLine(name, timeOf(*components));
}

void writeStatus(RawComponent& todo, const ReminderItem& reminder) {
  if (!reminder.completed) {
    todo.removeLines("COMPLETED");
    todo.removeLines("PERCENT-COMPLETE");
    todo.setLine("STATUS:NEEDS-ACTION");
    return;
  }
  todo.setLine("STATUS:COMPLETED");
  todo.setLine("PERCENT-COMPLETE:100");
  todo.setLine("COMPLETED:" + utcText(reminder.completionDate.value_or(now())));
}

void writeRules(RawComponent& todo, const ReminderItem& reminder) {
  todo.removeLines("RRULE");
  const UntilForm form = reminder.dueDateComponents ? untilFormFor(timeOf(*reminder.dueDateComponents))
                                                    : UntilForm::Moment;
  for (const RecurrenceRule& rule : reminder.rules) {
    todo.lines.push_back(ContentLine::fromLogical("RRULE:" + rruleText(rule, form)));
  }
}

// Writes the modelled properties that differ from `old` (all of them when there is no old
// reminder); a property the change leaves alone keeps its original line.
void writeFields(RawComponent& todo, const ReminderItem* old, const ReminderItem& reminder) {
  if (!old || old->title != reminder.title) putLine(todo, "SUMMARY", textLine("SUMMARY", reminder.title));
  if (!old || old->notes != reminder.notes) putLine(todo, "DESCRIPTION", textLine("DESCRIPTION", reminder.notes));
  if (!old || old->url != reminder.url) putLine(todo, "URL", urlLine(reminder.url));
  if (!old || old->priority != reminder.priority) {
    const int priority = std::clamp(reminder.priority, 0, 9);
    putLine(todo, "PRIORITY", priority ? std::optional("PRIORITY:" + std::to_string(priority)) : std::nullopt);
  }
  if (!old || old->startDateComponents != reminder.startDateComponents) {
    putLine(todo, "DTSTART", dateLine("DTSTART", reminder.startDateComponents));
  }
  const bool dueChanged = !old || old->dueDateComponents != reminder.dueDateComponents;
  if (dueChanged) {
    // DURATION and DUE exclude each other; the due date is what the reminder now says.
    todo.removeLines("DURATION");
    putLine(todo, "DUE", dateLine("DUE", reminder.dueDateComponents));
  }
  if (!old || old->completed != reminder.completed || old->completionDate != reminder.completionDate) {
    writeStatus(todo, reminder);
  }
  if (dueChanged || old->rules != reminder.rules) writeRules(todo, reminder);
}

// A relative trigger of a reminder with a due date says RELATED=END, which RFC 5545 defines
// as the DUE of a VTODO: every reader then counts it from the due date, as this codec does.
RawComponent alarmBlock(const Alarm& alarm, const ReminderItem& reminder) {
  RawComponent block = newAlarmComponent(alarm, reminder.title.empty() ? kDefaultAlarmText : reminder.title);
  if (!alarm.absoluteDate && reminder.dueDateComponents) {
    block.setLine("TRIGGER;RELATED=END:" + durationText(alarm.relativeOffset));
  }
  return block;
}

// Which VALARM blocks of the stored item a rebuilt one carries over.
enum class HiddenAlarms { Keep, Drop };

void writeAlarms(RawComponent& todo, const std::vector<RawComponent>& storedAlarms,
                 const std::set<int>& hidden, HiddenAlarms hiddenAlarms, const ReminderItem& reminder) {
  std::erase_if(todo.children, [](const RawComponent& child) { return child.name == "VALARM"; });
  const int storedCount = static_cast<int>(storedAlarms.size());
  if (hiddenAlarms == HiddenAlarms::Keep) {
    for (int index : hidden) {
      if (index < storedCount) todo.children.push_back(storedAlarms[static_cast<std::size_t>(index)]);
    }
  }
  std::set<int> written;
  for (const Alarm& alarm : reminder.alarms) {
    const bool stored = alarm.origin && *alarm.origin >= 0 && *alarm.origin < storedCount &&
                        written.insert(*alarm.origin).second;
    todo.children.push_back(stored ? storedAlarms[static_cast<std::size_t>(*alarm.origin)]
                                   : alarmBlock(alarm, reminder));
  }
}

std::vector<RawComponent> alarmBlocksOf(const RawComponent& todo) {
  std::vector<RawComponent> blocks;
  for (const RawComponent& child : todo.children) {
    if (child.name == "VALARM") blocks.push_back(child);
  }
  return blocks;
}


// VTIMEZONEs are written with the rules from a year before the earliest date the reminder
// uses, which covers the item and every later occurrence.
Instant zoneRulesFrom(const ReminderItem& reminder) {
  Instant earliest = now();
  for (const auto& components : {reminder.dueDateComponents, reminder.startDateComponents}) {
    if (components) earliest = std::min(earliest, toInstant(timeOf(*components)));
  }
  return earliest - std::chrono::days(366);
}

void finishCalendar(RawComponent& calendar, const ReminderItem& reminder) {
  if (!calendar.line("VERSION")) calendar.lines.insert(calendar.lines.begin(), ContentLine::fromLogical("VERSION:2.0"));
  if (!calendar.line("PRODID")) calendar.setLine("PRODID:" + std::string(kProductId));
  syncTimezones(calendar, zoneRulesFrom(reminder));
}

void stampNew(RawComponent& todo, const ReminderItem& reminder, Instant when) {
  todo.setLine("UID:" + (reminder.externalId.empty() ? newUid() : reminder.externalId));
  todo.setLine("DTSTAMP:" + utcText(when));
  todo.setLine("CREATED:" + utcText(reminder.created.value_or(when)));
  todo.setLine("LAST-MODIFIED:" + utcText(when));
}

// Repeating reminders: the next open occurrence after a completed one.

// A series that yields nothing after this many steps counts as ended.
constexpr int kMaxRecurrenceSteps = 10000;

// The first occurrence of the rule after `due`, expanded in the due date's own wall clock.
// The rule's end is applied here rather than by libical, since COUNT counts from the
// series' first occurrence, which this reminder no longer knows.
std::optional<CivilTime> nextOccurrence(const RecurrenceRule& rule, const IcalTime& due) {
  RecurrenceRule open = rule;
  open.occurrenceCount = 0;
  open.endDate.reset();
  const icaltimetype start = icalOfCivil(due.civil, due.anchor == TimeAnchor::Date);
  RecurIteratorPtr iterator(icalrecur_iterator_new(recurrenceFromRule(open, untilFormFor(due)), start));
  icalerror_clear_errno();
  if (!iterator) return std::nullopt;
  for (int step = 0; step < kMaxRecurrenceSteps; ++step) {
    const icaltimetype next = icalrecur_iterator_next(iterator.get());
    if (icaltime_is_null_time(next)) return std::nullopt;
    if (icaltime_compare(next, start) <= 0) continue;
    IcalTime found = due;
    found.civil = CivilTime{next.year, next.month, next.day, next.hour, next.minute, next.second, 0};
    if (rule.endDate && toInstant(found) > *rule.endDate) return std::nullopt;
    return found.civil;
  }
  return std::nullopt;
}

// Dates move by what the calendar moved the due date by, in wall-clock time: the difference
// of the instants that the wall-clock fields name in UTC.
DateComponents shifted(const DateComponents& components, std::chrono::milliseconds wallDelta) {
  const IcalTime time = timeOf(components);
  const CivilTime moved = utcCivil(utcInstant(time.civil) + wallDelta);
  DateComponents result = components;
  result.year = moved.year;
  result.month = moved.month;
  result.day = moved.day;
  if (result.hour) {
    result.hour = moved.hour;
    result.minute = moved.minute;
    result.second = moved.second;
  }
  return result;
}

// The open reminder that continues a completed repeating one, or nothing when its rule has
// no further occurrence. Alarms at a fixed time move with the due date; the others are
// carried over as they were stored.
std::optional<ReminderItem> continuationOf(const ReminderItem& completed) {
  if (completed.rules.empty() || !completed.dueDateComponents) return std::nullopt;
  const RecurrenceRule& rule = completed.rules.front();
  if (rule.occurrenceCount == 1) return std::nullopt;
  const IcalTime due = timeOf(*completed.dueDateComponents);
  const std::optional<CivilTime> next = nextOccurrence(rule, due);
  if (!next) return std::nullopt;
  const auto wallDelta = utcInstant(*next) - utcInstant(due.civil);
  IcalTime nextDue = due;
  nextDue.civil = *next;
  const auto instantDelta = toInstant(nextDue) - toInstant(due);

  ReminderItem open = completed;
  open.externalId = newUid();
  open.completed = false;
  open.completionDate.reset();
  open.dueDateComponents = shifted(*completed.dueDateComponents, wallDelta);
  if (completed.startDateComponents) open.startDateComponents = shifted(*completed.startDateComponents, wallDelta);
  if (rule.occurrenceCount > 1) open.rules.front().occurrenceCount = rule.occurrenceCount - 1;
  for (Alarm& alarm : open.alarms) {
    if (!alarm.absoluteDate) continue;
    *alarm.absoluteDate += instantDelta;
    alarm.origin.reset();
  }
  open.created.reset();
  open.origin = nullptr;
  return open;
}

// The continuation keeps what the person attached to the reminder (categories, unknown
// properties, location alarms) but none of the stored item's identity or revision.
std::string continuationText(const RawComponent& storedCalendar, const RawComponent& storedTodo,
                             const ParsedTodoFile& stored, const ReminderItem& open) {
  RawComponent todo = storedTodo;
  for (std::string_view name : {"UID", "CREATED", "RECURRENCE-ID", "SEQUENCE", "DTSTAMP", "LAST-MODIFIED"}) {
    todo.removeLines(name);
  }
  const Instant when = now();
  stampNew(todo, open, when);
  writeFields(todo, nullptr, open);
  writeAlarms(todo, alarmBlocksOf(storedTodo), stored.hiddenAlarms, HiddenAlarms::Drop, open);
  std::vector<RawComponent> components;
  for (const RawComponent& child : storedCalendar.children) {
    if (child.name == "VTIMEZONE") components.push_back(child);
  }
  components.push_back(std::move(todo));
  RawComponent calendar = newCalendar(std::move(components));
  finishCalendar(calendar, open);
  return emitComponent(calendar);
}

}  // namespace

std::shared_ptr<const ParsedTodoFile> parseTodoFile(std::string_view text) {
  LazySplit split(text);
  return readTodoFile(split);
}

ReminderItem todoItem(const ParsedTodoFile& file, const ItemContext& context) {
  ReminderItem reminder = file.reminder;
  reminder.itemId = context.itemId;
  reminder.calendarId = context.calendarId;
  return reminder;
}

bool todoCompleted(const ParsedTodoFile& file) { return file.reminder.completed; }

std::string newTodoText(const ReminderItem& reminder) {
  RawComponent todo{"VTODO", {}, {}};
  stampNew(todo, reminder, now());
  writeFields(todo, nullptr, reminder);
  writeAlarms(todo, {}, {}, HiddenAlarms::Drop, reminder);
  RawComponent calendar = newCalendar({std::move(todo)});
  finishCalendar(calendar, reminder);
  return emitComponent(calendar);
}

TodoSaveResult saveTodoText(std::string_view originalText, const ReminderItem& reminder) {
  LazySplit split(originalText);
  const std::shared_ptr<const ParsedTodoFile> stored = readTodoFile(split);
  std::optional<RawComponent> calendar = split.take();
  RawComponent* todo = calendar && calendar->name == "VCALENDAR" ? calendar->masterChild("VTODO") : nullptr;
  if (!stored || !todo) throw StoreError("saveTodoText: the stored file holds no readable VTODO");
  const ReminderItem& old = stored->reminder;

  // Completing a repeating reminder closes this occurrence and opens the next one.
  std::optional<ReminderItem> open;
  if (!old.completed && reminder.completed) open = continuationOf(reminder);
  ReminderItem closed = reminder;
  if (open) closed.rules.clear();

  const RawComponent storedTodo = *todo;
  writeFields(*todo, &old, closed);
  writeAlarms(*todo, alarmBlocksOf(storedTodo), stored->hiddenAlarms, HiddenAlarms::Keep, closed);
  bumpRevision(*todo, now());
  TodoSaveResult result;
  if (open) result.continuation = continuationText(*calendar, storedTodo, *stored, *open);
  finishCalendar(*calendar, closed);
  result.text = emitComponent(*calendar);
  return result;
}

}  // namespace wren::platform::vdir

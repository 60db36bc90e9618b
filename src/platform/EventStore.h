#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Instant.h"
#include "platform/LocalTime.h"

namespace wren::platform {

// The calendar and reminders database: accounts (sources) hold containers (calendars, or
// reminder lists), containers hold items (events, or reminders). Results are plain values:
// every request works on its own copies, and a change reaches other requests only when it
// is saved. Every call sees the store as it is on disk now.
//
// Failures of the underlying system (a file that cannot be written, a file changed by
// another program since it was read) throw StoreError; its message names the failing call
// and path, and handlers put it after their own fixed prefix.

enum class EntityType { Event, Reminder };

enum class SourceType { Local, Exchange, CalDav, MobileMe, Subscribed, Birthdays, Unknown };
enum class CalendarType { Local, CalDav, Exchange, Subscription, Birthday, Unknown };

class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An sRGB colour, components in 0...1.
struct Rgb {
  double red = 0;
  double green = 0;
  double blue = 0;
  bool operator==(const Rgb&) const = default;
};

struct Source {
  std::string id;     // opaque, stable
  std::string title;
  SourceType type = SourceType::Local;
  bool isDelegate = false;
  std::vector<std::string> emails;  // the account's own addresses
};

struct Calendar {
  std::string id;  // opaque, stable
  std::string title;
  std::optional<Rgb> color;
  CalendarType type = CalendarType::Local;
  bool allowsContentModifications = true;
  bool immutable = false;
  bool subscribed = false;
  std::optional<Source> source;
};

// Recurrence, as calendar programs model it. Weekday numbers run from 1 (Sunday) to 7.
enum class Frequency { Daily, Weekly, Monthly, Yearly };

struct RecurrenceDay {
  int weekday = 2;
  int weekNumber = 0;  // 0: every such weekday; 2: the second; -1: the last
  bool operator==(const RecurrenceDay&) const = default;
};

struct RecurrenceRule {
  Frequency frequency = Frequency::Daily;
  int interval = 1;
  std::optional<Instant> endDate;  // UNTIL
  int occurrenceCount = 0;         // COUNT; 0 when the rule does not end by count
  std::vector<RecurrenceDay> daysOfWeek;
  std::vector<int> daysOfMonth;
  std::vector<int> monthsOfYear;
  std::vector<int> weeksOfYear;
  std::vector<int> daysOfYear;
  std::vector<int> setPositions;
  int firstDayOfWeek = 0;  // 0: not given
  bool operator==(const RecurrenceRule&) const = default;
};

struct Alarm {
  std::optional<Instant> absoluteDate;
  double relativeOffset = 0;  // seconds from the start (or due time); negative is before
  bool hasLocation = false;   // a location alarm (arriving at or leaving a place)
  std::string locationTitle;
  // Which alarm of the stored item this one was read from. An alarm that keeps its origin
  // is written back exactly as it was read; a new alarm has none.
  std::optional<int> origin;
};

enum class ParticipantStatus {
  Unknown = 0, Pending = 1, Accepted = 2, Declined = 3,
  Tentative = 4, Delegated = 5, Completed = 6, InProcess = 7
};

struct Participant {
  std::string name;  // empty when the participant has none (CN)
  std::string url;   // "mailto:..." or any other URI, as written
  ParticipantStatus status = ParticipantStatus::Unknown;
  bool isCurrentUser = false;
};

enum class Availability { NotSupported = -1, Busy = 0, Free = 1, Tentative = 2, Unavailable = 3 };
enum class EventStatus { None = 0, Confirmed = 1, Tentative = 2, Canceled = 3 };

// A time zone that only an item's own file defines: its VTIMEZONE names no zone of the
// database (Outlook's "Canberra, Melbourne, Sydney", say).
class DefinedZone {
 public:
  virtual ~DefinedZone() = default;
  // The TZID as a value (escapes and quotes undone).
  virtual const std::string& tzid() const = 0;
  // The VTIMEZONE component as the file wrote it, lines ended by CRLF.
  virtual const std::string& definition() const = 0;
  // The wall-clock time of an instant in the zone.
  virtual CivilTime wallClock(Instant instant) const = 0;
};

// What a series adds to its rules (RDATE) and takes out of them (EXDATE), as wall-clock
// times of the series' own zone (days, for all-day series).
struct SeriesDates {
  struct Added {
    CivilTime start;
    std::optional<std::chrono::milliseconds> length;  // a period that lasts as long as it says
  };
  std::vector<CivilTime> excluded;
  std::vector<Added> added;
};

// Where a stored item was read from; opaque to callers. Saving an item that carries an
// origin updates that stored item, and refuses when the stored item changed since.
struct ItemOrigin;

// One event, or one occurrence of a repeating event.
struct EventItem {
  std::string itemId;      // the stored item's id, shared by all occurrences of a series
  std::string calendarId;  // the container it is in (set before saving a new event)
  std::string calendarTitle;  // filled in by the store when it reads the event
  std::string externalId;  // UID
  std::string title;
  std::optional<std::string> location;
  std::optional<std::string> notes;
  std::optional<std::string> url;
  std::optional<Instant> start;
  // For all-day events the end is the last second of the last day (23:59:59), so that its
  // calendar day is the event's last day; a one-day event ends on its start day.
  std::optional<Instant> end;
  bool allDay = false;
  std::optional<std::string> timeZone;  // IANA id; none for floating times and all-day events
  std::shared_ptr<const DefinedZone> definedZone;  // timed, in a zone only its file defines
  std::optional<Instant> occurrenceDate;  // the original start of this occurrence
  bool repeats = false;    // the series has recurrence (RRULE or RDATE)
  bool detached = false;   // an occurrence changed on its own (RECURRENCE-ID)
  std::vector<RecurrenceRule> rules;
  std::shared_ptr<const SeriesDates> seriesDates;  // none when the series has neither
  Availability availability = Availability::Busy;
  EventStatus status = EventStatus::None;
  std::optional<Participant> organizer;
  std::vector<Participant> attendees;
  std::vector<Alarm> alarms;
  std::optional<Instant> created;
  std::optional<Instant> lastModified;
  std::shared_ptr<const ItemOrigin> origin;  // none for a new event
};

// The wall-clock fields of a reminder's due or start date. A day without hour, or a date
// and time; a time carries its zone (none: floating, read in the current zone).
struct DateComponents {
  int year = 1970;
  int month = 1;
  int day = 1;
  std::optional<int> hour;
  int minute = 0;
  int second = 0;
  std::optional<std::string> timeZone;  // IANA id, "UTC" for UTC times
  bool operator==(const DateComponents&) const = default;
};

struct ReminderItem {
  std::string itemId;
  std::string calendarId;
  std::string calendarTitle;  // filled in by the store when it reads the reminder
  std::string externalId;
  std::string title;
  std::optional<std::string> notes;
  std::optional<std::string> url;
  int priority = 0;  // 0 none, 1 highest ... 9 lowest
  std::optional<DateComponents> dueDateComponents;
  std::optional<DateComponents> startDateComponents;
  bool completed = false;
  std::optional<Instant> completionDate;
  std::vector<RecurrenceRule> rules;
  std::vector<Alarm> alarms;
  std::optional<Instant> created;
  std::optional<Instant> lastModified;
  std::shared_ptr<const ItemOrigin> origin;  // none for a new reminder
};

// Which part of a repeating event a change applies to.
enum class Span { ThisEvent = 0, FutureEvents = 1 };

enum class ReminderFilter { Incomplete, Completed, All };

class EventStore {
 public:
  virtual ~EventStore() = default;

  // Containers, in the store's order (stable between calls).
  virtual std::vector<Source> sources(EntityType kind) = 0;
  virtual std::vector<Calendar> calendars(EntityType kind) = 0;
  // The container new items go to, when the store names one that exists.
  virtual std::optional<Calendar> defaultCalendar(EntityType kind) = 0;
  virtual Calendar createCalendar(EntityType kind, const std::string& sourceId,
                                  const std::string& title, std::optional<Rgb> color) = 0;
  virtual Calendar updateCalendar(EntityType kind, const std::string& calendarId,
                                  const std::optional<std::string>& title,
                                  std::optional<Rgb> color) = 0;
  // Removes the container with all its items (recoverably: it goes to the Trash).
  virtual void removeCalendar(EntityType kind, const std::string& calendarId) = 0;

  // Every event and occurrence overlapping [start, end), in all calendars or in the given
  // ones, handed to `take` one by one, so that a caller that keeps few of them need not hold
  // them all at once. An exception from `take` ends the walk and passes through.
  virtual void forEachEvent(Instant start, Instant end, const std::optional<std::vector<std::string>>& calendarIds,
                            const std::function<void(EventItem&&)>& take) = 0;
  // The same events, collected.
  std::vector<EventItem> events(Instant start, Instant end, const std::optional<std::vector<std::string>>& calendarIds) {
    std::vector<EventItem> result;
    forEachEvent(start, end, calendarIds, [&](EventItem&& event) { result.push_back(std::move(event)); });
    return result;
  }
  // The stored event with that item id (for a series: its first occurrence), or nothing.
  virtual std::optional<EventItem> event(const std::string& itemId) = 0;
  // The series itself with that item id: its rules with its own first start and fields,
  // even when that first occurrence was changed on its own. A store that keeps no series
  // apart from its occurrences gives the stored event.
  virtual std::optional<EventItem> series(const std::string& itemId) { return event(itemId); }
  // Saves a new event (no origin) or a changed one (with the span for occurrences of a
  // series), and gives the event as saved (with its new item id and origin).
  virtual EventItem saveEvent(const EventItem& event, Span span) = 0;
  virtual void removeEvent(const EventItem& event, Span span) = 0;

  virtual std::vector<ReminderItem> reminders(ReminderFilter filter,
                                              const std::optional<std::vector<std::string>>& calendarIds) = 0;
  virtual std::optional<ReminderItem> reminder(const std::string& itemId) = 0;
  // Saves a new or changed reminder and gives it as saved. Completing a repeating reminder
  // also creates the next open occurrence in the same list.
  virtual ReminderItem saveReminder(const ReminderItem& reminder) = 0;
  virtual void removeReminder(const ReminderItem& reminder) = 0;

  // Forgets everything read so far.
  virtual void reset() = 0;
};

}  // namespace wren::platform

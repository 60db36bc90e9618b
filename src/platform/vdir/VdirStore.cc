#include "platform/vdir/VdirStore.h"

#include <algorithm>
#include <chrono>
#include <exception>

#include "platform/DataRoot.h"
#include "platform/files/FileError.h"
#include "platform/files/Trash.h"
#include "platform/vdir/EventCodec.h"
#include "platform/vdir/IcalLimits.h"
#include "platform/vdir/ItemIndex.h"
#include "platform/vdir/ItemIndexSpans.h"
#include "platform/vdir/ItemRebase.h"
#include "platform/vdir/ItemScan.h"
#include "platform/vdir/ItemTransaction.h"
#include "platform/vdir/StoreContainers.h"
#include "platform/vdir/StoreDefaults.h"
#include "platform/vdir/StoreLayout.h"
#include "platform/vdir/TodoCodec.h"

namespace wren::platform {

namespace vdir {

// A file whose summary the scan of its text decides is parsed only when a request needs its
// items; the others are parsed on their first reading.
struct EventCodecTraits {
  using Parsed = ParsedEventFile;
  using Summary = EventExtent;
  template <class Key>
  using Catalog = SpanCatalog<Key>;
  static std::shared_ptr<const Parsed> parse(std::string_view text) { return parseEventFile(text); }
  static Summary summarize(const Parsed& file) { return eventExtent(file); }
  static std::optional<Summary> scan(std::string_view text) { return scanEventExtent(text); }
};

struct TodoCodecTraits {
  using Parsed = ParsedTodoFile;
  using Summary = bool;  // completed
  template <class Key>
  using Catalog = CompletionCatalog<Key>;
  static std::shared_ptr<const Parsed> parse(std::string_view text) { return parseTodoFile(text); }
  static Summary summarize(const Parsed& file) { return todoCompleted(file); }
  static std::optional<Summary> scan(std::string_view text) { return scanTodoCompleted(text); }
  static bool keptWhole(Summary completed) { return !completed; }
};

}  // namespace vdir

namespace {

using vdir::CalendarFolder;
using vdir::StoreLayout;

// Events and reminders are both iCalendar files; their ids are salted apart. Their stores
// hold up to a hundred thousand files. A request for events needs a few of them, and a
// parsed event is large: the index keeps each file's summary and parses the files a request
// needs. The default list of reminders shows every open one: the index keeps open reminders
// whole and completed ones, most of a store with years of them, by their summary.
const vdir::ItemKind kEventFiles{".ics", "event", kItemFileBytes, vdir::Retention::Summary};
const vdir::ItemKind kTodoFiles{".ics", "reminder", kItemFileBytes, vdir::Retention::Summary};

// Any store call first creates the store on first use, then reads what is there now.
StoreLayout currentLayout(EntityType kind) {
  vdir::ensureDefaultStore(kind);
  return vdir::readLayout(vdir::storeFolder(dataRoot(), kind));
}

const char* nounOf(EntityType kind) { return kind == EntityType::Event ? "calendar" : "reminder list"; }

const CalendarFolder& findCalendar(const StoreLayout& layout, EntityType kind, const std::string& id) {
  const CalendarFolder* calendar = layout.findCalendar(id);
  if (!calendar) throw StoreError(std::string("there is no ") + nounOf(kind) + " with id " + id);
  return *calendar;
}

const CalendarFolder& writableCalendar(const StoreLayout& layout, EntityType kind, const std::string& id) {
  const CalendarFolder& calendar = findCalendar(layout, kind, id);
  if (!calendar.calendar.allowsContentModifications)
    throw StoreError(std::string("the ") + nounOf(kind) + " \"" + calendar.calendar.title + "\" (" +
                     calendar.folder.string() + ") is read-only");
  return calendar;
}

std::vector<const CalendarFolder*> selectCalendars(const StoreLayout& layout,
                                                   const std::optional<std::vector<std::string>>& ids) {
  std::vector<const CalendarFolder*> selected;
  for (const CalendarFolder& calendar : layout.calendars) {
    if (!ids || std::find(ids->begin(), ids->end(), calendar.calendar.id) != ids->end())
      selected.push_back(&calendar);
  }
  return selected;
}

// What the codecs need to know about the items of a calendar; each item's id is set by the caller.
vdir::ItemContext contextFor(const CalendarFolder& calendar) {
  vdir::ItemContext context{{}, calendar.calendar.id, {}};
  if (calendar.calendar.source) context.ownEmails = calendar.calendar.source->emails;
  return context;
}

vdir::ItemContext contextFor(const CalendarFolder& calendar, const ItemOrigin& origin) {
  vdir::ItemContext context = contextFor(calendar);
  context.itemId = origin.itemId;
  return context;
}

template <class Item>
Item decorated(Item item, const CalendarFolder& calendar, const std::shared_ptr<const ItemOrigin>& origin) {
  item.calendarTitle = calendar.calendar.title;
  item.origin = origin;
  return item;
}

// Where an item was written.
struct Written {
  const CalendarFolder* calendar;
  std::string fileName;
};

// Writes a changed item back over its file, or, when it moves to another calendar, into that
// calendar (under the same file name when it is free) and then removes the old file.
Written writeBack(vdir::ItemTransaction& change, const StoreLayout& layout, EntityType kind, const ItemOrigin& origin,
                  const std::string& text, const CalendarFolder& target) {
  if (target.calendar.id == origin.collectionId) {
    change.replace(origin, text);
    return {&target, origin.path.filename().string()};
  }
  writableCalendar(layout, kind, origin.collectionId);
  return {&target, change.move(origin, target.folder, text)};
}

template <class Index>
typename Index::EntryPtr readBack(Index& index, const Written& written) {
  return vdir::readBack(index, *written.calendar, written.fileName);
}

// The item with that id as it is on disk now, and its calendar.
template <class Index>
std::pair<const CalendarFolder*, typename Index::EntryPtr> findItem(Index& index, const StoreLayout& layout,
                                                                  const std::string& itemId) {
  auto fromIndex = [&]() -> std::optional<std::pair<const CalendarFolder*, typename Index::EntryPtr>> {
    if (auto located = index.locate(itemId)) {
      if (const CalendarFolder* calendar = layout.findCalendar(located->first))
        return std::pair{calendar, index.refreshFile(*calendar, located->second)};
    }
    return std::nullopt;
  };
  if (auto found = fromIndex()) return *found;
  // An id not seen yet (a fresh process): index the whole store once.
  std::vector<const CalendarFolder*> all = selectCalendars(layout, std::nullopt);
  index.update(all);
  index.retain(all);
  if (auto found = fromIndex()) return *found;
  return {nullptr, nullptr};
}

std::optional<EventItem> primaryOf(const vdir::IndexedFile<vdir::EventCodecTraits>& entry,
                                   const CalendarFolder& calendar) {
  std::optional<EventItem> primary = vdir::primaryEvent(*entry.parsed, contextFor(calendar, *entry.origin));
  if (!primary) return std::nullopt;
  return decorated(std::move(*primary), calendar, entry.origin);
}

EventItem savedPrimary(const vdir::IndexedFile<vdir::EventCodecTraits>& entry, const CalendarFolder& calendar) {
  std::optional<EventItem> primary = primaryOf(entry, calendar);
  if (!primary) throw StoreError("the saved file " + entry.origin->path.string() + " holds no event");
  return std::move(*primary);
}

// The occurrence a changed event became: the one with the same original date, else the one
// at its new start, else the stored event itself.
EventItem savedOccurrence(const vdir::IndexedFile<vdir::EventCodecTraits>& entry, const CalendarFolder& calendar,
                          const EventItem& wanted) {
  if (!wanted.occurrenceDate || !wanted.start) return savedPrimary(entry, calendar);
  constexpr auto kMargin = std::chrono::days(1);
  Instant from = std::min(*wanted.occurrenceDate, *wanted.start) - kMargin;
  Instant to = std::max({*wanted.occurrenceDate, *wanted.start, wanted.end.value_or(*wanted.start)}) + kMargin;
  std::vector<EventItem> near = vdir::eventsInWindow(*entry.parsed, from, to, contextFor(calendar, *entry.origin));
  auto pick = [&](auto matches) -> std::optional<EventItem> {
    auto found = std::find_if(near.begin(), near.end(), matches);
    if (found == near.end()) return std::nullopt;
    return decorated(std::move(*found), calendar, entry.origin);
  };
  if (auto same = pick([&](const EventItem& item) { return item.occurrenceDate == wanted.occurrenceDate; }))
    return *same;
  if (auto moved = pick([&](const EventItem& item) { return item.start == wanted.start; })) return *moved;
  return savedPrimary(entry, calendar);
}

ReminderItem reminderOf(const vdir::IndexedFile<vdir::TodoCodecTraits>& entry, const CalendarFolder& calendar) {
  return decorated(vdir::todoItem(*entry.parsed, contextFor(calendar, *entry.origin)), calendar, entry.origin);
}

bool wanted(ReminderFilter filter, bool completed) {
  if (filter == ReminderFilter::All) return true;
  return completed == (filter == ReminderFilter::Completed);
}

vdir::CompletionQuery catalogQuery(ReminderFilter filter) {
  using Query = vdir::CompletionQuery;
  switch (filter) {
    case ReminderFilter::Incomplete:
      return Query::Open;
    case ReminderFilter::Completed:
      return Query::Completed;
    case ReminderFilter::All:
      break;
  }
  return Query::All;
}

// The store reports the failures of its files and the refusals of its write discipline as
// its own errors, with the same text (the failing call or the refusal, and the path). Called
// from a catch block, it throws the translation of the exception being handled, or that
// exception itself.
[[noreturn]] void rethrowAsStoreError() {
  try {
    throw;
  } catch (const FileError& error) {
    throw StoreError(error.what());
  } catch (const vdir::ItemWriteError& error) {
    throw StoreError(error.what());
  }
}

// The version of a stored item's file that a removal applies to (see ItemTransaction::latest);
// refuses unless the item is stored and its calendar is writable.
template <class Item>
std::shared_ptr<const ItemOrigin> removableOrigin(const vdir::ItemTransaction& change, const Item& item,
                                                  EntityType kind) {
  if (!item.origin)
    throw StoreError(std::string("the ") + (kind == EntityType::Event ? "event" : "reminder") + " \"" +
                     item.title + "\" is not stored");
  writableCalendar(currentLayout(kind), kind, item.origin->collectionId);
  return change.latest(item.origin);
}

[[noreturn]] void refuseLostOccurrence(const ItemOrigin& origin) {
  throw vdir::ItemWriteError("the file " + origin.path.string() +
                             " was saved again by another change since it was read and no longer holds that "
                             "occurrence; read it again");
}

// The change a request made to an event that it read before another change of this process
// saved the event again, applied to the version saved since.
EventItem onNewerVersion(const EventItem& edited, const std::shared_ptr<const ItemOrigin>& newer) {
  const ItemOrigin& read = *edited.origin;
  const vdir::ItemContext context{read.itemId, read.collectionId, {}};
  auto occurrenceIn = [&](const std::string& text) -> std::optional<EventItem> {
    const std::shared_ptr<const vdir::ParsedEventFile> file = vdir::parseEventFile(text);
    if (!file || !edited.occurrenceDate) return std::nullopt;
    return vdir::eventAt(*file, *edited.occurrenceDate, context);
  };
  const std::optional<EventItem> before = occurrenceIn(read.text);
  const std::optional<EventItem> now = occurrenceIn(newer->text);
  if (!before || !now) refuseLostOccurrence(*newer);
  EventItem merged = vdir::rebasedEvent(edited, *before, *now);
  merged.origin = newer;
  return merged;
}

ReminderItem onNewerVersion(const ReminderItem& edited, const std::shared_ptr<const ItemOrigin>& newer) {
  const ItemOrigin& read = *edited.origin;
  const vdir::ItemContext context{read.itemId, read.collectionId, {}};
  const std::shared_ptr<const vdir::ParsedTodoFile> before = vdir::parseTodoFile(read.text);
  const std::shared_ptr<const vdir::ParsedTodoFile> now = vdir::parseTodoFile(newer->text);
  if (!before || !now) refuseLostOccurrence(*newer);
  ReminderItem merged = vdir::rebasedReminder(edited, vdir::todoItem(*before, context), vdir::todoItem(*now, context));
  merged.origin = newer;
  return merged;
}

// Refuses to change an item whose file the helper cannot write back safely.
void checkEditable(const ItemOrigin& origin) {
  if (std::optional<std::string> why = vdir::editRefusal(origin.text))
    throw StoreError("the file " + origin.path.string() + " cannot be changed: " + *why);
}

// The item a save writes: the edited one, moved onto the newest version this process saved
// when that is not the one it was read from.
template <class Item>
Item onLatestVersion(const vdir::ItemTransaction& change, const Item& edited) {
  std::shared_ptr<const ItemOrigin> latest = change.latest(edited.origin);
  return latest == edited.origin ? edited : onNewerVersion(edited, latest);
}

}  // namespace

VdirEventStore::VdirEventStore()
    : events_(std::make_unique<vdir::ItemIndex<vdir::EventCodecTraits, CalendarFolder>>(kEventFiles)),
      todos_(std::make_unique<vdir::ItemIndex<vdir::TodoCodecTraits, CalendarFolder>>(kTodoFiles)) {}

VdirEventStore::~VdirEventStore() = default;

std::vector<Source> VdirEventStore::sources(EntityType kind) {
  std::vector<Source> result;
  for (vdir::SourceFolder& entry : currentLayout(kind).sources) result.push_back(std::move(entry.source));
  return result;
}

std::vector<Calendar> VdirEventStore::calendars(EntityType kind) {
  std::vector<Calendar> result;
  for (CalendarFolder& entry : currentLayout(kind).calendars) result.push_back(std::move(entry.calendar));
  return result;
}

std::optional<Calendar> VdirEventStore::defaultCalendar(EntityType kind) {
  vdir::ensureDefaultStore(kind);
  std::optional<CalendarFolder> found = vdir::readDefaultCalendar(vdir::storeFolder(dataRoot(), kind));
  if (!found) return std::nullopt;
  return std::move(found->calendar);
}

Calendar VdirEventStore::createCalendar(EntityType kind, const std::string& sourceId, const std::string& title,
                                        std::optional<Rgb> color) try {
  StoreLayout layout = currentLayout(kind);
  const vdir::SourceFolder* source = layout.findSource(sourceId);
  if (!source) throw StoreError("there is no account with id " + sourceId);
  std::string name = vdir::makeCalendarFolder(*source, kind, title, color);
  return vdir::readCalendar(*source, name).calendar;
} catch (...) {
  rethrowAsStoreError();
}

Calendar VdirEventStore::updateCalendar(EntityType kind, const std::string& calendarId,
                                        const std::optional<std::string>& title, std::optional<Rgb> color) try {
  StoreLayout layout = currentLayout(kind);
  const CalendarFolder& calendar = findCalendar(layout, kind, calendarId);
  vdir::writeCalendarMetadata(calendar, title, color);
  const vdir::SourceFolder* source = layout.findSource(calendar.calendar.source->id);
  return vdir::readCalendar(*source, calendar.folder.filename().string()).calendar;
} catch (...) {
  rethrowAsStoreError();
}

void VdirEventStore::removeCalendar(EntityType kind, const std::string& calendarId) try {
  moveToTrash(findCalendar(currentLayout(kind), kind, calendarId).folder);
} catch (...) {
  rethrowAsStoreError();
}

void VdirEventStore::forEachEvent(Instant start, Instant end,
                                  const std::optional<std::vector<std::string>>& calendarIds,
                                  const std::function<void(EventItem&&)>& take) {
  StoreLayout layout = currentLayout(EntityType::Event);
  std::vector<const CalendarFolder*> selected = selectCalendars(layout, calendarIds);
  events_->forEach(selected, std::pair{start, end}, [&](const CalendarFolder& calendar, const auto& entry) {
    // A file that the codec cannot expand is skipped like any malformed file; what `take`
    // throws is the caller's and passes through.
    std::vector<EventItem> items;
    try {
      items = vdir::eventsInWindow(*entry.parsed, start, end, contextFor(calendar, *entry.origin));
    } catch (const std::exception&) {
      return;
    }
    for (EventItem& item : items) take(decorated(std::move(item), calendar, entry.origin));
  });
  if (!calendarIds) events_->retain(selected);
}

std::optional<EventItem> VdirEventStore::event(const std::string& itemId) {
  StoreLayout layout = currentLayout(EntityType::Event);
  auto [calendar, entry] = findItem(*events_, layout, itemId);
  if (!entry) return std::nullopt;
  return primaryOf(*entry, *calendar);
}

std::optional<EventItem> VdirEventStore::series(const std::string& itemId) {
  StoreLayout layout = currentLayout(EntityType::Event);
  auto [calendar, entry] = findItem(*events_, layout, itemId);
  if (!entry) return std::nullopt;
  std::optional<EventItem> series = vdir::seriesEvent(*entry->parsed, contextFor(*calendar, *entry->origin));
  if (!series) return std::nullopt;
  return decorated(std::move(*series), *calendar, entry->origin);
}

EventItem VdirEventStore::saveEvent(const EventItem& event, Span span) try {
  vdir::ItemTransaction change(kEventFiles.suffix);
  StoreLayout layout = currentLayout(EntityType::Event);
  const CalendarFolder& target = writableCalendar(layout, EntityType::Event, event.calendarId);
  if (!event.origin) {
    Written written{&target, change.add(target.folder, vdir::newEventText(event))};
    change.commit();
    return savedPrimary(*readBack(*events_, written), target);
  }
  const EventItem edited = onLatestVersion(change, event);
  const ItemOrigin& origin = *edited.origin;
  checkEditable(origin);
  vdir::EventSaveResult saved = vdir::saveEventText(origin.text, edited, span);
  if (!saved.continuation) {
    Written written = writeBack(change, layout, EntityType::Event, origin, saved.text, target);
    change.commit();
    return savedOccurrence(*readBack(*events_, written), *written.calendar, edited);
  }
  // The series ends before the occurrence where it is, and goes on as a new event in the
  // target calendar. The new part is written first, so a failure loses no occurrence.
  writableCalendar(layout, EntityType::Event, origin.collectionId);
  Written continuation{&target, change.add(target.folder, *saved.continuation)};
  change.replace(origin, saved.text);
  change.commit();
  return savedPrimary(*readBack(*events_, continuation), target);
} catch (...) {
  rethrowAsStoreError();
}

void VdirEventStore::removeEvent(const EventItem& event, Span span) try {
  vdir::ItemTransaction change(kEventFiles.suffix);
  const std::shared_ptr<const ItemOrigin> latest = removableOrigin(change, event, EntityType::Event);
  const ItemOrigin& origin = *latest;
  checkEditable(origin);
  std::optional<std::string> remaining = vdir::removeEventText(origin.text, event, span);
  if (remaining) {
    change.replace(origin, *remaining);
  } else {
    change.remove(origin);
  }
  change.commit();
} catch (...) {
  rethrowAsStoreError();
}

std::vector<ReminderItem> VdirEventStore::reminders(ReminderFilter filter,
                                                    const std::optional<std::vector<std::string>>& calendarIds) {
  StoreLayout layout = currentLayout(EntityType::Reminder);
  std::vector<const CalendarFolder*> selected = selectCalendars(layout, calendarIds);
  std::vector<ReminderItem> result;
  todos_->forEach(selected, catalogQuery(filter), [&](const CalendarFolder& calendar, const auto& entry) {
    // The file may have changed since the index looked at it: what it says now decides.
    if (!wanted(filter, entry.summary)) return;
    try {
      result.push_back(reminderOf(entry, calendar));
    } catch (const std::exception&) {
    }
  });
  if (!calendarIds) todos_->retain(selected);
  return result;
}

std::optional<ReminderItem> VdirEventStore::reminder(const std::string& itemId) {
  StoreLayout layout = currentLayout(EntityType::Reminder);
  auto [calendar, entry] = findItem(*todos_, layout, itemId);
  if (!entry) return std::nullopt;
  return reminderOf(*entry, *calendar);
}

ReminderItem VdirEventStore::saveReminder(const ReminderItem& reminder) try {
  vdir::ItemTransaction change(kTodoFiles.suffix);
  StoreLayout layout = currentLayout(EntityType::Reminder);
  const CalendarFolder& target = writableCalendar(layout, EntityType::Reminder, reminder.calendarId);
  if (!reminder.origin) {
    Written written{&target, change.add(target.folder, vdir::newTodoText(reminder))};
    change.commit();
    return reminderOf(*readBack(*todos_, written), target);
  }
  const ReminderItem edited = onLatestVersion(change, reminder);
  const ItemOrigin& origin = *edited.origin;
  checkEditable(origin);
  vdir::TodoSaveResult saved = vdir::saveTodoText(origin.text, edited);
  // The next open occurrence of a completed repeating reminder is written first, so a
  // failure loses no occurrence.
  if (saved.continuation) change.add(target.folder, *saved.continuation);
  Written written = writeBack(change, layout, EntityType::Reminder, origin, saved.text, target);
  change.commit();
  return reminderOf(*readBack(*todos_, written), *written.calendar);
} catch (...) {
  rethrowAsStoreError();
}

void VdirEventStore::removeReminder(const ReminderItem& reminder) try {
  vdir::ItemTransaction change(kTodoFiles.suffix);
  change.remove(*removableOrigin(change, reminder, EntityType::Reminder));
  change.commit();
} catch (...) {
  rethrowAsStoreError();
}

void VdirEventStore::reset() {
  events_->clear();
  todos_->clear();
}

std::unique_ptr<EventStore> makeVdirEventStore() { return std::make_unique<VdirEventStore>(); }

}  // namespace wren::platform

#include "platform/vdir/VdirStore.h"

#include <algorithm>
#include <chrono>
#include <exception>

#include "platform/DataRoot.h"
#include "platform/files/FileError.h"
#include "platform/files/Trash.h"
#include "platform/vdir/EventCodec.h"
#include "platform/vdir/ItemIndex.h"
#include "platform/vdir/ItemTransaction.h"
#include "platform/vdir/StoreContainers.h"
#include "platform/vdir/StoreDefaults.h"
#include "platform/vdir/StoreLayout.h"
#include "platform/vdir/TodoCodec.h"

namespace wren::platform {

namespace vdir {

struct EventCodecTraits {
  using Parsed = ParsedEventFile;
  using Summary = EventExtent;
  static std::shared_ptr<const Parsed> parse(std::string_view text) { return parseEventFile(text); }
  static Summary summarize(const Parsed& file) { return eventExtent(file); }
};

struct TodoCodecTraits {
  using Parsed = ParsedTodoFile;
  using Summary = bool;  // completed
  static std::shared_ptr<const Parsed> parse(std::string_view text) { return parseTodoFile(text); }
  static Summary summarize(const Parsed& file) { return todoCompleted(file); }
};

}  // namespace vdir

namespace {

using vdir::CalendarFolder;
using vdir::StoreLayout;

// Events and reminders are both iCalendar files; their ids are salted apart.
const vdir::ItemKind kEventFiles{".ics", "event"};
const vdir::ItemKind kTodoFiles{".ics", "reminder"};

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

// A file outside the window cannot have an occurrence in it; only the rest is expanded.
bool mayOverlap(const vdir::EventExtent& extent, Instant start, Instant end) {
  if (extent.earliest && *extent.earliest >= end) return false;
  if (extent.latest && *extent.latest < start) return false;
  return true;
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
  if (auto located = index.locate(itemId)) {
    if (const CalendarFolder* calendar = layout.findCalendar(located->first))
      return {calendar, index.refreshFile(*calendar, located->second)};
  }
  // An id not seen yet (a fresh process): scan the whole store once.
  std::vector<const CalendarFolder*> all = selectCalendars(layout, std::nullopt);
  for (const auto& calendarFiles : index.refresh(all)) {
    for (const auto& entry : calendarFiles.files)
      if (entry->origin->itemId == itemId) return {calendarFiles.collection, entry};
  }
  index.retain(all);
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

// Refuses to remove an item unless it is stored, its calendar is writable and its file is as
// it was read.
template <class Item>
void checkRemovable(const vdir::ItemTransaction& change, const Item& item, EntityType kind) {
  if (!item.origin)
    throw StoreError(std::string("the ") + (kind == EntityType::Event ? "event" : "reminder") + " \"" +
                     item.title + "\" is not stored");
  writableCalendar(currentLayout(kind), kind, item.origin->collectionId);
  change.checkUnchanged(*item.origin);
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
  for (const auto& calendarFiles : events_->refresh(selected)) {
    const CalendarFolder& calendar = *calendarFiles.collection;
    vdir::ItemContext context = contextFor(calendar);
    for (const auto& entry : calendarFiles.files) {
      if (!mayOverlap(entry->summary, start, end)) continue;
      context.itemId = entry->origin->itemId;
      // A file that the codec cannot expand is skipped like any malformed file; what `take`
      // throws is the caller's and passes through.
      std::vector<EventItem> items;
      try {
        items = vdir::eventsInWindow(*entry->parsed, start, end, context);
      } catch (const std::exception&) {
        continue;
      }
      for (EventItem& item : items) take(decorated(std::move(item), calendar, entry->origin));
    }
  }
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
  const ItemOrigin& origin = *event.origin;
  change.checkUnchanged(origin);
  vdir::EventSaveResult saved = vdir::saveEventText(origin.text, event, span);
  if (!saved.continuation) {
    Written written = writeBack(change, layout, EntityType::Event, origin, saved.text, target);
    change.commit();
    return savedOccurrence(*readBack(*events_, written), *written.calendar, event);
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
  checkRemovable(change, event, EntityType::Event);
  const ItemOrigin& origin = *event.origin;
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
  for (const auto& calendarFiles : todos_->refresh(selected)) {
    for (const auto& entry : calendarFiles.files) {
      if (!wanted(filter, entry->summary)) continue;
      try {
        result.push_back(reminderOf(*entry, *calendarFiles.collection));
      } catch (const std::exception&) {
        continue;
      }
    }
  }
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
  const ItemOrigin& origin = *reminder.origin;
  change.checkUnchanged(origin);
  vdir::TodoSaveResult saved = vdir::saveTodoText(origin.text, reminder);
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
  checkRemovable(change, reminder, EntityType::Reminder);
  change.remove(*reminder.origin);
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

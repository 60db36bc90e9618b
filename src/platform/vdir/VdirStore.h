#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/EventStore.h"

namespace wren::platform {

namespace vdir {
struct EventCodecTraits;
struct TodoCodecTraits;
template <class Codec, class Collection>
class ItemIndex;
struct StoreLayout;
struct CalendarFolder;
}  // namespace vdir

// The event and reminder stores as vdir folders of iCalendar files under the data root:
// calendars/ for events and reminders/ for reminders, each holding account folders that
// hold calendar folders that hold one item per *.ics file (see StoreLayout.h).
//
// Containers are read from the folders on every call. Items are kept in an index that every
// call checks against the disk (modification time, size, inode), so a file changed by
// another program is read again and a removed one disappears. The index keeps of each event
// file its extent in time, so that a query parses only the files that can overlap its
// window, and of each reminder whether it is completed; a write re-reads only its files. Writes are atomic
// (temporary file, fsync, rename) and refuse to overwrite a file that changed on disk since
// its item was read. The store is safe to use from many threads at once.
//
// Saving returns the item as read back from the file: for a new event its first
// occurrence; for a changed occurrence of a series the occurrence with the same original
// date, else the one at the item's new start, else the series' first one; for a "future"
// change the first occurrence of the new series that continues it.
class VdirEventStore : public EventStore {
 public:
  VdirEventStore();
  ~VdirEventStore() override;

  std::vector<Source> sources(EntityType kind) override;
  std::vector<Calendar> calendars(EntityType kind) override;
  std::optional<Calendar> defaultCalendar(EntityType kind) override;
  Calendar createCalendar(EntityType kind, const std::string& sourceId, const std::string& title,
                          std::optional<Rgb> color) override;
  Calendar updateCalendar(EntityType kind, const std::string& calendarId,
                          const std::optional<std::string>& title, std::optional<Rgb> color) override;
  void removeCalendar(EntityType kind, const std::string& calendarId) override;

  void forEachEvent(Instant start, Instant end, const std::optional<std::vector<std::string>>& calendarIds,
                    const std::function<void(EventItem&&)>& take) override;
  std::optional<EventItem> event(const std::string& itemId) override;
  std::optional<EventItem> series(const std::string& itemId) override;
  EventItem saveEvent(const EventItem& event, Span span) override;
  void removeEvent(const EventItem& event, Span span) override;

  std::vector<ReminderItem> reminders(ReminderFilter filter,
                                      const std::optional<std::vector<std::string>>& calendarIds) override;
  std::optional<ReminderItem> reminder(const std::string& itemId) override;
  ReminderItem saveReminder(const ReminderItem& reminder) override;
  void removeReminder(const ReminderItem& reminder) override;

  void reset() override;

 private:
  std::unique_ptr<vdir::ItemIndex<vdir::EventCodecTraits, vdir::CalendarFolder>> events_;
  std::unique_ptr<vdir::ItemIndex<vdir::TodoCodecTraits, vdir::CalendarFolder>> todos_;
};

// The store of the current data root (dataRoot()).
std::unique_ptr<EventStore> makeVdirEventStore();

}  // namespace wren::platform

#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/EventStore.h"
#include "platform/vdir/ItemContext.h"

namespace wren::platform::vdir {

// iCalendar files holding one event (a VCALENDAR with one UID: the master VEVENT and its
// RECURRENCE-ID overrides), read and written with libical. Pure functions of file text:
// the store does the file work.

// A parsed event file, immutable and shareable between threads.
struct ParsedEventFile;

// Parses the file text; nothing when it holds no usable VEVENT.
std::shared_ptr<const ParsedEventFile> parseEventFile(std::string_view text);

// Every event or occurrence of the file overlapping [start, end), with its fields filled in
// from the context (origin left empty: the store sets it).
std::vector<EventItem> eventsInWindow(const ParsedEventFile& file, Instant start, Instant end,
                                      const ItemContext& context);

// The stored event itself: a one-off event, or the first occurrence of a series.
std::optional<EventItem> primaryEvent(const ParsedEventFile& file, const ItemContext& context);
// The series of the file as its master describes it (its own first start and fields, its
// rules and extra dates), even when an override changed that first occurrence; for an
// event that does not repeat, primaryEvent.
std::optional<EventItem> seriesEvent(const ParsedEventFile& file, const ItemContext& context);

// The occurrence of a series whose original start is `occurrenceDate` (its override, if it
// has one), as eventsInWindow gives it; nothing when the series has no such occurrence. For
// a file without recurrence, the stored event itself.
std::optional<EventItem> eventAt(const ParsedEventFile& file, Instant occurrenceDate, const ItemContext& context);

// The earliest and latest instant any occurrence can touch (for skipping files outside a
// window without expanding them); an unbounded series has no latest. The bounds are taken
// from wall-clock fields, widened by kExtentOffsetMargin, which covers every zone's offset
// from UTC and a day's length, so that they do not depend on the current zone.
inline constexpr std::chrono::hours kExtentOffsetMargin{26};
struct EventExtent {
  std::optional<Instant> earliest;
  std::optional<Instant> latest;
};
EventExtent eventExtent(const ParsedEventFile& file);

// The file text of a new event; its UID is the item's externalId, or a fresh one.
std::string newEventText(const EventItem& event);

// Saving a changed event back into its file text. For a series, `span` decides: this
// occurrence (an override), or this and the following ones (the series ends before it and
// continues from there in a new file with a new UID). Properties the helper does not model
// are kept exactly as they were.
struct EventSaveResult {
  std::string text;                         // the new text of the original file
  std::optional<std::string> continuation;  // the text of a new file, for a future split
};
EventSaveResult saveEventText(std::string_view originalText, const EventItem& event, Span span);

// Removing an event: the new file text, or nothing when the whole file goes.
std::optional<std::string> removeEventText(std::string_view originalText, const EventItem& event,
                                           Span span);

}  // namespace wren::platform::vdir

#pragma once

// Reading events: the time window and calendar filter of a request, the windowed fetch,
// the search and declined filters, the listing order, paging, and finding one event or
// occurrence by its event id.
//
//   EventWindow window = eventWindow(params);
//   auto events = fetchEvents(store, window, eventCalendars(store, params),
//                             EventFilter(params.string("query"), Declined::Drop));
//   sortForListing(events);

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "app/Json.h"
#include "app/Params.h"
#include "platform/EventStore.h"

namespace wren {

struct EventWindow {
  Instant start;
  Instant end;
};

// The window of start and end: 14 days from today's midnight without bounds, a plain end
// date includes its whole day, and at most 3660 days.
EventWindow eventWindow(const Params& params);

// The calendars named by `calendar` (id or name) and `calendar_ids` (exact ids), combined;
// nothing when neither is given, never an empty list.
std::optional<std::vector<platform::Calendar>> eventCalendars(platform::EventStore& store, const Params& params);

// Whether events the current user declined stay in a listing.
enum class Declined { Drop, Keep };

// Which events a listing keeps: those whose title, location or notes contain the query
// (ignoring case and diacritics; no query keeps all) and, with Declined::Drop, that the
// current user has not declined. The default keeps every event.
class EventFilter {
 public:
  EventFilter() = default;
  EventFilter(const std::optional<std::string>& query, Declined declined);
  bool keeps(const platform::EventItem& event) const;

 private:
  std::optional<std::u16string> needle_;
  Declined declined_ = Declined::Keep;
};

// Every event and occurrence of the window that the filter keeps, fetched in pieces of 365
// days and kept once per calendar and event id, in fetch order. The filter applies as the
// events arrive, so the others are never held; they count all the same: the fetch fails when
// more than 50000 distinct events arrive, kept or not.
std::vector<platform::EventItem> fetchEvents(platform::EventStore& store, EventWindow window,
                                             const std::optional<std::vector<platform::Calendar>>& calendars,
                                             const EventFilter& filter = {});

// Keeps, in order, the events the filter keeps.
void keepMatching(std::vector<platform::EventItem>& events, const std::optional<std::string>& query,
                  Declined declined);

// Stable ascending order by start, then title, then event id.
void sortForListing(std::vector<platform::EventItem>& events);
// Stable ascending order by start only: events starting together keep their order.
void sortByStart(std::vector<platform::EventItem>& events);

// The slice of a sorted listing a request asks for: `offset` (0 when absent or negative,
// at most the total) and `limit` (50 when absent, clamped to 1...500).
struct PageBounds {
  std::size_t offset = 0;
  std::size_t limit = 50;
};
PageBounds pageBounds(const Params& params, std::size_t total);

// The answer of calendar.events.list for the filtered, sorted events of a window.
Json listingPage(const std::vector<platform::EventItem>& sorted, PageBounds bounds, EventWindow window);

// The event or occurrence an event id names: an id with an occurrence start after its
// last "@" is searched two days either side of that start; any other id is looked up in
// the store as a whole.
platform::EventItem resolveEvent(platform::EventStore& store, const std::string& id);

// The handlers of calendar.events.list and calendar.events.get; access is checked where they
// are registered.
Json listEvents(platform::EventStore& store, const Params& params);
Json getEvent(platform::EventStore& store, const Params& params);

}  // namespace wren

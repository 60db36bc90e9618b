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
#include <functional>
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
// days and handed to `take` once per calendar and event id, in fetch order, with its event
// id. The filter applies as the events arrive, so the others are never held; they count all
// the same: the fetch fails when more than 50000 distinct events arrive, kept or not.
void forEachFetched(platform::EventStore& store, EventWindow window,
                    const std::optional<std::vector<platform::Calendar>>& calendars, const EventFilter& filter,
                    const std::function<void(platform::EventItem&&, std::string&& eventId)>& take);

// The same events, collected.
std::vector<platform::EventItem> fetchEvents(platform::EventStore& store, EventWindow window,
                                             const std::optional<std::vector<platform::Calendar>>& calendars,
                                             const EventFilter& filter = {});

// The first events of a listing, gathered as they arrive: every event counts toward the
// total, but only the first `keep` in listing order (see sortForListing) are held, so an
// event past the page costs one comparison, and each kept one is moved, never copied.
//
//   ListingCollector first(offset + limit);
//   forEachFetched(store, window, calendars, filter, [&](EventItem&& e, std::string&& id) {
//     first.add(std::move(e), std::move(id));
//   });
//   std::size_t total = first.total();
//   std::vector<EventItem> sorted = std::move(first).sorted();
class ListingCollector {
 public:
  explicit ListingCollector(std::size_t keep) : keep_(keep) {}
  // `eventId` is eventId(event), which the caller has at hand already.
  void add(platform::EventItem&& event, std::string eventId);
  std::size_t total() const { return total_; }
  // The kept events in listing order.
  std::vector<platform::EventItem> sorted() &&;

 private:
  struct Entry {
    platform::EventItem event;
    std::string id;
    std::size_t arrival = 0;  // ties in start, title and id keep the order of arrival
  };
  bool before(std::size_t a, std::size_t b) const;

  std::size_t keep_;
  std::size_t total_ = 0;
  std::vector<Entry> entries_;
  // Positions in entries_, a heap with the last kept event in listing order on top: the
  // one a better event replaces once `keep_` are held.
  std::vector<std::size_t> heap_;
};

// Keeps, in order, the events the filter keeps.
void keepMatching(std::vector<platform::EventItem>& events, const std::optional<std::string>& query,
                  Declined declined);

// Stable ascending order by start, then title, then event id (an event without a start
// first).
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

// The answer of calendar.events.list for the filtered, sorted events of a window, of which
// `sorted` holds the first ones (at least to the end of the page) of `total`.
Json listingPage(const std::vector<platform::EventItem>& sorted, std::size_t total, PageBounds bounds,
                 EventWindow window);

// The event or occurrence an event id names: an id with an occurrence start after its
// last "@" is searched two days either side of that start; any other id is looked up in
// the store as a whole.
platform::EventItem resolveEvent(platform::EventStore& store, const std::string& id);

// The handlers of calendar.events.list and calendar.events.get; access is checked where they
// are registered.
Json listEvents(platform::EventStore& store, const Params& params);
Json getEvent(platform::EventStore& store, const Params& params);

}  // namespace wren

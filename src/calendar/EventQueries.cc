#include "calendar/EventQueries.h"

#include <algorithm>
#include <chrono>
#include <numeric>
#include <tuple>
#include <unordered_set>

#include "app/Dates.h"
#include "app/HelperError.h"
#include "app/Paging.h"
#include "calendar/EventRows.h"
#include "eventstore/Containers.h"
#include "platform/LocalTime.h"
#include "platform/Text.h"

namespace wren {

namespace {

using platform::EventItem;
using std::chrono::seconds;

constexpr seconds kDefaultWindow{1209600};  // 14 days
constexpr seconds kLongestWindow{316224000};  // 3660 days
constexpr seconds kFetchChunk{31536000};  // 365 days
constexpr seconds kOccurrenceSearch{172800};  // two days either side
constexpr std::chrono::milliseconds kSameInstant{1000};
constexpr std::size_t kMostFetchedEvents = 50000;

bool withinOneSecond(const std::optional<Instant>& a, Instant b) {
  if (!a) return false;
  return std::chrono::abs(*a - b) < kSameInstant;
}

bool declinedByCurrentUser(const EventItem& event) {
  for (const platform::Participant& attendee : event.attendees)
    if (attendee.isCurrentUser) return attendee.status == platform::ParticipantStatus::Declined;
  return false;
}

bool matchesFolded(const EventItem& event, const std::u16string& needle) {
  return platform::containsFolded(event.title, needle) ||
         (event.location && platform::containsFolded(*event.location, needle)) ||
         (event.notes && platform::containsFolded(*event.notes, needle));
}

// The occurrence of the series `base` whose start, or else whose original start, lies
// within a second of `at`.
std::optional<EventItem> occurrenceNear(platform::EventStore& store, const std::string& base, Instant at) {
  std::vector<EventItem> candidates;
  store.forEachEvent(at - kOccurrenceSearch, at + kOccurrenceSearch, std::nullopt, [&](EventItem&& event) {
    if (event.itemId == base) candidates.push_back(std::move(event));
  });
  for (EventItem& event : candidates)
    if (withinOneSecond(event.start, at)) return std::move(event);
  for (EventItem& event : candidates)
    if (withinOneSecond(event.occurrenceDate, at)) return std::move(event);
  return std::nullopt;
}

}  // namespace

EventWindow eventWindow(const Params& params) {
  std::optional<Instant> endParam = params.endDate("end");
  std::optional<Instant> startParam = params.date("start");
  Instant start = startParam ? *startParam
                  : endParam ? *endParam - kDefaultWindow
                             : platform::startOfDay(now());
  Instant end = endParam.value_or(start + kDefaultWindow);
  if (end <= start) throwInvalidArgs("end must be after start");
  if (end - start > kLongestWindow)
    throwInvalidArgs("The time window is limited to about 10 years; narrow start/end.");
  return {start, end};
}

std::optional<std::vector<platform::Calendar>> eventCalendars(platform::EventStore& store, const Params& params) {
  std::vector<platform::Calendar> list =
      namedContainers(store, EntityType::Event, params.string("calendar"),
                      params.strings("calendar_ids").value_or(std::vector<std::string>{}));
  if (list.empty()) return std::nullopt;
  return list;
}

EventFilter::EventFilter(const std::optional<std::string>& query, Declined declined) : declined_(declined) {
  if (query) needle_ = platform::foldForSearch(*query);
}

bool EventFilter::keeps(const EventItem& event) const {
  if (needle_ && !matchesFolded(event, *needle_)) return false;
  return declined_ == Declined::Keep || !declinedByCurrentUser(event);
}

void forEachFetched(platform::EventStore& store, EventWindow window,
                    const std::optional<std::vector<platform::Calendar>>& calendars, const EventFilter& filter,
                    const std::function<void(EventItem&&, std::string&&)>& take) {
  std::optional<std::vector<std::string>> calendarIds;
  if (calendars) {
    calendarIds.emplace();
    for (const platform::Calendar& calendar : *calendars) calendarIds->push_back(calendar.id);
  }
  std::unordered_set<std::string> seen;
  auto arrive = [&](EventItem&& event) {
    std::string id = eventId(event);
    if (!seen.insert(event.calendarId + "|" + id).second) return;
    if (seen.size() > kMostFetchedEvents)
      throwInvalidArgs("More than 50000 events in that window; narrow start/end or pick a calendar.");
    if (filter.keeps(event)) take(std::move(event), std::move(id));
  };
  for (Instant cursor = window.start; cursor < window.end;) {
    Instant chunkEnd = std::min<Instant>(cursor + kFetchChunk, window.end);
    store.forEachEvent(cursor, chunkEnd, calendarIds, arrive);
    cursor = chunkEnd;
  }
}

std::vector<EventItem> fetchEvents(platform::EventStore& store, EventWindow window,
                                   const std::optional<std::vector<platform::Calendar>>& calendars,
                                   const EventFilter& filter) {
  std::vector<EventItem> result;
  forEachFetched(store, window, calendars, filter,
                 [&](EventItem&& event, std::string&&) { result.push_back(std::move(event)); });
  return result;
}

bool ListingCollector::before(std::size_t a, std::size_t b) const {
  const Entry& x = entries_[a];
  const Entry& y = entries_[b];
  return std::tie(x.event.start, x.event.title, x.id, x.arrival) <
         std::tie(y.event.start, y.event.title, y.id, y.arrival);
}

void ListingCollector::add(EventItem&& event, std::string id) {
  const std::size_t arrival = total_++;
  auto byOrder = [this](std::size_t a, std::size_t b) { return before(a, b); };
  if (entries_.size() < keep_) {
    // Until the collector is full, nothing is compared: most listings fit their page.
    entries_.push_back({std::move(event), std::move(id), arrival});
    if (entries_.size() == keep_) {
      heap_.resize(keep_);
      std::iota(heap_.begin(), heap_.end(), std::size_t{0});
      std::make_heap(heap_.begin(), heap_.end(), byOrder);
    }
    return;
  }
  if (keep_ == 0) return;
  // A later arrival never goes before an equal event, so ties stay with the one held.
  const Entry& last = entries_[heap_.front()];
  if (!(std::tie(event.start, event.title, id) < std::tie(last.event.start, last.event.title, last.id))) return;
  std::pop_heap(heap_.begin(), heap_.end(), byOrder);
  entries_[heap_.back()] = Entry{std::move(event), std::move(id), arrival};
  std::push_heap(heap_.begin(), heap_.end(), byOrder);
}

std::vector<EventItem> ListingCollector::sorted() && {
  heap_.resize(entries_.size());
  std::iota(heap_.begin(), heap_.end(), std::size_t{0});
  std::sort(heap_.begin(), heap_.end(), [this](std::size_t a, std::size_t b) { return before(a, b); });
  std::vector<EventItem> events;
  events.reserve(heap_.size());
  for (std::size_t at : heap_) events.push_back(std::move(entries_[at].event));
  entries_.clear();
  heap_.clear();
  return events;
}

void keepMatching(std::vector<EventItem>& events, const std::optional<std::string>& query, Declined declined) {
  const EventFilter filter(query, declined);
  std::erase_if(events, [&](const EventItem& event) { return !filter.keeps(event); });
}

void sortForListing(std::vector<EventItem>& events) {
  ListingCollector collector(events.size());
  for (EventItem& event : events) {
    std::string id = eventId(event);
    collector.add(std::move(event), std::move(id));
  }
  events = std::move(collector).sorted();
}

void sortByStart(std::vector<EventItem>& events) {
  // The positions are sorted rather than the events, so that each event moves once.
  std::vector<std::size_t> order(events.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return events[a].start < events[b].start; });
  std::vector<EventItem> sorted;
  sorted.reserve(events.size());
  for (std::size_t at : order) sorted.push_back(std::move(events[at]));
  events = std::move(sorted);
}

PageBounds pageBounds(const Params& params, std::size_t total) {
  PageRequest request = pageRequest(params);
  return {std::min(static_cast<std::size_t>(request.offset), total), static_cast<std::size_t>(request.limit)};
}

Json listingPage(const std::vector<EventItem>& sorted, std::size_t total, PageBounds bounds, EventWindow window) {
  std::size_t stop = std::min(total, bounds.offset + bounds.limit);
  Json rows = Json::array();
  for (std::size_t i = bounds.offset; i < std::min(stop, sorted.size()); ++i)
    rows.push_back(eventRow(sorted[i], RowForm::Summary));
  Json range = {{"start", localDateTimeText(window.start)}, {"end", localDateTimeText(window.end)}};
  return pagedAnswer("events", std::move(rows), total, stop, Json{{"range", std::move(range)}});
}

EventItem resolveEvent(platform::EventStore& store, const std::string& id) {
  std::size_t at = id.rfind('@');
  if (at != std::string::npos) {
    if (std::optional<Instant> date = parseDate(std::string_view(id).substr(at + 1))) {
      if (std::optional<EventItem> occurrence = occurrenceNear(store, id.substr(0, at), *date))
        return std::move(*occurrence);
      throwInvalidArgs("No occurrence " + id +
                       " on this Mac any more (deleted or moved). Find it again with calendar.events.list.");
    }
  }
  if (std::optional<EventItem> event = store.event(id)) return std::move(*event);
  throwInvalidArgs("No event with event_id " + id +
                   " on this Mac (deleted, or not an event id). Find it with calendar.events.list.");
}

Json listEvents(platform::EventStore& store, const Params& params) {
  EventWindow window = eventWindow(params);
  Declined declined = params.boolean("include_declined") == true ? Declined::Keep : Declined::Drop;
  // Only the events up to the end of the page are held; the others are counted.
  PageRequest page = pageRequest(params);
  ListingCollector first(static_cast<std::size_t>(page.offset) + static_cast<std::size_t>(page.limit));
  forEachFetched(store, window, eventCalendars(store, params), EventFilter(params.string("query"), declined),
                 [&](EventItem&& event, std::string&& id) { first.add(std::move(event), std::move(id)); });
  const std::size_t total = first.total();
  return listingPage(std::move(first).sorted(), total, pageBounds(params, total), window);
}

Json getEvent(platform::EventStore& store, const Params& params) {
  std::string id = params.requireString("event_id");
  return eventRow(resolveEvent(store, id), RowForm::Detail);
}

}  // namespace wren

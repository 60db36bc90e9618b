#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <optional>
#include <set>

#include "platform/Instant.h"
#include "platform/vdir/EventCodec.h"

namespace wren::platform::vdir {

// The items of one calendar by the span of time they can occupy, so that a window query
// visits the items that can overlap it and few others, however many the calendar holds:
//
//   SpanCatalog<const Item*> spans;
//   spans.add(&item, EventExtent{start, end});
//   spans.visit(windowStart, windowEnd, [](const Item* item) { expand(*item); });
//   spans.remove(&item, EventExtent{start, end});   // with the extent it was added with
//
// An item whose extent has an earliest and a latest instant is kept in the line of its
// length class (one day, two, four...), ordered by earliest start: in class k nothing lasts
// longer than 2^k days, so a window [start, end) needs only the entries that begin in
// [start - 2^k days, end) of that line, and at most about half of them end before the
// window. Items longer than the longest class, and series without an end, are kept in one
// line ordered by start and visited from its beginning; items without an earliest instant in
// one line ordered by their latest. An item is visited when it may overlap the window in the
// sense of the store: it does not begin at or after the window's end and does not end before
// its start.
template <class Key>
class SpanCatalog {
 public:
  using Query = std::pair<Instant, Instant>;  // the window [start, end)

  void add(Key key, const EventExtent& extent) { insertOrErase(key, extent, Change::Add); }
  void remove(Key key, const EventExtent& extent) { insertOrErase(key, extent, Change::Remove); }

  template <class Visit>
  void visit(const Query& window, Visit&& visit) const {
    const auto [start, end] = window;
    for (std::size_t k = 0; k < kClasses; ++k) {
      const Line& line = bounded_[k];
      if (line.empty()) continue;
      auto from = start > Instant::min() + widthOf(k) ? line.lower_bound(Span{start - widthOf(k), Instant::min(), Key{}})
                                                      : line.begin();
      visitFrom(line, from, start, end, visit);
    }
    visitFrom(wide_, wide_.begin(), start, end, visit);
    for (auto at = open_.lower_bound(Span{Instant::min(), start, Key{}}); at != open_.end(); ++at) visit(at->key);
  }

  std::size_t size() const {
    std::size_t total = wide_.size() + open_.size();
    for (const Line& line : bounded_) total += line.size();
    return total;
  }

 private:
  static constexpr std::size_t kClasses = 16;  // up to 2^15 days, about 90 years

  struct Span {
    Instant earliest;
    Instant latest;  // Instant::max() when the item has no end
    Key key;
  };
  struct ByEarliest {
    bool operator()(const Span& a, const Span& b) const {
      return a.earliest != b.earliest ? a.earliest < b.earliest : std::less<Key>()(a.key, b.key);
    }
  };
  struct ByLatest {
    bool operator()(const Span& a, const Span& b) const {
      return a.latest != b.latest ? a.latest < b.latest : std::less<Key>()(a.key, b.key);
    }
  };
  using Line = std::set<Span, ByEarliest>;
  enum class Change { Add, Remove };

  static std::chrono::milliseconds widthOf(std::size_t k) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::days(1)) * (std::int64_t{1} << k);
  }

  template <class Visit>
  static void visitFrom(const Line& line, typename Line::const_iterator at, Instant start, Instant end,
                        Visit& visit) {
    for (; at != line.end() && at->earliest < end; ++at)
      if (at->latest >= start) visit(at->key);
  }

  void insertOrErase(Key key, const EventExtent& extent, Change change) {
    const Span span{extent.earliest.value_or(Instant::min()), extent.latest.value_or(Instant::max()), key};
    auto apply = [&](auto& line) {
      if (change == Change::Add) {
        line.insert(span);
      } else {
        line.erase(span);
      }
    };
    if (!extent.earliest) return apply(open_);
    if (extent.latest) {
      const auto length = *extent.latest - *extent.earliest;
      for (std::size_t k = 0; k < kClasses; ++k)
        if (length <= widthOf(k)) return apply(bounded_[k]);
    }
    apply(wide_);
  }

  std::array<Line, kClasses> bounded_;
  Line wide_;                    // longer than the longest class, or without an end
  std::set<Span, ByLatest> open_;  // without an earliest instant
};

// Which reminders a query of a CompletionCatalog wants.
enum class CompletionQuery { Open, Completed, All };

// The reminders of one list by whether they are completed, so that a list of the open ones
// never visits the completed ones (which pile up over the years) and the other way round.
// Each kind is visited in the order of its keys.
template <class Key>
class CompletionCatalog {
 public:
  using Query = CompletionQuery;

  void add(Key key, bool completed) { (completed ? completed_ : open_).insert(key); }
  void remove(Key key, bool completed) { (completed ? completed_ : open_).erase(key); }

  template <class Visit>
  void visit(Query query, Visit&& visit) const {
    if (query != Query::Completed)
      for (Key key : open_) visit(key);
    if (query != Query::Open)
      for (Key key : completed_) visit(key);
  }

  std::size_t size() const { return open_.size() + completed_.size(); }

 private:
  std::set<Key> open_;
  std::set<Key> completed_;
};

}  // namespace wren::platform::vdir

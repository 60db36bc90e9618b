#include "platform/vdir/ItemIndexSpans.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <random>
#include <set>
#include <string>

namespace wren::platform::vdir {
namespace {

using std::chrono::days;
using std::chrono::hours;
using std::chrono::milliseconds;

constexpr Instant kOrigin{milliseconds(1'750'000'000'000)};

// What a query must give: every extent that neither begins at or after the window's end nor
// ends before its start, found by looking at each.
std::set<int> bruteForce(const std::map<int, EventExtent>& extents, Instant start, Instant end) {
  std::set<int> overlapping;
  for (const auto& [key, extent] : extents) {
    if (extent.earliest && *extent.earliest >= end) continue;
    if (extent.latest && *extent.latest < start) continue;
    overlapping.insert(key);
  }
  return overlapping;
}

std::set<int> visited(const SpanCatalog<int>& catalog, Instant start, Instant end) {
  std::set<int> keys;
  catalog.visit({start, end}, [&](int key) { EXPECT_TRUE(keys.insert(key).second) << "visited twice: " << key; });
  return keys;
}

// Spans of every shape a calendar holds: short events, days, series over months and years,
// series without an end, and the odd file without a start.
EventExtent randomExtent(std::mt19937& random) {
  std::uniform_int_distribution<int> shape(0, 9);
  std::uniform_int_distribution<long> at(0, 3 * 365 * 24);
  const Instant start = kOrigin + hours(at(random));
  const int kind = shape(random);
  if (kind == 0) return {start, std::nullopt};
  if (kind == 1) return {std::nullopt, start};
  if (kind == 2) return {std::nullopt, std::nullopt};
  std::uniform_int_distribution<long> length[] = {
      std::uniform_int_distribution<long>(0, 4), std::uniform_int_distribution<long>(0, 24 * 40),
      std::uniform_int_distribution<long>(0, 24 * 800), std::uniform_int_distribution<long>(0, 24 * 365 * 200)};
  return {start, start + hours(length[kind % 4](random))};
}

TEST(SpanCatalog, AWindowFindsWhatABruteForceScanFindsAsItemsComeAndGo) {
  std::mt19937 random(20250303);
  SpanCatalog<int> catalog;
  std::map<int, EventExtent> extents;
  std::uniform_int_distribution<long> windowAt(-24 * 400, 4 * 365 * 24);
  std::uniform_int_distribution<long> windowLength(0, 24 * 60);
  std::uniform_int_distribution<int> pick(0, 1999);
  for (int round = 0; round < 6000; ++round) {
    const int key = pick(random);
    // Items are added, changed (removed with their old extent, added with a new one) and removed.
    if (auto found = extents.find(key); found != extents.end()) {
      catalog.remove(key, found->second);
      extents.erase(found);
      if (round % 3 == 0) continue;
    }
    extents[key] = randomExtent(random);
    catalog.add(key, extents[key]);
    if (round % 50 != 0) continue;
    ASSERT_EQ(catalog.size(), extents.size());
    const Instant start = kOrigin + hours(windowAt(random));
    const Instant end = start + hours(windowLength(random)) + milliseconds(1);
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_EQ(visited(catalog, start, end), bruteForce(extents, start, end));
  }
}

TEST(SpanCatalog, BoundsAreThoseOfTheStore) {
  struct Case {
    const char* name;
    EventExtent extent;
    bool visited;
  };
  const Instant start = kOrigin, end = kOrigin + days(14);
  const Case cases[] = {
      {"ends exactly at the window's start", {start - hours(1), start}, true},
      {"ends just before the window", {start - hours(1), start - milliseconds(1)}, false},
      {"begins at the window's end", {end, end + hours(1)}, false},
      {"begins just before the window's end", {end - milliseconds(1), end}, true},
      {"covers the window", {start - days(3000), end + days(3000)}, true},
      {"longer than any length class, long over", {start - days(60000), start - days(1)}, false},
      {"series without an end, begun long ago", {start - days(40000), std::nullopt}, true},
      {"series without an end, begun after", {end, std::nullopt}, false},
      {"no start, ends within", {std::nullopt, start + days(1)}, true},
      {"no start, ended before", {std::nullopt, start - days(1)}, false},
      {"neither start nor end", {std::nullopt, std::nullopt}, true},
      {"at the earliest instant there is", {Instant::min(), Instant::min() + days(1)}, false},
  };
  for (const Case& item : cases) {
    SCOPED_TRACE(item.name);
    SpanCatalog<int> catalog;
    catalog.add(1, item.extent);
    EXPECT_EQ(visited(catalog, start, end).size(), item.visited ? 1u : 0u);
    EXPECT_EQ(visited(catalog, Instant::min(), end).size(), item.extent.earliest < end ? 1u : 0u);
    catalog.remove(1, item.extent);
    EXPECT_EQ(catalog.size(), 0u);
  }
}

TEST(CompletionCatalog, VisitsOnlyWhatTheQueryWantsAndFollowsChanges) {
  CompletionCatalog<int> catalog;
  catalog.add(1, false);
  catalog.add(2, true);
  catalog.add(3, false);
  auto keys = [&](CompletionQuery query) {
    std::set<int> found;
    catalog.visit(query, [&](int key) { found.insert(key); });
    return found;
  };
  EXPECT_EQ(keys(CompletionQuery::Open), (std::set<int>{1, 3}));
  EXPECT_EQ(keys(CompletionQuery::Completed), (std::set<int>{2}));
  EXPECT_EQ(keys(CompletionQuery::All), (std::set<int>{1, 2, 3}));
  catalog.remove(3, false);  // completed since
  catalog.add(3, true);
  catalog.remove(1, false);
  EXPECT_EQ(keys(CompletionQuery::Open), (std::set<int>{}));
  EXPECT_EQ(keys(CompletionQuery::Completed), (std::set<int>{2, 3}));
}

}  // namespace
}  // namespace wren::platform::vdir

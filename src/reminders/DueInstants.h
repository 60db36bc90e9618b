#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/EventStore.h"
#include "platform/Instant.h"

namespace wren {

// The instants of many reminders' due components, as componentsInstant gives them, for one
// request. A zone conversion is costly and a list request needs thousands, so the cache
// converts only a few local midnights per month and zone and derives every other time by
// arithmetic, wherever the day in question is exactly 24 hours long. Days with a change of
// offset, and fields out of range, go through the full conversion.
//
//   DueInstants dueInstants;
//   for (const ReminderItem& reminder : fetched) keys.push_back({&reminder, dueInstants.of(reminder)});
class DueInstants {
 public:
  std::optional<Instant> of(const platform::ReminderItem& reminder);
  std::optional<Instant> of(const platform::DateComponents& components);

 private:
  struct MonthKey {
    std::string zone;
    int year = 0;
    int month = 0;
    auto operator<=>(const MonthKey&) const = default;
  };
  // The local midnights of day 1 to the first day of the next month. A month in which no day
  // differs from 24 hours keeps only the first.
  struct Month {
    bool regular = false;
    std::vector<std::optional<Instant>> midnights;
  };

  const Month& month(const MonthKey& key);
  std::optional<Instant> midnight(const MonthKey& key, int day);

  std::map<MonthKey, Month> months_;
};

}  // namespace wren

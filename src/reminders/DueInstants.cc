#include "reminders/DueInstants.h"

#include <chrono>
#include <utility>

#include "platform/LocalTime.h"
#include "reminders/ReminderRows.h"

namespace wren {

using platform::DateComponents;

namespace {

// The years std::chrono's calendar types handle; others take the full conversion.
constexpr int kFirstYear = 1;
constexpr int kLastYear = 9999;
// The month is checked at its first, its sixteenth and the next month's first midnight:
// two opposite changes of offset would both have to fall within one half to go unnoticed.
constexpr int kMiddleDay = 16;

int daysInMonth(int year, int month) {
  using namespace std::chrono;
  year_month_day_last last{std::chrono::year(year), month_day_last(std::chrono::month(static_cast<unsigned>(month)))};
  return static_cast<int>(static_cast<unsigned>(last.day()));
}

bool inRange(const DateComponents& components) {
  if (components.year < kFirstYear || components.year > kLastYear) return false;
  if (components.month < 1 || components.month > 12) return false;
  if (components.day < 1 || components.day > daysInMonth(components.year, components.month)) return false;
  if (!components.hour) return true;
  return *components.hour >= 0 && *components.hour <= 23 && components.minute >= 0 && components.minute <= 59 &&
         components.second >= 0 && components.second <= 59;
}

std::optional<Instant> localMidnight(const std::string& zone, int year, int month, int day) {
  platform::CivilTime civil;
  civil.year = year;
  civil.month = month;
  civil.day = day;
  return platform::instantFromCivil(civil, zone);
}

bool lasts(std::optional<Instant> from, std::optional<Instant> to, int days) {
  return from && to && *to - *from == std::chrono::days(days);
}

}  // namespace

std::optional<Instant> DueInstants::of(const platform::ReminderItem& reminder) {
  if (!reminder.dueDateComponents) return std::nullopt;
  return of(*reminder.dueDateComponents);
}

std::optional<Instant> DueInstants::of(const DateComponents& components) {
  if (!inRange(components)) return componentsInstant(components);
  MonthKey key{components.timeZone.value_or(""), components.year, components.month};
  std::optional<Instant> start = midnight(key, components.day);
  if (!start) return componentsInstant(components);
  if (!components.hour) return start;
  return *start + std::chrono::hours(*components.hour) + std::chrono::minutes(components.minute) +
         std::chrono::seconds(components.second);
}

const DueInstants::Month& DueInstants::month(const MonthKey& key) {
  auto [entry, inserted] = months_.try_emplace(key);
  Month& month = entry->second;
  if (!inserted) return month;
  const int length = daysInMonth(key.year, key.month);
  const auto [nextYear, nextMonth] = key.month == 12 ? std::pair(key.year + 1, 1) : std::pair(key.year, key.month + 1);
  std::optional<Instant> first = localMidnight(key.zone, key.year, key.month, 1);
  std::optional<Instant> middle = localMidnight(key.zone, key.year, key.month, kMiddleDay);
  std::optional<Instant> next = localMidnight(key.zone, nextYear, nextMonth, 1);
  month.regular = lasts(first, middle, kMiddleDay - 1) && lasts(middle, next, length - kMiddleDay + 1);
  if (month.regular) {
    month.midnights = {first};
    return month;
  }
  month.midnights.reserve(static_cast<size_t>(length) + 1);
  for (int day = 1; day <= length; ++day) month.midnights.push_back(localMidnight(key.zone, key.year, key.month, day));
  month.midnights.push_back(next);
  return month;
}

// The midnight that starts the day, when the day is exactly 24 hours long.
std::optional<Instant> DueInstants::midnight(const MonthKey& key, int day) {
  const Month& entry = month(key);
  if (entry.regular) return *entry.midnights.front() + std::chrono::days(day - 1);
  const std::optional<Instant>& start = entry.midnights[static_cast<size_t>(day - 1)];
  if (!lasts(start, entry.midnights[static_cast<size_t>(day)], 1)) return std::nullopt;
  return start;
}

}  // namespace wren

#include "eventstore/Recurrence.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <string_view>
#include <vector>

#include "app/Dates.h"
#include "app/HelperError.h"
#include "app/Params.h"
#include "platform/LocalTime.h"

namespace wren {
namespace {

using platform::Frequency;
using platform::RecurrenceDay;
using platform::RecurrenceRule;

constexpr int kMaxInterval = 999;

// The frequency named by the text, or nothing for "none"; throws for any other word.
std::optional<Frequency> frequencyOf(const Json& object) {
  const auto found = object.find("frequency");
  if (object.empty() || found == object.end() || !found->is_string()) {
    throwInvalidArgs("recurrence.frequency is required (daily / weekly / monthly / yearly, or none to remove)");
  }
  const std::string word = found->get<std::string>();
  if (word == "daily") return Frequency::Daily;
  if (word == "weekly") return Frequency::Weekly;
  if (word == "monthly") return Frequency::Monthly;
  if (word == "yearly") return Frequency::Yearly;
  if (word == "none") return std::nullopt;
  throwInvalidArgs("recurrence.frequency must be daily / weekly / monthly / yearly / none, got " + word);
}

// A whole number under the key; any other value counts as absent.
std::optional<int64_t> wholeNumber(const Json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end()) return std::nullopt;
  return exactInteger(*found);
}

int intervalOf(const Json& object) {
  const std::optional<int64_t> interval = wholeNumber(object, "interval");
  if (!interval) return 1;
  if (*interval < 1 || *interval > kMaxInterval) throwInvalidArgs("recurrence.interval must be 1–999");
  return static_cast<int>(*interval);
}

// The end of the rule by date; a plain date ends at the last second of that local day.
std::optional<Instant> untilOf(const Json& object) {
  const auto found = object.find("until");
  if (found == object.end() || !found->is_string()) return std::nullopt;
  const std::string text = found->get<std::string>();
  if (text.empty()) return std::nullopt;
  const std::optional<Instant> parsed = parseDate(text);
  if (!parsed) throwInvalidArgs("recurrence.until must be an ISO 8601 date, got " + text);
  if (!isDayText(text)) return parsed;
  return platform::addDays(*parsed, 1) - std::chrono::seconds(1);
}

int countOf(const Json& object) {
  const std::optional<int64_t> count = wholeNumber(object, "count");
  if (!count) return 0;
  if (*count < 1) throwInvalidArgs("recurrence.count must be ≥ 1");
  // The store keeps the count in an int; no calendar needs more occurrences than that.
  return static_cast<int>(std::min<int64_t>(*count, INT_MAX));
}

std::vector<RecurrenceDay> daysOf(const Json& object) {
  const auto found = object.find("days_of_week");
  if (found == object.end() || !found->is_array()) return {};
  const bool allText = std::all_of(found->begin(), found->end(), [](const Json& e) { return e.is_string(); });
  if (!allText) return {};
  std::vector<RecurrenceDay> days;
  for (const Json& element : *found) {
    const std::string sent = element.get<std::string>();
    // Day codes are accepted in any letter case.
    const std::optional<int> weekday = platform::weekdayOfCode(sent);
    if (!weekday) throwInvalidArgs("recurrence.days_of_week takes MO TU WE TH FR SA SU, got " + sent);
    days.push_back(RecurrenceDay{*weekday, 0});
  }
  return days;
}

}  // namespace

std::optional<RecurrenceRule> recurrenceRule(const Json& object) {
  if (!object.is_object()) {
    throwInvalidArgs("recurrence.frequency is required (daily / weekly / monthly / yearly, or none to remove)");
  }
  const std::optional<Frequency> frequency = frequencyOf(object);
  if (!frequency) return std::nullopt;
  RecurrenceRule rule;
  rule.frequency = *frequency;
  rule.interval = intervalOf(object);
  rule.endDate = untilOf(object);
  if (!rule.endDate) rule.occurrenceCount = countOf(object);
  rule.daysOfWeek = daysOf(object);
  return rule;
}

std::string icsUTC(Instant instant) {
  return platform::formatPattern(instant, "yyyyMMdd'T'HHmmss'Z'", "UTC");
}

std::string icsDay(Instant instant) {
  return platform::formatPattern(instant, "yyyyMMdd");
}

std::string joined(const std::vector<std::string>& items, std::string_view separator) {
  std::string text;
  for (const std::string& item : items) {
    if (!text.empty()) text += separator;
    text += item;
  }
  return text;
}

}  // namespace wren

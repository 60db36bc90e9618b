#include "eventstore/Recurrence.h"

#include <algorithm>
#include <array>
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

struct WeekdayCode {
  std::string_view code;
  int weekday;
};

// The iCalendar day codes with the weekday numbers of the store (Sunday = 1); lookups walk
// the table in this order.
constexpr std::array<WeekdayCode, 7> kWeekdayCodes{{
    {"SU", 1}, {"MO", 2}, {"TU", 3}, {"WE", 4}, {"TH", 5}, {"FR", 6}, {"SA", 7},
}};

constexpr int kMaxInterval = 999;

std::optional<int> weekdayOfCode(std::string_view code) {
  for (const WeekdayCode& entry : kWeekdayCodes) {
    if (entry.code == code) return entry.weekday;
  }
  return std::nullopt;
}

std::optional<std::string_view> codeOfWeekday(int weekday) {
  for (const WeekdayCode& entry : kWeekdayCodes) {
    if (entry.weekday == weekday) return entry.code;
  }
  return std::nullopt;
}

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

std::string asciiUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::vector<RecurrenceDay> daysOf(const Json& object) {
  const auto found = object.find("days_of_week");
  if (found == object.end() || !found->is_array()) return {};
  const bool allText = std::all_of(found->begin(), found->end(), [](const Json& e) { return e.is_string(); });
  if (!allText) return {};
  std::vector<RecurrenceDay> days;
  for (const Json& element : *found) {
    const std::string sent = element.get<std::string>();
    const std::optional<int> weekday = weekdayOfCode(asciiUpper(sent));
    if (!weekday) throwInvalidArgs("recurrence.days_of_week takes MO TU WE TH FR SA SU, got " + sent);
    days.push_back(RecurrenceDay{*weekday, 0});
  }
  return days;
}

std::string frequencyText(Frequency frequency) {
  switch (frequency) {
    case Frequency::Weekly: return "WEEKLY";
    case Frequency::Monthly: return "MONTHLY";
    case Frequency::Yearly: return "YEARLY";
    case Frequency::Daily: break;
  }
  return "DAILY";
}

std::string dayText(const RecurrenceDay& day) {
  const std::string number = day.weekNumber != 0 ? std::to_string(day.weekNumber) : std::string();
  return number + std::string(codeOfWeekday(day.weekday).value_or("MO"));
}

void addNumbers(std::vector<std::string>& parts, const char* name, const std::vector<int>& numbers) {
  if (numbers.empty()) return;
  std::vector<std::string> texts;
  for (int number : numbers) texts.push_back(std::to_string(number));
  parts.push_back(std::string(name) + "=" + joined(texts, ","));
}

std::optional<std::string> endPart(const RecurrenceRule& rule, UntilForm untilForm) {
  if (rule.endDate) {
    switch (untilForm) {
      case UntilForm::Day: return "UNTIL=" + icsDay(*rule.endDate);
      case UntilForm::FloatingMoment:
        return "UNTIL=" + platform::formatPattern(*rule.endDate, "yyyyMMdd'T'HHmmss");
      case UntilForm::Moment: break;
    }
    return "UNTIL=" + icsUTC(*rule.endDate);
  }
  if (rule.occurrenceCount >= 1) return "COUNT=" + std::to_string(rule.occurrenceCount);
  return std::nullopt;
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

std::string rruleText(const RecurrenceRule& rule, UntilForm untilForm) {
  std::vector<std::string> parts{"FREQ=" + frequencyText(rule.frequency)};
  if (rule.interval >= 2) parts.push_back("INTERVAL=" + std::to_string(rule.interval));
  if (std::optional<std::string> end = endPart(rule, untilForm)) parts.push_back(*end);
  if (!rule.daysOfWeek.empty()) {
    std::vector<std::string> days;
    for (const RecurrenceDay& day : rule.daysOfWeek) days.push_back(dayText(day));
    parts.push_back("BYDAY=" + joined(days, ","));
  }
  addNumbers(parts, "BYMONTHDAY", rule.daysOfMonth);
  addNumbers(parts, "BYMONTH", rule.monthsOfYear);
  addNumbers(parts, "BYWEEKNO", rule.weeksOfYear);
  addNumbers(parts, "BYYEARDAY", rule.daysOfYear);
  addNumbers(parts, "BYSETPOS", rule.setPositions);
  if (rule.firstDayOfWeek > 0) {
    const std::optional<std::string_view> code = codeOfWeekday(rule.firstDayOfWeek);
    if (code && *code != "MO") parts.push_back("WKST=" + std::string(*code));
  }
  return joined(parts, ";");
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

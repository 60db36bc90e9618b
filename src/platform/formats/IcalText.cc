#include "platform/formats/IcalText.h"

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "platform/formats/ContentLines.h"

namespace wren::platform {
namespace {

// The iCalendar day codes in the order of the weekday numbers (Sunday = 1).
constexpr std::array<std::string_view, 7> kWeekdayCodes = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};

std::string twoDigits(int value) {
  std::array<char, 16> buffer{};
  std::snprintf(buffer.data(), buffer.size(), "%02d", value);
  return buffer.data();
}

const char* frequencyName(Frequency frequency) {
  switch (frequency) {
    case Frequency::Daily: return "DAILY";
    case Frequency::Weekly: return "WEEKLY";
    case Frequency::Monthly: return "MONTHLY";
    case Frequency::Yearly: return "YEARLY";
  }
  return "DAILY";
}

std::string joined(const std::vector<int>& values) {
  std::string text;
  for (int value : values) text += (text.empty() ? "" : ",") + std::to_string(value);
  return text;
}

std::string untilText(Instant until, UntilForm form) {
  switch (form) {
    case UntilForm::Moment: return utcText(until);
    case UntilForm::Day: return dateText(civilFromInstant(until));
    case UntilForm::FloatingMoment: return localDateTimeText(civilFromInstant(until));
  }
  return utcText(until);
}

}  // namespace

Instant utcInstant(const CivilTime& civil) {
  using namespace std::chrono;
  const sys_days day = year{civil.year} / month{static_cast<unsigned>(civil.month)} /
                       std::chrono::day{static_cast<unsigned>(civil.day)};
  return time_point_cast<milliseconds>(day) + hours{civil.hour} + minutes{civil.minute} +
         seconds{civil.second} + milliseconds{civil.millisecond};
}

CivilTime utcCivil(Instant instant) {
  using namespace std::chrono;
  const sys_days day = floor<days>(instant);
  const year_month_day date{day};
  const hh_mm_ss<milliseconds> time{instant - day};
  return CivilTime{static_cast<int>(date.year()), static_cast<int>(unsigned(date.month())),
                   static_cast<int>(unsigned(date.day())), static_cast<int>(time.hours().count()),
                   static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()),
                   static_cast<int>(time.subseconds().count())};
}

std::string dateText(const CivilTime& civil) {
  std::array<char, 32> buffer{};
  std::snprintf(buffer.data(), buffer.size(), "%04d%02d%02d", civil.year, civil.month, civil.day);
  return buffer.data();
}

std::string localDateTimeText(const CivilTime& civil) {
  return dateText(civil) + "T" + twoDigits(civil.hour) + twoDigits(civil.minute) + twoDigits(civil.second);
}

std::string utcText(Instant instant) { return localDateTimeText(utcCivil(instant)) + "Z"; }

std::optional<std::string_view> weekdayCode(int weekday) {
  if (weekday < 1 || weekday > static_cast<int>(kWeekdayCodes.size())) return std::nullopt;
  return kWeekdayCodes[static_cast<std::size_t>(weekday - 1)];
}

std::optional<int> weekdayOfCode(std::string_view code) {
  for (std::size_t i = 0; i < kWeekdayCodes.size(); ++i) {
    if (equalsIgnoringAsciiCase(code, kWeekdayCodes[i])) return static_cast<int>(i) + 1;
  }
  return std::nullopt;
}

std::string durationText(double seconds) {
  const long long total = std::llround(std::fabs(seconds));
  std::string text = seconds < 0 && total != 0 ? "-P" : "P";
  if (total == 0) return "PT0S";
  constexpr long long kDay = 86400;
  constexpr long long kWeek = 7 * kDay;
  if (total % kWeek == 0) return text + std::to_string(total / kWeek) + "W";
  const long long days = total / kDay;
  const long long rest = total % kDay;
  if (days > 0) text += std::to_string(days) + "D";
  if (rest == 0) return text;
  text += "T";
  if (rest / 3600 > 0) text += std::to_string(rest / 3600) + "H";
  if (rest % 3600 / 60 > 0) text += std::to_string(rest % 3600 / 60) + "M";
  if (rest % 60 > 0) text += std::to_string(rest % 60) + "S";
  return text;
}

std::string rruleText(const RecurrenceRule& rule, UntilForm untilForm) {
  std::string text = std::string("FREQ=") + frequencyName(rule.frequency);
  if (rule.interval > 1) text += ";INTERVAL=" + std::to_string(rule.interval);
  // RFC 5545 allows only one of UNTIL and COUNT (libical rejects a rule with both); the end
  // date wins, as it does when a request gives both.
  if (rule.endDate) {
    text += ";UNTIL=" + untilText(*rule.endDate, untilForm);
  } else if (rule.occurrenceCount > 0) {
    text += ";COUNT=" + std::to_string(rule.occurrenceCount);
  }
  std::string days;
  for (const RecurrenceDay& day : rule.daysOfWeek) {
    days += (days.empty() ? "" : ",") + (day.weekNumber != 0 ? std::to_string(day.weekNumber) : "") +
            std::string(weekdayCode(day.weekday).value_or("MO"));
  }
  if (!days.empty()) text += ";BYDAY=" + days;
  const std::pair<const char*, const std::vector<int>*> lists[] = {
      {"BYMONTHDAY", &rule.daysOfMonth}, {"BYMONTH", &rule.monthsOfYear}, {"BYWEEKNO", &rule.weeksOfYear},
      {"BYYEARDAY", &rule.daysOfYear},   {"BYSETPOS", &rule.setPositions}};
  for (const auto& [name, values] : lists) {
    if (!values->empty()) text += std::string(";") + name + "=" + joined(*values);
  }
  // Monday is the week start RFC 5545 assumes, so it is never written.
  const std::optional<std::string_view> weekStart = weekdayCode(rule.firstDayOfWeek);
  if (weekStart && *weekStart != "MO") text += ";WKST=" + std::string(*weekStart);
  return text;
}

}  // namespace wren::platform

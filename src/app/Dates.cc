#include "app/Dates.h"

#include <array>
#include <cstddef>

#include "platform/LocalTime.h"

namespace wren {
namespace {

// The date patterns accept more than their shapes suggest (a year of any length, one-digit
// months, a lower-case "z" or a colon-less offset), so each form's exact shape is checked
// before its pattern reads the values.

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Matches the start of the text against a template in which 'd' stands for one ASCII digit
// and every other character for itself; returns how much matched, or nothing.
std::optional<std::size_t> matchTemplate(std::string_view text, std::string_view shape) {
  if (text.size() < shape.size()) return std::nullopt;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    if (shape[i] == 'd' ? !isDigit(text[i]) : text[i] != shape[i]) return std::nullopt;
  }
  return shape.size();
}

bool matchesExactly(std::string_view text, std::string_view shape) {
  auto matched = matchTemplate(text, shape);
  return matched && *matched == text.size();
}

// A zone designator of an internet date-time: "Z", or an offset "+hh:mm" / "-hh:mm".
bool isZoneDesignator(std::string_view text) {
  return text == "Z" || matchesExactly(text, "+dd:dd") || matchesExactly(text, "-dd:dd");
}

constexpr std::string_view kDateTimeShape = "dddd-dd-ddTdd:dd:dd";
// Fractions finer than milliseconds are accepted (and cut to milliseconds), as internet
// date-times allow any number of digits; nine covers nanoseconds.
constexpr std::size_t kMaxFractionDigits = 9;

bool isZonedWithFraction(std::string_view text) {
  auto matched = matchTemplate(text, kDateTimeShape);
  if (!matched || *matched >= text.size() || text[*matched] != '.') return false;
  std::size_t end = *matched + 1;
  while (end < text.size() && isDigit(text[end])) ++end;
  const std::size_t digits = end - *matched - 1;
  return digits >= 1 && digits <= kMaxFractionDigits && isZoneDesignator(text.substr(end));
}

bool isZonedWithoutFraction(std::string_view text) {
  auto matched = matchTemplate(text, kDateTimeShape);
  return matched && isZoneDesignator(text.substr(*matched));
}

struct DateForm {
  bool (*hasShape)(std::string_view text);
  std::string_view pattern;
  std::string_view zoneId;  // empty: the current zone
};

template <const std::string_view& Shape>
bool hasExactShape(std::string_view text) {
  return matchesExactly(text, Shape);
}

constexpr std::string_view kLocalMillisShape = "dddd-dd-ddTdd:dd:dd.ddd";
constexpr std::string_view kLocalMinutesShape = "dddd-dd-ddTdd:dd";
constexpr std::string_view kSpacedSecondsShape = "dddd-dd-dd dd:dd:dd";
constexpr std::string_view kSpacedMinutesShape = "dddd-dd-dd dd:dd";
constexpr std::string_view kDayShape = "dddd-dd-dd";

// In the order they are tried. The zoned forms are read in UTC, which only matters for the
// pattern's defaults: their own designator sets the offset.
constexpr std::array<DateForm, 8> kDateForms{{
    {isZonedWithFraction, "yyyy-MM-dd'T'HH:mm:ss.SSSXXX", "UTC"},
    {isZonedWithoutFraction, "yyyy-MM-dd'T'HH:mm:ssXXX", "UTC"},
    {hasExactShape<kLocalMillisShape>, "yyyy-MM-dd'T'HH:mm:ss.SSS", ""},
    {hasExactShape<kDateTimeShape>, "yyyy-MM-dd'T'HH:mm:ss", ""},
    {hasExactShape<kLocalMinutesShape>, "yyyy-MM-dd'T'HH:mm", ""},
    {hasExactShape<kSpacedSecondsShape>, "yyyy-MM-dd HH:mm:ss", ""},
    {hasExactShape<kSpacedMinutesShape>, "yyyy-MM-dd HH:mm", ""},
    {hasExactShape<kDayShape>, "yyyy-MM-dd", ""},
}};

}  // namespace

std::optional<Instant> parseDate(std::string_view text) {
  for (const DateForm& form : kDateForms) {
    if (!form.hasShape(text)) continue;
    if (auto instant = platform::parsePattern(text, form.pattern, form.zoneId)) return instant;
  }
  return std::nullopt;
}

bool isDayText(std::string_view text) { return matchesExactly(text, kDayShape); }

std::optional<std::string> isoDay(std::optional<Instant> instant) {
  if (!instant) return std::nullopt;
  return platform::formatDay(*instant);
}

std::string localDateTimeText(Instant instant) {
  return platform::formatDateTime(instant);
}

Json dateTimeValue(std::optional<Instant> instant) {
  if (!instant) return nullptr;
  return localDateTimeText(*instant);
}

Json dayValue(std::optional<Instant> instant) {
  std::optional<std::string> day = isoDay(instant);
  if (!day) return nullptr;
  return *day;
}

}  // namespace wren

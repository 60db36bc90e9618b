#include "app/Params.h"

#include <cctype>
#include <cmath>

#include "app/Dates.h"
#include "app/HelperError.h"
#include "base/JsonParse.h"
#include "platform/LocalTime.h"
#include "platform/Text.h"

namespace wren {

namespace {

// 2^63 as a double: the first value past the signed 64-bit range.
constexpr double kTwoToThe63 = 9223372036854775808.0;

bool inInt64Range(double value) { return value >= -kTwoToThe63 && value < kTwoToThe63; }

// RFC 3986: a scheme is a letter followed by letters, digits, "+", "-" or ".", ended by ":".
bool hasScheme(const std::string& text) {
  std::size_t colon = text.find(':');
  if (colon == 0 || colon == std::string::npos || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  for (std::size_t i = 1; i < colon; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

// Controls and the space can never stand unescaped in a URL.
bool hasOnlyUrlCharacters(const std::string& text, std::string_view alsoRefused) {
  for (unsigned char c : text)
    if (c <= 0x20 || c == 0x7f || alsoRefused.find(static_cast<char>(c)) != std::string_view::npos) return false;
  return true;
}

}  // namespace

Params::Params(Json raw) : raw_(raw.is_object() ? std::move(raw) : Json::object()) {
  for (auto& member : raw_.items())
    if (nestedDeeperThan(member.value(), kParamDepthLimit)) member.value() = tooDeepValue();
}

std::optional<int64_t> exactInteger(const Json& value) {
  if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<int64_t>();
  if (value.is_number_unsigned()) {
    uint64_t u = value.get<uint64_t>();
    if (u > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
    return static_cast<int64_t>(u);
  }
  if (value.is_number_float()) {
    double d = value.get<double>();
    if (std::isfinite(d) && std::trunc(d) == d && inInt64Range(d)) return static_cast<int64_t>(d);
  }
  return std::nullopt;
}

const Json* Params::find(const std::string& key) const {
  auto it = raw_.find(key);
  return it == raw_.end() ? nullptr : &*it;
}

std::optional<std::string> Params::string(const std::string& key) const {
  const Json* value = find(key);
  if (!value || !value->is_string()) return std::nullopt;
  std::string trimmed = platform::trimWhitespace(value->get_ref<const std::string&>());
  if (trimmed.empty()) return std::nullopt;
  return trimmed;
}

std::optional<std::string> Params::untrimmedString(const std::string& key) const {
  const Json* value = find(key);
  if (!value || !value->is_string() || value->get_ref<const std::string&>().empty()) return std::nullopt;
  return value->get<std::string>();
}

std::optional<bool> Params::boolean(const std::string& key) const {
  const Json* value = find(key);
  if (!value || !value->is_boolean()) return std::nullopt;
  return value->get<bool>();
}

std::optional<int64_t> Params::integer(const std::string& key) const {
  const Json* value = find(key);
  if (!value || !value->is_number()) return std::nullopt;
  if (auto exact = exactInteger(*value)) return exact;
  if (value->is_number_float()) {
    double d = value->get<double>();
    if (std::isfinite(d) && inInt64Range(std::trunc(d))) return static_cast<int64_t>(std::trunc(d));
  }
  return std::nullopt;
}

std::optional<double> Params::number(const std::string& key) const {
  const Json* value = find(key);
  if (!value || !value->is_number()) return std::nullopt;
  return value->get<double>();
}

std::optional<std::vector<std::string>> Params::strings(const std::string& key) const {
  const Json* value = find(key);
  if (value && value->is_array()) {
    std::vector<std::string> list;
    for (const Json& element : *value)
      if (element.is_string()) list.push_back(element.get<std::string>());
    return list;
  }
  if (auto single = string(key)) return std::vector<std::string>{*single};
  return std::nullopt;
}

const Json* Params::object(const std::string& key) const {
  const Json* value = find(key);
  return value && value->is_object() ? value : nullptr;
}

std::optional<Instant> Params::date(const std::string& key) const {
  std::optional<std::string> text = string(key);
  if (!text) return std::nullopt;
  std::optional<Instant> parsed = parseDate(*text);
  if (!parsed) throwInvalidArgs(key + " must be an ISO 8601 date/time, got " + *text);
  return parsed;
}

Instant Params::requireDate(const std::string& key) const {
  std::optional<Instant> parsed = date(key);
  if (!parsed) throwInvalidArgs(key + " is required");
  return *parsed;
}

std::optional<Instant> Params::endDate(const std::string& key) const {
  std::optional<Instant> end = date(key);
  if (end && isDayText(*string(key))) end = platform::addDays(*end, 1);
  return end;
}

std::optional<std::string> Params::absoluteUrl(const std::string& key, std::string_view alsoRefused) const {
  std::optional<std::string> url = string(key);
  if (url && !(hasScheme(*url) && hasOnlyUrlCharacters(*url, alsoRefused)))
    throwInvalidArgs(key + " must be an absolute URL, got " + *url);
  return url;
}

std::string Params::requireString(const std::string& key) const {
  std::optional<std::string> text = string(key);
  if (!text) throwInvalidArgs(key + " is required");
  return *text;
}

}  // namespace wren

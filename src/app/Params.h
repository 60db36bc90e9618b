#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/Json.h"
#include "platform/Instant.h"

namespace wren {

// The params object of one request. Handlers read it only through these forgiving
// accessors: a value of the wrong JSON type reads as absent, and JSON null reads like a
// missing key. Only the date and URL accessors fail (invalid_args).
//
// Accessors hand out references into the params, never copies of structured values. A value
// nested deeper than kParamDepthLimit levels counts as a value of the wrong type for every
// accessor: it is replaced when the params are made, so that nothing a handler reads or keeps
// can take the value type's recursive copy, comparison or serialisation past a thread's stack.
class Params {
 public:
  Params() : raw_(Json::object()) {}
  explicit Params(Json raw);

  // The value trimmed of Unicode white space and line breaks; absent when empty.
  std::optional<std::string> string(const std::string& key) const;
  // The text exactly as sent, white space included; absent when empty or not text.
  std::optional<std::string> untrimmedString(const std::string& key) const;
  std::optional<bool> boolean(const std::string& key) const;
  // Exact integers as they are; finite fractions truncated toward zero; numbers outside
  // the signed 64-bit range are absent.
  std::optional<int64_t> integer(const std::string& key) const;
  std::optional<double> number(const std::string& key) const;
  // An array gives its string elements unchanged; a plain string a one-element list of its
  // trimmed text.
  std::optional<std::vector<std::string>> strings(const std::string& key) const;
  // The value when it is an object, else nullptr.
  const Json* object(const std::string& key) const;
  // Fails with "{key} must be an ISO 8601 date/time, got {value}" for unreadable text.
  std::optional<Instant> date(const std::string& key) const;
  // Like date, and fails with "{key} is required" when absent.
  Instant requireDate(const std::string& key) const;
  // Like date, but a plain day (yyyy-MM-dd) stands for the whole day and gives the midnight
  // that ends it.
  std::optional<Instant> endDate(const std::string& key) const;
  // Like string, and fails with "{key} must be an absolute URL, got {value}" unless the text
  // starts with a scheme and a colon and holds no space, control character or character of
  // `alsoRefused`. Non-ASCII text passes, as it does in the host's own URL handling.
  std::optional<std::string> absoluteUrl(const std::string& key, std::string_view alsoRefused = {}) const;
  // Like string, and fails with "{key} is required" when absent.
  std::string requireString(const std::string& key) const;

  // True when the key is present at all, whatever its value (null included).
  bool contains(const std::string& key) const { return raw_.contains(key); }
  // The value as sent, or nullptr when the key is missing.
  const Json* find(const std::string& key) const;
  const Json& raw() const { return raw_; }

 private:
  Json raw_;
};

// Far more levels than any parameter has (a recurrence rule has two), far fewer than it takes
// to exhaust a thread's stack in a recursive operation on the value.
inline constexpr std::size_t kParamDepthLimit = 512;

// Reads a JSON number as a signed 64-bit integer when its value is an exact whole number
// in range (7 and 7.0 give 7; 7.5, 1e300 and text give nothing).
std::optional<int64_t> exactInteger(const Json& value);

}  // namespace wren

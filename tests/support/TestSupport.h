#pragma once

// Helpers the unit tests share: instants written as date text or as UTC fields, params
// from JSON text, and the message of an expected invalid_args failure. Tests only.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "app/Dates.h"
#include "app/HelperError.h"
#include "app/Params.h"
#include "platform/Instant.h"

namespace wren::testing {

// The instant of a text parseDate reads; a text it cannot read is a mistake in the test.
inline Instant at(std::string_view text) {
  std::optional<Instant> parsed = parseDate(text);
  if (!parsed) throw std::runtime_error("unreadable test date " + std::string(text));
  return *parsed;
}

inline Instant utc(int y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0) {
  namespace chrono = std::chrono;
  return Instant(chrono::sys_days(chrono::year(y) / chrono::month(mo) / chrono::day(d)) + chrono::hours(h) +
                 chrono::minutes(mi) + chrono::seconds(s));
}

inline Params params(const std::string& json) { return Params(Json::parse(json)); }

// The message of the invalid_args failure the action raises. An action that raises none
// fails the test, and its message reads "(no failure)".
inline std::string invalidArgsMessage(const std::function<void()>& action) {
  try {
    action();
  } catch (const HelperError& error) {
    EXPECT_EQ(error.code(), ErrorCode::InvalidArgs);
    return error.message();
  }
  ADD_FAILURE() << "no HelperError was thrown";
  return "(no failure)";
}

}  // namespace wren::testing

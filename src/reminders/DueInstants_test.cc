#include "reminders/DueInstants.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TimeZoneGuard.h"
#include "reminders/ReminderRows.h"

namespace wren {
namespace {

using platform::DateComponents;

DateComponents components(int year, int month, int day, std::optional<int> hour, int minute,
                          std::optional<std::string> zone) {
  DateComponents result;
  result.year = year;
  result.month = month;
  result.day = day;
  result.hour = hour;
  result.minute = minute;
  result.timeZone = std::move(zone);
  return result;
}

// The cache must agree with the full conversion everywhere, above all on and around the days
// a zone changes its offset: at 02:00 (Berlin), at midnight (Sao Paulo), by half an hour
// (Lord Howe), or once to a quarter-hour offset (Kathmandu, 1986).
TEST(DueInstants, AgreesWithTheFullConversionAcrossChangesOfOffset) {
  platform::TimeZoneGuard guard("America/New_York");
  struct Span {
    std::optional<std::string> zone;
    int firstYear;
    int lastYear;
  };
  const std::vector<Span> spans = {{"Europe/Berlin", 2024, 2024},       {"America/Sao_Paulo", 2015, 2016},
                                   {"Australia/Lord_Howe", 2024, 2024}, {"Asia/Kathmandu", 1985, 1986},
                                   {std::nullopt, 2024, 2024},          {"UTC", 2024, 2024}};
  const std::vector<std::optional<int>> hours = {std::nullopt, 0, 1, 2, 3, 12, 23};
  for (const Span& span : spans) {
    SCOPED_TRACE(span.zone.value_or("current zone"));
    DueInstants cache;
    int mismatches = 0;
    for (int year = span.firstYear; year <= span.lastYear; ++year) {
      for (int month = 1; month <= 12; ++month) {
        for (int day = 1; day <= 31; ++day) {
          for (std::optional<int> hour : hours) {
            for (int minute : {0, 15, 30, 59}) {
              DateComponents due = components(year, month, day, hour, minute, span.zone);
              if (cache.of(due) != componentsInstant(due) && ++mismatches <= 5) {
                ADD_FAILURE() << year << "-" << month << "-" << day << " " << hour.value_or(-1) << ":" << minute;
              }
            }
          }
        }
      }
    }
    EXPECT_EQ(mismatches, 0);
  }
}

TEST(DueInstants, PassesFieldsOutOfRangeToTheFullConversion) {
  platform::TimeZoneGuard guard("UTC");
  DueInstants cache;
  const std::vector<DateComponents> cases = {
      components(2024, 2, 30, std::nullopt, 0, std::nullopt), components(2023, 2, 29, 9, 0, std::nullopt),
      components(2024, 13, 1, std::nullopt, 0, std::nullopt), components(2024, 1, 0, 9, 0, "UTC"),
      components(2024, 1, 1, 24, 0, std::nullopt),            components(2024, 1, 1, 9, 60, std::nullopt),
      components(0, 1, 1, std::nullopt, 0, std::nullopt),     components(2024, 2, 29, 9, 0, std::nullopt)};
  for (const DateComponents& due : cases) {
    SCOPED_TRACE(std::to_string(due.year) + "-" + std::to_string(due.month) + "-" + std::to_string(due.day));
    EXPECT_EQ(cache.of(due), componentsInstant(due));
  }
  platform::ReminderItem undated;
  EXPECT_FALSE(cache.of(undated).has_value());
}

}  // namespace
}  // namespace wren

#include "app/Dates.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/TimeZoneGuard.h"

namespace wren {
namespace {

using namespace std::chrono;
using platform::TimeZoneGuard;

Instant utc(int y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return Instant(sys_days(year(y) / month(mo) / day(d)) + hours(h) + minutes(mi) + seconds(s) +
                 milliseconds(ms));
}

struct ParseCase {
  std::string text;
  std::optional<Instant> expected;
};

void expectParses(const std::vector<ParseCase>& cases) {
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parseDate(c.text), c.expected);
  }
}

TEST(DatesParse, ZonedFormsIgnoreTheCurrentZone) {
  for (const char* zone : {"Asia/Shanghai", "America/New_York"}) {
    SCOPED_TRACE(zone);
    TimeZoneGuard guard(zone);
    expectParses({
        {"2024-05-01T09:30:00.250Z", utc(2024, 5, 1, 9, 30, 0, 250)},
        {"2024-05-01T09:30:00.250+08:00", utc(2024, 5, 1, 1, 30, 0, 250)},
        {"2024-05-01T09:30:00.250-04:30", utc(2024, 5, 1, 14, 0, 0, 250)},
        {"2024-05-01T09:30:00.5Z", utc(2024, 5, 1, 9, 30, 0, 500)},
        {"2024-05-01T09:30:00.250999Z", utc(2024, 5, 1, 9, 30, 0, 250)},
        {"2024-05-01T09:30:00Z", utc(2024, 5, 1, 9, 30)},
        {"2024-05-01T09:30:00+08:00", utc(2024, 5, 1, 1, 30)},
        {"2024-05-01T09:30:00-00:00", utc(2024, 5, 1, 9, 30)},
    });
  }
}

TEST(DatesParse, OffsetAndZuluNameTheSameInstant) {
  EXPECT_EQ(parseDate("2024-05-01T17:30:00+08:00"), parseDate("2024-05-01T09:30:00Z"));
  EXPECT_EQ(parseDate("2024-05-01T17:30:00.125+08:00"), parseDate("2024-05-01T09:30:00.125Z"));
  EXPECT_TRUE(parseDate("2024-05-01T09:30:00Z"));
}

TEST(DatesParse, LocalFormsReadInShanghai) {
  TimeZoneGuard guard("Asia/Shanghai");
  expectParses({
      {"2024-05-01T09:30:00.250", utc(2024, 5, 1, 1, 30, 0, 250)},
      {"2024-05-01T09:30:00", utc(2024, 5, 1, 1, 30)},
      {"2024-05-01T09:30", utc(2024, 5, 1, 1, 30)},
      {"2024-05-01 09:30:00", utc(2024, 5, 1, 1, 30)},
      {"2024-05-01 09:30", utc(2024, 5, 1, 1, 30)},
      {"2024-05-01", utc(2024, 4, 30, 16)},
  });
}

TEST(DatesParse, LocalFormsReadInNewYork) {
  TimeZoneGuard guard("America/New_York");
  expectParses({
      {"2024-05-01T09:30:00.250", utc(2024, 5, 1, 13, 30, 0, 250)},
      {"2024-05-01T09:30:00", utc(2024, 5, 1, 13, 30)},
      {"2024-05-01T09:30", utc(2024, 5, 1, 13, 30)},
      {"2024-05-01 09:30:00", utc(2024, 5, 1, 13, 30)},
      {"2024-05-01 09:30", utc(2024, 5, 1, 13, 30)},
      {"2024-05-01", utc(2024, 5, 1, 4)},
      {"2024-01-15", utc(2024, 1, 15, 5)},
  });
}

TEST(DatesParse, RejectsTextsNoFormMatchesWhole) {
  TimeZoneGuard guard("Asia/Shanghai");
  expectParses({
      {"May 1", std::nullopt},
      {"", std::nullopt},
      {"2024-02-30", std::nullopt},
      {"2024-13-01", std::nullopt},
      {"2024-05-01T24:00:00Z", std::nullopt},
      {"2024-05-01T09:60", std::nullopt},
      // Trailing or leading text, or white space: nothing is trimmed.
      {"2024-05-01T09:30:00Zjunk", std::nullopt},
      {"2024-05-01T09:30:00.250Z ", std::nullopt},
      {"2024-05-01 extra", std::nullopt},
      {" 2024-05-01", std::nullopt},
      {"2024-05-01\n", std::nullopt},
      // Zone designators other than Z and +hh:mm.
      {"2024-05-01T09:30:00+0800", std::nullopt},
      {"2024-05-01T09:30:00.250+0800", std::nullopt},
      {"2024-05-01T09:30:00z", std::nullopt},
      {"2024-05-01T09:30:00.250z", std::nullopt},
      {"2024-05-01T09:30:00+08", std::nullopt},
      {"2024-05-01T09:30:00 +08:00", std::nullopt},
      {"2024-05-01T09:30:00GMT", std::nullopt},
      {"2024-05-01T09:30:00.Z", std::nullopt},
      {"2024-05-01T09:30Z", std::nullopt},
      // Offsets are only for the date-time forms with seconds.
      {"2024-05-01Z", std::nullopt},
      {"2024-05-01T09:30:00.250+08:00x", std::nullopt},
      // Years have four digits and fields two.
      {"24-05-01", std::nullopt},
      {"024-05-01", std::nullopt},
      {"20245-05-01", std::nullopt},
      {"2024-5-1", std::nullopt},
      {"2024-05-01T9:30", std::nullopt},
      {"2024-05-01T09:30:00.25", std::nullopt},
      {"２０２４-05-01", std::nullopt},  // full-width digits
  });
}

TEST(DatesParse, ClockChangesInNewYork) {
  TimeZoneGuard guard("America/New_York");
  // 02:30 is skipped on 2025-03-09; it reads with EST's offset, i.e. as 03:30 EDT.
  EXPECT_EQ(parseDate("2025-03-09T02:30:00"), utc(2025, 3, 9, 7, 30));
  EXPECT_EQ(parseDate("2025-03-09 02:30"), utc(2025, 3, 9, 7, 30));
  // 01:30 happens twice on 2025-11-02; the first, in EDT, is meant.
  const std::optional<Instant> repeated = parseDate("2025-11-02T01:30:00");
  EXPECT_EQ(repeated, utc(2025, 11, 2, 5, 30));
  ASSERT_TRUE(repeated);
  EXPECT_EQ(localDateTimeText(*repeated), "2025-11-02T01:30:00-04:00");
  // The zoned forms are exact in the repeated hour.
  EXPECT_EQ(parseDate("2025-11-02T01:30:00-05:00"), utc(2025, 11, 2, 6, 30));
}

TEST(DatesIsoDay, FollowsTheCurrentZoneAcrossTheDateLine) {
  struct Case {
    const char* zone;
    Instant instant;
    const char* day;
  };
  const Instant lateUtc = utc(2024, 5, 1, 23, 30);
  const Instant morningUtc = utc(2024, 5, 1, 10, 30);
  const std::vector<Case> cases = {
      {"UTC", lateUtc, "2024-05-01"},
      {"Asia/Shanghai", lateUtc, "2024-05-02"},
      {"Pacific/Kiritimati", lateUtc, "2024-05-02"},
      {"Pacific/Pago_Pago", lateUtc, "2024-05-01"},
      {"Pacific/Kiritimati", morningUtc, "2024-05-02"},  // 00:30 at +14
      {"Pacific/Pago_Pago", morningUtc, "2024-04-30"},   // 23:30 at -11
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zone);
    TimeZoneGuard guard(c.zone);
    EXPECT_EQ(isoDay(c.instant), c.day);
  }
  EXPECT_EQ(isoDay(std::nullopt), std::nullopt);
}

TEST(DatesLocalText, UsesZuluAtOffsetZeroAndDropsFractions) {
  struct Case {
    const char* zone;
    const char* text;
  };
  const Instant instant = utc(2024, 5, 1, 9, 30, 0, 750);
  const std::vector<Case> cases = {
      {"UTC", "2024-05-01T09:30:00Z"},
      {"Asia/Shanghai", "2024-05-01T17:30:00+08:00"},
      {"America/New_York", "2024-05-01T05:30:00-04:00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zone);
    TimeZoneGuard guard(c.zone);
    EXPECT_EQ(localDateTimeText(instant), c.text);
  }
}

TEST(DatesLocalText, ZoneChangeBetweenCallsAppliesAtOnce) {
  TimeZoneGuard guard("UTC");
  const Instant instant = utc(2024, 5, 1, 23, 30);
  EXPECT_EQ(localDateTimeText(instant), "2024-05-01T23:30:00Z");
  EXPECT_EQ(isoDay(instant), "2024-05-01");
  guard.set("Asia/Shanghai");
  EXPECT_EQ(localDateTimeText(instant), "2024-05-02T07:30:00+08:00");
  EXPECT_EQ(isoDay(instant), "2024-05-02");
  EXPECT_EQ(parseDate("2024-05-02T07:30:00"), instant);
}

TEST(DatesLocalText, RoundTripsThroughParseDate) {
  TimeZoneGuard guard("America/New_York");
  for (const Instant instant : {utc(2024, 1, 15, 12), utc(2025, 11, 2, 6, 30), utc(2025, 3, 9, 7)}) {
    const std::string text = localDateTimeText(instant);
    SCOPED_TRACE(text);
    EXPECT_EQ(parseDate(text), instant);
  }
}

TEST(DatesValues, AreStringsOrNull) {
  TimeZoneGuard guard("Asia/Shanghai");
  const Instant instant = utc(2024, 5, 1, 23, 30);
  EXPECT_EQ(dateTimeValue(instant), Json("2024-05-02T07:30:00+08:00"));
  EXPECT_EQ(dayValue(instant), Json("2024-05-02"));
  EXPECT_TRUE(dateTimeValue(std::nullopt).is_null());
  EXPECT_TRUE(dayValue(std::nullopt).is_null());
}

TEST(DatesThreads, ConcurrentCallsDoNotDisturbEachOther) {
  // Requests run on several threads at once; each must see only its own parse and format.
  TimeZoneGuard guard("Asia/Shanghai");
  struct Work {
    std::string text;
    std::string formatted;
  };
  const std::vector<Work> work = {
      {"2024-05-01T09:30:00.250Z", "2024-05-01T17:30:00+08:00"},
      {"2024-12-31 23:59", "2024-12-31T23:59:00+08:00"},
      {"2025-03-09T02:30:00-05:00", "2025-03-09T15:30:00+08:00"},
      {"2024-02-29", "2024-02-29T00:00:00+08:00"},
  };
  std::vector<int> failures(work.size(), 0);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < work.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 200; ++round) {
        const std::optional<Instant> instant = parseDate(work[t].text);
        if (!instant || localDateTimeText(*instant) != work[t].formatted) ++failures[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (std::size_t t = 0; t < work.size(); ++t) {
    SCOPED_TRACE(work[t].text);
    EXPECT_EQ(failures[t], 0);
  }
}

}  // namespace
}  // namespace wren

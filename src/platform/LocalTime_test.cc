#include "platform/LocalTime.h"

#include <gtest/gtest.h>
#include <unicode/basictz.h>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <chrono>
#include <future>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/TimeZoneGuard.h"

namespace wren::platform {
namespace {

using namespace std::chrono;

Instant utc(int y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return Instant(sys_days(year(y) / month(mo) / day(d)) + hours(h) + minutes(mi) + seconds(s) +
                 milliseconds(ms));
}

TEST(LocalTimeZones, CurrentZoneFollowsTzAtOnce) {
  TimeZoneGuard guard("Asia/Shanghai");
  EXPECT_EQ(currentZoneId(), "Asia/Shanghai");
  guard.set("America/New_York");
  EXPECT_EQ(currentZoneId(), "America/New_York");
  EXPECT_EQ(utcOffsetSeconds(utc(2024, 1, 15)), -5 * 3600);
  guard.set("UTC");
  EXPECT_EQ(utcOffsetSeconds(utc(2024, 1, 15)), 0);
}

TEST(LocalTimeZones, KnowsDatabaseZonesOnly) {
  struct Case {
    const char* id;
    bool known;
  };
  const std::vector<Case> cases = {
      {"Asia/Shanghai", true}, {"America/New_York", true}, {"UTC", true},
      {"Mars/Olympus_Mons", false}, {"", false}, {"Etc/Unknown", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(isKnownZone(c.id), c.known);
  }
}

TEST(LocalTimeZones, UnknownZoneConvertsInTheCurrentZone) {
  TimeZoneGuard guard("Asia/Shanghai");
  const CivilTime civil{2024, 5, 1, 9, 30, 0, 0};
  EXPECT_EQ(instantFromCivil(civil, "Mars/Olympus_Mons"), utc(2024, 5, 1, 1, 30));
  EXPECT_EQ(utcOffsetSeconds(utc(2024, 5, 1), "Mars/Olympus_Mons"), 8 * 3600);
}

TEST(LocalTimeOffsets, IncludeDaylightSaving) {
  struct Case {
    const char* zone;
    Instant instant;
    int offset;
  };
  const std::vector<Case> cases = {
      {"America/New_York", utc(2025, 1, 15), -5 * 3600},
      {"America/New_York", utc(2025, 7, 15), -4 * 3600},
      {"Asia/Shanghai", utc(2025, 7, 15), 8 * 3600},
      {"Pacific/Kiritimati", utc(2025, 7, 15), 14 * 3600},
      {"Asia/Kolkata", utc(2025, 7, 15), 5 * 3600 + 1800},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zone);
    EXPECT_EQ(utcOffsetSeconds(c.instant, c.zone), c.offset);
  }
}

TEST(LocalTimeCivil, ReadsWallClockFieldsInTheZone) {
  const Instant instant = utc(2024, 5, 1, 23, 30, 15, 250);
  EXPECT_EQ(civilFromInstant(instant, "Asia/Shanghai"), (CivilTime{2024, 5, 2, 7, 30, 15, 250}));
  EXPECT_EQ(civilFromInstant(instant, "America/New_York"), (CivilTime{2024, 5, 1, 19, 30, 15, 250}));
  EXPECT_EQ(civilFromInstant(instant, "UTC"), (CivilTime{2024, 5, 1, 23, 30, 15, 250}));
}

TEST(LocalTimeCivil, UsesTheProlepticGregorianCalendarBefore1582) {
  // Day numbers agree with std::chrono, which never switches to the Julian calendar.
  const Instant instant = utc(1000, 3, 1, 12);
  EXPECT_EQ(civilFromInstant(instant, "UTC"), (CivilTime{1000, 3, 1, 12, 0, 0, 0}));
  EXPECT_EQ(instantFromCivil(CivilTime{1000, 3, 1, 12, 0, 0, 0}, "UTC"), instant);
}

TEST(LocalTimeCivil, RoundTripsThroughInstants) {
  const CivilTime civil{2024, 2, 29, 23, 59, 59, 999};
  for (const char* zone : {"UTC", "Asia/Shanghai", "America/New_York", "Pacific/Pago_Pago"}) {
    SCOPED_TRACE(zone);
    const std::optional<Instant> instant = instantFromCivil(civil, zone);
    ASSERT_TRUE(instant);
    EXPECT_EQ(civilFromInstant(*instant, zone), civil);
  }
}

TEST(LocalTimeCivil, RejectsFieldsThatAreNotADate) {
  struct Case {
    const char* name;
    CivilTime civil;
  };
  const std::vector<Case> cases = {
      {"month 13", {2024, 13, 1, 0, 0, 0, 0}},
      {"month 0", {2024, 0, 1, 0, 0, 0, 0}},
      {"day 0", {2024, 5, 0, 0, 0, 0, 0}},
      {"February 30", {2024, 2, 30, 0, 0, 0, 0}},
      {"February 29 outside a leap year", {2023, 2, 29, 0, 0, 0, 0}},
      {"April 31", {2024, 4, 31, 0, 0, 0, 0}},
      {"hour 24", {2024, 5, 1, 24, 0, 0, 0}},
      {"minute 60", {2024, 5, 1, 0, 60, 0, 0}},
      {"second 60", {2024, 5, 1, 0, 0, 60, 0}},
      {"negative second", {2024, 5, 1, 0, 0, -1, 0}},
      {"millisecond 1000", {2024, 5, 1, 0, 0, 0, 1000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(instantFromCivil(c.civil, "UTC"), std::nullopt);
  }
  EXPECT_EQ(instantFromCivil(CivilTime{2024, 2, 29, 0, 0, 0, 0}, "UTC"), utc(2024, 2, 29));
}

TEST(LocalTimeCivil, ResolvesClockChanges) {
  struct Case {
    const char* name;
    CivilTime civil;
    Instant expected;
  };
  const std::vector<Case> cases = {
      // 02:30 does not exist; it keeps EST's offset and so reads 03:30 EDT.
      {"skipped hour", {2025, 3, 9, 2, 30, 0, 0}, utc(2025, 3, 9, 7, 30)},
      {"just before the gap", {2025, 3, 9, 1, 59, 0, 0}, utc(2025, 3, 9, 6, 59)},
      {"end of the gap", {2025, 3, 9, 3, 0, 0, 0}, utc(2025, 3, 9, 7, 0)},
      // 01:30 happens twice; the first time is in EDT.
      {"repeated hour", {2025, 11, 2, 1, 30, 0, 0}, utc(2025, 11, 2, 5, 30)},
      {"after the repeat", {2025, 11, 2, 2, 0, 0, 0}, utc(2025, 11, 2, 7, 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(instantFromCivil(c.civil, "America/New_York"), c.expected);
  }
}

TEST(LocalTimeDays, StartOfDayIsLocalMidnight) {
  struct Case {
    const char* name;
    const char* zone;
    Instant instant;
    Instant expected;
  };
  const std::vector<Case> cases = {
      {"next day in Shanghai", "Asia/Shanghai", utc(2024, 5, 1, 23, 30), utc(2024, 5, 1, 16)},
      {"day of spring forward", "America/New_York", utc(2025, 3, 9, 15), utc(2025, 3, 9, 5)},
      {"day of fall back", "America/New_York", utc(2025, 11, 2, 15), utc(2025, 11, 2, 4)},
      {"already midnight", "UTC", utc(2024, 5, 1), utc(2024, 5, 1)},
      // Chile skipped from 00:00 straight to 01:00 on 2024-09-08: the day starts at 01:00.
      {"skipped midnight", "America/Santiago", utc(2024, 9, 8, 15), utc(2024, 9, 8, 4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(startOfDay(c.instant, c.zone), c.expected);
  }
}

TEST(LocalTimeDays, AddingDaysKeepsWallClockTimeAcrossClockChanges) {
  struct Case {
    const char* name;
    Instant instant;
    int days;
    Instant expected;
  };
  const std::vector<Case> cases = {
      {"into summer time: 23 hours", utc(2025, 3, 8, 14), 1, utc(2025, 3, 9, 13)},
      {"back out of summer time", utc(2025, 3, 9, 13), -1, utc(2025, 3, 8, 14)},
      {"into winter time: 25 hours", utc(2025, 11, 1, 13), 1, utc(2025, 11, 2, 14)},
      {"a week across the change", utc(2025, 3, 5, 14), 7, utc(2025, 3, 12, 13)},
      // 01:30 EST is the second 01:30 of the night; adding nothing must not move it.
      {"zero days in the repeated hour", utc(2025, 11, 2, 6, 30), 0, utc(2025, 11, 2, 6, 30)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(addDays(c.instant, c.days, "America/New_York"), c.expected);
  }
}

TEST(LocalTimePatterns, FormatsInTheZone) {
  struct Case {
    const char* zone;
    const char* pattern;
    const char* expected;
  };
  const Instant instant = utc(2024, 5, 1, 9, 30, 5, 250);
  const std::vector<Case> cases = {
      {"UTC", "yyyy-MM-dd'T'HH:mm:ssXXX", "2024-05-01T09:30:05Z"},
      {"Asia/Shanghai", "yyyy-MM-dd'T'HH:mm:ssXXX", "2024-05-01T17:30:05+08:00"},
      {"America/New_York", "yyyy-MM-dd'T'HH:mm:ssXXX", "2024-05-01T05:30:05-04:00"},
      {"Asia/Kolkata", "XXX", "+05:30"},
      {"UTC", "yyyy-MM-dd'T'HH:mm:ss.SSS", "2024-05-01T09:30:05.250"},
      {"Pacific/Pago_Pago", "yyyy-MM-dd", "2024-04-30"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.zone) + " " + c.pattern);
    EXPECT_EQ(formatPattern(instant, c.pattern, c.zone), c.expected);
  }
}

TEST(LocalTimePatterns, CurrentZoneChangeAppliesToTheNextCall) {
  TimeZoneGuard guard("UTC");
  const Instant instant = utc(2024, 5, 1, 9, 30);
  EXPECT_EQ(formatPattern(instant, "HH:mmXXX"), "09:30Z");
  guard.set("Asia/Shanghai");
  EXPECT_EQ(formatPattern(instant, "HH:mmXXX"), "17:30+08:00");
  EXPECT_EQ(parsePattern("2024-05-01 17:30", "yyyy-MM-dd HH:mm"), instant);
}

TEST(LocalTimePatterns, ParsesOnlyWholeTextsOfRealDates) {
  struct Case {
    const char* text;
    const char* pattern;
    std::optional<Instant> expected;
  };
  const std::vector<Case> cases = {
      {"2024-05-01 17:30", "yyyy-MM-dd HH:mm", utc(2024, 5, 1, 9, 30)},
      {"2024-05-01T09:30:00+00:00", "yyyy-MM-dd'T'HH:mm:ssXXX", utc(2024, 5, 1, 9, 30)},
      // A text naming its offset is not read in the zone.
      {"2024-05-01T09:30:00-04:00", "yyyy-MM-dd'T'HH:mm:ssXXX", utc(2024, 5, 1, 13, 30)},
      {"2024-05-01 17:30 and more", "yyyy-MM-dd HH:mm", std::nullopt},
      {"2024-05-01 17:30 ", "yyyy-MM-dd HH:mm", std::nullopt},
      {"2024-05-01", "yyyy-MM-dd HH:mm", std::nullopt},
      {"2024-02-30", "yyyy-MM-dd", std::nullopt},
      {"2024-13-01", "yyyy-MM-dd", std::nullopt},
      {"2024-05-01 24:00", "yyyy-MM-dd HH:mm", std::nullopt},
      {"", "yyyy-MM-dd", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parsePattern(c.text, c.pattern, "Asia/Shanghai"), c.expected);
  }
}

TEST(LocalTimePatterns, ParsedClockChangesResolveAsConversionsDo) {
  const char* zone = "America/New_York";
  EXPECT_EQ(parsePattern("2025-03-09 02:30", "yyyy-MM-dd HH:mm", zone),
            instantFromCivil(CivilTime{2025, 3, 9, 2, 30, 0, 0}, zone));
  EXPECT_EQ(parsePattern("2025-03-09 02:30", "yyyy-MM-dd HH:mm", zone), utc(2025, 3, 9, 7, 30));
  EXPECT_EQ(parsePattern("2025-11-02 01:30", "yyyy-MM-dd HH:mm", zone), utc(2025, 11, 2, 5, 30));
  // The gap does not make invalid dates acceptable.
  EXPECT_EQ(parsePattern("2025-02-29 02:30", "yyyy-MM-dd HH:mm", zone), std::nullopt);
}


// Conversions of the common patterns and of wall-clock fields take shortcuts past ICU; they
// must give exactly what ICU's own format and calendar give, set up the same way (proleptic
// Gregorian, locale en_US_POSIX). The zones cover half-hour and 45-minute offsets, a
// 30-minute daylight saving shift, negative daylight saving, old local mean times with
// seconds, a skipped day, and the zone with the largest offset; custom zones give offsets
// of seconds, which are shown as zero (or dropped) rather than rounded.
const std::vector<std::string> kReferenceZones = {
    "UTC",           "Europe/Berlin",     "America/New_York", "Asia/Kolkata",       "Australia/Lord_Howe",
    "Asia/Kathmandu", "America/St_Johns", "Pacific/Chatham",  "Pacific/Kiritimati", "America/Santiago",
    "Europe/Dublin", "Africa/Casablanca", "Pacific/Apia",     "Africa/Monrovia",    "Europe/Amsterdam",
    "Europe/London", "GMT+00:00:30",      "GMT-00:00:59",     "GMT-05:30:45",       "GMT+01:59:59",
};

UDate icuDate(Instant instant) { return static_cast<UDate>(instant.time_since_epoch().count()); }

std::unique_ptr<icu::TimeZone> icuZone(const std::string& zoneId) {
  return std::unique_ptr<icu::TimeZone>(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zoneId)));
}

std::unique_ptr<icu::GregorianCalendar> referenceCalendar(const std::string& zoneId) {
  UErrorCode status = U_ZERO_ERROR;
  auto calendar =
      std::make_unique<icu::GregorianCalendar>(icuZone(zoneId).release(), icu::Locale("en_US_POSIX"), status);
  calendar->setGregorianChange(-std::numeric_limits<double>::max(), status);
  EXPECT_TRUE(U_SUCCESS(status)) << u_errorName(status);
  return calendar;
}

std::unique_ptr<icu::SimpleDateFormat> referenceFormat(const std::string& pattern, const std::string& zoneId) {
  UErrorCode status = U_ZERO_ERROR;
  auto format = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString::fromUTF8(pattern),
                                                        icu::Locale("en_US_POSIX"), status);
  format->adoptCalendar(referenceCalendar(zoneId).release());
  EXPECT_TRUE(U_SUCCESS(status)) << u_errorName(status);
  return format;
}

std::string referenceText(const icu::SimpleDateFormat& format, Instant instant) {
  icu::UnicodeString text;
  format.format(icuDate(instant), text);
  std::string result;
  return text.toUTF8String(result);
}

CivilTime referenceCivil(Instant instant, const std::string& zoneId) {
  std::unique_ptr<icu::GregorianCalendar> calendar = referenceCalendar(zoneId);
  UErrorCode status = U_ZERO_ERROR;
  calendar->setTime(icuDate(instant), status);
  CivilTime civil{calendar->get(UCAL_EXTENDED_YEAR, status), calendar->get(UCAL_MONTH, status) + 1,
                  calendar->get(UCAL_DATE, status),         calendar->get(UCAL_HOUR_OF_DAY, status),
                  calendar->get(UCAL_MINUTE, status),       calendar->get(UCAL_SECOND, status),
                  calendar->get(UCAL_MILLISECOND, status)};
  EXPECT_TRUE(U_SUCCESS(status)) << u_errorName(status);
  return civil;
}

int referenceOffsetSeconds(Instant instant, const std::string& zoneId) {
  int32_t raw = 0;
  int32_t dst = 0;
  UErrorCode status = U_ZERO_ERROR;
  icuZone(zoneId)->getOffset(icuDate(instant), false, raw, dst, status);
  EXPECT_TRUE(U_SUCCESS(status)) << u_errorName(status);
  return (raw + dst) / 1000;
}

// Every change of offset in the zone between 2020 and 2030, and a millisecond either side.
std::vector<Instant> transitionsOf(const std::string& zoneId) {
  std::unique_ptr<icu::TimeZone> zone = icuZone(zoneId);
  auto* basic = dynamic_cast<icu::BasicTimeZone*>(zone.get());
  std::vector<Instant> instants;
  if (!basic) return instants;
  icu::TimeZoneTransition transition;
  UDate from = icuDate(utc(2020, 1, 1));
  const UDate end = icuDate(utc(2030, 1, 1));
  while (basic->getNextTransition(from, false, transition) && transition.getTime() < end) {
    from = transition.getTime();
    const Instant at{milliseconds(static_cast<long long>(from))};
    instants.insert(instants.end(), {at - milliseconds(1), at, at + milliseconds(1)});
  }
  return instants;
}

// Instants of all kinds: an irregular walk through two years, the edges of the years the
// shortcuts handle (some of them fall to either side depending on the zone's offset), the
// Julian-Gregorian switch, old local mean times, negative and five-digit years.
std::vector<Instant> sampleInstants() {
  std::vector<Instant> instants;
  const milliseconds step = hours(37) + minutes(17) + seconds(13) + milliseconds(7);
  for (Instant at = utc(2024, 1, 1, 0, 0, 0, 1); at < utc(2026, 1, 1); at += step) instants.push_back(at);
  for (int hour = -26; hour <= 26; hour += 2) {
    instants.push_back(utc(1, 1, 1) + hours(hour));
    instants.push_back(utc(10000, 1, 1) + hours(hour));
  }
  instants.insert(instants.end(), {
      utc(1582, 10, 4, 12), utc(1582, 10, 15, 12), utc(1583, 1, 1), utc(1000, 3, 1, 12), utc(1840, 6, 1),
      utc(1900, 1, 1), utc(1920, 7, 1, 11, 59, 59, 999), utc(1969, 12, 31, 23, 59, 59, 999), utc(1970, 1, 1),
      utc(1971, 6, 15, 12, 0, 30), utc(2038, 1, 19, 3, 14, 8), utc(2100, 2, 28, 23, 30),
      utc(9999, 12, 31, 23, 59, 59, 999), utc(0, 6, 1), utc(-1, 12, 31, 23), utc(-4713, 1, 1),
      utc(12345, 6, 7, 8, 9, 10),
  });
  return instants;
}

TEST(LocalTimeShortcuts, FormatCommonPatternsExactlyAsIcu) {
  const std::vector<Instant> instants = sampleInstants();
  for (const std::string& zone : kReferenceZones) {
    ASSERT_TRUE(isKnownZone(zone)) << zone;
    std::vector<Instant> forZone = instants;
    for (Instant at : transitionsOf(zone)) forZone.push_back(at);
    for (const std::string pattern : {"yyyy-MM-dd'T'HH:mm:ssXXX", "yyyy-MM-dd"}) {
      std::unique_ptr<icu::SimpleDateFormat> reference = referenceFormat(pattern, zone);
      for (Instant instant : forZone) {
        ASSERT_EQ(formatPattern(instant, pattern, zone), referenceText(*reference, instant))
            << zone << " " << instant.time_since_epoch().count() << " " << pattern;
      }
    }
  }
}

TEST(LocalTimeShortcuts, DayAndDateTimeFormatExactlyAsIcu) {
  const std::vector<Instant> instants = sampleInstants();
  for (const std::string& zone : kReferenceZones) {
    std::unique_ptr<icu::SimpleDateFormat> day = referenceFormat("yyyy-MM-dd", zone);
    std::unique_ptr<icu::SimpleDateFormat> dateTime = referenceFormat("yyyy-MM-dd'T'HH:mm:ssXXX", zone);
    for (Instant instant : instants) {
      SCOPED_TRACE(zone + " " + std::to_string(instant.time_since_epoch().count()));
      ASSERT_EQ(formatDay(instant, zone), referenceText(*day, instant));
      ASSERT_EQ(formatDateTime(instant, zone), referenceText(*dateTime, instant));
    }
  }
}

TEST(LocalTimeShortcuts, DayAndDateTimeFollowTheCurrentZone) {
  const Instant instant = utc(2025, 1, 15, 20, 15);
  TimeZoneGuard guard("UTC");
  EXPECT_EQ(formatDateTime(instant), "2025-01-15T20:15:00Z");
  EXPECT_EQ(formatDay(instant), "2025-01-15");
  guard.set("Asia/Tokyo");
  EXPECT_EQ(formatDateTime(instant), "2025-01-16T05:15:00+09:00");
  EXPECT_EQ(formatDay(instant), "2025-01-16");
}

TEST(LocalTimeShortcuts, WallClockFieldsAndOffsetsMatchIcu) {
  // Zones alternate between calls, so whatever is kept from one call must not leak into the next.
  for (Instant instant : sampleInstants()) {
    for (const std::string& zone : kReferenceZones) {
      SCOPED_TRACE(zone + " " + std::to_string(instant.time_since_epoch().count()));
      ASSERT_EQ(civilFromInstant(instant, zone), referenceCivil(instant, zone));
      EXPECT_EQ(utcOffsetSeconds(instant, zone), referenceOffsetSeconds(instant, zone));
    }
  }
}

TEST(LocalTimeShortcuts, WallClockTimesAroundClockChangesResolveAsIcu) {
  for (const std::string& zone : kReferenceZones) {
    for (Instant transition : transitionsOf(zone)) {
      for (int quarter = -8; quarter <= 8; ++quarter) {
        const CivilTime civil = referenceCivil(transition + minutes(15 * quarter), zone);
        std::unique_ptr<icu::GregorianCalendar> calendar = referenceCalendar(zone);
        calendar->setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
        calendar->clear();
        calendar->set(civil.year, civil.month - 1, civil.day, civil.hour, civil.minute, civil.second);
        calendar->set(UCAL_MILLISECOND, civil.millisecond);
        UErrorCode status = U_ZERO_ERROR;
        const Instant expected{milliseconds(static_cast<long long>(calendar->getTime(status)))};
        ASSERT_EQ(instantFromCivil(civil, zone), expected) << zone << " " << civil.hour << ":" << civil.minute;
      }
    }
  }
}

TEST(LocalTimeShortcuts, FollowTheCurrentZoneChangeAtTheNextCall) {
  const Instant instant = utc(2025, 1, 15, 12, 0, 30);
  TimeZoneGuard guard("UTC");
  EXPECT_EQ(formatPattern(instant, "yyyy-MM-dd'T'HH:mm:ssXXX"), "2025-01-15T12:00:30Z");
  guard.set("Asia/Kolkata");
  EXPECT_EQ(formatPattern(instant, "yyyy-MM-dd'T'HH:mm:ssXXX"), "2025-01-15T17:30:30+05:30");
  guard.set("Australia/Lord_Howe");
  EXPECT_EQ(formatPattern(instant, "yyyy-MM-dd'T'HH:mm:ssXXX"), "2025-01-15T23:00:30+11:00");
  EXPECT_EQ((civilFromInstant(instant)), (CivilTime{2025, 1, 15, 23, 0, 30, 0}));
  guard.set("Pacific/Pago_Pago");
  EXPECT_EQ(formatPattern(instant, "yyyy-MM-dd"), "2025-01-15");
  EXPECT_EQ(civilFromInstant(instant).hour, 1);
  guard.set("Pacific/Kiritimati");
  EXPECT_EQ(formatPattern(instant, "yyyy-MM-dd"), "2025-01-16");
}

TEST(LocalTimeShortcuts, ZoneChangeReachesThreadsThatConvertedBefore) {
  const Instant instant = utc(2025, 1, 15, 12);
  TimeZoneGuard guard("UTC");
  std::promise<void> changed;
  std::promise<std::string> before;
  std::future<std::string> beforeText = before.get_future();
  std::future<std::string> afterText = std::async(std::launch::async, [&] {
    before.set_value(formatPattern(instant, "yyyy-MM-dd'T'HH:mm:ssXXX"));
    changed.get_future().wait();
    return formatPattern(instant, "yyyy-MM-dd'T'HH:mm:ssXXX");
  });
  EXPECT_EQ(beforeText.get(), "2025-01-15T12:00:00Z");
  guard.set("America/St_Johns");
  // This thread notices the change first; the other must still take it up.
  EXPECT_EQ(formatPattern(instant, "yyyy-MM-dd'T'HH:mm:ssXXX"), "2025-01-15T08:30:00-03:30");
  changed.set_value();
  EXPECT_EQ(afterText.get(), "2025-01-15T08:30:00-03:30");
}

}  // namespace
}  // namespace wren::platform

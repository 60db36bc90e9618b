#include "eventstore/Recurrence.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/HelperError.h"
#include "support/TestSupport.h"
#include "support/TimeZoneGuard.h"

namespace wren {
namespace {

using platform::Frequency;
using platform::RecurrenceDay;
using platform::RecurrenceRule;
using testing::utc;

// The message of the invalid_args failure the object causes, or a marker when it passes.
std::string failureOf(const Json& object) {
  try {
    recurrenceRule(object);
  } catch (const HelperError& error) {
    EXPECT_EQ(error.code(), ErrorCode::InvalidArgs);
    EXPECT_FALSE(error.details().has_value());
    return error.message();
  }
  return "(accepted)";
}

TEST(RecurrenceRuleFailures, NameTheBadValue) {
  struct Case {
    const char* name;
    Json object;
    std::string message;
  };
  const std::string required =
      "recurrence.frequency is required (daily / weekly / monthly / yearly, or none to remove)";
  const std::vector<Case> cases = {
      {"empty object", Json::object(), required},
      {"no frequency", {{"interval", 2}}, required},
      {"frequency not text", {{"frequency", 1}}, required},
      {"capitalised word", {{"frequency", "Weekly"}},
       "recurrence.frequency must be daily / weekly / monthly / yearly / none, got Weekly"},
      {"unknown word", {{"frequency", "hourly"}},
       "recurrence.frequency must be daily / weekly / monthly / yearly / none, got hourly"},
      {"interval 0", {{"frequency", "daily"}, {"interval", 0}}, "recurrence.interval must be 1–999"},
      {"interval 1000", {{"frequency", "daily"}, {"interval", 1000}}, "recurrence.interval must be 1–999"},
      {"interval -3", {{"frequency", "yearly"}, {"interval", -3}}, "recurrence.interval must be 1–999"},
      {"bad until", {{"frequency", "weekly"}, {"until", "next june"}},
       "recurrence.until must be an ISO 8601 date, got next june"},
      {"count 0", {{"frequency", "weekly"}, {"count", 0}}, "recurrence.count must be ≥ 1"},
      {"bad day", {{"frequency", "monthly"}, {"days_of_week", {"MO", "XX"}}},
       "recurrence.days_of_week takes MO TU WE TH FR SA SU, got XX"},
      {"day named as sent", {{"frequency", "weekly"}, {"days_of_week", {"mon"}}},
       "recurrence.days_of_week takes MO TU WE TH FR SA SU, got mon"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(failureOf(c.object), c.message);
  }
}

TEST(RecurrenceRuleFailures, TheFirstFailureInOrderWins) {
  // The interval is checked before the end and the days.
  EXPECT_EQ(failureOf({{"frequency", "daily"}, {"interval", 0}, {"count", 0}, {"days_of_week", {"XX"}}}),
            "recurrence.interval must be 1–999");
  EXPECT_EQ(failureOf({{"frequency", "daily"}, {"count", 0}, {"days_of_week", {"XX"}}}),
            "recurrence.count must be ≥ 1");
}

TEST(RecurrenceRuleNone, ReadsNothingElse) {
  EXPECT_EQ(recurrenceRule({{"frequency", "none"}, {"interval", 0}, {"days_of_week", {"XX"}}}), std::nullopt);
}

TEST(RecurrenceRuleValues, FrequencyIntervalAndDays) {
  struct Case {
    const char* name;
    Json object;
    Frequency frequency;
    int interval;
    std::vector<RecurrenceDay> days;
  };
  const std::vector<Case> cases = {
      {"daily default", {{"frequency", "daily"}}, Frequency::Daily, 1, {}},
      {"interval 999", {{"frequency", "daily"}, {"interval", 999}}, Frequency::Daily, 999, {}},
      {"interval as text ignored", {{"frequency", "monthly"}, {"interval", "2"}}, Frequency::Monthly, 1, {}},
      {"interval as whole float", {{"frequency", "yearly"}, {"interval", 3.0}}, Frequency::Yearly, 3, {}},
      {"days in any case", {{"frequency", "weekly"}, {"days_of_week", {"mo", "Fr", "MO"}}}, Frequency::Weekly, 1,
       {{2, 0}, {6, 0}, {2, 0}}},
      {"days as single text ignored", {{"frequency", "weekly"}, {"days_of_week", "MO"}}, Frequency::Weekly, 1, {}},
      {"days with a number ignored", {{"frequency", "weekly"}, {"days_of_week", {"MO", 3}}}, Frequency::Weekly, 1,
       {}},
      {"empty days", {{"frequency", "weekly"}, {"days_of_week", Json::array()}}, Frequency::Weekly, 1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<RecurrenceRule> rule = recurrenceRule(c.object);
    ASSERT_TRUE(rule.has_value());
    EXPECT_EQ(rule->frequency, c.frequency);
    EXPECT_EQ(rule->interval, c.interval);
    EXPECT_EQ(rule->daysOfWeek, c.days);
    EXPECT_FALSE(rule->endDate.has_value());
    EXPECT_EQ(rule->occurrenceCount, 0);
  }
}

TEST(RecurrenceRuleEnd, PlainDateEndsAtTheLastLocalSecond) {
  platform::TimeZoneGuard zone("Asia/Shanghai");
  const std::optional<RecurrenceRule> rule =
      recurrenceRule({{"frequency", "weekly"}, {"until", "2025-06-30"}, {"count", 0}});
  ASSERT_TRUE(rule.has_value());
  // 23:59:59 in Shanghai (UTC+8) is 15:59:59 UTC; the count is not read at all.
  EXPECT_EQ(rule->endDate, utc(2025, 6, 30, 15, 59, 59));
  EXPECT_EQ(rule->occurrenceCount, 0);
}

TEST(RecurrenceRuleEnd, PlainDateOnAClockChangeDay) {
  // 9 March 2025 has 23 hours in New York; its last second is still 23:59:59 local (EDT).
  platform::TimeZoneGuard zone("America/New_York");
  const std::optional<RecurrenceRule> rule = recurrenceRule({{"frequency", "daily"}, {"until", "2025-03-09"}});
  ASSERT_TRUE(rule.has_value());
  EXPECT_EQ(rule->endDate, utc(2025, 3, 10, 3, 59, 59));
}

TEST(RecurrenceRuleEnd, DateTimeCountAndNoEnd) {
  platform::TimeZoneGuard zone("UTC");
  struct Case {
    const char* name;
    Json object;
    std::optional<Instant> until;
    int count;
  };
  const std::vector<Case> cases = {
      {"date-time used as parsed", {{"frequency", "daily"}, {"until", "2025-06-30T10:00:00+02:00"}},
       utc(2025, 6, 30, 8), 0},
      {"until wins over count", {{"frequency", "daily"}, {"until", "2025-06-30T10:00:00Z"}, {"count", 5}},
       utc(2025, 6, 30, 10), 0},
      {"count", {{"frequency", "daily"}, {"count", 10}}, std::nullopt, 10},
      {"empty until falls to count", {{"frequency", "daily"}, {"until", ""}, {"count", 4}}, std::nullopt, 4},
      {"empty until, no count", {{"frequency", "weekly"}, {"until", ""}}, std::nullopt, 0},
      {"until not text", {{"frequency", "weekly"}, {"until", 20250630}}, std::nullopt, 0},
      {"count as text", {{"frequency", "weekly"}, {"count", "3"}}, std::nullopt, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<RecurrenceRule> rule = recurrenceRule(c.object);
    ASSERT_TRUE(rule.has_value());
    EXPECT_EQ(rule->endDate, c.until);
    EXPECT_EQ(rule->occurrenceCount, c.count);
  }
}

RecurrenceRule weekly() {
  RecurrenceRule rule;
  rule.frequency = Frequency::Weekly;
  return rule;
}

TEST(RruleText, WritesPartsInTheirOrder) {
  platform::TimeZoneGuard zone("Asia/Shanghai");
  RecurrenceRule daily;

  RecurrenceRule everyOtherWeek = weekly();
  everyOtherWeek.interval = 2;
  everyOtherWeek.occurrenceCount = 10;
  everyOtherWeek.daysOfWeek = {{2, 0}, {4, 0}};

  RecurrenceRule lastFriday;
  lastFriday.frequency = Frequency::Monthly;
  lastFriday.endDate = utc(2025, 6, 30, 15, 59, 59);
  lastFriday.daysOfWeek = {{6, -1}};

  RecurrenceRule timedUntil = weekly();
  timedUntil.endDate = utc(2025, 6, 30, 15, 59, 59);

  RecurrenceRule everything;
  everything.frequency = Frequency::Yearly;
  everything.interval = 1;
  everything.occurrenceCount = 3;
  everything.daysOfWeek = {{3, 2}, {9, 0}};
  everything.daysOfMonth = {1, -1};
  everything.monthsOfYear = {3, 9};
  everything.weeksOfYear = {10};
  everything.daysOfYear = {100, -5};
  everything.setPositions = {-1};
  everything.firstDayOfWeek = 1;

  RecurrenceRule mondayWeek = weekly();
  mondayWeek.firstDayOfWeek = 2;
  RecurrenceRule unknownWeekStart = weekly();
  unknownWeekStart.firstDayOfWeek = 8;

  struct Case {
    const char* name;
    RecurrenceRule rule;
    UntilForm form;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"daily", daily, UntilForm::Moment, "FREQ=DAILY"},
      {"every other week", everyOtherWeek, UntilForm::Moment, "FREQ=WEEKLY;INTERVAL=2;COUNT=10;BYDAY=MO,WE"},
      // 15:59:59 UTC is 23:59:59 on the same day in Shanghai.
      {"last friday, all day", lastFriday, UntilForm::Day, "FREQ=MONTHLY;UNTIL=20250630;BYDAY=-1FR"},
      {"timed until", timedUntil, UntilForm::Moment, "FREQ=WEEKLY;UNTIL=20250630T155959Z"},
      {"every part", everything, UntilForm::Moment,
       "FREQ=YEARLY;COUNT=3;BYDAY=2TU,MO;BYMONTHDAY=1,-1;BYMONTH=3,9;BYWEEKNO=10;BYYEARDAY=100,-5;"
       "BYSETPOS=-1;WKST=SU"},
      {"monday week start", mondayWeek, UntilForm::Moment, "FREQ=WEEKLY"},
      {"unknown week start", unknownWeekStart, UntilForm::Moment, "FREQ=WEEKLY"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(rruleText(c.rule, c.form), c.text);
  }
}

TEST(RruleText, DayFormFollowsTheCurrentZone) {
  RecurrenceRule rule = weekly();
  rule.endDate = utc(2025, 6, 30, 15, 59, 59);
  platform::TimeZoneGuard zone("Asia/Tokyo");
  EXPECT_EQ(rruleText(rule, UntilForm::Day), "FREQ=WEEKLY;UNTIL=20250701");
  zone.set("America/Los_Angeles");
  EXPECT_EQ(rruleText(rule, UntilForm::Day), "FREQ=WEEKLY;UNTIL=20250630");
}

TEST(IcsDates, UtcMomentAndLocalDay) {
  platform::TimeZoneGuard zone("Asia/Shanghai");
  EXPECT_EQ(icsUTC(utc(2025, 3, 1, 1, 30)), "20250301T013000Z");
  EXPECT_EQ(icsDay(utc(2025, 2, 28, 16, 30)), "20250301");
  EXPECT_EQ(icsDay(utc(2025, 2, 28, 15, 59, 59)), "20250228");
}

}  // namespace
}  // namespace wren

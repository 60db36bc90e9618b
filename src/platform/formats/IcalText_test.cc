#include "platform/formats/IcalText.h"

#include <gtest/gtest.h>
#include <libical/ical.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/TimeZoneGuard.h"

namespace wren::platform {
namespace {

Instant utc(int year, int month, int day, int hour, int minute, int second = 0) {
  return utcInstant(CivilTime{year, month, day, hour, minute, second, 0});
}

// The rules a stored file, a row and an export could disagree on, and the one text all of
// them get: RFC 5545 allows one of UNTIL and COUNT, BYDAY and WKST take day codes only,
// and WKST=MO says nothing the default does not.
TEST(RruleWriter, OneTextForWhatWritersDisagreedOn) {
  TimeZoneGuard zone("America/New_York");
  RecurrenceRule bothEnds;
  bothEnds.frequency = Frequency::Weekly;
  bothEnds.endDate = utc(2025, 6, 30, 15, 59, 59);
  bothEnds.occurrenceCount = 10;

  RecurrenceRule strangeDays;
  strangeDays.frequency = Frequency::Monthly;
  strangeDays.daysOfWeek = {{0, 0}, {6, -1}, {8, 2}};

  RecurrenceRule mondayWeek;
  mondayWeek.frequency = Frequency::Weekly;
  mondayWeek.interval = 2;
  mondayWeek.daysOfWeek = {{2, 0}, {4, 0}};
  mondayWeek.firstDayOfWeek = 2;
  RecurrenceRule sundayWeek = mondayWeek;
  sundayWeek.firstDayOfWeek = 1;
  RecurrenceRule noSuchWeekStart = mondayWeek;
  noSuchWeekStart.firstDayOfWeek = 9;

  struct Case {
    const char* name;
    RecurrenceRule rule;
    UntilForm form;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"end date over count", bothEnds, UntilForm::Moment, "FREQ=WEEKLY;UNTIL=20250630T155959Z"},
      {"end date over count, all day", bothEnds, UntilForm::Day, "FREQ=WEEKLY;UNTIL=20250630"},
      {"end date over count, floating", bothEnds, UntilForm::FloatingMoment, "FREQ=WEEKLY;UNTIL=20250630T115959"},
      {"weekdays outside the week", strangeDays, UntilForm::Moment, "FREQ=MONTHLY;BYDAY=MO,-1FR,2MO"},
      {"monday week start", mondayWeek, UntilForm::Moment, "FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,WE"},
      {"sunday week start", sundayWeek, UntilForm::Moment, "FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,WE;WKST=SU"},
      {"week start outside the week", noSuchWeekStart, UntilForm::Moment, "FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,WE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = rruleText(c.rule, c.form);
    EXPECT_EQ(text, c.text);
    // Whatever the rule held, libical accepts the text.
    const icalrecurrencetype parsed = icalrecurrencetype_from_string(text.c_str());
    EXPECT_NE(parsed.freq, ICAL_NO_RECURRENCE);
    icalerror_clear_errno();
  }
}

TEST(IcalValueTexts, DatesAndWeekdayCodes) {
  TimeZoneGuard zone("Asia/Tokyo");
  const Instant at = utc(2025, 2, 28, 16, 30);
  EXPECT_EQ(utcText(at), "20250228T163000Z");
  EXPECT_EQ(dateText(civilFromInstant(at)), "20250301");
  EXPECT_EQ(localDateTimeText(civilFromInstant(at)), "20250301T013000");
  EXPECT_EQ(utcText(utc(1, 1, 1, 0, 0)), "00010101T000000Z");
  EXPECT_EQ(utcCivil(at + std::chrono::milliseconds(250)), (CivilTime{2025, 2, 28, 16, 30, 0, 250}));

  for (int weekday = 1; weekday <= 7; ++weekday) {
    SCOPED_TRACE(weekday);
    ASSERT_TRUE(weekdayCode(weekday));
    EXPECT_EQ(weekdayOfCode(*weekdayCode(weekday)), weekday);
  }
  EXPECT_EQ(weekdayCode(1), "SU");
  EXPECT_EQ(weekdayOfCode("sa"), 7);
  EXPECT_FALSE(weekdayCode(0));
  EXPECT_FALSE(weekdayCode(8));
  EXPECT_FALSE(weekdayOfCode("XX"));
  EXPECT_FALSE(weekdayOfCode("MON"));
}

}  // namespace
}  // namespace wren::platform

#include "platform/vdir/Ical.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "support/TimeZoneGuard.h"

namespace wren::platform::vdir {
namespace {

std::string crlf(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view line : lines) text.append(line).append("\r\n");
  return text;
}

TEST(IcalDurations, WritesTriggerDurations) {
  const struct {
    double seconds;
    const char* text;
  } cases[] = {
      {-900, "-PT15M"}, {0, "PT0S"}, {-86400, "-P1D"}, {-90, "-PT1M30S"}, {5400, "PT1H30M"},
      {-604800, "-P1W"}, {-(86400 + 7200), "-P1DT2H"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(durationText(c.seconds), c.text);
    // libical reads back the same number of seconds.
    EXPECT_EQ(icaldurationtype_as_int(icaldurationtype_from_string(c.text)), static_cast<int>(c.seconds));
  }
}

TEST(IcalZones, MapsTzidsToIanaIds) {
  const struct {
    const char* tzid;
    std::optional<std::string> iana;
  } cases[] = {
      {"Europe/Berlin", "Europe/Berlin"},
      {"/freeassociation.sourceforge.net/Europe/Berlin", "Europe/Berlin"},
      {"/freeassociation.sourceforge.net/Tzfile/America/New_York", "America/New_York"},
      {"/mozilla.org/20050126_1/Asia/Shanghai", "Asia/Shanghai"},
      {"W. Europe Standard Time", "Europe/Berlin"},
      {"Eastern Standard Time", "America/New_York"},
      // Windows display names, as Outlook and Exchange write them in TZIDs.
      {"(UTC-05:00) Eastern Time (US & Canada)", "America/New_York"},
      {"(UTC-08:00) Pacific Time (US & Canada)", "America/Los_Angeles"},
      {"(GMT+01:00) Amsterdam, Berlin, Bern, Rome, Stockholm, Vienna", "Europe/Amsterdam"},
      {"(UTC+10:00) Canberra, Melbourne, Sydney", "Australia/Melbourne"},
      {"(UTC+05:30) Chennai, Kolkata, Mumbai, New Delhi", "Asia/Calcutta"},  // ICU's own id
      {"(UTC) Dublin, Edinburgh, Lisbon, London", "Europe/Dublin"},
      {"(UTC-03:00) Brasilia", "America/Sao_Paulo"},
      // A place whose zone has another offset is not that place's zone.
      {"(UTC+03:00) Amsterdam", std::nullopt},
      {"(UTC+99:00) Nowhere", std::nullopt},
      {"(UTC-05:00", std::nullopt},
      {"Mars/Olympus_Mons", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tzid);
    EXPECT_EQ(ianaZoneId(c.tzid), c.iana);
  }
}

IcalTime dtstartOf(const std::string& calendarText) {
  ComponentPtr calendar = parseCalendar(calendarText);
  EXPECT_TRUE(calendar);
  if (!calendar) return {};
  ZoneTable zones(calendar.get());
  icalcomponent* event = icalcomponent_get_first_component(calendar.get(), ICAL_VEVENT_COMPONENT);
  std::optional<IcalTime> time = readTime(icalcomponent_get_first_property(event, ICAL_DTSTART_PROPERTY), zones);
  EXPECT_TRUE(time);
  return time.value_or(IcalTime{});
}

std::string eventWith(std::string_view dtstart, std::string_view extra = {}) {
  return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n" + std::string(extra) + "BEGIN:VEVENT\r\nUID:x\r\n" +
         std::string(dtstart) + "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
}

TEST(IcalTimes, ReadsEveryAnchoring) {
  TimeZoneGuard zone("Asia/Tokyo");
  const Instant nineUtc = fromSeconds(1740819600);  // 2025-03-01 09:00:00 UTC
  const struct {
    const char* line;
    TimeAnchor anchor;
    const char* zoneId;
    Instant instant;
  } cases[] = {
      {"DTSTART:20250301T090000Z", TimeAnchor::Utc, "", nineUtc},
      {"DTSTART;TZID=Europe/Berlin:20250301T100000", TimeAnchor::Zoned, "Europe/Berlin", nineUtc},
      {"DTSTART:20250301T180000", TimeAnchor::Floating, "", nineUtc},
      {"DTSTART;VALUE=DATE:20250301", TimeAnchor::Date, "", nineUtc - std::chrono::hours(18)},
      {"DTSTART;TZID=Nowhere/Special:20250301T180000", TimeAnchor::Floating, "", nineUtc},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const IcalTime time = dtstartOf(eventWith(c.line));
    EXPECT_EQ(time.anchor, c.anchor);
    EXPECT_EQ(time.zoneId, c.zoneId);
    EXPECT_EQ(toInstant(time), c.instant);
  }
}

TEST(IcalTimes, UsesTheFilesOwnTimezoneWhenNoIanaIdMatches) {
  // A zone two hours ahead of UTC all year, known only by this file's name for it.
  const std::string vtimezone = crlf({"BEGIN:VTIMEZONE", "TZID:Custom Plus Two", "BEGIN:STANDARD",
                                      "DTSTART:19700101T000000", "TZOFFSETFROM:+0200", "TZOFFSETTO:+0200",
                                      "END:STANDARD", "END:VTIMEZONE"});
  const IcalTime time = dtstartOf(eventWith("DTSTART;TZID=Custom Plus Two:20250301T110000", vtimezone));
  EXPECT_EQ(time.anchor, TimeAnchor::Zoned);
  EXPECT_TRUE(time.zoneId.empty());
  ASSERT_TRUE(time.customZone);
  EXPECT_EQ(toInstant(time), fromSeconds(1740819600));
  EXPECT_EQ(timeLine("DTSTART", fromSeconds(1740819600 + 3600), time),
            "DTSTART;TZID=Custom Plus Two:20250301T120000");
}

TEST(IcalTimes, WritesLinesInEachAnchoring) {
  TimeZoneGuard zone("America/New_York");
  const Instant at = fromSeconds(1740819600);  // 2025-03-01 09:00 UTC, 04:00 in New York
  IcalTime zoned;
  zoned.anchor = TimeAnchor::Zoned;
  zoned.zoneId = "Asia/Shanghai";
  const struct {
    IcalTime like;
    const char* line;
  } cases[] = {
      {IcalTime{{}, TimeAnchor::Utc, {}, nullptr, {}}, "DTSTART:20250301T090000Z"},
      {IcalTime{{}, TimeAnchor::Floating, {}, nullptr, {}}, "DTSTART:20250301T040000"},
      {IcalTime{{}, TimeAnchor::Date, {}, nullptr, {}}, "DTSTART;VALUE=DATE:20250301"},
      {zoned, "DTSTART;TZID=Asia/Shanghai:20250301T170000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(timeLine("DTSTART", at, c.like), c.line);
  }
}

TEST(IcalRecurrence, RoundTripsEveryRulePart) {
  TimeZoneGuard zone("UTC");
  IcalTime start;
  start.anchor = TimeAnchor::Utc;
  const struct {
    const char* text;
  } cases[] = {
      {"FREQ=WEEKLY;INTERVAL=2;COUNT=10;BYDAY=MO,WE;WKST=SU"},
      {"FREQ=MONTHLY;UNTIL=20251231T235959Z;BYDAY=-1FR"},
      {"FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1"},
      {"FREQ=YEARLY;BYMONTHDAY=1,15;BYMONTH=3,9"},
      {"FREQ=YEARLY;BYDAY=2MO;BYWEEKNO=20"},
      {"FREQ=YEARLY;BYYEARDAY=1,100,-1"},
      {"FREQ=DAILY"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::optional<RecurrenceRule> rule = ruleFromRecurrence(icalrecurrencetype_from_string(c.text), start);
    ASSERT_TRUE(rule);
    EXPECT_EQ(rruleText(*rule, UntilForm::Moment), c.text);
    const std::optional<RecurrenceRule> again = ruleFromRecurrence(recurrenceFromRule(*rule, UntilForm::Moment), start);
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *rule);
  }
}

TEST(IcalRecurrence, ReadsRulePartsIntoFields) {
  IcalTime start;
  start.anchor = TimeAnchor::Utc;
  const std::optional<RecurrenceRule> rule =
      ruleFromRecurrence(icalrecurrencetype_from_string("FREQ=MONTHLY;INTERVAL=3;BYDAY=2TU,-1SU;WKST=SA"), start);
  ASSERT_TRUE(rule);
  EXPECT_EQ(rule->frequency, Frequency::Monthly);
  EXPECT_EQ(rule->interval, 3);
  // libical hands BYDAY over ordered from the week start (Saturday here), whatever the
  // order of the text, so Sunday comes before Tuesday.
  EXPECT_EQ(rule->daysOfWeek, (std::vector<RecurrenceDay>{{1, -1}, {3, 2}}));
  EXPECT_EQ(rule->firstDayOfWeek, 7);
  EXPECT_FALSE(ruleFromRecurrence(icalrecurrencetype_from_string("FREQ=HOURLY"), start));
  EXPECT_FALSE(ruleFromRecurrence(icalrecurrencetype_from_string("FREQ=SOMETIMES"), start));
}

TEST(IcalRecurrence, UntilFollowsTheStartsAnchoring) {
  TimeZoneGuard zone("Europe/Berlin");
  IcalTime zoned;
  zoned.anchor = TimeAnchor::Zoned;
  zoned.zoneId = "America/New_York";
  const IcalTime floating{{}, TimeAnchor::Floating, {}, nullptr, {}};
  // A DATE UNTIL counts until the end of that day, local time.
  const std::optional<RecurrenceRule> byDate =
      ruleFromRecurrence(icalrecurrencetype_from_string("FREQ=DAILY;UNTIL=20250301"), floating);
  ASSERT_TRUE(byDate && byDate->endDate);
  EXPECT_EQ(*byDate->endDate, fromSeconds(1740869999));  // 2025-03-01 23:59:59 in Berlin
  // A local UNTIL of a zoned series is read in the series' zone.
  const std::optional<RecurrenceRule> local =
      ruleFromRecurrence(icalrecurrencetype_from_string("FREQ=DAILY;UNTIL=20250301T090000"), zoned);
  ASSERT_TRUE(local && local->endDate);
  EXPECT_EQ(*local->endDate, fromSeconds(1740837600));  // 09:00 in New York
  RecurrenceRule rule;
  rule.endDate = fromSeconds(1740837600);
  EXPECT_EQ(rruleText(rule, UntilForm::Moment), "FREQ=DAILY;UNTIL=20250301T140000Z");
  EXPECT_EQ(rruleText(rule, UntilForm::Day), "FREQ=DAILY;UNTIL=20250301");
  EXPECT_EQ(rruleText(rule, UntilForm::FloatingMoment), "FREQ=DAILY;UNTIL=20250301T150000");
  EXPECT_EQ(untilFormFor(zoned), UntilForm::Moment);
  EXPECT_EQ(untilFormFor(floating), UntilForm::FloatingMoment);
}

TEST(IcalAlarms, ReadsRelativeAbsoluteEndRelatedAndLocationAlarms) {
  const std::string text = crlf({
      "BEGIN:VCALENDAR", "VERSION:2.0", "BEGIN:VEVENT", "UID:a", "DTSTART:20250301T090000Z",
      "BEGIN:VALARM", "ACTION:DISPLAY", "DESCRIPTION:x", "TRIGGER:-PT15M", "END:VALARM",
      "BEGIN:VALARM", "ACTION:DISPLAY", "DESCRIPTION:no trigger", "END:VALARM",
      "BEGIN:VALARM", "ACTION:DISPLAY", "DESCRIPTION:x", "TRIGGER;RELATED=END:PT5M", "END:VALARM",
      "BEGIN:VALARM", "ACTION:DISPLAY", "DESCRIPTION:x", "TRIGGER;VALUE=DATE-TIME:20250301T080000Z", "END:VALARM",
      "BEGIN:VALARM", "ACTION:DISPLAY", "DESCRIPTION:x", "TRIGGER:PT0S",
      "X-APPLE-STRUCTURED-LOCATION;VALUE=URI;X-TITLE=Office:geo:52.5,13.4", "END:VALARM",
      "END:VEVENT", "END:VCALENDAR",
  });
  ComponentPtr calendar = parseCalendar(text);
  ASSERT_TRUE(calendar);
  ZoneTable zones(calendar.get());
  icalcomponent* event = icalcomponent_get_first_component(calendar.get(), ICAL_VEVENT_COMPONENT);
  const std::vector<Alarm> alarms = readAlarms(event, zones, 3600);
  ASSERT_EQ(alarms.size(), 4u);
  EXPECT_EQ(alarms[0].relativeOffset, -900);
  EXPECT_EQ(alarms[0].origin, 0);
  EXPECT_EQ(alarms[1].relativeOffset, 3600 + 300);  // end-related, from the start
  EXPECT_EQ(alarms[1].origin, 2);                   // the VALARM without trigger keeps its index
  ASSERT_TRUE(alarms[2].absoluteDate);
  EXPECT_EQ(*alarms[2].absoluteDate, fromSeconds(1740816000));
  EXPECT_TRUE(alarms[3].hasLocation);
  EXPECT_EQ(alarms[3].locationTitle, "Office");
  EXPECT_EQ(alarms[3].origin, 4);
}

TEST(IcalAlarms, NewAlarmBlocksHaveActionDescriptionAndTrigger) {
  Alarm relative;
  relative.relativeOffset = -600;
  Alarm absolute;
  absolute.absoluteDate = fromSeconds(1740816000);
  const std::string first = emitComponent(newAlarmComponent(relative, "Lunch, with Bo"));
  EXPECT_EQ(first, "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:Lunch\\, with Bo\r\nTRIGGER:-PT10M\r\nEND:VALARM\r\n");
  const std::string second = emitComponent(newAlarmComponent(absolute, "x"));
  EXPECT_NE(second.find("TRIGGER;VALUE=DATE-TIME:20250301T080000Z\r\n"), std::string::npos);
}

TEST(IcalRevision, BumpsSequenceAndStamps) {
  const struct {
    const char* sequence;
    const char* expected;
  } cases[] = {{nullptr, "SEQUENCE:1"}, {"SEQUENCE:0", "SEQUENCE:1"}, {"SEQUENCE:41", "SEQUENCE:42"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    RawComponent component{"VEVENT", {}, {}};
    if (c.sequence) component.setLine(c.sequence);
    component.setLine("DTSTAMP:19990101T000000Z");
    bumpRevision(component, fromSeconds(1740819600));
    EXPECT_EQ(component.line("SEQUENCE")->unfolded, c.expected);
    EXPECT_EQ(component.line("DTSTAMP")->unfolded, "DTSTAMP:20250301T090000Z");
    EXPECT_EQ(component.line("LAST-MODIFIED")->unfolded, "LAST-MODIFIED:20250301T090000Z");
  }
}

TEST(IcalIdentity, NewUidsAreDistinctUuids) {
  const std::regex uuid("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    const std::string uid = newUid();
    EXPECT_TRUE(std::regex_match(uid, uuid)) << uid;
    seen.insert(uid);
  }
  EXPECT_EQ(seen.size(), 100u);
}

TEST(IcalTimezones, AddsUsedZonesAndDropsUnusedOnes) {
  RawComponent event{"VEVENT", {}, {}};
  event.setLine("DTSTART;TZID=America/New_York:20250301T090000");
  event.setLine("DTEND;TZID=\"Asia/Tokyo\":20250301T230000");
  RawComponent stale{"VTIMEZONE", {}, {}};
  stale.setLine("TZID:Europe/Paris");
  RawComponent calendar = newCalendar({stale, event});
  syncTimezones(calendar, fromSeconds(1735689600));
  std::set<std::string> defined;
  for (const RawComponent& child : calendar.children) {
    if (child.name == "VTIMEZONE") defined.insert(child.line("TZID")->unfolded);
  }
  EXPECT_EQ(defined, (std::set<std::string>{"TZID:America/New_York", "TZID:Asia/Tokyo"}));
  EXPECT_EQ(calendar.children.back().name, "VEVENT");
  // libical resolves the written zone: 09:00 in New York in March is 14:00 UTC.
  ComponentPtr parsed = parseCalendar(emitComponent(calendar));
  ASSERT_TRUE(parsed);
  icalcomponent* vevent = icalcomponent_get_first_component(parsed.get(), ICAL_VEVENT_COMPONENT);
  icaltimezone* zone = icalcomponent_get_timezone(parsed.get(), "America/New_York");
  ASSERT_TRUE(zone);
  EXPECT_EQ(icaltime_as_timet_with_zone(icalcomponent_get_dtstart(vevent), zone), 1740837600);
}

}  // namespace
}  // namespace wren::platform::vdir

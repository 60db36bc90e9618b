#include "platform/vdir/IcalLimits.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/vdir/EventCodec.h"
#include "platform/vdir/Ical.h"

namespace wren::platform::vdir {
namespace {

std::string calendarOf(const std::string& body) {
  return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\n" + body + "END:VCALENDAR\r\n";
}

std::string eventOf(const std::string& lines = "") {
  return "BEGIN:VEVENT\r\nUID:limits@test\r\nDTSTAMP:20250101T000000Z\r\nDTSTART:20250102T090000Z\r\n"
         "DTEND:20250102T100000Z\r\nSUMMARY:Stand-up\r\n" +
         lines + "END:VEVENT\r\n";
}

// A VTIMEZONE with one observance starting in `start` and following `rule`.
std::string zoneOf(const std::string& rule, const std::string& start = "19700101T000000") {
  return "BEGIN:VTIMEZONE\r\nTZID:Odd/Zone\r\nBEGIN:STANDARD\r\nDTSTART:" + start +
         "\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0000\r\n" + rule + "END:STANDARD\r\nEND:VTIMEZONE\r\n";
}

// Components nested `depth` levels below the VEVENT, closed again.
std::string nestedAlarms(std::size_t depth) {
  std::string text;
  for (std::size_t i = 0; i < depth; ++i) text += "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT5M\r\n";
  for (std::size_t i = 0; i < depth; ++i) text += "END:VALARM\r\n";
  return text;
}

std::string repeated(const std::string& line, std::size_t count) {
  std::string text;
  text.reserve(line.size() * count);
  for (std::size_t i = 0; i < count; ++i) text += line;
  return text;
}

std::string description(const EventItem& event) { return event.notes.value_or(""); }

TEST(IcalLimits, FilesOfRealShapesAreReadAndHostileShapesRefused) {
  const std::string outlookZone =
      "BEGIN:VTIMEZONE\r\nTZID:W. Europe Standard Time\r\n"
      "BEGIN:STANDARD\r\nDTSTART:16010101T030000\r\nTZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\n"
      "RRULE:FREQ=YEARLY;INTERVAL=1;BYDAY=-1SU;BYMONTH=10\r\nEND:STANDARD\r\n"
      "BEGIN:DAYLIGHT\r\nDTSTART:16010101T020000\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\n"
      "RRULE:FREQ=YEARLY;INTERVAL=1;BYDAY=-1SU;BYMONTH=3\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n";
  const std::string attendee = "ATTENDEE;CN=\"Smith; Ann\";ROLE=REQ-PARTICIPANT;PARTSTAT=NEEDS-ACTION;RSVP=TRUE:mailto:a@b\r\n";
  struct Case {
    const char* name;
    std::string text;
    bool refused;
  };
  const std::vector<Case> cases = {
      {"a plain event", calendarOf(eventOf()), false},
      {"an Outlook zone defined from 1601", calendarOf(outlookZone + eventOf()), false},
      {"a zone rule with a bounded COUNT", calendarOf(zoneOf("RRULE:FREQ=DAILY;COUNT=30\r\n") + eventOf()), false},
      {"a thousand attendees", calendarOf(eventOf(repeated(attendee, 1000))), false},
      {"a description of 900 KB on one line",
       calendarOf(eventOf("DESCRIPTION:" + std::string(900 * 1024, 'x') + "\r\n")), false},
      {"nesting far past the limit", calendarOf(eventOf(nestedAlarms(kMaxNesting + 500))), false},
      {"a zone rule every second", calendarOf(zoneOf("RRULE:FREQ=SECONDLY\r\n") + eventOf()), true},
      {"a zone rule every hour, in lower case", calendarOf(zoneOf("RRULE:freq=hourly;interval=1\r\n") + eventOf()),
       true},
      {"a zone rule daily until a date", calendarOf(zoneOf("RRULE:FREQ=DAILY;UNTIL=20300101T000000Z\r\n") + eventOf()),
       true},
      {"a yearly zone rule naming many times of each day",
       calendarOf(zoneOf("RRULE:FREQ=YEARLY;BYHOUR=0,1,2,3,4,5,6,7,8,9,10,11;BYMINUTE=0,10,20,30,40,50;BYSECOND=0,30\r\n") +
                  eventOf()),
       true},
      {"a yearly zone rule from the year 1", calendarOf(zoneOf("RRULE:FREQ=YEARLY;BYMONTH=1,2,3,4,5,6\r\n", "00010101T000000") + eventOf()),
       true},
      {"observances listed one by one past the limit",
       calendarOf(zoneOf(repeated("RDATE:19700101T000000,19710101T000000,19720101T000000,19730101T000000\r\n", 2600)) +
                  eventOf()),
       true},
      {"more content lines than any item", calendarOf(eventOf(repeated("X-A:1\r\n", kMaxContentLines))), true},
      {"a physical line over the limit", calendarOf(eventOf("DESCRIPTION:" + std::string(kMaxLineOctets, 'x') + "\r\n")),
       true},
      {"a folded line over the limit",
       calendarOf(eventOf("DESCRIPTION:" + repeated(std::string(70, 'x') + "\r\n ", kMaxLineOctets / 70 + 1) + "x\r\n")),
       true},
      {"a line with too many parameters", calendarOf(eventOf("X-A" + repeated(";P=1", kMaxLineParameters + 1) + ":v\r\n")),
       true},
      {"more than libical should hold", calendarOf(eventOf(repeated("X-A:" + std::string(100, 'y') + "\r\n", 60'000))),
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(parseRefusal(c.text).has_value(), c.refused) << parseRefusal(c.text).value_or("");
    EXPECT_EQ(libicalInput(c.text).has_value(), !c.refused);
    // What is refused is never parsed, and nothing the scan lets through keeps the event from
    // being read.
    EXPECT_EQ(parseEventFile(c.text) == nullptr, c.refused);
  }
}

TEST(IcalLimits, WhatLibicalReadsMeansWhatTheFileSays) {
  // A long physical line is folded for libical, and read back whole.
  const std::string longText(100'000, 'w');
  std::shared_ptr<const ParsedEventFile> file =
      parseEventFile(calendarOf(eventOf("DESCRIPTION:" + longText + "\r\n")));
  ASSERT_TRUE(file);
  EXPECT_EQ(description(primaryEvent(*file, {}).value()), longText);
  std::optional<std::string> input = libicalInput(calendarOf(eventOf("DESCRIPTION:" + longText + "\r\n")));
  ASSERT_TRUE(input);
  for (std::size_t at = 0, end; at < input->size(); at = end + 1) {
    end = std::min(input->find('\n', at), input->size());
    EXPECT_LE(end - at, 4097u);
  }

  // NUL bytes and blank lines, which end libical's reading of a line, are left out.
  file = parseEventFile(calendarOf(eventOf(std::string("DESCRIPTION:one\0 two\r\n\r\n  three\r\n", 33))));
  ASSERT_TRUE(file);
  EXPECT_EQ(description(primaryEvent(*file, {}).value()), "one two three");

  // Components past the nesting limit are left out; what stands above them is read.
  const std::string deep = calendarOf(eventOf(nestedAlarms(kMaxNesting + 200)));
  input = libicalInput(deep);
  ASSERT_TRUE(input);
  EXPECT_LT(input->size(), deep.size());
  EXPECT_NE(input->find("END:VEVENT\r\nEND:VCALENDAR"), std::string::npos);
  file = parseEventFile(deep);
  ASSERT_TRUE(file);
  EXPECT_EQ(primaryEvent(*file, {}).value().title, "Stand-up");
  EXPECT_EQ(primaryEvent(*file, {}).value().alarms.size(), 1u);
}

TEST(IcalLimits, OnlyShallowFilesAreChanged) {
  EXPECT_FALSE(editRefusal(calendarOf(eventOf(nestedAlarms(kMaxEditableNesting - 2)))));
  const std::optional<std::string> deep = editRefusal(calendarOf(eventOf(nestedAlarms(kMaxEditableNesting))));
  ASSERT_TRUE(deep);
  EXPECT_EQ(*deep, "it nests components " + std::to_string(kMaxEditableNesting + 2) + " levels deep, more than the " +
                       std::to_string(kMaxEditableNesting) + " the helper changes; it is left as it is");
  EXPECT_TRUE(editRefusal(calendarOf(zoneOf("RRULE:FREQ=SECONDLY\r\n") + eventOf())));
}

TEST(IcalLimits, ATzidLongerThanAnyZoneNameIsRefusedAtOnce) {
  EXPECT_EQ(ianaZoneId("/softwarestudio.org/Olson_20011030_5/America/Argentina/ComodRivadavia"),
            "America/Argentina/ComodRivadavia");
  std::string hostile;
  while (hostile.size() < 100'000) hostile += "/Europe";
  const auto began = std::chrono::steady_clock::now();
  EXPECT_FALSE(ianaZoneId(hostile));
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(50));
  // An event that names such a zone is read; its times are taken as floating or UTC, as for
  // any unknown zone, without trying every suffix.
  const std::string text = calendarOf(
      "BEGIN:VEVENT\r\nUID:z@test\r\nDTSTAMP:20250101T000000Z\r\nDTSTART;TZID=\"" + hostile +
      "\":20250102T090000\r\nSUMMARY:Far away\r\nEND:VEVENT\r\n");
  const auto parsing = std::chrono::steady_clock::now();
  std::shared_ptr<const ParsedEventFile> file = parseEventFile(text);
  ASSERT_TRUE(file);
  EXPECT_EQ(primaryEvent(*file, {}).value().title, "Far away");
  EXPECT_LT(std::chrono::steady_clock::now() - parsing, std::chrono::seconds(1));
}

}  // namespace
}  // namespace wren::platform::vdir

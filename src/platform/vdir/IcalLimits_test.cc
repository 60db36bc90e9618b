#include "platform/vdir/IcalLimits.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
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
  std::optional<LibicalInput> input = libicalInput(calendarOf(eventOf("DESCRIPTION:" + longText + "\r\n")));
  ASSERT_TRUE(input);
  for (std::size_t at = 0, end; at < input->text.size(); at = end + 1) {
    end = std::min(input->text.find('\n', at), input->text.size());
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
  EXPECT_LT(input->text.size(), deep.size());
  EXPECT_NE(input->text.find("END:VEVENT\r\nEND:VCALENDAR"), std::string::npos);
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

constexpr std::size_t kMiB = std::size_t{1} << 20;

TEST(ParseBudget, SharesHeldAtOnceNeverExceedTheCapacityAndALargeOneGetsItsTurn) {
  ParseBudget budget(10 * kMiB);
  std::atomic<std::size_t> inUse{0}, most{0};
  std::atomic<bool> stop{false};
  std::atomic<int> largeDone{0};
  auto hold = [&](std::size_t footprint) {
    std::optional<ParseBudget::Share> share = budget.take(footprint);
    ASSERT_TRUE(share);
    const std::size_t now = inUse += share->size();
    for (std::size_t seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    inUse -= share->size();
  };
  // Six threads keep taking middling shares without pause; a share of the whole capacity
  // has to wait for all of them to give theirs back, and still comes through, three times.
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      while (!stop) hold((2 + t % 3) * kMiB);
    });
  }
  threads.emplace_back([&] {
    for (int i = 0; i < 3; ++i, ++largeDone) hold(10 * kMiB);
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (largeDone < 3 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  stop = true;
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(largeDone, 3);
  EXPECT_LE(most, 10 * kMiB);
  EXPECT_GT(most, 4 * kMiB);  // shares were held side by side
}

TEST(ParseBudget, SmallFootprintsTakeNoShareAndOnesOverTheCapacityAreRefused) {
  ParseBudget budget(4 * kMiB);
  std::optional<ParseBudget::Share> whole = budget.take(4 * kMiB);
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->size(), 4 * kMiB);
  // With the budget taken whole, a small file still goes at once, and one too large for any
  // budget is refused rather than waited for.
  std::optional<ParseBudget::Share> small = budget.take(kUnbudgetedFootprint);
  ASSERT_TRUE(small);
  EXPECT_EQ(small->size(), 0u);
  EXPECT_FALSE(budget.take(4 * kMiB + 1));
  // A share given back lets the next one in.
  whole.reset();
  std::optional<ParseBudget::Share> next = budget.take(3 * kMiB);
  ASSERT_TRUE(next);
  ParseBudget::Share moved = std::move(*next);
  next.reset();
  std::atomic<bool> got{false};
  std::thread waiter([&] { got = budget.take(2 * kMiB).has_value(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(got);  // 3 MiB held by the moved share: 2 MiB more do not fit
  moved = ParseBudget::Share();
  waiter.join();
  EXPECT_TRUE(got);
}

TEST(ParseBudget, ParsedFilesHoldTheirShareUntilFreed) {
  // A file of 40,000 lines takes about 14 MiB of the shared budget: three parsed at once on
  // three threads would exceed it, so they are read one after another, and each is read.
  std::string lines;
  for (int i = 0; i < 40'000; ++i) lines += "X-A;P=1:" + std::string(48, 'a') + "\r\n";
  const std::string text = calendarOf(eventOf(lines));
  ASSERT_GT(libicalInput(text)->footprint, kMaxParseFootprint / 3);
  std::atomic<int> read{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      if (ComponentPtr calendar = parseCalendar(text)) ++read;
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(read, 3);
  // Every share came back: the whole budget can be taken again.
  EXPECT_TRUE(libicalBudget().take(kMaxParseFootprint));
}

}  // namespace
}  // namespace wren::platform::vdir

// Mutations of item files, fed through everything a file meets in the store: the limits that
// decide what libical reads, the event and reminder codecs, the expansion of a window, and
// the writer of an edit. A seeded loop bounded in time, run in every build (the sanitizer
// builds included), so that a crash, a sanitizer report, a hang or a broken invariant on a
// hostile file shows up as a failing test with the seed and the file that caused it.

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "platform/LocalTime.h"
#include "platform/vdir/EventCodec.h"
#include "platform/vdir/IcalLimits.h"
#include "platform/vdir/TodoCodec.h"
#include "support/TimeZoneGuard.h"

namespace wren::platform::vdir {
namespace {

const std::vector<std::string> kSeeds = {
    // A weekly series in an Outlook zone, with an exception, an override and an alarm.
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Microsoft Corporation//Outlook 16.0 MIMEDIR//EN\r\n"
    "BEGIN:VTIMEZONE\r\nTZID:W. Europe Standard Time\r\nBEGIN:STANDARD\r\nDTSTART:16010101T030000\r\n"
    "TZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nRRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=10\r\nEND:STANDARD\r\n"
    "BEGIN:DAYLIGHT\r\nDTSTART:16010101T020000\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\n"
    "RRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=3\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n"
    "BEGIN:VEVENT\r\nUID:series@fuzz\r\nDTSTAMP:20250101T000000Z\r\n"
    "DTSTART;TZID=W. Europe Standard Time:20250106T090000\r\nDTEND;TZID=W. Europe Standard Time:20250106T093000\r\n"
    "RRULE:FREQ=WEEKLY;BYDAY=MO,WE;UNTIL=20251231T235959Z\r\nEXDATE;TZID=W. Europe Standard Time:20250108T090000\r\n"
    "SUMMARY:Stand-up\r\nDESCRIPTION:Line one\\nline two\\, with a comma\r\n"
    "ATTENDEE;CN=\"Smith, Ann\";PARTSTAT=ACCEPTED:mailto:ann@example.com\r\n"
    "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\nEND:VEVENT\r\n"
    "BEGIN:VEVENT\r\nUID:series@fuzz\r\nDTSTAMP:20250101T000000Z\r\n"
    "RECURRENCE-ID;TZID=W. Europe Standard Time:20250113T090000\r\n"
    "DTSTART;TZID=W. Europe Standard Time:20250113T100000\r\nDTEND;TZID=W. Europe Standard Time:20250113T103000\r\n"
    "SUMMARY:Stand-up (moved)\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
    // An all-day event folded at 75 octets, as most servers write them.
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Google Inc//Google Calendar 70.9054//EN\r\n"
    "BEGIN:VEVENT\r\nUID:day@fuzz\r\nDTSTAMP:20250101T000000Z\r\nDTSTART;VALUE=DATE:20250110\r\n"
    "DTEND;VALUE=DATE:20250112\r\nRRULE:FREQ=MONTHLY;COUNT=5;BYMONTHDAY=10\r\n"
    "SUMMARY:A summary long enough to be folded by the writer that wrote it\\, once\r\n  and again\r\n"
    "LOCATION:Room 1\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
    // A repeating reminder.
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\nBEGIN:VTODO\r\nUID:todo@fuzz\r\n"
    "DTSTAMP:20250101T000000Z\r\nDUE:20250115T170000Z\r\nRRULE:FREQ=DAILY;INTERVAL=2;COUNT=10\r\n"
    "SUMMARY:Water the plants\r\nPRIORITY:1\r\nSTATUS:NEEDS-ACTION\r\nEND:VTODO\r\nEND:VCALENDAR\r\n",
    // Shapes of files that broke parsers: open components, odd values and parameters.
    "BEGIN:VCALENDAR\r\nBEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nDTSTART:99991231T246060Z\r\nDURATION:P99999999W\r\n"
    "RRULE:FREQ=YEARLY;BYDAY=1000MO;BYSETPOS=-400;BYWEEKNO=99\r\nX-A;=;;\"\":\\\r\nEND:VTODO\r\n",
};

// One random change of the kinds broken writers, sync tools and fuzzers make.
std::string mutate(std::string text, std::mt19937_64& random) {
  auto pick = [&](std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(random() % n); };
  static const std::string kPieces[] = {
      "\r\n", "\r\n ", "\n", ":", ";", "=", "\"", ",", "\\", std::string(1, '\0'), "\xff", "\xc3",
      "BEGIN:VEVENT\r\n", "END:VEVENT\r\n", "BEGIN:VTIMEZONE\r\n", "END:VTIMEZONE\r\n", "BEGIN:STANDARD\r\n",
      "END:STANDARD\r\n", "BEGIN:VALARM\r\n", "RRULE:FREQ=SECONDLY\r\n", "RRULE:FREQ=HOURLY;COUNT=999999\r\n",
      "RRULE:FREQ=YEARLY;BYMONTH=1,2,3,4,5,6,7,8,9,10,11,12;BYMONTHDAY=-1,1,15\r\n", ";TZID=", ";TZID=W. Europe",
      "RECURRENCE-ID:20250120T090000Z\r\n", "EXDATE:20250106T080000Z,20250107T080000Z\r\n", "DTSTART:",
      "TZOFFSETTO:+9999\r\n", "RDATE;VALUE=PERIOD:20250101T000000Z/PT1H\r\n", "DURATION:-P1D\r\n", "COUNT=-1",
      "VALUE=DATE", "19000101", "20991231T235959"};
  switch (random() % 8) {
    case 0:  // a byte changed
      if (!text.empty()) text[pick(text.size())] = static_cast<char>(random());
      break;
    case 1:  // a piece inserted
      text.insert(pick(text.size() + 1), kPieces[pick(std::size(kPieces))]);
      break;
    case 2: {  // a range removed
      std::size_t at = pick(text.size() + 1);
      text.erase(at, pick(64));
      break;
    }
    case 3: {  // a range repeated, a few times
      std::size_t at = pick(text.size() + 1), length = pick(200);
      const std::string part = text.substr(at, length);
      for (std::size_t n = 1 + pick(20); n > 0; --n) text.insert(at, part);
      break;
    }
    case 4: {  // components nested deeply, closed or not
      std::size_t depth = 1 + pick(3000);
      std::string opened, closed;
      for (std::size_t i = 0; i < depth; ++i) opened += "BEGIN:X-N\r\n";
      if (random() % 2) {
        for (std::size_t i = 0; i < depth; ++i) closed += "END:X-N\r\n";
      }
      std::size_t at = text.find("END:VEVENT");
      text.insert(at == std::string::npos ? pick(text.size() + 1) : at, opened + closed);
      break;
    }
    case 5: {  // a long physical line
      std::size_t at = text.find("\r\nSUMMARY:");
      if (at != std::string::npos) text.insert(at + 10, std::string(1 + pick(200'000), 'L'));
      break;
    }
    case 6: {  // spliced with another seed
      const std::string& other = kSeeds[pick(kSeeds.size())];
      text = text.substr(0, pick(text.size() + 1)) + other.substr(pick(other.size() + 1));
      break;
    }
    default: {  // many parameters on one line
      std::size_t at = text.find("\r\nDTSTART");
      std::string parameters;
      for (std::size_t i = 0, n = pick(300); i < n; ++i) parameters += ";X-P" + std::to_string(i) + "=v";
      if (at != std::string::npos) text.insert(at + 9, parameters);
      break;
    }
  }
  return text;
}

Instant at(int year, int month, int day) { return instantFromCivil(CivilTime{year, month, day, 0, 0, 0, 0}, "UTC").value(); }

TEST(ItemFileFuzz, MutatedFilesAreReadOrSkippedInBoundedTimeAndEditsReadBack) {
  TimeZoneGuard zone("Europe/Berlin");
  const std::uint64_t seed = 20250415;
  std::mt19937_64 random(seed);
  const ItemContext context{"item", "calendar", {"ann@example.com"}};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  int iterations = 0, events = 0, saved = 0;
  std::chrono::steady_clock::duration slowest{};
  for (; std::chrono::steady_clock::now() < deadline && iterations < 20'000; ++iterations) {
    std::string text = kSeeds[random() % kSeeds.size()];
    for (int changes = 1 + static_cast<int>(random() % 4); changes > 0; --changes) text = mutate(text, random);
    auto fail = [&](const std::string& what) {
      ADD_FAILURE() << "seed " << seed << ", iteration " << iterations << ": " << what << "\n"
                    << text.substr(0, 2000);
    };
    const auto began = std::chrono::steady_clock::now();
    const bool refused = parseRefusal(text).has_value();
    std::shared_ptr<const ParsedEventFile> file = parseEventFile(text);
    std::shared_ptr<const ParsedTodoFile> todo = parseTodoFile(text);
    if (refused && (file || todo)) return fail("a refused file was parsed");
    if (todo) todoItem(*todo, context);
    if (file) {
      ++events;
      eventsInWindow(*file, at(2024, 12, 1), at(2026, 2, 1), context);
      std::optional<EventItem> primary = primaryEvent(*file, context);
      if (primary && !editRefusal(text) && !primary->title.empty()) {
        primary->title = "Edited " + std::to_string(iterations);
        std::string written;
        try {
          written = saveEventText(text, *primary, Span::ThisEvent).text;
        } catch (const std::exception&) {
          // A file the writer cannot place the change in is refused, never half written.
        }
        if (!written.empty()) {
          ++saved;
          std::shared_ptr<const ParsedEventFile> back = parseEventFile(written);
          if (!back) return fail("an edit was written that does not read back");
        }
      }
    }
    slowest = std::max(slowest, std::chrono::steady_clock::now() - began);
  }
  // One file never costs more than a moment, whatever its shape (the sanitizer builds are
  // several times slower than a release build).
  EXPECT_LT(slowest, std::chrono::seconds(2));
  EXPECT_GT(iterations, 50);
  EXPECT_GT(events, 0);
  EXPECT_GT(saved, 0);
}

}  // namespace
}  // namespace wren::platform::vdir

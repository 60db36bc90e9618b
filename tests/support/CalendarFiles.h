#pragma once

// Calendar files shared by the tests: files shaped as the programs people use write them
// (read by the end-to-end tests through the built helper, and by the unit tests of what
// reads item files), and the seeds and mutations of the item file fuzzer.
//
//   for (const auto& [name, text] : realCalendarFiles()) write(folder / name, text);
//   std::string broken = mutatedFile(fuzzSeedFiles()[0], random);

#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace wren::testing {

inline std::string calendarText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// Outlook's zone for Malaysia: an escaped comma in the VTIMEZONE, quoted where it is used.
inline const std::vector<std::string> kKualaLumpurZone = {
    "BEGIN:VTIMEZONE", "TZID:Kuala Lumpur\\, Singapore", "BEGIN:STANDARD", "DTSTART:16010101T000000",
    "TZOFFSETFROM:+0800", "TZOFFSETTO:+0800", "END:STANDARD", "END:VTIMEZONE"};

// Outlook 2007's zone for eastern Australia, with the comma left bare.
inline const std::vector<std::string> kCanberraZone = {
    "BEGIN:VTIMEZONE", "TZID:Canberra, Melbourne, Sydney", "BEGIN:STANDARD", "DTSTART:16010407T030000",
    "RRULE:FREQ=YEARLY;BYDAY=1SU;BYMONTH=4", "TZOFFSETFROM:+1100", "TZOFFSETTO:+1000", "END:STANDARD",
    "BEGIN:DAYLIGHT", "DTSTART:16011007T020000", "RRULE:FREQ=YEARLY;BYDAY=1SU;BYMONTH=10", "TZOFFSETFROM:+1000",
    "TZOFFSETTO:+1100", "END:DAYLIGHT", "END:VTIMEZONE"};

inline std::vector<std::string> withHeader(const std::string& prodid, std::vector<std::string> body) {
  std::vector<std::string> lines = {"BEGIN:VCALENDAR", "VERSION:2.0", "PRODID:" + prodid};
  lines.insert(lines.end(), body.begin(), body.end());
  lines.push_back("END:VCALENDAR");
  return lines;
}

inline std::vector<std::string> joinedLines(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> lines;
  for (const auto& part : parts) lines.insert(lines.end(), part.begin(), part.end());
  return lines;
}

inline const std::string kMalaysia = "\"Kuala Lumpur, Singapore\"";
inline const std::string kAustralia = "\"Canberra, Melbourne, Sydney\"";

inline std::string outlookWeekly() {
  return calendarText(withHeader(
      "-//Microsoft Corporation//Outlook 16.0 MIMEDIR//EN",
      joinedLines({kKualaLumpurZone,
                   {"BEGIN:VEVENT", "UID:040000008200E00074C5B7101A82E00800000000", "DTSTAMP:20081101T000000Z",
                    "DTSTART;TZID=" + kMalaysia + ":20081201T093000", "DTEND;TZID=" + kMalaysia + ":20081201T103000",
                    "RRULE:FREQ=WEEKLY;COUNT=4", "SUMMARY:Weekly review", "END:VEVENT"}})));
}

// A daily series whose first occurrence was moved, with a deleted and an added date.
inline std::string outlookDaily() {
  return calendarText(withHeader(
      "-//Microsoft Corporation//Outlook 12.0 MIMEDIR//EN",
      joinedLines({kCanberraZone,
                   {"BEGIN:VEVENT", "UID:cbr-daily", "DTSTAMP:20081101T000000Z",
                    "DTSTART;TZID=" + kAustralia + ":20081201T093000", "DTEND;TZID=" + kAustralia + ":20081201T103000",
                    "RRULE:FREQ=DAILY;COUNT=10", "EXDATE;TZID=" + kAustralia + ":20081203T093000",
                    "RDATE;TZID=" + kAustralia + ":20081220T140000", "SUMMARY:Daily call",
                    "DESCRIPTION:dial in", "END:VEVENT", "BEGIN:VEVENT", "UID:cbr-daily", "DTSTAMP:20081101T000000Z",
                    "RECURRENCE-ID;TZID=" + kAustralia + ":20081201T093000",
                    "DTSTART;TZID=" + kAustralia + ":20081201T153000", "DTEND;TZID=" + kAustralia + ":20081201T163000",
                    "SUMMARY:Daily call (moved)", "DESCRIPTION:moved by hand", "END:VEVENT"}})));
}

inline std::string lotusNotes() {
  return calendarText(withHeader(
      "-//Lotus Development Corporation//NONSGML Notes 8.5//EN_C",
      {"BEGIN:VTIMEZONE", "TZID:Eastern", "BEGIN:STANDARD", "DTSTART:19501105T020000", "TZOFFSETFROM:-0400",
       "TZOFFSETTO:-0500", "RRULE:FREQ=YEARLY;BYMINUTE=0;BYHOUR=2;BYDAY=1SU;BYMONTH=11", "END:STANDARD",
       "BEGIN:DAYLIGHT", "DTSTART:19500312T020000", "TZOFFSETFROM:-0500", "TZOFFSETTO:-0400",
       "RRULE:FREQ=YEARLY;BYMINUTE=0;BYHOUR=2;BYDAY=2SU;BYMONTH=3", "END:DAYLIGHT", "END:VTIMEZONE",
       "BEGIN:VEVENT", "DTSTART;TZID=\"Eastern\":20110505T090000", "DTEND;TZID=\"Eastern\":20110505T100000",
       "RDATE;VALUE=PERIOD;TZID=\"Eastern\":20110505T090000/20110505T100000", " ,20110512T090000/20110512T100000",
       " ,20110519T090000/20110519T113000,20110526T090000/20110526T100000", " ,20110602T090000/PT2H",
       "DTSTAMP:20110501T000000Z", "SEQUENCE:0", "SUMMARY:Planning board",
       "UID:BD3AA3A2F2B1E1D1852578810052C3E9-Lotus_Notes_Generated", "X-LOTUS-APPTTYPE:3", "END:VEVENT"}));
}

inline std::string googleDaily() {
  return calendarText(withHeader(
      "-//Google Inc//Google Calendar 70.9054//EN",
      {"BEGIN:VEVENT", "DTSTART;TZID=America/Los_Angeles:20250303T180000",
       "DTEND;TZID=America/Los_Angeles:20250303T190000", "RRULE:FREQ=DAILY;COUNT=5", "EXDATE;VALUE=DATE:20250305",
       "DTSTAMP:20250301T000000Z", "UID:7kukuqrfedlm2f9t0vdf0f1ahm@google.com", "SUMMARY:Gym", "END:VEVENT"}));
}

// Confluence serves the old and the new version of a series side by side.
inline std::string confluence() {
  const std::vector<std::string> common = {"UID:20250101T000000Z-team@confluence", "DTSTART:20250303T090000Z",
                                           "DTEND:20250303T100000Z",
                                           "RRULE:FREQ=WEEKLY;COUNT=-1;UNTIL=20250331T235959Z"};
  std::vector<std::string> newer = {"BEGIN:VEVENT", "DTSTAMP:20250201T000000Z", "SEQUENCE:2"};
  newer.insert(newer.end(), common.begin(), common.end());
  newer.insert(newer.end(), {"EXDATE:20250310T090000Z", "SUMMARY:Team sync", "END:VEVENT"});
  std::vector<std::string> older = {"BEGIN:VEVENT", "DTSTAMP:20250101T000000Z", "SEQUENCE:0"};
  older.insert(older.end(), common.begin(), common.end());
  older.insert(older.end(), {"SUMMARY:Team meeting", "END:VEVENT"});
  return calendarText(withHeader("-//Atlassian Confluence//Calendar Plugin//EN", joinedLines({older, newer})));
}

inline std::string appleHoliday() {
  return calendarText(withHeader(
      "-//Apple Inc.//iCal 3.0//EN",
      {"BEGIN:VTIMEZONE", "TZID:Europe/Berlin", "BEGIN:STANDARD", "DTSTART:19701025T030000", "TZOFFSETFROM:+0200",
       "TZOFFSETTO:+0100", "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU", "END:STANDARD", "BEGIN:DAYLIGHT",
       "DTSTART:19700329T020000", "TZOFFSETFROM:+0100", "TZOFFSETTO:+0200", "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU",
       "END:DAYLIGHT", "END:VTIMEZONE", "BEGIN:VEVENT", "DTSTART;VALUE=DATE:20250101", "DTEND;VALUE=DATE:20250102",
       "RRULE:FREQ=YEARLY", "UID:holiday-new-year", "DTSTAMP:20240101T000000Z", "SUMMARY:New Year", "END:VEVENT",
       "BEGIN:VEVENT", "RECURRENCE-ID;TZID=Europe/Berlin:20260101T000000", "DTSTART;VALUE=DATE:20260102",
       "DTEND;VALUE=DATE:20260103", "UID:holiday-new-year", "DTSTAMP:20240101T000000Z", "SUMMARY:New Year (observed)",
       "END:VEVENT"}));
}

inline std::string extraDatesFirst() {
  return calendarText(withHeader("-//Fixture//EN", {"BEGIN:VEVENT", "UID:early-dates", "DTSTAMP:20250101T000000Z",
                                                     "DTSTART:20250310T090000Z", "DTEND:20250310T100000Z",
                                                     "RDATE:20250301T090000Z,20250302T090000Z",
                                                     "SUMMARY:Workshop", "END:VEVENT"}));
}

inline std::string windowsDisplayName() {
  const std::string zone = "\"(UTC-05:00) Eastern Time (US & Canada)\"";
  return calendarText(withHeader("-//Microsoft Corporation//Outlook 16.0 MIMEDIR//EN",
                                 {"BEGIN:VEVENT", "UID:exchange-1", "DTSTAMP:20250101T000000Z",
                                  "DTSTART;TZID=" + zone + ":20250310T090000", "DTEND;TZID=" + zone + ":20250310T100000",
                                  "SUMMARY:  Budget review  ", "END:VEVENT"}));
}

// Every file above, with the name the end-to-end tests give it.
inline std::vector<std::pair<std::string, std::string>> realCalendarFiles() {
  return {{"outlook-weekly.ics", outlookWeekly()}, {"outlook-daily.ics", outlookDaily()},
          {"notes.ics", lotusNotes()},             {"google.ics", googleDaily()},
          {"confluence.ics", confluence()},       {"apple.ics", appleHoliday()},
          {"early.ics", extraDatesFirst()},        {"exchange.ics", windowsDisplayName()}};
}

// Item files the fuzzer starts from: an Outlook series, a folded all-day event, a
// repeating reminder and a broken file.
inline const std::vector<std::string>& fuzzSeedFiles() {
  static const std::vector<std::string> seeds = {
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
  return seeds;
}

// One random change of the kinds broken writers, sync tools and fuzzers make.
inline std::string mutatedFile(std::string text, std::mt19937_64& random) {
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
      const std::string& other = fuzzSeedFiles()[pick(fuzzSeedFiles().size())];
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

}  // namespace wren::testing

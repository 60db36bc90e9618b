#include "platform/vdir/TodoCodec.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/LocalTime.h"
#include "support/TimeZoneGuard.h"
#include "support/StoreTestSupport.h"

namespace wren::platform::vdir {
namespace {

using std::chrono::hours;
using std::chrono::minutes;
using testing::countOf;

// A VCALENDAR around the given VTODO body lines (and any components after it), CRLF ended.
std::string calendarWith(const std::vector<std::string_view>& todoLines,
                         std::string_view extraComponents = "") {
  std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//Test//EN\r\n";
  text += extraComponents;
  text += "BEGIN:VTODO\r\nUID:todo-1\r\nDTSTAMP:20240101T000000Z\r\n";
  for (std::string_view line : todoLines) text.append(line).append("\r\n");
  text += "END:VTODO\r\nEND:VCALENDAR\r\n";
  return text;
}

ReminderItem read(const std::string& text) {
  std::shared_ptr<const ParsedTodoFile> parsed = parseTodoFile(text);
  if (!parsed) {
    ADD_FAILURE() << "unparsed:\n" << text;
    return {};
  }
  return todoItem(*parsed, ItemContext{"item-1", "local/Reminders", {}});
}

Instant utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  return *instantFromCivil(CivilTime{year, month, day, hour, minute, second, 0}, "UTC");
}

DateComponents dayOnly(int year, int month, int day) {
  return DateComponents{year, month, day, std::nullopt, 0, 0, std::nullopt};
}

DateComponents timeIn(int year, int month, int day, int hour, int minute, std::optional<std::string> zone) {
  return DateComponents{year, month, day, hour, minute, 0, std::move(zone)};
}

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// ---------------------------------------------------------------------------------------

TEST(TodoCodecRead, DueAndStartComponentsKeepTheirKindOfTime) {
  constexpr std::string_view kBerlin =
      "BEGIN:VTIMEZONE\r\nTZID:Custom Zone\r\nBEGIN:STANDARD\r\nDTSTART:19700101T000000\r\n"
      "TZOFFSETFROM:+0300\r\nTZOFFSETTO:+0300\r\nTZNAME:X\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n";
  struct Case {
    const char* name;
    std::string line;
    DateComponents expected;
  };
  const Case cases[] = {
      {"date", "DUE;VALUE=DATE:20240501", dayOnly(2024, 5, 1)},
      {"utc", "DUE:20240501T093000Z", timeIn(2024, 5, 1, 9, 30, "UTC")},
      {"iana tzid", "DUE;TZID=Asia/Shanghai:20240501T093000", timeIn(2024, 5, 1, 9, 30, "Asia/Shanghai")},
      {"prefixed tzid", "DUE;TZID=/freeassociation.sourceforge.net/Europe/Berlin:20240501T093000",
       timeIn(2024, 5, 1, 9, 30, "Europe/Berlin")},
      {"floating", "DUE:20240501T093000", timeIn(2024, 5, 1, 9, 30, std::nullopt)},
      {"file's own zone", "DUE;TZID=Custom Zone:20240501T093000", timeIn(2024, 5, 1, 6, 30, "UTC")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ReminderItem due = read(calendarWith({c.line}, kBerlin));
    EXPECT_EQ(due.dueDateComponents, c.expected);
    EXPECT_FALSE(due.startDateComponents);

    std::string startLine = c.line;
    startLine.replace(0, 3, "DTSTART");
    const ReminderItem start = read(calendarWith({startLine}, kBerlin));
    EXPECT_EQ(start.startDateComponents, c.expected);
    EXPECT_FALSE(start.dueDateComponents);
  }
}

TEST(TodoCodecRead, ModelledTextFieldsAndIdentity) {
  const ReminderItem reminder = read(calendarWith({
      "SUMMARY:Buy milk\\, eggs",
      "DESCRIPTION:Line one\\nLine two\\; done",
      "URL:https://example.com/list?a=1",
      "CREATED:20240102T030405Z",
      "LAST-MODIFIED:20240203T040506Z",
  }));
  EXPECT_EQ(reminder.itemId, "item-1");
  EXPECT_EQ(reminder.calendarId, "local/Reminders");
  EXPECT_EQ(reminder.externalId, "todo-1");
  EXPECT_EQ(reminder.title, "Buy milk, eggs");
  EXPECT_EQ(reminder.notes, "Line one\nLine two; done");
  EXPECT_EQ(reminder.url, "https://example.com/list?a=1");
  EXPECT_EQ(reminder.created, utc(2024, 1, 2, 3, 4, 5));
  EXPECT_EQ(reminder.lastModified, utc(2024, 2, 3, 4, 5, 6));
  EXPECT_FALSE(reminder.origin);
}

TEST(TodoCodecRead, NotesKeepTheBlanksAroundThem) {
  struct Case {
    const char* name;
    std::vector<std::string_view> lines;
    std::optional<std::string> notes;
  };
  const Case cases[] = {
      {"padded", {"DESCRIPTION:  spaced  "}, "  spaced  "},
      {"blanks only", {"DESCRIPTION:  "}, "  "},
      {"tab and escapes", {"DESCRIPTION:\ta\\, b\\N "}, "\ta, b\n "},
      {"folded", {"DESCRIPTION: one", "  two "}, " one two "},
      {"starting on the next line", {"DESCRIPTION;LANGUAGE=en:", "  late"}, " late"},
      {"quoted colon before the value", {"DESCRIPTION;ALTREP=\"cid:x\": quoted"}, " quoted"},
      {"lower-case name", {"description: low"}, " low"},
      {"unknown escape kept", {"DESCRIPTION: C:\\x "}, " C:\\x "},
      {"alarm text is not the notes",
       {"BEGIN:VALARM", "ACTION:DISPLAY", "DESCRIPTION:  alarm  ", "TRIGGER:-PT5M", "END:VALARM"}, std::nullopt},
      {"plain", {"DESCRIPTION:plain"}, "plain"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read(calendarWith(c.lines)).notes, c.notes);
  }
}

TEST(TodoCodecRead, RuleDaysKeepTheOrderTheyAreWrittenIn) {
  const ReminderItem reminder =
      read(calendarWith({"DUE:20250303T090000Z", "RRULE:FREQ=WEEKLY;BYDAY=SA,TU"}));
  ASSERT_EQ(reminder.rules.size(), 1u);
  EXPECT_EQ(reminder.rules[0].daysOfWeek, (std::vector<platform::RecurrenceDay>{{7, 0}, {3, 0}}));
}

TEST(TodoCodecRead, CompletionFromStatusOrCompletedProperty) {
  struct Case {
    const char* name;
    std::vector<std::string_view> lines;
    bool completed;
    std::optional<Instant> completionDate;
  };
  const Case cases[] = {
      {"status only", {"STATUS:COMPLETED"}, true, std::nullopt},
      {"completed only", {"COMPLETED:20240301T120000Z"}, true, utc(2024, 3, 1, 12)},
      {"both", {"STATUS:COMPLETED", "COMPLETED:20240301T120000Z"}, true, utc(2024, 3, 1, 12)},
      {"needs action", {"STATUS:NEEDS-ACTION"}, false, std::nullopt},
      {"in process", {"STATUS:IN-PROCESS", "PERCENT-COMPLETE:40"}, false, std::nullopt},
      {"no status", {}, false, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = calendarWith(c.lines);
    const std::shared_ptr<const ParsedTodoFile> parsed = parseTodoFile(text);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(todoCompleted(*parsed), c.completed);
    const ReminderItem reminder = todoItem(*parsed, {});
    EXPECT_EQ(reminder.completed, c.completed);
    EXPECT_EQ(reminder.completionDate, c.completionDate);
  }
}

TEST(TodoCodecRead, PriorityOutsideZeroToNineCountsAsNone) {
  const std::pair<const char*, int> cases[] = {
      {"", 0}, {"PRIORITY:0", 0}, {"PRIORITY:1", 1}, {"PRIORITY:5", 5}, {"PRIORITY:9", 9}, {"PRIORITY:12", 0},
  };
  for (const auto& [line, expected] : cases) {
    SCOPED_TRACE(line);
    EXPECT_EQ(read(calendarWith({line})).priority, expected);
  }
}

TEST(TodoCodecRead, AlarmsOfTheThreeKinds) {
  const ReminderItem reminder = read(calendarWith({
      "DTSTART:20240501T080000Z",
      "DUE:20240501T093000Z",
      "BEGIN:VALARM", "ACTION:DISPLAY", "DESCRIPTION:a", "TRIGGER;VALUE=DATE-TIME:20240501T091500Z", "END:VALARM",
      "BEGIN:VALARM", "ACTION:DISPLAY", "DESCRIPTION:b", "TRIGGER:-PT15M", "END:VALARM",
      "BEGIN:VALARM", "ACTION:DISPLAY", "DESCRIPTION:c", "TRIGGER;RELATED=END:-PT1H", "END:VALARM",
      "BEGIN:VALARM", "ACTION:DISPLAY", "DESCRIPTION:d", "TRIGGER;RELATED=START:PT0S", "END:VALARM",
      "BEGIN:VALARM", "ACTION:DISPLAY", "DESCRIPTION:e", "TRIGGER:PT0S",
      "X-APPLE-STRUCTURED-LOCATION;VALUE=URI;X-TITLE=\"Home, sweet\":geo:52.5,13.4", "END:VALARM",
      "BEGIN:VALARM", "ACTION:NONE", "TRIGGER;VALUE=DATE-TIME:19760401T005545Z", "END:VALARM",
  }));
  ASSERT_EQ(reminder.alarms.size(), 5u);
  EXPECT_EQ(reminder.alarms[0].absoluteDate, utc(2024, 5, 1, 9, 15));
  EXPECT_EQ(reminder.alarms[1].relativeOffset, -15 * 60);
  EXPECT_EQ(reminder.alarms[2].relativeOffset, -3600);
  // Related to the start, 90 minutes before the due time.
  EXPECT_EQ(reminder.alarms[3].relativeOffset, -90 * 60);
  EXPECT_TRUE(reminder.alarms[4].hasLocation);
  EXPECT_EQ(reminder.alarms[4].locationTitle, "Home, sweet");
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(reminder.alarms[static_cast<std::size_t>(i)].origin, i);
    EXPECT_EQ(reminder.alarms[static_cast<std::size_t>(i)].hasLocation, i == 4);
  }
}

TEST(TodoCodecRead, RecurrenceRule) {
  const ReminderItem reminder = read(calendarWith({
      "DUE;TZID=Europe/Berlin:20240506T090000",
      "RRULE:FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,-1FR;UNTIL=20240701T070000Z;WKST=SU",
  }));
  ASSERT_EQ(reminder.rules.size(), 1u);
  const RecurrenceRule& rule = reminder.rules[0];
  EXPECT_EQ(rule.frequency, Frequency::Weekly);
  EXPECT_EQ(rule.interval, 2);
  EXPECT_EQ(rule.endDate, utc(2024, 7, 1, 7));
  EXPECT_EQ(rule.occurrenceCount, 0);
  EXPECT_EQ(rule.daysOfWeek, (std::vector<RecurrenceDay>{{2, 0}, {6, -1}}));
  EXPECT_EQ(rule.firstDayOfWeek, 1);
}

TEST(TodoCodecRead, UnusableFilesGiveNothing) {
  const std::pair<const char*, std::string> cases[] = {
      {"empty", ""},
      {"not icalendar", "hello world\r\n"},
      {"event only",
       "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:e\r\nDTSTART:20240101T000000Z\r\nEND:VEVENT\r\n"
       "END:VCALENDAR\r\n"},
      {"bare calendar", "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nEND:VCALENDAR\r\n"},
  };
  for (const auto& [name, text] : cases) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(parseTodoFile(text));
    EXPECT_THROW(saveTodoText(text, ReminderItem{}), StoreError);
  }
}

// ---------------------------------------------------------------------------------------

// A stored reminder with properties and an alarm the helper does not model.
const std::string kStored = calendarWith({
    "SEQUENCE:3",
    "SUMMARY:Old title",
    "DESCRIPTION:Old notes",
    "PRIORITY:9",
    "DUE;VALUE=DATE:20240501",
    "CATEGORIES:Errands,Home\\, garden",
    "X-WREN-TEST;X-PARAM=\"a;b\":keep\\, me exactly\\n",
    // Folded at exactly 75 octets, the most a physical line may hold, so it is kept as it was.
    "X-LONG:01234567890123456789012345678901234567890123456789012345678901234567",
    " abcdef",
    "BEGIN:VALARM", "ACTION:AUDIO", "ATTACH;FMTTYPE=audio/basic:ftp://example.com/pub/sounds/bell-01.aud",
    "TRIGGER:-PT30M", "X-EXTRA:yes\\;no", "END:VALARM",
    "BEGIN:VALARM", "ACTION:DISPLAY", "DESCRIPTION:old", "TRIGGER;VALUE=DATE-TIME:20240501T080000Z",
    "END:VALARM",
});

TEST(TodoCodecSave, ChangesEveryModelledFieldAndKeepsTheRest) {
  TimeZoneGuard zone("Europe/Berlin");
  ReminderItem reminder = read(kStored);
  ASSERT_EQ(reminder.alarms.size(), 2u);
  reminder.title = "New title; with, punctuation";
  reminder.notes = "New\nnotes";
  reminder.url = "https://example.com/x";
  reminder.priority = 1;
  reminder.dueDateComponents = timeIn(2024, 6, 2, 18, 45, "America/New_York");
  reminder.startDateComponents = timeIn(2024, 6, 1, 8, 0, "UTC");
  reminder.rules = {RecurrenceRule{Frequency::Daily, 1, utc(2024, 7, 1, 3), 0, {}, {}, {}, {}, {}, {}, 0}};
  reminder.alarms = {reminder.alarms[0], Alarm{utc(2024, 6, 2, 22), 0, false, "", std::nullopt},
                     Alarm{std::nullopt, -600, false, "", std::nullopt}};

  const TodoSaveResult saved = saveTodoText(kStored, reminder);
  EXPECT_FALSE(saved.continuation);
  for (std::string_view kept : {
           "CATEGORIES:Errands,Home\\, garden\r\n",
           "X-WREN-TEST;X-PARAM=\"a;b\":keep\\, me exactly\\n\r\n",
           "X-LONG:01234567890123456789012345678901234567890123456789012345678901234567\r\n abcdef\r\n",
           "BEGIN:VALARM\r\nACTION:AUDIO\r\nATTACH;FMTTYPE=audio/basic:ftp://example.com/pub/sounds/bell-01.aud\r\n"
           "TRIGGER:-PT30M\r\nX-EXTRA:yes\\;no\r\nEND:VALARM\r\n",
           "UID:todo-1\r\n", "SEQUENCE:4\r\n",
           "SUMMARY:New title\\; with\\, punctuation\r\n", "DESCRIPTION:New\\nnotes\r\n",
           "DUE;TZID=America/New_York:20240602T184500\r\n", "DTSTART:20240601T080000Z\r\n",
           "RRULE:FREQ=DAILY;UNTIL=20240701T030000Z\r\n", "TRIGGER;VALUE=DATE-TIME:20240602T220000Z\r\n",
           "TRIGGER;RELATED=END:-PT10M\r\n", "DESCRIPTION:New title\\; with\\, punctuation\r\n",
           "BEGIN:VTIMEZONE\r\nTZID:America/New_York\r\n"}) {
    EXPECT_TRUE(contains(saved.text, kept)) << kept << "\nin:\n" << saved.text;
  }
  for (std::string_view gone : {"Old title", "Old notes", "PRIORITY:9", "DTSTAMP:20240101T000000Z",
                                "20240501T080000Z", "VALUE=DATE:20240501"}) {
    EXPECT_FALSE(contains(saved.text, gone)) << gone;
  }

  const ReminderItem reread = read(saved.text);
  EXPECT_EQ(reread.title, reminder.title);
  EXPECT_EQ(reread.notes, reminder.notes);
  EXPECT_EQ(reread.url, reminder.url);
  EXPECT_EQ(reread.priority, 1);
  EXPECT_EQ(reread.dueDateComponents, reminder.dueDateComponents);
  EXPECT_EQ(reread.startDateComponents, reminder.startDateComponents);
  EXPECT_EQ(reread.rules, reminder.rules);
  ASSERT_EQ(reread.alarms.size(), 3u);
  EXPECT_EQ(reread.alarms[0].relativeOffset, -1800);
  EXPECT_EQ(reread.alarms[1].absoluteDate, utc(2024, 6, 2, 22));
  EXPECT_EQ(reread.alarms[2].relativeOffset, -600);
  EXPECT_GE(*reread.lastModified, now() - minutes(1));
}

TEST(TodoCodecSave, UnchangedFieldsKeepTheirLinesAndClearedOnesGo) {
  const std::string stored = calendarWith({"SUMMARY;LANGUAGE=en:Title", "DESCRIPTION:Notes", "URL:https://a.example",
                                           "PRIORITY:5", "DUE:20240501T093000Z"});
  ReminderItem reminder = read(stored);
  reminder.notes.reset();
  reminder.url.reset();
  reminder.priority = 0;
  const std::string saved = saveTodoText(stored, reminder).text;
  EXPECT_TRUE(contains(saved, "SUMMARY;LANGUAGE=en:Title\r\n"));
  EXPECT_TRUE(contains(saved, "DUE:20240501T093000Z\r\n"));
  EXPECT_FALSE(contains(saved, "DESCRIPTION"));
  EXPECT_FALSE(contains(saved, "URL"));
  EXPECT_FALSE(contains(saved, "PRIORITY"));
  EXPECT_TRUE(contains(saved, "SEQUENCE:1\r\n"));
}

TEST(TodoCodecSave, PlaceholderAlarmsStayHiddenAndKept) {
  const std::string stored = calendarWith({"SUMMARY:Task", "DUE:20240501T093000Z", "BEGIN:VALARM", "ACTION:NONE",
                                           "TRIGGER;VALUE=DATE-TIME:19760401T005545Z", "END:VALARM"});
  ReminderItem reminder = read(stored);
  EXPECT_TRUE(reminder.alarms.empty());
  // A new due time replaces the alarms at a fixed moment; the placeholder is not one of them.
  reminder.dueDateComponents = timeIn(2024, 5, 2, 10, 0, "UTC");
  reminder.alarms.push_back(Alarm{utc(2024, 5, 2, 10), 0, false, "", std::nullopt});
  const std::string saved = saveTodoText(stored, reminder).text;
  EXPECT_EQ(countOf(saved, "BEGIN:VALARM"), 2u);
  EXPECT_TRUE(contains(saved, "ACTION:NONE\r\nTRIGGER;VALUE=DATE-TIME:19760401T005545Z\r\n"));
  ASSERT_EQ(read(saved).alarms.size(), 1u);
  EXPECT_EQ(read(saved).alarms[0].absoluteDate, utc(2024, 5, 2, 10));
}

TEST(TodoCodecSave, CompletingAndUncompleting) {
  const std::string open = calendarWith({"SUMMARY:Task", "STATUS:IN-PROCESS", "PERCENT-COMPLETE:40"});
  ReminderItem reminder = read(open);
  reminder.completed = true;
  reminder.completionDate = utc(2024, 3, 1, 12);
  const TodoSaveResult done = saveTodoText(open, reminder);
  EXPECT_FALSE(done.continuation);
  for (std::string_view line : {"STATUS:COMPLETED\r\n", "PERCENT-COMPLETE:100\r\n", "COMPLETED:20240301T120000Z\r\n"}) {
    EXPECT_TRUE(contains(done.text, line)) << line;
  }
  EXPECT_EQ(countOf(done.text, "STATUS:"), 1u);

  // Without a completion date the save records the time it happened.
  reminder.completionDate.reset();
  const ReminderItem stamped = read(saveTodoText(open, reminder).text);
  ASSERT_TRUE(stamped.completionDate);
  EXPECT_LE(now() - *stamped.completionDate, minutes(1));

  ReminderItem reopened = read(done.text);
  reopened.completed = false;
  reopened.completionDate.reset();
  const std::string undone = saveTodoText(done.text, reopened).text;
  EXPECT_TRUE(contains(undone, "STATUS:NEEDS-ACTION\r\n"));
  EXPECT_FALSE(contains(undone, "COMPLETED:"));
  EXPECT_FALSE(contains(undone, "PERCENT-COMPLETE"));
  EXPECT_FALSE(read(undone).completed);
}

TEST(TodoCodecSave, CompletingARepeatingReminderContinuesTheSeries) {
  TimeZoneGuard zone("Asia/Shanghai");
  struct Case {
    const char* name;
    std::vector<std::string_view> lines;
    std::optional<DateComponents> nextDue;
    std::optional<DateComponents> nextStart;
    std::string nextRule;  // the RRULE line of the continuation
  };
  const Case cases[] = {
      {"weekly, zoned, count",
       {"DTSTART;TZID=Europe/Berlin:20240506T080000", "DUE;TZID=Europe/Berlin:20240506T090000",
        "RRULE:FREQ=WEEKLY;BYDAY=MO,TH;COUNT=4"},
       timeIn(2024, 5, 9, 9, 0, "Europe/Berlin"), timeIn(2024, 5, 9, 8, 0, "Europe/Berlin"),
       "RRULE:FREQ=WEEKLY;COUNT=3;BYDAY=MO,TH\r\n"},
      {"monthly date with until",
       {"DUE;VALUE=DATE:20240131", "RRULE:FREQ=MONTHLY;BYMONTHDAY=-1;UNTIL=20240601"},
       dayOnly(2024, 2, 29), std::nullopt, "RRULE:FREQ=MONTHLY;UNTIL=20240601;BYMONTHDAY=-1\r\n"},
      {"daily across a clock change keeps the wall clock",
       {"DUE;TZID=Europe/Berlin:20240330T090000", "RRULE:FREQ=DAILY"},
       timeIn(2024, 3, 31, 9, 0, "Europe/Berlin"), std::nullopt, "RRULE:FREQ=DAILY\r\n"},
      {"last of the count", {"DUE:20240506T090000Z", "RRULE:FREQ=DAILY;COUNT=1"}, std::nullopt, std::nullopt, ""},
      {"past the until", {"DUE:20240506T090000Z", "RRULE:FREQ=DAILY;UNTIL=20240506T120000Z"},
       std::nullopt, std::nullopt, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string_view> lines = c.lines;
    lines.insert(lines.end(), {"SUMMARY:Water plants", "PRIORITY:5", "CATEGORIES:Home", "BEGIN:VALARM",
                               "ACTION:DISPLAY", "DESCRIPTION:x", "TRIGGER:-PT5M", "END:VALARM"});
    const std::string text = calendarWith(lines);
    ReminderItem reminder = read(text);
    ASSERT_EQ(reminder.rules.size(), 1u);
    reminder.completed = true;
    const TodoSaveResult saved = saveTodoText(text, reminder);
    const ReminderItem closed = read(saved.text);
    EXPECT_TRUE(closed.completed);
    EXPECT_EQ(closed.dueDateComponents, reminder.dueDateComponents);
    EXPECT_EQ(closed.rules.empty(), c.nextDue.has_value());
    ASSERT_EQ(saved.continuation.has_value(), c.nextDue.has_value());
    if (!c.nextDue) continue;

    const ReminderItem next = read(*saved.continuation);
    EXPECT_NE(next.externalId, reminder.externalId);
    EXPECT_FALSE(next.externalId.empty());
    EXPECT_FALSE(next.completed);
    EXPECT_EQ(next.title, "Water plants");
    EXPECT_EQ(next.priority, 5);
    EXPECT_EQ(next.dueDateComponents, c.nextDue);
    EXPECT_EQ(next.startDateComponents, c.nextStart);
    ASSERT_EQ(next.alarms.size(), 1u);
    EXPECT_EQ(next.alarms[0].relativeOffset, -300);
    EXPECT_TRUE(contains(*saved.continuation, "CATEGORIES:Home\r\n"));
    EXPECT_TRUE(contains(*saved.continuation, "STATUS:NEEDS-ACTION\r\n"));
    EXPECT_TRUE(contains(*saved.continuation, c.nextRule)) << *saved.continuation;
  }
}

TEST(TodoCodecSave, AbsoluteAlarmsMoveWithTheContinuation) {
  const std::string text = calendarWith({"DUE:20240506T090000Z", "RRULE:FREQ=WEEKLY", "BEGIN:VALARM",
                                         "ACTION:DISPLAY", "DESCRIPTION:x",
                                         "TRIGGER;VALUE=DATE-TIME:20240506T083000Z", "END:VALARM"});
  ReminderItem reminder = read(text);
  reminder.completed = true;
  const TodoSaveResult saved = saveTodoText(text, reminder);
  ASSERT_TRUE(saved.continuation);
  const ReminderItem next = read(*saved.continuation);
  ASSERT_EQ(next.alarms.size(), 1u);
  EXPECT_EQ(next.alarms[0].absoluteDate, utc(2024, 5, 13, 8, 30));
  // Completing an already completed reminder again opens nothing more.
  ReminderItem closed = read(saved.text);
  closed.rules = reminder.rules;
  EXPECT_FALSE(saveTodoText(saved.text, closed).continuation);
}

// ---------------------------------------------------------------------------------------

// Every physical line ends in CRLF, holds at most 75 octets and starts with a whole
// UTF-8 character.
void expectStrictLines(const std::string& text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << "unterminated line at " << at;
    const std::string line = text.substr(at, end - at);
    EXPECT_LE(line.size(), 75u) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    if (!line.empty()) {
      const auto first = static_cast<unsigned char>(line[line[0] == ' ' ? 1 : 0]);
      EXPECT_NE(first & 0xC0, 0x80) << "a character split at: " << line;
    }
    at = end + 2;
  }
}

TEST(TodoCodecWrite, NewReminderFileIsStrict) {
  TimeZoneGuard zone("Europe/Berlin");
  ReminderItem reminder;
  reminder.title = std::string(30, 'x') + "日本語のとても長いタイトルで折り返しが必要です。" + std::string(20, 'y');
  reminder.notes = std::string(200, 'n');
  reminder.dueDateComponents = timeIn(2024, 10, 27, 9, 30, "Europe/Berlin");
  reminder.rules = {RecurrenceRule{Frequency::Weekly, 1, utc(2024, 12, 1, 8), 0, {}, {}, {}, {}, {}, {}, 0}};
  reminder.alarms = {Alarm{utc(2024, 10, 27, 8, 30), 0, false, "", std::nullopt}};
  const std::string text = newTodoText(reminder);
  expectStrictLines(text);
  for (std::string_view part : {"BEGIN:VCALENDAR\r\nVERSION:2.0\r\n", "PRODID:", "DTSTAMP:", "CREATED:", "UID:",
                                "BEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\n", "UNTIL=20241201T080000Z",
                                "ACTION:DISPLAY\r\nDESCRIPTION:xxx", "STATUS:NEEDS-ACTION"}) {
    EXPECT_TRUE(contains(text, part)) << part << "\nin:\n" << text;
  }
  const ReminderItem reread = read(text);
  EXPECT_EQ(reread.title, reminder.title);
  EXPECT_EQ(reread.notes, reminder.notes);
  EXPECT_EQ(reread.dueDateComponents, reminder.dueDateComponents);
  EXPECT_EQ(reread.rules, reminder.rules);

  reminder.externalId = "given-uid";
  EXPECT_EQ(read(newTodoText(reminder)).externalId, "given-uid");
  EXPECT_NE(read(newTodoText(ReminderItem{})).externalId, read(newTodoText(ReminderItem{})).externalId);
}

TEST(TodoCodecWrite, UntilFollowsTheDueDateForm) {
  TimeZoneGuard zone("Asia/Tokyo");
  const RecurrenceRule rule{Frequency::Daily, 1, utc(2024, 6, 10, 14, 59, 59), 0, {}, {}, {}, {}, {}, {}, 0};
  const std::pair<DateComponents, const char*> cases[] = {
      {dayOnly(2024, 6, 1), "UNTIL=20240610\r\n"},
      {timeIn(2024, 6, 1, 9, 0, std::nullopt), "UNTIL=20240610T235959\r\n"},
      {timeIn(2024, 6, 1, 9, 0, "UTC"), "UNTIL=20240610T145959Z\r\n"},
      {timeIn(2024, 6, 1, 9, 0, "America/Chicago"), "UNTIL=20240610T145959Z\r\n"},
  };
  for (const auto& [due, until] : cases) {
    SCOPED_TRACE(until);
    ReminderItem reminder;
    reminder.dueDateComponents = due;
    reminder.rules = {rule};
    const std::string text = newTodoText(reminder);
    EXPECT_TRUE(contains(text, until)) << text;
    EXPECT_EQ(read(text).rules, reminder.rules);
  }
}

// ---------------------------------------------------------------------------------------

// A round trip through another iCalendar library: python3-icalendar reads what the helper
// writes, and what it writes back is read here.
class TodoCodecInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::hasPythonIcalendar()) GTEST_SKIP() << "python3 with icalendar is not installed";
    char pattern[] = "/tmp/todo-codec-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override {
    if (!folder_.empty()) std::filesystem::remove_all(folder_);
  }

  // Runs a Python script with the file's path and a path to write to; gives what it prints.
  std::string python(const std::string& script, const std::string& fileText) {
    std::ofstream(path("in.ics"), std::ios::binary) << fileText;
    const testing::PythonRun run = testing::runPython(folder_, script, {path("in.ics"), path("out.ics")});
    EXPECT_EQ(run.status, 0);
    return run.printed;
  }

  std::string path(const std::string& name) const { return folder_ + "/" + name; }

  std::string folder_;
};

TEST_F(TodoCodecInterop, PythonIcalendarReadsAndRewritesOurFiles) {
  ReminderItem reminder;
  reminder.title = "Café, crème; brûlée";
  reminder.notes = "two\nlines";
  reminder.priority = 5;
  reminder.dueDateComponents = timeIn(2024, 5, 1, 9, 30, "Europe/Paris");
  reminder.rules = {RecurrenceRule{Frequency::Weekly, 2, std::nullopt, 5, {{2, 0}}, {}, {}, {}, {}, {}, 0}};
  reminder.alarms = {Alarm{std::nullopt, -900, false, "", std::nullopt}};
  const std::string script =
      "import sys, icalendar\n"
      "cal = icalendar.Calendar.from_ical(open(sys.argv[1], 'rb').read())\n"
      "todo = cal.walk('VTODO')[0]\n"
      "due = todo.decoded('DUE')\n"
      "print(todo['SUMMARY'])\n"
      "print(todo['DESCRIPTION'].replace('\\n', '|'))\n"
      "print(due.strftime('%Y%m%dT%H%M%S'), due.utcoffset())\n"
      "print(todo['RRULE'].to_ical().decode())\n"
      "print('zone', cal.walk('VTIMEZONE')[0]['TZID'])\n"
      "print('alarm', todo.walk('VALARM')[0]['ACTION'], todo.walk('VALARM')[0]['DESCRIPTION'])\n"
      "open(sys.argv[2], 'wb').write(cal.to_ical())\n";
  const std::string printed = python(script, newTodoText(reminder));
  EXPECT_EQ(printed,
            "Café, crème; brûlée\ntwo|lines\n20240501T093000 2:00:00\nFREQ=WEEKLY;COUNT=5;INTERVAL=2;BYDAY=MO\n"
            "zone Europe/Paris\nalarm DISPLAY Café, crème; brûlée\n");

  const ReminderItem reread = read(testing::readText(path("out.ics")));
  EXPECT_EQ(reread.title, reminder.title);
  EXPECT_EQ(reread.notes, reminder.notes);
  EXPECT_EQ(reread.priority, 5);
  EXPECT_EQ(reread.dueDateComponents, reminder.dueDateComponents);
  EXPECT_EQ(reread.rules, reminder.rules);
  ASSERT_EQ(reread.alarms.size(), 1u);
  EXPECT_EQ(reread.alarms[0].relativeOffset, -900);
}

}  // namespace
}  // namespace wren::platform::vdir

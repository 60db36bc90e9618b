// Hostile files: 10,000 one-off events in 4 calendars, once as they are and once with 40
// hostile files among them (files of the shapes that broke parsers: tens of thousands of
// lines, unclosed and deeply nested components, random bytes, long lines, time zones that
// repeat every second, files far larger than any item, a FIFO). The helper answers the
// first 14-day list of a fresh process on each store in the same run; the figures are the
// time of that answer and the peak resident memory, side by side and as ratios.

#include <sys/stat.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "BenchProcess.h"
#include "StoreFixture.h"

using namespace wren::bench;

namespace {

std::vector<std::filesystem::path> writeEvents(const TempHome& home) {
  std::vector<std::filesystem::path> calendars;
  for (int c = 0; c < 4; ++c)
    calendars.push_back(home.collection("calendars", "local", "cal" + std::to_string(c), "Calendar " + std::to_string(c)));
  for (int i = 0; i < 10000; ++i) {
    const int day = i % 365;
    const int month = 1 + (day / 28) % 12, dayOfMonth = 1 + day % 28;
    TempHome::write(calendars[i % 4] / ("one" + std::to_string(i) + ".ics"),
                    ics("BEGIN:VEVENT\nUID:one-" + std::to_string(i) + "@bench\nDTSTAMP:20250101T000000Z\nDTSTART:" +
                        stamp(2025, month, dayOfMonth, 8 + i % 10, 0) + "Z\nDTEND:" +
                        stamp(2025, month, dayOfMonth, 9 + i % 10, 0) + "Z\nSUMMARY:" + word(i) + " " +
                        std::to_string(i) + "\nEND:VEVENT\n"));
  }
  return calendars;
}

std::string repeated(const std::string& part, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += part;
  return text;
}

// Ten hostile files of different shapes in each calendar.
void writeHostileFiles(const std::vector<std::filesystem::path>& calendars) {
  std::mt19937 random(7);
  const std::string event = "BEGIN:VEVENT\r\nUID:h@bench\r\nDTSTART:20250303T090000Z\r\nSUMMARY:Hostile\r\n";
  for (std::size_t c = 0; c < calendars.size(); ++c) {
    const std::filesystem::path& folder = calendars[c];
    // Many properties: as much as the limits let libical read.
    TempHome::write(folder / "many-lines.ics",
                    "BEGIN:VCALENDAR\r\n" + event + repeated("X-A;P=1:" + std::string(48, 'a') + "\r\n", 40000) +
                        "END:VEVENT\r\nEND:VCALENDAR\r\n");
    // Twice too many properties, refused unread by libical.
    TempHome::write(folder / "too-many-lines.ics",
                    "BEGIN:VCALENDAR\r\n" + event + repeated("X-A:b\r\n", 200000) + "END:VEVENT\r\nEND:VCALENDAR\r\n");
    // Components opened and never closed, and nested very deep.
    TempHome::write(folder / "unclosed.ics", repeated("BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nDTSTART:2025\r\n", 8000));
    TempHome::write(folder / "deep.ics", "BEGIN:VCALENDAR\r\n" + event + repeated("BEGIN:VALARM\r\n", 40000) +
                                             repeated("END:VALARM\r\n", 40000) + "END:VEVENT\r\nEND:VCALENDAR\r\n");
    // Random bytes with line ends and colons among them, 320 KB.
    std::string noise;
    for (int i = 0; i < 320 * 1024; ++i) {
      const unsigned r = random() % 64;
      noise += r == 0 ? '\n' : r == 1 ? ':' : r == 2 ? ';' : static_cast<char>(random());
    }
    TempHome::write(folder / "noise.ics", "BEGIN:VCALENDAR\r\n" + noise);
    // Lines far longer than any value, and quoted parameters that never end.
    TempHome::write(folder / "long-line.ics", "BEGIN:VCALENDAR\r\n" + event + "DESCRIPTION:" +
                                                  std::string(4 << 20, 'x') + "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    TempHome::write(folder / "quotes.ics", "BEGIN:VCALENDAR\r\n" + event + "X-A;P=\"" + std::string(900000, ';') +
                                               "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    // A zone whose offset changes every second.
    TempHome::write(folder / "zone.ics",
                    "BEGIN:VCALENDAR\r\nBEGIN:VTIMEZONE\r\nTZID:Odd\r\nBEGIN:STANDARD\r\nDTSTART:19700101T000000\r\n"
                    "TZOFFSETFROM:+0100\r\nTZOFFSETTO:+0000\r\nRRULE:FREQ=SECONDLY\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n"
                    "BEGIN:VEVENT\r\nUID:z@bench\r\nDTSTART;TZID=Odd:20250303T090000\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    // Larger than any item, sparse; and a FIFO nobody writes to.
    TempHome::write(folder / "huge.ics", "BEGIN:VCALENDAR\r\n");
    std::filesystem::resize_file(folder / "huge.ics", std::uintmax_t{1} << 40);
    mkfifo((folder / "fifo.ics").c_str(), 0600);
  }
}

struct Figures {
  double seconds = 0;
  long rssKiB = 0;
  std::size_t events = 0;
};

Figures firstList(const TempHome& home) {
  const std::string list14 =
      R"({"id":1,"method":"calendar.events.list","params":{"start":"2025-03-03","end":"2025-03-16","limit":5000}})";
  InteractiveProcess helper({WREN_HELPER_PATH}, home.env());
  const std::string reply = helper.request(list14);
  Figures figures;
  figures.seconds = helper.secondsSinceStart();
  figures.rssKiB = helper.finish();
  auto listed = nlohmann::json::parse(reply);
  if (listed.value("ok", false) == true) figures.events = listed["result"]["events"].size();
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  TempHome plain(argc > 1 ? argv[1] : nullptr);
  writeEvents(plain);
  TempHome hostile(argc > 2 ? argv[2] : nullptr);
  writeHostileFiles(writeEvents(hostile));
  if (plain.kept()) return 0;

  const Figures before = firstList(plain);
  const Figures with = firstList(hostile);
  std::printf("store: 10000 one-off events in 4 calendars; 14-day list gives %zu events, %zu with 40 hostile files\n",
              before.events, with.events);
  std::printf("first 14-day list: %.0f ms plain, %.0f ms with hostile files\n", before.seconds * 1000,
              with.seconds * 1000);
  std::printf("peak RSS: %.1f MiB plain, %.1f MiB with hostile files (target < 64)\n", before.rssKiB / 1024.0,
              with.rssKiB / 1024.0);
  std::printf("ratio time hostile/plain: %.2f\n", with.seconds / before.seconds);
  std::printf("ratio peak RSS hostile/plain: %.2f\n", static_cast<double>(with.rssKiB) / before.rssKiB);
  return before.events > 0 && with.events >= before.events ? 0 : 1;
}

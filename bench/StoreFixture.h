#pragma once

// Writes generated stores for the benchmarks into a temporary data root.

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace wren::bench {

// A home folder for one benchmark run, removed afterwards. A benchmark started with a
// folder as its argument writes its store there instead, keeps it and measures nothing, so
// that the store can be profiled by hand.
class TempHome {
 public:
  explicit TempHome(const char* keepAt = nullptr) : keep_(keepAt != nullptr) {
    char pattern[] = "/tmp/wren-bench-XXXXXX";
    if (keep_) {
      home_ = keepAt;
    } else if (mkdtemp(pattern)) {
      home_ = pattern;
    } else {
      throw std::runtime_error("mkdtemp failed");
    }
    std::filesystem::create_directories(dataRoot());
    write(dataRoot() / "privacy.json", R"({"calendar":"granted","reminders":"granted"})");
  }
  ~TempHome() {
    std::error_code ignored;
    if (!keep_) std::filesystem::remove_all(home_, ignored);
  }
  bool kept() const { return keep_; }
  const std::filesystem::path& home() const { return home_; }
  std::filesystem::path dataHome() const { return home_ / "share"; }
  std::filesystem::path dataRoot() const { return dataHome() / "wren"; }
  std::vector<std::string> env() const {
    return {"HOME=" + home_.string(), "XDG_DATA_HOME=" + dataHome().string(), "TZ=Europe/Berlin"};
  }

  static void write(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }

  // A calendar (or list) folder with its title.
  std::filesystem::path collection(const std::string& tree, const std::string& source,
                                   const std::string& name, const std::string& title) const {
    std::filesystem::path folder = dataRoot() / tree / source / name;
    write(folder / "displayname", title);
    write(folder / "color", "#FF9500");
    return folder;
  }

 private:
  std::filesystem::path home_;
  bool keep_;
};

// iCalendar text with CR LF line ends.
inline std::string ics(const std::string& body) {
  std::string text = "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Wren//Bench//EN\n" + body + "END:VCALENDAR\n";
  std::string crlf;
  for (char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  return crlf;
}

inline std::string stamp(int year, int month, int day, int hour, int minute) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d00", year, month, day, hour, minute);
  return text;
}

inline const char* word(int i) {
  static const char* words[] = {"Review", "Lunch", "Call", "Planning", "Dentist", "Gym", "Standup",
                                "Café", "Budget", "Demo", "Retro", "Interview", "Reading", "Walk"};
  return words[i % 14];
}

// The event files of events_bench, in order: 10,000 one-off events over two years, then 500
// daily, weekly and monthly series (a third in a named zone, a tenth with a changed
// occurrence).
inline std::vector<std::string> eventStoreFiles() {
  std::vector<std::string> files;
  for (int i = 0; i < 10000; ++i) {
    int day = i % 730;  // two years from 2025-01-01
    int month = 1 + (day / 28) % 12, year = 2025 + day / 365, dayOfMonth = 1 + day % 28;
    std::string start = stamp(year, month, dayOfMonth, 8 + i % 10, (i % 4) * 15);
    std::string end = stamp(year, month, dayOfMonth, 9 + i % 10, (i % 4) * 15);
    files.push_back(ics("BEGIN:VEVENT\nUID:one-" + std::to_string(i) + "@bench\nDTSTAMP:20250101T000000Z\nDTSTART:" +
                        start + "Z\nDTEND:" + end + "Z\nSUMMARY:" + word(i) + " " + std::to_string(i) +
                        "\nLOCATION:Room " + std::to_string(i % 30) + "\nDESCRIPTION:Notes for event " +
                        std::to_string(i) + "\nEND:VEVENT\n"));
  }
  for (int i = 0; i < 500; ++i) {
    const char* rule = i % 5 == 0 ? "FREQ=DAILY;COUNT=60" : i % 5 < 4 ? "FREQ=WEEKLY" : "FREQ=MONTHLY";
    bool zoned = i % 3 == 0;
    std::string start = stamp(2025, 1 + i % 3, 1 + i % 28, 7 + i % 12, 0);
    std::string end = stamp(2025, 1 + i % 3, 1 + i % 28, 8 + i % 12, 0);
    std::string dtstart = zoned ? "DTSTART;TZID=America/New_York:" + start : "DTSTART:" + start + "Z";
    std::string dtend = zoned ? "DTEND;TZID=America/New_York:" + end : "DTEND:" + end + "Z";
    std::string uid = "series-" + std::to_string(i) + "@bench";
    std::string body = "BEGIN:VEVENT\nUID:" + uid + "\nDTSTAMP:20250101T000000Z\n" + dtstart + "\n" + dtend +
                       "\nRRULE:" + rule + "\nSUMMARY:" + word(i) + " series " + std::to_string(i) + "\nEND:VEVENT\n";
    if (i % 10 == 0) {  // a changed occurrence: the third one, an hour later
      std::string base = stamp(2025, 1 + i % 3, 1 + i % 28, 7 + i % 12, 0);
      body += "BEGIN:VEVENT\nUID:" + uid + "\nDTSTAMP:20250101T000000Z\nRECURRENCE-ID" +
              (zoned ? ";TZID=America/New_York:" + base : ":" + base + "Z") + "\n" +
              (zoned ? "DTSTART;TZID=America/New_York:" : "DTSTART:") + stamp(2025, 1 + i % 3, 1 + i % 28, 8 + i % 12, 0) +
              (zoned ? "" : "Z") + "\n" + (zoned ? "DTEND;TZID=America/New_York:" : "DTEND:") +
              stamp(2025, 1 + i % 3, 1 + i % 28, 9 + i % 12, 0) + (zoned ? "" : "Z") +
              "\nSUMMARY:Moved " + word(i) + "\nEND:VEVENT\n";
    }
    files.push_back(ics(body));
  }
  return files;
}

}  // namespace wren::bench

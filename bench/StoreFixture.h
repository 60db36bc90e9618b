#pragma once

// Writes generated stores for the benchmarks into a temporary data root.

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

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

}  // namespace wren::bench

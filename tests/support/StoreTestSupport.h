#pragma once

// Helpers for the store tests: guards for process-wide settings and small file utilities.

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/EnvironmentVariable.h"

namespace wren::platform::vdir::testing {

using platform::EnvironmentVariable;

// Makes every write beyond `bytes` fail with EFBIG for the guard's lifetime, so that tests
// can make a write fail halfway even when they run as the superuser (for whom permission
// bits do not count). The signal the kernel sends for it is ignored meanwhile.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &previous_);
    previousHandler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    signal(SIGXFSZ, previousHandler_);
  }

 private:
  rlimit previous_{};
  sighandler_t previousHandler_;
};

inline void writeText(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Another program's write of a whole file, made as editors and synchronisation tools make
// it: a new file renamed over the old one.
inline void writeElsewhere(const std::filesystem::path& path, const std::string& text) {
  const std::filesystem::path temporary = path.parent_path() / ("other-program-" + path.filename().string());
  writeText(temporary, text);
  std::filesystem::rename(temporary, path);
}

// Every name in a folder, hidden ones included.
inline std::set<std::string> entryNames(const std::filesystem::path& folder) {
  std::set<std::string> names;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
    names.insert(entry.path().filename().string());
  return names;
}

// How often `part` occurs in `text`, overlapping occurrences included.
inline std::size_t countOf(std::string_view text, std::string_view part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// Whether /usr/bin/python3 can import icalendar: another iCalendar library, which the codec
// tests let read what the helper writes.
inline bool hasPythonIcalendar() {
  return access("/usr/bin/python3", X_OK) == 0 &&
         std::system("/usr/bin/python3 -c 'import icalendar' 2>/dev/null") == 0;
}

// How a Python script ended: its exit status (0 for success) and what it printed, error
// output included.
struct PythonRun {
  int status = -1;
  std::string printed;
};

// Runs a Python script with /usr/bin/python3 and these arguments; the script is written to
// script.py in `folder` first.
inline PythonRun runPython(const std::filesystem::path& folder, const std::string& script,
                           const std::vector<std::string>& arguments) {
  const std::filesystem::path scriptPath = folder / "script.py";
  std::ofstream(scriptPath) << script;
  std::string command = "/usr/bin/python3 '" + scriptPath.string() + "'";
  for (const std::string& argument : arguments) command += " '" + argument + "'";
  PythonRun run;
  if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe)) run.printed += buffer;
    run.status = pclose(pipe);
  }
  return run;
}

}  // namespace wren::platform::vdir::testing

// Scaling: how the helper's figures grow with the size of the store, and how many threads
// and how much memory a burst of pipelined requests costs.
//
//   build/scale_bench                                    # every size, with khal and todoman
//   build/scale_bench --events 1000,10000 --reminders 1000 --no-peers
//
// Each event store holds about ten events a day, so a larger store spans more years and a
// 14-day window holds about the same events at every size: a figure that grows with the
// store measures work spent on events the request never asked for. One item in twenty is a
// series (daily with COUNT, weekly and monthly with UNTIL, five open-ended weekly ones from
// the first day; some in a named zone, some with a changed occurrence). Reminder stores
// hold 200 open reminders at every size and years of completed ones.
//
// Every helper figure is the median of --rounds rounds (5). Warm figures come from one
// process kept running; cold ones from a fresh process whose first request it is (start
// included). khal and todoman run on the same folders, warm: a first run builds their cache
// (given three minutes), then the median of three runs, each given a minute; a peer whose
// cache would take longer, judged from the smaller store, is left out with a note.
// Stores are written one size at a time into a temporary folder and removed afterwards.

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "BenchProcess.h"
#include "StoreFixture.h"

using namespace wren::bench;
using nlohmann::json;

namespace {

constexpr int kEventsPerDay = 10;
constexpr int kOpenReminders = 200;
constexpr int kCollections = 4;
constexpr double kPeerTimeoutSeconds = 60;
constexpr double kPeerCacheSeconds = 180;
constexpr std::chrono::sys_days kFirstDay{std::chrono::year{2000} / 1 / 3};

struct Options {
  std::vector<long> events = {1000, 10000, 50000, 100000};
  std::vector<long> reminders = {1000, 10000, 20000, 50000};
  int rounds = 5;
  bool peers = true;
  long pipelinedSize = 10000;  // the event store the pipelined burst runs on; 0: none
  int pipelined = 100;
};

// The helper measured: the one built beside this benchmark, or another build given with
// --helper (to compare two builds on the same stores).
std::string helperPath = WREN_HELPER_PATH;

std::vector<long> sizeList(const std::string& text) {
  std::vector<long> sizes;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, ',');)
    if (!item.empty()) sizes.push_back(std::stol(item));
  return sizes;
}

Options parseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::runtime_error(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--events") options.events = sizeList(value());
    else if (arg == "--reminders") options.reminders = sizeList(value());
    else if (arg == "--rounds") options.rounds = std::max(1, std::stoi(value()));
    else if (arg == "--no-peers") options.peers = false;
    else if (arg == "--pipelined-on") options.pipelinedSize = std::stol(value());
    else if (arg == "--helper") helperPath = value();
    else throw std::runtime_error("unknown option " + arg +
                                  " (--events N,N --reminders N,N --rounds N --no-peers --pipelined-on N --helper PATH)");
  }
  return options;
}

// "YYYYMMDD" and "YYYY-MM-DD" of a day.
std::string compactDay(std::chrono::sys_days day) {
  std::chrono::year_month_day ymd(day);
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02u%02u", static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                static_cast<unsigned>(ymd.day()));
  return text;
}
std::string isoDay(std::chrono::sys_days day) {
  std::string compact = compactDay(day);
  return compact.substr(0, 4) + "-" + compact.substr(4, 2) + "-" + compact.substr(6, 2);
}
std::string dayTime(std::chrono::sys_days day, int hour, int minute) {
  char text[16];
  std::snprintf(text, sizeof text, "T%02d%02d00", hour, minute);
  return compactDay(day) + text;
}

// The first day of the 14-day window the lists ask for: the middle of the store's span.
std::chrono::sys_days windowStart(long items) {
  return kFirstDay + std::chrono::days(items / kEventsPerDay / 2);
}

std::string timed(const std::string& property, bool zoned, const std::string& value) {
  return zoned ? property + ";TZID=America/New_York:" + value + "\n" : property + ":" + value + "Z\n";
}

void writeEventStore(const TempHome& home, long items) {
  std::vector<std::filesystem::path> calendars;
  for (int c = 0; c < kCollections; ++c)
    calendars.push_back(home.collection("calendars", "local", "cal" + std::to_string(c), "Calendar " + std::to_string(c)));
  for (long i = 0; i < items; ++i) {
    const std::chrono::sys_days day = kFirstDay + std::chrono::days(i / kEventsPerDay);
    const int hour = 8 + static_cast<int>(i % 10), minute = static_cast<int>(i % 4) * 15;
    const std::string n = std::to_string(i);
    const std::filesystem::path folder = calendars[static_cast<size_t>(i % kCollections)];
    if (i % 20 != 19) {
      TempHome::write(folder / ("one" + n + ".ics"),
                      ics("BEGIN:VEVENT\nUID:one-" + n + "@scale\nDTSTAMP:20250101T000000Z\nDTSTART:" +
                          dayTime(day, hour, minute) + "Z\nDTEND:" + dayTime(day, hour + 1, minute) + "Z\nSUMMARY:" +
                          word(static_cast<int>(i)) + " " + n + "\nLOCATION:Room " + std::to_string(i % 30) +
                          "\nDESCRIPTION:Notes for event " + n + "\nEND:VEVENT\n"));
      continue;
    }
    // A series: the first five are open-ended weekly ones, the rest end.
    const long s = i / 20;
    const bool zoned = s % 3 == 0;
    std::string rule;
    std::chrono::sys_days second;  // the day of the second occurrence
    if (s < 5) {
      rule = "FREQ=WEEKLY";
      second = day + std::chrono::days(7);
    } else if (s % 5 < 2) {
      rule = "FREQ=DAILY;COUNT=10";
      second = day + std::chrono::days(1);
    } else if (s % 5 < 4) {
      rule = "FREQ=WEEKLY;UNTIL=" + compactDay(day + std::chrono::days(70)) + "T235959Z";
      second = day + std::chrono::days(7);
    } else {
      std::chrono::year_month_day ymd(day);
      rule = "FREQ=MONTHLY;UNTIL=" + compactDay(std::chrono::sys_days(ymd + std::chrono::months(12))) + "T235959Z";
      second = std::chrono::sys_days(ymd + std::chrono::months(1));
    }
    const std::string uid = "series-" + n + "@scale";
    std::string body = "BEGIN:VEVENT\nUID:" + uid + "\nDTSTAMP:20250101T000000Z\n" +
                       timed("DTSTART", zoned, dayTime(day, hour, minute)) +
                       timed("DTEND", zoned, dayTime(day, hour + 1, minute)) + "RRULE:" + rule +
                       "\nSUMMARY:" + word(static_cast<int>(i)) + " series " + n + "\nEND:VEVENT\n";
    if (s % 10 == 0) {  // the second occurrence moved an hour later
      body += "BEGIN:VEVENT\nUID:" + uid + "\nDTSTAMP:20250101T000000Z\n" +
              timed("RECURRENCE-ID", zoned, dayTime(second, hour, minute)) +
              timed("DTSTART", zoned, dayTime(second, hour + 1, minute)) +
              timed("DTEND", zoned, dayTime(second, hour + 2, minute)) + "SUMMARY:Moved " +
              word(static_cast<int>(i)) + "\nEND:VEVENT\n";
    }
    TempHome::write(folder / ("series" + n + ".ics"), ics(body));
  }
  std::string config = "[calendars]\n";
  for (int c = 0; c < kCollections; ++c)
    config += "[[cal" + std::to_string(c) + "]]\npath = " + calendars[static_cast<size_t>(c)].string() + "\n";
  config += "[locale]\ntimeformat = %H:%M\ndateformat = %Y-%m-%d\nlongdateformat = %Y-%m-%d\n"
            "datetimeformat = %Y-%m-%d %H:%M\nlongdatetimeformat = %Y-%m-%d %H:%M\nlocal_timezone = Europe/Berlin\n"
            "default_timezone = Europe/Berlin\n[sqlite]\npath = " + (home.home() / "khal.db").string() + "\n";
  TempHome::write(home.home() / "khal.conf", config);
}

void writeReminderStore(const TempHome& home, long items) {
  std::vector<std::filesystem::path> lists;
  for (int l = 0; l < kCollections; ++l)
    lists.push_back(home.collection("reminders", "local", "list" + std::to_string(l), "List " + std::to_string(l)));
  const long openEvery = std::max(1L, items / kOpenReminders);
  for (long i = 0; i < items; ++i) {
    const std::string n = std::to_string(i);
    const bool open = i % openEvery == 0;
    std::string dates;
    if (open) {
      // Open reminders are due over the 200 days from 2025-01-01; every third has no due date.
      const std::chrono::sys_days due = std::chrono::sys_days(std::chrono::year{2025} / 1 / 1) + std::chrono::days(i / openEvery);
      if (i / openEvery % 3 == 1) dates = "DUE;VALUE=DATE:" + compactDay(due) + "\n";
      if (i / openEvery % 3 == 2) dates = "DUE:" + dayTime(due, 9 + static_cast<int>(i % 8), 0) + "Z\n";
      dates += "STATUS:NEEDS-ACTION\n";
    } else {
      // Completed ones are spread over the years before, ten a day, each the day it was due.
      const std::chrono::sys_days day = kFirstDay + std::chrono::days(i / kEventsPerDay);
      dates = (i % 2 ? "DUE;VALUE=DATE:" + compactDay(day) + "\n" : "DUE:" + dayTime(day, 9 + static_cast<int>(i % 8), 0) + "Z\n") +
              "STATUS:COMPLETED\nCOMPLETED:" + dayTime(day, 18, static_cast<int>(i % 60)) + "Z\n";
    }
    TempHome::write(lists[static_cast<size_t>(i % kCollections)] / ("todo" + n + ".ics"),
                    ics("BEGIN:VTODO\nUID:todo-" + n + "@scale\nDTSTAMP:20250101T000000Z\nSUMMARY:" +
                        word(static_cast<int>(i)) + " " + n + "\n" + dates + "PRIORITY:" + std::to_string(i % 10) +
                        "\nDESCRIPTION:Details of reminder " + n + "\nEND:VTODO\n"));
  }
  TempHome::write(home.home() / "todoman.py",
                  "path = \"" + (home.dataRoot() / "reminders/local/*").string() + "\"\n"
                  "date_format = \"%Y-%m-%d\"\ntime_format = \"%H:%M\"\ndefault_list = \"list0\"\n"
                  "cache_path = \"" + (home.home() / "todoman.sqlite").string() + "\"\n");
}

std::string request(int id, const std::string& method, json params) {
  return json{{"id", id}, {"method", method}, {"params", std::move(params)}}.dump();
}

json parseReply(const std::string& reply, const std::string& what) {
  json parsed = json::parse(reply, nullptr, false);
  if (!parsed.is_object() || parsed.value("ok", false) != true)
    throw std::runtime_error(what + " failed: " + reply.substr(0, 300));
  return parsed["result"];
}

// Seconds from the start of a fresh helper to its answer to one request.
double coldSeconds(const TempHome& home, const std::string& line, const std::string& what) {
  InteractiveProcess helper({helperPath}, home.env());
  parseReply(helper.request(line), what);
  double seconds = helper.secondsSinceStart();
  helper.finish();
  return seconds;
}

// A peer run warm: once to build its cache, then the median of three runs. The cache may
// take a few minutes to build; a run that is measured must end within a minute.
struct PeerFigure {
  std::optional<double> seconds;
  std::string note;
  std::optional<double> firstSeconds;  // the run that built the cache
};

PeerFigure measurePeer(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                       std::optional<double> expectedFirst) {
  if (expectedFirst && *expectedFirst > kPeerCacheSeconds) {
    if (std::isinf(*expectedFirst)) return {std::nullopt, "skipped as at the smaller store", std::nullopt};
    char note[96];
    std::snprintf(note, sizeof note, "skipped: its cache would take about %.0f s", *expectedFirst);
    return {std::nullopt, note, std::nullopt};
  }
  ProcessRun first = runProcess(argv, "", env, kPeerCacheSeconds);
  if (first.timedOut) return {std::nullopt, "skipped: building its cache took over " + std::to_string(int(kPeerCacheSeconds)) + " s", std::nullopt};
  if (first.exitStatus != 0) return {std::nullopt, "failed with exit status " + std::to_string(first.exitStatus), std::nullopt};
  std::vector<double> runs;
  for (int i = 0; i < 3; ++i) {
    ProcessRun run = runProcess(argv, "", env, kPeerTimeoutSeconds);
    if (run.timedOut) return {std::nullopt, "skipped: a warm run took over a minute", std::nullopt};
    runs.push_back(run.seconds);
  }
  char note[64];
  std::snprintf(note, sizeof note, "first run %.1f s", first.seconds);
  return {median(runs), note, first.seconds};
}

// One row of figures by name; seconds unless the name says otherwise.
using Figures = std::map<std::string, double>;

struct SizeResult {
  long size = 0;
  Figures figures;
  std::string peerNote;
  std::optional<double> peerFirst;
};

template <typename F>
double medianOf(int rounds, F&& f) {
  std::vector<double> values;
  for (int r = 0; r < rounds; ++r) values.push_back(f(r));
  return median(values);
}

SizeResult measureEvents(long size, const Options& options, std::optional<double> expectedPeer) {
  TempHome home;
  writeEventStore(home, size);
  const std::chrono::sys_days first = windowStart(size);
  const json window = {{"start", isoDay(first)}, {"end", isoDay(first + std::chrono::days(13))}, {"limit", 500}};
  const std::string list = request(1, "calendar.events.list", window);

  SizeResult result{size, {}, "", std::nullopt};
  InteractiveProcess helper({helperPath}, home.env());
  json listed = parseReply(helper.request(list), "calendar.events.list");
  std::vector<std::string> occurrences;
  for (const json& row : listed["events"])
    if (row.value("recurring", false)) occurrences.push_back(row["event_id"]);
  if (occurrences.size() < static_cast<size_t>(2 * options.rounds + 1))
    throw std::runtime_error("the 14-day window holds too few occurrences of series");
  result.figures["window events"] = static_cast<double>(listed["events"].size());

  result.figures["warm list"] = medianOf(options.rounds, [&](int) {
    return timeIt([&] { parseReply(helper.request(list), "calendar.events.list"); });
  });
  const std::string get = request(2, "calendar.events.get", {{"event_id", occurrences.back()}});
  result.figures["warm get"] = medianOf(options.rounds, [&](int) {
    return timeIt([&] { parseReply(helper.request(get), "calendar.events.get"); });
  });
  result.figures["warm create"] = medianOf(options.rounds, [&](int r) {
    std::string create = request(3, "calendar.events.create",
                                 {{"title", "Scale " + std::to_string(r)}, {"calendar", "Calendar 1"},
                                  {"start", isoDay(first + std::chrono::days(r)) + "T07:00"}});
    return timeIt([&] { parseReply(helper.request(create), "calendar.events.create"); });
  });
  // Each round changes another occurrence, so that every round detaches one.
  auto update = [&](int r) {
    return request(4, "calendar.events.update",
                   {{"event_id", occurrences[static_cast<size_t>(r)]}, {"span", "this"}, {"title", "Changed " + std::to_string(r)}});
  };
  result.figures["warm update"] = medianOf(options.rounds, [&](int r) {
    std::string line = update(r);
    return timeIt([&] { parseReply(helper.request(line), "calendar.events.update"); });
  });
  result.figures["peak RSS MiB"] = static_cast<double>(helper.finish()) / 1024.0;

  result.figures["cold list"] = medianOf(options.rounds, [&](int) { return coldSeconds(home, list, "calendar.events.list"); });
  result.figures["cold update"] = medianOf(options.rounds, [&](int r) {
    return coldSeconds(home, update(options.rounds + r), "calendar.events.update");
  });

  if (options.peers) {
    std::filesystem::remove(home.home() / "khal.db");
    PeerFigure khal = measurePeer({"khal", "-c", (home.home() / "khal.conf").string(), "list", isoDay(first), "14d"},
                                  {}, expectedPeer);
    if (khal.seconds) result.figures["peer"] = *khal.seconds;
    result.peerFirst = khal.firstSeconds;
    result.peerNote = khal.note;
  }
  return result;
}

SizeResult measureReminders(long size, const Options& options, std::optional<double> expectedPeer) {
  TempHome home;
  writeReminderStore(home, size);
  const std::string list = request(1, "reminders.items.list", json::object());
  SizeResult result{size, {}, "", std::nullopt};
  InteractiveProcess helper({helperPath}, home.env());
  parseReply(helper.request(list), "reminders.items.list");
  result.figures["warm list"] = medianOf(options.rounds, [&](int) {
    return timeIt([&] { parseReply(helper.request(list), "reminders.items.list"); });
  });
  result.figures["peak RSS MiB"] = static_cast<double>(helper.finish()) / 1024.0;
  if (options.peers) {
    std::filesystem::remove(home.home() / "todoman.sqlite");
    PeerFigure todo = measurePeer({"todoman", "--config", (home.home() / "todoman.py").string(), "list"},
                                  {"HOME=" + home.home().string()}, expectedPeer);
    if (todo.seconds) result.figures["peer"] = *todo.seconds;
    result.peerFirst = todo.firstSeconds;
    result.peerNote = todo.note;
  }
  return result;
}

// A field of /proc/<pid>/status, such as "Threads" or "VmHWM" (in kB); 0 once the process is gone.
long statusField(pid_t pid, const std::string& name) {
  FILE* status = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
  if (!status) return 0;
  long value = 0;
  char line[256];
  const std::string prefix = name + ":";
  while (std::fgets(line, sizeof line, status))
    if (std::string_view(line).starts_with(prefix)) { value = std::atol(line + prefix.size()); break; }
  std::fclose(status);
  return value;
}

struct BurstFigures {
  double oneListMiB = 0;
  double burstMiB = 0;
  long peakThreads = 0;
  long threadsBefore = 0;
  double seconds = 0;
  double warmList = 0;
};

// A warm helper answers one 14-day list, then a burst of lists written at once, while this
// process samples its thread count and memory.
BurstFigures measureBurst(long size, int count) {
  TempHome home;
  writeEventStore(home, size);
  const std::chrono::sys_days first = windowStart(size);
  const std::string list = request(1, "calendar.events.list",
                                   {{"start", isoDay(first)}, {"end", isoDay(first + std::chrono::days(13))}, {"limit", 500}});
  Child child = spawnChild({helperPath}, home.env());
  BurstFigures figures;
  std::string text = list + "\n", buffered;
  auto readReplies = [&](int wanted) {
    int replies = 0;
    char buffer[65536];
    while (replies < wanted) {
      pollfd fd{child.out, POLLIN, 0};
      poll(&fd, 1, 1);
      figures.peakThreads = std::max(figures.peakThreads, statusField(child.pid, "Threads"));
      if (!(fd.revents & (POLLIN | POLLHUP))) continue;
      ssize_t n = read(child.out, buffer, sizeof buffer);
      if (n <= 0) throw std::runtime_error("the helper ended during the burst");
      buffered.append(buffer, static_cast<size_t>(n));
      for (size_t end; (end = buffered.find('\n')) != std::string::npos; buffered.erase(0, end + 1)) {
        parseReply(buffered.substr(0, end), "calendar.events.list");
        ++replies;
      }
    }
  };
  auto send = [&](const std::string& lines) {
    for (size_t written = 0; written < lines.size();) {
      ssize_t n = write(child.in, lines.data() + written, lines.size() - written);
      if (n <= 0) throw std::runtime_error("the helper closed its input");
      written += static_cast<size_t>(n);
    }
  };
  send(text);
  readReplies(1);
  figures.warmList = timeIt([&] { send(text); readReplies(1); });
  figures.oneListMiB = static_cast<double>(statusField(child.pid, "VmHWM")) / 1024.0;
  figures.threadsBefore = statusField(child.pid, "Threads");
  figures.peakThreads = 0;
  std::string burst;
  for (int i = 0; i < count; ++i) burst += text;
  // The writes go from another thread, so that replies are read while requests still arrive.
  figures.seconds = timeIt([&] {
    std::thread writer([&] { send(burst); });
    readReplies(count);
    writer.join();
  });
  figures.burstMiB = static_cast<double>(statusField(child.pid, "VmHWM")) / 1024.0;
  close(child.in);
  close(child.out);
  int status = 0;
  waitpid(child.pid, &status, 0);
  return figures;
}

std::string cell(const Figures& figures, const std::string& name, bool milliseconds) {
  auto found = figures.find(name);
  if (found == figures.end()) return "-";
  char text[32];
  if (milliseconds) std::snprintf(text, sizeof text, "%.2f", found->second * 1000);
  else std::snprintf(text, sizeof text, "%.1f", found->second);
  return text;
}

struct Column {
  std::string figure;
  std::string heading;
  bool milliseconds;
};

void printTable(const std::string& title, const std::vector<SizeResult>& results, const std::vector<Column>& columns,
                const std::string& peerName) {
  std::printf("\n%s (ms unless named; medians)\n", title.c_str());
  std::printf("%9s", "items");
  for (const Column& c : columns) std::printf(" %13s", c.heading.c_str());
  std::printf(" %13s %13s\n", (peerName + " ms").c_str(), (peerName + "/helper").c_str());
  for (const SizeResult& r : results) {
    std::printf("%9ld", r.size);
    for (const Column& c : columns) std::printf(" %13s", cell(r.figures, c.figure, c.milliseconds).c_str());
    auto peer = r.figures.find("peer");
    if (peer != r.figures.end()) {
      std::printf(" %13.0f %13.1f  %s\n", peer->second * 1000, peer->second / r.figures.at("warm list"),
                  r.peerNote.c_str());
    } else {
      std::printf(" %13s %13s  %s\n", "-", "-", r.peerNote.c_str());
    }
  }
  if (results.size() < 2) return;
  // The growth exponent: 0 when a figure stays flat as the store grows, 1 when it grows in
  // proportion to the store.
  std::printf("growth exponent log(t2/t1)/log(n2/n1)\n");
  for (size_t i = 1; i < results.size(); ++i) {
    const SizeResult& a = results[i - 1];
    const SizeResult& b = results[i];
    std::printf("%9s", (std::to_string(a.size / 1000) + "k>" + std::to_string(b.size / 1000) + "k").c_str());
    for (const Column& c : columns) {
      auto x = a.figures.find(c.figure), y = b.figures.find(c.figure);
      if (x == a.figures.end() || y == b.figures.end() || x->second <= 0 || y->second <= 0) {
        std::printf(" %13s", "-");
        continue;
      }
      std::printf(" %13.2f", std::log(y->second / x->second) / std::log(static_cast<double>(b.size) / static_cast<double>(a.size)));
    }
    std::printf("\n");
  }
}

// The time a peer's first run is expected to take at `size`, from the last size measured;
// infinite when it was skipped there.
std::optional<double> expectedPeer(const std::vector<SizeResult>& done, long size) {
  if (done.empty()) return std::nullopt;
  if (!done.back().peerFirst) return std::numeric_limits<double>::infinity();
  return *done.back().peerFirst * static_cast<double>(size) / static_cast<double>(done.back().size);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Options options = parseOptions(argc, argv);
    auto started = std::chrono::steady_clock::now();
    std::vector<SizeResult> events, reminders;
    for (long size : options.events) {
      std::fprintf(stderr, "events: %ld items\n", size);
      events.push_back(measureEvents(size, options, expectedPeer(events, size)));
    }
    for (long size : options.reminders) {
      std::fprintf(stderr, "reminders: %ld items\n", size);
      reminders.push_back(measureReminders(size, options, expectedPeer(reminders, size)));
    }
    std::optional<BurstFigures> burst;
    if (options.pipelinedSize > 0) {
      std::fprintf(stderr, "pipelined: %d lists on %ld events\n", options.pipelined, options.pipelinedSize);
      burst = measureBurst(options.pipelinedSize, options.pipelined);
    }

    if (!events.empty()) {
      std::printf("events: %d a day, 1 in 20 a series, 14-day window from the middle of the span; %.0f events in it at %ld\n",
                  kEventsPerDay, events.front().figures["window events"], events.front().size);
      printTable("events", events,
                 {{"warm list", "list", true}, {"warm get", "get", true}, {"warm create", "create", true},
                  {"warm update", "update this", true}, {"cold list", "cold list", true},
                  {"cold update", "cold update", true}, {"peak RSS MiB", "RSS MiB", false}},
                 "khal");
    }
    if (!reminders.empty()) {
      std::printf("\nreminders: %d open, the rest completed over the years\n", kOpenReminders);
      printTable("reminders", reminders, {{"warm list", "default list", true}, {"peak RSS MiB", "RSS MiB", false}},
                 "todoman");
    }
    if (burst) {
      std::printf("\n%d pipelined 14-day lists on %ld events (one warm list %.2f ms)\n", options.pipelined,
                  options.pipelinedSize, burst->warmList * 1000);
      std::printf("  threads: %ld before, peak %ld during\n", burst->threadsBefore, burst->peakThreads);
      std::printf("  peak RSS: %.1f MiB after one list, %.1f MiB after the burst (x%.2f)\n", burst->oneListMiB,
                  burst->burstMiB, burst->burstMiB / burst->oneListMiB);
      std::printf("  all answered in %.0f ms\n", burst->seconds * 1000);
    }
    std::printf("\nwhole run: %.0f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "scale_bench: %s\n", error.what());
    return 1;
  }
}

// Events: 10,000 one-off events and 500 repeating series (daily, weekly, monthly; some in a
// named zone, some with changed occurrences) in 4 calendars. The helper answers a 14-day
// list, a one-year list with a query and a get by occurrence id, cold (first request of a
// fresh process) and warm; khal lists the same 14 days on the same folders in the same run.

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "BenchProcess.h"
#include "StoreFixture.h"

using namespace wren::bench;

namespace {

void writeStore(const TempHome& home) {
  std::vector<std::filesystem::path> calendars;
  for (int c = 0; c < 4; ++c)
    calendars.push_back(home.collection("calendars", "local", "cal" + std::to_string(c), "Calendar " + std::to_string(c)));
  for (int i = 0; i < 10000; ++i) {
    int day = i % 730;  // two years from 2025-01-01
    int month = 1 + (day / 28) % 12, year = 2025 + day / 365, dayOfMonth = 1 + day % 28;
    std::string start = stamp(year, month, dayOfMonth, 8 + i % 10, (i % 4) * 15);
    std::string end = stamp(year, month, dayOfMonth, 9 + i % 10, (i % 4) * 15);
    TempHome::write(calendars[i % 4] / ("one" + std::to_string(i) + ".ics"),
                    ics("BEGIN:VEVENT\nUID:one-" + std::to_string(i) + "@bench\nDTSTAMP:20250101T000000Z\nDTSTART:" + start +
                        "Z\nDTEND:" + end + "Z\nSUMMARY:" + word(i) + " " + std::to_string(i) +
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
    TempHome::write(calendars[i % 4] / ("series" + std::to_string(i) + ".ics"), ics(body));
  }
}

void writeKhalConfig(const TempHome& home) {
  std::string config = "[calendars]\n";
  for (int c = 0; c < 4; ++c)
    config += "[[cal" + std::to_string(c) + "]]\npath = " + (home.dataRoot() / "calendars/local" / ("cal" + std::to_string(c))).string() + "\n";
  config += "[locale]\ntimeformat = %H:%M\ndateformat = %Y-%m-%d\nlongdateformat = %Y-%m-%d\n"
            "datetimeformat = %Y-%m-%d %H:%M\nlongdatetimeformat = %Y-%m-%d %H:%M\nlocal_timezone = Europe/Berlin\n"
            "default_timezone = Europe/Berlin\n[sqlite]\npath = " + (home.home() / "khal.db").string() + "\n";
  TempHome::write(home.home() / "khal.conf", config);
}

HelperFigures measure(const TempHome& home, const std::string& request, int warmRounds) {
  return measureHelper(WREN_HELPER_PATH, home.env(), request, warmRounds);
}

}  // namespace

int main(int argc, char** argv) {
  TempHome home(argc > 1 ? argv[1] : nullptr);
  writeStore(home);
  writeKhalConfig(home);
  if (home.kept()) return 0;

  const std::string list14 = R"({"id":1,"method":"calendar.events.list","params":{"start":"2025-03-03","end":"2025-03-16","limit":500}})";
  const std::string listYear = R"({"id":2,"method":"calendar.events.list","params":{"start":"2025-01-01","end":"2025-12-31","query":"review"}})";
  HelperFigures fortnight = measure(home, list14, 50);
  HelperFigures year = measure(home, listYear, 10);

  auto listed = nlohmann::json::parse(fortnight.firstReply);
  if (listed.value("ok", false) != true) {
    std::fprintf(stderr, "calendar.events.list failed: %s\n", fortnight.firstReply.substr(0, 300).c_str());
    return 1;
  }
  std::string occurrenceId;
  for (const auto& row : listed["result"]["events"])
    if (row.value("recurring", false)) { occurrenceId = row["event_id"]; break; }
  std::string get = nlohmann::json{{"id", 3}, {"method", "calendar.events.get"}, {"params", {{"event_id", occurrenceId}}}}.dump();
  HelperFigures byId = measure(home, get, 50);

  std::vector<std::string> khal = {"khal", "-c", (home.home() / "khal.conf").string(), "list", "2025-03-03", "14d"};
  std::filesystem::remove(home.home() / "khal.db");
  ProcessRun khalCold = runProcess(khal, "");
  std::vector<double> khalWarmRuns;
  for (int i = 0; i < 3; ++i) khalWarmRuns.push_back(runProcess(khal, "").seconds);
  double khalWarm = median(khalWarmRuns);

  std::printf("store: 10000 one-off events, 500 series, 4 calendars; 14-day list gives %zu events\n",
              listed["result"]["events"].size());
  std::printf("14-day list: cold %.1f ms, warm %.2f ms\n", fortnight.cold * 1000, fortnight.warm * 1000);
  std::printf("1-year list with query: cold %.1f ms, warm %.2f ms\n", year.cold * 1000, year.warm * 1000);
  std::printf("get by occurrence id: cold %.1f ms, warm %.2f ms\n", byId.cold * 1000, byId.warm * 1000);
  std::printf("khal list 14 days: cold %.0f ms, warm %.0f ms (%zu lines)\n", khalCold.seconds * 1000, khalWarm * 1000,
              lineCount(khalCold.out));
  std::printf("ratio warm khal/helper: %.1f (target >= 20)\n", khalWarm / fortnight.warm);
  std::printf("ratio cold khal/helper: %.1f (target >= 5)\n", khalCold.seconds / fortnight.cold);
  long rss = std::max({fortnight.rssKiB, year.rssKiB, byId.rssKiB});
  std::printf("helper peak RSS: %.1f MiB (target < 64)\n", rss / 1024.0);
  return 0;
}

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
  const std::vector<std::string> files = eventStoreFiles();
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string name = i < 10000 ? "one" + std::to_string(i) : "series" + std::to_string(i - 10000);
    TempHome::write(calendars[i % 10000 % 4] / (name + ".ics"), files[i]);
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

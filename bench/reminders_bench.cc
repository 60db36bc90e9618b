// Reminders: 5,000 reminders in 10 lists (due days, due times, none; some completed).
// The helper lists them with default params, with status all and a query, and with due
// bounds, cold and warm; todoman lists the same folders in the same run, cold and warm.

#include <algorithm>
#include <cstdio>
#include <vector>

#include "BenchProcess.h"
#include "StoreFixture.h"

using namespace wren::bench;

namespace {

void writeStore(const TempHome& home) {
  std::vector<std::filesystem::path> lists;
  for (int l = 0; l < 10; ++l)
    lists.push_back(home.collection("reminders", "local", "list" + std::to_string(l), "List " + std::to_string(l)));
  for (int i = 0; i < 5000; ++i) {
    int month = 1 + i % 12, day = 1 + i % 28;
    std::string due = i % 3 == 0 ? "" : i % 3 == 1 ? "DUE;VALUE=DATE:" + stamp(2025, month, day, 0, 0).substr(0, 8) + "\n"
                                                   : "DUE:" + stamp(2025, month, day, 9 + i % 8, 0) + "Z\n";
    std::string status = i % 4 == 0 ? "STATUS:COMPLETED\nCOMPLETED:" + stamp(2025, month, day, 12, 0) + "Z\n"
                                    : "STATUS:NEEDS-ACTION\n";
    TempHome::write(lists[i % 10] / ("todo" + std::to_string(i) + ".ics"),
                    ics("BEGIN:VTODO\nUID:todo-" + std::to_string(i) + "@bench\nDTSTAMP:20250101T000000Z\nSUMMARY:" +
                        word(i) + " " + std::to_string(i) + "\n" + due + status + "PRIORITY:" + std::to_string(i % 10) +
                        "\nDESCRIPTION:Details of reminder " + std::to_string(i) + "\nEND:VTODO\n"));
  }
  TempHome::write(home.home() / "todoman.py",
                  "path = \"" + (home.dataRoot() / "reminders/local/*").string() + "\"\n"
                  "date_format = \"%Y-%m-%d\"\ntime_format = \"%H:%M\"\ndefault_list = \"list0\"\n"
                  "cache_path = \"" + (home.home() / "todoman.sqlite").string() + "\"\n");
}

HelperFigures measure(const TempHome& home, const std::string& request) {
  return measureHelper(WREN_HELPER_PATH, home.env(), request, 50);
}

}  // namespace

int main(int argc, char** argv) {
  TempHome home(argc > 1 ? argv[1] : nullptr);
  writeStore(home);
  if (home.kept()) return 0;
  HelperFigures plain = measure(home, R"({"id":1,"method":"reminders.items.list"})");
  HelperFigures query = measure(home, R"({"id":2,"method":"reminders.items.list","params":{"status":"all","query":"café"}})");
  HelperFigures due = measure(home, R"({"id":3,"method":"reminders.items.list","params":{"due_after":"2025-03-01","due_before":"2025-03-31"}})");
  if (plain.firstReply.find("\"ok\":true") == std::string::npos) {
    std::fprintf(stderr, "reminders.items.list failed: %s\n", plain.firstReply.substr(0, 300).c_str());
    return 1;
  }

  std::vector<std::string> todo = {"todoman", "--config", (home.home() / "todoman.py").string(), "list"};
  std::filesystem::remove(home.home() / "todoman.sqlite");
  ProcessRun todoCold = runProcess(todo, "", {"HOME=" + home.home().string()});
  std::vector<double> todoWarmRuns;
  for (int i = 0; i < 3; ++i) todoWarmRuns.push_back(runProcess(todo, "", {"HOME=" + home.home().string()}).seconds);
  double todoWarm = median(todoWarmRuns);

  std::printf("store: 5000 reminders in 10 lists\n");
  std::printf("default list: cold %.1f ms, warm %.2f ms\n", plain.cold * 1000, plain.warm * 1000);
  std::printf("status all + query: cold %.1f ms, warm %.2f ms\n", query.cold * 1000, query.warm * 1000);
  std::printf("due bounds: cold %.1f ms, warm %.2f ms\n", due.cold * 1000, due.warm * 1000);
  std::printf("todoman list: cold %.0f ms, warm %.0f ms (%zu lines)\n", todoCold.seconds * 1000, todoWarm * 1000,
              lineCount(todoCold.out));
  std::printf("ratio warm todoman/helper: %.1f (target >= 20)\n", todoWarm / plain.warm);
  std::printf("ratio cold todoman/helper: %.1f (target >= 5)\n", todoCold.seconds / plain.cold);
  std::printf("helper peak RSS: %.1f MiB\n", std::max({plain.rssKiB, query.rssKiB, due.rssKiB}) / 1024.0);
  return 0;
}

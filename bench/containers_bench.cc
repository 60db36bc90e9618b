// Containers: 20 sources with 200 calendars of 50 items each; calendar.calendars.list and
// calendar.sources answered 1,000 times each by one helper process.

#include <cstdio>

#include "BenchProcess.h"
#include "StoreFixture.h"

using namespace wren::bench;

int main(int argc, char** argv) {
  TempHome home(argc > 1 ? argv[1] : nullptr);
  for (int s = 0; s < 20; ++s) {
    std::string source = "source" + std::to_string(s);
    TempHome::write(home.dataRoot() / "calendars" / source / "source.json",
                    "{\"title\":\"Account " + std::to_string(s) + "\",\"type\":\"caldav\"}");
    for (int c = 0; c < 10; ++c) {
      auto folder = home.collection("calendars", source, "cal" + std::to_string(c), std::string(word(c)) + " " + std::to_string(s));
      for (int i = 0; i < 50; ++i)
        TempHome::write(folder / ("e" + std::to_string(i) + ".ics"),
                        ics("BEGIN:VEVENT\nUID:s" + std::to_string(s) + "c" + std::to_string(c) + "e" + std::to_string(i) +
                            "\nDTSTAMP:20250101T000000Z\nDTSTART:" + stamp(2025, 1 + i % 12, 1 + i % 28, 9, 0) +
                            "Z\nDTEND:" + stamp(2025, 1 + i % 12, 1 + i % 28, 10, 0) + "Z\nSUMMARY:" + word(i) + "\nEND:VEVENT\n"));
    }
  }

  if (home.kept()) return 0;
  InteractiveProcess helper({WREN_HELPER_PATH}, home.env());
  helper.request(R"({"id":0,"method":"calendar.calendars.list"})");
  constexpr int kRounds = 1000;
  double listSeconds = timeIt([&] {
    for (int i = 1; i <= kRounds; ++i) helper.request("{\"id\":" + std::to_string(i) + ",\"method\":\"calendar.calendars.list\"}");
  });
  double sourcesSeconds = timeIt([&] {
    for (int i = 1; i <= kRounds; ++i) helper.request("{\"id\":" + std::to_string(i) + ",\"method\":\"calendar.sources\"}");
  });
  std::string check = helper.request(R"({"id":-1,"method":"calendar.calendars.list"})");
  long rss = helper.finish();
  if (check.find("\"ok\":true") == std::string::npos) {
    std::fprintf(stderr, "calendar.calendars.list failed: %s\n", check.substr(0, 300).c_str());
    return 1;
  }
  std::printf("store: 20 sources, 200 calendars, 10000 items\n");
  std::printf("calendar.calendars.list: %.0f requests/s, %.3f ms per request\n", kRounds / listSeconds, listSeconds / kRounds * 1000);
  std::printf("calendar.sources: %.0f requests/s, %.3f ms per request\n", kRounds / sourcesSeconds, sourcesSeconds / kRounds * 1000);
  std::printf("helper peak RSS: %.1f MiB\n", rss / 1024.0);
  return 0;
}

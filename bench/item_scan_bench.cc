// The cold read of an event store file by file: the scan that decides a file's span from a
// few lines (ItemScan.h) against the full parse with libical and its extent, side by side on
// the files events_bench writes (10,000 one-off events, 500 daily, weekly and monthly series,
// some in a named zone, some with a changed occurrence), in one run, as a ratio.

#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "StoreFixture.h"
#include "platform/vdir/EventCodec.h"
#include "platform/vdir/ItemScan.h"

using namespace wren::bench;
using namespace wren::platform::vdir;

namespace {

std::vector<std::string> storeFiles() {
  std::vector<std::string> files;
  for (int i = 0; i < 10000; ++i) {
    int day = i % 730;
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
    std::string tzid = zoned ? ";TZID=America/New_York:" : ":";
    std::string z = zoned ? "" : "Z";
    std::string uid = "series-" + std::to_string(i) + "@bench";
    std::string body = "BEGIN:VEVENT\nUID:" + uid + "\nDTSTAMP:20250101T000000Z\nDTSTART" + tzid + start + z +
                       "\nDTEND" + tzid + end + z + "\nRRULE:" + rule + "\nSUMMARY:" + word(i) + " series " +
                       std::to_string(i) + "\nEND:VEVENT\n";
    if (i % 10 == 0) {
      body += "BEGIN:VEVENT\nUID:" + uid + "\nDTSTAMP:20250101T000000Z\nRECURRENCE-ID" + tzid + start + z +
              "\nDTSTART" + tzid + stamp(2025, 1 + i % 3, 1 + i % 28, 8 + i % 12, 0) + z + "\nDTEND" + tzid +
              stamp(2025, 1 + i % 3, 1 + i % 28, 9 + i % 12, 0) + z + "\nSUMMARY:Moved " + word(i) + "\nEND:VEVENT\n";
    }
    files.push_back(ics(body));
  }
  return files;
}

template <typename Read>
double secondsFor(const std::vector<std::string>& files, Read&& read) {
  const auto began = std::chrono::steady_clock::now();
  for (const std::string& file : files) read(file);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
}

}  // namespace

int main() {
  setenv("TZ", "Europe/Berlin", 1);
  const std::vector<std::string> files = storeFiles();
  std::size_t decided = 0, parsed = 0;
  // A first round of each warms the zone caches and the allocator; the second is measured.
  for (int round = 0; round < 2; ++round) {
    decided = parsed = 0;
    const double scan = secondsFor(files, [&](const std::string& file) {
      if (scanEventExtent(file)) ++decided;
    });
    const double parse = secondsFor(files, [&](const std::string& file) {
      if (auto file_ = parseEventFile(file)) {
        eventExtent(*file_);
        ++parsed;
      }
    });
    if (round == 0) continue;
    std::printf("files: %zu; decided by the scan: %zu; parsed: %zu\n", files.size(), decided, parsed);
    std::printf("scan: %.1f ms (%.2f us per file); parse and extent: %.1f ms (%.2f us per file)\n", scan * 1000,
                scan * 1e6 / files.size(), parse * 1000, parse * 1e6 / files.size());
    std::printf("ratio parse/scan: %.1f\n", parse / scan);
  }
  return decided == files.size() ? 0 : 1;
}

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

template <typename Read>
double secondsFor(const std::vector<std::string>& files, Read&& read) {
  const auto began = std::chrono::steady_clock::now();
  for (const std::string& file : files) read(file);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
}

}  // namespace

int main() {
  setenv("TZ", "Europe/Berlin", 1);
  const std::vector<std::string> files = eventStoreFiles();
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

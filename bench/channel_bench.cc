// Throughput of the request channel: 200,000 requests for an unknown method through the
// helper, and the same lines through jq producing the equivalent error reply, in one run.
// Also the helper's peak resident memory and its time from start to first reply.

#include <cstdio>
#include <string>

#include "BenchProcess.h"

using wren::bench::lineCount;
using wren::bench::runProcess;

int main() {
  constexpr int kRequests = 200000;
  std::string input;
  for (int i = 0; i < kRequests; ++i)
    input += "{\"id\":" + std::to_string(i) + ",\"method\":\"bench.nothing\",\"params\":{\"query\":\"lunch\",\"limit\":10}}\n";

  std::vector<std::string> env = {"HOME=/nonexistent-wren-bench", "XDG_DATA_HOME=/nonexistent-wren-bench"};
  auto helper = runProcess({WREN_HELPER_PATH}, input, env);
  const char* jqProgram =
      "{id: .id, ok: false, error: {code: \"unknown_action\", message: (\"wren-mac-helper has no method \" + .method)}}";
  auto jq = runProcess({"jq", "-c", jqProgram}, input);

  double firstReply = 1e9;
  for (int i = 0; i < 5; ++i) {
    auto single = runProcess({WREN_HELPER_PATH}, "{\"id\":1,\"method\":\"bench.nothing\"}\n", env);
    if (single.firstOutputSeconds >= 0 && single.firstOutputSeconds < firstReply) firstReply = single.firstOutputSeconds;
  }

  if (lineCount(helper.out) != kRequests || lineCount(jq.out) != kRequests) {
    std::fprintf(stderr, "expected %d replies, got %zu from the helper and %zu from jq\n", kRequests,
                 lineCount(helper.out), lineCount(jq.out));
    return 1;
  }
  double helperRate = kRequests / helper.seconds;
  double jqRate = kRequests / jq.seconds;
  std::printf("requests: %d\n", kRequests);
  std::printf("helper: %.0f requests/s (%.3f s)\n", helperRate, helper.seconds);
  std::printf("jq -c: %.0f requests/s (%.3f s)\n", jqRate, jq.seconds);
  std::printf("ratio helper/jq: %.2f (target >= 1.5)\n", helperRate / jqRate);
  std::printf("helper peak RSS: %.1f MiB (target < 16)\n", helper.peakRssKiB / 1024.0);
  std::printf("helper first reply: %.1f ms after start, best of 5 (target <= 20)\n", firstReply * 1000);
  return 0;
}

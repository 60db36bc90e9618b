#include "app/RequestLoop.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>

#include "app/HelperError.h"
#include "platform/OneShot.h"
#include "support/MainQueueThread.h"
#include "support/Timing.h"

namespace wren {
namespace {

using namespace std::chrono_literals;
using testing::eventually;
using testing::scaledBound;

TEST(ParseRequestLine, AcceptsWholeIdsAndStringMethods) {
  struct Case {
    const char* line;
    std::optional<int64_t> id;
  } cases[] = {
      {R"({"id":1,"method":"x.y"})", 1},
      {R"({"id":4.0,"method":"x.y"})", 4},
      {R"({"id":-3,"method":"x.y","extra":[1]})", -3},
      {R"({"id":"1","method":"x.y"})", std::nullopt},
      {R"({"id":2.5,"method":"x.y"})", std::nullopt},
      {R"({"id":1e300,"method":"x.y"})", std::nullopt},
      {R"({"id":1e400,"method":"x.y"})", std::nullopt},
      {R"({"id":18446744073709551615,"method":"x.y"})", std::nullopt},
      {R"({"method":"x.y"})", std::nullopt},
      {R"({"id":1})", std::nullopt},
      {R"({"id":1,"method":5})", std::nullopt},
      {R"([{"id":1,"method":"x.y"}])", std::nullopt},
      {"5", std::nullopt},
      {"\"text\"", std::nullopt},
      {"   ", std::nullopt},
      {"not json", std::nullopt},
      {R"({"id":1,"method":"x\ud800y"})", std::nullopt},
  };
  // With a NUL byte after the object: the parser alone would stop reading at it.
  EXPECT_FALSE(parseRequestLine(std::string("{\"id\":1,\"method\":\"m\"}\0]", 24)));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::optional<Request> request = parseRequestLine(c.line);
    EXPECT_EQ(request.has_value(), c.id.has_value());
    if (request && c.id) { EXPECT_EQ(request->id, *c.id); }
  }
}

// An id is the number its text stands for, never the double nearest to it: a text that
// only rounds to a whole number in range makes the line unreadable.
TEST(ParseRequestLine, IdsAreJudgedOnTheirText) {
  struct Case {
    const char* id;
    std::optional<int64_t> read;
  } cases[] = {
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"9223372036854775807.0", INT64_MAX},
      {"-9223372036854775808.0", INT64_MIN},
      {"9007199254740993.0", 9007199254740993},
      {"9007199254740993e0", 9007199254740993},
      {"123456789012345678e1", 1234567890123456780},
      {"1e3", 1000},
      {"1E+2", 100},
      {"700e-2", 7},
      {"0.07e2", 7},
      {"-0.0", 0},
      {"0e999999999999999999999", 0},
      {"-9223372036854775809", std::nullopt},
      {"9223372036854775808", std::nullopt},
      {"9223372036854775808.0", std::nullopt},
      {"-9223372036854775809.0", std::nullopt},
      {"1e19", std::nullopt},
      {"1e999999999999999999999", std::nullopt},
      {"1e-999999999999999999999", std::nullopt},
      {"1.0000000000000000001", std::nullopt},
      {"7.5e0", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    std::optional<Request> request = parseRequestLine(std::string(R"({"id":)") + c.id + R"(,"method":"m"})");
    ASSERT_EQ(request.has_value(), c.read.has_value());
    if (request) { EXPECT_EQ(request->id, *c.read); }
  }
  // The id that counts is the last one of the request object itself.
  EXPECT_EQ(parseRequestLine(R"({"id":2.5,"id":3.0,"method":"m"})")->id, 3);
  EXPECT_FALSE(parseRequestLine(R"({"id":3,"id":2.5,"method":"m"})"));
  EXPECT_EQ(parseRequestLine(R"({"params":{"id":2.5},"id":1,"method":"m"})")->id, 1);
  EXPECT_FALSE(parseRequestLine(R"({"id":[1.0],"method":"m"})"));
}

TEST(ParseRequestLine, ParamsThatAreNotAnObjectBecomeEmpty) {
  EXPECT_EQ(parseRequestLine(R"({"id":1,"method":"m","params":[1,2]})")->params, Json::object());
  EXPECT_EQ(parseRequestLine(R"({"id":1,"method":"m","params":"x"})")->params, Json::object());
  EXPECT_EQ(parseRequestLine(R"({"id":1,"method":"m","params":{"a":1}})")->params["a"], 1);
}

TEST(ParseRequestLine, InvalidUtf8BecomesReplacementCharacters) {
  std::optional<Request> request = parseRequestLine("{\"id\":1,\"method\":\"a\xff\"}");
  ASSERT_TRUE(request);
  EXPECT_EQ(request->method, "a\xEF\xBF\xBD");
}

TEST(ParseRequestLine, ManyKeysTakeLinearTime) {
  std::string line = R"({"id":1,"method":"m","params":{)";
  for (int i = 0; i < 200000; ++i) line += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  line += R"("k0":"again"}})";
  auto started = std::chrono::steady_clock::now();
  std::optional<Request> request = parseRequestLine(line);
  auto elapsed = std::chrono::steady_clock::now() - started;
  ASSERT_TRUE(request);
  EXPECT_EQ(request->params.size(), 200000u);
  EXPECT_EQ(request->params["k0"], "again");
  EXPECT_LT(elapsed, scaledBound(2000ms)) << "one key at a time through the list of keys takes minutes";
}

TEST(ReplyEnvelope, SuccessAndFailureShapes) {
  EXPECT_EQ(replyEnvelope(1, Json{{"a", 1}}), Json::parse(R"({"id":1,"ok":true,"result":{"a":1}})"));
  Json nothing = replyEnvelope(2, Json());
  ASSERT_TRUE(nothing.contains("result"));
  EXPECT_TRUE(nothing["result"].is_null());
  EXPECT_EQ(replyEnvelope(3, HelperError(ErrorCode::OsPermission, "no", Json{{"settingsUrl", "x-apple:y"}})),
            Json::parse(R"({"id":3,"ok":false,"error":{"code":"os_permission","message":"no",
                            "details":{"settingsUrl":"x-apple:y"}}})"));
  EXPECT_EQ(replyEnvelope(4, HelperError(ErrorCode::InvalidArgs, "bad"))["error"],
            Json::parse(R"({"code":"invalid_args","message":"bad"})"))
      << "no details key without details";
}

// A request loop reading from a pipe, run on a thread of its own so that the test can talk to
// it line by line, with the host's ends of its output and diagnostics read as they come.
class LoopHarness {
 public:
  explicit LoopHarness(const Router& router, RequestLoop::Options options = {}) {
    int in[2], out[2], err[2];
    EXPECT_EQ(pipe(in), 0);
    EXPECT_EQ(pipe(out), 0);
    EXPECT_EQ(pipe(err), 0);
    input_ = in[1];
    writerFds_[0] = out[1];
    writerFds_[1] = err[1];
    writer_ = std::make_unique<OutputWriter>(out[1], err[1]);
    loop_ = std::make_unique<RequestLoop>(router, *writer_, std::move(options));
    collectors_[0] = std::thread([this, fd = out[0]] { collect(fd, output_); });
    collectors_[1] = std::thread([this, fd = err[0]] { collect(fd, diagnostics_); });
    thread_ = std::thread([this, fd = in[0]] {
      loop_->run(fd);
      close(fd);
    });
  }
  ~LoopHarness() { finish(); }

  void send(const std::string& text) { ASSERT_TRUE(writeAll(input_, text)); }

  // The next reply line, or a discarded value when none comes within the time.
  Json nextReply(std::chrono::milliseconds within = 5000ms) {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, scaledBound(within), [this] { return output_.find('\n', consumed_) != std::string::npos; }))
      return Json(Json::value_t::discarded);
    size_t end = output_.find('\n', consumed_);
    Json reply = Json::parse(output_.substr(consumed_, end - consumed_));
    consumed_ = end + 1;
    return reply;
  }

  // Ends the input, waits for the loop to return, and gives the replies not yet taken.
  std::vector<Json> finish() {
    if (input_ < 0) return {};
    close(input_);
    input_ = -1;
    thread_.join();
    peakThreads_ = loop_->pool().peakThreadCount();
    maxThreads_ = loop_->pool().maxThreads();
    eagerWorkers_ = loop_->pool().eagerWorkers();
    loop_.reset();
    writer_.reset();
    for (int& fd : writerFds_) close(fd);
    for (std::thread& collector : collectors_) collector.join();
    std::vector<Json> replies;
    for (size_t end; (end = output_.find('\n', consumed_)) != std::string::npos; consumed_ = end + 1)
      replies.push_back(Json::parse(output_.substr(consumed_, end - consumed_)));
    return replies;
  }

  RequestLoop& loop() { return *loop_; }
  // After finish.
  const std::string& diagnostics() const { return diagnostics_; }
  int peakThreads() const { return peakThreads_; }
  int maxThreads() const { return maxThreads_; }
  int eagerWorkers() const { return eagerWorkers_; }

 private:
  void collect(int fd, std::string& into) {
    char chunk[65536];
    for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;) {
      std::lock_guard lock(mutex_);
      into.append(chunk, static_cast<size_t>(n));
      arrived_.notify_all();
    }
    close(fd);
  }

  int input_ = -1;
  int writerFds_[2] = {-1, -1};
  std::unique_ptr<OutputWriter> writer_;
  std::unique_ptr<RequestLoop> loop_;
  std::thread thread_;
  std::thread collectors_[2];
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::string output_, diagnostics_;
  size_t consumed_ = 0;  // bytes of output_ already handed out as replies
  int peakThreads_ = 0, maxThreads_ = 0, eagerWorkers_ = 0;
};

struct LoopRun {
  std::vector<Json> replies;
  std::string diagnostics;
};

LoopRun runLoop(const Router& router, const std::string& input, RequestLoop::Options options = {}) {
  LoopHarness harness(router, std::move(options));
  harness.send(input);
  std::vector<Json> replies = harness.finish();
  return {replies, harness.diagnostics()};
}

std::string requestLines(int count, const std::string& method, int firstId = 0) {
  std::string lines;
  for (int i = 0; i < count; ++i)
    lines += "{\"id\":" + std::to_string(firstId + i) + ",\"method\":\"" + method + "\"}\n";
  return lines;
}

TEST(RequestLoop, RepliesInCompletionOrderAndDrainsBeforeReturning) {
  Router router;
  router.registerMethod("slow", [](const Params&) {
    std::this_thread::sleep_for(300ms);
    return Json("slow");
  });
  router.registerMethod("fast", [](const Params&) { return Json("fast"); });
  auto started = std::chrono::steady_clock::now();
  LoopRun run = runLoop(router, "{\"id\":1,\"method\":\"slow\"}\n{\"id\":2,\"method\":\"fast\"}\n");
  ASSERT_EQ(run.replies.size(), 2u) << "the slow reply is written before the loop returns";
  EXPECT_EQ(run.replies[0]["id"], 2);
  EXPECT_EQ(run.replies[1]["id"], 1);
  EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms);
}

// Handlers that block (a long computation) each get a thread, so none waits for another.
TEST(RequestLoop, ManySlowRequestsRunAtOnce) {
  Router router;
  std::atomic<int> running{0}, peak{0};
  router.registerMethod("wait", [&](const Params&) {
    int now = ++running;
    for (int seen = peak; now > seen && !peak.compare_exchange_weak(seen, now);) {}
    std::this_thread::sleep_for(500ms);
    --running;
    return Json();
  });
  auto started = std::chrono::steady_clock::now();
  LoopRun run = runLoop(router, requestLines(40, "wait"));
  EXPECT_EQ(run.replies.size(), 40u);
  EXPECT_EQ(peak, 40) << "no request waits for another";
  // One after the other they would take 20 s.
  EXPECT_LT(std::chrono::steady_clock::now() - started, scaledBound(2s));
}

TEST(RequestLoop, LineEndingsEmptyLinesAndUnreadableLines) {
  Router router;
  router.registerMethod("echo", [](const Params& p) { return p.raw(); });
  LoopRun run = runLoop(router,
                        "\n{\"id\":1,\"method\":\"echo\",\"params\":{\"a\":\"b\"}}\r\n"
                        "   \n[1]\n{\"id\":\"2\",\"method\":\"echo\"}\n"
                        "{\"id\":3,\"method\":\"echo\"}");  // last line without a line feed
  ASSERT_EQ(run.replies.size(), 2u);
  EXPECT_EQ(run.diagnostics,
            "wren-mac-helper: unreadable request\nwren-mac-helper: unreadable request\n"
            "wren-mac-helper: unreadable request\n");
}

// Slow answers of the platform hold no thread: 200 requests park on their OneShots, and a
// quick request sent after them is answered at once, by the threads that were there anyway.
TEST(RequestLoop, RequestsWaitingForThePlatformHoldNoThread) {
  testing::MainQueueThread mainThread;
  Router router;
  std::mutex mutex;
  std::vector<std::shared_ptr<platform::OneShot<int>>> waits;
  router.registerAsyncMethod("wait", [&](const Params&, Reply reply) {
    auto slot = platform::OneShot<int>::start(60s, [reply](std::optional<int> answer) {
      if (!answer) return void(reply.fail(HelperError(ErrorCode::Timeout, "no answer")));
      reply.succeed(Json(*answer));
    });
    std::lock_guard lock(mutex);
    waits.push_back(slot);
  });
  router.registerMethod("quick", [](const Params&) { return Json("quick"); });

  LoopHarness harness(router);
  harness.send(requestLines(200, "wait"));
  ASSERT_TRUE(eventually([&] {
    std::lock_guard lock(mutex);
    return waits.size() == 200;
  }));
  auto sent = std::chrono::steady_clock::now();
  harness.send(requestLines(1, "quick", 1000));
  Json quick = harness.nextReply();
  auto latency = std::chrono::steady_clock::now() - sent;
  ASSERT_FALSE(quick.is_discarded());
  EXPECT_EQ(quick["id"], 1000);
  EXPECT_LT(latency, scaledBound(20ms));
  EXPECT_LE(harness.loop().pool().peakThreadCount(), harness.loop().pool().eagerWorkers())
      << "no thread was added for the waits";

  {
    std::lock_guard lock(mutex);
    for (size_t i = 0; i < waits.size(); ++i) waits[i]->resolve(static_cast<int>(i));
  }
  std::vector<Json> replies = harness.finish();
  ASSERT_EQ(replies.size(), 200u);
  for (const Json& reply : replies) EXPECT_EQ(reply["ok"], true);
}

TEST(RequestLoop, AWaitThatReachesItsDeadlineIsAnsweredAndTheLoopDrains) {
  testing::MainQueueThread mainThread;
  Router router;
  router.registerAsyncMethod("wait", [](const Params&, Reply reply) {
    platform::OneShot<int>::start(30ms, [reply](std::optional<int> answer) {
      if (!answer) return void(reply.fail(HelperError(ErrorCode::Timeout, "The location did not arrive in time.")));
      reply.succeed(Json(*answer));
    });  // nobody ever answers
  });
  LoopRun run = runLoop(router, requestLines(3, "wait"));
  ASSERT_EQ(run.replies.size(), 3u);
  for (const Json& reply : run.replies)
    EXPECT_EQ(reply["error"], Json::parse(R"({"code":"timeout","message":"The location did not arrive in time."})"));
}

TEST(RequestLoop, LinesOverTheLimitAreUnreadableAndTheNextLineIsRead) {
  Router router;
  router.registerMethod("size", [](const Params& p) { return Json(p.string("text").value_or("").size()); });
  auto request = [](int id, size_t textBytes) {
    return "{\"id\":" + std::to_string(id) + ",\"method\":\"size\",\"params\":{\"text\":\"" +
           std::string(textBytes, 'a') + "\"}}";
  };
  const std::string atLimit = request(1, 0);
  RequestLoop::Options options;
  options.lineLimit = 200000;
  const size_t fill = options.lineLimit - atLimit.size();
  LoopRun run = runLoop(router,
                        request(1, fill) + "\r\n" +       // exactly at the limit: read
                            request(2, fill + 1) + "\n" +  // one byte over: unreadable
                            request(3, 3 * fill) + "\n" +  // held across several reads: unreadable
                            request(4, 5) + "\n" + request(5, 2 * fill),  // over, at the end
                        options);
  ASSERT_EQ(run.replies.size(), 2u);
  std::map<int, Json> results;
  for (const Json& reply : run.replies) results[reply["id"]] = reply["result"];
  EXPECT_EQ(results, (std::map<int, Json>{{1, fill}, {4, 5}}));
  EXPECT_EQ(run.diagnostics, "wren-mac-helper: unreadable request\nwren-mac-helper: unreadable request\n"
                             "wren-mac-helper: unreadable request\n");
}

// Each line is parsed by its own task: a request behind a line that takes long to parse is
// answered first.
TEST(RequestLoop, ALineThatTakesLongToParseHoldsUpNoOtherRequest) {
  Router router;
  router.registerMethod("count", [](const Params& p) { return Json(p.raw().size()); });
  std::string keys;
  for (int i = 0; i < 400000; ++i) keys += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  LoopRun run = runLoop(router, R"({"id":1,"method":"count","params":{)" + keys + R"("last":0}})" + "\n" +
                                    requestLines(1, "count", 2) + "[1]\n");
  ASSERT_EQ(run.replies.size(), 2u);
  EXPECT_EQ(run.replies[0]["id"], 2);
  EXPECT_EQ(run.replies[1]["result"], 400001);
  EXPECT_EQ(run.diagnostics, "wren-mac-helper: unreadable request\n");
}

TEST(RequestLoop, RequestsThatNoThreadCanRunAreAnsweredAsFailures) {
  Router router;
  router.registerMethod("m", [](const Params&) { return Json("ran"); });
  RequestLoop::Options options;
  options.pool.startThread = [](std::function<void()>) {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  };
  LoopRun run = runLoop(router, requestLines(3, "m") + "not json\n", options);
  EXPECT_EQ(run.diagnostics, "wren-mac-helper: unreadable request\n");
  ASSERT_EQ(run.replies.size(), 3u);
  for (const Json& reply : run.replies) {
    EXPECT_EQ(reply["error"]["code"], "execution_failed");
    EXPECT_EQ(reply["error"]["message"],
              "wren-mac-helper could not start a thread for the request. Try again when fewer programs are running.");
  }
}

// Hundreds of handlers that block for long stay within the pool's cap and are all answered.
TEST(RequestLoop, HundredsOfBlockingRequestsStayWithinTheThreadCap) {
  Router router;
  router.registerMethod("block", [](const Params&) {
    std::this_thread::sleep_for(200ms);
    return Json();
  });
  LoopHarness harness(router);
  harness.send(requestLines(600, "block"));
  std::vector<Json> replies = harness.finish();
  EXPECT_EQ(replies.size(), 600u);
  EXPECT_LE(harness.peakThreads(), harness.maxThreads());
  EXPECT_GT(harness.peakThreads(), harness.eagerWorkers()) << "workers were added while the others blocked";
}

}  // namespace
}  // namespace wren

#include "app/RequestLoop.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/HelperError.h"

namespace wren {
namespace {

using namespace std::chrono_literals;

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

// Reads everything a file descriptor holds until it is closed.
std::string readAll(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  return text;
}

std::vector<Json> lines(const std::string& text) {
  std::vector<Json> parsed;
  size_t begin = 0;
  for (size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1)
    parsed.push_back(Json::parse(text.substr(begin, end - begin)));
  return parsed;
}

struct LoopRun {
  std::vector<Json> replies;
  std::string diagnostics;
};

LoopRun runLoop(const Router& router, const std::string& input) {
  int in[2], out[2], err[2];
  EXPECT_EQ(pipe(in), 0);
  EXPECT_EQ(pipe(out), 0);
  EXPECT_EQ(pipe(err), 0);
  std::thread feeder([&] {
    EXPECT_TRUE(writeAll(in[1], input));
    close(in[1]);
  });
  std::string outText, errText;
  std::thread outReader([&] { outText = readAll(out[0]); });
  std::thread errReader([&] { errText = readAll(err[0]); });
  {
    OutputWriter writer(out[1], err[1]);
    RequestLoop loop(router, writer);
    loop.run(in[0]);
  }
  close(out[1]);
  close(err[1]);
  feeder.join();
  outReader.join();
  errReader.join();
  close(in[0]);
  close(out[0]);
  close(err[0]);
  return {lines(outText), errText};
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
  std::string input;
  for (int i = 0; i < 40; ++i) input += "{\"id\":" + std::to_string(i) + ",\"method\":\"wait\"}\n";
  auto started = std::chrono::steady_clock::now();
  LoopRun run = runLoop(router, input);
  EXPECT_EQ(run.replies.size(), 40u);
  EXPECT_EQ(peak, 40) << "no request waits for another";
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
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

TEST(TaskPool, IdleThreadsEndAfterTheirLifetime) {
  std::atomic<int> done{0};
  TaskPool pool({.idleLifetime = 50ms});
  for (int i = 0; i < 8; ++i) pool.submit([&] { ++done; });
  for (int i = 0; i < 100 && pool.threadCount() > 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(done, 8);
  EXPECT_EQ(pool.threadCount(), 0);
}

TEST(TaskPool, QuickTaskIsNotHeldUpBySlowOnes) {
  TaskPool pool({.stallAfter = 2ms, .queueLimit = 4});
  std::atomic<bool> release{false};
  std::atomic<int> blocked{0};
  // More slow tasks than the pool has eager workers or queue places.
  for (int i = 0; i < 16; ++i) {
    pool.submit([&] {
      ++blocked;
      while (!release) std::this_thread::sleep_for(1ms);
    });
  }
  std::atomic<bool> quickRan{false};
  auto submitted = std::chrono::steady_clock::now();
  pool.submit([&] { quickRan = true; });
  for (int i = 0; i < 500 && !quickRan; ++i) std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(quickRan);
  EXPECT_LT(std::chrono::steady_clock::now() - submitted, 400ms);
  EXPECT_EQ(blocked, 16) << "every slow task got a thread of its own";
  release = true;
}

TEST(TaskPool, FloodOfQuickTasksNeedsFewThreads) {
  std::atomic<int> done{0};
  int peakThreads = 0;
  {
    TaskPool pool({.queueLimit = 64});
    for (int i = 0; i < 20000; ++i) {
      pool.submit([&] { ++done; });
      if (i % 1000 == 0) peakThreads = std::max(peakThreads, pool.threadCount());
    }
  }  // the destructor runs what is still queued
  EXPECT_EQ(done, 20000);
  EXPECT_LE(peakThreads, 16);
}

}  // namespace
}  // namespace wren

// The request channel as the host sees it: raw lines in, reply lines and diagnostics out.

#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "support/HelperProcess.h"
#include "support/Timing.h"

namespace wren::testing {
namespace {

constexpr const char* kUnreadable = "wren-mac-helper: unreadable request\n";

int countOf(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

TEST(Channel, UnknownMethodGetsOneFailureReplyWithoutDetails) {
  HelperProcess helper;
  HelperRun run = helper.run({R"({"id":1,"method":"x.y"})"});
  EXPECT_EQ(run.exitStatus, 0);
  ASSERT_EQ(run.replies.size(), 1u);
  EXPECT_EQ(run.replies[0], Json::parse(R"({"id":1,"ok":false,"error":{"code":"unknown_action",
      "message":"wren-mac-helper has no method x.y"}})"));
  EXPECT_EQ(run.out, "{\"id\":1,\"ok\":false,\"error\":{\"code\":\"unknown_action\","
                     "\"message\":\"wren-mac-helper has no method x.y\"}}\n");
  EXPECT_EQ(run.err, "");
}

TEST(Channel, UnreadableLinesOnlyWriteTheDiagnostic) {
  const std::vector<std::string> unreadable = {
      R"({"id":"1","method":"x.y"})", R"({"id":2.5,"method":"x.y"})", R"({"method":"x.y"})",
      R"({"id":3})",                  R"([1,2])",                     "42",
      "not json",                     "   ",                           R"({"id":1e300,"method":"x"})",
      std::string("{\"id\":1,\"method\":\"x\0y\"}", 23),
      R"({"id":1,"method":"\udc00"})",
  };
  for (const std::string& line : unreadable) {
    SCOPED_TRACE(line);
    HelperProcess helper;
    HelperRun run = helper.run({line});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, kUnreadable);
  }
}

TEST(Channel, IdFormsEmptyLinesAndCrLf) {
  HelperProcess helper;
  HelperRun run = helper.runRaw("\n\r\n{\"id\":4.0,\"method\":\"x\"}\r\n{\"id\":-9223372036854775808,\"method\":\"x\"}\n"
                                "{\"id\":9223372036854775807,\"method\":\"x\",\"params\":[1]}");
  EXPECT_EQ(run.err, "");
  ASSERT_EQ(run.replies.size(), 3u);
  // Replies come in completion order, so the line is looked for anywhere in the output.
  EXPECT_NE(run.out.find("{\"id\":4,\"ok\":false"), std::string::npos) << "4.0 is answered as the integer 4";
  EXPECT_NO_THROW(run.reply(INT64_MIN));
  EXPECT_NO_THROW(run.reply(INT64_MAX));
}

TEST(Channel, TwoRequestsWithOneIdBothGetAReply) {
  HelperProcess helper;
  HelperRun run = helper.run({R"({"id":5,"method":"a"})", R"({"id":5,"method":"b"})"});
  ASSERT_EQ(run.replies.size(), 2u);
  std::set<std::string> messages;
  for (const Json& reply : run.replies) messages.insert(reply["error"]["message"].get<std::string>());
  EXPECT_EQ(messages, (std::set<std::string>{"wren-mac-helper has no method a", "wren-mac-helper has no method b"}));
}

TEST(Channel, ThousandPipelinedRequestsAreEachAnsweredOnce) {
  HelperProcess helper;
  std::vector<std::string> lines;
  for (int i = 0; i < 1000; ++i)
    lines.push_back(R"({"id":)" + std::to_string(i) + R"(,"method":"calendar.nope","params":{"n":)" +
                    std::to_string(i) + "}}");
  HelperRun run = helper.run(lines);
  EXPECT_EQ(run.exitStatus, 0);
  ASSERT_EQ(run.replies.size(), 1000u);
  std::set<int64_t> ids;
  for (const Json& reply : run.replies) ids.insert(reply["id"].get<int64_t>());
  EXPECT_EQ(ids.size(), 1000u);
}

TEST(Channel, ClosingInputWithNothingInFlightExitsAtOnce) {
  HelperProcess helper;
  auto started = std::chrono::steady_clock::now();
  HelperRun run = helper.run({});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

TEST(Channel, HostileLinesAreAnsweredOrReportedAndServingGoesOn) {
  HelperProcess helper;
  std::string hugeString = R"({"id":1,"method":"x","params":{"text":")" + std::string(10 << 20, 'a') + "\"}}";
  std::string hugeGarbage(10 << 20, '{');
  std::string deep = R"({"id":2,"method":"x","params":{"a":)" + std::string(100000, '[') +
                     std::string(100000, ']') + "}}";
  std::string deepUnclosed = R"({"id":3,"method":"x","params":)" + std::string(100000, '{');
  std::string bigNumbers = R"({"id":4,"method":"x","params":{"a":1e400,"b":-1e400,"c":123456789012345678901234567890}})";
  std::string nul = std::string("{\"id\":5,\"method\":\"x\"}\0{", 24);
  std::string surrogate = R"({"id":6,"method":"x","params":{"s":"\ud800"}})";
  std::string invalidUtf8 = "{\"id\":7,\"method\":\"x\",\"params\":{\"s\":\"\xc3\x28\xff\"}}";
  HelperRun run = helper.run({hugeString, hugeGarbage, deep, deepUnclosed, bigNumbers, nul, surrogate,
                              invalidUtf8, R"({"id":8,"method":"x"})"});
  EXPECT_EQ(run.exitStatus, 0);
  for (int64_t id : {1, 2, 7, 8}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(run.error(id)["code"], "unknown_action");
  }
  // A number beyond the range of a double has no value to hand a handler: like the other
  // lines that cannot be read, it is reported rather than guessed at.
  EXPECT_EQ(countOf(run.err, kUnreadable), 5) << "garbage, unclosed nesting, 1e400, NUL and the lone surrogate";
  EXPECT_EQ(run.replies.size(), 4u);
}

TEST(Channel, InvalidUtf8InTheMethodNameComesBackReplaced) {
  HelperProcess helper;
  HelperRun run = helper.runRaw("{\"id\":1,\"method\":\"a\xff\"}\n");
  EXPECT_EQ(run.error(1)["message"], "wren-mac-helper has no method a\xEF\xBF\xBD");
}

TEST(Channel, ClosedStandardOutputDoesNotKillTheHelper) {
  HelperProcess helper;
  // The reader of the helper's output goes away after one byte; the second reply then meets
  // a closed pipe. The helper must still exit with status 0 when its input ends.
  std::filesystem::path script = helper.home() / "closed-output.sh";
  std::ofstream(script) << "(printf '{\"id\":1,\"method\":\"x\"}\\n'; sleep 0.3; "
                           "printf '{\"id\":2,\"method\":\"x\"}\\n') | HOME=\"$1\" \"$2\" | head -c 1 >/dev/null\n"
                           "echo \"${PIPESTATUS[1]}\"\n";
  std::string command = "bash '" + script.string() + "' '" + helper.home().string() + "' '" WREN_HELPER_PATH "'";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char status[16] = {0};
  ASSERT_NE(fgets(status, sizeof status, pipe), nullptr);
  pclose(pipe);
  EXPECT_STREQ(status, "0\n") << "the helper exits normally, not by SIGPIPE";
}

// A recurrence rule nested tens of thousands of levels deep (the depth that used to overflow a
// request thread's stack when the value was copied) counts as a recurrence of the wrong type:
// the event is created without one, and the helper goes on serving.
TEST(Channel, DeeplyNestedParamsAreTheWrongTypeAndServingGoesOn) {
  HelperProcess helper;
  helper.writeFile("wren/privacy.json", R"({"calendar":"granted","reminders":"granted"})");
  std::string deep;
  for (int i = 0; i < 88000; ++i) deep += R"({"frequency":)";
  deep += R"("daily")" + std::string(88000, '}');
  HelperRun run = helper.run({
      R"({"id":1,"method":"calendar.events.create","params":{"title":"Deep","start":"2025-03-01 09:00","recurrence":)" +
          deep + "}}",
      R"({"id":2,"method":"reminders.items.create","params":{"title":"Deep","due":"2025-03-01","recurrence":)" + deep +
          "}}",
      R"({"id":3,"method":"calendar.status"})",
  });
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.result(1)["recurring"], false);
  EXPECT_EQ(run.result(2)["title"], "Deep");
  EXPECT_EQ(run.reply(3)["ok"], true);
  EXPECT_EQ(run.err, "");
}

// A line past the length limit is reported without being read whole, and the next line is
// read as usual.
TEST(Channel, LinesLongerThanSixteenMebibytesAreUnreadable) {
  HelperProcess helper;
  const std::string head = R"({"id":1,"method":"x","params":{"text":")", tail = "\"}}";
  const size_t limit = 16 << 20;
  std::string atLimit = head + std::string(limit - head.size() - tail.size(), 'a') + tail;
  std::string overLimit = R"({"id":2,"method":"x","params":{"text":")" + std::string(limit, 'a') + tail;
  HelperRun run = helper.run({atLimit, overLimit, R"({"id":3,"method":"x"})"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, kUnreadable);
  ASSERT_EQ(run.replies.size(), 2u);
  EXPECT_EQ(run.error(1)["code"], "unknown_action");
  EXPECT_EQ(run.error(3)["code"], "unknown_action");
}

// An id is answered with the number its text holds, or not at all: never with a neighbour.
TEST(Channel, IdsAreAnsweredExactlyOrReportedUnreadable) {
  HelperProcess helper;
  HelperRun run = helper.run({R"({"id":-9223372036854775809,"method":"x"})", R"({"id":9007199254740993.0,"method":"x"})",
                              R"({"id":9223372036854775807.0,"method":"x"})", R"({"id":1e3,"method":"x"})"});
  EXPECT_EQ(run.err, kUnreadable) << "the id below the range";
  ASSERT_EQ(run.replies.size(), 3u);
  EXPECT_NE(run.out.find("{\"id\":9007199254740993,"), std::string::npos);
  EXPECT_NE(run.out.find("{\"id\":9223372036854775807,"), std::string::npos);
  EXPECT_NE(run.out.find("{\"id\":1000,"), std::string::npos);
}

// Objects with many keys, in a request and in a metadata file that every calendar request
// reads, cost time in proportion to their size: seconds, not the minutes that one look-up per
// key through the list of keys took.
TEST(Channel, ManyKeysInRequestsAndMetadataFilesAreReadInLinearTime) {
  HelperProcess helper;
  std::string keys;
  for (int i = 0; i < 200000; ++i) keys += "\"key" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  helper.writeFile("wren/privacy.json", "{" + keys + R"("calendar":"granted"})");
  auto started = std::chrono::steady_clock::now();
  HelperRun run = helper.run({R"({"id":1,"method":"x","params":{)" + keys + R"("last":true}})",
                              R"({"id":2,"method":"calendar.status"})", R"({"id":3,"method":"calendar.status"})"});
  auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(run.error(1)["code"], "unknown_action");
  EXPECT_EQ(run.result(2)["authorization"], "granted");
  EXPECT_EQ(run.result(3)["authorization"], "granted");
  EXPECT_LT(elapsed, scaledBound(std::chrono::seconds(5))) << "one look-up per key through the list takes minutes";
}

}  // namespace
}  // namespace wren::testing

// Mutations of request lines, fed through everything a line meets on its way to a reply: the
// line parser, the params accessors, the reply envelope and its serialisation. A seeded loop
// bounded in time, run in every build (the sanitizer builds included), so that a crash, a
// sanitizer report or a broken invariant on hostile input shows up as a failing test with the
// seed and the line that caused it.

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "app/Params.h"
#include "app/RequestLoop.h"
#include "base/JsonParse.h"

namespace wren {
namespace {

const std::vector<std::string> kSeeds = {
    R"({"id":1,"method":"calendar.events.list","params":{"start":"2025-03-01","end":"2025-03-08T00:00:00+08:00","limit":10}})",
    R"({"id":-7,"method":"calendar.events.create","params":{"title":"Lunch \u00e9","recurrence":{"frequency":"weekly","interval":2,"days_of_week":[1,3]},"alarms_minutes_before":[5,10.5]}})",
    R"({"id":4.0,"method":"reminders.items.update","params":{"reminder_id":"a\/b","confirmed":true,"due":null,"ids":["x",5,""]}})",
    R"({"method":"x","id":9223372036854775807,"params":[1,2,{"a":{}}],"extra":"\ud83d\ude00"})",
    R"({"id":1e3,"method":"contacts.search","params":{"query":"  Ann  ","limit":1.5e1,"emails":{"work":"a@b"}}})",
};

// One random change of the kinds hostile or broken hosts make.
std::string mutate(std::string line, std::mt19937_64& random) {
  auto pick = [&](size_t n) { return n == 0 ? 0 : static_cast<size_t>(random() % n); };
  static const std::string kPieces[] = {"{", "}", "[", "]", ",", ":", "\"", "\\", "\\u", "\\ud800", "null", "true",
                                        "-", "0", "1e400", "-9223372036854775809", "9007199254740993.0", ".5",
                                        "\"id\":", "\"method\":", "\"params\":", "\xff", "\xc3", std::string(1, '\0'),
                                        "\r", "\n", " "};
  switch (random() % 8) {
    case 0:  // a byte changed
      if (!line.empty()) line[pick(line.size())] = static_cast<char>(random());
      break;
    case 1:  // a piece inserted
      line.insert(pick(line.size() + 1), kPieces[pick(std::size(kPieces))]);
      break;
    case 2: {  // a range removed
      size_t at = pick(line.size() + 1);
      line.erase(at, pick(16));
      break;
    }
    case 3: {  // a range repeated
      size_t at = pick(line.size() + 1), length = pick(32);
      line.insert(at, line.substr(at, length));
      break;
    }
    case 4: {  // deep nesting opened, and maybe closed
      size_t depth = 1 + pick(3000);
      size_t at = pick(line.size() + 1);
      line.insert(at, std::string(depth, random() % 2 ? '[' : '{'));
      if (random() % 2) line.insert(std::min(line.size(), at + depth + pick(8)), std::string(depth, ']'));
      break;
    }
    case 5: {  // a value of the params replaced by a deep one
      std::string deep = std::string(600, '[') + "1" + std::string(600, ']');
      size_t at = line.find(':', pick(line.size() + 1));
      if (at != std::string::npos) line.insert(at + 1, deep + ",\"k\":");
      break;
    }
    case 6:  // spliced with another seed
      line = line.substr(0, pick(line.size() + 1)) + kSeeds[pick(kSeeds.size())].substr(pick(40));
      break;
    default:  // many keys
      for (size_t i = 0, n = pick(200); i < n; ++i)
        line.insert(line.size() > 1 ? line.size() - 1 : 0, ",\"k" + std::to_string(pick(20)) + "\":" + std::to_string(i));
      break;
  }
  return line;
}

// Everything a handler may do with the params, on every key they hold.
void readEveryParam(const Params& params) {
  for (const auto& member : params.raw().items()) {
    const std::string& key = member.key();
    params.string(key);
    params.untrimmedString(key);
    params.boolean(key);
    params.integer(key);
    params.number(key);
    params.strings(key);
    if (const Json* object = params.object(key)) {
      Json kept = *object;  // a handler may keep a copy; bounded values make that safe
      EXPECT_FALSE(nestedDeeperThan(kept, kParamDepthLimit));
    }
    try {
      params.date(key);
    } catch (const HelperError& error) {
      EXPECT_EQ(error.code(), "invalid_args");
    }
  }
}

TEST(RequestLineFuzz, MutatedLinesAreReadOrRefusedAndEveryReplyIsOneLineOfJson) {
  const uint64_t seed = 20250301;
  std::mt19937_64 random(seed);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  int iterations = 0, accepted = 0;
  for (; std::chrono::steady_clock::now() < deadline && iterations < 200000; ++iterations) {
    std::string line = kSeeds[random() % kSeeds.size()];
    for (int changes = 1 + static_cast<int>(random() % 4); changes > 0; --changes) line = mutate(line, random);
    std::optional<Request> request = parseRequestLine(line);
    if (!request) continue;
    ++accepted;
    Params params(std::move(request->params));
    readEveryParam(params);
    for (Json envelope : {replyEnvelope(request->id, params.raw()),
                          replyEnvelope(request->id, HelperError(ErrorCode::InvalidArgs, request->method, params.raw()))}) {
      std::string text = serializeReply(envelope);
      Json back = parseJson(text);
      if (text.find('\n') != std::string::npos || !back.is_object() || back["id"] != request->id) {
        ADD_FAILURE() << "seed " << seed << ", iteration " << iterations << ": " << line.substr(0, 300);
        return;
      }
    }
  }
  RecordProperty("iterations", iterations);
  RecordProperty("accepted", accepted);
  // Enough of both kinds, or the mutations no longer exercise the reader.
  EXPECT_GT(accepted, iterations / 20) << iterations << " iterations";
  EXPECT_LT(accepted, iterations);
}

}  // namespace
}  // namespace wren

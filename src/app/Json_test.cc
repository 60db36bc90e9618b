#include "app/Json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace wren {
namespace {

TEST(SerializeReply, EscapesSlashesAndControlCharactersKeepsNonAscii) {
  Json reply = {{"url", "https://example.org/a/b"}, {"text", "line\nnext\ttab\x01"}, {"name", "日历 Café"}};
  std::string line = serializeReply(reply);
  EXPECT_EQ(line,
            R"({"url":"https:\/\/example.org\/a\/b","text":"line\nnext\ttab\u0001","name":"日历 Café"})");
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_EQ(Json::parse(line), reply) << "readers treat \\/ like /";
}

TEST(SerializeReply, NonFiniteNumbersBecomeNullAtAnyDepth) {
  Json reply = {{"a", {{"b", Json::array({std::numeric_limits<double>::infinity(), NAN, 1.5})}}}};
  EXPECT_EQ(serializeReply(reply), R"({"a":{"b":[null,null,1.5]}})");
}

TEST(SerializeReply, InvalidUtf8InsideStringsIsReplaced) {
  Json reply = {{"s", std::string("a\xff" "b")}};
  EXPECT_EQ(serializeReply(reply), "{\"s\":\"a\xEF\xBF\xBD" "b\"}");
}

TEST(SerializeReply, CompactWithKeysInInsertionOrder) {
  Json reply = Json::object();
  reply["id"] = 7;
  reply["ok"] = true;
  reply["result"] = nullptr;
  EXPECT_EQ(serializeReply(reply), R"({"id":7,"ok":true,"result":null})");
}

}  // namespace
}  // namespace wren

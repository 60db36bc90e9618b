#include "app/Params.h"

#include <gtest/gtest.h>

#include "app/HelperError.h"

namespace wren {
namespace {

Params params(const char* json) { return Params(Json::parse(json)); }

std::string invalidArgsMessage(const std::function<void()>& call) {
  try {
    call();
  } catch (const HelperError& error) {
    EXPECT_EQ(error.code(), "invalid_args");
    return error.message();
  }
  ADD_FAILURE() << "no HelperError thrown";
  return "";
}

TEST(ParamsString, TrimsUnicodeWhiteSpaceAndLineBreaks) {
  Params p = params(R"({"title":"  Lunch \n", "blank":"   ", "wide":"\u3000Tea\u00a0", "n":5})");
  EXPECT_EQ(p.string("title"), "Lunch");
  EXPECT_EQ(p.string("blank"), std::nullopt);
  EXPECT_EQ(p.string("wide"), "Tea");
  EXPECT_EQ(p.string("n"), std::nullopt) << "numbers are not turned into text";
  EXPECT_EQ(p.string("missing"), std::nullopt);
}

TEST(ParamsNumbers, IntegerTruncatesFractionsAndRejectsText) {
  struct Case {
    const char* json;
    std::optional<int64_t> expected;
  } cases[] = {
      {R"({"v":10})", 10},
      {R"({"v":10.0})", 10},
      {R"({"v":10.7})", 10},
      {R"({"v":-2.9})", -2},
      {R"({"v":"10"})", std::nullopt},
      {R"({"v":true})", std::nullopt},
      {R"({"v":null})", std::nullopt},
      {R"({"v":1e300})", std::nullopt},
      {R"({"v":9223372036854775807})", INT64_MAX},
      {R"({"v":9223372036854775808})", std::nullopt},
      {R"({"v":-9223372036854775808})", INT64_MIN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(params(c.json).integer("v"), c.expected);
  }
}

TEST(ParamsNumbers, DoubleTakesIntegersAndFloats) {
  EXPECT_EQ(params(R"({"latitude":31})").number("latitude"), 31.0);
  EXPECT_EQ(params(R"({"latitude":31.5})").number("latitude"), 31.5);
  EXPECT_EQ(params(R"({"latitude":"31"})").number("latitude"), std::nullopt);
  EXPECT_EQ(params(R"({"flag":1})").boolean("flag"), std::nullopt);
  EXPECT_EQ(params(R"({"flag":"true"})").boolean("flag"), std::nullopt);
  EXPECT_EQ(params(R"({"flag":false})").boolean("flag"), false);
}

TEST(ParamsStrings, ArraysKeepStringsUnchangedAndSingleTextIsTrimmed) {
  EXPECT_EQ(params(R"({"ids":["a",5,""," b "]})").strings("ids"),
            (std::vector<std::string>{"a", "", " b "}));
  EXPECT_EQ(params(R"({"ids":"  a  "})").strings("ids"), std::vector<std::string>{"a"});
  EXPECT_EQ(params(R"({"ids":[]})").strings("ids"), std::vector<std::string>{});
  EXPECT_EQ(params(R"({"ids":"  "})").strings("ids"), std::nullopt);
  EXPECT_EQ(params(R"({"ids":{}})").strings("ids"), std::nullopt);
}

TEST(ParamsObject, OnlyObjectsAndKeyPresence) {
  Params p = params(R"({"recurrence":{"frequency":"daily"},"list":[1],"location":null})");
  ASSERT_TRUE(p.object("recurrence"));
  EXPECT_EQ((*p.object("recurrence"))["frequency"], "daily");
  EXPECT_EQ(p.object("list"), nullptr);
  EXPECT_TRUE(p.contains("location")) << "null counts as present for clearing fields";
  EXPECT_FALSE(p.contains("notes"));
  EXPECT_TRUE(Params(Json::array({1, 2})).raw().is_object()) << "non-object params are empty";
}

// Nested `levels` deep: {"frequency":{"frequency":...}} around a string.
Json nestedObject(size_t levels) {
  Json value = "daily";
  for (size_t i = 0; i < levels; ++i) value = Json{{"frequency", std::move(value)}};
  return value;
}

TEST(ParamsObject, GivesTheValueItselfNotACopy) {
  Params p = params(R"({"recurrence":{"frequency":"daily"}})");
  EXPECT_EQ(p.object("recurrence"), p.find("recurrence"));
}

// However deep a host nests a value, what handlers get is bounded: a value past the limit
// reads as a value of the wrong type from every accessor.
TEST(ParamsDepth, ValuesNestedPastTheLimitAreTheWrongType) {
  Params p(Json{{"atLimit", nestedObject(kParamDepthLimit)},
                {"overLimit", nestedObject(kParamDepthLimit + 1)},
                {"arrays", Json::parse(std::string(kParamDepthLimit + 1, '[') + std::string(kParamDepthLimit + 1, ']'))},
                {"title", " kept "}});
  EXPECT_NE(p.object("atLimit"), nullptr);
  EXPECT_EQ(p.object("overLimit"), nullptr);
  EXPECT_EQ(p.strings("arrays"), std::nullopt);
  EXPECT_TRUE(p.contains("overLimit")) << "present, of no type an accessor takes";
  for (const char* key : {"overLimit", "arrays"}) {
    SCOPED_TRACE(key);
    EXPECT_EQ(p.string(key), std::nullopt);
    EXPECT_EQ(p.boolean(key), std::nullopt);
    EXPECT_EQ(p.integer(key), std::nullopt);
    EXPECT_EQ(p.number(key), std::nullopt);
    EXPECT_EQ(p.date(key), std::nullopt);
    EXPECT_FALSE(p.find(key)->is_structured());
  }
  EXPECT_EQ(p.string("title"), "kept");
  Params copy = p;  // a copy, like every recursive operation, now stays within the limit
  EXPECT_EQ(copy.raw(), p.raw());
}

TEST(ParamsDate, MessagesNameTheKeyAndTheTrimmedValue) {
  EXPECT_EQ(invalidArgsMessage([] { params(R"({"start":" May 1 "})").date("start"); }),
            "start must be an ISO 8601 date/time, got May 1");
  EXPECT_EQ(invalidArgsMessage([] { params(R"({})").requireDate("end"); }), "end is required");
  EXPECT_EQ(invalidArgsMessage([] { params(R"({"end":1714550400})").requireDate("end"); }),
            "end is required");
  EXPECT_EQ(params(R"({"start":1714550400})").date("start"), std::nullopt);
  EXPECT_EQ(params(R"({"start":"2024-05-01T09:30:00+08:00"})").date("start"),
            params(R"({"start":"2024-05-01T01:30:00Z"})").date("start"));
}

TEST(Confirmation, OnlyJsonTrueConfirms) {
  for (const char* json : {R"({})", R"({"confirmed":false})", R"({"confirmed":"true"})",
                           R"({"confirmed":1})", R"({"confirmed":null})", R"({"confirmed":[true]})"}) {
    SCOPED_TRACE(json);
    try {
      requireConfirmation(params(json), "要删除吗？", Json{{"event", {{"title", "x"}}}});
      ADD_FAILURE() << "not asked";
    } catch (const HelperError& error) {
      EXPECT_EQ(error.code(), "needs_confirmation");
      EXPECT_EQ(error.message(), "要删除吗？");
      ASSERT_TRUE(error.details());
      EXPECT_EQ((*error.details())["event"]["title"], "x");
    }
  }
  EXPECT_NO_THROW(requireConfirmation(params(R"({"confirmed":true})"), "q", Json::object()));
}

}  // namespace
}  // namespace wren

#include "base/JsonParse.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "support/Timing.h"

namespace wren {
namespace {

using testing::scaledBound;

// The library's own reader, the reference for everything but speed and depth.
Json libraryParse(const std::string& text) { return Json::parse(text, nullptr, /*allow_exceptions=*/false); }

TEST(ParseJson, ReadsWhatTheLibraryReads) {
  const char* texts[] = {
      R"({"a":1,"b":[true,null,"x"],"c":{"d":-1.5e3,"e":""}})",
      R"(  [ 1 , -0 , 18446744073709551615 , -9223372036854775808 , 1.0 , 2e-3 ]  )",
      R"({"text":"\u00e9\ud83d\ude00 tab\t \"q\" \/","":{},"z":[]})",
      R"(["abc","de",["",""],{"k":"a long string that does not fit a short buffer"}])",
      "5", "\"s\"", "null", "true",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    Json parsed = parseJson(text);
    EXPECT_FALSE(parsed.is_discarded());
    EXPECT_EQ(parsed, libraryParse(text));
    EXPECT_EQ(parsed.dump(), libraryParse(text).dump()) << "same key order, same number forms";
  }
}

TEST(ParseJson, RefusesWhatTheLibraryRefuses) {
  const char* texts[] = {"", "{", "[1,]", R"({"a"})", "1 2", "tru", R"("\ud800")", "1e400", R"({"a":1}x)", "[01]"};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(libraryParse(text).is_discarded());
    EXPECT_TRUE(parseJson(text).is_discarded());
  }
}

// A repeated key keeps its first place and takes its last value, in small objects (found by
// scanning) and in large ones (found through the index).
TEST(ParseJson, RepeatedKeysKeepTheirPlaceAndTakeTheLastValue) {
  for (int keys : {3, 40}) {
    SCOPED_TRACE(keys);
    std::string text = "{";
    for (int i = 0; i < keys; ++i) text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    text += R"("k1":"again","k0":{"x":1},"new":true,"k1":"last"})";
    Json parsed = parseJson(text);
    EXPECT_EQ(parsed.dump(), libraryParse(text).dump());
    EXPECT_EQ(parsed.size(), static_cast<size_t>(keys) + 1);
    EXPECT_EQ(parsed.begin().key(), "k0");
    EXPECT_EQ(parsed["k1"], "last");
  }
}

TEST(ParseJson, ManyKeysTakeLinearTime) {
  std::string text = "{";
  for (int i = 0; i < 200000; ++i) text += "\"key" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  text += R"("key7":"last"})";
  auto started = std::chrono::steady_clock::now();
  Json parsed = parseJson(text);
  auto elapsed = std::chrono::steady_clock::now() - started;
  ASSERT_TRUE(parsed.is_object());
  EXPECT_EQ(parsed.size(), 200000u);
  EXPECT_EQ(parsed["key7"], "last");
  EXPECT_EQ(parsed.back(), 199999);
  EXPECT_LT(elapsed, scaledBound(std::chrono::milliseconds(2000))) << "one key at a time through the list of keys takes minutes";
}

TEST(ParseJson, NestingPastTheLimitIsCheckedButNotBuilt) {
  const size_t levels = 100000;
  Json arrays = parseJson(std::string(levels, '[') + std::string(levels, ']'));
  ASSERT_TRUE(arrays.is_array());
  EXPECT_FALSE(nestedDeeperThan(arrays, kJsonDepthLimit));
  EXPECT_TRUE(nestedDeeperThan(arrays, kJsonDepthLimit - 1));
  const Json* innermost = &arrays;
  for (size_t level = 1; level < kJsonDepthLimit; ++level) innermost = &innermost->at(0);
  ASSERT_EQ(innermost->size(), 1u);
  EXPECT_EQ(innermost->at(0), tooDeepValue());

  std::string objects;
  for (size_t i = 0; i < levels; ++i) objects += R"({"a":)";
  objects += "1";
  EXPECT_TRUE(parseJson(objects + std::string(levels, '}')).is_object());
  EXPECT_TRUE(parseJson(objects + std::string(levels - 1, '}')).is_discarded()) << "one brace short";
  EXPECT_TRUE(parseJson(objects + std::string(levels, '}') + "]").is_discarded());

  // Values after the skipped part are still built, at their own place.
  Json mixed = parseJson("[" + std::string(2000, '[') + std::string(2000, ']') + R"(,{"after":1}])");
  ASSERT_TRUE(mixed.is_array());
  EXPECT_EQ(mixed.at(1), Json({{"after", 1}}));
}

TEST(NestedDeeperThan, CountsLevelsOfContainers) {
  struct Case {
    const char* text;
    size_t levels;
  } cases[] = {{"1", 0}, {"[]", 1}, {"{}", 1}, {"[[1]]", 2}, {R"({"a":[{}],"b":2})", 3}, {R"([1,[2,[3]],[]])", 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Json value = Json::parse(c.text);
    EXPECT_FALSE(nestedDeeperThan(value, c.levels));
    if (c.levels > 0) { EXPECT_TRUE(nestedDeeperThan(value, c.levels - 1)); }
  }
}

}  // namespace
}  // namespace wren

#include "system/Footprint.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/TestSupport.h"

namespace wren {
namespace {

using testing::params;

TEST(FootprintPids, FollowsTheNumberRules) {
  struct Case {
    const char* pids;
    std::vector<int32_t> expected;
  };
  const Case cases[] = {
      {R"([0, -5, "123"])", {}},
      {R"([12, 12.9, -3.5, 7.0])", {12, 12, 7}},
      {R"([true, null, {}, [5], 8])", {8}},
      {R"([2147483647, 2147483648, 4294967297, 18446744073709551615, 1e300, -1e300])", {2147483647}},
      {R"("123")", {}},
      {R"(123)", {}},
      {R"({"pid": 1})", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pids);
    Json raw = Json::parse(c.pids);
    EXPECT_EQ(footprintPids(&raw), c.expected);
  }
  EXPECT_EQ(footprintPids(nullptr), std::vector<int32_t>{});
}

TEST(FootprintPids, OnlyTheFirst4096NumbersCount) {
  Json raw = Json::array();
  // Text does not count towards the limit; numbers out of range do.
  for (int i = 0; i < 100; ++i) raw.push_back("skipped");
  raw.push_back(-1);
  for (int i = 1; i <= 5000; ++i) raw.push_back(i);
  std::vector<int32_t> pids = footprintPids(&raw);
  ASSERT_EQ(pids.size(), 4095u);
  EXPECT_EQ(pids.front(), 1);
  EXPECT_EQ(pids.back(), 4095);
}

TEST(ProcessFootprint, MeasuresEachLivePidOnce) {
  int32_t self = getpid();
  Json result =
      processFootprint(params(Json{{"pids", {self, self, static_cast<double>(self) + 0.5, 0, INT32_MAX}}}.dump()),
                       platform::ProcessFootprints());
  ASSERT_EQ(result.size(), 1u);
  const Json& footprints = result["footprints"];
  ASSERT_EQ(footprints.size(), 1u);
  ASSERT_TRUE(footprints.contains(std::to_string(self)));
  EXPECT_GT(footprints[std::to_string(self)].get<uint64_t>(), 0u);
}

TEST(ProcessFootprint, WithoutPidsIsAnEmptyMap) {
  for (const char* text : {"{}", R"({"pids": null})", R"({"pids": "1"})", R"({"pids": []})"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(processFootprint(params(text), platform::ProcessFootprints()).dump(), R"({"footprints":{}})");
  }
}

}  // namespace
}  // namespace wren

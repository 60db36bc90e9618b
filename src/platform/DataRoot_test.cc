#include "platform/DataRoot.h"

#include <gtest/gtest.h>

#include "support/StoreTestSupport.h"

namespace wren::platform {
namespace {

using vdir::testing::EnvironmentVariable;

TEST(DataRoot, FollowsTheDataHomeAndFallsBackToHome) {
  struct Case {
    std::optional<std::string> dataHome;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"/srv/data", "/srv/data/wren"},
      {"", "/home/someone/.local/share/wren"},
      {"relative/data", "/home/someone/.local/share/wren"},
      {std::nullopt, "/home/someone/.local/share/wren"},
  };
  EnvironmentVariable home("HOME", "/home/someone");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dataHome.value_or("(unset)"));
    EnvironmentVariable dataHome("XDG_DATA_HOME", c.dataHome);
    EXPECT_EQ(dataRoot(), std::filesystem::path(c.expected));
  }
}

}  // namespace
}  // namespace wren::platform

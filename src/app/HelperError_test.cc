#include "app/HelperError.h"

#include <gtest/gtest.h>

#include <sstream>

namespace wren {
namespace {

// The host reads these names; a code that reached it under another name would be a new code.
TEST(ErrorCode, EachCodeHasItsWireNameInRepliesAndMessages) {
  struct Case {
    ErrorCode code;
    const char* name;
  };
  const Case cases[] = {
      {ErrorCode::InvalidArgs, "invalid_args"},
      {ErrorCode::ExecutionFailed, "execution_failed"},
      {ErrorCode::NeedsConfirmation, "needs_confirmation"},
      {ErrorCode::OsPermission, "os_permission"},
      {ErrorCode::Cancelled, "cancelled"},
      {ErrorCode::Timeout, "timeout"},
      {ErrorCode::Unsupported, "unsupported"},
      {ErrorCode::UnknownAction, "unknown_action"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(wireName(c.code), c.name);
    EXPECT_EQ(Json(c.code), Json(c.name));
    EXPECT_EQ((Json{{"code", c.code}}).dump(), std::string("{\"code\":\"") + c.name + "\"}");
    std::ostringstream printed;
    printed << c.code;
    EXPECT_EQ(printed.str(), c.name);
  }
}

TEST(ErrorCode, EqualsOnlyItsOwnWireName) {
  EXPECT_TRUE(ErrorCode::Timeout == "timeout");
  EXPECT_FALSE(ErrorCode::Timeout == "Timeout");
  EXPECT_FALSE(ErrorCode::Timeout == "time_out");
  EXPECT_FALSE(ErrorCode::InvalidArgs == "execution_failed");
}

}  // namespace
}  // namespace wren

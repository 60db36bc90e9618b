// owner.verify through the built helper against polkit on a private system bus: machines
// without polkit, or where polkit does not know the helper's action, cannot verify their owner.
// A verification that succeeds needs the helper's action installed in the system's polkit
// folder and an authentication agent, which tests do not set up.

#include <gtest/gtest.h>

#include "support/HelperProcess.h"
#include "support/PrivateSystemBus.h"

namespace wren::testing {
namespace {

Json verifyOn(const std::string& busAddress) {
  HelperProcess helper;
  helper.setEnv("DBUS_SYSTEM_BUS_ADDRESS", busAddress);
  HelperRun run = helper.run({requestLine(1, "owner.verify", {{"reason", "导出密码"}})});
  return run.error(1);
}

TEST(OwnerVerifyE2e, NoSystemBusIsUnsupported) {
  TemporaryFolder folder("wren-nobus");
  Json error = verifyOn("unix:path=" + (folder.path() / "no-bus-here").string());
  EXPECT_EQ(error["code"], "unsupported");
  EXPECT_NE(error["message"].get<std::string>().find("No such file or directory"), std::string::npos) << error;
}

TEST(OwnerVerifyE2e, ABusWithoutPolkitIsUnsupported) {
  PrivateSystemBus bus;
  if (!bus.started()) GTEST_SKIP() << bus.skipReason();
  Json error = verifyOn(bus.address());
  EXPECT_EQ(error["code"], "unsupported");
  EXPECT_NE(error["message"].get<std::string>().find("org.freedesktop.PolicyKit1"), std::string::npos) << error;
}

TEST(OwnerVerifyE2e, PolkitWithoutTheActionIsUnsupported) {
  PrivateSystemBus bus;
  if (!bus.startPolkit()) GTEST_SKIP() << bus.skipReason();
  Json error = verifyOn(bus.address());
  EXPECT_EQ(error, (Json{{"code", "unsupported"},
                         {"message", "Action org.wren.mac-helper.verify-owner is not registered"}}));
}

}  // namespace
}  // namespace wren::testing

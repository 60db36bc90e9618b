// The helper finds its desktop module beside its own executable, wherever that is; without the
// module, the requests that need it fail with what is unavailable and why, and every other
// request answers as usual.

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/DesktopModule.h"
#include "support/HelperProcess.h"

namespace wren::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kBuiltModule = fs::path(WREN_HELPER_PATH).parent_path() / platform::kDesktopModuleFile;

class DesktopModuleE2e : public ::testing::Test {
 protected:
  // A copy of the built helper alone in a folder of its own, with or without the module.
  fs::path installCopy(bool withModule) {
    fs::path folder = helper_.home() / "bin";
    fs::create_directories(folder);
    fs::copy_file(WREN_HELPER_PATH, folder / "wren-mac-helper");
    if (withModule) fs::copy_file(kBuiltModule, folder / platform::kDesktopModuleFile);
    helper_.setProgram(folder / "wren-mac-helper");
    return folder;
  }

  HelperProcess helper_;
};

TEST_F(DesktopModuleE2e, WithoutTheModuleOnlyTheRequestsThatNeedItFail) {
  const fs::path folder = installCopy(false);
  const std::string missing = (folder / platform::kDesktopModuleFile).string();
  const std::string picture = helper_.writeFile("scan.png", "\x89PNG\r\n\x1a\n").string();
  HelperRun run = helper_.run({
      requestLine(1, "vision.ocr", {{"path", picture}}),
      requestLine(2, "owner.verify", Json::object()),
      requestLine(3, "location.geocode", {{"latitude", 48.8584}, {"longitude", 2.2945}}),
      requestLine(4, "icons.files", {{"paths", {folder.string()}}}),
      requestLine(5, "battery.status", Json::object()),
      requestLine(6, "files.tags.get", {{"paths", {picture}}}),
  });
  EXPECT_EQ(run.exitStatus, 0) << run.err;

  const struct {
    int id;
    const char* code;
    const char* message;  // the message's beginning; the rest is the loader's description
  } failures[] = {
      {1, "execution_failed", "text recognition is unavailable: "},
      {2, "unsupported", "owner verification is unavailable: "},
      {3, "execution_failed", "Looking up the address failed: reverse geocoding is unavailable: "},
  };
  for (const auto& failure : failures) {
    SCOPED_TRACE(failure.message);
    const Json& error = run.error(failure.id);
    EXPECT_EQ(error["code"], failure.code);
    const std::string message = error["message"];
    EXPECT_TRUE(message.starts_with(failure.message)) << message;
    EXPECT_NE(message.find(missing), std::string::npos) << message;
  }
  // Icons never fail: there are none, and standard error says why.
  EXPECT_EQ(run.result(4), (Json{{"icons", Json::array()}}));
  EXPECT_NE(run.err.find("wren-mac-helper: drawing file icons is unavailable: "), std::string::npos) << run.err;
  EXPECT_EQ(run.reply(5)["ok"], true);
  EXPECT_EQ(run.reply(6)["ok"], true);
}

TEST_F(DesktopModuleE2e, TheModuleIsFoundBesideTheExecutable) {
  const fs::path folder = installCopy(true);
  HelperRun run = helper_.run({requestLine(1, "icons.files", {{"paths", {folder.string()}}, {"size", 16}})});
  ASSERT_EQ(run.result(1)["icons"].size(), 1u) << run.out << run.err;
  EXPECT_EQ(run.result(1)["icons"][0]["path"], folder.string());
}

}  // namespace
}  // namespace wren::testing

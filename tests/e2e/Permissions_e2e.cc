// The permission methods through the built helper: its embedded property list read with
// independent tools, and consent dialogs answered by a scripted dialog program.

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/ElfSection.h"
#include "support/HelperProcess.h"
#include "support/ScriptedDialog.h"
#include "support/TemporaryFolder.h"

namespace wren::testing {
namespace {

constexpr const char* kPrefix = "x-apple.systempreferences:com.apple.preference.security?";

const std::string kCalendarText =
    "你的助理要查看、新建你在「日历」里的日程(只在你于 Wren → 设置 → 设备 里连上「日历」之后)。";
const std::string kRemindersText =
    "你的助理要查看、新建你在「提醒事项」里的提醒(只在你于 Wren → 设置 → 设备 里连上「提醒事项」之后)。";
const std::string kContactsText =
    "你的助理要查找、管理你的联系人(只在你于 Wren → 设置 → 设备 里连上「通讯录」之后)。";
const std::string kLocationText =
    "你的助理要用这台电脑的位置回答「附近」「我在哪」这类问题(只在你于 Wren → 设置 → 设备 里连上「位置」之后)。";
const std::string kAppleEventsText =
    "你的助理要操作「邮件」「备忘录」「信息」等 App(只在你于 Wren → 设置 → 设备 里连上对应的那一项之后)。";

TEST(EmbeddedPropertyList, HoldsExactlyTheKeysAndTextsOfTheConsentPrompts) {
  if (!haveCommand("objcopy") || !haveCommand("python3")) GTEST_SKIP() << "needs objcopy and python3";
  TemporaryFolder folder("wren-plist");
  std::filesystem::path section = folder.path() / "info.plist";
  // binutils cuts the section out, Python's plistlib reads it: neither is the helper's code.
  Command cut = runCommand("objcopy --dump-section .info_plist='" + section.string() + "' '" +
                           std::string(WREN_HELPER_PATH) + "' '" + (folder.path() / "copy").string() + "' 2>&1");
  ASSERT_EQ(cut.status, 0) << cut.out;
  std::filesystem::path reader = folder.write(
      "read.py", "import json, plistlib, sys\nprint(json.dumps(plistlib.load(open(sys.argv[1], 'rb'))))\n");
  Command read = runCommand("python3 '" + reader.string() + "' '" + section.string() + "' 2>&1");
  ASSERT_EQ(read.status, 0) << read.out;
  Json info = Json::parse(read.out);
  ASSERT_TRUE(info.is_object());
  EXPECT_EQ(info.size(), 11u) << info.dump();
  const std::pair<const char*, std::string> expected[] = {
      {"CFBundleName", "Wren"},
      {"CFBundleShortVersionString", "1.0"},
      {"NSCalendarsUsageDescription", kCalendarText},
      {"NSCalendarsFullAccessUsageDescription", kCalendarText},
      {"NSRemindersUsageDescription", kRemindersText},
      {"NSRemindersFullAccessUsageDescription", kRemindersText},
      {"NSContactsUsageDescription", kContactsText},
      {"NSLocationUsageDescription", kLocationText},
      {"NSLocationWhenInUseUsageDescription", kLocationText},
      {"NSAppleEventsUsageDescription", kAppleEventsText},
  };
  for (const auto& [key, text] : expected) {
    SCOPED_TRACE(key);
    EXPECT_EQ(info.value(key, Json()), text);
  }
  // A reverse-DNS identifier: at least three dot-separated labels of letters, digits and "-".
  ASSERT_TRUE(info["CFBundleIdentifier"].is_string());
  std::string identifier = info["CFBundleIdentifier"];
  EXPECT_GE(std::count(identifier.begin(), identifier.end(), '.'), 2) << identifier;
  EXPECT_EQ(identifier.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789.-"), std::string::npos) << identifier;
  // The helper's own reader finds the same bytes.
  EXPECT_EQ(platform::elfSection(WREN_HELPER_PATH, ".info_plist"), HelperProcess::readFile(section));
}

class PermissionsE2e : public ::testing::Test {
 protected:
  // The scripted dialog first on PATH, and a display that is not there: the dialog program
  // is a script, never a real window.
  void useDialog(const ScriptedDialog& dialog) {
    helper_.setEnv("PATH", dialog.searchPath() + ":/usr/bin:/bin");
    helper_.setEnv("DISPLAY", ":wren-test");
  }
  Json privacy() const { return Json::parse(HelperProcess::readFile(helper_.dataRoot() / "privacy.json")); }

  HelperProcess helper_;
};

Json answer(const std::string& status, const std::string& anchor) {
  return Json{{"status", status}, {"settingsUrl", std::string(kPrefix) + anchor}};
}

TEST_F(PermissionsE2e, AGrantInTheDialogOpensTheCalendar) {
  ScriptedDialog dialog("exit 0");
  useDialog(dialog);
  HelperRun asked = helper_.run({requestLine(1, "permissions.request", {{"kind", "calendar"}})});
  EXPECT_EQ(asked.result(1), answer("granted", "Privacy_Calendars"));
  ASSERT_EQ(dialog.runs().size(), 1u);
  EXPECT_EQ(dialog.runs()[0],
            (std::vector<std::string>{"--question", "--no-markup", "--title=Wren", "--text=" + kCalendarText}));
  EXPECT_EQ(privacy(), (Json{{"calendar", "granted"}}));

  // The next run finds the calendar made at the grant and asks no more.
  HelperRun after = helper_.run({requestLine(2, "permissions.status"), requestLine(3, "calendar.calendars.list"),
                                 requestLine(4, "permissions.request", {{"kind", "calendar"}})});
  EXPECT_EQ(after.result(2)["calendar"], "granted");
  ASSERT_TRUE(after.reply(3)["ok"]) << after.reply(3).dump();
  EXPECT_NE(after.result(3).dump().find("\"Calendar\""), std::string::npos) << after.result(3).dump();
  EXPECT_EQ(after.result(4), answer("granted", "Privacy_Calendars"));
  EXPECT_EQ(dialog.runs().size(), 1u);
}

TEST_F(PermissionsE2e, WithoutADisplayNothingIsAskedOrRecorded) {
  ScriptedDialog dialog("exit 0");
  helper_.setEnv("PATH", dialog.searchPath() + ":/usr/bin:/bin");
  HelperRun run = helper_.run({requestLine(1, "permissions.request", {{"kind", "contacts"}}),
                               requestLine(2, "permissions.request", {{"kind", "reminders"}})});
  EXPECT_EQ(run.result(1), answer("not_determined", "Privacy_Contacts"));
  EXPECT_EQ(run.result(2), answer("not_determined", "Privacy_Reminders"));
  EXPECT_TRUE(dialog.runs().empty());
  EXPECT_FALSE(std::filesystem::exists(helper_.dataRoot() / "privacy.json"));
}

TEST_F(PermissionsE2e, AnOpenDialogHoldsUpNoOtherRequest) {
  ScriptedDialog dialog("sleep 0.5; exit 1");
  useDialog(dialog);
  HelperRun run = helper_.run({requestLine(1, "permissions.request", {{"kind", "contacts"}}),
                               requestLine(2, "permissions.status")});
  ASSERT_EQ(run.replies.size(), 2u);
  EXPECT_EQ(run.replies[0]["id"], 2);
  EXPECT_EQ(run.result(2)["contacts"], "not_determined");
  EXPECT_EQ(run.result(1), answer("denied", "Privacy_Contacts"));
  EXPECT_FALSE(std::filesystem::exists(helper_.dataRoot() / "contacts"));
}

TEST_F(PermissionsE2e, APrivacyFileThatIsNotJsonIsKeptBeforeItIsRewritten) {
  ScriptedDialog dialog("exit 0");
  useDialog(dialog);
  const std::string broken = "{\"calendar\": \"granted\",\n";
  helper_.writeFile("wren/privacy.json", broken);
  HelperRun run = helper_.run({requestLine(1, "permissions.status")});
  for (const char* kind : {"calendar", "reminders", "contacts"}) EXPECT_EQ(run.result(1)[kind], "not_determined");
  HelperRun asked = helper_.run({requestLine(2, "permissions.request", {{"kind", "contacts"}})});
  EXPECT_EQ(asked.result(2), answer("granted", "Privacy_Contacts"));
  EXPECT_EQ(privacy(), (Json{{"contacts", "granted"}}));
  EXPECT_EQ(HelperProcess::readFile(helper_.dataRoot() / "privacy.json.broken"), broken);
  EXPECT_EQ(HelperProcess::readFile(helper_.dataRoot() / "contacts/default/displayname"), "Contacts");
}

}  // namespace
}  // namespace wren::testing

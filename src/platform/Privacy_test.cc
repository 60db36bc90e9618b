#include "platform/Privacy.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "base/Json.h"
#include "platform/files/AtomicFile.h"
#include "platform/files/FileError.h"
#include "support/ScopedDataHome.h"
#include "support/StoreTestSupport.h"

namespace wren::platform {
namespace {

using vdir::testing::entryNames;
using vdir::testing::readText;
using vdir::testing::writeElsewhere;

TEST(PrivacyDecision, ReadsOnlyStringValuesOfAnObject) {
  struct Case {
    const char* name;
    std::optional<std::string> file;  // nothing: no privacy.json
    std::optional<std::string> calendar;  // nothing: not decided
    std::optional<std::string> location;
  };
  const std::vector<Case> cases = {
      {"no file", std::nullopt, std::nullopt, std::nullopt},
      {"not JSON", "{calendar: granted", std::nullopt, std::nullopt},
      {"an array", R"(["granted"])", std::nullopt, std::nullopt},
      {"values as written", R"({"calendar":"write_only","location":"denied"})", "write_only", "denied"},
      {"unknown strings kept", R"({"calendar":"limited"})", "limited", std::nullopt},
      {"an empty string is a value", R"({"calendar":"","location":""})", "", ""},
      {"wrong types", R"({"calendar":true,"location":{"a":1}})", std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedDataHome home;
    if (c.file) home.write("privacy.json", *c.file);
    EXPECT_EQ(privacyDecision(PrivacyKind::Calendar), c.calendar);
    EXPECT_EQ(privacyDecision(PrivacyKind::Location), c.location);
    EXPECT_EQ(privacyDecision(PrivacyKind::Reminders), std::nullopt);
  }
}

TEST(PrivacyDecision, AFileThatIsNoFileDecidesNothing) {
  // Neither a FIFO without a writer nor an endless device holds the call up.
  ScopedDataHome home;
  ASSERT_EQ(mkfifo((home.root() / "privacy.json").c_str(), 0600), 0);
  EXPECT_EQ(privacyDecision(PrivacyKind::Calendar), std::nullopt);
  std::filesystem::remove(home.root() / "privacy.json");
  std::filesystem::create_symlink("/dev/zero", home.root() / "privacy.json");
  EXPECT_EQ(privacyDecision(PrivacyKind::Calendar), std::nullopt);
}

TEST(PrivacyDecision, IsReadAfreshOnEveryCall) {
  ScopedDataHome home;
  home.write("privacy.json", R"({"contacts":"denied"})");
  EXPECT_EQ(privacyDecision(PrivacyKind::Contacts), "denied");
  home.write("privacy.json", R"({"contacts":"granted"})");
  EXPECT_EQ(privacyDecision(PrivacyKind::Contacts), "granted");
}

TEST(RecordPrivacyDecision, KeepsKeysItDoesNotKnow) {
  ScopedDataHome home;
  home.write("privacy.json", R"({"screen":"granted","future_kind":{"x":[1,2]}})");
  recordPrivacyDecision(PrivacyKind::Reminders, "denied");
  recordPrivacyDecision(PrivacyKind::Screen, "restricted");
  Json written = Json::parse(readText(home.root() / "privacy.json"));
  EXPECT_EQ(written, (Json{{"screen", "restricted"}, {"future_kind", {{"x", {1, 2}}}}, {"reminders", "denied"}}));
  EXPECT_EQ(privacyDecision(PrivacyKind::Reminders), "denied");
  // The temporary file of the atomic write is gone.
  EXPECT_EQ(entryNames(home.root()), (std::set<std::string>{"privacy.json"}));
}

TEST(RecordPrivacyDecision, KeepsACopyOfAFileThatIsNotAnObject) {
  ScopedDataHome home;
  home.write("privacy.json.broken", "an older copy");
  for (const char* broken : {"not json", R"(["granted"])", ""}) {
    SCOPED_TRACE(broken);
    home.write("privacy.json", broken);
    recordPrivacyDecision(PrivacyKind::Accessibility, "granted");
    EXPECT_EQ(Json::parse(readText(home.root() / "privacy.json")), (Json{{"accessibility", "granted"}}));
  }
  // Each broken file under a name of its own; an older copy is never overwritten.
  EXPECT_EQ(readText(home.root() / "privacy.json.broken"), "an older copy");
  EXPECT_EQ(readText(home.root() / "privacy.json.broken-2"), "not json");
  EXPECT_EQ(readText(home.root() / "privacy.json.broken-3"), R"(["granted"])");
  EXPECT_EQ(readText(home.root() / "privacy.json.broken-4"), "");
}

TEST(RecordPrivacyDecision, MakesTheDataRoot) {
  ScopedDataHome home;
  std::filesystem::remove_all(home.root());
  recordPrivacyDecision(PrivacyKind::Location, "denied");
  EXPECT_EQ(privacyDecision(PrivacyKind::Location), "denied");
  EXPECT_EQ(entryNames(home.root()), (std::set<std::string>{"privacy.json"}));
}

TEST(RecordPrivacyDecision, LeavesAFileItCannotReadAsItIs) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  ScopedDataHome home;
  std::filesystem::path file = home.write("privacy.json", R"({"calendar":"denied"})");
  std::filesystem::permissions(file, std::filesystem::perms::none);
  EXPECT_THROW(recordPrivacyDecision(PrivacyKind::Calendar, "granted"), FileError);
  std::filesystem::permissions(file, std::filesystem::perms::owner_read);
  EXPECT_EQ(readText(file), R"({"calendar":"denied"})");
}

TEST(RecordPrivacyDecision, DecisionsRecordedAtOnceAllStay) {
  ScopedDataHome home;
  const PrivacyKind kinds[] = {PrivacyKind::Calendar, PrivacyKind::Reminders, PrivacyKind::Contacts,
                               PrivacyKind::Location, PrivacyKind::Accessibility, PrivacyKind::Screen};
  for (int round = 0; round < 5; ++round) {
    std::filesystem::remove(home.root() / "privacy.json");
    std::vector<std::thread> writers;
    for (PrivacyKind kind : kinds) writers.emplace_back([kind] { recordPrivacyDecision(kind, "granted"); });
    for (std::thread& writer : writers) writer.join();
    for (PrivacyKind kind : kinds) EXPECT_EQ(privacyDecision(kind), "granted");
  }
}

TEST(RecordPrivacyDecision, KeepsWhatAnotherProgramWritesMeanwhile) {
  ScopedDataHome home;
  const std::filesystem::path path = home.root() / "privacy.json";
  home.write("privacy.json", R"({"calendar":"granted"})");
  // Another program records a decision of its own between the reading and the writing.
  int writes = 0;
  {
    ReplaceHookForTesting hook([&](const std::filesystem::path& target) {
      if (target == path && writes++ == 0) writeElsewhere(path, R"({"calendar":"granted","location":"denied"})");
    });
    recordPrivacyDecision(PrivacyKind::Contacts, "denied");
  }
  EXPECT_EQ(Json::parse(readText(path)),
            (Json{{"calendar", "granted"}, {"location", "denied"}, {"contacts", "denied"}}));

  // A program that never stops rewriting the file wins: its version stays.
  {
    ReplaceHookForTesting hook([&](const std::filesystem::path& target) {
      if (target == path) writeElsewhere(path, R"({"screen":"granted","n":)" + std::to_string(++writes) + "}");
    });
    EXPECT_THROW(recordPrivacyDecision(PrivacyKind::Location, "granted"), FileChangedError);
  }
  EXPECT_EQ(Json::parse(readText(path)), (Json{{"screen", "granted"}, {"n", writes}}));
  EXPECT_EQ(entryNames(home.root()), (std::set<std::string>{"privacy.json"}));
}

}  // namespace
}  // namespace wren::platform

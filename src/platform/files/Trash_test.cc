#include "platform/files/Trash.h"

#include <gtest/gtest.h>

#include <regex>

#include "platform/files/FileError.h"
#include "support/ScopedDataHome.h"
#include "support/TimeZoneGuard.h"
#include "support/StoreTestSupport.h"

namespace wren::platform {
namespace {

using vdir::testing::entryNames;
using vdir::testing::EnvironmentVariable;
using vdir::testing::readText;
using vdir::testing::writeText;

TEST(TrashFolder, LivesInTheDataHome) {
  EnvironmentVariable home("HOME", "/home/someone");
  {
    EnvironmentVariable dataHome("XDG_DATA_HOME", "/srv/data");
    EXPECT_EQ(trashFolder(), std::filesystem::path("/srv/data/Trash"));
  }
  EnvironmentVariable dataHome("XDG_DATA_HOME", std::nullopt);
  EXPECT_EQ(trashFolder(), std::filesystem::path("/home/someone/.local/share/Trash"));
}

TEST(TrashInfo, EscapesThePathAndGivesTheLocalDeletionTime) {
  TimeZoneGuard zone("Asia/Shanghai");
  struct Case {
    std::string path;
    std::string escaped;
  };
  const std::vector<Case> cases = {
      {"/data/calendars/work/team", "/data/calendars/work/team"},
      {"/data/My Calendar/a%b", "/data/My%20Calendar/a%25b"},
      {"/data/caf\xC3\xA9/#1?x", "/data/caf%C3%A9/%231%3Fx"},
  };
  // 2025-03-01 01:02:03 UTC is 09:02:03 in Shanghai.
  const std::time_t deletion = 1740790923;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(trashInfoText(c.path, deletion),
              "[Trash Info]\nPath=" + c.escaped + "\nDeletionDate=2025-03-01T09:02:03\n");
  }
}

TEST(MoveToTrash, MovesTheFolderWithItsFilesAndRecordsWhereItWas) {
  ScopedDataHome home;
  std::filesystem::path team = home.root() / "calendars/work/team";
  writeText(team / "meeting.ics", "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n");
  std::filesystem::path trashed = moveToTrash(team);

  EXPECT_EQ(trashed, home.home() / "Trash/files/team");
  EXPECT_FALSE(std::filesystem::exists(team));
  EXPECT_EQ(readText(trashed / "meeting.ics"), "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n");
  std::string info = readText(home.home() / "Trash/info/team.trashinfo");
  EXPECT_TRUE(std::regex_match(info, std::regex("\\[Trash Info\\]\nPath=" + team.string() +
                                                "\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n")))
      << info;
}

TEST(MoveToTrash, PicksAFreeNameWhenTheNameIsTaken) {
  ScopedDataHome home;
  std::filesystem::path folder = home.root() / "calendars/home/team";
  std::vector<std::filesystem::path> trashed;
  for (int i = 0; i < 3; ++i) {
    writeText(folder / "displayname", "Team " + std::to_string(i));
    trashed.push_back(moveToTrash(folder));
  }
  EXPECT_EQ(trashed, (std::vector<std::filesystem::path>{home.home() / "Trash/files/team",
                                                          home.home() / "Trash/files/team.2",
                                                          home.home() / "Trash/files/team.3"}));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(readText(trashed[i] / "displayname"), "Team " + std::to_string(i));
  EXPECT_EQ(entryNames(home.home() / "Trash/info"),
            (std::set<std::string>{"team.trashinfo", "team.2.trashinfo", "team.3.trashinfo"}));
}

TEST(MoveToTrash, AMissingPathFailsAndRecordsNothing) {
  ScopedDataHome home;
  std::filesystem::path missing = home.root() / "calendars/home/nothing";
  try {
    moveToTrash(missing);
    FAIL() << "a missing folder was trashed";
  } catch (const FileError& error) {
    EXPECT_EQ(std::string(error.what()), "lstat(" + missing.string() + "): No such file or directory");
  }
  EXPECT_TRUE(entryNames(home.home() / "Trash/info").empty());
}

TEST(MoveToTrash, AnotherFileSystemFailsInsteadOfCopying) {
  // /dev/shm is a separate file system (tmpfs) on Linux machines; the data home is not.
  std::filesystem::path elsewhere = "/dev/shm";
  ScopedDataHome home;
  std::error_code error;
  if (!std::filesystem::is_directory(elsewhere, error) ||
      std::filesystem::space(elsewhere).capacity == std::filesystem::space(home.home()).capacity)
    GTEST_SKIP() << "no second file system to move from";
  std::string pattern = (elsewhere / "wren-trash-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  std::filesystem::path folder = pattern;
  writeText(folder / "item.ics", "x");
  EXPECT_THROW(moveToTrash(folder), FileError);
  EXPECT_EQ(readText(folder / "item.ics"), "x");
  EXPECT_TRUE(entryNames(home.home() / "Trash/info").empty());
  EXPECT_TRUE(entryNames(home.home() / "Trash/files").empty());
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace wren::platform

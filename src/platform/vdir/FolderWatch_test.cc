#include "platform/vdir/FolderWatch.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace wren::platform::vdir {
namespace {

namespace fs = std::filesystem;

class FolderWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/wren-watch-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    root_ = pattern;
    folder_ = root_ / "calendar";
    fs::create_directories(folder_);
    if (!changesAreSeenLocally(folder_)) GTEST_SKIP() << "the temporary folder is not on a local file system";
  }
  void TearDown() override { fs::remove_all(root_); }
  void write(const std::string& name, const std::string& text, std::ios::openmode mode = std::ios::trunc) {
    std::ofstream(folder_ / name, std::ios::binary | std::ios::out | mode) << text;
  }
  static std::set<std::string> names(std::initializer_list<const char*> list) { return {list.begin(), list.end()}; }

  fs::path root_, folder_;
  FolderWatch watch_;
};

TEST_F(FolderWatchTest, FirstLookIsEverythingThenOnlyWhatChanged) {
  write("a.ics", "a");
  EXPECT_TRUE(watch_.take(folder_).everything);
  FolderChanges quiet = watch_.take(folder_);
  EXPECT_FALSE(quiet.everything);
  EXPECT_TRUE(quiet.names.empty());

  write("a.ics", " more", std::ios::app);
  write("b.ics", "b");
  FolderChanges changes = watch_.take(folder_);
  EXPECT_FALSE(changes.everything);
  EXPECT_EQ(changes.names, names({"a.ics", "b.ics"}));
  EXPECT_TRUE(watch_.take(folder_).names.empty()) << "each change is told once";
}

TEST_F(FolderWatchTest, RenamesRemovalsAndTimeChangesAreNamed) {
  write("a.ics", "a");
  write(".tmp", "new a");
  watch_.take(folder_);
  fs::rename(folder_ / ".tmp", folder_ / "a.ics");
  EXPECT_EQ(watch_.take(folder_).names, names({".tmp", "a.ics"}));
  fs::remove(folder_ / "a.ics");
  EXPECT_EQ(watch_.take(folder_).names, names({"a.ics"}));
  write("c.ics", "c");
  watch_.take(folder_);
  ASSERT_EQ(utimensat(AT_FDCWD, (folder_ / "c.ics").c_str(), nullptr, 0), 0);
  EXPECT_EQ(watch_.take(folder_).names, names({"c.ics"}));
}

TEST_F(FolderWatchTest, AReplacedOrRemovedFolderIsEverything) {
  watch_.take(folder_);
  fs::rename(folder_, root_ / "moved");
  fs::create_directories(folder_);
  EXPECT_TRUE(watch_.take(folder_).everything);
  EXPECT_FALSE(watch_.take(folder_).everything) << "the new folder is watched from then on";
  fs::remove_all(folder_);
  EXPECT_TRUE(watch_.take(folder_).everything);
}

}  // namespace
}  // namespace wren::platform::vdir

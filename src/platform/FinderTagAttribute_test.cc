#include "platform/FinderTagAttribute.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <functional>

#include "platform/files/FileError.h"
#include "platform/PropertyList.h"
#include "support/TaggableFolder.h"

namespace wren::platform {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using wren::testing::TaggableFolder;

// The errno of the FileError the action throws, or 0.
int failureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const FileError& failure) {
    return failure.error();
  }
  return 0;
}

class FinderTagAttributeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!folder_.usable()) GTEST_SKIP() << TaggableFolder::skipReason();
  }
  void setRaw(const fs::path& file, const std::string& bytes) {
    ASSERT_EQ(setxattr(file.c_str(), kTagAttributeName, bytes.data(), bytes.size(), 0), 0) << strerror(errno);
  }
  TaggableFolder folder_;
};

TEST_F(FinderTagAttributeTest, WritesReadsAndRemoves) {
  std::string file = folder_.file("report.pdf", "contents").string();
  EXPECT_EQ(readTagStrings(file), Strings{});
  struct stat before {};
  stat(file.c_str(), &before);
  writeTagStrings(file, {"Work", "Urgent\n6"});
  EXPECT_EQ(readTagStrings(file), (Strings{"Work", "Urgent\n6"}));
  struct stat after {};
  stat(file.c_str(), &after);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  writeTagStrings(file, {});
  EXPECT_EQ(getxattr(file.c_str(), kTagAttributeName, nullptr, 0), -1);
  EXPECT_EQ(errno, ENODATA);
  // Removing what is not there is no failure.
  writeTagStrings(file, {});
}

TEST_F(FinderTagAttributeTest, FollowsSymbolicLinksAndTagsFolders) {
  fs::path file = folder_.file("target.txt");
  fs::create_symlink(file, folder_.path() / "link");
  writeTagStrings((folder_.path() / "link").string(), {"Linked"});
  EXPECT_EQ(readTagStrings(file.string()), Strings{"Linked"});
  fs::create_directory(folder_.path() / "Projects");
  writeTagStrings((folder_.path() / "Projects").string(), {"Folder\n2"});
  EXPECT_EQ(readTagStrings((folder_.path() / "Projects").string()), Strings{"Folder\n2"});
}

TEST_F(FinderTagAttributeTest, UnreadableAttributesHoldNoTags) {
  fs::path file = folder_.file("odd.txt");
  for (const std::string& bytes : {std::string("garbage"), std::string(3000, '\xff'),
                                   binaryPropertyListOfStrings({}).substr(0, 20), std::string()}) {
    setRaw(file, bytes);
    EXPECT_EQ(readTagStrings(file.string()), Strings{});
  }
}

TEST_F(FinderTagAttributeTest, LongListsAreReadWhole) {
  // Several kilobytes of tags: more than a first small read takes.
  Strings many;
  for (int i = 0; i < 400; ++i) many.push_back("Tag number " + std::to_string(i) + "\n" + std::to_string(i % 8));
  std::string bytes = binaryPropertyListOfStrings(many);
  ASSERT_GT(bytes.size(), 4096u);
  fs::path file = folder_.file("long.txt");
  if (setxattr(file.c_str(), kTagAttributeName, bytes.data(), bytes.size(), 0) != 0)
    GTEST_SKIP() << "this file system keeps no attribute of " << bytes.size() << " bytes: " << strerror(errno);
  EXPECT_EQ(readTagStrings(file.string()), many);
}

TEST_F(FinderTagAttributeTest, FifosAreNeverOpened) {
  fs::path fifo = folder_.path() / "pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Nobody writes to the FIFO: opening it would block the test for good.
  EXPECT_EQ(readTagStrings(fifo.string()), Strings{});
  EXPECT_EQ(failureOf([&] { writeTagStrings(fifo.string(), {"Work"}); }), ENOTSUP);
  writeTagStrings(fifo.string(), {});
}

TEST_F(FinderTagAttributeTest, FailuresNameTheErrno) {
  std::string missing = (folder_.path() / "missing").string();
  EXPECT_EQ(failureOf([&] { readTagStrings(missing); }), ENOENT);
  EXPECT_EQ(failureOf([&] { writeTagStrings(missing, {"Work"}); }), ENOENT);
  EXPECT_EQ(failureOf([&] { writeTagStrings(missing, {}); }), ENOENT);
  std::string file = folder_.file("plain.txt").string();
  EXPECT_EQ(failureOf([&] { readTagStrings(file + "/below"); }), ENOTDIR);
  std::string longPath = folder_.path().string() + "/" + std::string(5000, 'n');
  EXPECT_EQ(failureOf([&] { readTagStrings(longPath); }), ENAMETOOLONG);
  // A NUL would cut the path short at the system call, naming another file: plain.txt.
  std::string cut = file + std::string("\0.hidden", 8);
  EXPECT_EQ(failureOf([&] { readTagStrings(cut); }), ENOENT);
  EXPECT_EQ(failureOf([&] { writeTagStrings(cut, {"Work"}); }), ENOENT);
  EXPECT_EQ(readTagStrings(file), Strings{});
}

TEST_F(FinderTagAttributeTest, NamesWithNewlinesAndForeignBytesAreFilesLikeOthers) {
  for (const std::string& name : {std::string("two\nlines"), std::string("caf\xe9-latin1"), std::string(" lead")}) {
    SCOPED_TRACE(name);
    std::string file = folder_.file(name).string();
    writeTagStrings(file, {"Work"});
    EXPECT_EQ(readTagStrings(file), Strings{"Work"});
  }
}

}  // namespace
}  // namespace wren::platform

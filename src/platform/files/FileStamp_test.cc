#include "platform/files/FileStamp.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "platform/files/FileDescriptor.h"
#include "platform/files/FileError.h"
#include "support/ScopedDataHome.h"
#include "support/StoreTestSupport.h"

namespace wren::platform {
namespace {

using vdir::testing::writeText;

TEST(FileStamps, EveryNewVersionGetsANewStamp) {
  ScopedDataHome home;
  const std::filesystem::path path = home.root() / "a.ics";
  writeText(path, "one");
  const std::optional<FileVersion> first = readFileVersion(path);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->text, "one");
  EXPECT_EQ(stampOf(path), first->stamp);

  // Rewritten in place with text of the same size, one second back in time.
  writeText(path, "two");
  const timespec past[2] = {{1, 0}, {1, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), past, 0), 0);
  const std::optional<FileStamp> inPlace = stampOf(path);
  ASSERT_TRUE(inPlace);
  EXPECT_NE(*inPlace, first->stamp);

  // Replaced by rename with the same size and modification time: the inode tells them apart.
  writeText(home.root() / "b.ics", "two");
  ASSERT_EQ(utimensat(AT_FDCWD, (home.root() / "b.ics").c_str(), past, 0), 0);
  std::filesystem::rename(home.root() / "b.ics", path);
  const std::optional<FileStamp> renamed = stampOf(path);
  ASSERT_TRUE(renamed);
  EXPECT_EQ(renamed->mtimeNs, inPlace->mtimeNs);
  EXPECT_EQ(renamed->size, inPlace->size);
  EXPECT_NE(*renamed, *inPlace);
}

TEST(FileStamps, OnlyRegularFilesHaveVersions) {
  ScopedDataHome home;
  const std::filesystem::path fifo = home.root() / "pipe.ics";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_directories(home.root() / "folder.ics");
  std::filesystem::create_symlink(home.root() / "missing.ics", home.root() / "dangling.ics");
  writeText(home.root() / "target.ics", "x");
  std::filesystem::create_symlink(home.root() / "target.ics", home.root() / "link.ics");

  // A FIFO with no writer is refused at once instead of blocking the reader.
  for (const char* name : {"pipe.ics", "folder.ics", "dangling.ics", "absent.ics"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(stampOf(home.root() / name));
    EXPECT_FALSE(readFileVersion(home.root() / name));
  }
  const std::optional<FileVersion> linked = readFileVersion(home.root() / "link.ics");
  ASSERT_TRUE(linked);
  EXPECT_EQ(linked->text, "x");
  EXPECT_EQ(linked->stamp, stampOf(home.root() / "target.ics"));
}

// Whether the descriptor is open in this process.
bool isOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

TEST(FileDescriptors, CloseOnceWhoeverOwnsThem) {
  int raw = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(raw, 0);
  {
    FileDescriptor first(raw);
    FileDescriptor second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_TRUE(second);
    FileDescriptor third;
    third = std::move(second);
    EXPECT_EQ(third.get(), raw);
    EXPECT_TRUE(isOpen(raw));
  }
  EXPECT_FALSE(isOpen(raw));

  FileDescriptor explicitClose(open("/dev/null", O_RDONLY | O_CLOEXEC));
  const int closed = explicitClose.get();
  EXPECT_EQ(explicitClose.close(), 0);
  EXPECT_FALSE(isOpen(closed));
  EXPECT_FALSE(explicitClose);
  EXPECT_FALSE(FileDescriptor(open("/no/such/file", O_RDONLY | O_CLOEXEC)));
}

TEST(FileErrors, KeepTheCallThePathAndTheErrorNumber) {
  const FileError error("renameat2", "/data/calendars/a b.ics", EEXIST);
  EXPECT_STREQ(error.what(), "renameat2(/data/calendars/a b.ics): File exists");
  EXPECT_EQ(error.call(), "renameat2");
  EXPECT_EQ(error.path(), std::filesystem::path("/data/calendars/a b.ics"));
  EXPECT_EQ(error.error(), EEXIST);
}

}  // namespace
}  // namespace wren::platform

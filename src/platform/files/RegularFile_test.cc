#include "platform/files/RegularFile.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "support/TemporaryFolder.h"

namespace wren::platform {
namespace {

namespace fs = std::filesystem;

class RegularFileTest : public ::testing::Test {
 protected:
  fs::path write(const std::string& name, const std::string& text) { return temporary_.write(name, text); }

  wren::testing::TemporaryFolder temporary_{"wren-regular"};
  const fs::path& folder_ = temporary_.path();
};

// The failure of a read that is expected to fail, or a failure with an empty call when it
// succeeded.
ReadFailure failureOf(const fs::path& path, std::size_t maxBytes) {
  auto read = readRegular(path, maxBytes);
  if (auto* failure = std::get_if<ReadFailure>(&read)) return *failure;
  return {"", 0};
}

TEST_F(RegularFileTest, ReadsRegularFilesWithTheirVersion) {
  const fs::path path = write("a.ics", "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n");
  auto read = readRegular(path, 64);
  ASSERT_TRUE(std::holds_alternative<RegularFileText>(read));
  const RegularFileText& file = std::get<RegularFileText>(read);
  EXPECT_EQ(file.text, "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n");
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(file.info.st_ino, info.st_ino);
  EXPECT_EQ(readRegularFile(write("empty", ""), 0), "");
  fs::create_symlink(path, folder_ / "link.ics");
  EXPECT_EQ(readRegularFile(folder_ / "link.ics", 64), file.text);
}

TEST_F(RegularFileTest, ACapRefusesOrCutsLongerFiles) {
  const fs::path path = write("long", std::string(10000, 'x'));
  EXPECT_EQ(readRegularFile(path, 10000)->size(), 10000u);
  EXPECT_EQ(readRegularFile(path, 9999), std::nullopt);
  const ReadFailure failure = failureOf(path, 9999);
  EXPECT_STREQ(failure.call, "read");
  EXPECT_EQ(failure.error, EFBIG);
  auto cut = readRegular(path, 10, Overlong::Cut);
  ASSERT_TRUE(std::holds_alternative<RegularFileText>(cut));
  EXPECT_EQ(std::get<RegularFileText>(cut).text, "xxxxxxxxxx");
}

TEST_F(RegularFileTest, AHugeSparseFileIsRefusedWithoutReadingIt) {
  // A terabyte that takes no disk space: reading it, or making room for it, would be the end
  // of the process.
  const fs::path path = write("huge.ics", "");
  ASSERT_EQ(truncate(path.c_str(), off_t{1} << 40), 0);
  const auto began = std::chrono::steady_clock::now();
  const ReadFailure failure = failureOf(path, kItemFileBytes);
  EXPECT_EQ(failure.error, EFBIG);
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(1));
}

TEST_F(RegularFileTest, OnlyRegularFilesAreOpenedAndNothingWaits) {
  ASSERT_EQ(mkfifo((folder_ / "fifo").c_str(), 0600), 0);
  fs::create_directory(folder_ / "folder");
  fs::create_symlink("/dev/zero", folder_ / "zero");
  struct Case {
    const char* name;
    int error;
  };
  // A FIFO without a writer would hold a blocking open forever; /dev/zero never ends.
  const Case cases[] = {{"fifo", ENODEV}, {"zero", ENODEV}, {"folder", EISDIR}, {"missing", ENOENT}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ReadFailure failure = failureOf(folder_ / c.name, kMetadataFileBytes);
    EXPECT_STREQ(failure.call, "open");
    EXPECT_EQ(failure.error, c.error);
    EXPECT_FALSE(openRegularFile(folder_ / c.name));
  }
  FileDescriptor file = openRegularFile(write("plain", "x"));
  ASSERT_TRUE(file);
  // The descriptor handed out reads as any other: blocking.
  EXPECT_EQ(fcntl(file.get(), F_GETFL) & O_NONBLOCK, 0);
}

}  // namespace
}  // namespace wren::platform

#include "platform/files/KernelFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/TemporaryFolder.h"

namespace wren::platform {
namespace {

namespace fs = std::filesystem;

class KernelFilesTest : public ::testing::Test {
 protected:
  fs::path write(const std::string& name, const std::string& text) { return temporary_.write(name, text); }

  wren::testing::TemporaryFolder temporary_{"wren-kernel"};
  const fs::path& folder_ = temporary_.path();
};

TEST(ParseDecimal, TakesOnlyWholeNumbersInRange) {
  struct Case {
    const char* text;
    std::optional<int64_t> value;
  };
  const Case cases[] = {
      {"42", 42},    {"-7", -7},  {"0", 0},   {"9223372036854775807", INT64_MAX}, {"", {}}, {"+5", {}}, {"4.5", {}},
      {"12abc", {}}, {"abc", {}}, {" 3", {}}, {"9223372036854775808", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parseDecimal(c.text), c.value);
  }
}

TEST_F(KernelFilesTest, ValuesAreTheFirstLineWithoutBlanks) {
  EXPECT_EQ(readKernelValue(write("status", "Charging\n")), "Charging");
  EXPECT_EQ(readKernelValue(write("type", "  Battery \t\nsecond line\n")), "Battery");
  EXPECT_EQ(readKernelValue(write("empty", "")), std::nullopt);
  EXPECT_EQ(readKernelValue(write("blank", " \n")), std::nullopt);
  EXPECT_EQ(readKernelValue(folder_ / "missing"), std::nullopt);
  EXPECT_EQ(readKernelInteger(write("capacity", "87\n")), 87);
  EXPECT_EQ(readKernelInteger(write("garbage", "eighty\n")), std::nullopt);
}

TEST_F(KernelFilesTest, ReadsNoMoreThanTheCap) {
  fs::path big = write("big", std::string(100000, 'x'));
  EXPECT_EQ(readKernelFile(big, 10)->size(), 10u);
  EXPECT_EQ(readKernelFile(big)->size(), 4096u);
}

TEST_F(KernelFilesTest, FoldersAndFifosReadAsNothingWithoutBlocking) {
  // A FIFO without a writer would hold a blocking open forever.
  ASSERT_EQ(mkfifo((folder_ / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(readKernelFile(folder_ / "fifo"), std::nullopt);
  fs::create_directory(folder_ / "sub");
  EXPECT_EQ(readKernelFile(folder_ / "sub"), std::nullopt);
}

}  // namespace
}  // namespace wren::platform

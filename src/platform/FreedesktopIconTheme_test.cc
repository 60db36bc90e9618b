#include "platform/FreedesktopIconTheme.h"

#include <gtest/gtest.h>

#include "support/PngHeader.h"

namespace wren::platform {
namespace {

TEST(FreedesktopIconTheme, DrawsSquarePngsAtEverySize) {
  FreedesktopIconTheme theme;
  const std::vector<std::vector<std::string>> icons = {
      {"folder", "inode-directory"},
      {"text-plain", "text-x-generic"},
      {"no-such-icon", "application-x-generic"},
  };
  for (const auto& names : icons) {
    for (int size : {16, 37, 96, 512}) {
      SCOPED_TRACE(names.front() + " at " + std::to_string(size));
      std::optional<std::string> png = theme.drawPng(names, size);
      ASSERT_TRUE(png);
      std::optional<testing::PngHeader> header = testing::pngHeader(*png);
      ASSERT_TRUE(header);
      EXPECT_EQ(header->width, static_cast<uint32_t>(size));
      EXPECT_EQ(header->height, static_cast<uint32_t>(size));
      EXPECT_EQ(header->colorType, 6);  // RGBA
      EXPECT_EQ(header->bitDepth, 8);
    }
  }
}

TEST(FreedesktopIconTheme, NothingWithoutAnIconOrASize) {
  FreedesktopIconTheme theme;
  EXPECT_FALSE(theme.drawPng({"no-such-icon-anywhere"}, 96));
  EXPECT_FALSE(theme.drawPng({}, 96));
  EXPECT_FALSE(theme.drawPng({"folder"}, 0));
}

}  // namespace
}  // namespace wren::platform

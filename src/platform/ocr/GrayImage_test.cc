#include "platform/ocr/GrayImage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wren::platform {
namespace {

// A 3 × 2 stored picture whose pixels are the letters a to f, row by row.
GrayImage letters() {
  GrayImage image = GrayImage::blank(3, 2);
  std::string values = "abcdef";
  for (int i = 0; i < 6; ++i) image.pixels[i] = static_cast<uint8_t>(values[i]);
  return image;
}

std::vector<std::string> rowsOf(const GrayImage& image) {
  std::vector<std::string> rows;
  for (int y = 0; y < image.height; ++y) {
    std::string row;
    for (int x = 0; x < image.width; ++x) row.push_back(static_cast<char>(image.at(x, y)));
    rows.push_back(row);
  }
  return rows;
}

TEST(UprightImage, PlacesTheStoredRowsAsEachExifOrientationDescribes) {
  // The EXIF names say where the stored first row and first column belong in the upright
  // picture: 6 is "right, top" (first row on the right, first column at the top).
  struct Case {
    int orientation;
    std::vector<std::string> upright;
  };
  const Case cases[] = {
      {1, {"abc", "def"}},       {2, {"cba", "fed"}},       {3, {"fed", "cba"}},
      {4, {"def", "abc"}},       {5, {"ad", "be", "cf"}},   {6, {"da", "eb", "fc"}},
      {7, {"fc", "eb", "da"}},   {8, {"cf", "be", "ad"}},   {0, {"abc", "def"}},
      {9, {"abc", "def"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.orientation);
    GrayImage upright = uprightImage(letters(), c.orientation);
    EXPECT_EQ(rowsOf(upright), c.upright);
    EXPECT_EQ(turnsQuarter(c.orientation), upright.width == 2);
  }
}

TEST(UprightImage, KeepsTheResolution) {
  GrayImage stored = letters();
  stored.resolution = 300;
  EXPECT_EQ(uprightImage(stored, 6).resolution, 300);
}

TEST(GrayConversion, WeighsGreenMostAndPutsTransparencyOnWhite) {
  EXPECT_EQ(luminance(0, 0, 0), 0);
  EXPECT_EQ(luminance(255, 255, 255), 255);
  EXPECT_GT(luminance(0, 255, 0), luminance(255, 0, 0));
  EXPECT_GT(luminance(255, 0, 0), luminance(0, 0, 255));
  EXPECT_EQ(overWhite(0, 0), 255);    // transparent black is paper
  EXPECT_EQ(overWhite(0, 255), 0);    // opaque black is ink
  EXPECT_EQ(overWhite(0, 128), 127);  // half way
}

}  // namespace
}  // namespace wren::platform

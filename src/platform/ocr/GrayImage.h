#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace wren::platform {

// A picture as text recognition sees it: one byte of luminance per pixel (0 black, 255
// white), rows from top to bottom, no padding. Decoders and the page renderer produce it;
// the recogniser reads it.
//
//   GrayImage page = GrayImage::blank(612, 792);  // white
//   page.at(10, 20) = 0;                         // x 10, y 20 from the top left
struct GrayImage {
  int width = 0;
  int height = 0;
  // Pixels per inch the file or the renderer states; 0 when unknown.
  int resolution = 0;
  std::vector<uint8_t> pixels;

  static GrayImage blank(int width, int height, uint8_t value = 255);
  uint8_t& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
  uint8_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// EXIF orientations 5 to 8 turn the picture by a quarter, so its upright width is the
// stored height.
bool turnsQuarter(int orientation);

// The picture as it is meant to be seen, for a stored picture with the given EXIF
// orientation (1 to 8; anything else counts as 1, upright already).
GrayImage uprightImage(const GrayImage& stored, int orientation);

// Luminance of 8-bit sRGB components (Rec. 601 weights, as photo software uses for grey).
inline uint8_t luminance(uint32_t red, uint32_t green, uint32_t blue) {
  return static_cast<uint8_t>((red * 299 + green * 587 + blue * 114 + 500) / 1000);
}

// Luminance of a component with straight (not premultiplied) alpha, composited over white:
// transparent parts of a picture read as paper, not as ink.
inline uint8_t overWhite(uint8_t value, uint8_t alpha) {
  return static_cast<uint8_t>((value * alpha + 255 * (255 - alpha) + 127) / 255);
}

}  // namespace wren::platform

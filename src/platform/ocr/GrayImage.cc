#include "platform/ocr/GrayImage.h"

namespace wren::platform {

GrayImage GrayImage::blank(int width, int height, uint8_t value) {
  GrayImage image;
  image.width = width;
  image.height = height;
  image.pixels.assign(static_cast<std::size_t>(width) * height, value);
  return image;
}

bool turnsQuarter(int orientation) { return orientation >= 5 && orientation <= 8; }

GrayImage uprightImage(const GrayImage& stored, int orientation) {
  if (orientation < 2 || orientation > 8) return stored;
  const int w = stored.width;
  const int h = stored.height;
  GrayImage upright = GrayImage::blank(turnsQuarter(orientation) ? h : w, turnsQuarter(orientation) ? w : h);
  upright.resolution = stored.resolution;
  // For each stored pixel, where it lands in the upright picture. The EXIF names say where
  // the stored picture's first row and first column belong: orientation 6 ("right top")
  // means the first row is the upright picture's right column, so the picture is turned a
  // quarter clockwise to be seen upright.
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int ux = x, uy = y;
      switch (orientation) {
        case 2: ux = w - 1 - x; break;                   // mirrored left to right
        case 3: ux = w - 1 - x; uy = h - 1 - y; break;   // turned half
        case 4: uy = h - 1 - y; break;                   // mirrored top to bottom
        case 5: ux = y; uy = x; break;                   // mirrored along the main diagonal
        case 6: ux = h - 1 - y; uy = x; break;           // turn a quarter clockwise
        case 7: ux = h - 1 - y; uy = w - 1 - x; break;   // mirrored along the other diagonal
        case 8: ux = y; uy = w - 1 - x; break;           // turn a quarter counter-clockwise
      }
      upright.at(ux, uy) = stored.at(x, y);
    }
  }
  return upright;
}

}  // namespace wren::platform

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ocr/GrayImage.h"
#include "platform/ocr/VisionEngine.h"

namespace wren::platform {

// Reading the first picture of an image file for text recognition: JPEG, PNG, TIFF, GIF,
// BMP and WebP (leptonica, with libwebp for WebP so that animations give their first
// frame) and HEIF/HEIC (libheif). The picture comes in grey, transparent parts on white.
//
//   std::optional<DecodedImage> photo = readImageFile("IMG_0001.HEIC");
//   if (!photo) ...;  // not an image this helper can read
//   GrayImage upright = uprightImage(photo->image, photo->orientation);
//
// The picture is the one stored in the file; `orientation` is the EXIF orientation (1 to
// 8) that turns it upright. Formats whose decoder already turns the picture upright (HEIF
// with its rotation and mirror properties, TIFF with its orientation tag) report 1.

// Files and pictures beyond these sizes are refused before anything is decoded: a file of
// a few kilobytes can claim a picture of billions of pixels.
inline constexpr size_t kMaxImageFileBytes = size_t{256} << 20;
inline constexpr int64_t kMaxImagePixels = 60'000'000;  // a 48-megapixel camera fits
inline constexpr int kMaxImageSide = 32767;             // the most the recogniser takes

// Nothing when the file cannot be opened or read, is not a regular file, is in none of the
// formats, holds no picture, is too large, or its first picture cannot be decoded.
std::optional<DecodedImage> readImageFile(const std::string& path);
// The same for the bytes of a file.
std::optional<DecodedImage> decodeImage(std::string_view bytes);

// The EXIF orientation recorded in a JPEG, PNG or WebP file, or in a TIFF-structured EXIF
// block; 1 when there is none or it is not a value from 1 to 8.
int exifOrientation(std::string_view fileBytes);

}  // namespace wren::platform

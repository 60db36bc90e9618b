#include "platform/ocr/ImageFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "support/OcrFixtures.h"

namespace wren::platform {
namespace {

using namespace wren::testing;

// 40 × 30, black on the left half and white on the right: a pattern that survives lossy
// compression, and shows a mirrored or turned picture.
GrayImage halves() {
  GrayImage image = GrayImage::blank(40, 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 20; ++x) image.at(x, y) = 0;
  return image;
}

void expectHalves(const GrayImage& image) {
  ASSERT_EQ(image.width, 40);
  ASSERT_EQ(image.height, 30);
  EXPECT_LT(image.at(5, 15), 64);
  EXPECT_GT(image.at(35, 15), 192);
}

TEST(DecodeImage, ReadsEveryFormatInGrey) {
  struct Case {
    const char* format;
    std::function<std::string()> bytes;
  };
  const Case cases[] = {
      {"PNG", [] { return encoded(halves(), IFF_PNG); }},
      {"JPEG", [] { return jpegOf(halves()); }},
      {"TIFF", [] { return encoded(halves(), IFF_TIFF_ZIP); }},
      {"BMP", [] { return encoded(halves(), IFF_BMP); }},
      {"GIF", [] { return gifOf({halves()}); }},
      {"WebP", [] { return encoded(halves(), IFF_WEBP); }},
      {"HEIC", [] { return heicOf(halves()); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    std::string bytes = c.bytes();
    if (bytes.empty()) continue;  // no HEVC encoder on this machine
    std::optional<DecodedImage> decoded = decodeImage(bytes);
    ASSERT_TRUE(decoded);
    expectHalves(decoded->image);
    EXPECT_EQ(decoded->orientation, 1);
  }
}

TEST(DecodeImage, ReportsTheExifOrientationWithoutApplyingIt) {
  std::optional<DecodedImage> jpeg = decodeImage(jpegOf(halves(), 6));
  ASSERT_TRUE(jpeg);
  EXPECT_EQ(jpeg->orientation, 6);
  expectHalves(jpeg->image);  // as stored

  std::optional<DecodedImage> png = decodeImage(pngWithOrientation(halves(), 8));
  ASSERT_TRUE(png);
  EXPECT_EQ(png->orientation, 8);
  expectHalves(png->image);
}

TEST(ExifOrientation, IsOneWhenAbsentOrOutOfRange) {
  struct Case {
    const char* name;
    std::string bytes;
    int orientation;
  };
  const Case cases[] = {
      {"JPEG with 3", jpegOf(halves(), 3), 3},
      {"JPEG without EXIF", jpegOf(halves()), 1},
      {"JPEG with 9", jpegOf(halves(), 9), 1},
      {"empty", std::string(), 1},
      {"PNG with 5", pngWithOrientation(halves(), 5), 5},
      {"PNG without eXIf", encoded(halves(), IFF_PNG), 1},
      {"GIF", gifOf({halves()}), 1},
      {"text", "orientation 6", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(exifOrientation(c.bytes), c.orientation);
  }
}

TEST(DecodeImage, TakesTheFirstFrameOfAnAnimation) {
  std::optional<DecodedImage> decoded = decodeImage(gifOf({halves(), GrayImage::blank(40, 30)}));
  ASSERT_TRUE(decoded);
  expectHalves(decoded->image);
}

TEST(DecodeImage, PutsTransparentPartsOnWhite) {
  // Transparent black everywhere, opaque black on the left half.
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 40, 30);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgba(cr, 0, 0, 0, 1);
  cairo_rectangle(cr, 0, 0, 20, 30);
  cairo_fill(cr);
  cairo_destroy(cr);
  std::string png;
  cairo_surface_write_to_png_stream(
      surface,
      [](void* closure, const unsigned char* data, unsigned int length) {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
        return CAIRO_STATUS_SUCCESS;
      },
      &png);
  cairo_surface_destroy(surface);
  std::optional<DecodedImage> decoded = decodeImage(png);
  ASSERT_TRUE(decoded);
  expectHalves(decoded->image);
}

TEST(DecodeImage, RefusesWhatIsNoPictureOrClaimsAHugeOne) {
  std::string jpegClaimingHuge = jpegOf(halves());
  size_t frame = jpegClaimingHuge.find("\xFF\xC0");
  ASSERT_NE(frame, std::string::npos);
  jpegClaimingHuge.replace(frame + 5, 4, "\xFD\xE8\xFD\xE8");  // 65000 × 65000
  std::string gifClaimingHuge = gifOf({halves()});
  gifClaimingHuge.replace(6, 4, "\xFF\xFF\xFF\xFF");
  std::string png = encoded(halves(), IFF_PNG);

  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"PNG header of 30000 x 30000", pngHeaderClaiming(30000, 30000)},
      {"PNG header of 40000 x 1", pngHeaderClaiming(40000, 1)},
      {"JPEG of 65000 x 65000", jpegClaimingHuge},
      {"GIF screen of 65535 x 65535", gifClaimingHuge},
      {"PNG cut short", png.substr(0, png.size() / 2)},
      {"GIF cut short", gifOf({halves()}).substr(0, 40)},
      {"empty", ""},
      {"text", "Hello, world"},
      {"PDF", pdfOf({{612, 792, "text"}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(decodeImage(c.bytes));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  }
}

TEST(DecodeImage, ReadsWhatThereIsOfACutShortJpeg) {
  // Cut a few bytes into the picture data, after the start-of-scan marker.
  std::string jpeg = jpegOf(halves());
  size_t scan = jpeg.find("\xFF\xDA");
  ASSERT_NE(scan, std::string::npos);
  std::optional<DecodedImage> decoded = decodeImage(jpeg.substr(0, scan + 20));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->image.width, 40);
  EXPECT_EQ(decoded->image.height, 30);
}

TEST(ReadImageFile, OpensOnlyRegularFilesAndNeverWaits) {
  TemporaryFolder folder;
  writeBytes(folder / "halves.png", encoded(halves(), IFF_PNG));
  std::filesystem::create_symlink(folder / "halves.png", folder / "link.png");
  std::filesystem::create_symlink(folder / "loop-a", folder / "loop-b");
  std::filesystem::create_symlink(folder / "loop-b", folder / "loop-a");
  std::filesystem::create_directory(folder / "folder.png");
  ASSERT_EQ(mkfifo((folder / "fifo.png").c_str(), 0600), 0);

  std::optional<DecodedImage> direct = readImageFile((folder / "halves.png").string());
  ASSERT_TRUE(direct);
  expectHalves(direct->image);
  EXPECT_TRUE(readImageFile((folder / "link.png").string()));
  for (const char* name : {"missing.png", "loop-a", "folder.png", "fifo.png"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(readImageFile((folder / name).string()));
  }
  EXPECT_FALSE(readImageFile(""));
}

}  // namespace
}  // namespace wren::platform

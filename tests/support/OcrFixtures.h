#pragma once

// Pictures, image files and PDF files for the text recognition tests, made at test time:
// text drawn with Pango and cairo, files written with cairo and leptonica, and the few
// structures a test needs exactly (an EXIF block, a GIF animation, a header that claims a
// huge picture) put together byte by byte. Tests only.
//
//   GrayImage line = textImage("Invoice 4521", 32);           // black text on white
//   std::string jpeg = jpegOf(line, 6);                         // stored turned, EXIF 6
//   std::string pdf = pdfOf({{612, 792, "Page one"}, {612, 792, "Page two"}});

#include <cairo-pdf.h>
#include <cairo.h>
#include <leptonica/allheaders.h>
#include <libheif/heif.h>
#include <pango/pangocairo.h>

#include <stdlib.h>

#include <cstdint>
#include <memory>
#include <system_error>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ocr/GrayImage.h"

namespace wren::testing {

using platform::GrayImage;

// A fresh temporary folder, removed with everything in it when the guard ends.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "wren-ocr-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Draws text (lines separated by line feeds) in black on white with cairo; `font` is a
// Pango font family.
inline void drawText(cairo_t* cr, const std::string& text, int pixelSize, double x, double y,
                     const std::string& font = "DejaVu Sans") {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  std::string description = font + " " + std::to_string(pixelSize) + "px";
  PangoFontDescription* fontDescription = pango_font_description_from_string(description.c_str());
  pango_layout_set_font_description(layout, fontDescription);
  pango_layout_set_text(layout, text.c_str(), -1);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_move_to(cr, x, y);
  pango_cairo_show_layout(cr, layout);
  pango_font_description_free(fontDescription);
  g_object_unref(layout);
}

// The size text takes when drawn, in pixels.
inline std::pair<int, int> textSize(const std::string& text, int pixelSize, const std::string& font = "DejaVu Sans") {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
  cairo_t* cr = cairo_create(surface);
  PangoLayout* layout = pango_cairo_create_layout(cr);
  std::string description = font + " " + std::to_string(pixelSize) + "px";
  PangoFontDescription* fontDescription = pango_font_description_from_string(description.c_str());
  pango_layout_set_font_description(layout, fontDescription);
  pango_layout_set_text(layout, text.c_str(), -1);
  int width = 0, height = 0;
  pango_layout_get_pixel_size(layout, &width, &height);
  pango_font_description_free(fontDescription);
  g_object_unref(layout);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  return {width, height};
}

inline GrayImage grayOfSurface(cairo_surface_t* surface) {
  cairo_surface_flush(surface);
  const int width = cairo_image_surface_get_width(surface), height = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  GrayImage image = GrayImage::blank(width, height);
  for (int y = 0; y < height; ++y) {
    const uint32_t* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(stride) * y);
    for (int x = 0; x < width; ++x) image.at(x, y) = platform::luminance(row[x] >> 16 & 0xFF, row[x] >> 8 & 0xFF, row[x] & 0xFF);
  }
  return image;
}

// Text on a white picture with a margin of half the text size around it (or the given
// picture size, text at the top left margin).
inline GrayImage textImage(const std::string& text, int pixelSize, int width = 0, int height = 0,
                           const std::string& font = "DejaVu Sans") {
  auto [textWidth, textHeight] = textSize(text, pixelSize, font);
  const int margin = pixelSize;
  if (width == 0) width = textWidth + 2 * margin;
  if (height == 0) height = textHeight + 2 * margin;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  drawText(cr, text, pixelSize, margin, margin, font);
  cairo_destroy(cr);
  GrayImage image = grayOfSurface(surface);
  cairo_surface_destroy(surface);
  return image;
}

// The stored form of an upright picture that a camera would record with the EXIF
// orientation: the inverse of uprightImage, found by searching the transform that
// uprightImage undoes.
inline GrayImage storedForOrientation(const GrayImage& upright, int orientation) {
  // Orientations 5 and 7 are their own inverse, 2, 3 and 4 too; 6 and 8 undo each other.
  int inverse = orientation == 6 ? 8 : orientation == 8 ? 6 : orientation;
  return platform::uprightImage(upright, inverse);
}

struct PixFree {
  void operator()(PIX* pix) const { pixDestroy(&pix); }
};

inline PIX* pixOf(const GrayImage& image) {
  PIX* pix = pixCreate(image.width, image.height, 8);
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) pixSetPixel(pix, x, y, image.at(x, y));
  return pix;
}

// The file bytes leptonica writes for the picture in a format (IFF_PNG, IFF_TIFF_ZIP,
// IFF_BMP, IFF_GIF, IFF_WEBP...).
inline std::string encoded(const GrayImage& image, int format) {
  std::unique_ptr<PIX, PixFree> pix(pixOf(image));
  if (format == IFF_WEBP) pix.reset(pixConvertTo32(pix.get()));
  l_uint8* data = nullptr;
  size_t size = 0;
  if (pixWriteMem(&data, &size, pix.get(), format) != 0) throw std::runtime_error("leptonica could not write the picture");
  std::string bytes(reinterpret_cast<char*>(data), size);
  lept_free(data);
  return bytes;
}

// An EXIF block (TIFF structure, big-endian) holding only the orientation tag.
inline std::string exifBlock(int orientation) {
  std::string block("MM\0*\0\0\0\x08", 8);
  block += std::string("\0\x01", 2);                                           // one entry
  block += std::string("\x01\x12\0\x03\0\0\0\x01", 8);                         // Orientation, SHORT, 1
  block += std::string{'\0', static_cast<char>(orientation), '\0', '\0'};      // the value
  block += std::string(4, '\0');                                               // no next IFD
  return block;
}

// A JPEG of the picture with an EXIF segment giving the orientation (none for 0).
inline std::string jpegOf(const GrayImage& image, int orientation = 0) {
  std::unique_ptr<PIX, PixFree> pix(pixOf(image));
  l_uint8* data = nullptr;
  size_t size = 0;
  if (pixWriteMemJpeg(&data, &size, pix.get(), 92, 0) != 0) throw std::runtime_error("leptonica could not write JPEG");
  std::string jpeg(reinterpret_cast<char*>(data), size);
  lept_free(data);
  if (orientation == 0) return jpeg;
  std::string payload = std::string("Exif\0\0", 6) + exifBlock(orientation);
  size_t length = payload.size() + 2;
  std::string segment = std::string("\xFF\xE1", 2) + static_cast<char>(length >> 8) + static_cast<char>(length & 0xFF) + payload;
  return jpeg.insert(2, segment);  // right after the start-of-image marker
}

inline uint32_t crc32Of(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return crc ^ 0xFFFFFFFFu;
}

inline std::string bigEndian32(uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8), static_cast<char>(value)};
}

inline std::string pngChunk(const std::string& type, const std::string& data) {
  return bigEndian32(static_cast<uint32_t>(data.size())) + type + data + bigEndian32(crc32Of(type + data));
}

// A PNG of the picture with an eXIf chunk after the header chunk.
inline std::string pngWithOrientation(const GrayImage& image, int orientation) {
  std::string png = encoded(image, IFF_PNG);
  return png.insert(8 + 25, pngChunk("eXIf", exifBlock(orientation)));
}

// A PNG file that claims a picture of width × height pixels and holds no picture data.
inline std::string pngHeaderClaiming(uint32_t width, uint32_t height) {
  std::string header = bigEndian32(width) + bigEndian32(height) + std::string("\x08\x02\0\0\0", 5);
  return std::string("\x89PNG\r\n\x1A\n", 8) + pngChunk("IHDR", header) + pngChunk("IEND", "");
}

// A GIF animation of black-and-white frames (grey below 128 is black). The picture data
// is coded so simply (a clear code before every pixel) that no compressor is needed.
inline std::string gifOf(const std::vector<GrayImage>& frames) {
  auto little16 = [](int v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; };
  const int width = frames.at(0).width, height = frames.at(0).height;
  std::string gif = "GIF89a" + little16(width) + little16(height) + std::string("\x81\0\0", 3);
  gif += std::string("\0\0\0\xFF\xFF\xFF\0\0\0\0\0\0", 12);  // black, white, two unused
  for (const GrayImage& frame : frames) {
    gif += std::string("\x2C\0\0\0\0", 5) + little16(width) + little16(height) + std::string("\0\x02", 2);
    std::string codes;
    uint32_t bits = 0;
    int count = 0;
    auto put = [&](uint32_t code) {  // 3-bit codes, least significant bit first
      bits |= code << count;
      count += 3;
      while (count >= 8) {
        codes.push_back(static_cast<char>(bits & 0xFF));
        bits >>= 8;
        count -= 8;
      }
    };
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        put(4);  // clear
        put(frame.at(x, y) < 128 ? 0 : 1);
      }
    put(5);  // end of information
    if (count > 0) codes.push_back(static_cast<char>(bits & 0xFF));
    for (size_t at = 0; at < codes.size(); at += 255) {
      std::string block = codes.substr(at, 255);
      gif += static_cast<char>(block.size()) + block;
    }
    gif += '\0';
  }
  return gif + '\x3B';
}

// A HEIC file of the picture (HEVC through libheif), or nothing without an encoder.
inline std::string heicOf(const GrayImage& image) {
  if (!heif_have_encoder_for_format(heif_compression_HEVC)) return {};
  heif_context* context = heif_context_alloc();
  heif_encoder* encoder = nullptr;
  heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder);
  heif_encoder_set_lossy_quality(encoder, 90);
  heif_image* picture = nullptr;
  heif_image_create(image.width, image.height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &picture);
  heif_image_add_plane(picture, heif_channel_interleaved, image.width, image.height, 8);
  int stride = 0;
  uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x)
      for (int c = 0; c < 3; ++c) plane[y * stride + 3 * x + c] = image.at(x, y);
  heif_context_encode_image(context, picture, encoder, nullptr, nullptr);
  std::string bytes;
  heif_writer writer = {1, [](heif_context*, const void* data, size_t size, void* userdata) {
                          static_cast<std::string*>(userdata)->append(static_cast<const char*>(data), size);
                          return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
                        }};
  heif_context_write(context, &writer, &bytes);
  heif_image_release(picture);
  heif_encoder_release(encoder);
  heif_context_free(context);
  return bytes;
}

struct PdfPage {
  double width = 612;   // points
  double height = 792;
  std::string text;     // drawn at 72 points from the top left, 24 points high
};

// A PDF with the pages, written by cairo.
inline std::string pdfOf(const std::vector<PdfPage>& pages) {
  std::string bytes;
  cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(
      [](void* closure, const unsigned char* data, unsigned int length) {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
        return CAIRO_STATUS_SUCCESS;
      },
      &bytes, pages.at(0).width, pages.at(0).height);
  cairo_t* cr = cairo_create(surface);
  for (const PdfPage& page : pages) {
    cairo_pdf_surface_set_size(surface, page.width, page.height);
    if (!page.text.empty()) drawText(cr, page.text, 24, 72, 72);
    cairo_show_page(cr);
  }
  cairo_destroy(cr);
  cairo_surface_finish(surface);
  cairo_surface_destroy(surface);
  return bytes;
}

// A PDF whose objects are written out by hand, with a cross-reference table computed for
// them; `trailerExtra` goes into the trailer dictionary.
inline std::string handWrittenPdf(const std::vector<std::string>& objects, const std::string& trailerExtra = "") {
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t offset : offsets) {
    char line[24];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    pdf += line;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R " + trailerExtra + " >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

// A PDF encrypted with a user password (the standard security handler, revision 2): the
// empty password does not open it.
inline std::string passwordProtectedPdf() {
  std::string ownerKey(32, 'o'), userKey(32, 'u');
  return handWrittenPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>",
                         "<< /Filter /Standard /V 1 /R 2 /O (" + ownerKey + ") /U (" + userKey + ") /P -4 >>"},
                        "/Encrypt 4 0 R /ID [<0123456789abcdef0123456789abcdef> <0123456789abcdef0123456789abcdef>]");
}

}  // namespace wren::testing

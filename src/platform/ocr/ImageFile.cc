#include "platform/ocr/ImageFile.h"

#include <leptonica/allheaders.h>
#include <libexif/exif-data.h>
#include <libheif/heif.h>
#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/files/RegularFile.h"

namespace wren::platform {

namespace {

struct PixDestroy {
  void operator()(PIX* pix) const { pixDestroy(&pix); }
};
using PixPtr = std::unique_ptr<PIX, PixDestroy>;

struct ExifDataUnref {
  void operator()(ExifData* data) const { exif_data_unref(data); }
};
struct HeifContextFree {
  void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HeifHandleRelease {
  void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct HeifImageRelease {
  void operator()(heif_image* image) const { heif_image_release(image); }
};
struct HeifOptionsFree {
  void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};
struct WebPDemuxerDelete {
  void operator()(WebPDemuxer* demuxer) const { WebPDemuxDelete(demuxer); }
};
struct WebPBufferFree {
  void operator()(uint8_t* buffer) const { WebPFree(buffer); }
};

enum class Format { Jpeg, Png, Tiff, Gif, Bmp, WebP, Heif, Unknown };

const uint8_t* bytesOf(std::string_view text) { return reinterpret_cast<const uint8_t*>(text.data()); }

bool startsWith(std::string_view bytes, std::string_view prefix) { return bytes.substr(0, prefix.size()) == prefix; }

Format sniff(std::string_view bytes) {
  using namespace std::string_view_literals;
  if (startsWith(bytes, "\xFF\xD8\xFF"sv)) return Format::Jpeg;
  if (startsWith(bytes, "\x89PNG\r\n\x1A\n"sv)) return Format::Png;
  // Classic and big TIFF, in both byte orders.
  for (std::string_view magic : {"II*\0"sv, "MM\0*"sv, "II+\0"sv, "MM\0+"sv})
    if (startsWith(bytes, magic)) return Format::Tiff;
  if (startsWith(bytes, "GIF87a"sv) || startsWith(bytes, "GIF89a"sv)) return Format::Gif;
  if (startsWith(bytes, "BM"sv)) return Format::Bmp;
  if (startsWith(bytes, "RIFF"sv) && bytes.size() >= 12 && bytes.substr(8, 4) == "WEBP"sv) return Format::WebP;
  if (bytes.size() >= 12 && heif_check_filetype(bytesOf(bytes), static_cast<int>(std::min<size_t>(bytes.size(), 1 << 20))) ==
                                heif_filetype_yes_supported)
    return Format::Heif;
  return Format::Unknown;
}

constexpr int kMinScannerResolution = 150;

bool sizeAllowed(int64_t width, int64_t height) {
  return width >= 1 && height >= 1 && width <= kMaxImageSide && height <= kMaxImageSide &&
         width * height <= kMaxImagePixels;
}

// Leptonica reports every oddity of a file on standard error; the helper's standard error
// carries only its own one-line diagnostics.
void quietLeptonica() {
  static std::once_flag once;
  std::call_once(once, [] { setMsgSeverity(L_SEVERITY_NONE); });
}

// The orientation tag of the first picture's EXIF data in `data`: a JPEG file, or a
// TIFF-structured block after the "Exif\0\0" header.
int orientationOf(std::string_view data) {
  std::unique_ptr<ExifData, ExifDataUnref> exif(
      exif_data_new_from_data(bytesOf(data), static_cast<unsigned>(std::min<size_t>(data.size(), UINT32_MAX))));
  if (!exif) return 1;
  ExifEntry* entry = exif_content_get_entry(exif->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
  if (!entry || entry->format != EXIF_FORMAT_SHORT || entry->components < 1 || entry->size < 2) return 1;
  int value = exif_get_short(entry->data, exif_data_get_byte_order(exif.get()));
  return value >= 1 && value <= 8 ? value : 1;
}

// Orientation from a TIFF-structured EXIF block, with or without the "Exif\0\0" header
// that JPEG files put before it.
int orientationFromExifBlock(std::string_view block) {
  using namespace std::string_view_literals;
  constexpr std::string_view kHeader = "Exif\0\0"sv;
  std::string framed = startsWith(block, kHeader) ? std::string(block) : std::string(kHeader) + std::string(block);
  return orientationOf(framed);
}

int jpegOrientation(std::string_view bytes) {
  // libexif walks the JPEG markers to the EXIF segment itself.
  return orientationOf(bytes);
}

uint32_t bigEndian32(std::string_view bytes, size_t at) {
  auto b = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i])); };
  return b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
}

// The eXIf chunk of a PNG file: length, type, data, checksum, chunk after chunk.
int pngOrientation(std::string_view bytes) {
  size_t at = 8;
  while (at + 12 <= bytes.size()) {
    uint32_t length = bigEndian32(bytes, at);
    std::string_view type = bytes.substr(at + 4, 4);
    if (length > bytes.size() - at - 12) return 1;
    if (type == "eXIf") return orientationFromExifBlock(bytes.substr(at + 8, length));
    if (type == "IEND") return 1;
    at += 12 + length;
  }
  return 1;
}

std::unique_ptr<WebPDemuxer, WebPDemuxerDelete> demuxWebP(std::string_view bytes) {
  WebPData data = {bytesOf(bytes), bytes.size()};
  return std::unique_ptr<WebPDemuxer, WebPDemuxerDelete>(WebPDemux(&data));
}

int webPOrientation(WebPDemuxer* demuxer) {
  WebPChunkIterator chunk;
  if (!WebPDemuxGetChunk(demuxer, "EXIF", 1, &chunk)) return 1;
  std::string_view block(reinterpret_cast<const char*>(chunk.chunk.bytes), chunk.chunk.size);
  int orientation = orientationFromExifBlock(block);
  WebPDemuxReleaseChunkIterator(&chunk);
  return orientation;
}

// Grey pixels of an RGBA buffer with straight alpha, transparent parts on white.
void fillFromRgba(GrayImage& image, const uint8_t* rgba, int width, int height, size_t stride, int left = 0, int top = 0) {
  for (int y = 0; y < height; ++y) {
    int targetY = top + y;
    if (targetY < 0 || targetY >= image.height) continue;
    const uint8_t* row = rgba + stride * y;
    for (int x = 0; x < width; ++x) {
      int targetX = left + x;
      if (targetX < 0 || targetX >= image.width) continue;
      const uint8_t* p = row + 4 * x;
      image.at(targetX, targetY) = overWhite(luminance(p[0], p[1], p[2]), p[3]);
    }
  }
}

std::optional<GrayImage> grayFromPix(PIX* decoded) {
  if (!decoded || !sizeAllowed(pixGetWidth(decoded), pixGetHeight(decoded))) return std::nullopt;
  PixPtr opaque;
  if (pixGetDepth(decoded) == 32 && pixGetSpp(decoded) == 4) {
    opaque.reset(pixAlphaBlendUniform(decoded, 0xffffff00));
    if (!opaque) return std::nullopt;
    decoded = opaque.get();
  }
  PixPtr gray(pixConvertTo8(decoded, 0));
  if (!gray) return std::nullopt;
  GrayImage image = GrayImage::blank(pixGetWidth(gray.get()), pixGetHeight(gray.get()));
  // Cameras and screenshot tools write 72 or 96 whatever the picture shows; only a
  // scanner's resolution says how large the text is.
  const int stated = pixGetYRes(gray.get());
  image.resolution = stated >= kMinScannerResolution ? stated : 0;
  const l_uint32* data = pixGetData(gray.get());
  const int wordsPerLine = pixGetWpl(gray.get());
  for (int y = 0; y < image.height; ++y) {
    const l_uint32* line = data + static_cast<size_t>(y) * wordsPerLine;
    for (int x = 0; x < image.width; ++x) image.at(x, y) = static_cast<uint8_t>(GET_DATA_BYTE(line, x));
  }
  return image;
}

// The bytes of a GIF file up to the end of its first picture, closed with the trailer, so
// that the decoder never decodes the other frames of an animation. Nothing when the file
// ends before its first picture is complete or claims a size beyond the limits.
std::optional<std::string> firstGifFrame(std::string_view bytes) {
  if (bytes.size() < 13) return std::nullopt;
  auto byteAt = [&](size_t at) { return static_cast<uint8_t>(bytes[at]); };
  auto littleEndian16 = [&](size_t at) { return byteAt(at) | byteAt(at + 1) << 8; };
  const int screenWidth = littleEndian16(6);
  const int screenHeight = littleEndian16(8);
  if ((screenWidth || screenHeight) && !sizeAllowed(screenWidth, screenHeight)) return std::nullopt;
  size_t at = 13;
  if (byteAt(10) & 0x80) at += 3u << ((byteAt(10) & 7) + 1);  // global colour table
  // Extensions and picture data are sequences of sub-blocks, each led by its length,
  // ended by an empty one.
  auto skipSubBlocks = [&] {
    while (at < bytes.size()) {
      uint8_t length = byteAt(at++);
      if (length == 0) return true;
      at += length;
    }
    return false;
  };
  while (at < bytes.size()) {
    uint8_t introducer = byteAt(at++);
    if (introducer == 0x21) {  // extension: label, then sub-blocks
      ++at;
      if (!skipSubBlocks()) return std::nullopt;
    } else if (introducer == 0x2C) {  // picture: descriptor, colour table, code size, data
      if (at + 9 > bytes.size()) return std::nullopt;
      if (!sizeAllowed(littleEndian16(at + 4), littleEndian16(at + 6))) return std::nullopt;
      uint8_t flags = byteAt(at + 8);
      at += 9;
      if (flags & 0x80) at += 3u << ((flags & 7) + 1);
      ++at;
      if (at > bytes.size() || !skipSubBlocks()) return std::nullopt;
      std::string frame(bytes.substr(0, at));
      frame.push_back('\x3B');
      return frame;
    } else {
      return std::nullopt;  // the trailer, or garbage, before any picture
    }
  }
  return std::nullopt;
}

std::optional<GrayImage> decodeWithLeptonica(std::string_view bytes, Format format) {
  quietLeptonica();
  if (format == Format::Gif) {
    std::optional<std::string> frame = firstGifFrame(bytes);
    if (!frame) return std::nullopt;
    return grayFromPix(PixPtr(pixReadMem(bytesOf(*frame), frame->size())).get());
  }
  l_int32 kind = 0, width = 0, height = 0, bitsPerSample = 0, samplesPerPixel = 0, colormapped = 0;
  if (pixReadHeaderMem(bytesOf(bytes), bytes.size(), &kind, &width, &height, &bitsPerSample, &samplesPerPixel,
                       &colormapped) != 0 ||
      !sizeAllowed(width, height))
    return std::nullopt;
  if (format == Format::Jpeg) {
    // A damaged or cut-short JPEG gives what could be decoded, as photo viewers show it.
    // Reading only the luminance saves the memory of the colour planes; CMYK files have
    // none and are read in full.
    l_int32 warnings = 0;
    PixPtr pix(pixReadMemJpeg(bytesOf(bytes), bytes.size(), 0, 1, &warnings,
                              L_JPEG_READ_LUMINANCE | L_JPEG_CONTINUE_WITH_BAD_DATA));
    if (!pix) pix.reset(pixReadMemJpeg(bytesOf(bytes), bytes.size(), 0, 1, &warnings, L_JPEG_CONTINUE_WITH_BAD_DATA));
    return grayFromPix(pix.get());
  }
  return grayFromPix(PixPtr(pixReadMem(bytesOf(bytes), bytes.size())).get());
}

std::optional<DecodedImage> decodeWebP(std::string_view bytes) {
  auto demuxer = demuxWebP(bytes);
  if (!demuxer) return std::nullopt;
  const int canvasWidth = static_cast<int>(WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_WIDTH));
  const int canvasHeight = static_cast<int>(WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_HEIGHT));
  if (!sizeAllowed(canvasWidth, canvasHeight)) return std::nullopt;
  WebPIterator frame;
  if (!WebPDemuxGetFrame(demuxer.get(), 1, &frame)) return std::nullopt;
  int width = 0, height = 0;
  std::unique_ptr<uint8_t, WebPBufferFree> rgba(WebPDecodeRGBA(frame.fragment.bytes, frame.fragment.size, &width, &height));
  const int left = frame.x_offset, top = frame.y_offset;
  WebPDemuxReleaseIterator(&frame);
  if (!rgba) return std::nullopt;
  DecodedImage decoded;
  decoded.image = GrayImage::blank(canvasWidth, canvasHeight);
  fillFromRgba(decoded.image, rgba.get(), width, height, static_cast<size_t>(width) * 4, left, top);
  decoded.orientation = webPOrientation(demuxer.get());
  return decoded;
}

std::optional<GrayImage> decodeHeif(std::string_view bytes) {
  std::unique_ptr<heif_context, HeifContextFree> context(heif_context_alloc());
  if (!context) return std::nullopt;
  heif_context_set_maximum_image_size_limit(context.get(), kMaxImageSide);
  if (heif_context_read_from_memory_without_copy(context.get(), bytes.data(), bytes.size(), nullptr).code != heif_error_Ok)
    return std::nullopt;
  heif_image_handle* rawHandle = nullptr;
  if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok) return std::nullopt;
  std::unique_ptr<heif_image_handle, HeifHandleRelease> handle(rawHandle);
  if (!sizeAllowed(heif_image_handle_get_width(handle.get()), heif_image_handle_get_height(handle.get())))
    return std::nullopt;
  // The rotation and mirror properties are applied while decoding, as the format asks;
  // the EXIF orientation a HEIF file may also carry describes the same turn and is not
  // applied again.
  std::unique_ptr<heif_decoding_options, HeifOptionsFree> options(heif_decoding_options_alloc());
  heif_image* rawImage = nullptr;
  if (heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, options.get()).code !=
      heif_error_Ok)
    return std::nullopt;
  std::unique_ptr<heif_image, HeifImageRelease> image(rawImage);
  const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
  const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
  int stride = 0;
  const uint8_t* rgba = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  if (!rgba || !sizeAllowed(width, height) || stride < width * 4) return std::nullopt;
  GrayImage gray = GrayImage::blank(width, height);
  fillFromRgba(gray, rgba, width, height, static_cast<size_t>(stride));
  return gray;
}

}  // namespace

int exifOrientation(std::string_view fileBytes) {
  switch (sniff(fileBytes)) {
    case Format::Jpeg: return jpegOrientation(fileBytes);
    case Format::Png: return pngOrientation(fileBytes);
    case Format::Tiff: return orientationFromExifBlock(fileBytes);
    case Format::WebP: {
      auto demuxer = demuxWebP(fileBytes);
      return demuxer ? webPOrientation(demuxer.get()) : 1;
    }
    default: return 1;
  }
}

std::optional<DecodedImage> decodeImage(std::string_view bytes) {
  const Format format = sniff(bytes);
  switch (format) {
    case Format::Unknown: return std::nullopt;
    case Format::WebP: return decodeWebP(bytes);
    case Format::Heif: {
      std::optional<GrayImage> image = decodeHeif(bytes);
      if (!image) return std::nullopt;
      return DecodedImage{std::move(*image), 1};
    }
    default: break;
  }
  std::optional<GrayImage> image = decodeWithLeptonica(bytes, format);
  if (!image) return std::nullopt;
  // Leptonica turns TIFF pictures upright by their orientation tag itself.
  int orientation = format == Format::Jpeg ? jpegOrientation(bytes) : format == Format::Png ? pngOrientation(bytes) : 1;
  return DecodedImage{std::move(*image), orientation};
}

std::optional<DecodedImage> readImageFile(const std::string& path) {
  std::optional<std::string> bytes = readRegularFile(path, kMaxImageFileBytes);
  if (!bytes) return std::nullopt;
  return decodeImage(*bytes);
}

}  // namespace wren::platform

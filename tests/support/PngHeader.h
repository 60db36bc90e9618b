#pragma once

// Reads what a PNG says of itself in its header chunk, without decoding it, so that tests
// check drawn icons independently of the library that drew them.
//
//   std::optional<PngHeader> header = pngHeader(fromBase64(entry["data"]));
//   EXPECT_EQ(header->width, 96u);

#include <glib.h>

#include <cstdint>
#include <optional>
#include <string>

namespace wren::testing {

struct PngHeader {
  uint32_t width = 0;
  uint32_t height = 0;
  int bitDepth = 0;
  int colorType = 0;  // 6: RGBA
};

inline std::optional<PngHeader> pngHeader(const std::string& bytes) {
  static const std::string kSignature("\x89PNG\r\n\x1a\n", 8);
  // Signature, then the IHDR chunk: length, type, width, height, depth, colour type.
  if (bytes.size() < 33 || bytes.compare(0, 8, kSignature) != 0 || bytes.compare(12, 4, "IHDR") != 0)
    return std::nullopt;
  auto word = [&](size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
  };
  return PngHeader{word(16), word(20), static_cast<unsigned char>(bytes[24]), static_cast<unsigned char>(bytes[25])};
}

// Decodes standard base64; text with a line break or any other character outside the
// alphabet gives nothing, as the icon data must not hold one.
inline std::optional<std::string> fromBase64(const std::string& text) {
  if (text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=") != std::string::npos)
    return std::nullopt;
  gsize length = 0;
  guchar* data = g_base64_decode(text.c_str(), &length);
  std::string bytes(reinterpret_cast<const char*>(data), length);
  g_free(data);
  return bytes;
}

}  // namespace wren::testing

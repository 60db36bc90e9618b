#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace wren::platform {

// Text in a legacy character set (as vCard 2.1 and mail name it: "ISO-8859-1",
// "windows-1252", "GB2312", "Shift_JIS", "Big5", "KOI8-R"...) converted to UTF-8 with
// ICU's converters:
//
//   decodeCharset("M\xfcller", "ISO-8859-1");   // "Müller"
//
// Bytes the character set does not define become U+FFFD. Nothing when ICU does not know
// the name, so that the caller can fall back to reading the bytes as UTF-8.
std::optional<std::string> decodeCharset(std::string_view bytes, std::string_view charset);

}  // namespace wren::platform

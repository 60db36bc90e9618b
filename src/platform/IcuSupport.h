#pragma once

// ICU glue shared by the platform's ICU-based files; not for use outside src/platform.

#include <unicode/unistr.h>
#include <unicode/utypes.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace wren::platform::icuSupport {

// ICU reports failures through status codes; here they become exceptions that name the
// failing call and the code.
[[noreturn]] inline void fail(const char* call, UErrorCode status) {
  throw std::runtime_error(std::string(call) + " failed: " + u_errorName(status));
}

inline icu::UnicodeString fromUtf8(std::string_view text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

inline std::string toUtf8(const icu::UnicodeString& text) {
  std::string result;
  text.toUTF8String(result);
  return result;
}

}  // namespace wren::platform::icuSupport

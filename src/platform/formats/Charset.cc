#include "platform/formats/Charset.h"

#include <unicode/ucnv.h>
#include <unicode/unistr.h>

#include <climits>
#include <memory>

#include "platform/IcuSupport.h"

namespace wren::platform {

namespace {

struct ConverterClose {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};

}  // namespace

std::optional<std::string> decodeCharset(std::string_view bytes, std::string_view charset) {
  if (bytes.size() > INT32_MAX) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UConverter, ConverterClose> converter(ucnv_open(std::string(charset).c_str(), &status));
  if (U_FAILURE(status) || !converter) return std::nullopt;
  icu::UnicodeString text(bytes.data(), static_cast<int32_t>(bytes.size()), converter.get(), status);
  if (U_FAILURE(status)) return std::nullopt;
  return icuSupport::toUtf8(text);
}

}  // namespace wren::platform

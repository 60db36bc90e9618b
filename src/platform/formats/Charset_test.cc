#include "platform/formats/Charset.h"

#include <gtest/gtest.h>

namespace wren::platform {
namespace {

TEST(Charset, ConvertsTheSetsOldAddressBooksUse) {
  const struct {
    const char* charset;
    std::string bytes;
    std::optional<std::string> text;
  } cases[] = {
      {"ISO-8859-1", "M\xFCller", "Müller"},
      {"windows-1252", "\x80 5", "€ 5"},
      {"GB2312", "\xD5\xC5\xC8\xFD", "张三"},
      {"Big5", "\xB1\x69\xA4\x54", "張三"},
      {"Shift_JIS", "\x93\xFA\x96\x7B", "日本"},
      {"KOI8-R", "\xF0\xC5\xD4\xD2", "Петр"},
      {"utf-8", "ok", "ok"},
      {"X-NO-SUCH-SET", "abc", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.charset);
    EXPECT_EQ(decodeCharset(c.bytes, c.charset), c.text);
  }
}

}  // namespace
}  // namespace wren::platform

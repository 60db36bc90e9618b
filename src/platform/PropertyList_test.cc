#include "platform/PropertyList.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>

namespace wren::platform {
namespace {

using Strings = std::vector<std::string>;

// A binary list laid out by hand: the objects in order, one-byte offsets widened to
// `offsetWidth`, and a trailer naming object 0 as the root.
std::string binaryList(const std::vector<std::string>& objects, unsigned refWidth = 1, unsigned offsetWidth = 4) {
  std::string bytes = "bplist00";
  std::vector<uint64_t> offsets;
  for (const std::string& object : objects) {
    offsets.push_back(bytes.size());
    bytes += object;
  }
  uint64_t table = bytes.size();
  for (uint64_t offset : offsets)
    for (unsigned i = offsetWidth; i-- > 0;) bytes += static_cast<char>(offset >> (8 * i));
  std::string trailer(32, '\0');
  trailer[6] = static_cast<char>(offsetWidth);
  trailer[7] = static_cast<char>(refWidth);
  for (int i = 0; i < 8; ++i) trailer[8 + i] = static_cast<char>(uint64_t(objects.size()) >> (56 - 8 * i));
  for (int i = 0; i < 8; ++i) trailer[24 + i] = static_cast<char>(table >> (56 - 8 * i));
  return bytes + trailer;
}

// The marker of an object of `kind` with `count` elements, with a following integer for
// counts of 15 and more.
std::string marker(unsigned kind, uint64_t count) {
  if (count < 15) return std::string(1, static_cast<char>((kind << 4) | count));
  return std::string(1, static_cast<char>((kind << 4) | 0xF)) + "\x11" + static_cast<char>(count >> 8) +
         static_cast<char>(count & 0xFF);
}

std::string ascii(const std::string& text) { return marker(0x5, text.size()) + text; }

TEST(PropertyList, BinaryListsRoundTrip) {
  const Strings lists[] = {
      {},
      {"Work"},
      {"Work", "Urgent\n6", "Project\n4"},
      {"Reisekosten", "Überfällig\n6", "報告\n2", "🎉 party"},
      {"", "a\nb\nc", std::string(5000, 'x')},
  };
  for (const Strings& strings : lists) {
    SCOPED_TRACE(testing::PrintToString(strings));
    std::string bytes = binaryPropertyListOfStrings(strings);
    EXPECT_EQ(bytes.substr(0, 8), "bplist00");
    EXPECT_EQ(stringArrayFromPropertyList(bytes), strings);
  }
}

TEST(PropertyList, ReadsXml) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n<array>\n\t<string>Work</string>\n\t<string>Urgent\n6</string>\n"
      "\t<string>R&amp;D</string>\n</array>\n</plist>\n";
  EXPECT_EQ(stringArrayFromPropertyList(xml), (Strings{"Work", "Urgent\n6", "R&D"}));
}

TEST(PropertyList, AnythingButAnArrayOfStringsIsNothing) {
  const std::pair<const char*, std::string> cases[] = {
      {"empty", ""},
      {"garbage", "\x01\x02garbage\xff\xfe"},
      {"the magic alone", "bplist00"},
      {"a string root", binaryList({ascii("Work")})},
      {"an array holding an integer", binaryList({marker(0xA, 2) + "\x01\x02", ascii("Work"), "\x10\x05"})},
      {"an array holding an array", binaryList({marker(0xA, 1) + "\x01", marker(0xA, 0)})},
      {"a reference past the objects", binaryList({marker(0xA, 1) + "\x07", ascii("Work")})},
      {"a string longer than the list", binaryList({marker(0xA, 1) + "\x01", marker(0x5, 14) + "abc"})},
      {"an array longer than the list", binaryList({marker(0xA, 200) + "\x01", ascii("Work")})},
      {"a count of a bad width", binaryList({"\xAF\x17" + std::string(8, '\0'), ascii("Work")})},
      {"an XML dictionary", "<plist version=\"1.0\"><dict><key>a</key><string>b</string></dict></plist>"},
      {"an XML array with a number",
       "<plist version=\"1.0\"><array><string>a</string><integer>1</integer></array></plist>"},
      {"unfinished XML", "<plist version=\"1.0\"><array><string>a</string>"},
  };
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    EXPECT_EQ(stringArrayFromPropertyList(bytes), std::nullopt);
  }
}

TEST(PropertyList, HandBuiltListsReadLikeWrittenOnes) {
  // A UTF-16 string and one string named twice, as writers that share equal strings do.
  std::string utf16 = marker(0x6, 2) + std::string("\x00\xdc\x00\x62", 4);
  EXPECT_EQ(stringArrayFromPropertyList(binaryList({marker(0xA, 3) + "\x01\x02\x01", ascii("Work"), utf16})),
            (Strings{"Work", "Üb", "Work"}));
}

TEST(PropertyList, LargeInputIsNotRead) {
  Strings many(70000, "x");
  std::string bytes = binaryPropertyListOfStrings(many);
  ASSERT_GT(bytes.size(), kMaxPropertyListBytes);
  EXPECT_EQ(stringArrayFromPropertyList(bytes), std::nullopt);
  // A megabyte of XML, as another program might store on a file system without a limit.
  std::string xml = "<plist version=\"1.0\"><array>";
  while (xml.size() < 1024 * 1024) xml += "<string>tag</string>";
  EXPECT_EQ(stringArrayFromPropertyList(xml + "</array></plist>"), std::nullopt);
}

TEST(PropertyList, ManyReferencesToOneLongStringAreNotExpanded) {
  // 30,000 references to one 30,000-character string: 90 KB that would expand to 900 MB.
  // The same within the size cap: 20,000 references to a 20,000-character string.
  for (uint64_t count : {30000u, 20000u}) {
    SCOPED_TRACE(count);
    std::string array = marker(0xA, count);
    for (uint64_t i = 0; i < count; ++i) array += std::string("\x00\x01", 2);
    std::string bytes = binaryList({array, ascii(std::string(count, 'x'))}, 2);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(stringArrayFromPropertyList(bytes), std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  }
}

TEST(PropertyList, DeepNestingIsRefusedWithoutExhaustingTheStack) {
  // Arrays in arrays, 10,000 deep in binary and 6,000 in XML, read on a thread of its own
  // as requests are.
  constexpr unsigned kDepth = 10000;
  std::vector<std::string> objects;
  for (unsigned i = 0; i < kDepth; ++i)
    objects.push_back(i + 1 < kDepth
                          ? marker(0xA, 1) + static_cast<char>((i + 1) >> 8) + static_cast<char>((i + 1) & 0xFF)
                          : marker(0xA, 0));
  std::string binary = binaryList(objects, 2, 2);
  ASSERT_LE(binary.size(), kMaxPropertyListBytes);
  std::string xml = "<plist version=\"1.0\">";
  for (int i = 0; i < 6000; ++i) xml += "<array>";
  for (int i = 0; i < 6000; ++i) xml += "</array>";
  xml += "</plist>";
  std::thread reader([&] {
    EXPECT_EQ(stringArrayFromPropertyList(binary), std::nullopt);
    EXPECT_EQ(stringArrayFromPropertyList(xml), std::nullopt);
  });
  reader.join();
}

TEST(PropertyList, DamagedCopiesOfAValidListNeverCrash) {
  std::string valid = binaryPropertyListOfStrings({"Work", "Urgent\n6", "Überfällig\n2", std::string(300, 'y')});
  for (std::size_t length = 0; length <= valid.size(); ++length) stringArrayFromPropertyList(valid.substr(0, length));
  // Every byte replaced by a few values that upset lengths, markers and offsets.
  for (std::size_t at = 0; at < valid.size(); ++at) {
    for (unsigned char value : {0x00, 0x0F, 0x5F, 0x7F, 0xAF, 0xFF}) {
      std::string damaged = valid;
      damaged[at] = static_cast<char>(value);
      std::optional<Strings> read = stringArrayFromPropertyList(damaged);
      if (read) {
        EXPECT_LE(read->size(), 4u);
      }
    }
  }
}

TEST(PropertyList, StringsWithNulAreNotWritten) {
  EXPECT_THROW(binaryPropertyListOfStrings({std::string("a\0b", 3)}), std::runtime_error);
}

TEST(PropertyList, DictionariesGiveTheirStringMembers) {
  const std::string header = R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0">)";
  auto read = [&](const std::string& body) { return stringDictionaryFromXmlPropertyList(header + body + "</plist>"); };
  EXPECT_EQ(read("<dict><key>CFBundleName</key><string>Wren</string><key>Count</key><integer>3</integer>"
                 "<key>Nested</key><dict><key>a</key><string>b</string></dict>"
                 "<key>Text</key><string>&lt;「日历」&amp;</string></dict>"),
            (std::map<std::string, std::string>{{"CFBundleName", "Wren"}, {"Text", "<「日历」&"}}));
  EXPECT_EQ(read("<dict/>"), (std::map<std::string, std::string>{}));
  EXPECT_EQ(read("<array><string>Wren</string></array>"), std::nullopt);
  EXPECT_EQ(read("<dict><key>CFBundleName</key>"), std::nullopt);
  EXPECT_EQ(stringDictionaryFromXmlPropertyList(binaryPropertyListOfStrings({"Wren"})), std::nullopt);
  EXPECT_EQ(stringDictionaryFromXmlPropertyList(""), std::nullopt);
  EXPECT_EQ(stringDictionaryFromXmlPropertyList(header + "<dict>" + std::string(kMaxPropertyListBytes, ' ') +
                                                "</dict></plist>"),
            std::nullopt);
}

}  // namespace
}  // namespace wren::platform

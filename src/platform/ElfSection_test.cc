#include "platform/ElfSection.h"

#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "support/TemporaryFolder.h"

namespace wren::platform {
namespace {

std::string bytesOf(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The test program carries the property list the build puts into the helper.
TEST(ElfSection, FindsTheSectionOfTheRunningProgram) {
  std::optional<std::string> plist = elfSection("/proc/self/exe", ".info_plist");
  ASSERT_TRUE(plist.has_value());
  EXPECT_TRUE(plist->starts_with("<?xml")) << plist->substr(0, 40);
  EXPECT_NE(plist->find("CFBundleIdentifier"), std::string::npos);
  // A name that only begins like it, or ends like it, is another section.
  EXPECT_EQ(elfSection("/proc/self/exe", ".info"), std::nullopt);
  EXPECT_EQ(elfSection("/proc/self/exe", ".info_plist2"), std::nullopt);
  EXPECT_EQ(elfSection("/proc/self/exe", ".info_plist", plist->size() - 1), std::nullopt);
}

TEST(ElfSection, GivesNothingForFilesItCannotTrust) {
  testing::TemporaryFolder folder("wren-elf");
  const std::string program = bytesOf("/proc/self/exe");
  Elf64_Ehdr header{};
  std::memcpy(&header, program.data(), sizeof header);

  auto withHeader = [&](auto change) {
    Elf64_Ehdr changed = header;
    change(changed);
    std::string bytes = program;
    std::memcpy(bytes.data(), &changed, sizeof changed);
    return bytes;
  };
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"empty", ""},
      {"not ELF", "#!/bin/sh\necho hello\n"},
      {"only the header", program.substr(0, sizeof header)},
      {"cut short before the section table", program.substr(0, program.size() / 2)},
      {"section table past the end", withHeader([](Elf64_Ehdr& h) { h.e_shoff = ~0ull - 8; })},
      {"name table index out of range", withHeader([](Elf64_Ehdr& h) { h.e_shstrndx = h.e_shnum; })},
      {"32-bit class", withHeader([](Elf64_Ehdr& h) { h.e_ident[EI_CLASS] = ELFCLASS32; })},
      {"big-endian", withHeader([](Elf64_Ehdr& h) { h.e_ident[EI_DATA] = ELFDATA2MSB; })},
      {"odd entry size", withHeader([](Elf64_Ehdr& h) { h.e_shentsize = 12; })},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(elfSection(folder.write("file", c.bytes), ".info_plist"), std::nullopt);
  }
  EXPECT_EQ(elfSection(folder.path() / "missing", ".info_plist"), std::nullopt);
  EXPECT_EQ(elfSection(folder.path(), ".info_plist"), std::nullopt);
  // The untouched copy still reads, so the cases above failed for their change alone.
  EXPECT_TRUE(elfSection(folder.write("file", program), ".info_plist").has_value());
}

}  // namespace
}  // namespace wren::platform

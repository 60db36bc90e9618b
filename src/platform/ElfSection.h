#pragma once

// Reads one named section out of an ELF executable file, the way the helper finds the
// information property list the build put into its own image:
//
//   std::optional<std::string> plist = elfSection("/proc/self/exe", ".info_plist");
//
// The file is read through its headers only, each checked against the file's size, so a
// truncated or hostile file gives nothing rather than a read past its end; sections larger
// than `limit` are not read.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace wren::platform {

// The bytes of the first section of that name in a 64-bit little-endian ELF file; nothing
// when the file cannot be read, is no such ELF file, has no such section, or the section
// holds no bytes in the file or more than `limit`.
std::optional<std::string> elfSection(const std::filesystem::path& file, std::string_view name,
                                      std::size_t limit = 1024 * 1024);

}  // namespace wren::platform

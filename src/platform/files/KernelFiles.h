#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wren::platform {

// Reads of the small attribute files the kernel publishes under /proc and /sys, and of the
// fake trees that tests build in their place. A file that is missing, unreadable, not a
// regular file or holding something else than expected reads as nothing: callers report
// what they could find and leave the rest out.
//
//   std::optional<int64_t> percent = readKernelInteger(supply / "capacity");   // 87
//   std::optional<std::string> status = readKernelValue(supply / "status");    // "Charging"

// The file's first `maxBytes` bytes at most. Never blocks on a FIFO and never reads more
// than the cap, whatever the file claims to hold.
std::optional<std::string> readKernelFile(const std::filesystem::path& path, std::size_t maxBytes = 4096);

// The first line of the file without surrounding blanks; nothing when it is empty.
std::optional<std::string> readKernelValue(const std::filesystem::path& path);

// The first line read by parseDecimal.
std::optional<int64_t> readKernelInteger(const std::filesystem::path& path);

// The entries of a folder, sorted by name so that answers do not depend on the order the
// file system lists them in; empty for a missing or unreadable folder.
std::vector<std::filesystem::path> kernelFolderEntries(const std::filesystem::path& folder);

// A whole decimal number with an optional minus sign and nothing else ("42", "-7"); nothing
// for text, fractions or values outside the signed 64-bit range.
std::optional<int64_t> parseDecimal(std::string_view text);

}  // namespace wren::platform

#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/files/RegularFile.h"

namespace wren::platform {

// What identifies one version of a file: a file rewritten in place, or replaced by rename,
// gets a new stamp even when its size stays the same.
//
//   std::optional<FileVersion> read = readFileVersion(path);
//   ...                                     // later, before writing over the file
//   if (stampOf(path) != read->stamp) ...   // another program changed it meanwhile
struct FileStamp {
  std::int64_t mtimeNs = 0;
  std::int64_t size = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileStamp&) const = default;
};

// The stamp of the file at the path now (symbolic links followed), or nothing when there is
// no regular file.
std::optional<FileStamp> stampOf(const std::filesystem::path& path);
// The stamp that stat(2) information describes.
FileStamp stampOf(const struct stat& info);

// The text of a file with the stamp of the version read (taken from the open file, so the
// two belong together even while another program writes).
struct FileVersion {
  std::string text;
  FileStamp stamp;
};
// Nothing when the path is not a regular file of at most `maxBytes` that can be read whole.
std::optional<FileVersion> readFileVersion(const std::filesystem::path& path, std::size_t maxBytes = kItemFileBytes);

}  // namespace wren::platform

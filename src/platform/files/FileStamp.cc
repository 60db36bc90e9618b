#include "platform/files/FileStamp.h"

#include <utility>

namespace wren::platform {

FileStamp stampOf(const struct stat& info) {
  return {static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec,
          static_cast<std::int64_t>(info.st_size), static_cast<std::uint64_t>(info.st_ino)};
}

std::optional<FileStamp> stampOf(const std::filesystem::path& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return stampOf(info);
}

std::optional<FileVersion> readFileVersion(const std::filesystem::path& path, std::size_t maxBytes) {
  auto read = readRegular(path, maxBytes);
  auto* file = std::get_if<RegularFileText>(&read);
  if (!file) return std::nullopt;
  return FileVersion{std::move(file->text), stampOf(file->info)};
}

}  // namespace wren::platform

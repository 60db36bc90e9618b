#include "platform/files/FileStamp.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/files/FileDescriptor.h"

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

std::optional<FileVersion> readFileVersion(const std::filesystem::path& path) {
  // Non-blocking, so that a FIFO under an item name cannot hold the reader up.
  FileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) return std::nullopt;
  struct stat info;
  if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  FileVersion version;
  version.stamp = stampOf(info);
  version.text.resize(static_cast<std::size_t>(info.st_size));
  std::size_t done = 0;
  while (done < version.text.size()) {
    ssize_t count = read(fd.get(), version.text.data() + done, version.text.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return std::nullopt;
    done += static_cast<std::size_t>(count);
  }
  return version;
}

}  // namespace wren::platform

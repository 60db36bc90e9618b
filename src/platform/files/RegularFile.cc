#include "platform/files/RegularFile.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace wren::platform {

FileDescriptor openRegularFile(const std::filesystem::path& path) {
  // O_NONBLOCK keeps the open from waiting for the writer of a FIFO; the type is checked on
  // the descriptor itself, so the file cannot be swapped between the check and the reads.
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!file) return file;
  struct stat info;
  if (::fstat(file.get(), &info) != 0) return FileDescriptor();
  if (!S_ISREG(info.st_mode)) {
    errno = S_ISDIR(info.st_mode) ? EISDIR : ENODEV;
    return FileDescriptor();
  }
  // Regular files ignore O_NONBLOCK, but the readers that get the descriptor should not
  // have to think about it.
  int flags = ::fcntl(file.get(), F_GETFL);
  if (flags >= 0) ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK);
  return file;
}

std::variant<RegularFileText, ReadFailure> readRegular(const std::filesystem::path& path, std::size_t maxBytes,
                                                       Overlong overlong) {
  FileDescriptor file = openRegularFile(path);
  if (!file) return ReadFailure{"open", errno};
  RegularFileText result;
  if (::fstat(file.get(), &result.info) != 0) return ReadFailure{"fstat", errno};
  const auto size = static_cast<std::size_t>(std::max<off_t>(result.info.st_size, 0));
  if (size > maxBytes && overlong == Overlong::Refuse) return ReadFailure{"read", EFBIG};
  // The size stat(2) gives is a first guess only: files under /proc say 0, and a file may
  // grow while it is read. One byte more than the cap tells a file over it.
  std::string& text = result.text;
  text.resize(std::min(size, maxBytes) + 1);
  std::size_t filled = 0;
  for (;;) {
    if (filled == text.size()) {
      if (text.size() > maxBytes) break;
      text.resize(std::min(maxBytes + 1, std::max<std::size_t>(text.size() * 2, 4096)));
    }
    ssize_t count = ::read(file.get(), text.data() + filled, text.size() - filled);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return ReadFailure{"read", errno};
    if (count == 0) break;
    filled += static_cast<std::size_t>(count);
  }
  if (filled > maxBytes) {
    if (overlong == Overlong::Refuse) return ReadFailure{"read", EFBIG};
    filled = maxBytes;
  }
  text.resize(filled);
  return result;
}

std::optional<std::string> readRegularFile(const std::filesystem::path& path, std::size_t maxBytes) {
  auto read = readRegular(path, maxBytes);
  if (auto* file = std::get_if<RegularFileText>(&read)) return std::move(file->text);
  return std::nullopt;
}

}  // namespace wren::platform

#include "platform/ocr/InputFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace wren::platform {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

int FileDescriptor::release() { return std::exchange(fd_, -1); }

FileDescriptor openRegularFile(const std::string& path) {
  // O_NONBLOCK keeps open from waiting for the writer of a FIFO; the type is checked on the
  // descriptor itself, so the file cannot be swapped between the check and the reads.
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!file) return file;
  struct stat info;
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return FileDescriptor();
  // Regular files ignore O_NONBLOCK, but the readers that get the descriptor should not
  // have to think about it.
  int flags = ::fcntl(file.get(), F_GETFL);
  if (flags >= 0) ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK);
  return file;
}

std::optional<std::string> readRegularFile(const std::string& path, size_t maxBytes) {
  FileDescriptor file = openRegularFile(path);
  if (!file) return std::nullopt;
  std::string bytes;
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    if (bytes.size() + static_cast<size_t>(n) > maxBytes) return std::nullopt;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

}  // namespace wren::platform

#pragma once

#include <unistd.h>

#include <utility>

namespace wren::platform {

// Owns an open file descriptor and closes it once, on every way out of the scope:
//
//   FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
//   if (!fd) throw FileError("open", path, errno);
//   ... read(fd.get(), ...) ...
//   if (fd.close() != 0) throw FileError("close", path, errno);  // a delayed write error
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { reset(); }

  // False when the call that made it failed (a negative descriptor).
  explicit operator bool() const { return fd_ >= 0; }
  int get() const { return fd_; }

  // Closes now, so that a failing close can be reported: close(2)'s result.
  int close() { return ::close(std::exchange(fd_, -1)); }
  // Hands the descriptor to a library that closes it itself.
  int release() { return std::exchange(fd_, -1); }

 private:
  void reset() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  }

  int fd_ = -1;
};

}  // namespace wren::platform

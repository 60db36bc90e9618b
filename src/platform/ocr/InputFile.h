#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace wren::platform {

// Opening a file named in a request, which may name anything: a missing file, a folder, a
// symbolic link loop, a FIFO that nobody writes to, a device. Only regular files are
// opened, and opening never waits for a writer.

// Owns an open file descriptor and closes it once.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor();

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Hands the descriptor to a library that closes it itself.
  int release();

 private:
  int fd_;
};

// The file opened for reading when it is a regular file (after following links); an empty
// descriptor otherwise.
FileDescriptor openRegularFile(const std::string& path);

// The whole content of a regular file of at most `maxBytes` bytes; nothing when the file
// cannot be opened or read, is not a regular file, or is larger.
std::optional<std::string> readRegularFile(const std::string& path, size_t maxBytes);

}  // namespace wren::platform

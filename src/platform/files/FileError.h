#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace wren::platform {

// A failed system call on a file or folder, with the call, the path and the error number:
//
//   if (fsync(fd) != 0) throw FileError("fsync", path, errno);
//   // what(): "fsync(/data/calendars/work/a.ics): Input/output error"
//
// Every file piece of this folder throws it, and so do the other wrappers of file system
// calls (file attributes). Stores and other callers pass it on, or report its text after
// their own prefix, or choose their own message by the error number; the event store turns
// it into its StoreError.
class FileError : public std::runtime_error {
 public:
  FileError(std::string call, std::filesystem::path path, int error);

  const std::string& call() const { return call_; }
  const std::filesystem::path& path() const { return path_; }
  // The errno value of the failure.
  int error() const { return error_; }

  // The system's text for an errno, as strerror gives it, from any thread.
  static std::string describe(int error);

 private:
  std::string call_;
  std::filesystem::path path_;
  int error_;
};

}  // namespace wren::platform

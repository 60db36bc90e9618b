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

 protected:
  // A failure that is best told in words of its own rather than the system's.
  FileError(std::string call, std::filesystem::path path, int error, const std::string& message);

 private:
  std::string call_;
  std::filesystem::path path_;
  int error_;
};

// A write refused because the file at the path is no longer the version it was read as:
// another program changed, replaced, removed or created it meanwhile. Nothing was written:
// the other program's version stays.
//
//   // what(): "the file /data/calendars/work/a.ics changed on disk since it was read
//   //          (another program edited it); read it again"
class FileChangedError : public FileError {
 public:
  enum class Change {
    Edited,   // another version (or a file where none was expected) is in place
    Removed,  // nothing is at the path any more
  };
  FileChangedError(std::filesystem::path path, Change change);

  Change change() const { return change_; }

 private:
  Change change_;
};

}  // namespace wren::platform

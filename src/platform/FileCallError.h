#pragma once

#include <string.h>

#include <stdexcept>
#include <string>

namespace wren::platform {

// A failed system call on a file: the call, the path and the errno it set, so that the
// caller can choose its own message for the errors the person can act on.
//
//   throw FileCallError("setxattr", path, errno);
//   // what(): "setxattr(/home/ann/report.pdf): Operation not supported"
class FileCallError : public std::runtime_error {
 public:
  FileCallError(std::string call, std::string path, int error)
      : std::runtime_error(call + "(" + path + "): " + describe(error)),
        call_(std::move(call)),
        path_(std::move(path)),
        error_(error) {}

  const std::string& call() const { return call_; }
  const std::string& path() const { return path_; }
  int error() const { return error_; }

  // The system's text for an errno, as strerror gives it, from any thread.
  static std::string describe(int error) {
    char buffer[256];
    return strerror_r(error, buffer, sizeof buffer);
  }

 private:
  std::string call_;
  std::string path_;
  int error_;
};

}  // namespace wren::platform

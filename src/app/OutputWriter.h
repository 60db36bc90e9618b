#pragma once

#include <mutex>
#include <string>

#include "app/Json.h"

namespace wren {

// The only writer of the helper's standard output (and of its diagnostics). Each reply is
// one line written whole under one lock, so lines never interleave. A closed output
// (EPIPE) drops the line; the helper keeps going until its input ends.
class OutputWriter {
 public:
  explicit OutputWriter(int outputFd = 1, int diagnosticsFd = 2)
      : outputFd_(outputFd), diagnosticsFd_(diagnosticsFd) {}

  void reply(const Json& envelope);
  // One line on standard error, "wren-mac-helper: unreadable request" for example.
  void diagnostic(const std::string& line);

 private:
  std::mutex mutex_;
  int outputFd_;
  int diagnosticsFd_;
};

// Writes all bytes, retrying after interruptions and partial writes; false on failure.
bool writeAll(int fd, const std::string& bytes);

}  // namespace wren

#pragma once

#include <condition_variable>
#include <mutex>
#include <string>

#include "app/Json.h"

namespace wren {

// The only writer of the helper's standard output (and of its diagnostics). Replies go out
// whole and in the order they are handed in, so lines never interleave. A closed output
// (EPIPE) drops the line; the helper keeps going until its input ends.
//
// One caller at a time writes. Replies handed in meanwhile are appended to a buffer that the
// writing caller empties, in one write for as many lines as have gathered, before it
// returns. So when reply() returns, its line has been written, or is in the buffer of a
// caller that is still inside reply() and writes it before returning: once every caller
// has returned, every line is out.
class OutputWriter {
 public:
  explicit OutputWriter(int outputFd = 1, int diagnosticsFd = 2)
      : outputFd_(outputFd), diagnosticsFd_(diagnosticsFd) {}

  void reply(const Json& envelope);
  // Returns once the lines waiting to be written are few. The reader calls it before it
  // takes more requests, so that a host that reads its replies slowly slows the reading of
  // requests down rather than letting replies pile up in memory; request tasks themselves
  // never wait for the host.
  void waitForRoom();
  // One line on standard error, "wren-mac-helper: unreadable request" for example.
  void diagnostic(const std::string& line);

 private:
  // Bytes of lines that may wait for the writing caller before others wait to add theirs.
  static constexpr size_t kPendingLimit = 1 << 16;

  std::mutex mutex_;
  std::condition_variable roomForLines_;
  std::string pending_;  // whole lines waiting for the writing caller
  bool writing_ = false;
  std::mutex diagnosticsMutex_;
  int outputFd_;
  int diagnosticsFd_;
};

// Writes all bytes, retrying after interruptions and partial writes; false on failure.
bool writeAll(int fd, const std::string& bytes);

}  // namespace wren

#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "app/Json.h"

namespace wren {

// The only writer of the helper's standard output (and of its diagnostics). Replies go out
// whole and in the order they are handed in, so lines never interleave. A closed output
// (EPIPE) drops the line; the helper keeps going until its input ends.
//
//   OutputWriter output;
//   output.reply(envelope);  // serialised here, written by the writer thread
//   output.flush();          // every reply handed in so far is out
//
// The caller serialises its reply. When nothing else is being written and the output takes
// a short line at once, the caller writes it; otherwise it hands the line to a writer thread
// of its own, which writes as many lines as have gathered in one write. The caller never
// waits for the host: a host that reads slowly holds up the writer thread alone, and the
// reader, which waits for room before it takes more requests.
class OutputWriter {
 public:
  explicit OutputWriter(int outputFd = 1, int diagnosticsFd = 2);
  // Writes what was handed in, then ends the writer thread.
  ~OutputWriter();
  OutputWriter(const OutputWriter&) = delete;
  OutputWriter& operator=(const OutputWriter&) = delete;

  void reply(const Json& envelope);
  // Returns once the lines waiting to be written are few. The reader calls it before it
  // takes more requests, so that a host that reads its replies slowly slows the reading of
  // requests down rather than letting replies pile up in memory.
  void waitForRoom();
  // Returns once every line handed in so far has been written (or dropped by a closed output).
  void flush();
  // One line on standard error, "wren-mac-helper: unreadable request" for example.
  void diagnostic(const std::string& line);

 private:
  // Bytes of lines that may wait for the writer before the reader waits for room.
  static constexpr size_t kPendingLimit = 1 << 16;

  void writeLines();
  void hand(std::string line);

  std::mutex mutex_;
  std::condition_variable linesWaiting_;  // writer: lines, or the end
  std::condition_variable progress_;      // waitForRoom and flush: lines written
  std::string pending_;                    // whole lines waiting for the writer
  bool writing_ = false;                   // a batch, or a caller's line, is being written
  bool stopping_ = false;
  std::mutex diagnosticsMutex_;
  int outputFd_;
  int diagnosticsFd_;
  std::thread writer_;  // not started when the system refused it: callers write themselves
};

// Writes all bytes, retrying after interruptions and partial writes; false on failure.
bool writeAll(int fd, const std::string& bytes);

}  // namespace wren

#include "app/OutputWriter.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <system_error>

namespace wren {

bool writeAll(int fd, const std::string& bytes) {
  size_t written = 0;
  while (written < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    written += static_cast<size_t>(n);
  }
  return true;
}

namespace {

// Whether a line of at most PIPE_BUF bytes can be written now without waiting for the host.
bool takesWithoutWaiting(int fd) {
  pollfd output{fd, POLLOUT, 0};
  return ::poll(&output, 1, 0) == 1 && (output.revents & POLLOUT) && !(output.revents & (POLLERR | POLLHUP));
}

}  // namespace

OutputWriter::OutputWriter(int outputFd, int diagnosticsFd) : outputFd_(outputFd), diagnosticsFd_(diagnosticsFd) {
  try {
    writer_ = std::thread([this] { writeLines(); });
  } catch (const std::system_error&) {
    // Without a thread of its own, every caller of reply writes its line itself (hand).
  }
}

OutputWriter::~OutputWriter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  linesWaiting_.notify_one();
  if (writer_.joinable()) writer_.join();
}

void OutputWriter::reply(const Json& envelope) {
  std::string line;
  try {
    line = serializeReply(envelope);
  } catch (const std::exception&) {
    diagnostic("wren-mac-helper: unserializable reply");
    return;
  }
  line += '\n';
  hand(std::move(line));
}

void OutputWriter::hand(std::string line) {
  std::unique_lock lock(mutex_);
  if (!writer_.joinable()) {
    // No writer thread: the lock keeps lines whole.
    writeAll(outputFd_, line);
    return;
  }
  if (!writing_ && pending_.empty() && line.size() <= PIPE_BUF) {
    // Nothing else is being written: a short line the output takes at once is written from
    // this thread, which spares waking the writer thread for every reply.
    writing_ = true;
    lock.unlock();
    const bool direct = takesWithoutWaiting(outputFd_);
    if (direct) writeAll(outputFd_, line);
    lock.lock();
    writing_ = false;
    if (!pending_.empty() || stopping_) linesWaiting_.notify_one();
    if (direct) {
      progress_.notify_all();
      return;
    }
  }
  const bool wasEmpty = pending_.empty();
  if (wasEmpty) {
    pending_ = std::move(line);
  } else {
    pending_ += line;
  }
  if (wasEmpty && !writing_) linesWaiting_.notify_one();
}

void OutputWriter::writeLines() {
  std::unique_lock lock(mutex_);
  std::string batch;
  for (;;) {
    linesWaiting_.wait(lock, [this] { return !writing_ && (!pending_.empty() || stopping_); });
    if (pending_.empty()) return;  // stopping, and everything is out
    batch.swap(pending_);
    writing_ = true;
    lock.unlock();
    progress_.notify_all();  // the pending lines are taken: room for more
    writeAll(outputFd_, batch);
    batch.clear();
    lock.lock();
    writing_ = false;
    progress_.notify_all();
  }
}

void OutputWriter::waitForRoom() {
  std::unique_lock lock(mutex_);
  progress_.wait(lock, [this] { return pending_.size() < kPendingLimit; });
}

void OutputWriter::flush() {
  std::unique_lock lock(mutex_);
  progress_.wait(lock, [this] { return pending_.empty() && !writing_; });
}

void OutputWriter::diagnostic(const std::string& line) {
  std::lock_guard lock(diagnosticsMutex_);
  writeAll(diagnosticsFd_, line + "\n");
}

}  // namespace wren

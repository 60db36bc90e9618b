#include "app/OutputWriter.h"

#include <unistd.h>

#include <cerrno>
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
  if (writer_.joinable()) {
    const bool wasEmpty = pending_.empty();
    if (wasEmpty) {
      pending_ = std::move(line);
    } else {
      pending_ += line;
    }
    lock.unlock();
    if (wasEmpty) linesWaiting_.notify_one();
    return;
  }
  // No writer thread: the lock keeps lines whole.
  writeAll(outputFd_, line);
}

void OutputWriter::writeLines() {
  std::unique_lock lock(mutex_);
  std::string batch;
  for (;;) {
    linesWaiting_.wait(lock, [this] { return !pending_.empty() || stopping_; });
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

#include "app/OutputWriter.h"

#include <unistd.h>

#include <cerrno>

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

void OutputWriter::reply(const Json& envelope) {
  std::string line;
  try {
    line = serializeReply(envelope);
  } catch (const std::exception&) {
    diagnostic("wren-mac-helper: unserializable reply");
    return;
  }
  line += '\n';
  std::unique_lock lock(mutex_);
  if (pending_.empty()) {
    pending_ = std::move(line);
  } else {
    pending_ += line;
  }
  if (writing_) return;  // the caller writing now takes this line too
  writing_ = true;
  std::string batch;
  while (!pending_.empty()) {
    batch.swap(pending_);
    roomForLines_.notify_all();
    lock.unlock();
    writeAll(outputFd_, batch);
    batch.clear();
    lock.lock();
  }
  writing_ = false;
}

void OutputWriter::waitForRoom() {
  std::unique_lock lock(mutex_);
  roomForLines_.wait(lock, [this] { return pending_.size() < kPendingLimit; });
}

void OutputWriter::diagnostic(const std::string& line) {
  std::lock_guard lock(diagnosticsMutex_);
  writeAll(diagnosticsFd_, line + "\n");
}

}  // namespace wren

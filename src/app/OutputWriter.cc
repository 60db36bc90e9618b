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
  std::lock_guard lock(mutex_);
  writeAll(outputFd_, line);
}

void OutputWriter::diagnostic(const std::string& line) {
  std::lock_guard lock(mutex_);
  writeAll(diagnosticsFd_, line + "\n");
}

}  // namespace wren

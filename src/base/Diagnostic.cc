#include "base/Diagnostic.h"

#include <unistd.h>

#include <cerrno>
#include <exception>
#include <string>

namespace wren {

void writeDiagnostic(std::string_view line) {
  std::string text(line);
  text += '\n';
  for (size_t written = 0; written < text.size();) {
    ssize_t n = ::write(2, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    written += static_cast<size_t>(n);
  }
}

void runReportingFailure(const std::function<void()>& work, std::string_view failure) {
  try {
    work();
  } catch (const std::exception& error) {
    writeDiagnostic("wren-mac-helper: " + std::string(failure) + ": " + error.what());
  } catch (...) {
    writeDiagnostic("wren-mac-helper: " + std::string(failure));
  }
}

}  // namespace wren

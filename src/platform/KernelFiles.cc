#include "platform/KernelFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <system_error>

namespace wren::platform {

namespace {

constexpr std::string_view kBlanks = " \t\r\n";

class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::filesystem::path& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)) {}
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
  ~ReadOnlyFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::optional<std::string> readKernelFile(const std::filesystem::path& path, std::size_t maxBytes) {
  // O_NONBLOCK keeps a FIFO planted in a tree from holding the open; only regular files
  // (which every kernel attribute file is) are read.
  ReadOnlyFile file(path);
  struct stat info {};
  if (file.get() < 0 || fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  std::string text(maxBytes, '\0');
  std::size_t filled = 0;
  while (filled < maxBytes) {
    ssize_t n = ::read(file.get(), text.data() + filled, maxBytes - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
  }
  text.resize(filled);
  return text;
}

std::optional<std::string> readKernelValue(const std::filesystem::path& path) {
  std::optional<std::string> text = readKernelFile(path);
  if (!text) return std::nullopt;
  std::string_view line(*text);
  line = line.substr(0, line.find('\n'));
  std::size_t begin = line.find_first_not_of(kBlanks);
  if (begin == std::string_view::npos) return std::nullopt;
  std::size_t end = line.find_last_not_of(kBlanks);
  return std::string(line.substr(begin, end - begin + 1));
}

std::optional<int64_t> readKernelInteger(const std::filesystem::path& path) {
  std::optional<std::string> value = readKernelValue(path);
  if (!value) return std::nullopt;
  return parseDecimal(*value);
}

std::vector<std::filesystem::path> kernelFolderEntries(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> entries;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
    entries.push_back(it->path());
  std::sort(entries.begin(), entries.end());
  return entries;
}

std::optional<int64_t> parseDecimal(std::string_view text) {
  if (text.empty() || text[0] == '+') return std::nullopt;
  int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace wren::platform

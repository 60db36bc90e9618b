#include "platform/files/KernelFiles.h"

#include <algorithm>
#include <charconv>
#include <system_error>
#include <utility>

#include "platform/files/RegularFile.h"

namespace wren::platform {

namespace {

constexpr std::string_view kBlanks = " \t\r\n";

}  // namespace

std::optional<std::string> readKernelFile(const std::filesystem::path& path, std::size_t maxBytes) {
  auto read = readRegular(path, maxBytes, Overlong::Cut);
  if (auto* file = std::get_if<RegularFileText>(&read)) return std::move(file->text);
  return std::nullopt;
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

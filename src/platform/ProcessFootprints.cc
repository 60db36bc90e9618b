#include "platform/ProcessFootprints.h"

#include <string>

#include "platform/KernelFiles.h"

namespace wren::platform {

namespace {

// A status file is about 1.5 KB; the cap only guards against a strange file in its place.
constexpr std::size_t kMaxStatusBytes = 64 * 1024;

// The value in bytes of a "Name:   1234 kB" line, when the text has such a line.
std::optional<uint64_t> kilobyteField(std::string_view text, std::string_view name) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (line.size() <= name.size() || line.substr(0, name.size()) != name || line[name.size()] != ':') continue;
    line.remove_prefix(name.size() + 1);
    std::size_t begin = line.find_first_not_of(" \t");
    if (begin == std::string_view::npos) return std::nullopt;
    line.remove_prefix(begin);
    std::size_t unit = line.find(' ');
    if (unit == std::string_view::npos || line.substr(unit) != " kB") return std::nullopt;
    std::optional<int64_t> kilobytes = parseDecimal(line.substr(0, unit));
    // Anything that does not fit 2^53 bytes is not a real figure.
    if (!kilobytes || *kilobytes < 0 || *kilobytes > (int64_t{1} << 43)) return std::nullopt;
    return static_cast<uint64_t>(*kilobytes) * 1024;
  }
  return std::nullopt;
}

}  // namespace

std::optional<uint64_t> footprintFromStatus(std::string_view statusText) {
  std::optional<uint64_t> resident = kilobyteField(statusText, "RssAnon");
  if (!resident) return std::nullopt;
  return *resident + kilobyteField(statusText, "VmSwap").value_or(0);
}

std::optional<uint64_t> ProcessFootprints::bytes(int32_t pid) const {
  if (pid <= 0) return std::nullopt;
  std::optional<std::string> status = readKernelFile(procRoot_ / std::to_string(pid) / "status", kMaxStatusBytes);
  if (!status) return std::nullopt;
  return footprintFromStatus(*status);
}

}  // namespace wren::platform

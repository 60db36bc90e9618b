#include "platform/ProcessFootprints.h"

#include <string>

#include "platform/files/KernelFiles.h"

namespace wren::platform {

namespace {

// A status file is about 1.5 KB; the cap only guards against a strange file in its place.
constexpr std::size_t kMaxStatusBytes = 64 * 1024;

// The value of a "Name:\tvalue" line without its leading blanks, when the text has one.
std::optional<std::string_view> field(std::string_view text, std::string_view name) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (line.size() <= name.size() || !line.starts_with(name) || line[name.size()] != ':') continue;
    line.remove_prefix(name.size() + 1);
    std::size_t begin = line.find_first_not_of(" \t");
    return begin == std::string_view::npos ? std::string_view() : line.substr(begin);
  }
  return std::nullopt;
}

// The value in bytes of a "Name:   1234 kB" line.
std::optional<uint64_t> kilobyteField(std::string_view text, std::string_view name) {
  std::optional<std::string_view> value = field(text, name);
  if (!value || !value->ends_with(" kB")) return std::nullopt;
  std::optional<int64_t> kilobytes = parseDecimal(value->substr(0, value->size() - 3));
  // Anything that does not fit 2^53 bytes is not a real figure.
  if (!kilobytes || *kilobytes < 0 || *kilobytes > (int64_t{1} << 43)) return std::nullopt;
  return static_cast<uint64_t>(*kilobytes) * 1024;
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
  // /proc answers for the id of any thread too; only a process's own id names the process.
  std::optional<std::string_view> group = field(*status, "Tgid");
  if (group && parseDecimal(*group) != pid) return std::nullopt;
  return footprintFromStatus(*status);
}

}  // namespace wren::platform

#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace wren::platform {

// The memory footprint of running processes: the physical memory that belongs to the
// process alone, its anonymous resident pages plus what of them was swapped out (RssAnon
// and VmSwap of /proc/PID/status). Shared libraries and the page cache are not counted,
// so the figure says what would be freed if the process ended.
//
//   ProcessFootprints footprints;                          // reads /proc
//   std::optional<uint64_t> bytes = footprints.bytes(getpid());
class ProcessFootprints {
 public:
  explicit ProcessFootprints(std::filesystem::path procRoot = "/proc") : procRoot_(std::move(procRoot)) {}

  // Nothing for a pid of no process, one that cannot be inspected, a kernel thread (which
  // has no memory of its own), or the id of a thread that is not its process's main one.
  std::optional<uint64_t> bytes(int32_t pid) const;

 private:
  std::filesystem::path procRoot_;
};

// The footprint in bytes that the text of a /proc/PID/status file gives; nothing when it
// lacks RssAnon. A missing VmSwap (a kernel without swap accounting) counts as none.
std::optional<uint64_t> footprintFromStatus(std::string_view statusText);

}  // namespace wren::platform

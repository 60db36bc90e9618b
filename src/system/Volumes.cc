#include "system/Volumes.h"

#include <algorithm>
#include <cstdint>

#include "app/HelperError.h"

namespace wren {

namespace {

// JSON integers of the reply are signed 64-bit; no volume is that large.
int64_t byteCount(std::optional<uint64_t> bytes) {
  return static_cast<int64_t>(std::min<uint64_t>(bytes.value_or(0), INT64_MAX));
}

}  // namespace

std::string lastPathComponent(std::string_view path) {
  std::size_t end = path.find_last_not_of('/');
  if (end == std::string_view::npos) return path.empty() ? "" : "/";
  std::string_view trimmed = path.substr(0, end + 1);
  std::size_t slash = trimmed.rfind('/');
  return std::string(slash == std::string_view::npos ? trimmed : trimmed.substr(slash + 1));
}

Json volumeEntry(const platform::VolumeFacts& volume) {
  int64_t total = byteCount(volume.totalBytes);
  int64_t available = byteCount(volume.availableBytes);
  Json entry = Json::object();
  entry["name"] = volume.label.empty() ? lastPathComponent(volume.mountPoint) : volume.label;
  entry["mountPoint"] = volume.mountPoint;
  entry["fileSystem"] = !volume.fileSystemType.empty() ? volume.fileSystemType
                        : !volume.format.empty()       ? volume.format
                                                       : "unknown";
  entry["format"] = volume.format;
  entry["totalBytes"] = total;
  entry["freeBytes"] = available;
  entry["usedBytes"] = std::max<int64_t>(0, total - available);
  entry["device"] = volume.device;
  entry["isRoot"] = volume.isRoot;
  entry["isInternal"] = volume.isInternal;
  entry["isLocal"] = volume.isLocal;
  entry["isEjectable"] = volume.isEjectable;
  entry["isRemovable"] = volume.isRemovable;
  entry["isReadOnly"] = volume.isReadOnly;
  entry["isEncrypted"] = volume.isEncrypted;
  return entry;
}

Json filesVolumes(const platform::MountedVolumes& volumes) {
  std::optional<std::vector<platform::VolumeFacts>> listed = volumes.list();
  if (!listed) throwExecutionFailed("macOS did not return the mounted volumes");
  Json entries = Json::array();
  for (const platform::VolumeFacts& volume : *listed) entries.push_back(volumeEntry(volume));
  return Json{{"volumes", std::move(entries)}};
}

}  // namespace wren

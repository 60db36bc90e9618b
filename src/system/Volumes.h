#pragma once

#include <string>
#include <string_view>

#include "app/Json.h"
#include "platform/MountedVolumes.h"

namespace wren {

// The volume entry of files.volumes: name (the label, else the mount point's last
// component), mountPoint, fileSystem, format, the three capacities in bytes (used never
// below 0), device and the seven flags.
Json volumeEntry(const platform::VolumeFacts& volume);

// files.volumes: `volumes` in mount-table order; fails with execution_failed when the
// mount table cannot be read.
Json filesVolumes(const platform::MountedVolumes& volumes);

// The last component of a path as a file manager names a folder: "/media/ann/USB/" gives
// USB; the root gives "/".
std::string lastPathComponent(std::string_view path);

}  // namespace wren

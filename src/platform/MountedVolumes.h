#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wren::platform {

// One mounted volume as the file manager would show it.
struct VolumeFacts {
  std::string mountPoint;
  std::string label;                       // the file system's label; empty when it has none
  std::string fileSystemType;              // as the mount table names it: "ext4", "vfat", "nfs4"
  std::string format;                      // for people: "ext4", "FAT32", "network (NFS)"
  std::optional<uint64_t> totalBytes;      // nothing when the file system did not answer
  std::optional<uint64_t> availableBytes;  // what an unprivileged user may still write
  std::string device;                      // mounted from: "/dev/nvme0n1p2", "server:/export"
  bool isRoot = false;
  bool isInternal = false;   // on a disk built into the machine
  bool isLocal = true;       // not a network share
  bool isEjectable = false;  // on removable media, an external drive or a disk image
  bool isRemovable = false;  // the medium itself can be taken out (a USB stick, an SD card)
  bool isReadOnly = false;
  bool isEncrypted = false;  // on a dm-crypt (LUKS) device
};

// Where the volume lister reads from; tests point every path at a tree of their own.
struct VolumeSources {
  std::filesystem::path mountTable = "/proc/self/mountinfo";  // mountinfo, or fstab/mtab format
  std::filesystem::path sysfsRoot = "/sys";
  std::filesystem::path devRoot = "/dev";
};

// The mounted volumes, read afresh on every call from the mount table (libmount), with
// their capacities (statvfs) and the facts of the block devices under them (sysfs: the
// removable flag, the bus, device-mapper crypt targets, read-only devices).
//
//   MountedVolumes volumes;
//   for (const VolumeFacts& v : *volumes.list()) ...   // "/" first, then "/home", "/media/ann/USB"
//
// System-internal mounts are left out: pseudo and memory file systems (proc, sysfs, tmpfs,
// cgroups...), everything under /proc, /sys, /dev, /run (except /run/media) and /boot,
// snaps and other squashfs images on loop devices, container overlays, bind-mounted
// single files, and mounts marked x-gvfs-hide. The root file system is always listed.
// A mount point mounted over again is listed once, as its top mount.
class MountedVolumes {
 public:
  explicit MountedVolumes(VolumeSources sources = {}) : sources_(std::move(sources)) {}

  // The visible volumes in mount-table order; nothing when the mount table cannot be read.
  std::optional<std::vector<VolumeFacts>> list() const;

 private:
  VolumeSources sources_;
};

// The description of a file-system type for people ("Btrfs", "network (NFS)"); for a FAT
// volume the size of its allocation table decides between FAT12, FAT16 and FAT32, given the
// number of clusters when known. An unknown type is described by its own name.
std::string formatDescription(std::string_view fileSystemType, std::optional<uint64_t> clusters = std::nullopt);

// Whether the file-system type reaches its files over the network.
bool isNetworkFileSystem(std::string_view fileSystemType);

}  // namespace wren::platform

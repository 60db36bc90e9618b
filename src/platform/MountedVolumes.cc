#include "platform/MountedVolumes.h"

#include <libmount/libmount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

#include "platform/files/KernelFiles.h"

namespace wren::platform {

namespace fs = std::filesystem;

namespace {

// A network server or a FUSE daemon may never answer statvfs; the volume is then listed
// without its capacity rather than holding the request.
constexpr std::chrono::milliseconds kProbeLimit{2000};
// Device-mapper and RAID stacks are a few levels deep; a cycle in a fake tree is not.
constexpr int kMaxDeviceDepth = 8;

// File systems of the kernel's own, of memory, and of containers and desktop plumbing.
constexpr std::string_view kSystemTypes[] = {
    "proc",       "sysfs",        "devtmpfs",   "devpts",   "tmpfs",       "ramfs",    "rootfs",          "cgroup",
    "cgroup2",    "cpuset",       "securityfs", "debugfs",  "tracefs",     "configfs", "fusectl",         "mqueue",
    "hugetlbfs",  "pstore",       "bpf",        "efivarfs", "binfmt_misc", "autofs",   "rpc_pipefs",      "nfsd",
    "selinuxfs",  "nsfs",         "devfs",      "usbfs",    "overlay",     "aufs",     "fuse.gvfsd-fuse", "fuse.portal",
    "fuse.lxcfs", "fuse.snapfuse"};

// Places of the system's own; /run/media is where removable drives are mounted on some
// systems and stays visible.
constexpr std::string_view kSystemPlaces[] = {
    "/proc", "/sys", "/dev", "/run", "/boot", "/snap", "/var/lib/docker", "/var/lib/containers", "/var/lib/snapd"};

struct Description {
  std::string_view type;
  std::string_view text;
};
constexpr Description kDescriptions[] = {
    {"ext2", "ext2"},
    {"ext3", "ext3"},
    {"ext4", "ext4"},
    {"btrfs", "Btrfs"},
    {"xfs", "XFS"},
    {"f2fs", "F2FS"},
    {"zfs", "ZFS"},
    {"jfs", "JFS"},
    {"reiserfs", "ReiserFS"},
    {"bcachefs", "bcachefs"},
    {"nilfs2", "NILFS2"},
    {"exfat", "exFAT"},
    {"ntfs", "NTFS"},
    {"ntfs3", "NTFS"},
    {"fuseblk", "FUSE (block device)"},
    {"hfsplus", "Mac OS Extended"},
    {"hfs", "Mac OS Standard"},
    {"apfs", "APFS"},
    {"iso9660", "ISO 9660"},
    {"udf", "UDF"},
    {"squashfs", "SquashFS"},
    {"erofs", "EROFS"},
    {"overlay", "OverlayFS"},
    {"tmpfs", "tmpfs (memory)"},
    {"ecryptfs", "eCryptfs"},
    {"virtiofs", "virtiofs"},
    {"9p", "9P"},
    {"nfs", "network (NFS)"},
    {"nfs4", "network (NFS)"},
    {"cifs", "network (SMB)"},
    {"smb3", "network (SMB)"},
    {"smbfs", "network (SMB)"},
    {"fuse.sshfs", "network (SSHFS)"},
    {"sshfs", "network (SSHFS)"},
    {"davfs", "network (WebDAV)"},
    {"fuse.davfs", "network (WebDAV)"},
    {"ceph", "network (Ceph)"},
};

constexpr std::string_view kNetworkTypes[] = {
    "nfs",   "nfs4",       "cifs",  "smb3",       "smbfs",       "ncpfs",     "afs",    "ceph",          "glusterfs",
    "sshfs", "fuse.sshfs", "davfs", "fuse.davfs", "fuse.rclone", "fuse.s3fs", "lustre", "fuse.glusterfs"};

template <std::size_t N>
bool among(const std::string_view (&list)[N], std::string_view value) {
  return std::find(std::begin(list), std::end(list), value) != std::end(list);
}

bool isAtOrBelow(std::string_view path, std::string_view place) {
  return path == place || (path.starts_with(place) && path.size() > place.size() && path[place.size()] == '/');
}

// One line of the mount table.
struct Mount {
  std::string target;
  std::string source;
  std::string type;
  std::string vfsOptions;  // per-mount options: ro, nosuid...
  std::string options;     // all of them, file-system and userspace ones included
  dev_t device = 0;
};

struct TableUnref {
  void operator()(libmnt_table* table) const { mnt_unref_table(table); }
};
struct IterFree {
  void operator()(libmnt_iter* iter) const { mnt_free_iter(iter); }
};

std::string text(const char* value) { return value ? value : ""; }

std::optional<std::vector<Mount>> readMountTable(const fs::path& path) {
  std::unique_ptr<libmnt_table, TableUnref> table(mnt_new_table());
  // Lines libmount cannot parse are skipped by it; only an unreadable file fails.
  if (!table || mnt_table_parse_file(table.get(), path.c_str()) != 0) return std::nullopt;
  std::unique_ptr<libmnt_iter, IterFree> iter(mnt_new_iter(MNT_ITER_FORWARD));
  if (!iter) return std::nullopt;
  std::vector<Mount> mounts;
  libmnt_fs* entry = nullptr;
  while (mnt_table_next_fs(table.get(), iter.get(), &entry) == 0) {
    mounts.push_back({text(mnt_fs_get_target(entry)), text(mnt_fs_get_source(entry)), text(mnt_fs_get_fstype(entry)),
                      text(mnt_fs_get_vfs_options(entry)), text(mnt_fs_get_options(entry)), mnt_fs_get_devno(entry)});
  }
  return mounts;
}

bool hasOption(const std::string& options, const char* name) {
  return !options.empty() && mnt_optstr_get_option(options.c_str(), name, nullptr, nullptr) == 0;
}

bool isSystemInternal(const Mount& mount) {
  if (mount.target == "/") return false;
  if (among(kSystemTypes, mount.type) || hasOption(mount.options, "x-gvfs-hide")) return true;
  if (mount.type == "squashfs" && mount.source.starts_with("/dev/loop")) return true;
  if (isAtOrBelow(mount.target, "/run/media")) return false;
  return std::any_of(std::begin(kSystemPlaces), std::end(kSystemPlaces),
                     [&](std::string_view place) { return isAtOrBelow(mount.target, place); });
}

// What the mount point itself says: whether it is a folder, and its file system's figures.
struct Probe {
  bool isNonFolder = false;  // something other than a folder is mounted (a bind-mounted file)
  std::optional<struct statvfs> figures;
};

Probe probeNow(const std::string& target) {
  Probe probe;
  struct stat info {};
  if (stat(target.c_str(), &info) == 0) probe.isNonFolder = !S_ISDIR(info.st_mode);
  struct statvfs figures {};
  if (statvfs(target.c_str(), &figures) == 0) probe.figures = figures;
  return probe;
}

// probeNow on a thread of its own, given up after `limit`. The thread of a mount that
// never answers stays blocked in the kernel; while it does, that mount is not probed again,
// so repeated requests do not pile up threads behind a dead server.
Probe probeWithin(const std::string& target, std::chrono::milliseconds limit) {
  struct Pending {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<Probe> probe;
  };
  // Never destroyed: a blocked thread may outlive everything else.
  static auto* stuckMutex = new std::mutex;
  static auto* stuck = new std::set<std::string>;
  {
    std::lock_guard lock(*stuckMutex);
    if (!stuck->insert(target).second) return {};
  }
  auto pending = std::make_shared<Pending>();
  try {
    std::thread([pending, target] {
      Probe probe = probeNow(target);
      {
        std::lock_guard lock(pending->mutex);
        pending->probe = probe;
      }
      pending->done.notify_all();
      std::lock_guard lock(*stuckMutex);
      stuck->erase(target);
    }).detach();
  } catch (const std::system_error&) {
    std::lock_guard lock(*stuckMutex);
    stuck->erase(target);
    return {};
  }
  std::unique_lock lock(pending->mutex);
  if (!pending->done.wait_for(lock, limit, [&] { return pending->probe.has_value(); })) return {};
  return *pending->probe;
}

uint64_t saturatingProduct(uint64_t a, uint64_t b) {
  uint64_t product = 0;
  return __builtin_mul_overflow(a, b, &product) ? UINT64_MAX : product;
}

// udev writes unsafe characters of a label in its link name as \xHH.
std::string unescapeLinkName(std::string_view name) {
  std::string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' &&
        std::isxdigit(static_cast<unsigned char>(name[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(name[i + 3]))) {
      out += static_cast<char>(std::stoi(std::string(name.substr(i + 2, 2)), nullptr, 16));
      i += 3;
    } else {
      out += name[i];
    }
  }
  return out;
}

fs::path resolved(const fs::path& path) {
  std::error_code error;
  fs::path real = fs::weakly_canonical(path, error);
  return error ? path.lexically_normal() : real;
}

// What the block devices under a volume tell, gathered down through device-mapper and
// RAID layers to the disks.
struct BlockFacts {
  bool removable = false;
  bool external = false;   // on a USB, FireWire or Thunderbolt bus
  bool diskImage = false;  // a loop device backed by a file
  bool readOnly = false;
  bool encrypted = false;
};

class BlockDevices {
 public:
  explicit BlockDevices(const VolumeSources& sources) : sources_(sources) {}

  // The device's folder in sysfs (its real place under devices/ when the tree links it).
  std::optional<fs::path> folderOf(const Mount& mount) const {
    if (std::optional<fs::path> device = devicePath(mount.source)) {
      fs::path named = sources_.sysfsRoot / "class/block" / device->filename();
      if (exists(named)) return resolved(named);
      // A device-mapper name (/dev/mapper/cryptroot) that the tree does not resolve.
      for (const fs::path& candidate : kernelFolderEntries(sources_.sysfsRoot / "class/block"))
        if (readKernelValue(candidate / "dm/name") == device->filename().string()) return resolved(candidate);
    }
    // Numbers of 0 are the kernel's anonymous devices (Btrfs, network and memory mounts).
    if (major(mount.device) != 0) {
      fs::path numbered = sources_.sysfsRoot / "dev/block" /
                          (std::to_string(major(mount.device)) + ":" + std::to_string(minor(mount.device)));
      if (exists(numbered)) return resolved(numbered);
    }
    return std::nullopt;
  }

  // The source's device node with its links followed (/dev/mapper/x is /dev/dm-0), under
  // the device root; nothing for a source that is no device node.
  std::optional<fs::path> devicePath(const std::string& source) const {
    if (!source.starts_with("/dev/") || source.size() <= 5) return std::nullopt;
    return resolved(sources_.devRoot / source.substr(5));
  }

  void gather(const fs::path& device, BlockFacts& facts, int depth = 0) const {
    if (depth > kMaxDeviceDepth) return;
    if (readKernelInteger(device / "ro") == 1) facts.readOnly = true;
    std::optional<std::string> mapperId = readKernelValue(device / "dm/uuid");
    if (mapperId && mapperId->starts_with("CRYPT-")) facts.encrypted = true;
    fs::path disk = exists(device / "partition") ? device.parent_path() : device;
    std::vector<fs::path> lower = kernelFolderEntries(disk / "slaves");
    if (!lower.empty()) {
      for (const fs::path& slave : lower) {
        fs::path named = sources_.sysfsRoot / "class/block" / slave.filename();
        if (exists(named)) gather(resolved(named), facts, depth + 1);
      }
      return;
    }
    if (readKernelInteger(disk / "ro") == 1) facts.readOnly = true;
    // SD cards sit in readers that the kernel does not flag as removable.
    if (readKernelInteger(disk / "removable") == 1 || readKernelValue(disk / "device/type") == "SD")
      facts.removable = true;
    if (exists(disk / "loop/backing_file")) facts.diskImage = true;
    for (const fs::path& part : disk) {
      std::string name = part.string();
      if (name.starts_with("usb") || name == "firewire" || name == "thunderbolt") facts.external = true;
    }
  }

 private:
  static bool exists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
  }

  const VolumeSources& sources_;
};

// Labels by device node, from the links udev keeps in /dev/disk/by-label.
std::map<fs::path, std::string> labelsByDevice(const fs::path& devRoot) {
  std::map<fs::path, std::string> labels;
  for (const fs::path& link : kernelFolderEntries(devRoot / "disk/by-label")) {
    std::error_code error;
    fs::path target = fs::read_symlink(link, error);
    if (error) continue;
    labels[resolved(target.is_absolute() ? target : link.parent_path() / target)] =
        unescapeLinkName(link.filename().string());
  }
  return labels;
}

// Mounts in table order, without the system's own and without those mounted over again.
std::vector<Mount> visibleMounts(std::vector<Mount> mounts) {
  std::unordered_map<std::string, std::size_t> lastAt;
  for (std::size_t i = 0; i < mounts.size(); ++i) lastAt[mounts[i].target] = i;
  std::vector<Mount> visible;
  for (std::size_t i = 0; i < mounts.size(); ++i)
    if (lastAt[mounts[i].target] == i && !mounts[i].target.empty() && !isSystemInternal(mounts[i]))
      visible.push_back(std::move(mounts[i]));
  return visible;
}

}  // namespace

std::string formatDescription(std::string_view fileSystemType, std::optional<uint64_t> clusters) {
  if (fileSystemType == "vfat" || fileSystemType == "msdos") {
    // The variant follows from the number of clusters: its limits are what define FAT12, 16 and 32.
    if (!clusters) return "FAT";
    return *clusters < 4085 ? "FAT12" : *clusters < 65525 ? "FAT16" : "FAT32";
  }
  for (const Description& description : kDescriptions)
    if (description.type == fileSystemType) return std::string(description.text);
  if (fileSystemType.starts_with("fuse.")) return "FUSE (" + std::string(fileSystemType.substr(5)) + ")";
  return std::string(fileSystemType);
}

bool isNetworkFileSystem(std::string_view fileSystemType) { return among(kNetworkTypes, fileSystemType); }

std::optional<std::vector<VolumeFacts>> MountedVolumes::list() const {
  std::optional<std::vector<Mount>> table = readMountTable(sources_.mountTable);
  if (!table) return std::nullopt;
  std::map<fs::path, std::string> labels = labelsByDevice(sources_.devRoot);
  BlockDevices devices(sources_);
  std::vector<VolumeFacts> volumes;
  for (Mount& mount : visibleMounts(std::move(*table))) {
    bool network = isNetworkFileSystem(mount.type);
    Probe probe =
        network || mount.type.starts_with("fuse") ? probeWithin(mount.target, kProbeLimit) : probeNow(mount.target);
    if (probe.isNonFolder) continue;

    VolumeFacts volume;
    volume.mountPoint = mount.target;
    volume.fileSystemType = mount.type;
    volume.device = mount.source;
    volume.isRoot = mount.target == "/";
    volume.isLocal = !network;
    // eCryptfs encrypts file by file on top of another file system.
    volume.isEncrypted = mount.type == "ecryptfs";
    std::optional<uint64_t> clusters;
    if (probe.figures) {
      const struct statvfs& figures = *probe.figures;
      uint64_t unit = figures.f_frsize ? figures.f_frsize : figures.f_bsize;
      volume.totalBytes = saturatingProduct(figures.f_blocks, unit);
      volume.availableBytes = saturatingProduct(figures.f_bavail, unit);
      clusters = figures.f_blocks;
      if (figures.f_flag & ST_RDONLY) volume.isReadOnly = true;
    }
    volume.format = formatDescription(mount.type, clusters);
    if (hasOption(mount.vfsOptions, "ro")) volume.isReadOnly = true;
    if (std::optional<fs::path> node = devices.devicePath(mount.source)) {
      auto label = labels.find(*node);
      if (label != labels.end()) volume.label = label->second;
    }
    if (std::optional<fs::path> folder = devices.folderOf(mount)) {
      BlockFacts facts;
      devices.gather(*folder, facts);
      volume.isRemovable = facts.removable;
      volume.isEjectable = facts.removable || facts.external || facts.diskImage;
      volume.isInternal = !volume.isEjectable;
      volume.isReadOnly = volume.isReadOnly || facts.readOnly;
      volume.isEncrypted = volume.isEncrypted || facts.encrypted;
    }
    volumes.push_back(std::move(volume));
  }
  return volumes;
}

}  // namespace wren::platform

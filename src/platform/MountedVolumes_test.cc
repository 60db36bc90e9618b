#include "platform/MountedVolumes.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>

#include "support/TemporaryFolder.h"

namespace wren::platform {
namespace {

namespace fs = std::filesystem;

// A machine of its own in a temporary folder: a mount table, the sysfs block devices and
// the /dev links udev keeps, laid out as the kernel and udev lay them out.
class FakeMachine {
 public:
  FakeMachine() {
    fs::create_directories(sysfs() / "class/block");
    fs::create_directories(dev());
  }

  fs::path sysfs() const { return root() / "sys"; }
  fs::path dev() const { return root() / "dev"; }
  fs::path table() const { return root() / "mountinfo"; }
  const fs::path& root() const { return root_.path(); }

  void write(const fs::path& path, const std::string& text) const {
    root_.write(path.lexically_relative(root()), text);
  }
  // A disk at its place under devices/, linked from class/block as the kernel links it,
  // with its partitions, and their nodes in /dev.
  void disk(const std::string& place, const std::string& name, std::map<std::string, std::string> files,
            std::vector<std::string> partitions = {}) const {
    fs::path folder = sysfs() / "devices" / place / "block" / name;
    for (const auto& [file, value] : files) write(folder / file, value + "\n");
    fs::create_directories(folder);
    fs::create_symlink(folder, sysfs() / "class/block" / name);
    write(dev() / name, "");
    for (const std::string& partition : partitions) {
      write(folder / partition / "partition", "1\n");
      fs::create_symlink(folder / partition, sysfs() / "class/block" / partition);
      write(dev() / partition, "");
    }
  }
  // A device-mapper device on top of `lower`, and its node in /dev.
  void mapper(const std::string& name, const std::string& mapperName, const std::string& uuid,
              const std::string& lower) const {
    fs::path folder = sysfs() / "devices/virtual/block" / name;
    write(folder / "dm/name", mapperName + "\n");
    write(folder / "dm/uuid", uuid + "\n");
    write(folder / "removable", "0\n");
    fs::create_directories(folder / "slaves");
    fs::create_symlink(sysfs() / "class/block" / lower, folder / "slaves" / lower);
    fs::create_symlink(folder, sysfs() / "class/block" / name);
    write(dev() / name, "");
  }
  void label(const std::string& escaped, const std::string& device) const {
    fs::create_directories(dev() / "disk/by-label");
    fs::create_symlink("../../" + device, dev() / "disk/by-label" / escaped);
  }

  std::optional<std::vector<VolumeFacts>> list() const { return MountedVolumes({table(), sysfs(), dev()}).list(); }

 private:
  wren::testing::TemporaryFolder root_{"wren-volumes"};
};

const VolumeFacts* find(const std::vector<VolumeFacts>& volumes, const std::string& mountPoint) {
  for (const VolumeFacts& volume : volumes)
    if (volume.mountPoint == mountPoint) return &volume;
  return nullptr;
}

// A laptop's mount table as /proc/self/mountinfo gives it: the system's own mounts, an
// encrypted root, a Btrfs home, an EFI partition, a USB stick, an SD card, an NFS share,
// snaps, a container, Docker's bind-mounted files, a mount hidden on purpose and one
// mounted over again.
std::string laptopTable(const fs::path& bindTarget) {
  return "22 28 0:21 / /proc rw,nosuid,nodev,noexec,relatime shared:5 - proc proc rw\n"
         "23 28 0:22 / /sys rw,nosuid,nodev,noexec,relatime shared:6 - sysfs sysfs rw\n"
         "24 28 0:5 / /dev rw,nosuid shared:2 - devtmpfs udev rw,size=8000000k\n"
         "25 24 0:23 / /dev/pts rw,nosuid,noexec,relatime shared:3 - devpts devpts rw,gid=5,mode=620\n"
         "26 28 0:24 / /run rw,nosuid,nodev,noexec,relatime shared:4 - tmpfs tmpfs rw,size=1600000k,mode=755\n"
         "28 1 254:0 / / rw,relatime shared:1 - ext4 /dev/mapper/cryptroot rw,errors=remount-ro\n"
         "29 23 0:26 / /sys/fs/cgroup rw,nosuid,nodev,noexec,relatime shared:9 - cgroup2 cgroup2 rw\n"
         "30 28 0:27 /@home /home rw,relatime shared:30 - btrfs /dev/nvme0n1p3 rw,ssd,subvol=/@home\n"
         "31 28 259:1 / /boot/efi rw,relatime shared:31 - vfat /dev/nvme0n1p1 rw,fmask=0077\n"
         "32 28 0:30 / /tmp rw,nosuid,nodev shared:32 - tmpfs tmpfs rw\n"
         "40 28 8:17 / /media/ann/My\\040Stick rw,nosuid,nodev,relatime shared:40 - vfat /dev/sdb1 rw,uid=1000\n"
         "41 26 179:1 / /run/media/ann/CARD rw,nosuid,nodev,relatime shared:41 - exfat /dev/mmcblk0p1 rw\n"
         "42 26 0:45 / /run/user/1000/gvfs rw,nosuid,nodev,relatime shared:42 - fuse.gvfsd-fuse gvfsd-fuse rw\n"
         "43 28 0:46 / /mnt/nas ro,relatime shared:43 - nfs4 nas.local:/export/music ro,vers=4.2\n"
         "44 28 7:0 / /snap/core22/1033 ro,nodev,relatime shared:44 - squashfs /dev/loop0 ro\n"
         "45 28 0:47 / /var/lib/docker/overlay2/abc/merged rw,relatime - overlay overlay rw,lowerdir=/x\n"
         "46 28 254:0 /etc/hosts " +
         bindTarget.string() +
         " rw,relatime - ext4 /dev/mapper/cryptroot rw\n"
         "47 28 8:33 / /mnt/hidden rw,relatime shared:47 - ext4 /dev/sdc1 rw,x-gvfs-hide\n"
         "48 28 8:34 / /mnt/backup rw,relatime shared:48 - ext4 /dev/sdc2 rw\n"
         "49 48 8:35 / /mnt/backup ro,relatime shared:49 - xfs /dev/sdc3 ro\n"
         "50 28 7:1 / /media/ann/Installer ro,relatime shared:50 - iso9660 /dev/loop1 ro\n";
}

TEST(MountedVolumes, ListsWhatAFileManagerShows) {
  FakeMachine machine;
  machine.disk("pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0", "nvme0n1", {{"removable", "0"}},
               {"nvme0n1p1", "nvme0n1p2", "nvme0n1p3"});
  machine.mapper("dm-0", "cryptroot", "CRYPT-LUKS2-0123456789abcdef-cryptroot", "nvme0n1p2");
  machine.disk("pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host0/target0:0:0/0:0:0:0", "sdb", {{"removable", "1"}},
               {"sdb1"});
  machine.disk("platform/sdhci/mmc_host/mmc0/mmc0:aaaa", "mmcblk0", {{"removable", "0"}, {"device/type", "SD"}},
               {"mmcblk0p1"});
  machine.disk("pci0000:00/0000:00:14.0/usb3/3-2/3-2:1.0/host1/target1:0:0/1:0:0:0", "sdc", {{"removable", "0"}},
               {"sdc1", "sdc2", "sdc3"});
  machine.disk("virtual", "loop1", {{"removable", "0"}, {"ro", "1"}, {"loop/backing_file", "/home/ann/installer.iso"}});
  machine.label("My\\x20Stick", "sdb1");
  machine.label("ROOT", "dm-0");
  machine.write(machine.dev() / "mapper/.keep", "");
  fs::create_symlink("../dm-0", machine.dev() / "mapper/cryptroot");
  fs::path bindTarget = machine.root() / "hosts";
  machine.write(bindTarget, "127.0.0.1 localhost\n");
  machine.write(machine.table(), laptopTable(bindTarget));

  std::optional<std::vector<VolumeFacts>> volumes = machine.list();
  ASSERT_TRUE(volumes.has_value());
  std::vector<std::string> mountPoints;
  for (const VolumeFacts& volume : *volumes) mountPoints.push_back(volume.mountPoint);
  EXPECT_EQ(mountPoints, (std::vector<std::string>{"/", "/home", "/media/ann/My Stick", "/run/media/ann/CARD",
                                                   "/mnt/nas", "/mnt/backup", "/media/ann/Installer"}));

  struct Expected {
    std::string mountPoint, label, type, format, device;
    bool root, internal, local, ejectable, removable, readOnly, encrypted;
  };
  const Expected expected[] = {
      {"/", "ROOT", "ext4", "ext4", "/dev/mapper/cryptroot", true, true, true, false, false, false, true},
      {"/home", "", "btrfs", "Btrfs", "/dev/nvme0n1p3", false, true, true, false, false, false, false},
      {"/media/ann/My Stick", "My Stick", "vfat", "FAT", "/dev/sdb1", false, false, true, true, true, false, false},
      {"/run/media/ann/CARD", "", "exfat", "exFAT", "/dev/mmcblk0p1", false, false, true, true, true, false, false},
      {"/mnt/nas", "", "nfs4", "network (NFS)", "nas.local:/export/music", false, false, false, false, false, true,
       false},
      {"/mnt/backup", "", "xfs", "XFS", "/dev/sdc3", false, false, true, true, false, true, false},
      {"/media/ann/Installer", "", "iso9660", "ISO 9660", "/dev/loop1", false, false, true, true, false, true, false},
  };
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.mountPoint);
    const VolumeFacts* volume = find(*volumes, e.mountPoint);
    ASSERT_NE(volume, nullptr);
    EXPECT_EQ(volume->label, e.label);
    EXPECT_EQ(volume->fileSystemType, e.type);
    EXPECT_EQ(volume->format, e.format);
    EXPECT_EQ(volume->device, e.device);
    EXPECT_EQ(volume->isRoot, e.root);
    EXPECT_EQ(volume->isInternal, e.internal);
    EXPECT_EQ(volume->isLocal, e.local);
    EXPECT_EQ(volume->isEjectable, e.ejectable);
    EXPECT_EQ(volume->isRemovable, e.removable);
    EXPECT_EQ(volume->isReadOnly, e.readOnly);
    EXPECT_EQ(volume->isEncrypted, e.encrypted);
  }
}

TEST(MountedVolumes, TheRootIsListedWhateverItsType) {
  FakeMachine machine;
  machine.write(machine.table(),
                "100 90 0:50 / / rw,relatime - overlay overlay rw,lowerdir=/var/lib/docker/l/A\n"
                "101 100 0:51 / /proc rw - proc proc rw\n");
  std::optional<std::vector<VolumeFacts>> volumes = machine.list();
  ASSERT_TRUE(volumes.has_value());
  ASSERT_EQ(volumes->size(), 1u);
  EXPECT_EQ((*volumes)[0].mountPoint, "/");
  EXPECT_EQ((*volumes)[0].format, "OverlayFS");
  EXPECT_FALSE((*volumes)[0].isInternal);
  EXPECT_TRUE((*volumes)[0].isLocal);
  // The real root answers statvfs.
  EXPECT_GT((*volumes)[0].totalBytes.value_or(0), 0u);
}

TEST(MountedVolumes, AnUnreadableTableIsNothingAndBadLinesAreSkipped) {
  FakeMachine machine;
  EXPECT_EQ(machine.list(), std::nullopt);
  machine.write(machine.table(), "");
  EXPECT_EQ(machine.list()->size(), 0u);
  // The first line tells libmount the table's format; damaged lines after it are skipped.
  machine.write(machine.table(),
                "28 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                "garbage\n\n\x01\x02\xff\n"
                "only four fields here\n"
                "40 28 8:17 / /media/x rw - vfat /dev/sdz9 rw\n");
  std::optional<std::vector<VolumeFacts>> volumes = machine.list();
  ASSERT_TRUE(volumes.has_value());
  ASSERT_EQ(volumes->size(), 2u);
  // A device sysfs does not know has no flags to give.
  EXPECT_FALSE((*volumes)[1].isInternal);
  EXPECT_FALSE((*volumes)[1].isEjectable);
  // The fake mount point does not exist: no capacity.
  EXPECT_EQ((*volumes)[1].totalBytes, std::nullopt);
}

TEST(MountedVolumes, ReadsTheFstabFormatToo) {
  FakeMachine machine;
  machine.write(machine.table(), "/dev/sda1 / ext4 rw,relatime 0 1\n/dev/sdb1 /media/USB vfat ro 0 0\n");
  std::optional<std::vector<VolumeFacts>> volumes = machine.list();
  ASSERT_TRUE(volumes.has_value());
  ASSERT_EQ(volumes->size(), 2u);
  EXPECT_TRUE((*volumes)[1].isReadOnly);
}

TEST(MountedVolumes, ThisMachineHasItsRoot) {
  std::optional<std::vector<VolumeFacts>> volumes = MountedVolumes().list();
  ASSERT_TRUE(volumes.has_value());
  const VolumeFacts* root = find(*volumes, "/");
  ASSERT_NE(root, nullptr);
  EXPECT_TRUE(root->isRoot);
  EXPECT_GT(root->totalBytes.value_or(0), 0u);
  EXPECT_LE(root->availableBytes.value_or(0), root->totalBytes.value_or(0));
  EXPECT_FALSE(root->fileSystemType.empty());
  for (const VolumeFacts& volume : *volumes) {
    SCOPED_TRACE(volume.mountPoint);
    EXPECT_NE(volume.fileSystemType, "proc");
    EXPECT_NE(volume.fileSystemType, "sysfs");
    EXPECT_NE(volume.mountPoint.rfind("/proc/", 0), 0u);
  }
}

TEST(FormatDescription, NamesFileSystemsForPeople) {
  struct Case {
    const char* type;
    std::optional<uint64_t> clusters;
    const char* text;
  };
  const Case cases[] = {
      {"ext4", {}, "ext4"},
      {"btrfs", {}, "Btrfs"},
      {"vfat", 4084, "FAT12"},
      {"vfat", 4085, "FAT16"},
      {"vfat", 65524, "FAT16"},
      {"vfat", 65525, "FAT32"},
      {"msdos", 2000000, "FAT32"},
      {"vfat", {}, "FAT"},
      {"ntfs3", {}, "NTFS"},
      {"nfs", {}, "network (NFS)"},
      {"cifs", {}, "network (SMB)"},
      {"fuse.sshfs", {}, "network (SSHFS)"},
      {"fuse.rclone", {}, "FUSE (rclone)"},
      {"zonefs", {}, "zonefs"},
      {"", {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    EXPECT_EQ(formatDescription(c.type, c.clusters), c.text);
  }
  EXPECT_TRUE(isNetworkFileSystem("nfs4"));
  EXPECT_TRUE(isNetworkFileSystem("cifs"));
  EXPECT_FALSE(isNetworkFileSystem("ext4"));
  EXPECT_FALSE(isNetworkFileSystem("fuseblk"));
}

}  // namespace
}  // namespace wren::platform

#include "platform/vdir/FolderWatch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>

namespace wren::platform::vdir {

namespace {

constexpr uint32_t kEntryEvents = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB |
                                  IN_MOVED_FROM | IN_MOVED_TO;
constexpr uint32_t kFolderGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;
// Past this many changed names a folder is simply examined whole.
constexpr std::size_t kMaxNames = 4096;

// File systems whose every change passes through this machine's kernel.
constexpr std::array<uint32_t, 10> kLocalFileSystems = {
    0xEF53,      // ext2, ext3, ext4
    0x58465342,  // xfs
    0x9123683E,  // btrfs
    0x01021994,  // tmpfs
    0x858458F6,  // ramfs
    0xF2F52010,  // f2fs
    0x2FC12FC1,  // zfs
    0xCA451A4E,  // bcachefs
    0x794C7630,  // overlayfs
    0x52654973,  // reiserfs
};

}  // namespace

bool changesAreSeenLocally(const std::filesystem::path& folder) {
  struct statfs info;
  if (statfs(folder.c_str(), &info) != 0) return false;
  const auto type = static_cast<uint32_t>(info.f_type);
  for (uint32_t local : kLocalFileSystems)
    if (type == local) return true;
  return false;
}

FolderWatch::FolderWatch() : inotify_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

FolderWatch::~FolderWatch() = default;

FolderChanges FolderWatch::take(const std::filesystem::path& folder) {
  std::lock_guard lock(mutex_);
  if (!inotify_) return {};
  drainEvents();
  const std::string key = folder.string();
  struct stat info;
  const bool exists = stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  auto found = folders_.find(key);
  if (found != folders_.end()) {
    Watched& watched = found->second;
    if (exists && watched.descriptor >= 0 && watched.device == info.st_dev && watched.inode == info.st_ino) {
      FolderChanges changes = std::move(watched.pending);
      watched.pending = FolderChanges{false, {}};
      return changes;
    }
    // Gone, replaced by another folder, or its watch ended: watched afresh below.
    if (watched.descriptor >= 0) {
      descriptors_[watched.descriptor].erase(key);
      if (descriptors_[watched.descriptor].empty()) {
        inotify_rm_watch(inotify_.get(), watched.descriptor);
        descriptors_.erase(watched.descriptor);
      }
    }
    folders_.erase(found);
  }
  if (!exists || !changesAreSeenLocally(folder)) return {};
  const int descriptor = inotify_add_watch(inotify_.get(), folder.c_str(), kEntryEvents | kFolderGone | IN_ONLYDIR);
  if (descriptor < 0) return {};
  folders_[key] = Watched{descriptor, info.st_dev, info.st_ino, FolderChanges{false, {}}};
  descriptors_[descriptor].insert(key);
  return {};
}

void FolderWatch::drainEvents() {
  alignas(inotify_event) char buffer[1 << 16];
  for (;;) {
    ssize_t length = read(inotify_.get(), buffer, sizeof buffer);
    if (length < 0 && errno == EINTR) continue;
    if (length <= 0) return;
    for (ssize_t at = 0; at < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        markEverything();
        continue;
      }
      auto served = descriptors_.find(event->wd);
      if (served == descriptors_.end()) continue;
      for (const std::string& key : served->second) {
        FolderChanges& pending = folders_[key].pending;
        if (event->mask & kFolderGone) {
          pending.everything = true;
        } else if (event->len > 0 && !pending.everything) {
          pending.names.insert(event->name);
          if (pending.names.size() > kMaxNames) pending.everything = true;
        }
        if (pending.everything) pending.names.clear();
      }
      if (event->mask & kFolderGone) forget(event->wd);
    }
  }
}

// The watch no longer serves its folders (or will not for long): each is watched afresh on
// its next look.
void FolderWatch::forget(int descriptor) {
  auto served = descriptors_.find(descriptor);
  if (served == descriptors_.end()) return;
  for (const std::string& key : served->second) folders_[key].descriptor = -1;
  if (!(served->second.empty())) inotify_rm_watch(inotify_.get(), descriptor);
  descriptors_.erase(served);
}

void FolderWatch::markEverything() {
  for (auto& [key, watched] : folders_) watched.pending = FolderChanges{};
}

}  // namespace wren::platform::vdir

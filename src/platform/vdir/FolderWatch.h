#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "platform/files/FileDescriptor.h"

namespace wren::platform::vdir {

// Tells which entries of a folder may have changed since the previous look at it, so that an
// index of the folder's files need not examine every file on every request.
//
//   FolderWatch watch;
//   FolderChanges changes = watch.take(folder);  // first look: everything
//   ...                                          // another program edits a.ics
//   changes = watch.take(folder);                // names == {"a.ics"}
//
// It rests on inotify, which the kernel feeds synchronously with every change made through
// the file system of this machine: once another program's write has returned, the next look
// reports it. Where that promise does not hold (network file systems, whose changes may come
// from other machines), where inotify is unavailable, when the kernel's queue overflowed, and
// on the first look at a folder or after it was replaced, the answer is "everything".
// A file reached through a symbolic link can change without an event in the folder; callers
// examine such entries on every look.
struct FolderChanges {
  bool everything = true;
  std::set<std::string> names;  // when not everything: the entries that may have changed
};

class FolderWatch {
 public:
  FolderWatch();
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // What may have changed in the folder since the previous call for the same folder, and
  // watches it from now on. Safe to call from many threads.
  FolderChanges take(const std::filesystem::path& folder);

 private:
  struct Watched {
    int descriptor = -1;
    dev_t device = 0;
    ino_t inode = 0;
    FolderChanges pending;
  };

  void drainEvents();
  void forget(int descriptor);
  void markEverything();

  std::mutex mutex_;
  FileDescriptor inotify_;
  std::map<std::string, Watched> folders_;             // by folder path
  std::map<int, std::set<std::string>> descriptors_;  // the folders each watch serves
};

// True when changes to files in the folder are made through this machine's kernel only, so
// that inotify sees all of them (local disks and memory file systems, not network shares).
bool changesAreSeenLocally(const std::filesystem::path& folder);

}  // namespace wren::platform::vdir

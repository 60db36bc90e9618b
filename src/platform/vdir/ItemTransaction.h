#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/vdir/ItemIndex.h"

namespace wren::platform::vdir {

// The write discipline of every item store (events, reminders, contacts): one change of the
// store's item files, made whole or not at all, under the process's write lock.
//
//   ItemTransaction change(".ics");                       // waits for other writes
//   change.checkUnchanged(*event.origin);                 // refuses a file edited meanwhile
//   std::string next = change.add(target.folder, text);   // the new file first...
//   change.replace(*event.origin, shortenedText);         // ...so a failure here removes it
//   change.commit();                                      // the new files stay
//   auto entry = readBack(index, target, next);           // answer with what the file says
//
// A change refuses to write over a file that another program changed since its item was
// read, but not over the versions this process wrote itself meanwhile (see latest): changes
// from inside the process are serialised, and each sees the result of the one before.
// checkUnchanged refuses early, and every replace or remove checks again at the moment
// the new file takes the old one's place (AtomicFile.h), so that no version of another
// program is ever unlinked. It writes new files before it replaces or removes old ones, so
// that a failure loses nothing: until commit() every file it added is removed again when the
// transaction ends. Failures of system calls are FileError; a refusal, or a saved file that
// cannot be read back, is ItemWriteError; both name the file.

class ItemWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ItemTransaction {
 public:
  // New files get a fresh name with this suffix (".ics", ".vcf").
  explicit ItemTransaction(std::string suffix);
  ~ItemTransaction();
  ItemTransaction(const ItemTransaction&) = delete;
  ItemTransaction& operator=(const ItemTransaction&) = delete;

  // Throws ItemWriteError when the item's file is gone or is not the version it was read from.
  void checkUnchanged(const ItemOrigin& origin) const;
  // The version of the item's file a change applies to: the one it was read from, or the
  // newer one that this process saved since (a request that read the item before another
  // request's save, as pipelined changes do), which the caller applies its change to.
  // Throws ItemWriteError when another program changed or removed the file.
  std::shared_ptr<const ItemOrigin> latest(const std::shared_ptr<const ItemOrigin>& origin) const;

  // Writes a new file under a fresh name in the folder; gives the name.
  std::string add(const std::filesystem::path& folder, std::string_view text);
  // Writes the item's file anew where it is; throws ItemWriteError when it is not the
  // version the item was read from.
  void replace(const ItemOrigin& origin, std::string_view text);
  // Writes the item into another folder, under its own file name when that is free there,
  // then removes its old file; gives the new name. The new file counts as added.
  std::string move(const ItemOrigin& origin, const std::filesystem::path& folder, std::string_view text);
  // Removes the item's file, when it is the version the item was read from.
  void remove(const ItemOrigin& origin);

  // The change is complete: the files it added stay.
  void commit() { added_.clear(); }

 private:
  void place(const std::filesystem::path& path, std::string_view text);

  std::unique_lock<std::mutex> lock_;
  std::string suffix_;
  std::vector<std::filesystem::path> added_;  // removed again unless committed
};

// The entry of a file a change wrote, read through the index as any reader would read it,
// so that a store answers with what the file says. Throws ItemWriteError when it holds no
// item.
template <class Index, class Collection>
typename Index::EntryPtr readBack(Index& index, const Collection& collection, const std::string& fileName) {
  typename Index::EntryPtr entry = index.refreshFile(collection, fileName);
  if (!entry) throw ItemWriteError("the saved file " + (collection.folder / fileName).string() + " cannot be read back");
  return entry;
}

}  // namespace wren::platform::vdir

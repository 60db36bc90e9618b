#pragma once

#include <sys/types.h>

#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/EventStore.h"
#include "platform/files/FileStamp.h"
#include "platform/vdir/FolderWatch.h"
#include "platform/vdir/StoreNames.h"

namespace wren::platform::vdir {

// What sets one kind of item file apart: the suffix of its file names (".ics" for events
// and reminders, ".vcf" for contacts) and the salt of its ids, which keeps the ids of two
// kinds apart even for files of the same name in the same collection (see itemIdFor).
struct ItemKind {
  std::string suffix;
  std::string idSalt;
  // Larger files are skipped unread and left as they are.
  std::size_t maxFileBytes = kItemFileBytes;
};

// One item file of a collection's folder, as it is now.
struct ListedFile {
  std::string name;
  FileStamp stamp;
  bool link = false;  // reached through a symbolic link
};
// The files with the suffix in a folder that are regular files (broken links and hidden
// files left out), in byte order of their names; an unreadable folder has none. Stale
// temporary files that interrupted writes left in the folder are removed on the way. Without stamps, entries
// are told apart by their directory type only (a broken link is then listed, and fails to
// be read), which saves one system call per file when every file is read anyway.
enum class Stamps { Take, Skip };
std::vector<ListedFile> listItemFiles(const std::filesystem::path& folder, std::string_view suffix,
                                      Stamps stamps = Stamps::Take);
// One entry of a folder as it is now, when it is an item file with the suffix.
std::optional<ListedFile> examineItemFile(const std::filesystem::path& folder, const std::string& name,
                                          std::string_view suffix);

// Gives the memory that a failed reading of a file of `bytes` freed back to the system: a
// parser that gives up on a large malformed file leaves many freed blocks in the heap of the
// thread that ran it, which would stay for the life of the process. Small files are not
// worth the walk through the heap.
inline constexpr std::size_t kReleaseAfterBytes = 64 * 1024;
void releaseFreedMemory(std::size_t bytes);

// Runs work(0) ... work(count - 1) on a few threads: the machine's cores, at most eight.
// The first exception a work item throws is thrown again here once every thread is done;
// the items after it are not run.
void parallelFor(std::size_t count, const std::function<void(std::size_t)>& work);

}  // namespace wren::platform::vdir

namespace wren::platform {

// Where a stored item was read from: the file, the version of it that was read, its text,
// and the ids it was given. Shared by every occurrence read from that version.
struct ItemOrigin {
  std::filesystem::path path;
  FileStamp stamp;
  std::string text;
  std::string itemId;
  std::string collectionId;  // the calendar, reminder list or address book
};

}  // namespace wren::platform

namespace wren::platform::vdir {

// An item file as parsed by a codec: Codec::Parsed is the codec's parsed form (null when the
// file is not a usable item), Codec::Summary what the store needs about it without going
// through the item (for events the extent in time, for reminders whether it is completed).
template <class Codec>
struct IndexedFile {
  std::shared_ptr<const ItemOrigin> origin;
  std::shared_ptr<const typename Codec::Parsed> parsed;
  typename Codec::Summary summary{};
};

// The parsed item files of one kind's collections (calendars, reminder lists, address
// books), shared by all request threads:
//
//   ItemIndex<EventCodecTraits, CalendarFolder> events({".ics", "event"});
//   for (const auto& calendarFiles : events.refresh(calendars))   // as on disk now
//     for (const auto& entry : calendarFiles.files) use(*entry->parsed, entry->origin);
//
// Codec turns a file's text into its parsed form (see IndexedFile); Collection is the
// store's folder type, with `folder`, its path, and `id()`, the collection's id. Every
// refresh brings each folder up to date with the disk: a file whose stamp changed, or a new
// file, is read and parsed again (in parallel when there are many), and a vanished one is
// dropped, so a request never sees an item as it was before. Which files to examine comes
// from a FolderWatch: every file on the first look at a folder (and whenever the watch
// cannot vouch for it), afterwards only those the watch names and those reached through
// links. One refresh runs at a time, so a request that comes while another reads a cold
// store waits for that reading and uses it instead of repeating it. Entries are immutable
// and handed out by shared pointer, so a request keeps its entries valid however the index
// changes after.
template <class Codec, class Collection>
class ItemIndex {
 public:
  using Entry = IndexedFile<Codec>;
  using EntryPtr = std::shared_ptr<const Entry>;

  struct CollectionFiles {
    const Collection* collection;
    std::vector<EntryPtr> files;  // in byte order of the file names
  };

  explicit ItemIndex(ItemKind kind) : kind_(std::move(kind)) {}

  // The files of the collections as they are now.
  std::vector<CollectionFiles> refresh(const std::vector<const Collection*>& collections) {
    std::lock_guard refreshing(refreshMutex_);
    std::vector<Pending> pending;
    std::vector<Listing> listings;
    for (const Collection* collection : collections) listings.push_back(list(*collection, pending));
    parseAll(pending);
    std::vector<CollectionFiles> result;
    std::unique_lock lock(mutex_);
    for (Listing& listing : listings) result.push_back(store(listing, pending));
    return result;
  }

  // Forgets the collections whose folders are not among these (removed or renamed ones).
  void retain(const std::vector<const Collection*>& collections) {
    std::set<std::string> keep;
    for (const Collection* collection : collections) keep.insert(collection->folder.string());
    std::lock_guard refreshing(refreshMutex_);
    std::unique_lock lock(mutex_);
    std::erase_if(folders_, [&](const auto& folder) {
      if (keep.contains(folder.first)) return false;
      for (const auto& [name, entry] : folder.second.entries) ids_.erase(entry->origin->itemId);
      return true;
    });
  }

  // The collection id and file name of an item id seen by an earlier refresh.
  std::optional<std::pair<std::string, std::string>> locate(const std::string& itemId) const {
    std::shared_lock lock(mutex_);
    auto found = ids_.find(itemId);
    if (found == ids_.end()) return std::nullopt;
    return found->second;
  }

  // One file of a collection as it is now; nothing when it is gone or not an item.
  EntryPtr refreshFile(const Collection& collection, const std::string& fileName) {
    std::vector<CollectionFiles> files = refresh({&collection});
    for (const EntryPtr& entry : files.front().files)
      if (entry->origin->path.filename() == fileName) return entry;
    return nullptr;
  }

  // One file of a collection read and parsed as it is now, without touching the index: for
  // a lookup of a single item, whose cost must not grow with the folder. The entry's parsed
  // form is null when the file is gone or holds no item.
  EntryPtr readFile(const Collection& collection, const std::string& fileName) const {
    return parse(collection, fileName);
  }

  void clear() {
    std::lock_guard refreshing(refreshMutex_);
    std::unique_lock lock(mutex_);
    folders_.clear();
    ids_.clear();
  }

 private:
  struct Folder {
    std::map<std::string, EntryPtr> entries;  // by file name, parsed or not
    std::set<std::string> links;              // names reached through symbolic links
  };

  // A file to read: its folder's collection and its name, and once read, its entry.
  struct Pending {
    const Collection* collection;
    std::string name;
    EntryPtr entry;
  };
  struct Listing {
    const Collection* collection;
    std::vector<ListedFile> files;
    std::vector<EntryPtr> known;  // per file: the entry of the same version, or null (pending)
    std::size_t firstPending = 0;
    bool unchanged = false;  // the folder's entries stand as they are
  };

  // Runs under refreshMutex_, so folders_ changes only in this refresh's store().
  Listing list(const Collection& collection, std::vector<Pending>& pending) {
    Listing listing{&collection, {}, {}, pending.size()};
    FolderChanges changes = watch_.take(collection.folder);
    auto folder = folders_.find(collection.folder.string());
    if (folder == folders_.end()) {
      listing.files = listItemFiles(collection.folder, kind_.suffix, Stamps::Skip);  // every file is read
    } else if (changes.everything) {
      listing.files = listItemFiles(collection.folder, kind_.suffix);
    } else if (changes.names.empty() && folder->second.links.empty()) {
      listing.unchanged = true;
      return listing;
    } else {
      listing.files = relist(collection.folder, folder->second, changes.names);
    }
    for (const ListedFile& file : listing.files) {
      EntryPtr known;
      if (folder != folders_.end()) {
        auto found = folder->second.entries.find(file.name);
        if (found != folder->second.entries.end() && found->second->origin->stamp == file.stamp) known = found->second;
      }
      if (!known) pending.push_back({&collection, file.name, nullptr});
      listing.known.push_back(std::move(known));
    }
    return listing;
  }

  // The folder's files from what is known of them, with the changed names and the links
  // examined afresh.
  std::vector<ListedFile> relist(const std::filesystem::path& path, const Folder& folder,
                                 const std::set<std::string>& changed) const {
    std::vector<ListedFile> files;
    for (const auto& [name, entry] : folder.entries) {
      if (changed.contains(name) || folder.links.contains(name)) {
        if (std::optional<ListedFile> now = examineItemFile(path, name, kind_.suffix)) files.push_back(std::move(*now));
      } else {
        files.push_back({name, entry->origin->stamp, false});
      }
    }
    for (const std::string& name : changed) {
      if (folder.entries.contains(name)) continue;
      if (std::optional<ListedFile> now = examineItemFile(path, name, kind_.suffix)) files.push_back(std::move(*now));
    }
    std::sort(files.begin(), files.end(), [](const ListedFile& a, const ListedFile& b) { return a.name < b.name; });
    return files;
  }

  void parseAll(std::vector<Pending>& pending) const {
    // Threads pay off only for a cold index; a few changed files are parsed right here.
    constexpr std::size_t kParallelFrom = 64;
    auto parseOne = [&](std::size_t i) { pending[i].entry = parse(*pending[i].collection, pending[i].name); };
    if (pending.size() < kParallelFrom) {
      for (std::size_t i = 0; i < pending.size(); ++i) parseOne(i);
    } else {
      parallelFor(pending.size(), parseOne);
    }
  }

  EntryPtr parse(const Collection& collection, const std::string& name) const {
    auto origin = std::make_shared<ItemOrigin>();
    origin->path = collection.folder / name;
    origin->itemId = itemIdFor(kind_.idSalt, collection.id(), name);
    origin->collectionId = collection.id();
    auto entry = std::make_shared<Entry>();
    // A file that cannot be read whole (memory runs short) or that makes the codec throw is
    // as unusable as one the codec cannot parse; it never ends the thread that reads it.
    try {
      if (std::optional<FileVersion> version = readFileVersion(origin->path, kind_.maxFileBytes)) {
        origin->text = std::move(version->text);
        origin->stamp = version->stamp;
        entry->parsed = Codec::parse(origin->text);
        if (entry->parsed) entry->summary = Codec::summarize(*entry->parsed);
      }
    } catch (const std::exception&) {
      entry->parsed = nullptr;
    }
    if (!entry->parsed) {
      // Only the stamp of a file that is no item is needed (to know when to read it again);
      // its text, up to the item limit, is not kept for the life of the process.
      releaseFreedMemory(origin->text.size());
      std::string().swap(origin->text);
    }
    entry->origin = std::move(origin);
    return entry;
  }

  // Under the exclusive lock: replaces the folder's entries by the listing's.
  CollectionFiles store(const Listing& listing, const std::vector<Pending>& pending) {
    Folder& folder = folders_[listing.collection->folder.string()];
    CollectionFiles result{listing.collection, {}};
    if (!listing.unchanged) replaceEntries(folder, listing, pending);
    result.files.reserve(folder.entries.size());
    for (const auto& [name, entry] : folder.entries)
      if (entry->parsed) result.files.push_back(entry);
    return result;
  }

  void replaceEntries(Folder& folder, const Listing& listing, const std::vector<Pending>& pending) {
    const std::string& collectionId = listing.collection->id();
    for (const auto& [name, entry] : folder.entries) ids_.erase(entry->origin->itemId);
    Folder fresh;
    std::size_t next = listing.firstPending;
    for (std::size_t i = 0; i < listing.files.size(); ++i) {
      const ListedFile& file = listing.files[i];
      EntryPtr entry = listing.known[i] ? listing.known[i] : pending[next++].entry;
      ids_[entry->origin->itemId] = {collectionId, file.name};
      if (file.link) fresh.links.insert(file.name);
      fresh.entries.emplace_hint(fresh.entries.end(), file.name, std::move(entry));
    }
    folder = std::move(fresh);
  }

  ItemKind kind_;
  FolderWatch watch_;
  std::mutex refreshMutex_;          // one refresh at a time
  mutable std::shared_mutex mutex_;  // folders_ and ids_, read by locate() meanwhile
  std::unordered_map<std::string, Folder> folders_;  // by folder path
  std::unordered_map<std::string, std::pair<std::string, std::string>> ids_;
};

}  // namespace wren::platform::vdir

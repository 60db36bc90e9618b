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
#include "platform/vdir/StoreLayout.h"
#include "platform/vdir/StoreNames.h"

namespace wren::platform::vdir {

// One *.ics file of a calendar folder, as it is now.
struct ListedFile {
  std::string name;
  FileStamp stamp;
  bool link = false;  // reached through a symbolic link
};
// The *.ics files of a folder that are regular files (broken links and hidden files left
// out), in byte order of their names; an unreadable folder has none. Without stamps, entries
// are told apart by their directory type only (a broken link is then listed, and fails to
// be read), which saves one system call per file when every file is read anyway.
enum class Stamps { Take, Skip };
std::vector<ListedFile> listItemFiles(const std::filesystem::path& folder, Stamps stamps = Stamps::Take);
// One entry of a folder as it is now, when it is an item file.
std::optional<ListedFile> examineItemFile(const std::filesystem::path& folder, const std::string& name);

// Runs work(0) ... work(count - 1) on a few threads: the machine's cores, at most eight.
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
  std::string calendarId;
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

// The parsed item files of one kind's calendars, shared by all request threads. Every
// refresh brings each folder up to date with the disk: a file whose stamp changed, or a new
// file, is read and parsed again (in parallel when there are many), and a vanished one is
// dropped, so a request never sees an item as it was before. Which files to examine comes
// from a FolderWatch: every file on the first look at a folder (and whenever the watch
// cannot vouch for it), afterwards only those the watch names and those reached through
// links. One refresh runs at a time, so a request that comes while another reads a cold
// store waits for that reading and uses it instead of repeating it. Entries are immutable
// and handed out by shared pointer, so a request keeps its entries valid however the index
// changes after.
template <class Codec>
class ItemIndex {
 public:
  using Entry = IndexedFile<Codec>;
  using EntryPtr = std::shared_ptr<const Entry>;

  struct CalendarFiles {
    const CalendarFolder* calendar;
    std::vector<EntryPtr> files;  // in byte order of the file names
  };

  explicit ItemIndex(EntityType kind) : kind_(kind) {}

  // The files of the calendars as they are now.
  std::vector<CalendarFiles> refresh(const std::vector<const CalendarFolder*>& calendars) {
    std::lock_guard refreshing(refreshMutex_);
    std::vector<Pending> pending;
    std::vector<Listing> listings;
    for (const CalendarFolder* calendar : calendars) listings.push_back(list(*calendar, pending));
    parseAll(pending);
    std::vector<CalendarFiles> result;
    std::unique_lock lock(mutex_);
    for (Listing& listing : listings) result.push_back(store(listing, pending));
    return result;
  }

  // Forgets the calendars whose folders are not among these (removed or renamed ones).
  void retain(const std::vector<const CalendarFolder*>& calendars) {
    std::set<std::string> keep;
    for (const CalendarFolder* calendar : calendars) keep.insert(calendar->folder.string());
    std::lock_guard refreshing(refreshMutex_);
    std::unique_lock lock(mutex_);
    std::erase_if(folders_, [&](const auto& folder) {
      if (keep.contains(folder.first)) return false;
      for (const auto& [name, entry] : folder.second.entries) ids_.erase(entry->origin->itemId);
      return true;
    });
  }

  // The calendar id and file name of an item id seen by an earlier refresh.
  std::optional<std::pair<std::string, std::string>> locate(const std::string& itemId) const {
    std::shared_lock lock(mutex_);
    auto found = ids_.find(itemId);
    if (found == ids_.end()) return std::nullopt;
    return found->second;
  }

  // One file of a calendar as it is now; nothing when it is gone or not an item.
  EntryPtr refreshFile(const CalendarFolder& calendar, const std::string& fileName) {
    std::vector<CalendarFiles> files = refresh({&calendar});
    for (const EntryPtr& entry : files.front().files)
      if (entry->origin->path.filename() == fileName) return entry;
    return nullptr;
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

  // A file to read: its folder's calendar and its name, and once read, its entry.
  struct Pending {
    const CalendarFolder* calendar;
    std::string name;
    EntryPtr entry;
  };
  struct Listing {
    const CalendarFolder* calendar;
    std::vector<ListedFile> files;
    std::vector<EntryPtr> known;  // per file: the entry of the same version, or null (pending)
    std::size_t firstPending = 0;
    bool unchanged = false;  // the folder's entries stand as they are
  };

  // Runs under refreshMutex_, so folders_ changes only in this refresh's store().
  Listing list(const CalendarFolder& calendar, std::vector<Pending>& pending) {
    Listing listing{&calendar, {}, {}, pending.size()};
    FolderChanges changes = watch_.take(calendar.folder);
    auto folder = folders_.find(calendar.folder.string());
    if (folder == folders_.end()) {
      listing.files = listItemFiles(calendar.folder, Stamps::Skip);  // every file is read
    } else if (changes.everything) {
      listing.files = listItemFiles(calendar.folder);
    } else if (changes.names.empty() && folder->second.links.empty()) {
      listing.unchanged = true;
      return listing;
    } else {
      listing.files = relist(calendar.folder, folder->second, changes.names);
    }
    for (const ListedFile& file : listing.files) {
      EntryPtr known;
      if (folder != folders_.end()) {
        auto found = folder->second.entries.find(file.name);
        if (found != folder->second.entries.end() && found->second->origin->stamp == file.stamp) known = found->second;
      }
      if (!known) pending.push_back({&calendar, file.name, nullptr});
      listing.known.push_back(std::move(known));
    }
    return listing;
  }

  // The folder's files from what is known of them, with the changed names and the links
  // examined afresh.
  static std::vector<ListedFile> relist(const std::filesystem::path& path, const Folder& folder,
                                        const std::set<std::string>& changed) {
    std::vector<ListedFile> files;
    for (const auto& [name, entry] : folder.entries) {
      if (changed.contains(name) || folder.links.contains(name)) {
        if (std::optional<ListedFile> now = examineItemFile(path, name)) files.push_back(std::move(*now));
      } else {
        files.push_back({name, entry->origin->stamp, false});
      }
    }
    for (const std::string& name : changed) {
      if (folder.entries.contains(name)) continue;
      if (std::optional<ListedFile> now = examineItemFile(path, name)) files.push_back(std::move(*now));
    }
    std::sort(files.begin(), files.end(), [](const ListedFile& a, const ListedFile& b) { return a.name < b.name; });
    return files;
  }

  void parseAll(std::vector<Pending>& pending) const {
    // Threads pay off only for a cold index; a few changed files are parsed right here.
    constexpr std::size_t kParallelFrom = 64;
    auto parseOne = [&](std::size_t i) { pending[i].entry = parse(*pending[i].calendar, pending[i].name); };
    if (pending.size() < kParallelFrom) {
      for (std::size_t i = 0; i < pending.size(); ++i) parseOne(i);
    } else {
      parallelFor(pending.size(), parseOne);
    }
  }

  EntryPtr parse(const CalendarFolder& calendar, const std::string& name) const {
    auto origin = std::make_shared<ItemOrigin>();
    origin->path = calendar.folder / name;
    origin->itemId = itemIdFor(kind_, calendar.calendar.id, name);
    origin->calendarId = calendar.calendar.id;
    auto entry = std::make_shared<Entry>();
    if (std::optional<FileVersion> version = readFileVersion(origin->path)) {
      origin->text = std::move(version->text);
      origin->stamp = version->stamp;
      // A file that makes the codec throw is as unusable as one it cannot parse.
      try {
        entry->parsed = Codec::parse(origin->text);
        if (entry->parsed) entry->summary = Codec::summarize(*entry->parsed);
      } catch (const std::exception&) {
        entry->parsed = nullptr;
      }
    }
    entry->origin = std::move(origin);
    return entry;
  }

  // Under the exclusive lock: replaces the folder's entries by the listing's.
  CalendarFiles store(const Listing& listing, const std::vector<Pending>& pending) {
    Folder& folder = folders_[listing.calendar->folder.string()];
    CalendarFiles result{listing.calendar, {}};
    if (!listing.unchanged) replaceEntries(folder, listing, pending);
    result.files.reserve(folder.entries.size());
    for (const auto& [name, entry] : folder.entries)
      if (entry->parsed) result.files.push_back(entry);
    return result;
  }

  void replaceEntries(Folder& folder, const Listing& listing, const std::vector<Pending>& pending) {
    const std::string& calendarId = listing.calendar->calendar.id;
    for (const auto& [name, entry] : folder.entries) ids_.erase(entry->origin->itemId);
    Folder fresh;
    std::size_t next = listing.firstPending;
    for (std::size_t i = 0; i < listing.files.size(); ++i) {
      const ListedFile& file = listing.files[i];
      EntryPtr entry = listing.known[i] ? listing.known[i] : pending[next++].entry;
      ids_[entry->origin->itemId] = {calendarId, file.name};
      if (file.link) fresh.links.insert(file.name);
      fresh.entries.emplace_hint(fresh.entries.end(), file.name, std::move(entry));
    }
    folder = std::move(fresh);
  }

  EntityType kind_;
  FolderWatch watch_;
  std::mutex refreshMutex_;          // one refresh at a time
  mutable std::shared_mutex mutex_;  // folders_ and ids_, read by locate() meanwhile
  std::unordered_map<std::string, Folder> folders_;  // by folder path
  std::unordered_map<std::string, std::pair<std::string, std::string>> ids_;
};

}  // namespace wren::platform::vdir

#pragma once

#include <sys/types.h>

#include <cstdint>
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
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/EventStore.h"
#include "platform/vdir/StoreLayout.h"
#include "platform/vdir/StoreNames.h"

namespace wren::platform::vdir {

// What identifies one version of a file: a file rewritten in place, or replaced by rename,
// gets a new stamp even when its size stays the same.
struct FileStamp {
  std::int64_t mtimeNs = 0;
  std::int64_t size = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileStamp&) const = default;
};

// The stamp of the file at the path now (symbolic links followed), or nothing when there is
// no regular file.
std::optional<FileStamp> stampOf(const std::filesystem::path& path);

// One *.ics file of a calendar folder, as it is now.
struct ListedFile {
  std::string name;
  FileStamp stamp;
};
// The *.ics files of a folder that are regular files (broken links and hidden files left
// out); an unreadable folder has none.
std::vector<ListedFile> listItemFiles(const std::filesystem::path& folder);

// The text of a file with the stamp of the version read (taken from the open file, so the
// two belong together even while another program writes).
struct FileVersion {
  std::string text;
  FileStamp stamp;
};
std::optional<FileVersion> readFileVersion(const std::filesystem::path& path);

// Runs work(0) ... work(count - 1) on a few threads: the machine's cores, at most eight.
void parallelFor(std::size_t count, const std::function<void(std::size_t)>& work);

}  // namespace wren::platform::vdir

namespace wren::platform {

// Where a stored item was read from: the file, the version of it that was read, its text,
// and the ids it was given. Shared by every occurrence read from that version.
struct ItemOrigin {
  std::filesystem::path path;
  vdir::FileStamp stamp;
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
// refresh checks each file against the disk: a file whose stamp changed, or a new file, is
// read and parsed again (in parallel, outside the lock), and a vanished one is dropped, so
// a request never sees an item as it was before. Entries are immutable and handed out by
// shared pointer, so a request keeps its entries valid however the index changes after.
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
    std::unique_lock lock(mutex_);
    std::erase_if(folders_, [&](const auto& folder) {
      if (keep.contains(folder.first)) return false;
      for (const auto& [name, entry] : folder.second) ids_.erase(entry->origin->itemId);
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
    std::unique_lock lock(mutex_);
    folders_.clear();
    ids_.clear();
  }

 private:
  using Folder = std::map<std::string, EntryPtr>;

  // A file to read: its folder's calendar and its name, and once read, its entry.
  struct Pending {
    const CalendarFolder* calendar;
    std::string name;
    EntryPtr entry;
  };
  struct Listing {
    const CalendarFolder* calendar;
    std::vector<std::pair<std::string, EntryPtr>> files;  // null entry: see pending
    std::size_t firstPending = 0;
  };

  Listing list(const CalendarFolder& calendar, std::vector<Pending>& pending) const {
    Listing listing{&calendar, {}, pending.size()};
    std::vector<ListedFile> listed = listItemFiles(calendar.folder);
    std::shared_lock lock(mutex_);
    auto folder = folders_.find(calendar.folder.string());
    for (ListedFile& file : listed) {
      EntryPtr known;
      if (folder != folders_.end()) {
        auto found = folder->second.find(file.name);
        if (found != folder->second.end() && found->second->origin->stamp == file.stamp) known = found->second;
      }
      if (!known) pending.push_back({&calendar, file.name, nullptr});
      listing.files.emplace_back(std::move(file.name), std::move(known));
    }
    return listing;
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
  CalendarFiles store(Listing& listing, const std::vector<Pending>& pending) {
    const std::string calendarId = listing.calendar->calendar.id;
    Folder& folder = folders_[listing.calendar->folder.string()];
    for (const auto& [name, entry] : folder) ids_.erase(entry->origin->itemId);
    Folder fresh;
    CalendarFiles result{listing.calendar, {}};
    std::size_t next = listing.firstPending;
    for (auto& [name, entry] : listing.files) {
      if (!entry) entry = pending[next++].entry;
      ids_[entry->origin->itemId] = {calendarId, name};
      fresh.emplace(name, entry);
      if (entry->parsed) result.files.push_back(entry);
    }
    folder = std::move(fresh);
    return result;
  }

  EntityType kind_;
  mutable std::shared_mutex mutex_;
  std::unordered_map<std::string, Folder> folders_;  // by folder path
  std::unordered_map<std::string, std::pair<std::string, std::string>> ids_;
};

}  // namespace wren::platform::vdir

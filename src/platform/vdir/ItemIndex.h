#pragma once

#include <sys/types.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <functional>
#include <list>
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
#include "platform/files/FileStamp.h"
#include "platform/vdir/FolderWatch.h"
#include "platform/vdir/StoreNames.h"

namespace wren::platform::vdir {

// What sets one kind of item file apart: the suffix of its file names (".ics" for events
// and reminders, ".vcf" for contacts) and the salt of its ids, which keeps the ids of two
// kinds apart even for files of the same name in the same collection (see itemIdFor).
// What an index keeps of each item file between requests.
enum class Retention {
  // The file's text and parsed form: for a store that walks every item on every request.
  Everything,
  // Its stamp and summary only: the parsed form is made when a query needs the item, and
  // the last ones made are kept while a budget allows (see ItemIndex).
  Summary,
};

struct ItemKind {
  std::string suffix;
  std::string idSalt;
  // Larger files are skipped unread and left as they are.
  std::size_t maxFileBytes = kItemFileBytes;
  Retention retention = Retention::Everything;
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

// The catalog that answers a codec's queries over one folder: the one the codec names as
// `template <class Key> using Catalog`, or none for a codec whose store walks every item.
template <class Codec, class Key>
struct CatalogOf {
  struct type {
    void add(Key, const typename Codec::Summary&) {}
    void remove(Key, const typename Codec::Summary&) {}
  };
};
template <class Codec, class Key>
  requires requires { typename Codec::template Catalog<Key>; }
struct CatalogOf<Codec, Key> {
  using type = typename Codec::template Catalog<Key>;
};

// The summary that the codec finds from a few lines of the text without parsing it, when it
// offers such a scan and the scan can decide.
template <class Codec>
std::optional<typename Codec::Summary> scannedSummary(std::string_view text) {
  if constexpr (requires { Codec::scan(text); }) {
    return Codec::scan(text);
  } else {
    return std::nullopt;
  }
}

// Whether a Summary index keeps an item loaded all the same, as the codec says: reminders
// keep their open items, which every default list shows, and only the completed ones (most
// of a store that has years of them) by their summary.
template <class Codec>
bool keptWhole(const typename Codec::Summary& summary) {
  if constexpr (requires { Codec::keptWhole(summary); }) {
    return Codec::keptWhole(summary);
  } else {
    return false;
  }
}

// The parsed item files a Summary index made last, by path, dropped least recently used
// first once they hold more than a budget. An entry counts for its text and an estimate of
// its parsed form; a version whose stamp differs from the one asked for, or read for
// another collection, is not returned.
template <class Entry>
class ParsedCache {
 public:
  ParsedCache(std::size_t maxEntries, std::size_t maxBytes) : maxEntries_(maxEntries), maxBytes_(maxBytes) {}

  std::shared_ptr<const Entry> find(const std::string& path, const FileStamp& stamp, const std::string& collectionId) {
    std::lock_guard lock(mutex_);
    auto found = byPath_.find(path);
    if (found == byPath_.end()) return nullptr;
    const ItemOrigin& origin = *found->second->entry->origin;
    if (origin.stamp != stamp || origin.collectionId != collectionId) return nullptr;
    order_.splice(order_.begin(), order_, found->second);
    return found->second->entry;
  }

  // Keeps the entry, dropping the least recently used ones when the budget is full; with
  // `ifRoom`, only when the budget has room for it. A request that reads more than the cache
  // holds offers its entries that way: evicting for them would leave it, asked again, not one
  // entry to find, and would push out what other requests use.
  void put(std::shared_ptr<const Entry> entry, bool ifRoom = false) {
    const std::size_t bytes = costOf(*entry);
    if (bytes > maxBytes_) return;
    std::lock_guard lock(mutex_);
    if (ifRoom && (order_.size() >= maxEntries_ || bytes_ + bytes > maxBytes_)) return;
    if (auto found = byPath_.find(entry->origin->path.native()); found != byPath_.end()) drop(found->second);
    order_.push_front(Cached{std::move(entry), bytes});
    byPath_.emplace(order_.front().entry->origin->path.native(), order_.begin());
    bytes_ += bytes;
    while (order_.size() > maxEntries_ || bytes_ > maxBytes_) drop(std::prev(order_.end()));
  }

  void clear() {
    std::lock_guard lock(mutex_);
    byPath_.clear();
    order_.clear();
    bytes_ = 0;
  }

 private:
  struct Cached {
    std::shared_ptr<const Entry> entry;
    std::size_t bytes;
  };
  using Position = typename std::list<Cached>::iterator;

  // A parsed item takes a few times its text; the estimate only needs to bound the total.
  static std::size_t costOf(const Entry& entry) {
    constexpr std::size_t kParsedPerTextByte = 4;
    constexpr std::size_t kParsedFloor = 2048;
    return (1 + kParsedPerTextByte) * entry.origin->text.size() + kParsedFloor;
  }

  void drop(Position at) {
    bytes_ -= at->bytes;
    byPath_.erase(std::string_view(at->entry->origin->path.native()));
    order_.erase(at);
  }

  std::mutex mutex_;
  std::size_t maxEntries_;
  std::size_t maxBytes_;
  std::size_t bytes_ = 0;
  std::list<Cached> order_;                                // most recently used first
  std::unordered_map<std::string_view, Position> byPath_;  // keys point into order_'s origins
};

// The item files of one kind's collections (calendars, reminder lists, address books),
// shared by all request threads:
//
//   ItemIndex<EventCodecTraits, CalendarFolder> events({".ics", "event", kItemFileBytes, Retention::Summary});
//   events.forEach(calendars, window, [](const CalendarFolder& calendar, const auto& entry) {
//     use(*entry.parsed, entry.origin);                 // the files that can overlap the window
//   });
//   for (const auto& book : contacts.refresh(books))    // an Everything index: every file
//     for (const auto& entry : book.files) use(*entry->parsed, entry->origin);
//
// Codec turns a file's text into its parsed form and summary (see IndexedFile), and may
// name a catalog (SpanCatalog, CompletionCatalog) that answers its queries over a folder
// without visiting the other items, and a scan that finds the summary of a file without
// parsing it; Collection is the store's folder type, with `folder`, its path, and `id()`,
// the collection's id.
//
// Every request first brings each folder it reads up to date with the disk: a file whose
// stamp changed, or a new file, is read again (in parallel when there are many), and a
// vanished one is dropped, so a request never sees an item as it was before. Which files to
// examine comes from a FolderWatch: every file on the first look at a folder (and whenever
// the watch cannot vouch for it), afterwards only those the watch names and those reached
// through links, so that the cost of a request after a write is that of the written files.
// One update runs at a time, so a request that comes while another reads a cold store waits
// for that reading and uses it instead of repeating it.
//
// What stays between requests depends on the kind's retention. Everything: each file's
// text and parsed form. Summary: per file its name, stamp and summary (a few hundred bytes),
// the catalog and the id; the parsed form, with the text it came from, is made when a query
// needs the item and kept in a bounded cache, so that repeated queries of the same period do
// not parse again; items the codec keeps whole (see keptWhole) stay loaded. Loaded entries
// are immutable and handed out by shared pointer, so a request keeps its entries valid
// however the index changes after.
template <class Codec, class Collection>
class ItemIndex {
 public:
  using Entry = IndexedFile<Codec>;
  using EntryPtr = std::shared_ptr<const Entry>;
  using Summary = typename Codec::Summary;

  struct CollectionFiles {
    const Collection* collection;
    std::vector<EntryPtr> files;  // in byte order of the file names
  };

  explicit ItemIndex(ItemKind kind) : kind_(std::move(kind)) {}

  // Brings the index of the collections' folders up to date with the disk.
  void update(const std::vector<const Collection*>& collections) {
    std::lock_guard updating(updateMutex_);
    std::vector<Pending> pending;
    std::vector<Listing> listings;
    for (const Collection* collection : collections) listings.push_back(list(*collection, pending));
    readAll(pending);
    {
      std::unique_lock lock(mutex_);
      for (Listing& listing : listings) apply(listing, pending);
    }
    for (Pending& file : pending)
      if (file.read.loaded && !keepsLoaded(file.read.loaded->summary)) cache_.put(std::move(file.read.loaded));
    // A cold reading leaves the heaps of its threads full of freed parser memory.
    if (pending.size() >= kParallelFrom) releaseFreedMemory(kReleaseAfterBytes);
  }

  // The files of the collections as they are now, every one of them loaded.
  std::vector<CollectionFiles> refresh(const std::vector<const Collection*>& collections) {
    update(collections);
    std::vector<CollectionFiles> result;
    for (const Collection* collection : collections) {
      std::vector<Match> matches;
      {
        std::shared_lock lock(mutex_);
        if (const Folder* folder = folderOf(*collection))
          for (const auto& record : folder->entries)
            if (record.second.usable) matches.push_back(matchOf(*collection, record));
      }
      std::vector<EntryPtr> files = loadAll(matches);
      std::erase(files, nullptr);
      result.push_back({collection, std::move(files)});
    }
    return result;
  }

  // Calls visit(collection, entry) for every usable item of the collections that the
  // catalog query selects (for SpanCatalog a window, for CompletionCatalog which ones), as
  // it is on disk now: collection by collection, in byte order of the file names.
  template <class Query, class Visit>
  void forEach(const std::vector<const Collection*>& collections, const Query& query, Visit&& visit) {
    update(collections);
    std::vector<Match> matches;
    {
      std::shared_lock lock(mutex_);
      for (const Collection* collection : collections) {
        const Folder* folder = folderOf(*collection);
        if (!folder) continue;
        std::vector<RecordRef> records;
        folder->catalog.visit(query, [&](RecordRef ref) { records.push_back(ref); });
        if (!std::is_sorted(records.begin(), records.end())) std::sort(records.begin(), records.end());
        for (RecordRef ref : records) matches.push_back(matchOf(*collection, *ref.record));
      }
    }
    std::vector<EntryPtr> loaded = loadAll(matches);
    for (std::size_t i = 0; i < matches.size(); ++i)
      if (loaded[i]) visit(*matches[i].collection, *loaded[i]);
  }

  // Forgets the collections whose folders are not among these (removed or renamed ones).
  void retain(const std::vector<const Collection*>& collections) {
    std::set<std::string> keep;
    for (const Collection* collection : collections) keep.insert(collection->folder.string());
    std::lock_guard updating(updateMutex_);
    std::unique_lock lock(mutex_);
    std::erase_if(folders_, [&](auto& folder) {
      if (keep.contains(folder.first)) return false;
      forgetIds(*folder.second);
      return true;
    });
  }

  // The collection id and file name of an item id seen by an earlier update.
  std::optional<std::pair<std::string, std::string>> locate(const std::string& itemId) const {
    std::shared_lock lock(mutex_);
    auto [from, to] = ids_.equal_range(std::hash<std::string_view>()(itemId));
    for (auto at = from; at != to; ++at) {
      const auto& [folder, record] = at->second;
      if (itemIdFor(kind_.idSalt, folder->collectionId, record->first) == itemId)
        return std::pair{folder->collectionId, record->first};
    }
    return std::nullopt;
  }

  // One file of a collection as it is now; nothing when it is gone or not an item. Only
  // the files the folder's watch names are examined, however many the folder holds.
  EntryPtr refreshFile(const Collection& collection, const std::string& fileName) {
    update({&collection});
    std::optional<Match> match;
    {
      std::shared_lock lock(mutex_);
      if (const Folder* folder = folderOf(collection)) {
        auto found = folder->entries.find(fileName);
        if (found != folder->entries.end() && found->second.usable) match = matchOf(collection, *found);
      }
    }
    if (!match) return nullptr;
    return load(*match);
  }

  // One file of a collection read and parsed as it is now, without touching the index: for
  // a lookup of a single item, whose cost must not grow with the folder. The entry's parsed
  // form is null when the file is gone or holds no item.
  EntryPtr readFile(const Collection& collection, const std::string& fileName) const {
    return parse(collection, fileName, readVersion(collection, fileName));
  }

  void clear() {
    std::lock_guard updating(updateMutex_);
    std::unique_lock lock(mutex_);
    folders_.clear();
    ids_.clear();
    cache_.clear();
  }

 private:
  // Threads pay off only for many files; a few changed files are read right here.
  static constexpr std::size_t kParallelFrom = 64;
  // The parsed forms a Summary index keeps: enough for a year of a busy calendar, so that a
  // long window asked again is not parsed again.
  static constexpr std::size_t kCachedEntries = 8192;
  static constexpr std::size_t kCachedBytes = 40 << 20;

  // What is known of one item file between requests.
  struct Slot {
    FileStamp stamp;  // empty when the file could not be read: read again when listed
    Summary summary{};
    bool usable = false;  // an item, by its scan or its parse
    bool link = false;    // reached through a symbolic link
    std::size_t idHash = 0;
    EntryPtr kept;  // the loaded file, for Retention::Everything
  };
  using Record = std::pair<const std::string, Slot>;  // a file name and its slot
  // A record as catalogs hold it: ordered by file name, so that a catalog that visits in
  // its order visits in the order requests answer in. A null one comes first.
  struct RecordRef {
    const Record* record = nullptr;
    bool operator<(const RecordRef& other) const {
      if (!record || !other.record) return !record && other.record;
      return record->first < other.record->first;
    }
    bool operator==(const RecordRef& other) const { return record == other.record; }
  };
  using Catalog = typename CatalogOf<Codec, RecordRef>::type;

  struct Folder {
    std::string collectionId;
    std::map<std::string, Slot> entries;  // by file name, usable or not
    std::set<std::string> links;          // names reached through symbolic links
    Catalog catalog;                      // the usable entries
  };
  struct IdEntry {
    const Folder* folder;
    const Record* record;
  };

  // A file to read, and once read, what it is.
  struct Read {
    FileStamp stamp;
    std::optional<Summary> summary;  // none when the file is no item
    EntryPtr loaded;                 // the parsed file, when it was parsed and is worth keeping
  };
  struct Pending {
    const Collection* collection;
    std::string name;
    Read read;
  };
  // What changed in one folder: a file now there (read as pending[read]) or gone.
  struct Change {
    std::string name;
    std::optional<ListedFile> now;
    std::size_t read = 0;
  };
  struct Listing {
    const Collection* collection;
    bool fresh = false;  // the folder is indexed from scratch
    std::vector<Change> changes;
  };
  // A usable file that a request needs, as the index knows it.
  struct Match {
    const Collection* collection;
    std::string name;
    FileStamp stamp;
    EntryPtr kept;
  };

  // Whether the index keeps an item of this summary loaded between requests, rather than
  // its summary alone.
  bool keepsLoaded(const Summary& summary) const {
    return kind_.retention == Retention::Everything || keptWhole<Codec>(summary);
  }

  const Folder* folderOf(const Collection& collection) const {
    auto found = folders_.find(collection.folder.string());
    if (found == folders_.end() || found->second->collectionId != collection.id()) return nullptr;
    return found->second.get();
  }

  // A kept file needs no name to be loaded; copying every name of a long list would cost.
  static Match matchOf(const Collection& collection, const Record& record) {
    if (record.second.kept) return {&collection, {}, record.second.stamp, record.second.kept};
    return {&collection, record.first, record.second.stamp, nullptr};
  }

  // Runs under updateMutex_, so folders_ changes only in this update's apply().
  Listing list(const Collection& collection, std::vector<Pending>& pending) {
    Listing listing{&collection, false, {}};
    FolderChanges changes = watch_.take(collection.folder);
    const Folder* folder = folderOf(collection);
    auto consider = [&](ListedFile file, const Slot* known) {
      if (known && known->stamp == file.stamp && known->link == file.link) return;
      listing.changes.push_back({file.name, std::move(file), pending.size()});
      pending.push_back({&collection, listing.changes.back().name, {}});
    };
    if (!folder) {
      listing.fresh = true;
      for (ListedFile& file : listItemFiles(collection.folder, kind_.suffix, Stamps::Skip))  // every file is read
        consider(std::move(file), nullptr);
    } else if (changes.everything) {
      auto known = folder->entries.begin();
      for (ListedFile& file : listItemFiles(collection.folder, kind_.suffix)) {
        for (; known != folder->entries.end() && known->first < file.name; ++known)
          listing.changes.push_back({known->first, std::nullopt});
        const Slot* same = known != folder->entries.end() && known->first == file.name ? &(known++)->second : nullptr;
        consider(std::move(file), same);
      }
      for (; known != folder->entries.end(); ++known) listing.changes.push_back({known->first, std::nullopt});
    } else {
      std::set<std::string> names = std::move(changes.names);
      names.insert(folder->links.begin(), folder->links.end());
      for (const std::string& name : names) {
        auto known = folder->entries.find(name);
        const Slot* slot = known == folder->entries.end() ? nullptr : &known->second;
        if (std::optional<ListedFile> now = examineItemFile(collection.folder, name, kind_.suffix)) {
          consider(std::move(*now), slot);
        } else if (slot) {
          listing.changes.push_back({name, std::nullopt});
        }
      }
    }
    return listing;
  }

  void readAll(std::vector<Pending>& pending) const {
    // The parsed forms of a large reading are not kept by a Summary index: they would all be
    // held at once before the cache dropped most of them again.
    const bool keep = kind_.retention == Retention::Everything || pending.size() < kParallelFrom;
    auto readOne = [&](std::size_t i) { pending[i].read = read(*pending[i].collection, pending[i].name, keep); };
    if (pending.size() < kParallelFrom) {
      for (std::size_t i = 0; i < pending.size(); ++i) readOne(i);
    } else {
      parallelFor(pending.size(), readOne);
    }
  }

  std::optional<FileVersion> readVersion(const Collection& collection, const std::string& name) const {
    // A file that cannot be read whole (memory runs short) is as unusable as a missing one.
    try {
      return readFileVersion(collection.folder / name, kind_.maxFileBytes);
    } catch (const std::exception&) {
      return std::nullopt;
    }
  }

  Read read(const Collection& collection, const std::string& name, bool keep) const {
    Read result;
    std::optional<FileVersion> version = readVersion(collection, name);
    if (!version) return result;
    result.stamp = version->stamp;
    if (kind_.retention == Retention::Summary) {
      std::optional<Summary> summary = scannedSummary<Codec>(version->text);
      if (summary && !keepsLoaded(*summary)) {
        result.summary = std::move(summary);
        return result;
      }
    }
    EntryPtr entry = parse(collection, name, std::move(version));
    if (!entry->parsed) return result;
    result.summary = entry->summary;
    if (keep || keepsLoaded(entry->summary)) result.loaded = std::move(entry);
    return result;
  }

  // The entry of a version of a file; its parsed form is null when the version is missing
  // or holds no item.
  EntryPtr parse(const Collection& collection, const std::string& name, std::optional<FileVersion> version) const {
    auto origin = std::make_shared<ItemOrigin>();
    origin->path = collection.folder / name;
    origin->itemId = itemIdFor(kind_.idSalt, collection.id(), name);
    origin->collectionId = collection.id();
    auto entry = std::make_shared<Entry>();
    // A file that makes the codec throw is as unusable as one the codec cannot parse; it
    // never ends the thread that reads it.
    try {
      if (version) {
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

  // The loaded entry of a usable file: kept, cached, or read now. A file changed since the
  // index last looked is read as it is now, never as it was; one gone or no longer an item
  // gives nothing.
  EntryPtr load(const Match& match) {
    if (EntryPtr inMemory = remembered(match)) return inMemory;
    return readNow(match);
  }

  // The loaded entry of a match when the index holds it: kept, or cached at its stamp.
  EntryPtr remembered(const Match& match) {
    if (match.kept) return match.kept;
    return cache_.find((match.collection->folder / match.name).native(), match.stamp, match.collection->id());
  }

  // The file of a match read and parsed now, and cached.
  EntryPtr readNow(const Match& match, bool cacheIfRoom = false) {
    EntryPtr entry = parse(*match.collection, match.name, readVersion(*match.collection, match.name));
    if (!entry->parsed) return nullptr;
    cache_.put(entry, cacheIfRoom);
    return entry;
  }

  // The loaded entries of the matches, in their order; null for those gone meanwhile.
  std::vector<EntryPtr> loadAll(const std::vector<Match>& matches) {
    std::vector<EntryPtr> loaded(matches.size());
    std::vector<std::size_t> missing;
    for (std::size_t i = 0; i < matches.size(); ++i)
      if (!(loaded[i] = remembered(matches[i]))) missing.push_back(i);
    const bool beyondCache = matches.size() > kCachedEntries;
    auto loadOne = [&](std::size_t i) { loaded[missing[i]] = readNow(matches[missing[i]], beyondCache); };
    if (missing.size() < kParallelFrom) {
      for (std::size_t i = 0; i < missing.size(); ++i) loadOne(i);
    } else {
      parallelFor(missing.size(), loadOne);
      releaseFreedMemory(kReleaseAfterBytes);
    }
    return loaded;
  }

  // Under the exclusive lock: applies the listing's changes to its folder's entries, its
  // catalog and the ids.
  void apply(const Listing& listing, std::vector<Pending>& pending) {
    const Collection& collection = *listing.collection;
    std::unique_ptr<Folder>& slot = folders_[collection.folder.string()];
    if (listing.fresh || !slot) {
      if (slot) forgetIds(*slot);
      slot = std::make_unique<Folder>();
      slot->collectionId = collection.id();
    }
    Folder& folder = *slot;
    for (const Change& change : listing.changes) {
      auto found = folder.entries.find(change.name);
      if (found != folder.entries.end()) {
        forget(folder, *found);
        if (!change.now) {
          folder.links.erase(change.name);
          folder.entries.erase(found);
          continue;
        }
      } else if (!change.now) {
        continue;
      }
      Read& read = pending[change.read].read;
      Slot fresh{read.stamp, read.summary.value_or(Summary{}), read.summary.has_value(), change.now->link,
                 std::hash<std::string_view>()(itemIdFor(kind_.idSalt, folder.collectionId, change.name)),
                 read.summary && keepsLoaded(*read.summary) ? read.loaded : nullptr};
      if (found == folder.entries.end()) {
        found = folder.entries.emplace(change.name, std::move(fresh)).first;
      } else {
        found->second = std::move(fresh);
      }
      if (change.now->link) {
        folder.links.insert(change.name);
      } else {
        folder.links.erase(change.name);
      }
      remember(folder, *found);
    }
  }

  void remember(Folder& folder, const Record& record) {
    ids_.emplace(record.second.idHash, IdEntry{&folder, &record});
    if (record.second.usable) folder.catalog.add(RecordRef{&record}, record.second.summary);
  }

  void forget(Folder& folder, const Record& record) {
    forgetId(record);
    if (record.second.usable) folder.catalog.remove(RecordRef{&record}, record.second.summary);
  }

  void forgetIds(const Folder& folder) {
    for (const Record& record : folder.entries) forgetId(record);
  }

  void forgetId(const Record& record) {
    auto [from, to] = ids_.equal_range(record.second.idHash);
    for (auto at = from; at != to; ++at) {
      if (at->second.record == &record) {
        ids_.erase(at);
        return;
      }
    }
  }

  ItemKind kind_;
  FolderWatch watch_;
  std::mutex updateMutex_;           // one update at a time
  mutable std::shared_mutex mutex_;  // folders_ and ids_, read by queries meanwhile
  std::unordered_map<std::string, std::unique_ptr<Folder>> folders_;  // by folder path
  std::unordered_multimap<std::size_t, IdEntry> ids_;                // by the hash of the item id
  ParsedCache<Entry> cache_{kCachedEntries, kCachedBytes};
};

}  // namespace wren::platform::vdir

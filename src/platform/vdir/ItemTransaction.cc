#include "platform/vdir/ItemTransaction.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/files/AtomicFile.h"
#include "platform/files/FileError.h"
#include "platform/files/FileStamp.h"
#include "platform/vdir/StoreNames.h"

namespace wren::platform::vdir {

namespace {

// One of the process's writes at a time: the check that a file is unchanged and the write
// that replaces it must not interleave with another request's write of the same file.
std::mutex writeMutex;

// One version of a file: its stamp and a hash of its text.
struct VersionId {
  FileStamp stamp;
  std::size_t hash = 0;
  bool operator==(const VersionId&) const = default;
};

VersionId idOf(const FileStamp& stamp, std::string_view text) { return {stamp, std::hash<std::string_view>()(text)}; }

// The versions of an item file that this process wrote one over the other, each replacing
// exactly the one before (which the write checked as it replaced it), since the file last
// held a version of another program: `root`, the version the first of the writes replaced.
// Every version of the chain was read or written by this process, and the last is the
// newest this process wrote. Kept under writeMutex.
struct OwnChain {
  VersionId root;
  std::vector<VersionId> written;  // oldest first
  std::uint64_t lastUse = 0;
};

// How many versions a chain remembers, and how many files have one: enough for a host that
// pipelines a thousand changes of one item, and a few such items at once; a request that
// read a version older than that is refused like one that read another program's.
constexpr std::size_t kChainVersions = 2048;
constexpr std::size_t kChains = 32;

class OwnWrites {
 public:
  // Whether `read` is a version of the chain of the file and `now` its newest.
  bool leadsTo(const std::filesystem::path& path, const VersionId& read, const VersionId& now) {
    auto found = chains_.find(path.string());
    if (found == chains_.end()) return false;
    const OwnChain& chain = found->second;
    if (chain.written.back() != now) return false;
    return chain.root == read || std::find(chain.written.begin(), chain.written.end(), read) != chain.written.end();
  }

  void wrote(const std::filesystem::path& path, const VersionId& replaced, const VersionId& written) {
    OwnChain& chain = chains_[path.string()];
    if (chain.written.empty() || chain.written.back() != replaced) chain = OwnChain{replaced, {}, 0};
    if (chain.written.size() == kChainVersions) {
      chain.root = chain.written.front();
      chain.written.erase(chain.written.begin());
    }
    chain.written.push_back(written);
    chain.lastUse = ++uses_;
    if (chains_.size() > kChains) {
      auto oldest = std::min_element(chains_.begin(), chains_.end(), [](const auto& a, const auto& b) {
        return a.second.lastUse < b.second.lastUse;
      });
      chains_.erase(oldest);
    }
  }

  void forget(const std::filesystem::path& path) { chains_.erase(path.string()); }

 private:
  std::unordered_map<std::string, OwnChain> chains_;
  std::uint64_t uses_ = 0;
};

OwnWrites ownWrites;

[[noreturn]] void refuseRemoved(const ItemOrigin& origin) {
  throw ItemWriteError(FileChangedError(origin.path, FileChangedError::Change::Removed).what());
}

[[noreturn]] void refuseChanged(const ItemOrigin& origin) {
  throw ItemWriteError(FileChangedError(origin.path, FileChangedError::Change::Edited).what());
}

// How much of an item's file is read again to compare it with the version read before: any
// file of its kind, and never less than twice what was read (a kind may allow larger files).
std::size_t rereadCap(const ItemOrigin& origin) { return std::max(kItemFileBytes, 2 * origin.text.size()); }

}  // namespace

ItemTransaction::ItemTransaction(std::string suffix) : lock_(writeMutex), suffix_(std::move(suffix)) {}

ItemTransaction::~ItemTransaction() {
  // A best effort: the error that ended the change is the one reported.
  for (auto path = added_.rbegin(); path != added_.rend(); ++path) unlink(path->c_str());
}

void ItemTransaction::checkUnchanged(const ItemOrigin& origin) const {
  std::optional<FileVersion> now = readFileVersion(origin.path, rereadCap(origin));
  if (!now) refuseRemoved(origin);
  if (now->stamp != origin.stamp || now->text != origin.text) refuseChanged(origin);
}

std::shared_ptr<const ItemOrigin> ItemTransaction::latest(const std::shared_ptr<const ItemOrigin>& origin) const {
  std::optional<FileVersion> now = readFileVersion(origin->path, rereadCap(*origin));
  if (!now) refuseRemoved(*origin);
  if (now->stamp == origin->stamp && now->text == origin->text) return origin;
  if (!ownWrites.leadsTo(origin->path, idOf(origin->stamp, origin->text), idOf(now->stamp, now->text)))
    refuseChanged(*origin);
  auto newer = std::make_shared<ItemOrigin>(*origin);
  newer->text = std::move(now->text);
  newer->stamp = now->stamp;
  return newer;
}

std::string ItemTransaction::add(const std::filesystem::path& folder, std::string_view text) {
  std::string name = freshName() + suffix_;
  place(folder / name, text);
  return name;
}

void ItemTransaction::replace(const ItemOrigin& origin, std::string_view text) {
  FileStamp written;
  try {
    written = replaceFileIfUnchanged(origin.path, text, FileVersion{origin.text, origin.stamp});
  } catch (const FileChangedError& refusal) {
    throw ItemWriteError(refusal.what());
  }
  ownWrites.wrote(origin.path, idOf(origin.stamp, origin.text), idOf(written, text));
}

std::string ItemTransaction::move(const ItemOrigin& origin, const std::filesystem::path& folder,
                                  std::string_view text) {
  std::string name = origin.path.filename().string();
  if (isPresent(folder / name)) name = freshName() + suffix_;
  place(folder / name, text);
  remove(origin);
  return name;
}

void ItemTransaction::remove(const ItemOrigin& origin) {
  try {
    removeFileIfUnchanged(origin.path, FileVersion{origin.text, origin.stamp});
  } catch (const FileChangedError& refusal) {
    throw ItemWriteError(refusal.what());
  }
  ownWrites.forget(origin.path);
}

void ItemTransaction::place(const std::filesystem::path& path, std::string_view text) {
  writeFileAtomically(path, text, Existing::Refuse);
  added_.push_back(path);
}

}  // namespace wren::platform::vdir

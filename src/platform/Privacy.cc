#include "platform/Privacy.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>

#include "base/JsonParse.h"
#include "platform/DataRoot.h"
#include "platform/files/AtomicFile.h"
#include "platform/files/FileDescriptor.h"
#include "platform/files/FileError.h"
#include "platform/files/FileStamp.h"

namespace wren::platform {

namespace {

// How many kept copies of broken files may pile up before recording gives up rather than
// keep yet another one.
constexpr int kMaxKeptCopies = 100;

const char* keyOf(PrivacyKind kind) {
  switch (kind) {
    case PrivacyKind::Calendar: return "calendar";
    case PrivacyKind::Reminders: return "reminders";
    case PrivacyKind::Contacts: return "contacts";
    case PrivacyKind::Location: return "location";
    case PrivacyKind::Accessibility: return "accessibility";
    case PrivacyKind::Screen: return "screen";
  }
  return "";
}

std::filesystem::path decisionsPath(const std::filesystem::path& root) { return root / "privacy.json"; }

// The decisions as an object; a missing, unreadable or malformed file counts as none.
// The decisions file is shared with other programs, which keep keys of their own in it;
// its JSON reader is linear, so it is read up to a cap well above the other metadata files'
// (a file of 200,000 keys takes about 4 MiB), and still bounded for a device that never ends.
constexpr std::size_t kDecisionsFileBytes = 8 * 1024 * 1024;

Json decisionsIn(const std::optional<std::string>& text) {
  if (!text) return Json::object();
  Json decisions = parseJson(*text);
  return decisions.is_object() ? decisions : Json::object();
}

// How often a decision is recorded again over a file that another program rewrote between
// the reading and the writing, before the recording gives up.
constexpr int kRecordAttempts = 5;

// Holds the data root's folder locked for writing: flock on the folder itself, so that no
// file of the helper's own is needed, and a mutex for the threads of this process (flock
// locks of one process on separate descriptors do exclude each other, but a mutex is
// cheaper and plain to race detectors).
class WriterTurn {
 public:
  explicit WriterTurn(const std::filesystem::path& root) : lock_(mutex()) {
    folder_ = FileDescriptor(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder_) throw FileError("open", root, errno);
    while (flock(folder_.get(), LOCK_EX) != 0)
      if (errno != EINTR) throw FileError("flock", root, errno);
  }

 private:
  static std::mutex& mutex() {
    static std::mutex writers;
    return writers;
  }

  std::lock_guard<std::mutex> lock_;
  FileDescriptor folder_;  // closing it ends the flock
};

// Keeps the bytes of a file that could not be read as decisions under the first free name.
void keepBrokenCopy(const std::filesystem::path& path, const std::string& text) {
  for (int n = 1; n <= kMaxKeptCopies; ++n) {
    std::filesystem::path copy = path;
    copy += n == 1 ? ".broken" : ".broken-" + std::to_string(n);
    try {
      writeFileAtomically(copy, text, Existing::Refuse);
      return;
    } catch (const FileError& error) {
      if (error.error() != EEXIST) throw;
    }
  }
  throw FileError("keep a copy", path, EEXIST);
}

}  // namespace

std::optional<std::string> privacyDecision(PrivacyKind kind) {
  Json decisions = decisionsIn(readFileIfPresent(decisionsPath(dataRoot()), kDecisionsFileBytes));
  auto found = decisions.find(keyOf(kind));
  if (found == decisions.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

void recordPrivacyDecision(PrivacyKind kind, const std::string& decision) {
  const std::filesystem::path root = dataRoot();
  const std::filesystem::path path = decisionsPath(root);
  makeFolders(root);
  WriterTurn turn(root);
  // The decision goes into the file as it is on disk, and replaces only the version it was
  // added to: the keys another program writes meanwhile are read again and kept.
  bool keptBrokenCopy = false;
  for (int attempt = 1;; ++attempt) {
    std::optional<FileVersion> read = readFileVersion(path, kDecisionsFileBytes);
    Json decisions = Json::object();
    if (read) {
      Json parsed = parseJson(read->text);
      if (parsed.is_object()) {
        decisions = std::move(parsed);
      } else if (!keptBrokenCopy) {
        keepBrokenCopy(path, read->text);
        keptBrokenCopy = true;
      }
    } else if (isPresent(path) && ::access(path.c_str(), R_OK) != 0) {
      // A file that is there but that the person's permissions keep us from reading is
      // someone's: it is not replaced blindly.
      throw FileError("open", path, errno);
    }
    decisions[keyOf(kind)] = decision;
    const std::string text = decisions.dump(2) + "\n";
    try {
      if (!read && isPresent(path)) {
        // What cannot be read at all (a FIFO, a file over the cap) decides nothing and holds
        // nothing to keep: it is replaced as it is.
        writeFileAtomically(path, text, Existing::Replace);
      } else {
        replaceFileIfUnchanged(path, text, read);
      }
      return;
    } catch (const FileChangedError&) {
      if (attempt == kRecordAttempts) throw;
    }
  }
}

}  // namespace wren::platform

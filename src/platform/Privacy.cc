#include "platform/Privacy.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>

#include <filesystem>
#include <mutex>

#include "base/JsonParse.h"
#include "platform/DataRoot.h"
#include "platform/files/AtomicFile.h"
#include "platform/files/FileDescriptor.h"
#include "platform/files/FileError.h"

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
Json readDecisions(const std::filesystem::path& root) {
  std::optional<std::string> text = readFileIfPresent(decisionsPath(root));
  if (!text) return Json::object();
  Json decisions = parseJson(*text);
  return decisions.is_object() ? decisions : Json::object();
}

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
  Json decisions = readDecisions(dataRoot());
  auto found = decisions.find(keyOf(kind));
  if (found == decisions.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

void recordPrivacyDecision(PrivacyKind kind, const std::string& decision) {
  const std::filesystem::path root = dataRoot();
  const std::filesystem::path path = decisionsPath(root);
  makeFolders(root);
  WriterTurn turn(root);
  Json decisions = Json::object();
  if (isPresent(path)) {
    // A file that is there but cannot be read is someone's: it is not replaced blindly.
    std::string text = readWholeFile(path);
    Json parsed = parseJson(text);
    if (parsed.is_object()) {
      decisions = std::move(parsed);
    } else {
      keepBrokenCopy(path, text);
    }
  }
  decisions[keyOf(kind)] = decision;
  writeFileAtomically(path, decisions.dump(2) + "\n", Existing::Replace);
}

}  // namespace wren::platform

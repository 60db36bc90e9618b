#include "platform/Privacy.h"

#include <filesystem>

#include "base/JsonParse.h"
#include "platform/DataRoot.h"
#include "platform/files/AtomicFile.h"
#include "platform/files/FileError.h"
#include "platform/files/FileStamp.h"

namespace wren::platform {

namespace {

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
  // The decision goes into the file as it is on disk, and replaces only the version it was
  // added to: the keys another program writes meanwhile are read again and kept.
  for (int attempt = 1;; ++attempt) {
    std::optional<FileVersion> read = readFileVersion(path, kDecisionsFileBytes);
    Json decisions = decisionsIn(read ? std::optional(read->text) : std::nullopt);
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

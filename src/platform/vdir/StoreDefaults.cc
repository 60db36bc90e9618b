#include "platform/vdir/StoreDefaults.h"

#include <errno.h>
#include <sys/stat.h>

#include "base/Json.h"
#include "platform/DataRoot.h"
#include "platform/Privacy.h"
#include "platform/files/AtomicFile.h"
#include "platform/files/FileError.h"
#include "platform/vdir/StoreLayout.h"
#include "platform/vdir/StoreNames.h"

namespace wren::platform::vdir {

namespace {

constexpr const char* kSourceName = "local";

void makeFolder(const std::filesystem::path& folder) {
  if (mkdir(folder.c_str(), 0755) != 0) throw FileError("mkdir", folder, errno);
}

// Fills a fresh folder with the store's contents.
void assemble(const std::filesystem::path& staging, EntityType kind) {
  std::filesystem::path source = staging / kSourceName;
  makeFolder(source);
  writeFileAtomically(source / "source.json",
                      Json{{"title", "On My Computer"}, {"type", "local"}}.dump() + "\n", Existing::Refuse);
  std::string calendarName = freshName();
  makeFolder(source / calendarName);
  writeFileAtomically(source / calendarName / "displayname",
                      kind == EntityType::Event ? "Calendar" : "Reminders", Existing::Refuse);
  writeFileAtomically(staging / "store.json",
                      Json{{"default", std::string(kSourceName) + "/" + calendarName}}.dump() + "\n",
                      Existing::Refuse);
}

void createStore(const std::filesystem::path& store, EntityType kind) {
  std::filesystem::create_directories(store.parent_path());
  publishFolder(store, [kind](const std::filesystem::path& staging) { assemble(staging, kind); });
}

}  // namespace

void ensureDefaultStore(EntityType kind) {
  std::filesystem::path store = storeFolder(dataRoot(), kind);
  if (isPresent(store)) return;
  PrivacyKind privacy = kind == EntityType::Event ? PrivacyKind::Calendar : PrivacyKind::Reminders;
  if (privacyDecision(privacy) != "granted") return;
  try {
    createStore(store, kind);
  } catch (const FileError&) {
    // Losing the race to a concurrent first use ends here too: its store is in place.
  } catch (const std::filesystem::filesystem_error&) {
    // A data root that cannot be made reads as an empty store.
  }
}

}  // namespace wren::platform::vdir

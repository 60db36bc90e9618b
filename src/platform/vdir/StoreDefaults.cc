#include "platform/vdir/StoreDefaults.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <system_error>

#include "app/Json.h"
#include "platform/DataRoot.h"
#include "platform/Privacy.h"
#include "platform/vdir/AtomicFile.h"
#include "platform/vdir/StoreLayout.h"
#include "platform/vdir/StoreNames.h"

namespace wren::platform::vdir {

namespace {

constexpr const char* kSourceName = "local";

bool isPresent(const std::filesystem::path& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

void makeFolder(const std::filesystem::path& folder) {
  if (mkdir(folder.c_str(), 0755) != 0)
    throw StoreError("mkdir(" + folder.string() + "): " + strerror(errno));
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
  std::string pattern = (store.parent_path() / ("." + store.filename().string() + ".new-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) throw StoreError("mkdtemp(" + pattern + "): " + strerror(errno));
  std::filesystem::path staging = pattern;
  try {
    chmod(staging.c_str(), 0755);
    assemble(staging, kind);
    renameNoReplace(staging, store);
    syncFolder(store.parent_path());
  } catch (...) {
    std::error_code ignored;
    std::filesystem::remove_all(staging, ignored);
    throw;
  }
}

}  // namespace

void ensureDefaultStore(EntityType kind) {
  std::filesystem::path store = storeFolder(dataRoot(), kind);
  if (isPresent(store)) return;
  PrivacyKind privacy = kind == EntityType::Event ? PrivacyKind::Calendar : PrivacyKind::Reminders;
  if (privacyDecision(privacy) != "granted") return;
  try {
    createStore(store, kind);
  } catch (const StoreError&) {
    // Losing the race to a concurrent first use ends here too: its store is in place.
  } catch (const std::filesystem::filesystem_error&) {
    // A data root that cannot be made reads as an empty store.
  }
}

}  // namespace wren::platform::vdir

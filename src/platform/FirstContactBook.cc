#include "platform/FirstContactBook.h"

#include <errno.h>

#include <filesystem>
#include <system_error>

#include "platform/DataRoot.h"
#include "platform/files/AtomicFile.h"
#include "platform/files/FileError.h"

namespace wren::platform {

namespace {

constexpr const char* kBookFolder = "default";

// True when the store holds a folder that is not hidden: an address book. A store that
// cannot be read is left alone, as if it had one.
bool hasBook(const std::filesystem::path& store) {
  std::error_code error;
  std::filesystem::directory_iterator entries(store, error);
  if (error) return error != std::errc::no_such_file_or_directory;
  for (const auto& entry : entries) {
    std::string name = entry.path().filename().string();
    if (!name.starts_with('.') && entry.is_directory(error)) return true;
  }
  return false;
}

}  // namespace

void ensureFirstContactBook() {
  const std::filesystem::path store = dataRoot() / "contacts";
  if (hasBook(store)) return;
  makeFolders(store);
  try {
    publishFolder(store / kBookFolder, [](const std::filesystem::path& staging) {
      writeFileAtomically(staging / "displayname", "Contacts", Existing::Refuse);
    });
  } catch (const FileError& error) {
    // Another first grant made it meanwhile; its book is the one.
    if (error.error() != EEXIST) throw;
  }
}

}  // namespace wren::platform

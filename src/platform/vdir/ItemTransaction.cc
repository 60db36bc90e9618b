#include "platform/vdir/ItemTransaction.h"

#include <errno.h>
#include <unistd.h>

#include <optional>
#include <utility>

#include "platform/files/AtomicFile.h"
#include "platform/files/FileError.h"
#include "platform/files/FileStamp.h"
#include "platform/vdir/StoreNames.h"

namespace wren::platform::vdir {

namespace {

// One of the process's writes at a time: the check that a file is unchanged and the write
// that replaces it must not interleave with another request's write of the same file.
std::mutex writeMutex;

}  // namespace

ItemTransaction::ItemTransaction(std::string suffix) : lock_(writeMutex), suffix_(std::move(suffix)) {}

ItemTransaction::~ItemTransaction() {
  // A best effort: the error that ended the change is the one reported.
  for (auto path = added_.rbegin(); path != added_.rend(); ++path) unlink(path->c_str());
}

void ItemTransaction::checkUnchanged(const ItemOrigin& origin) const {
  std::optional<FileVersion> now = readFileVersion(origin.path);
  if (!now) throw ItemWriteError("open(" + origin.path.string() + "): the file was removed since it was read");
  if (now->stamp != origin.stamp || now->text != origin.text)
    throw ItemWriteError("the file " + origin.path.string() +
                         " changed on disk since it was read (another program edited it); read it again");
}

std::string ItemTransaction::add(const std::filesystem::path& folder, std::string_view text) {
  std::string name = freshName() + suffix_;
  place(folder / name, text);
  return name;
}

void ItemTransaction::replace(const ItemOrigin& origin, std::string_view text) {
  try {
    replaceFileIfUnchanged(origin.path, text, FileVersion{origin.text, origin.stamp});
  } catch (const FileChangedError& refusal) {
    throw ItemWriteError(refusal.what());
  }
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
}

void ItemTransaction::place(const std::filesystem::path& path, std::string_view text) {
  writeFileAtomically(path, text, Existing::Refuse);
  added_.push_back(path);
}

}  // namespace wren::platform::vdir

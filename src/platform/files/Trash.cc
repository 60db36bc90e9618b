#include "platform/files/Trash.h"

#include <errno.h>
#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "platform/DataRoot.h"
#include "platform/files/AtomicFile.h"
#include "platform/files/Deleters.h"
#include "platform/files/FileDescriptor.h"
#include "platform/files/FileError.h"

namespace wren::platform {

namespace {

void makeFolder(const std::filesystem::path& folder) {
  makeFolders(folder);
  // The trash is private to its owner, as the trash specification asks.
  ::chmod(folder.c_str(), 0700);
}

// Paths in a record are escaped as in a URI path: everything but unreserved characters
// and "/" is percent-encoded, non-ASCII bytes included.
std::string escapePath(const std::string& path) {
  std::unique_ptr<gchar, GFree> escaped(g_uri_escape_string(path.c_str(), "/", FALSE));
  return escaped.get();
}

std::string localTimeText(std::time_t when) {
  std::tm parts{};
  localtime_r(&when, &parts);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
  return text;
}

// Creates the record of a name with O_EXCL, which is how the trash specification reserves a
// name between programs. False when the name is taken.
bool reserveName(const std::filesystem::path& info, const std::string& text) {
  FileDescriptor fd(::open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!fd && errno == EEXIST) return false;
  if (!fd) throw FileError("open", info, errno);
  ssize_t written = ::write(fd.get(), text.data(), text.size());
  int writeError = errno;
  bool synced = ::fsync(fd.get()) == 0;
  fd.close();
  if (written != static_cast<ssize_t>(text.size()) || !synced) {
    ::unlink(info.c_str());
    throw FileError("write", info, written < 0 ? writeError : EIO);
  }
  return true;
}

std::string candidateName(const std::string& name, int attempt) {
  return attempt == 0 ? name : name + "." + std::to_string(attempt + 1);
}

}  // namespace

std::filesystem::path trashFolder() { return dataHome() / "Trash"; }

std::string trashInfoText(const std::filesystem::path& originalPath, std::time_t deletion) {
  return "[Trash Info]\nPath=" + escapePath(originalPath.string()) +
         "\nDeletionDate=" + localTimeText(deletion) + "\n";
}

std::filesystem::path moveToTrash(const std::filesystem::path& path) {
  std::filesystem::path original = std::filesystem::absolute(path).lexically_normal();
  if (!isPresent(original)) throw FileError("lstat", original, ENOENT);
  std::filesystem::path files = trashFolder() / "files";
  std::filesystem::path infos = trashFolder() / "info";
  makeFolder(files);
  makeFolder(infos);
  std::string text = trashInfoText(original, std::time(nullptr));
  std::string name = original.filename().string();
  for (int attempt = 0;; ++attempt) {
    std::string candidate = candidateName(name, attempt);
    std::filesystem::path info = infos / (candidate + ".trashinfo");
    std::filesystem::path target = files / candidate;
    if (isPresent(target) || !reserveName(info, text)) continue;
    try {
      renameNoReplace(original, target);
    } catch (const FileError&) {
      ::unlink(info.c_str());
      throw;
    }
    syncFolder(files);
    return target;
  }
}

}  // namespace wren::platform

#include "platform/files/AtomicFile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <system_error>
#include <utility>

#include "platform/files/FileDescriptor.h"
#include "platform/files/FileError.h"
#include "platform/files/RegularFile.h"

namespace wren::platform {

namespace {

[[noreturn]] void fail(const std::string& call, const std::filesystem::path& path, int error) {
  throw FileError(call, path, error);
}

// A temporary file that is removed again unless it was renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::filesystem::path& target)
      : path_((target.parent_path() / ("." + target.filename().string() + ".tmp-XXXXXX")).string()),
        fd_(mkostemp(path_.data(), O_CLOEXEC)) {
    if (!fd_) fail("mkostemp", path_, errno);
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (!placed_) ::unlink(path_.c_str());
  }

  void write(std::string_view text) {
    while (!text.empty()) {
      ssize_t written = ::write(fd_.get(), text.data(), text.size());
      if (written < 0 && errno == EINTR) continue;
      if (written < 0) fail("write", path_, errno);
      text.remove_prefix(static_cast<size_t>(written));
    }
    // A new file is readable like any other file of the store, whatever the umask of the
    // temporary file's creation said.
    if (fchmod(fd_.get(), 0644) != 0) fail("fchmod", path_, errno);
    if (fsync(fd_.get()) != 0) fail("fsync", path_, errno);
    if (fd_.close() != 0) fail("close", path_, errno);
  }

  void placeAt(const std::filesystem::path& target, Existing existing) {
    if (existing == Existing::Replace) {
      if (::rename(path_.c_str(), target.c_str()) != 0) fail("rename", target, errno);
    } else {
      renameNoReplace(path_, target);
    }
    placed_ = true;
  }

 private:
  std::string path_;
  FileDescriptor fd_;
  bool placed_ = false;
};

}  // namespace

void writeFileAtomically(const std::filesystem::path& path, std::string_view text, Existing existing) {
  TemporaryFile temporary(path);
  temporary.write(text);
  temporary.placeAt(path, existing);
  syncFolder(path.parent_path());
}

std::string readWholeFile(const std::filesystem::path& path, std::size_t maxBytes) {
  auto read = readRegular(path, maxBytes);
  if (auto* failure = std::get_if<ReadFailure>(&read)) fail(failure->call, path, failure->error);
  return std::move(std::get<RegularFileText>(read).text);
}

std::optional<std::string> readFileIfPresent(const std::filesystem::path& path, std::size_t maxBytes) {
  return readRegularFile(path, maxBytes);
}

void syncFolder(const std::filesystem::path& folder) {
  FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) fail("open", folder, errno);
  if (fsync(fd.get()) != 0) fail("fsync", folder, errno);
}

void renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
  if (errno != EINVAL && errno != ENOSYS) fail("renameat2", to, errno);
  // File systems without the no-replace flag: a hard link fails when the name is taken.
  // Folders cannot be linked, so for them the check and the rename are two steps.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return;
  }
  if (errno != EPERM) fail("link", to, errno);
  struct stat info;
  if (::lstat(to.c_str(), &info) == 0) fail("rename", to, EEXIST);
  if (::rename(from.c_str(), to.c_str()) != 0) fail("rename", to, errno);
}

void publishFolder(const std::filesystem::path& target,
                   const std::function<void(const std::filesystem::path& staging)>& fill) {
  std::filesystem::path parent = target.parent_path();
  std::string pattern = (parent / ("." + target.filename().string() + ".new-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) fail("mkdir", pattern, errno);
  std::filesystem::path staging = pattern;
  try {
    chmod(staging.c_str(), 0755);
    fill(staging);
    renameNoReplace(staging, target);
    syncFolder(parent);
  } catch (...) {
    std::error_code ignored;
    std::filesystem::remove_all(staging, ignored);
    throw;
  }
}

void makeFolders(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) fail("mkdir", folder, error.value());
}

bool isPresent(const std::filesystem::path& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace wren::platform

#include "platform/files/AtomicFile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
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

constexpr std::string_view kTemporaryPrefix = ".wren-tmp-";

// What tests have set with ReplaceHookForTesting.
struct ReplaceTesting {
  std::mutex mutex;
  std::function<void(const std::filesystem::path&)> beforeSwap;
  bool withoutExchange = false;
};
ReplaceTesting& replaceTesting() {
  static ReplaceTesting testing;
  return testing;
}

// Runs the tests' hook, if any, at the moment a change takes the old file out of its place;
// true when the tests make RENAME_EXCHANGE unavailable.
bool beforeSwap(const std::filesystem::path& path) {
  ReplaceTesting& testing = replaceTesting();
  std::function<void(const std::filesystem::path&)> hook;
  bool withoutExchange = false;
  {
    std::lock_guard lock(testing.mutex);
    hook = testing.beforeSwap;
    withoutExchange = testing.withoutExchange;
  }
  if (hook) hook(path);
  return withoutExchange;
}

// An empty file of a fresh temporary name in the folder, held by a lock (see
// removeStaleTemporaryFiles) while the descriptor is open.
std::pair<std::filesystem::path, FileDescriptor> makeTemporary(const std::filesystem::path& folder) {
  std::string path = (folder / (std::string(kTemporaryPrefix) + "XXXXXX")).string();
  FileDescriptor fd(mkostemp(path.data(), O_CLOEXEC));
  if (!fd) fail("mkostemp", path, errno);
  // A file system without locks leaves the file to the age rule alone.
  flock(fd.get(), LOCK_EX | LOCK_NB);
  return {std::filesystem::path(path), std::move(fd)};
}

// A temporary file that is removed again unless it was renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::filesystem::path& target) {
    auto [path, fd] = makeTemporary(target.parent_path());
    path_ = std::move(path);
    fd_ = std::move(fd);
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (!placed_) ::unlink(path_.c_str());
  }

  const std::filesystem::path& path() const { return path_; }
  // The stamp of the file written.
  const FileStamp& stamp() const { return stamp_; }

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
    struct stat info;
    if (fstat(fd_.get(), &info) != 0) fail("fstat", path_, errno);
    stamp_ = stampOf(info);
    // The file was written just now, so the age rule alone keeps it from being taken for a
    // stale one from here on.
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
  // The file at the temporary name is not this one any more (it was exchanged); what is
  // there now is the caller's.
  void released() { placed_ = true; }

 private:
  std::filesystem::path path_;
  FileDescriptor fd_;
  FileStamp stamp_;
  bool placed_ = false;
};

// Whether the file at the path is exactly the expected version: its identity and stamp, and
// its text.
bool isVersion(const std::filesystem::path& path, const FileVersion& expected) {
  auto read = readRegular(path, expected.text.size());
  auto* file = std::get_if<RegularFileText>(&read);
  return file && stampOf(file->info) == expected.stamp && file->text == expected.text;
}

bool exchange(const std::filesystem::path& a, const std::filesystem::path& b) {
  return renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
}

// Holds a shared lock on the file at the path (when it can be opened), so that a sweep of
// stale temporary files (which needs an exclusive lock) cannot take it for one while it
// stands under a temporary name.
FileDescriptor holdShared(const std::filesystem::path& path) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (fd) flock(fd.get(), LOCK_SH | LOCK_NB);
  return fd;
}

// Puts a version that was taken aside back at the path, without replacing what another
// program may have put there meanwhile (then the version stays aside, under its temporary
// name, and the sweep of stale files takes it later).
void putBack(const std::filesystem::path& aside, const std::filesystem::path& path) {
  try {
    renameNoReplace(aside, path);
  } catch (const FileError&) {
  }
}

// A version of a file renamed aside, held by a shared lock while it stands there.
struct SetAside {
  std::filesystem::path path;
  FileDescriptor held;
};

// Renames the file aside under a temporary name of its own and checks there that it is the
// version read; puts it back and refuses when it is not. The caller then replaces or removes
// the file at its old name and deals with the one aside.
SetAside moveAsideIfVersion(const std::filesystem::path& path, const FileVersion& expected) {
  auto [aside, placeholder] = makeTemporary(path.parent_path());
  placeholder = FileDescriptor();
  FileDescriptor held = holdShared(path);
  if (::rename(path.c_str(), aside.c_str()) != 0) {
    const int error = errno;
    ::unlink(aside.c_str());
    if (error == ENOENT) throw FileChangedError(path, FileChangedError::Change::Removed);
    fail("rename", path, error);
  }
  if (!isVersion(aside, expected)) {
    putBack(aside, path);
    throw FileChangedError(path, FileChangedError::Change::Edited);
  }
  return {aside, std::move(held)};
}

// The way of file systems without RENAME_EXCHANGE: the old file is renamed aside under a
// temporary name of its own, checked there, and replaced or put back.
FileStamp replaceByRenamingAside(TemporaryFile& written, const std::filesystem::path& path,
                                 const FileVersion& expected) {
  const auto [aside, held] = moveAsideIfVersion(path, expected);
  try {
    written.placeAt(path, Existing::Refuse);
  } catch (const FileError& error) {
    // Another program made a new file at the path meanwhile: it stays, and the version
    // read, which the write meant to replace anyway, goes.
    ::unlink(aside.c_str());
    if (error.error() == EEXIST) throw FileChangedError(path, FileChangedError::Change::Edited);
    throw;
  }
  ::unlink(aside.c_str());
  syncFolder(path.parent_path());
  return written.stamp();
}

}  // namespace

void writeFileAtomically(const std::filesystem::path& path, std::string_view text, Existing existing) {
  TemporaryFile temporary(path);
  temporary.write(text);
  temporary.placeAt(path, existing);
  syncFolder(path.parent_path());
}

FileStamp replaceFileIfUnchanged(const std::filesystem::path& path, std::string_view text,
                                 const std::optional<FileVersion>& expected) {
  TemporaryFile written(path);
  written.write(text);
  if (!expected) {
    try {
      written.placeAt(path, Existing::Refuse);
    } catch (const FileError& error) {
      if (error.error() == EEXIST) throw FileChangedError(path, FileChangedError::Change::Edited);
      throw;
    }
    syncFolder(path.parent_path());
    return written.stamp();
  }
  const bool withoutExchange = beforeSwap(path);
  FileDescriptor held = holdShared(path);
  if (withoutExchange || !exchange(written.path(), path)) {
    if (!withoutExchange && errno == ENOENT) throw FileChangedError(path, FileChangedError::Change::Removed);
    if (!withoutExchange && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
      fail("renameat2", path, errno);
    return replaceByRenamingAside(written, path, *expected);
  }
  // The new file is in place; the temporary name holds what was there.
  written.released();
  const std::filesystem::path& aside = written.path();
  if (isVersion(aside, *expected)) {
    ::unlink(aside.c_str());
    syncFolder(path.parent_path());
    return written.stamp();
  }
  // Another program's version: it goes back, and the new file (now aside) goes.
  if (exchange(aside, path)) {
    std::optional<FileStamp> nowAside = stampOf(aside);
    if (nowAside && nowAside->inode == written.stamp().inode) {
      ::unlink(aside.c_str());
    } else if (nowAside) {
      // A third version replaced the new file in the moment between: it is the newest and
      // goes back in place; the one it displaced stays aside for the sweep.
      exchange(aside, path);
    }
  } else if (errno == ENOENT) {
    putBack(aside, path);
  }
  syncFolder(path.parent_path());
  throw FileChangedError(path, FileChangedError::Change::Edited);
}

void removeFileIfUnchanged(const std::filesystem::path& path, const FileVersion& expected) {
  beforeSwap(path);
  const auto [aside, held] = moveAsideIfVersion(path, expected);
  if (::unlink(aside.c_str()) != 0) fail("unlink", path, errno);
  syncFolder(path.parent_path());
}

bool isTemporaryFileName(std::string_view name) {
  return name.size() == kTemporaryPrefix.size() + 6 && name.starts_with(kTemporaryPrefix);
}

void removeStaleTemporaryFiles(const std::filesystem::path& folder, const std::vector<std::string>& names) {
  const auto now = std::chrono::system_clock::now();
  for (const std::string& name : names) {
    if (!isTemporaryFileName(name)) continue;
    const std::filesystem::path path = folder / name;
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
    struct stat info;
    if (!fd || fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    const auto modified = std::chrono::system_clock::time_point(
        std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec));
    if (now - modified < kStaleTemporaryAge) continue;
    // A write in progress (of this process or another) holds a lock on its file.
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
    // Still the same file under that name: it was not renamed into place meanwhile.
    struct stat named;
    if (lstat(path.c_str(), &named) == 0 && named.st_ino == info.st_ino && named.st_dev == info.st_dev)
      ::unlink(path.c_str());
  }
}

ReplaceHookForTesting::ReplaceHookForTesting(std::function<void(const std::filesystem::path&)> beforeSwap,
                                             Exchange exchange) {
  ReplaceTesting& testing = replaceTesting();
  std::lock_guard lock(testing.mutex);
  testing.beforeSwap = std::move(beforeSwap);
  testing.withoutExchange = exchange == Exchange::Unavailable;
}

ReplaceHookForTesting::~ReplaceHookForTesting() {
  ReplaceTesting& testing = replaceTesting();
  std::lock_guard lock(testing.mutex);
  testing.beforeSwap = nullptr;
  testing.withoutExchange = false;
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

#include "platform/vdir/StoreIndex.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "platform/vdir/Deleters.h"

namespace wren::platform::vdir {

namespace {

FileStamp stampFrom(const struct stat& info) {
  return {static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec,
          static_cast<std::int64_t>(info.st_size), static_cast<std::uint64_t>(info.st_ino)};
}

bool isItemName(std::string_view name) {
  return name.size() > 4 && name.front() != '.' && name.substr(name.size() - 4) == ".ics";
}

}  // namespace

std::optional<FileStamp> stampOf(const std::filesystem::path& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return stampFrom(info);
}

std::vector<ListedFile> listItemFiles(const std::filesystem::path& folder, Stamps stamps) {
  std::vector<ListedFile> files;
  std::unique_ptr<DIR, DirClose> dir(opendir(folder.c_str()));
  if (!dir) return files;
  while (dirent* entry = readdir(dir.get())) {
    if (!isItemName(entry->d_name)) continue;
    const bool knownType = entry->d_type == DT_REG || entry->d_type == DT_LNK;
    if (stamps == Stamps::Skip && knownType) {
      files.push_back({entry->d_name, {}, entry->d_type == DT_LNK});
      continue;
    }
    struct stat info;
    if (fstatat(dirfd(dir.get()), entry->d_name, &info, 0) != 0 || !S_ISREG(info.st_mode)) continue;
    bool link = entry->d_type == DT_LNK;
    if (!knownType) {
      struct stat own;
      link = fstatat(dirfd(dir.get()), entry->d_name, &own, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(own.st_mode);
    }
    files.push_back({entry->d_name, stampFrom(info), link});
  }
  std::sort(files.begin(), files.end(), [](const ListedFile& a, const ListedFile& b) { return a.name < b.name; });
  return files;
}

std::optional<ListedFile> examineItemFile(const std::filesystem::path& folder, const std::string& name) {
  if (!isItemName(name)) return std::nullopt;
  const std::filesystem::path path = folder / name;
  struct stat own;
  if (lstat(path.c_str(), &own) != 0) return std::nullopt;
  const bool link = S_ISLNK(own.st_mode);
  std::optional<FileStamp> stamp = link ? stampOf(path) : S_ISREG(own.st_mode) ? std::optional(stampFrom(own)) : std::nullopt;
  if (!stamp) return std::nullopt;
  return ListedFile{name, *stamp, link};
}

std::optional<FileVersion> readFileVersion(const std::filesystem::path& path) {
  // Non-blocking, so that a FIFO under an item name cannot hold the reader up.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  FileVersion version;
  struct stat info;
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (ok) {
    version.stamp = stampFrom(info);
    version.text.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (ok && done < version.text.size()) {
      ssize_t count = read(fd, version.text.data() + done, version.text.size() - done);
      if (count < 0 && errno == EINTR) continue;
      ok = count > 0;
      if (ok) done += static_cast<std::size_t>(count);
    }
  }
  close(fd);
  if (!ok) return std::nullopt;
  return version;
}

void parallelFor(std::size_t count, const std::function<void(std::size_t)>& work) {
  constexpr unsigned kMaxThreads = 8;
  unsigned threads = std::clamp(std::thread::hardware_concurrency(), 2u, kMaxThreads);
  std::atomic<std::size_t> next{0};
  auto run = [&] {
    for (std::size_t i = next++; i < count; i = next++) work(i);
  };
  std::vector<std::jthread> helpers;
  for (unsigned i = 1; i < threads; ++i) helpers.emplace_back(run);
  run();
}

}  // namespace wren::platform::vdir

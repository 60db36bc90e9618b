#include "platform/vdir/ItemIndex.h"

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/files/AtomicFile.h"
#include "platform/files/Deleters.h"

namespace wren::platform::vdir {

namespace {

bool isItemName(std::string_view name, std::string_view suffix) {
  return name.size() > suffix.size() && name.front() != '.' && name.ends_with(suffix);
}

}  // namespace

std::vector<ListedFile> listItemFiles(const std::filesystem::path& folder, std::string_view suffix, Stamps stamps) {
  std::vector<ListedFile> files;
  std::vector<std::string> temporary;
  std::unique_ptr<DIR, DirClose> dir(opendir(folder.c_str()));
  if (!dir) return files;
  while (dirent* entry = readdir(dir.get())) {
    if (isTemporaryFileName(entry->d_name)) temporary.emplace_back(entry->d_name);
    if (!isItemName(entry->d_name, suffix)) continue;
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
    files.push_back({entry->d_name, stampOf(info), link});
  }
  std::sort(files.begin(), files.end(), [](const ListedFile& a, const ListedFile& b) { return a.name < b.name; });
  if (!temporary.empty()) removeStaleTemporaryFiles(folder, temporary);
  return files;
}

std::optional<ListedFile> examineItemFile(const std::filesystem::path& folder, const std::string& name,
                                          std::string_view suffix) {
  if (!isItemName(name, suffix)) return std::nullopt;
  const std::filesystem::path path = folder / name;
  struct stat own;
  if (lstat(path.c_str(), &own) != 0) return std::nullopt;
  const bool link = S_ISLNK(own.st_mode);
  std::optional<FileStamp> stamp = link ? stampOf(path) : S_ISREG(own.st_mode) ? std::optional(stampOf(own)) : std::nullopt;
  if (!stamp) return std::nullopt;
  return ListedFile{name, *stamp, link};
}

void releaseFreedMemory(std::size_t bytes) {
  if (bytes >= kReleaseAfterBytes) malloc_trim(0);
}

void parallelFor(std::size_t count, const std::function<void(std::size_t)>& work) {
  constexpr unsigned kMaxThreads = 8;
  unsigned threads = std::clamp(std::thread::hardware_concurrency(), 2u, kMaxThreads);
  std::atomic<std::size_t> next{0};
  std::mutex failing;
  std::exception_ptr failure;
  // An exception that left a thread's function would end the process.
  auto run = [&] {
    try {
      for (std::size_t i = next++; i < count; i = next++) work(i);
    } catch (...) {
      next = count;
      std::lock_guard lock(failing);
      if (!failure) failure = std::current_exception();
    }
  };
  {
    std::vector<std::jthread> helpers;
    for (unsigned i = 1; i < threads; ++i) {
      try {
        helpers.emplace_back(run);
      } catch (const std::system_error&) {
        break;  // no thread to be had: the ones there are (this one at least) do the work
      }
    }
    run();
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace wren::platform::vdir

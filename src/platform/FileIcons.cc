#include "platform/FileIcons.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string_view>

#include "platform/files/Deleters.h"
#include "platform/files/FileDescriptor.h"

namespace wren::platform {

namespace {

using IconPtr = std::unique_ptr<GIcon, GObjectUnref>;

std::optional<FileFacts::Kind> kindOf(mode_t mode) {
  using Kind = FileFacts::Kind;
  if (S_ISDIR(mode)) return Kind::Directory;
  if (S_ISREG(mode)) return Kind::Regular;
  if (S_ISCHR(mode)) return Kind::CharDevice;
  if (S_ISBLK(mode)) return Kind::BlockDevice;
  if (S_ISFIFO(mode)) return Kind::Fifo;
  if (S_ISSOCK(mode)) return Kind::Socket;
  return std::nullopt;
}

// The content type GIO gives a file of a kind that has no contents to look at.
const char* specialFileType(FileFacts::Kind kind) {
  switch (kind) {
    case FileFacts::Kind::Directory:
      return "inode/directory";
    case FileFacts::Kind::CharDevice:
      return "inode/chardevice";
    case FileFacts::Kind::BlockDevice:
      return "inode/blockdevice";
    case FileFacts::Kind::Fifo:
      return "inode/fifo";
    case FileFacts::Kind::Socket:
      return "inode/socket";
    case FileFacts::Kind::Regular:
      break;
  }
  return nullptr;
}

// Up to kSniffBytes of the regular file behind `handle`, an O_PATH descriptor. The file is
// opened again through /proc/self/fd, which reaches the very inode that was examined: a file
// swapped for a FIFO after the examination is never opened. Empty when it cannot be read.
std::string firstBytes(const FileDescriptor& handle) {
  std::string self = "/proc/self/fd/" + std::to_string(handle.get());
  FileDescriptor file(::open(self.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!file) return {};
  std::string bytes(kSniffBytes, '\0');
  size_t filled = 0;
  while (filled < bytes.size()) {
    ssize_t n = ::read(file.get(), bytes.data() + filled, bytes.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    filled += static_cast<size_t>(n);
  }
  bytes.resize(filled);
  return bytes;
}

std::vector<std::string> themedNames(const std::string& contentType) {
  std::vector<std::string> names;
  IconPtr icon(g_content_type_get_icon(contentType.c_str()));
  if (icon && G_IS_THEMED_ICON(icon.get())) {
    for (const gchar* const* name = g_themed_icon_get_names(G_THEMED_ICON(icon.get())); name && *name; ++name)
      names.emplace_back(*name);
  }
  return names;
}

}  // namespace

std::optional<FileFacts> examineFile(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return std::nullopt;
  // O_PATH examines the file without opening it for reading or writing.
  FileDescriptor handle(::open(path.c_str(), O_PATH | O_CLOEXEC));
  if (!handle) return std::nullopt;
  struct stat info;
  if (::fstat(handle.get(), &info) != 0) return std::nullopt;
  std::optional<FileFacts::Kind> kind = kindOf(info.st_mode);
  if (!kind) return std::nullopt;
  FileFacts facts;
  facts.kind = *kind;
  std::string_view trimmed(path);
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.remove_suffix(1);
  facts.name = std::string(trimmed.substr(trimmed.find_last_of('/') + 1));
  if (facts.kind == FileFacts::Kind::Regular && info.st_size > 0) facts.firstBytes = firstBytes(handle);
  facts.device = info.st_dev;
  facts.inode = info.st_ino;
  return facts;
}

FileIcon iconOf(const FileFacts& facts) {
  FileIcon icon;
  if (const char* special = specialFileType(facts.kind)) {
    icon.contentType = special;
  } else {
    std::unique_ptr<gchar, GFree> type(g_content_type_guess(facts.name.c_str(),
                                                            reinterpret_cast<const guchar*>(facts.firstBytes.data()),
                                                            facts.firstBytes.size(), nullptr));
    icon.contentType = type.get();
  }
  if (facts.kind == FileFacts::Kind::Directory) icon.names.push_back("folder");
  for (std::string& name : themedNames(icon.contentType))
    if (std::find(icon.names.begin(), icon.names.end(), name) == icon.names.end()) icon.names.push_back(std::move(name));
  // A type the theme has no picture for (a FIFO, a socket, a type of its own) still shows
  // the picture of a file, as file managers do.
  icon.names.push_back("application-x-generic");
  return icon;
}

std::string base64(const std::string& bytes) {
  std::unique_ptr<gchar, GFree> text(g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size()));
  return text.get();
}

}  // namespace wren::platform

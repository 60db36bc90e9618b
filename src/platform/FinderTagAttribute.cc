#include "platform/FinderTagAttribute.h"

#include <errno.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <array>
#include <memory>
#include <string_view>

#include "platform/PropertyList.h"
#include "platform/files/FileError.h"

namespace wren::platform {

namespace {

using Strings = std::vector<std::string>;

// A path holding NUL would name a different file at the system call, which stops at the
// first NUL: no file has such a name.
void refuseNul(const char* call, const std::string& path) {
  if (path.find('\0') != std::string::npos) throw FileError(call, path, ENOENT);
}

// Linux keeps user attributes on files and folders only; on anything else (a FIFO, a
// device) the kernel answers EPERM, which would read as the person's permissions refusing.
bool cannotCarryTags(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}

// The strings of an attribute's value; none when it holds anything but a list of strings.
Strings tagStrings(const char* bytes, ssize_t size) {
  return stringArrayFromPropertyList(std::string_view(bytes, static_cast<std::size_t>(size))).value_or(Strings{});
}

}  // namespace

std::vector<std::string> readTagStrings(const std::string& path) {
  refuseNul("getxattr", path);
  // A tag list takes a few hundred bytes; a larger attribute is read again into a buffer as
  // large as any attribute can be. Each call reads the whole value, so another program
  // changing it meanwhile cannot leave a mix of old and new bytes.
  std::array<char, 4096> small;
  ssize_t size = getxattr(path.c_str(), kTagAttributeName, small.data(), small.size());
  if (size >= 0) return tagStrings(small.data(), size);
  if (errno == ERANGE) {
    auto large = std::make_unique_for_overwrite<char[]>(kMaxPropertyListBytes);
    size = getxattr(path.c_str(), kTagAttributeName, large.get(), kMaxPropertyListBytes);
    if (size >= 0) return tagStrings(large.get(), size);
  }
  int error = errno;
  // Absent, or larger than any tag list: no tags either way.
  if (error == ENODATA || error == ERANGE || error == E2BIG) return {};
  throw FileError("getxattr", path, error);
}

void writeTagStrings(const std::string& path, const std::vector<std::string>& strings) {
  if (strings.empty()) {
    refuseNul("removexattr", path);
    if (removexattr(path.c_str(), kTagAttributeName) == 0) return;
    int error = errno;
    // Nothing to remove: no attribute, or a kind of file that cannot have one.
    if (error == ENODATA || (error == EPERM && cannotCarryTags(path))) return;
    throw FileError("removexattr", path, error);
  }
  refuseNul("setxattr", path);
  std::string bytes = binaryPropertyListOfStrings(strings);
  if (setxattr(path.c_str(), kTagAttributeName, bytes.data(), bytes.size(), 0) == 0) return;
  int error = errno;
  if (error == EPERM && cannotCarryTags(path)) error = ENOTSUP;
  throw FileError("setxattr", path, error);
}

}  // namespace wren::platform

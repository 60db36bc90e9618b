#include "platform/FinderTagAttribute.h"

#include <errno.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include "platform/FileCallError.h"
#include "platform/PropertyList.h"

namespace wren::platform {

namespace {

// A path holding NUL would name a different file at the system call, which stops at the
// first NUL: no file has such a name.
void refuseNul(const char* call, const std::string& path) {
  if (path.find('\0') != std::string::npos) throw FileCallError(call, path, ENOENT);
}

// Linux keeps user attributes on files and folders only; on anything else (a FIFO, a
// device) the kernel answers EPERM, which would read as the person's permissions refusing.
bool cannotCarryTags(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}

}  // namespace

std::vector<std::string> readTagStrings(const std::string& path) {
  refuseNul("getxattr", path);
  // One read into a buffer as large as any attribute can be, instead of asking for the
  // size first: another program may change the attribute between the two calls.
  std::string bytes(kMaxPropertyListBytes, '\0');
  ssize_t size = getxattr(path.c_str(), kTagAttributeName, bytes.data(), bytes.size());
  if (size < 0) {
    int error = errno;
    // Absent, or larger than any tag list: no tags either way.
    if (error == ENODATA || error == ERANGE || error == E2BIG) return {};
    throw FileCallError("getxattr", path, error);
  }
  bytes.resize(static_cast<std::size_t>(size));
  return stringArrayFromPropertyList(bytes).value_or(std::vector<std::string>{});
}

void writeTagStrings(const std::string& path, const std::vector<std::string>& strings) {
  if (strings.empty()) {
    refuseNul("removexattr", path);
    if (removexattr(path.c_str(), kTagAttributeName) == 0) return;
    int error = errno;
    // Nothing to remove: no attribute, or a kind of file that cannot have one.
    if (error == ENODATA || (error == EPERM && cannotCarryTags(path))) return;
    throw FileCallError("removexattr", path, error);
  }
  refuseNul("setxattr", path);
  std::string bytes = binaryPropertyListOfStrings(strings);
  if (setxattr(path.c_str(), kTagAttributeName, bytes.data(), bytes.size(), 0) == 0) return;
  int error = errno;
  if (error == EPERM && cannotCarryTags(path)) error = ENOTSUP;
  throw FileCallError("setxattr", path, error);
}

}  // namespace wren::platform

#include "platform/files/FileError.h"

#include <errno.h>
#include <string.h>

#include <utility>

namespace wren::platform {

FileError::FileError(std::string call, std::filesystem::path path, int error)
    : std::runtime_error(call + "(" + path.string() + "): " + describe(error)),
      call_(std::move(call)),
      path_(std::move(path)),
      error_(error) {}

FileError::FileError(std::string call, std::filesystem::path path, int error, const std::string& message)
    : std::runtime_error(message), call_(std::move(call)), path_(std::move(path)), error_(error) {}

std::string FileError::describe(int error) {
  char buffer[256];
  return strerror_r(error, buffer, sizeof buffer);
}

namespace {

std::string changeMessage(const std::filesystem::path& path, FileChangedError::Change change) {
  if (change == FileChangedError::Change::Removed)
    return "open(" + path.string() + "): the file was removed since it was read";
  return "the file " + path.string() + " changed on disk since it was read (another program edited it); read it again";
}

}  // namespace

FileChangedError::FileChangedError(std::filesystem::path path, Change change)
    : FileError(change == Change::Removed ? "open" : "renameat2", path, change == Change::Removed ? ENOENT : ESTALE,
                changeMessage(path, change)),
      change_(change) {}

}  // namespace wren::platform

#include "platform/files/FileError.h"

#include <string.h>

#include <utility>

namespace wren::platform {

FileError::FileError(std::string call, std::filesystem::path path, int error)
    : std::runtime_error(call + "(" + path.string() + "): " + describe(error)),
      call_(std::move(call)),
      path_(std::move(path)),
      error_(error) {}

std::string FileError::describe(int error) {
  char buffer[256];
  return strerror_r(error, buffer, sizeof buffer);
}

}  // namespace wren::platform

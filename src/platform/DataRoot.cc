#include "platform/DataRoot.h"

#include <stdlib.h>

#include <string>

namespace wren::platform {

namespace {

// An unset variable and an empty one mean the same: the XDG base directory rules treat an
// empty value as if it were not there.
std::string environment(const char* name) {
  const char* value = getenv(name);
  return value ? value : "";
}

}  // namespace

std::filesystem::path dataRoot() {
  std::string dataHome = environment("XDG_DATA_HOME");
  if (!dataHome.empty()) return std::filesystem::path(dataHome) / "wren";
  return std::filesystem::path(environment("HOME")) / ".local/share/wren";
}

}  // namespace wren::platform

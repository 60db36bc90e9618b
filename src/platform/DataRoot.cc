#include "platform/DataRoot.h"

#include <stdlib.h>

#include <string>

namespace wren::platform {

namespace {

std::string environment(const char* name) {
  const char* value = getenv(name);
  return value ? value : "";
}

}  // namespace

std::filesystem::path dataHome() {
  // The XDG rules treat an empty value as unset and a relative one as invalid, to be
  // ignored: a relative path would name a different folder in every working directory.
  std::filesystem::path configured = environment("XDG_DATA_HOME");
  if (configured.is_absolute()) return configured;
  return std::filesystem::path(environment("HOME")) / ".local/share";
}

std::filesystem::path dataRoot() { return dataHome() / "wren"; }

}  // namespace wren::platform

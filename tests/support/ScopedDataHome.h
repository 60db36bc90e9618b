#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

#include "platform/EnvironmentVariable.h"

namespace wren::platform {

// For tests: points XDG_DATA_HOME at a fresh temporary folder for the guard's lifetime, so
// that the stores and privacy decisions read there instead of the person's own, then
// restores the previous setting and removes the folder. The environment is process-wide,
// so a guard must not be used while other threads read it.
class ScopedDataHome {
 public:
  ScopedDataHome() : home_(makeTemporaryFolder()), dataHome_("XDG_DATA_HOME", home_.string()) {
    std::filesystem::create_directories(root());
  }

  ~ScopedDataHome() {
    std::error_code ignored;
    std::filesystem::remove_all(home_, ignored);
  }

  // The data root the helper reads: $XDG_DATA_HOME/wren.
  std::filesystem::path root() const { return home_ / "wren"; }
  const std::filesystem::path& home() const { return home_; }

  // Writes a file below the data root, making its folders.
  std::filesystem::path write(const std::filesystem::path& relative, const std::string& text) const {
    std::filesystem::path path = root() / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

 private:
  static std::filesystem::path makeTemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "wren-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp(" + pattern + ") failed");
    return pattern;
  }

  std::filesystem::path home_;
  EnvironmentVariable dataHome_;
};

}  // namespace wren::platform

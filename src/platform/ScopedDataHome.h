#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

namespace wren::platform {

// For tests: points XDG_DATA_HOME at a fresh temporary folder for the guard's lifetime, so
// that the stores and privacy decisions read there instead of the person's own, then
// restores the previous setting and removes the folder. The environment is process-wide,
// so a guard must not be used while other threads read it.
class ScopedDataHome {
 public:
  ScopedDataHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "wren-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp(" + pattern + ") failed");
    home_ = pattern;
    if (const char* old = getenv("XDG_DATA_HOME")) previous_ = old;
    setenv("XDG_DATA_HOME", home_.c_str(), 1);
    std::filesystem::create_directories(root());
  }

  ScopedDataHome(const ScopedDataHome&) = delete;
  ScopedDataHome& operator=(const ScopedDataHome&) = delete;

  ~ScopedDataHome() {
    if (previous_) {
      setenv("XDG_DATA_HOME", previous_->c_str(), 1);
    } else {
      unsetenv("XDG_DATA_HOME");
    }
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
  std::filesystem::path home_;
  std::optional<std::string> previous_;
};

}  // namespace wren::platform

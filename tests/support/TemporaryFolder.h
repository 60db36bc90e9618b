#pragma once

// A fresh folder under the system's temporary folder, removed with everything in it when
// the guard ends. Tests only.
//
//   TemporaryFolder sysfs("wren-sysfs");
//   sysfs.write("class/power_supply/BAT0/capacity", "87\n");

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace wren::testing {

class TemporaryFolder {
 public:
  explicit TemporaryFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp(" + pattern + ") failed");
    path_ = pattern;
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

  // Writes a file below the folder, making its folders; returns its path.
  std::filesystem::path write(const std::filesystem::path& relative, const std::string& text) const {
    std::filesystem::path file = path_ / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
    return file;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace wren::testing

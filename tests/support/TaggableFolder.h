#pragma once

// A temporary folder on a file system that keeps user extended attributes, where tag tests
// put their files, and an independent reader and writer of the tag attribute (Python's
// plistlib) to check them against. Tests only.
//
//   TaggableFolder folder;
//   if (!folder.usable()) GTEST_SKIP() << folder.skipReason();
//   std::filesystem::path file = folder.file("report.pdf");
//   Json written = pythonTagAttribute(file);   // {"format": "binary", "strings": [...]}

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <sys/xattr.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "base/Json.h"

namespace wren::testing {

class TaggableFolder {
 public:
  // Tries the system's temporary folder first, then the folder the tests run in (the build
  // folder), since /tmp may be a tmpfs without user attributes.
  TaggableFolder() {
    std::error_code ignored;
    for (const std::filesystem::path& parent :
         {std::filesystem::temp_directory_path(ignored), std::filesystem::current_path(ignored)}) {
      if (parent.empty()) continue;
      std::string pattern = (parent / "wren-tags-XXXXXX").string();
      if (!mkdtemp(pattern.data())) continue;
      std::filesystem::path candidate = pattern;
      std::filesystem::path probe = candidate / ".probe";
      std::ofstream(probe).put('x');
      bool keeps = setxattr(probe.c_str(), "user.wren-probe", "1", 1, 0) == 0;
      std::filesystem::remove(probe, ignored);
      if (keeps) {
        path_ = candidate;
        return;
      }
      std::filesystem::remove_all(candidate, ignored);
    }
  }
  ~TaggableFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TaggableFolder(const TaggableFolder&) = delete;
  TaggableFolder& operator=(const TaggableFolder&) = delete;

  bool usable() const { return !path_.empty(); }
  static const char* skipReason() {
    return "no file system with user extended attributes: neither the temporary folder nor the build folder keeps them";
  }
  const std::filesystem::path& path() const { return path_; }

  // A new file in the folder with the given contents.
  std::filesystem::path file(const std::string& name, const std::string& contents = "") const {
    std::filesystem::path created = path_ / name;
    std::ofstream(created, std::ios::binary) << contents;
    return created;
  }

 private:
  std::filesystem::path path_;
};

namespace python {

inline std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs a Python program with arguments and returns what it printed; empty on failure.
inline std::string run(const std::string& program, const std::vector<std::string>& arguments) {
  std::string line = "python3 -c " + quoted(program);
  for (const std::string& argument : arguments) line += " " + quoted(argument);
  FILE* pipe = popen(line.c_str(), "r");
  if (!pipe) return "";
  std::string out;
  char buffer[4096];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  int status = pclose(pipe);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? out : "";
}

}  // namespace python

inline constexpr const char* kTagAttribute = "user.com.apple.metadata:_kMDItemUserTags";

// The tag attribute of the file as Python's plistlib reads it: {"format": "binary" or
// "xml", "strings": the root array}, {"absent": true} without an attribute, or null when
// Python failed (the attribute is no property list).
inline Json pythonTagAttribute(const std::filesystem::path& file) {
  std::string out = python::run(
      "import json, os, plistlib, sys\n"
      "try:\n"
      "    data = os.getxattr(sys.argv[1], sys.argv[2])\n"
      "except OSError:\n"
      "    print(json.dumps({'absent': True})); sys.exit(0)\n"
      "fmt = 'binary' if data.startswith(b'bplist00') else 'xml'\n"
      "print(json.dumps({'format': fmt, 'strings': plistlib.loads(data)}))\n",
      {file.string(), kTagAttribute});
  return out.empty() ? Json() : Json::parse(out);
}

// Writes the strings as the tag attribute with plistlib, in its binary or XML format, as
// another program would.
inline bool pythonWriteTagAttribute(const std::filesystem::path& file, const std::vector<std::string>& strings,
                                    const std::string& format) {
  std::string out = python::run(
      "import json, os, plistlib, sys\n"
      "fmt = plistlib.FMT_BINARY if sys.argv[3] == 'binary' else plistlib.FMT_XML\n"
      "os.setxattr(sys.argv[1], sys.argv[2], plistlib.dumps(json.loads(sys.argv[4]), fmt=fmt))\n"
      "print('ok')\n",
      {file.string(), kTagAttribute, format, Json(strings).dump()});
  return out == "ok\n";
}

}  // namespace wren::testing

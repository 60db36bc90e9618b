#include "platform/SystemInfo.h"

#include <sys/utsname.h>

#include <map>
#include <sstream>

#include "platform/files/AtomicFile.h"

namespace wren::platform {

namespace {

// os-release(5): the file in /etc takes precedence over the vendor's copy.
constexpr const char* kOsReleasePaths[] = {"/etc/os-release", "/usr/lib/os-release"};

// A value as the shell would read it: quotes removed, backslash escapes resolved inside
// double quotes, single-quoted text taken literally.
std::string unquote(std::string_view raw) {
  std::string value;
  char quote = 0;
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (quote == 0 && (c == '"' || c == '\'')) {
      quote = c;
    } else if (c == quote) {
      quote = 0;
    } else if (c == '\\' && quote != '\'' && i + 1 < raw.size()) {
      value += raw[++i];
    } else {
      value += c;
    }
  }
  return value;
}

std::map<std::string, std::string> assignments(std::string_view text) {
  std::map<std::string, std::string> values;
  std::istringstream lines{std::string(text)};
  std::string line;
  while (std::getline(lines, line)) {
    size_t equals = line.find('=');
    if (line.empty() || line[0] == '#' || equals == std::string::npos) continue;
    values[line.substr(0, equals)] = unquote(std::string_view(line).substr(equals + 1));
  }
  return values;
}

std::optional<std::string> readOsName() {
  for (const char* path : kOsReleasePaths) {
    std::optional<std::string> text = readFileIfPresent(path);
    if (!text) continue;
    if (auto name = osNameFromOsRelease(*text)) return name;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> osNameFromOsRelease(std::string_view text) {
  std::map<std::string, std::string> values = assignments(text);
  auto pretty = values.find("PRETTY_NAME");
  if (pretty != values.end() && !pretty->second.empty()) return pretty->second;
  std::string name = values.count("NAME") ? values["NAME"] : "";
  std::string version = values.count("VERSION") ? values["VERSION"] : "";
  if (name.empty()) return std::nullopt;
  return version.empty() ? name : name + " " + version;
}

std::string osVersionText() {
  utsname system{};
  bool haveUname = uname(&system) == 0;
  std::string name = readOsName().value_or(haveUname ? system.sysname : "Linux");
  if (!haveUname) return name;
  return name + " (kernel " + system.release + ")";
}

}  // namespace wren::platform

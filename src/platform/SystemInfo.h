#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace wren::platform {

// The operating system's name and version and the kernel release, as this machine reports
// them: "Debian GNU/Linux 12 (bookworm) (kernel 6.1.0-18-amd64)".
std::string osVersionText();

// The display name in the text of an os-release file: PRETTY_NAME, else NAME and VERSION
// joined by a space; nothing when the text names neither. Values may be quoted, with
// backslash escapes inside double quotes, as os-release(5) allows.
std::optional<std::string> osNameFromOsRelease(std::string_view text);

}  // namespace wren::platform

#pragma once

#include <filesystem>

namespace wren::platform {

// The folder of the person's data: $XDG_DATA_HOME/wren, else $HOME/.local/share/wren.
std::filesystem::path dataRoot();

}  // namespace wren::platform

#pragma once

#include <filesystem>

namespace wren::platform {

// The person's data home as the XDG base directory rules define it: $XDG_DATA_HOME when it
// is an absolute path, else $HOME/.local/share. The trash lives there too.
std::filesystem::path dataHome();

// The folder of the person's data: the data home's `wren`.
std::filesystem::path dataRoot();

}  // namespace wren::platform

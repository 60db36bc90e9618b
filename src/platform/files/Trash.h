#pragma once

#include <ctime>
#include <filesystem>
#include <string>

namespace wren::platform {

// The person's trash as desktops share it (the freedesktop Trash specification): a folder
// `Trash` in the data home (see DataRoot.h) whose `files/` holds what was thrown away and
// whose `info/` holds, for each of them, a `<name>.trashinfo` record of where it came from
// and when. File managers list and restore from there.

// The trash folder of the current data home.
std::filesystem::path trashFolder();

// Moves a file or folder into the trash under a free name and returns its new path. The
// move is one rename(2): a path on another file system than the trash fails with
// FileError instead of being copied, and a failure leaves the path where it was.
std::filesystem::path moveToTrash(const std::filesystem::path& path);

// The text of the record for an item that was at `originalPath` (absolute) and was
// thrown away at `deletion`, in local time.
std::string trashInfoText(const std::filesystem::path& originalPath, std::time_t deletion);

}  // namespace wren::platform

#pragma once

#include <memory>

#include "app/Params.h"
#include "app/Reply.h"
#include "platform/FileIcons.h"

namespace wren {

inline constexpr int kDefaultIconSize = 96;
inline constexpr int kMinIconSize = 16;
inline constexpr int kMaxIconSize = 512;

// The edge length of the icons of a request: `size` clamped to kMinIconSize..kMaxIconSize,
// kDefaultIconSize without one.
int iconPixelSize(const Params& params);

// icons.files: answers `reply` with `icons`, one entry ({"path", "mimeType", "data"}) per path
// of `paths` that names a file or folder whose icon could be drawn, in request order. The
// files are examined on the calling thread; their types are found on the main queue a few
// hundred at a time and their icons drawn there one per piece of work, so other main-queue
// work runs in between. Each distinct icon is drawn once per request however many files
// share it. Never fails: a path whose icon could not be drawn is left out.
void iconsFiles(const Params& params, Reply reply, std::shared_ptr<platform::IconTheme> theme);

}  // namespace wren

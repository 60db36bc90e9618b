#pragma once

#include <string>
#include <string_view>

namespace wren::platform::vdir {

// A fresh random name for a new folder or file (a version 4 UUID in lower case).
std::string freshName();

// The id of the item stored in `fileName` of a collection: the first 32 hex digits of the
// SHA-256 of "<salt>:<collection id>/<file name>", the salt naming the kind of item
// ("event", "reminder"). The id stays the same across runs while the file stays where it
// is; it is never a path, holds neither "@" nor "/", and items of two kinds never share one.
std::string itemIdFor(std::string_view salt, std::string_view collectionId, std::string_view fileName);

}  // namespace wren::platform::vdir

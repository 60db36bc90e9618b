#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "app/HelperError.h"
#include "app/Json.h"
#include "app/Params.h"

namespace wren {

// Finder's tag colours by label number: a tag stored as "Urgent\n6" is red.
inline constexpr std::array<std::string_view, 8> kTagColors = {"none", "gray",   "green", "purple",
                                                               "blue", "yellow", "red",   "orange"};

// The file's tags as tag entries ({"name", "color"}), in stored order. A file without tags
// (or whose tag attribute holds anything but a list of tags) has none. Throws the
// HelperError of posixMessage when the file cannot be asked.
//
//   readFinderTags("/home/ann/report.pdf");   // [{"name":"Work","color":"none"}, {"name":"Urgent","color":"red"}]
Json readFinderTags(const std::string& path);

// Replaces the file's tags with the tag maps ({"name", "color"}); no tags removes the
// attribute. Every tag is checked before anything is written: a name is required and is
// trimmed, may hold no line feed (it separates the colour) and no NUL, and the colour must
// be one of kTagColors (absent means none).
void writeFinderTags(const std::string& path, const std::vector<Json>& tags);

// The failure for a file call that set `error` on `path`: the person's file permissions
// refusing (EPERM, EACCES), a missing file (ENOENT, invalid_args), or the system's text.
HelperError posixMessage(int error, const std::string& path);

// files.tags.get: `paths` (a list, or one path) to `results`, one entry per path with its
// `tags` or its `error`.
Json filesTagsGet(const Params& params);

// files.tags.set: replaces the tags of `path` with `tags` and answers with what the file
// holds afterwards.
Json filesTagsSet(const Params& params);

}  // namespace wren

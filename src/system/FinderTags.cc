#include "system/FinderTags.h"

#include <errno.h>

#include <charconv>
#include <optional>

#include "platform/files/FileError.h"
#include "platform/FinderTagAttribute.h"
#include "platform/Text.h"

namespace wren {

namespace {

// The colour number after a tag's line feed: a whole decimal number with an optional
// sign; anything else counts as no colour.
int64_t colorIndex(std::string_view text) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  int64_t index = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), index);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return 0;
  return index;
}

Json tagEntry(std::string_view stored) {
  std::size_t feed = stored.find('\n');
  std::string_view name = stored.substr(0, feed);
  int64_t index = feed == std::string_view::npos ? 0 : colorIndex(stored.substr(feed + 1));
  std::string_view color = index >= 0 && index < static_cast<int64_t>(kTagColors.size()) ? kTagColors[index] : "none";
  return Json{{"name", std::string(name)}, {"color", std::string(color)}};
}

std::string colorList() {
  std::string list;
  for (std::string_view color : kTagColors) list += (list.empty() ? "" : ", ") + std::string(color);
  return list;
}

// The stored form of one tag map: the name, then a line feed and the colour number
// unless the colour is none.
std::string storedTag(const Json& tag) {
  auto name = tag.find("name");
  std::string trimmed =
      name != tag.end() && name->is_string() ? platform::trimWhitespace(name->get<std::string>()) : "";
  if (trimmed.empty()) throwInvalidArgs("every tag needs a name");
  if (trimmed.find('\n') != std::string::npos) throwInvalidArgs("tag names cannot contain line breaks");
  // The attribute's strings end at a NUL: the name would be cut short without a word.
  if (trimmed.find('\0') != std::string::npos) throwInvalidArgs("tag names cannot contain NUL characters");
  auto colorValue = tag.find("color");
  std::string color = colorValue != tag.end() && colorValue->is_string() ? colorValue->get<std::string>() : "none";
  std::size_t index = 0;
  while (index < kTagColors.size() && kTagColors[index] != color) ++index;
  if (index == kTagColors.size()) throwInvalidArgs("unknown tag color " + color + "; use one of " + colorList());
  return index == 0 ? trimmed : trimmed + "\n" + std::to_string(index);
}

}  // namespace

HelperError posixMessage(int error, const std::string& path) {
  switch (error) {
    // Both are the person's file permissions refusing; Linux says EACCES where macOS's
    // privacy protection says EPERM.
    case EPERM:
    case EACCES:
      return HelperError(
          ErrorCode::ExecutionFailed,
          "macOS did not let Wren read " + path + " (Privacy & Security → Files and Folders / Full Disk Access)");
    case ENOENT:
      return HelperError(ErrorCode::InvalidArgs, "not found: " + path);
    default:
      return HelperError(ErrorCode::ExecutionFailed, path + ": " + platform::FileError::describe(error));
  }
}

Json readFinderTags(const std::string& path) {
  std::vector<std::string> stored;
  try {
    stored = platform::readTagStrings(path);
  } catch (const platform::FileError& failure) {
    throw posixMessage(failure.error(), path);
  }
  Json tags = Json::array();
  for (const std::string& text : stored) tags.push_back(tagEntry(text));
  return tags;
}

void writeFinderTags(const std::string& path, const std::vector<Json>& tags) {
  std::vector<std::string> stored;
  stored.reserve(tags.size());
  for (const Json& tag : tags) stored.push_back(storedTag(tag));
  try {
    platform::writeTagStrings(path, stored);
  } catch (const platform::FileError& failure) {
    throw posixMessage(failure.error(), path);
  }
}

Json filesTagsGet(const Params& params) {
  std::optional<std::vector<std::string>> paths = params.strings("paths");
  if (!paths || paths->empty()) throwInvalidArgs("paths is required");
  Json results = Json::array();
  for (const std::string& path : *paths) {
    try {
      results.push_back(Json{{"path", path}, {"tags", readFinderTags(path)}});
    } catch (const HelperError& failure) {
      results.push_back(Json{{"path", path}, {"error", failure.message()}});
    } catch (const std::exception& failure) {
      results.push_back(Json{{"path", path}, {"error", failure.what()}});
    }
  }
  return Json{{"results", std::move(results)}};
}

Json filesTagsSet(const Params& params) {
  std::string path = params.requireString("path");
  const Json* raw = params.find("tags");
  if (!raw || !raw->is_array()) throwInvalidArgs("tags is required (an empty list removes all tags)");
  std::vector<Json> tags;
  for (const Json& element : *raw)
    if (element.is_object()) tags.push_back(element);
  writeFinderTags(path, tags);
  // What the file holds now, which is also what another program may have written since.
  return Json{{"path", path}, {"tags", readFinderTags(path)}};
}

}  // namespace wren

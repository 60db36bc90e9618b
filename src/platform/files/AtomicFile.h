#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files/RegularFile.h"

namespace wren::platform {

// Whole-file reads and writes for the stores and the helper's other files. A write never leaves a half-written file
// behind: the text goes to a hidden temporary file in the same folder, is flushed to disk,
// and is then renamed into place, so that a reader sees either the old or the new file.
//
//   writeFileAtomically(folder / "displayname", "Work", Existing::Replace);
//
// Every failure throws FileError naming the failing call and path.

enum class Existing {
  Replace,  // the new file takes the place of one that is there
  Refuse,   // fail with EEXIST when a file of that name is there
};

void writeFileAtomically(const std::filesystem::path& path, std::string_view text, Existing existing);

// The whole file, read as RegularFile.h reads files (a metadata file unless told otherwise);
// throws FileError when it cannot be opened or read, or is larger than `maxBytes` (EFBIG).
std::string readWholeFile(const std::filesystem::path& path, std::size_t maxBytes = kMetadataFileBytes);
// The same, or nothing when the file cannot be read (a missing file is the usual case).
std::optional<std::string> readFileIfPresent(const std::filesystem::path& path,
                                             std::size_t maxBytes = kMetadataFileBytes);

// Flushes a folder's entries (a rename or a new file in it) to disk.
void syncFolder(const std::filesystem::path& folder);

// Renames without replacing what is at `to`; throws FileError (EEXIST when taken).
void renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

// Makes the folder `target` whole or not at all: `fill` fills a hidden folder beside it,
// which is then renamed into place without replacing anything (EEXIST when the name is
// taken), so that no reader ever sees it half made. On any failure the hidden folder is
// removed again and the error passes through.
void publishFolder(const std::filesystem::path& target,
                   const std::function<void(const std::filesystem::path& staging)>& fill);

// Makes the folder and its missing parents; throws FileError when it cannot.
void makeFolders(const std::filesystem::path& folder);

// True when something (a dangling symbolic link included) has that name.
bool isPresent(const std::filesystem::path& path);

}  // namespace wren::platform

#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files/FileStamp.h"
#include "platform/files/RegularFile.h"

namespace wren::platform {

// Whole-file reads and writes for the stores and the helper's other files. A write never
// leaves a half-written file behind: the text goes to a temporary file in the same folder,
// is flushed to disk, and then takes the place of the old file in one step, so that a reader
// sees either the old or the new file. A write over a file that was read before never
// unlinks a version it did not read:
//
//   std::optional<FileVersion> read = readFileVersion(folder / "displayname", kMetadataFileBytes);
//   ...                                                      // another program may write now
//   replaceFileIfUnchanged(folder / "displayname", "Work", read);  // FileChangedError if it did
//   writeFileAtomically(folder / "color", "#FF9500", Existing::Refuse);  // a new file
//
// Every failure throws FileError naming the failing call and path.

enum class Existing {
  Replace,  // the new file takes the place of one that is there
  Refuse,   // fail with EEXIST when a file of that name is there
};

void writeFileAtomically(const std::filesystem::path& path, std::string_view text, Existing existing);

// Replaces the file at the path by the text, provided that what is there is still the
// version `expected` names: the same file (inode) with the same stamp and the same text.
// Nothing expected means that no file may be there. The new file is exchanged with the old
// one atomically (renameat2 with RENAME_EXCHANGE); the version swapped out is then checked,
// and when it is not the expected one it is swapped back and FileChangedError is thrown. On
// file systems without the exchange the old file is renamed aside, checked, and either
// replaced or put back; the path is empty meanwhile. Gives the stamp of the new file.
FileStamp replaceFileIfUnchanged(const std::filesystem::path& path, std::string_view text,
                                 const std::optional<FileVersion>& expected);

// Removes the file provided that it is still `expected` (as above); FileChangedError
// otherwise, with the file left where it is.
void removeFileIfUnchanged(const std::filesystem::path& path, const FileVersion& expected);

// Writes name their temporary files ".wren-tmp-XXXXXX" (six random characters) and hold a
// lock on them while they write. A write killed halfway leaves its file behind; whoever lists
// the folder next removes those older than this that no write holds, and never takes them
// for anything else.
inline constexpr std::chrono::seconds kStaleTemporaryAge{60};
bool isTemporaryFileName(std::string_view name);
// Removes the stale ones among these temporary files of the folder (names as listed).
void removeStaleTemporaryFiles(const std::filesystem::path& folder, const std::vector<std::string>& names);

// For tests only: while an object lives, every replacement or removal of an existing file
// calls `beforeSwap(path)` after the new file is complete and just before the old one leaves
// its place, the moment at which another program's write is the hardest to notice.
// Exchange::Unavailable makes replacements take the way of file systems without
// RENAME_EXCHANGE.
class ReplaceHookForTesting {
 public:
  enum class Exchange { Use, Unavailable };
  explicit ReplaceHookForTesting(std::function<void(const std::filesystem::path&)> beforeSwap,
                                 Exchange exchange = Exchange::Use);
  ~ReplaceHookForTesting();
  ReplaceHookForTesting(const ReplaceHookForTesting&) = delete;
  ReplaceHookForTesting& operator=(const ReplaceHookForTesting&) = delete;
};

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

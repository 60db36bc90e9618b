#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>

#include "platform/files/FileDescriptor.h"

namespace wren::platform {

// The one way the helper reads a file, whatever its path turns out to name: a missing file,
// a folder, a FIFO that nobody writes to, a device that never ends (/dev/zero), or a file far
// larger than anything its kind holds. Only regular files are read (symbolic links are
// followed), opening never waits for the writer of a FIFO, and no read goes past a cap
// chosen for the kind of file:
//
//   std::optional<std::string> title = readRegularFile(folder / "displayname", kMetadataFileBytes);
//   auto read = readRegular(path, kItemFileBytes);     // text and stat, or the failing call
//   FileDescriptor pdf = openRegularFile(path);        // for a library that reads it itself

// Metadata files (displayname, color, store.json, source.json, calendar.json, privacy.json)
// hold a title, a colour or a few keys: a few hundred bytes. The cap leaves room for long
// lists of account addresses and for keys other programs add.
inline constexpr std::size_t kMetadataFileBytes = 16 * 1024;

// Item files (.ics, .vcf) hold one event, reminder or card. The largest that calendar and
// contact programs write carry an inline attachment or a photo and stay well below this;
// a larger file is skipped unread, so that one stray file (a disk image renamed .ics, a
// sparse file of a terabyte) costs nothing.
inline constexpr std::size_t kItemFileBytes = 8 * 1024 * 1024;

// The file opened for reading when it is a regular file; an empty descriptor otherwise, with
// errno set: the open's own error, EISDIR for a folder, ENODEV for a FIFO, device or socket.
FileDescriptor openRegularFile(const std::filesystem::path& path);

// A file's bytes with the stat(2) information of the version they were read from (taken from
// the open file, so the two belong together even while another program writes).
struct RegularFileText {
  std::string text;
  struct stat info {};
};

// Why a read failed: the failing call and its errno ("open" for the kinds openRegularFile
// refuses, "read" with EFBIG for a file over its cap).
struct ReadFailure {
  const char* call;
  int error;
};

// What a read does with a file longer than its cap.
enum class Overlong {
  Refuse,  // fails with EFBIG
  Cut,     // gives the first bytes up to the cap
};

std::variant<RegularFileText, ReadFailure> readRegular(const std::filesystem::path& path, std::size_t maxBytes,
                                                       Overlong overlong = Overlong::Refuse);

// The whole file of at most `maxBytes` bytes; nothing on any failure.
std::optional<std::string> readRegularFile(const std::filesystem::path& path, std::size_t maxBytes);

}  // namespace wren::platform

#pragma once

// The icons of files as a Linux file manager shows them: the file's content type as GIO
// sees it (its name, else its first bytes), that type's themed icon in the freedesktop icon
// theme, drawn square at the size asked for and encoded as PNG.
//
//   std::optional<FileFacts> facts = examineFile("/home/ann/report.pdf");  // any thread
//   FileIcon icon = iconOf(*facts);                    // main queue: icon->contentType == "application/pdf"
//   FreedesktopIconTheme theme;                        // made anywhere
//   std::optional<std::string> png = theme.drawPng(icon.names, 96);  // main queue
//
// Examining a file is a few system calls and runs on any thread. Everything that uses GLib's
// type system (content types, themed icons) or GTK, which is not thread-safe, runs on the main
// queue only. GTK needs no display for this, so icons are drawn on machines without one
// (servers, CI) too.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wren::platform {

// The themed icon of one file.
struct FileIcon {
  std::string contentType;         // "application/pdf", "inode/directory", "inode/fifo"
  std::vector<std::string> names;  // icon names to try, best first, generic ones last
};

// What the file system says of a path: its kind, its name and, for regular files, its first
// bytes (at most kSniffBytes), from which GIO tells types apart that names do not settle.
struct FileFacts {
  enum class Kind { Directory, Regular, CharDevice, BlockDevice, Fifo, Socket };
  Kind kind = Kind::Regular;
  std::string name;        // the last component of the path
  std::string firstBytes;  // regular files only; empty when unreadable
  uint64_t device = 0;     // with the inode, tells one file reached by two paths
  uint64_t inode = 0;
};

// As much of a file as GIO's own type sniffing reads.
inline constexpr size_t kSniffBytes = 4096;

// The facts of the file or folder at the path, symbolic links followed; nothing when nothing
// is there (a broken link included) or the path cannot name a file (empty, holding a NUL,
// too long). Only regular files are ever opened: a FIFO, socket or device is recognised by
// its type alone and never opened. System calls only: any thread.
std::optional<FileFacts> examineFile(const std::string& path);

// The file's content type as GIO guesses it from the name and first bytes, and the names of
// its themed icon. Folders get the folder icon. Main queue only.
FileIcon iconOf(const FileFacts& facts);

// Draws themed icons (FreedesktopIconTheme.h: the icon theme through GTK).
class IconTheme {
 public:
  virtual ~IconTheme() = default;
  // The first of the names the theme has, drawn centred into a transparent square of
  // size x size pixels (its aspect kept) and encoded as PNG; nothing when the theme has none
  // of the names or drawing fails. Main queue only.
  virtual std::optional<std::string> drawPng(const std::vector<std::string>& names, int size) = 0;
};

// Standard base64 (RFC 4648) without line breaks.
std::string base64(const std::string& bytes);

}  // namespace wren::platform

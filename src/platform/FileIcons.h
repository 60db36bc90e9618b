#pragma once

// The icons of files as a Linux file manager shows them: the file's content type as GIO
// sees it (its name, else its first bytes), that type's themed icon in the freedesktop icon
// theme, drawn square at the size asked for and encoded as PNG.
//
//   std::optional<FileIcon> icon = fileIcon("/home/ann/report.pdf");  // any thread
//   // icon->contentType == "application/pdf"
//   IconTheme theme;                                                  // made anywhere
//   std::optional<std::string> png = theme.drawPng(icon->names, 96);  // main queue only
//
// Finding a file's icon is a few system calls and runs on any thread. Drawing uses GTK's icon
// theme, which is not thread-safe: an IconTheme is only ever used from the main queue. GTK needs
// no display for this, so icons are drawn on machines without one (servers, CI) too.

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wren::platform {

// The themed icon of one file.
struct FileIcon {
  std::string contentType;         // "application/pdf", "inode/directory", "inode/fifo"
  std::vector<std::string> names;  // icon names to try, best first, generic ones last
};

// The icon of the file or folder at the path, symbolic links followed; nothing when nothing
// is there (a broken link included) or the path cannot name a file (empty, holding a NUL,
// too long). Folders get the folder icon. Only regular files are ever opened, to read their
// first bytes when the name does not settle the type: a FIFO, socket or device is
// recognised by its type alone and never opened.
std::optional<FileIcon> fileIcon(const std::string& path);

// A freedesktop icon theme (Adwaita, with hicolor behind it as every theme has).
class IconTheme {
 public:
  explicit IconTheme(std::string themeName = "Adwaita");
  ~IconTheme();
  IconTheme(const IconTheme&) = delete;
  IconTheme& operator=(const IconTheme&) = delete;

  // The first of the names the theme has, drawn centred into a transparent square of
  // size x size pixels (its aspect kept) and encoded as PNG; nothing when the theme has none
  // of the names or drawing fails. Main queue only.
  std::optional<std::string> drawPng(const std::vector<std::string>& names, int size);

 private:
  struct Gtk;
  std::string themeName_;
  std::unique_ptr<Gtk> gtk_;  // made by the first drawing, on the main queue
};

// Standard base64 (RFC 4648) without line breaks.
std::string base64(const std::string& bytes);

}  // namespace wren::platform

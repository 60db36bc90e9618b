#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileIcons.h"

namespace wren::platform {

// A freedesktop icon theme (Adwaita, with hicolor behind it as every theme has), looked up
// and drawn with GTK and gdk-pixbuf.
//
//   FreedesktopIconTheme theme;                                        // made anywhere
//   std::optional<std::string> png = theme.drawPng({"text-x-generic"}, 96);  // main queue
class FreedesktopIconTheme final : public IconTheme {
 public:
  explicit FreedesktopIconTheme(std::string themeName = "Adwaita");
  ~FreedesktopIconTheme() override;
  FreedesktopIconTheme(const FreedesktopIconTheme&) = delete;
  FreedesktopIconTheme& operator=(const FreedesktopIconTheme&) = delete;

  std::optional<std::string> drawPng(const std::vector<std::string>& names, int size) override;

 private:
  struct Gtk;
  std::string themeName_;
  std::unique_ptr<Gtk> gtk_;  // made by the first drawing, on the main queue
};

}  // namespace wren::platform

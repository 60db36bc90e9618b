#include "platform/FreedesktopIconTheme.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "platform/files/Deleters.h"

namespace wren::platform {

namespace {

using PixbufPtr = std::unique_ptr<GdkPixbuf, GObjectUnref>;
using IconInfoPtr = std::unique_ptr<GtkIconInfo, GObjectUnref>;
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;

}  // namespace

struct FreedesktopIconTheme::Gtk {
  std::unique_ptr<GtkIconTheme, GObjectUnref> theme;
};

FreedesktopIconTheme::FreedesktopIconTheme(std::string themeName) : themeName_(std::move(themeName)) {}

FreedesktopIconTheme::~FreedesktopIconTheme() = default;

std::optional<std::string> FreedesktopIconTheme::drawPng(const std::vector<std::string>& names, int size) {
  if (size <= 0 || names.empty()) return std::nullopt;
  if (!gtk_) {
    // A theme of its own rather than the default one: the default follows the settings of a
    // display, and there may be none.
    gtk_ = std::make_unique<Gtk>();
    gtk_->theme.reset(gtk_icon_theme_new());
    gtk_icon_theme_set_custom_theme(gtk_->theme.get(), themeName_.c_str());
  }
  std::vector<const gchar*> list;
  for (const std::string& name : names) list.push_back(name.c_str());
  list.push_back(nullptr);
  IconInfoPtr info(gtk_icon_theme_choose_icon(gtk_->theme.get(), list.data(), size, GTK_ICON_LOOKUP_FORCE_SIZE));
  if (!info) return std::nullopt;
  GError* rawError = nullptr;
  PixbufPtr loaded(gtk_icon_info_load_icon(info.get(), &rawError));
  ErrorPtr error(rawError);
  if (!loaded) return std::nullopt;
  // Icons come in RGB and RGBA; the square is always RGBA.
  PixbufPtr icon(gdk_pixbuf_add_alpha(loaded.get(), FALSE, 0, 0, 0));
  if (!icon) return std::nullopt;
  int width = gdk_pixbuf_get_width(icon.get());
  int height = gdk_pixbuf_get_height(icon.get());
  if (width <= 0 || height <= 0) return std::nullopt;
  if (width != size || height != size) {
    // Fit the longer side to the square, keep the aspect.
    double scale = static_cast<double>(size) / std::max(width, height);
    int fittedWidth = std::clamp(static_cast<int>(std::lround(width * scale)), 1, size);
    int fittedHeight = std::clamp(static_cast<int>(std::lround(height * scale)), 1, size);
    PixbufPtr fitted(gdk_pixbuf_scale_simple(icon.get(), fittedWidth, fittedHeight, GDK_INTERP_BILINEAR));
    PixbufPtr square(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, size, size));
    if (!fitted || !square) return std::nullopt;
    gdk_pixbuf_fill(square.get(), 0);
    gdk_pixbuf_copy_area(fitted.get(), 0, 0, fittedWidth, fittedHeight, square.get(), (size - fittedWidth) / 2,
                         (size - fittedHeight) / 2);
    icon = std::move(square);
  }
  gchar* buffer = nullptr;
  gsize length = 0;
  if (!gdk_pixbuf_save_to_buffer(icon.get(), &buffer, &length, "png", &rawError, nullptr)) {
    error.reset(rawError);
    return std::nullopt;
  }
  std::unique_ptr<gchar, GFree> png(buffer);
  return std::string(png.get(), length);
}

}  // namespace wren::platform

#pragma once

// The desktop module: the implementations of platform interfaces that need the large desktop
// libraries (Tesseract, leptonica, libwebp, libheif, libexif, Poppler with cairo, GTK with
// gdk-pixbuf, polkit, libsoup), built as a loadable module beside the helper and loaded by the
// first request that needs one of them. A helper that answers only calendar, contacts or
// system requests never maps, relocates or initialises those libraries.
//
//   auto module = std::make_shared<DesktopModule>(DesktopModule::besideExecutable());
//   std::unique_ptr<VisionEngine> engine = lazyVisionEngine(module);  // nothing loaded yet
//   engine->readImage("scan.png");  // loads the module once, makes the engine, reads
//
// The module exports one extern "C" factory per interface, named below; each returns a new
// implementation on the heap. Nothing else crosses the boundary: the module takes the helper's
// own code (the main queue, file reading) from the executable, which exports it.
//
// When the module cannot be loaded, each lazy implementation fails the way its interface
// reports a failing platform, with a text that names what is unavailable and why the module
// did not load; everything else works as before.

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "platform/FileIcons.h"
#include "platform/Geocoder.h"
#include "platform/OwnerAuthority.h"
#include "platform/ocr/VisionEngine.h"

namespace wren::platform {

inline constexpr const char* kDesktopModuleFile = "libwren-desktop.so";

// The factories' names and types.
inline constexpr const char* kVisionEngineFactory = "wren_desktop_vision_engine";
inline constexpr const char* kIconThemeFactory = "wren_desktop_icon_theme";
inline constexpr const char* kOwnerAuthorityFactory = "wren_desktop_owner_authority";
inline constexpr const char* kGeocoderFactory = "wren_desktop_geocoder";
extern "C" {
using VisionEngineFactory = VisionEngine* (*)();
using IconThemeFactory = IconTheme* (*)();
using OwnerAuthorityFactory = OwnerAuthority* (*)();
using GeocoderFactory = Geocoder* (*)();  // the service nominatimUrl() names
}

// The module file, loaded by the first call of symbol() on any thread, once. It stays loaded
// for the life of the process: its libraries keep state and register exit handlers of their
// own.
class DesktopModule {
 public:
  explicit DesktopModule(std::filesystem::path path) : path_(std::move(path)) {}
  DesktopModule(const DesktopModule&) = delete;
  DesktopModule& operator=(const DesktopModule&) = delete;

  // kDesktopModuleFile in the folder of the running executable (/proc/self/exe), where the
  // build puts it and the installation copies it.
  static std::filesystem::path besideExecutable();

  // The exported function of that name; throws std::runtime_error with the loader's own
  // description when the module cannot be loaded or lacks it. Every call after a failed load
  // fails the same way without trying again.
  void* symbol(const char* name);

 private:
  std::filesystem::path path_;
  std::once_flag loaded_;
  void* module_ = nullptr;  // the GModule; never closed
  std::string failure_;
};

// Implementations that load the module and make the real one on their first use, once, on
// whichever thread comes first (several requests may need it at the same moment).
// The vision engine throws RecognitionError "text recognition is unavailable: {why}".
std::unique_ptr<VisionEngine> lazyVisionEngine(std::shared_ptr<DesktopModule> module);
// Draws nothing when the module is unavailable: icons.files leaves out what it cannot draw,
// and says why once on standard error.
std::unique_ptr<IconTheme> lazyIconTheme(std::shared_ptr<DesktopModule> module);
// Answers NoAuthority "owner verification is unavailable: {why}".
std::unique_ptr<OwnerAuthority> lazyOwnerAuthority(std::shared_ptr<DesktopModule> module);
// Answers GeocodeError Other "reverse geocoding is unavailable: {why}".
std::unique_ptr<Geocoder> lazyGeocoder(std::shared_ptr<DesktopModule> module);

}  // namespace wren::platform

// The entry points of the desktop module (DesktopModule.h): one factory per interface, each
// making the Linux implementation that needs the desktop libraries. Built into the module
// only; the helper reaches these functions through the loader, never by linking them.

#include <memory>
#include <type_traits>

#include "platform/DesktopModule.h"
#include "platform/FreedesktopIconTheme.h"
#include "platform/NominatimGeocoder.h"
#include "platform/PolkitOwnerAuthority.h"
#include "platform/ocr/FileVisionEngine.h"
#include "platform/ocr/TesseractRecognizer.h"

using namespace wren::platform;

extern "C" {

VisionEngine* wren_desktop_vision_engine() {
  return new FileVisionEngine(std::make_shared<TesseractRecognizer>());
}

IconTheme* wren_desktop_icon_theme() { return new FreedesktopIconTheme; }

OwnerAuthority* wren_desktop_owner_authority() { return new PolkitOwnerAuthority; }

Geocoder* wren_desktop_geocoder() { return new NominatimGeocoder(nominatimUrl()); }

}  // extern "C"

// The loader calls each factory through the type it declares for it.
static_assert(std::is_same_v<decltype(&wren_desktop_vision_engine), VisionEngineFactory>);
static_assert(std::is_same_v<decltype(&wren_desktop_icon_theme), IconThemeFactory>);
static_assert(std::is_same_v<decltype(&wren_desktop_owner_authority), OwnerAuthorityFactory>);
static_assert(std::is_same_v<decltype(&wren_desktop_geocoder), GeocoderFactory>);

#include "platform/vdir/StoreNames.h"

#include <glib.h>

#include <memory>

#include "platform/files/Deleters.h"

namespace wren::platform::vdir {

namespace {

constexpr size_t kItemIdLength = 32;

}  // namespace

std::string freshName() {
  std::unique_ptr<gchar, GFree> uuid(g_uuid_string_random());
  return uuid.get();
}

std::string itemIdFor(std::string_view salt, std::string_view collectionId, std::string_view fileName) {
  std::string key(salt);
  key.append(":").append(collectionId).append("/").append(fileName);
  std::unique_ptr<gchar, GFree> digest(
      g_compute_checksum_for_data(G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(key.data()), key.size()));
  return std::string(digest.get(), kItemIdLength);
}

}  // namespace wren::platform::vdir

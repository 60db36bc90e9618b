#include "platform/LocationServices.h"

#include <gio/gio.h>

#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/DataRoot.h"
#include "platform/files/Deleters.h"

namespace wren::platform {

namespace {

// The bus daemon answers NameHasOwner at once; a daemon that does not is as good as none,
// and a status query must never hold up a request for long.
constexpr int kBusCallTimeoutMs = 300;
constexpr const char* kGeoClueName = "org.freedesktop.GeoClue2";

struct MemoryFree {
  void operator()(gpointer memory) const { g_free(memory); }
};

using ConnectionPtr = std::unique_ptr<GDBusConnection, GObjectUnref>;
using VariantPtr = std::unique_ptr<GVariant, GVariantUnref>;

// The calls below pass no GError: a failure means no answer, whatever its reason.
ConnectionPtr systemBus() {
  ConnectionPtr bus(g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr));
  // The shared connection would otherwise end the whole helper when the bus goes away.
  if (bus) g_dbus_connection_set_exit_on_close(bus.get(), FALSE);
  return bus;
}

// One call to the bus daemon itself; nothing when it does not answer in time.
VariantPtr askBus(GDBusConnection* bus, const char* method, GVariant* arguments, const char* replyType) {
  return VariantPtr(g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", method, arguments,
                                                G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NONE,
                                                kBusCallTimeoutMs, nullptr, nullptr));
}

bool nameHasOwner(GDBusConnection* bus) {
  VariantPtr reply = askBus(bus, "NameHasOwner", g_variant_new("(s)", kGeoClueName), "(b)");
  if (!reply) return false;
  gboolean hasOwner = FALSE;
  g_variant_get(reply.get(), "(b)", &hasOwner);
  return hasOwner != FALSE;
}

bool nameIsActivatable(GDBusConnection* bus) {
  VariantPtr reply = askBus(bus, "ListActivatableNames", nullptr, "(as)");
  if (!reply) return false;
  VariantPtr names(g_variant_get_child_value(reply.get(), 0));
  gsize count = 0;
  // The array is the caller's; its strings belong to the variant.
  std::unique_ptr<const gchar*[], MemoryFree> list(g_variant_get_strv(names.get(), &count));
  for (gsize i = 0; i < count; ++i)
    if (g_strcmp0(list[i], kGeoClueName) == 0) return true;
  return false;
}

}  // namespace

bool geoClueAvailable() {
  ConnectionPtr bus = systemBus();
  if (!bus) return false;
  // GeoClue usually starts on demand, so an installed service that is not running yet
  // answers as soon as it is asked: it counts as much as a running one.
  return nameHasOwner(bus.get()) || nameIsActivatable(bus.get());
}

bool locationServicesEnabled() {
  std::error_code ignored;
  if (std::filesystem::exists(dataRoot() / "location", ignored)) return true;
  return geoClueAvailable();
}

}  // namespace wren::platform

#include "platform/LocationServices.h"

#include <gio/gio.h>

#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/DataRoot.h"

namespace wren::platform {

namespace {

// The bus daemon answers NameHasOwner at once; a daemon that does not is as good as none,
// and a status query must never hold up a request for long.
constexpr int kBusCallTimeoutMs = 300;

struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct VariantUnref {
  void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
struct ErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};

using ConnectionPtr = std::unique_ptr<GDBusConnection, ObjectUnref>;
using VariantPtr = std::unique_ptr<GVariant, VariantUnref>;
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;

ConnectionPtr systemBus() {
  GError* rawError = nullptr;
  ConnectionPtr bus(g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &rawError));
  ErrorPtr error(rawError);
  // The shared connection would otherwise end the whole helper when the bus goes away.
  if (bus) g_dbus_connection_set_exit_on_close(bus.get(), FALSE);
  return bus;
}

}  // namespace

bool geoClueAvailable() {
  ConnectionPtr bus = systemBus();
  if (!bus) return false;
  GError* rawError = nullptr;
  VariantPtr reply(g_dbus_connection_call_sync(
      bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "NameHasOwner", g_variant_new("(s)", "org.freedesktop.GeoClue2"), G_VARIANT_TYPE("(b)"),
      G_DBUS_CALL_FLAGS_NONE, kBusCallTimeoutMs, nullptr, &rawError));
  ErrorPtr error(rawError);
  if (!reply) return false;
  gboolean hasOwner = FALSE;
  g_variant_get(reply.get(), "(b)", &hasOwner);
  return hasOwner != FALSE;
}

bool locationServicesEnabled() {
  std::error_code ignored;
  if (std::filesystem::exists(dataRoot() / "location", ignored)) return true;
  return geoClueAvailable();
}

}  // namespace wren::platform

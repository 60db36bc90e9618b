#include "platform/GeoClueLocationSource.h"

#include <gio/gio.h>

#include <cfloat>
#include <functional>
#include <string>
#include <utility>

#include "platform/LocationFile.h"
#include "platform/MainQueue.h"
#include "platform/files/Deleters.h"

namespace wren::platform {

namespace {

constexpr const char* kService = "org.freedesktop.GeoClue2";
constexpr const char* kManagerPath = "/org/freedesktop/GeoClue2/Manager";
constexpr const char* kManagerInterface = "org.freedesktop.GeoClue2.Manager";
constexpr const char* kClientInterface = "org.freedesktop.GeoClue2.Client";
constexpr const char* kLocationInterface = "org.freedesktop.GeoClue2.Location";
constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";
// GeoClue asks every client which program it is; its agent shows the name to the person.
constexpr const char* kDesktopId = "wren-mac-helper";
// GeoClue's street level: about a hundred metres, what an address lookup needs.
constexpr guint32 kStreetLevel = 6;
// GeoClue is started by the bus on its first call, which takes a moment; a service that has
// not answered by then is taken as absent, and the file answers instead.
constexpr int kCallTimeoutMs = 3000;

using VariantPtr = std::unique_ptr<GVariant, GVariantUnref>;
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;

// One manager's conversation with GeoClue. Kept alive by the calls in flight, so that an
// answer that arrives after the manager was dropped finds it stopped and does nothing.
struct Session {
  LocationDelegate delegate;
  std::filesystem::path locationFile;
  std::unique_ptr<GCancellable, GObjectUnref> cancellable{g_cancellable_new()};
  std::unique_ptr<GDBusConnection, GObjectUnref> bus;
  std::string clientPath;
  guint signalId = 0;
  bool stopped = false;
  bool settingUp = false;    // the bus or the client is being set up
  bool clientReady = false;  // the client is made, configured, and its signal watched
  bool waiting = false;      // a request waits for its fix
  bool started = false;      // the client was told to start

  ~Session() {
    if (signalId != 0) g_dbus_connection_signal_unsubscribe(bus.get(), signalId);
  }
};
using SessionPtr = std::shared_ptr<Session>;

void deliverFixes(Session& session, std::vector<LocationFix> fixes) {
  if (session.stopped) return;
  session.waiting = false;
  // A copy: the delegate may stop the manager, which lets go of its functions.
  auto didUpdate = session.delegate.didUpdateLocations;
  if (didUpdate) didUpdate(std::move(fixes));
}

void deliverError(Session& session, LocationError error) {
  if (session.stopped) return;
  session.waiting = false;
  auto didFail = session.delegate.didFailWithError;
  if (didFail) didFail(std::move(error));
}

void answerFromFile(Session& session) {
  LocationFileReading reading = readLocationFile(session.locationFile);
  if (reading.fix) return deliverFixes(session, {*reading.fix});
  if (!reading.problem.empty()) return deliverError(session, {LocationErrorKind::Other, reading.problem});
  deliverError(session, {LocationErrorKind::Other,
                         "neither GeoClue nor a location file gives this computer's position"});
}

std::string describe(const GError* error) {
  // A copy without the remote error's name, which means nothing to a person.
  ErrorPtr copy(g_error_copy(error));
  g_dbus_error_strip_remote_error(copy.get());
  return copy->message;
}

void fail(Session& session, const GError* error) {
  switch (classifyGeoClueError(error)) {
    case GeoClueFailure::Cancelled:
      return;
    case GeoClueFailure::Absent:
      if (!session.stopped && session.waiting) answerFromFile(session);
      return;
    case GeoClueFailure::Denied:
      return deliverError(session, {LocationErrorKind::Denied, "GeoClue refused: " + describe(error)});
    case GeoClueFailure::Other:
      return deliverError(session, {LocationErrorKind::Other, "GeoClue: " + describe(error)});
  }
}

// One asynchronous method call; `next` runs with the reply unless the call failed or the
// session was stopped meanwhile.
struct CallContext {
  SessionPtr session;
  std::function<void(Session&, GVariant*)> next;
};

void callDone(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<CallContext> context(static_cast<CallContext*>(data));
  GError* rawError = nullptr;
  VariantPtr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &rawError));
  ErrorPtr error(rawError);
  Session& session = *context->session;
  if (error) {
    // A failed setup may be tried again by the next request.
    session.settingUp = false;
    return fail(session, error.get());
  }
  if (session.stopped) return;
  context->next(session, reply.get());
}

void call(const SessionPtr& session, const std::string& path, const char* interface, const char* method,
          GVariant* arguments, const char* replyType, std::function<void(Session&, GVariant*)> next) {
  g_dbus_connection_call(session->bus.get(), kService, path.c_str(), interface, method, arguments,
                         replyType ? G_VARIANT_TYPE(replyType) : nullptr, G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs,
                         session->cancellable.get(), callDone, new CallContext{session, std::move(next)});
}

// A call whose answer nobody waits for: telling GeoClue that a client is no longer needed.
void tell(Session& session, const char* path, const char* interface, const char* method, GVariant* arguments) {
  g_dbus_connection_call(session.bus.get(), kService, path, interface, method, arguments, nullptr,
                         G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, nullptr, nullptr);
}

double doubleProperty(GVariant* properties, const char* name, double fallback) {
  double value = fallback;
  g_variant_lookup(properties, name, "d", &value);
  return value;
}

LocationFix fixFromProperties(GVariant* properties) {
  LocationFix fix;
  fix.latitude = doubleProperty(properties, "Latitude", 0);
  fix.longitude = doubleProperty(properties, "Longitude", 0);
  fix.horizontalAccuracy = doubleProperty(properties, "Accuracy", -1);
  // GeoClue gives the lowest double for an unknown altitude, and no vertical accuracy at all:
  // a known altitude is taken to be as precise as the position.
  fix.altitude = doubleProperty(properties, "Altitude", -DBL_MAX);
  fix.verticalAccuracy = fix.altitude > -DBL_MAX ? fix.horizontalAccuracy : -1;
  if (fix.verticalAccuracy < 0) fix.altitude = 0;
  guint64 seconds = 0, microseconds = 0;
  if (g_variant_lookup(properties, "Timestamp", "(tt)", &seconds, &microseconds))
    fix.timestamp = Instant(std::chrono::milliseconds(seconds * 1000 + microseconds / 1000));
  else
    fix.timestamp = now();
  return fix;
}

void stopClient(Session& session) {
  if (!session.started) return;
  session.started = false;
  tell(session, session.clientPath.c_str(), kClientInterface, "Stop", nullptr);
}

void locationUpdated(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                     gpointer data) {
  SessionPtr session = static_cast<std::weak_ptr<Session>*>(data)->lock();
  if (!session || session->stopped || !session->waiting) return;
  const gchar* oldPath = nullptr;
  const gchar* newPath = nullptr;
  g_variant_get(parameters, "(&o&o)", &oldPath, &newPath);
  call(session, newPath, kPropertiesInterface, "GetAll", g_variant_new("(s)", kLocationInterface), "(a{sv})",
       [](Session& s, GVariant* reply) {
         VariantPtr properties(g_variant_get_child_value(reply, 0));
         LocationFix fix = fixFromProperties(properties.get());
         // One fix is all a request asks for.
         stopClient(s);
         deliverFixes(s, {fix});
       });
}

void startClient(const SessionPtr& session) {
  session->started = true;
  call(session, session->clientPath, kClientInterface, "Start", nullptr, nullptr, [](Session&, GVariant*) {});
}

void setUpClient(const SessionPtr& session) {
  call(session, kManagerPath, kManagerInterface, "CreateClient", nullptr, "(o)", [session](Session& s, GVariant* reply) {
    const gchar* path = nullptr;
    g_variant_get(reply, "(&o)", &path);
    s.clientPath = path;
    call(session, s.clientPath, kPropertiesInterface, "Set",
         g_variant_new("(ssv)", kClientInterface, "DesktopId", g_variant_new_string(kDesktopId)), nullptr,
         [session](Session& s2, GVariant*) {
           call(session, s2.clientPath, kPropertiesInterface, "Set",
                g_variant_new("(ssv)", kClientInterface, "RequestedAccuracyLevel", g_variant_new_uint32(kStreetLevel)),
                nullptr, [session](Session& s3, GVariant*) {
                  s3.signalId = g_dbus_connection_signal_subscribe(
                      s3.bus.get(), kService, kClientInterface, "LocationUpdated", s3.clientPath.c_str(), nullptr,
                      G_DBUS_SIGNAL_FLAGS_NONE, locationUpdated, new std::weak_ptr<Session>(session),
                      [](gpointer data) { delete static_cast<std::weak_ptr<Session>*>(data); });
                  s3.settingUp = false;
                  s3.clientReady = true;
                  if (s3.waiting) startClient(session);
                });
         });
  });
}

// The system bus, connected on the calling thread: a machine without one says so at once, and
// once connected GIO keeps the connection for the rest of the process.
bool connectBus(Session& session) {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, session.cancellable.get(), nullptr);
  if (!bus) return false;
  // The shared connection would otherwise end the whole helper when the bus goes away.
  g_dbus_connection_set_exit_on_close(bus, FALSE);
  session.bus.reset(bus);
  return true;
}

class GeoClueManager : public LocationManager {
 public:
  GeoClueManager(LocationDelegate delegate, std::filesystem::path locationFile) : session_(std::make_shared<Session>()) {
    session_->delegate = std::move(delegate);
    session_->locationFile = std::move(locationFile);
  }
  ~GeoClueManager() override { stopUpdatingLocation(); }

  void requestLocation() override {
    Session& s = *session_;
    if (s.stopped) return;
    s.waiting = true;
    if (s.clientReady) {
      // Started afresh, the client reports the position it has at once.
      stopClient(s);
      return startClient(session_);
    }
    if (s.settingUp) return;  // the setup starts the client when it is done
    s.settingUp = true;
    if (s.bus || connectBus(s)) return setUpClient(session_);
    // No system bus, so no GeoClue either; the answer still comes from the main queue.
    s.settingUp = false;
    mainQueue::post([session = session_] {
      if (!session->stopped && session->waiting) answerFromFile(*session);
    });
  }

  void stopUpdatingLocation() override {
    Session& s = *session_;
    if (s.stopped) return;
    s.stopped = true;
    g_cancellable_cancel(s.cancellable.get());
    if (s.signalId != 0) {
      g_dbus_connection_signal_unsubscribe(s.bus.get(), s.signalId);
      s.signalId = 0;
    }
    stopClient(s);
    if (!s.clientPath.empty())
      tell(s, kManagerPath, kManagerInterface, "DeleteClient", g_variant_new("(o)", s.clientPath.c_str()));
    s.delegate = {};
  }

 private:
  SessionPtr session_;
};

}  // namespace

GeoClueFailure classifyGeoClueError(const GError* error) {
  if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) return GeoClueFailure::Cancelled;
  if (error->domain == G_IO_ERROR) {
    switch (error->code) {
      case G_IO_ERROR_TIMED_OUT:
      case G_IO_ERROR_CLOSED:
      case G_IO_ERROR_NOT_FOUND:
      case G_IO_ERROR_CONNECTION_REFUSED:
      case G_IO_ERROR_CONNECTION_CLOSED:
        return GeoClueFailure::Absent;
      default:
        return GeoClueFailure::Other;
    }
  }
  if (error->domain != G_DBUS_ERROR) return GeoClueFailure::Other;
  switch (error->code) {
    case G_DBUS_ERROR_ACCESS_DENIED:
    case G_DBUS_ERROR_AUTH_FAILED:
      return GeoClueFailure::Denied;
    case G_DBUS_ERROR_SERVICE_UNKNOWN:
    case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
    case G_DBUS_ERROR_NO_REPLY:
    case G_DBUS_ERROR_TIMEOUT:
    case G_DBUS_ERROR_TIMED_OUT:
    case G_DBUS_ERROR_DISCONNECTED:
    case G_DBUS_ERROR_NO_SERVER:
    case G_DBUS_ERROR_NO_NETWORK:
    // A GeoClue too old to make clients of their own.
    case G_DBUS_ERROR_UNKNOWN_METHOD:
    case G_DBUS_ERROR_UNKNOWN_OBJECT:
    case G_DBUS_ERROR_UNKNOWN_INTERFACE:
      return GeoClueFailure::Absent;
    default:
      // Every failure to start the service on demand.
      if (error->code >= G_DBUS_ERROR_SPAWN_EXEC_FAILED && error->code <= G_DBUS_ERROR_SPAWN_NO_MEMORY)
        return GeoClueFailure::Absent;
      return GeoClueFailure::Other;
  }
}

GeoClueLocationSource::GeoClueLocationSource(std::filesystem::path locationFile)
    : locationFile_(std::move(locationFile)) {}

std::unique_ptr<LocationManager> GeoClueLocationSource::makeManager(LocationDelegate delegate) {
  return std::make_unique<GeoClueManager>(std::move(delegate), locationFile_);
}

}  // namespace wren::platform

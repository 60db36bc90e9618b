#include "permissions/Permissions.h"

#include "app/HelperError.h"
#include "app/Json.h"
#include "platform/LocationServices.h"
#include "platform/Privacy.h"

namespace wren {

namespace {

using platform::PrivacyKind;

// The settings links end in the anchor of the pane to open.
constexpr const char* kSecurityPrefix = "x-apple.systempreferences:com.apple.preference.security?";
constexpr const char* kContactsAnchor = "Privacy_Contacts";
constexpr const char* kLocationAnchor = "Privacy_LocationServices";

// The words the event-store messages use for a kind.
struct EventNames {
  const char* app;
  const char* pane;
  const char* device;
  const char* anchor;
};

EventNames eventNames(EntityType kind) {
  if (kind == EntityType::Event) return {"Calendar", "Calendars", "日历", "Privacy_Calendars"};
  return {"Reminders", "Reminders", "提醒事项", "Privacy_Reminders"};
}

[[noreturn]] void denyAccess(const std::string& message, const char* settingsAnchor) {
  throw HelperError(ErrorCode::OsPermission, message,
                    Json{{"settingsUrl", std::string(kSecurityPrefix) + settingsAnchor}});
}

std::string eventAccessMessage(const std::string& status, const EventNames& names) {
  const std::string app = names.app;
  const std::string pane = names.pane;
  if (status == "write_only")
    return "macOS only gave Wren write-only access to " + app +
           ". Open System Settings → Privacy & Security → " + pane +
           " → Wren and choose Full Access.";
  if (status == "not_determined")
    return "Wren has not been allowed to access " + app + " on this Mac yet. Connect \"" +
           names.device + "\" in Wren → Settings → Devices on this computer (macOS will ask once).";
  return "macOS has not allowed Wren to access " + app + ": System Settings → Privacy & Security → " +
         pane + " → turn on Wren.";
}

std::string locationAccessMessage(const std::string& status) {
  if (status == "services_off")
    return "Location Services are turned off on this Mac: System Settings → Privacy & Security → "
           "Location Services → turn the switch on and allow Wren.";
  if (status == "not_determined")
    return "Wren has not been allowed to use this Mac's location yet. Connect \"位置\" in Wren → "
           "Settings → Devices on this computer.";
  return "macOS has not allowed Wren to use this Mac's location: System Settings → Privacy & "
         "Security → Location Services → turn on Wren.";
}

}  // namespace

std::string eventStatus(EntityType kind) {
  std::optional<std::string> decided =
      platform::privacyDecision(kind == EntityType::Event ? PrivacyKind::Calendar : PrivacyKind::Reminders);
  if (!decided) return "not_determined";
  const std::string& decision = *decided;
  if (decision == "granted" || decision == "denied" || decision == "restricted" ||
      decision == "write_only")
    return decision;
  return "unknown";
}

std::string locationStatus() {
  if (!platform::locationServicesEnabled()) return "services_off";
  std::string decision = platform::privacyDecision(PrivacyKind::Location).value_or("");
  if (decision == "granted" || decision == "denied" || decision == "restricted") return decision;
  // Anything else, a typo included, counts as never asked: it must not grant access.
  return "not_determined";
}

void ensureEvents(EntityType kind) {
  std::string status = eventStatus(kind);
  if (status == "granted") return;
  EventNames names = eventNames(kind);
  denyAccess(eventAccessMessage(status, names), names.anchor);
}

void ensureContacts() {
  std::string decision = platform::privacyDecision(PrivacyKind::Contacts).value_or("");
  if (decision == "granted") return;
  if (decision == "denied" || decision == "restricted")
    denyAccess("macOS has not allowed Wren to access Contacts: System Settings → Privacy & Security → "
               "Contacts → turn on Wren.",
               kContactsAnchor);
  denyAccess("Wren has not been allowed to access Contacts on this Mac yet. Connect \"通讯录\" in Wren "
             "→ Settings → Devices on this computer (macOS will ask once).",
             kContactsAnchor);
}

void ensureLocation() {
  std::string status = locationStatus();
  if (status == "granted") return;
  denyAccess(locationAccessMessage(status), kLocationAnchor);
}

void registerPermissions(Router&, EventStoreBox&) {
  // No permission method is served yet: the guards of the data methods are all there is.
}

}  // namespace wren

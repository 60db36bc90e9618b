#include "permissions/Permissions.h"

#include <exception>
#include <functional>
#include <memory>
#include <utility>

#include "app/HelperError.h"
#include "app/Json.h"
#include "base/Diagnostic.h"
#include "permissions/ConsentRequests.h"
#include "permissions/LocationAuthorizer.h"
#include "platform/FirstContactBook.h"
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

// The six permissions, in the order permissions.status lists them, with the anchor of the
// System Settings pane permissions.request links to.
struct KindEntry {
  const char* name;
  PrivacyKind privacy;
  const char* anchor;
};
constexpr KindEntry kKinds[] = {
    {"calendar", PrivacyKind::Calendar, "Privacy_Calendars"},
    {"reminders", PrivacyKind::Reminders, "Privacy_Reminders"},
    {"contacts", PrivacyKind::Contacts, kContactsAnchor},
    {"location", PrivacyKind::Location, kLocationAnchor},
    {"accessibility", PrivacyKind::Accessibility, "Privacy_Accessibility"},
    {"screen", PrivacyKind::Screen, "Privacy_ScreenCapture"},
};

const KindEntry* findKind(const std::string& name) {
  for (const KindEntry& entry : kKinds)
    if (name == entry.name) return &entry;
  return nullptr;
}

// Accessibility trust and screen recording are either allowed or not: never asked counts
// as not.
std::string trustStatus(PrivacyKind kind) {
  return platform::privacyDecision(kind) == "granted" ? "granted" : "denied";
}

std::string statusOf(PrivacyKind kind) {
  switch (kind) {
    case PrivacyKind::Calendar: return eventStatus(EntityType::Event);
    case PrivacyKind::Reminders: return eventStatus(EntityType::Reminder);
    case PrivacyKind::Contacts: return contactsStatus();
    case PrivacyKind::Location: return locationStatus();
    case PrivacyKind::Accessibility:
    case PrivacyKind::Screen: return trustStatus(kind);
  }
  return "unknown";
}

// The decision of a kind that knows only "granted", "denied" and "restricted" (all but
// calendar and reminders), or "not_determined": anything else, a typo included, counts as
// never asked, so that it can never grant access.
std::string plainStatus(PrivacyKind kind) {
  std::string decision = platform::privacyDecision(kind).value_or("");
  if (decision == "granted" || decision == "denied" || decision == "restricted") return decision;
  return "not_determined";
}

// Runs follow-up work of a request whose failure must not fail the request: it is reported
// on standard error and the request answers with the status as it stands.
void bestEffort(const char* what, const std::function<void()>& work) {
  try {
    work();
  } catch (const std::exception& error) {
    writeDiagnostic(std::string("wren-mac-helper: ") + what + ": " + error.what());
  }
}

using Answer = std::function<void(const std::string& status)>;

struct RequestContext {
  EventStoreBox& eventStore;
  ConsentRequests consent;
  std::chrono::milliseconds locationLimit;
};

// What follows a calendar or reminders request, whatever the person answered: the store
// drops what it read under the old permission, and a granted kind gets its store if it has
// none yet (the store makes it on first use).
std::string afterEventRequest(EventStoreBox& box, EntityType kind) {
  bestEffort("cannot reset the event store", [&] { box.reset(); });
  std::string status = eventStatus(kind);
  if (status == "granted")
    bestEffort("cannot make the event store", [&] { box.store().calendars(kind); });
  return status;
}

std::string afterContactsRequest() {
  std::string status = contactsStatus();
  if (status == "granted") bestEffort("cannot make the first address book", platform::ensureFirstContactBook);
  return status;
}

// Asks in a dialog when the status says never asked and a dialog can be shown; `after`
// then runs once the dialog is over. Otherwise `after` runs now.
void askThen(RequestContext& context, PrivacyKind kind, const std::string& status,
             std::function<std::string()> after, Answer answer) {
  auto finish = [after = std::move(after), answer = std::move(answer)] { answer(after()); };
  if (status == "not_determined" && context.consent.ask(kind, finish)) return;
  finish();
}

void requestPermission(RequestContext& context, const KindEntry& kind, Answer answer) {
  switch (kind.privacy) {
    case PrivacyKind::Calendar:
    case PrivacyKind::Reminders: {
      EntityType entity = kind.privacy == PrivacyKind::Calendar ? EntityType::Event : EntityType::Reminder;
      EventStoreBox& box = context.eventStore;
      askThen(context, kind.privacy, eventStatus(entity), [&box, entity] { return afterEventRequest(box, entity); },
              std::move(answer));
      return;
    }
    case PrivacyKind::Contacts:
      askThen(context, kind.privacy, contactsStatus(), afterContactsRequest, std::move(answer));
      return;
    case PrivacyKind::Location:
      LocationAuthorizer::make(context.consent, context.locationLimit)->request(std::move(answer));
      return;
    case PrivacyKind::Accessibility:
    case PrivacyKind::Screen: {
      // The platform's own calls return at once and the person answers in System Settings
      // later: the dialog is started, not waited for, and the status is the one of now.
      std::string status = trustStatus(kind.privacy);
      if (plainStatus(kind.privacy) == "not_determined") context.consent.ask(kind.privacy, [] {});
      answer(status);
      return;
    }
  }
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

std::string contactsStatus() { return plainStatus(PrivacyKind::Contacts); }

std::string locationStatus() {
  if (!platform::locationServicesEnabled()) return "services_off";
  return plainStatus(PrivacyKind::Location);
}

void ensureEvents(EntityType kind) {
  std::string status = eventStatus(kind);
  if (status == "granted") return;
  EventNames names = eventNames(kind);
  denyAccess(eventAccessMessage(status, names), names.anchor);
}

void ensureContacts() {
  std::string status = contactsStatus();
  if (status == "granted") return;
  if (status == "denied" || status == "restricted")
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

void registerPermissions(Router& router, EventStoreBox& eventStore, PermissionServices services) {
  // Lives as long as the method table that holds it, the whole process.
  auto context = std::shared_ptr<RequestContext>(new RequestContext{
      eventStore, ConsentRequests(std::move(services.dialogs), std::move(services.executable), services.dialogDeadline),
      services.locationLimit});

  router.registerMethod("permissions.status", [](const Params&) {
    Json result = Json::object();
    for (const KindEntry& kind : kKinds) result[kind.name] = statusOf(kind.privacy);
    return result;
  });

  router.registerAsyncMethod("permissions.request", [context](const Params& params, Reply reply) {
    std::optional<std::string> name = params.string("kind");
    if (!name) throw HelperError(ErrorCode::InvalidArgs, "kind is required");
    const KindEntry* kind = findKind(*name);
    if (!kind) throw HelperError(ErrorCode::InvalidArgs, "unknown permission kind " + *name);
    std::string settingsUrl = std::string(kSecurityPrefix) + kind->anchor;
    requestPermission(*context, *kind, [reply, settingsUrl](const std::string& status) {
      reply.succeed(Json{{"status", status}, {"settingsUrl", settingsUrl}});
    });
  });
}

}  // namespace wren

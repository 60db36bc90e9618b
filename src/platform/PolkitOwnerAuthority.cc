#include "platform/PolkitOwnerAuthority.h"

#include <polkit/polkit.h>
#include <unistd.h>

#include <memory>
#include <utility>

#include "platform/MainQueue.h"
#include "platform/files/Deleters.h"

namespace wren::platform {

namespace {

using Kind = AuthorityAnswer::Kind;
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;

// What polkit's own command-line checker says when a check needs a dialog and no agent is
// registered to show one; polkit's answer itself carries no text.
constexpr const char* kNoAgent = "Authorization requires authentication but no agent is available.";

// One check, from the request to the answer. Lives on the main queue: every callback below
// runs there and holds the check through a heap-held shared pointer of its own.
struct Check {
  std::string actionId;
  std::string reason;
  OwnerAuthority::Answer answer;
  std::unique_ptr<GCancellable, GObjectUnref> cancellable{g_cancellable_new()};
  std::unique_ptr<PolkitAuthority, GObjectUnref> authority;
  std::string checkFailure;  // polkit's text of a failed check, while its actions are listed

  void finish(Kind kind, std::string description = {}) {
    if (!answer) return;
    OwnerAuthority::Answer deliver = std::move(answer);
    answer = nullptr;
    deliver(AuthorityAnswer{kind, std::move(description)});
  }
};

using CheckHolder = std::shared_ptr<Check>;

// The user data of one callback: taken back, and freed, by that callback.
gpointer hold(const CheckHolder& check) { return new CheckHolder(check); }
CheckHolder release(gpointer data) {
  std::unique_ptr<CheckHolder> holder(static_cast<CheckHolder*>(data));
  return *holder;
}

// The error's text without the name of the remote error that errors from the bus carry in
// front ("GDBus.Error:org.freedesktop.PolicyKit1.Error.Failed: ...").
std::string describe(const GError* error) {
  ErrorPtr copy(g_error_copy(error));
  g_dbus_error_strip_remote_error(copy.get());
  return copy->message ? copy->message : "";
}

bool cancelled(const GError* error) { return g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED); }

// Failures that mean there is no polkit to ask: no system bus to connect to, or no daemon
// that owns (or could be started for) polkit's name on it.
bool noAuthority(const GError* error) {
  if (error->domain == G_DBUS_ERROR) {
    switch (error->code) {
      case G_DBUS_ERROR_SERVICE_UNKNOWN:
      case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
      case G_DBUS_ERROR_NO_SERVER:
      case G_DBUS_ERROR_DISCONNECTED:
      case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
      case G_DBUS_ERROR_SPAWN_FAILED:
      case G_DBUS_ERROR_SPAWN_CHILD_EXITED:
      case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
      case G_DBUS_ERROR_SPAWN_SERVICE_INVALID:
        return true;
      default:
        return false;
    }
  }
  return error->domain == G_IO_ERROR && !cancelled(error) && error->code != G_IO_ERROR_DBUS_ERROR;
}

void listedActions(GObject* source, GAsyncResult* result, gpointer data) {
  CheckHolder check = release(data);
  GError* rawError = nullptr;
  GList* actions = polkit_authority_enumerate_actions_finish(POLKIT_AUTHORITY(source), result, &rawError);
  ErrorPtr error(rawError);
  bool known = false;
  for (GList* item = actions; item; item = item->next) {
    auto* action = POLKIT_ACTION_DESCRIPTION(item->data);
    if (check->actionId == polkit_action_description_get_action_id(action)) known = true;
  }
  g_list_free_full(actions, g_object_unref);
  check->finish(!error && !known ? Kind::NoAction : Kind::Failed, check->checkFailure);
}

void checked(GObject* source, GAsyncResult* result, gpointer data) {
  CheckHolder check = release(data);
  GError* rawError = nullptr;
  std::unique_ptr<PolkitAuthorizationResult, GObjectUnref> answer(
      polkit_authority_check_authorization_finish(POLKIT_AUTHORITY(source), result, &rawError));
  ErrorPtr error(rawError);
  if (error) {
    if (noAuthority(error.get())) return check->finish(Kind::NoAuthority, describe(error.get()));
    if (error->domain != POLKIT_ERROR) return check->finish(Kind::Failed, describe(error.get()));
    // polkit refuses a check of an action it does not know with a general failure; its list
    // of actions tells that case apart.
    check->checkFailure = describe(error.get());
    polkit_authority_enumerate_actions(check->authority.get(), check->cancellable.get(), listedActions, hold(check));
    return;
  }
  if (polkit_authorization_result_get_is_authorized(answer.get())) return check->finish(Kind::Authorized);
  // With interaction allowed, a result that still asks for a challenge means that no agent
  // took it: nobody could be shown the dialog.
  if (polkit_authorization_result_get_is_challenge(answer.get())) return check->finish(Kind::NoAgent, kNoAgent);
  check->finish(Kind::NotAuthorized);
}

void startCheck(const CheckHolder& check) {
  // The subject is this process, by pid, start time and user: polkit's dialog speaks for it.
  std::unique_ptr<PolkitSubject, GObjectUnref> subject(polkit_unix_process_new_for_owner(getpid(), 0, getuid()));
  std::unique_ptr<PolkitDetails, GObjectUnref> details(polkit_details_new());
  polkit_details_insert(details.get(), "polkit.message", check->reason.c_str());
  polkit_authority_check_authorization(check->authority.get(), subject.get(), check->actionId.c_str(), details.get(),
                                       POLKIT_CHECK_AUTHORIZATION_FLAGS_ALLOW_USER_INTERACTION,
                                       check->cancellable.get(), checked, hold(check));
}

}  // namespace

OwnerAuthority::Cancel PolkitOwnerAuthority::check(const std::string& reason, Answer answer) {
  auto check = std::make_shared<Check>();
  check->actionId = actionId_;
  check->reason = reason;
  check->answer = std::move(answer);
  // The authority is a proxy on the system bus, made here with one short exchange with the
  // bus: its asynchronous form would start a GLib worker thread for it, which the helper's
  // race checks cannot follow. Only the wait for the person is asynchronous.
  GError* rawError = nullptr;
  check->authority.reset(polkit_authority_get_sync(check->cancellable.get(), &rawError));
  std::shared_ptr<GError> error(rawError, [](GError* e) {
    if (e) g_error_free(e);
  });
  mainQueue::post([check, error] {
    if (check->authority) return startCheck(check);
    bool none = error && !cancelled(error.get());
    check->finish(none ? Kind::NoAuthority : Kind::Failed, error ? describe(error.get()) : "");
  });
  // GCancellable may be cancelled from any thread.
  std::shared_ptr<GCancellable> handle(G_CANCELLABLE(g_object_ref(check->cancellable.get())),
                                       [](GCancellable* c) { g_object_unref(c); });
  return [handle] { g_cancellable_cancel(handle.get()); };
}

}  // namespace wren::platform

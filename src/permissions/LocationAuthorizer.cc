#include "permissions/LocationAuthorizer.h"

#include <utility>

#include "permissions/Permissions.h"
#include "platform/MainQueue.h"
#include "platform/Privacy.h"

namespace wren {

namespace {

// Whether there is nothing to ask: the person decided (a value that counts as never asked
// is no decision), or Location Services are switched off.
bool decided() { return locationStatus() != "not_determined"; }

}  // namespace

std::shared_ptr<LocationAuthorizer> LocationAuthorizer::make(ConsentRequests& consent,
                                                             std::chrono::milliseconds limit) {
  return std::shared_ptr<LocationAuthorizer>(new LocationAuthorizer(consent, limit));
}

void LocationAuthorizer::request(Resume resume) {
  platform::mainQueue::post([self = shared_from_this(), resume = std::move(resume)]() mutable {
    self->start(std::move(resume));
  });
}

void LocationAuthorizer::start(Resume resume) {
  // The limit's check does what finish does: answer with the status as it then is. The
  // timer holds the slot, and the slot's continuation holds nothing of the authorizer.
  continuation_ = platform::OneShot<std::string>::start(
      limit_, [resume = std::move(resume)](std::optional<std::string> status) {
        resume(status ? *status : locationStatus());
      });
  if (decided()) return finish();
  // Once the dialog is over no other answer can come, whether it gave one or crashed: the
  // request answers then rather than wait out the limit.
  bool asked = consent_.ask(platform::PrivacyKind::Location, [self = shared_from_this()] { self->finish(); });
  // With no dialog to ask in, no answer can come: waiting out the limit would only delay
  // the same answer.
  if (!asked) finish();
}

void LocationAuthorizer::finish() {
  if (!continuation_) return;
  std::shared_ptr<platform::OneShot<std::string>> taken = std::move(continuation_);
  continuation_ = nullptr;
  taken->resolve(locationStatus());
}

}  // namespace wren

#pragma once

// One request for the person's permission to use the computer's location, answered exactly
// once: as soon as the consent dialog is over, or when the limit passes, whichever comes
// first, with the location status at that moment. A decision made before
// the request (or Location Services switched off, or no dialog to ask with) answers at once.
//
//   auto authorizer = LocationAuthorizer::make(consent, std::chrono::seconds(60));
//   authorizer->request([reply](std::string status) { reply.succeed(...status...); });
//
// Its work runs on the main queue; the request may come from any thread and returns at
// once. The authorizer lives until its answer is given and its timer has fired, held by the
// closures of the main queue; the caller need not keep it.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "permissions/ConsentRequests.h"
#include "platform/OneShot.h"

namespace wren {

class LocationAuthorizer : public std::enable_shared_from_this<LocationAuthorizer> {
 public:
  using Resume = std::function<void(const std::string& status)>;

  static std::shared_ptr<LocationAuthorizer> make(ConsentRequests& consent, std::chrono::milliseconds limit);

  // Asks, unless already decided, and hands the status to `resume` once, on the main queue.
  void request(Resume resume);

 private:
  LocationAuthorizer(ConsentRequests& consent, std::chrono::milliseconds limit) : consent_(consent), limit_(limit) {}

  void start(Resume resume);
  // Answers the waiting request with the current status, if it still waits.
  void finish();

  ConsentRequests& consent_;
  const std::chrono::milliseconds limit_;
  // The waiting request, main queue only; its deadline is the limit.
  std::shared_ptr<platform::OneShot<std::string>> continuation_;
};

}  // namespace wren

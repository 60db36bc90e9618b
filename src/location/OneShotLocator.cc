#include "location/OneShotLocator.h"

#include <string>
#include <utility>

#include "app/Json.h"
#include "platform/MainQueue.h"

namespace wren {

namespace {

HelperError timeoutError(int seconds) {
  return HelperError(ErrorCode::Timeout, "This Mac could not work out its location within " + std::to_string(seconds) +
                                             " s (Location Services usually need Wi-Fi turned on). Try again later.");
}

HelperError deniedError() {
  return HelperError(ErrorCode::OsPermission,
                     "macOS has not allowed Wren to use this Mac's location: System Settings → Privacy & Security → "
                     "Location Services → turn on Wren.",
                     Json{{"settingsUrl",
                           "x-apple.systempreferences:com.apple.preference.security?Privacy_LocationServices"}});
}

HelperError failedError(const std::string& description) {
  return HelperError(ErrorCode::ExecutionFailed, "This Mac could not work out its location: " + description);
}

}  // namespace

std::shared_ptr<OneShotLocator> OneShotLocator::make(platform::LocationSource& source, LocatorTiming timing) {
  return std::shared_ptr<OneShotLocator>(new OneShotLocator(source, timing));
}

void OneShotLocator::locate(std::chrono::duration<double> timeout, std::function<void(FixOutcome)> answer) {
  platform::mainQueue::post([self = shared_from_this(), timeout, answer = std::move(answer)]() mutable {
    self->start(timeout, std::move(answer));
  });
}

void OneShotLocator::start(std::chrono::duration<double> timeout, std::function<void(FixOutcome)> answer) {
  const int seconds = static_cast<int>(timeout.count());
  auto limit = std::chrono::ceil<std::chrono::milliseconds>(timeout);
  deadline_ = std::chrono::steady_clock::now() + limit;
  // The slot's deadline is the timeout; its timer keeps the locator alive until the answer.
  // Every way of answering goes through the slot, on the main queue, so the manager is
  // stopped before the caller hears the outcome, and exactly once.
  slot_ = platform::OneShot<FixOutcome>::start(
      limit, [self = shared_from_this(), seconds, answer = std::move(answer)](std::optional<FixOutcome> outcome) {
        self->stopManager();
        answer(outcome ? std::move(*outcome) : FixOutcome(timeoutError(seconds)));
      });
  // The source holds its delegate; the delegate holds the locator weakly.
  std::weak_ptr<OneShotLocator> weak = weak_from_this();
  manager_ = source_.makeManager({
      [weak](std::vector<platform::LocationFix> fixes) {
        if (auto self = weak.lock()) self->didUpdateLocations(fixes);
      },
      [weak](platform::LocationError error) {
        if (auto self = weak.lock()) self->didFailWithError(error);
      },
  });
  manager_->requestLocation();
}

void OneShotLocator::didUpdateLocations(const std::vector<platform::LocationFix>& fixes) {
  if (answered()) return;
  // The newest fix comes last; a negative accuracy marks one that is not usable.
  for (auto it = fixes.rbegin(); it != fixes.rend(); ++it)
    if (it->horizontalAccuracy >= 0) return finish(*it);
  retrySoon();
}

void OneShotLocator::didFailWithError(const platform::LocationError& error) {
  if (answered()) return;
  switch (error.kind) {
    case platform::LocationErrorKind::LocationUnknown:
      if (std::chrono::steady_clock::now() + timing_.unknownMargin < deadline_) return retrySoon();
      return finish(failedError(error.description));
    case platform::LocationErrorKind::Denied:
      return finish(deniedError());
    case platform::LocationErrorKind::Other:
      return finish(failedError(error.description));
  }
}

void OneShotLocator::retrySoon() {
  std::weak_ptr<OneShotLocator> weak = weak_from_this();
  platform::mainQueue::after(timing_.retryDelay, [weak] {
    auto self = weak.lock();
    if (self && !self->answered() && self->manager_) self->manager_->requestLocation();
  });
}

void OneShotLocator::finish(FixOutcome outcome) {
  if (slot_) slot_->resolve(std::move(outcome));
}

void OneShotLocator::stopManager() {
  if (!manager_) return;
  manager_->stopUpdatingLocation();
  manager_.reset();
}

}  // namespace wren

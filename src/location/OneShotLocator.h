#pragma once

// One location fix with a hard deadline, from a location source that answers through a
// delegate (platform/LocationSource.h):
//
//   auto locator = OneShotLocator::make(source);
//   locator->locate(std::chrono::seconds(20), [reply](FixOutcome outcome) {
//     if (auto* error = std::get_if<HelperError>(&outcome)) return reply.fail(*error);
//     ... std::get<platform::LocationFix>(outcome) ...
//   });
//
// The answer comes exactly once, on the main queue: the first usable fix; os_permission when
// the source reports a denial; execution_failed for any other error; timeout when the
// deadline passes first. Deliveries without a usable fix, and the transient "location
// unknown", are asked again a second later for as long as the deadline leaves room. All the
// locator's state lives on the main queue; the answer's wait is a OneShot whose deadline is
// the timeout. After the answer the source's manager is stopped and nothing late counts.

#include <chrono>
#include <functional>
#include <memory>
#include <variant>

#include "app/HelperError.h"
#include "platform/LocationSource.h"
#include "platform/OneShot.h"

namespace wren {

using FixOutcome = std::variant<platform::LocationFix, HelperError>;

// The locator's waits. The defaults are the helper's; tests shorten them.
struct LocatorTiming {
  // How long after a fruitless answer the source is asked again.
  std::chrono::milliseconds retryDelay{1000};
  // A "location unknown" with less time than this left before the deadline ends the request.
  std::chrono::milliseconds unknownMargin{1500};
};

class OneShotLocator : public std::enable_shared_from_this<OneShotLocator> {
 public:
  static std::shared_ptr<OneShotLocator> make(platform::LocationSource& source, LocatorTiming timing = {});

  // Starts the one request of this locator; may be called from any thread. The message of
  // the timeout names the timeout in whole seconds.
  void locate(std::chrono::duration<double> timeout, std::function<void(FixOutcome)> answer);

 private:
  OneShotLocator(platform::LocationSource& source, LocatorTiming timing) : source_(source), timing_(timing) {}

  void start(std::chrono::duration<double> timeout, std::function<void(FixOutcome)> answer);
  void didUpdateLocations(const std::vector<platform::LocationFix>& fixes);
  void didFailWithError(const platform::LocationError& error);
  void retrySoon();
  void finish(FixOutcome outcome);
  bool answered() const { return !slot_ || slot_->settled(); }
  void stopManager();

  platform::LocationSource& source_;
  const LocatorTiming timing_;
  // Main queue only, from here on.
  std::unique_ptr<platform::LocationManager> manager_;
  std::shared_ptr<platform::OneShot<FixOutcome>> slot_;
  std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::time_point::max();
};

}  // namespace wren

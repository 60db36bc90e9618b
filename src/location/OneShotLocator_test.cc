#include "location/OneShotLocator.h"

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <variant>
#include <vector>

#include "platform/MainQueue.h"

namespace wren {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using platform::LocationError;
using platform::LocationErrorKind;
using platform::LocationFix;

// The helper's waits, shortened a hundredfold so that a test takes milliseconds.
constexpr LocatorTiming kFast{10ms, 15ms};

LocationFix fix(double latitude, double accuracy) {
  LocationFix f;
  f.latitude = latitude;
  f.longitude = 2.0;
  f.horizontalAccuracy = accuracy;
  return f;
}

// What the source does for one request: deliver fixes, fail, or say nothing. Several events
// may answer one request (a late error after a fix, say).
struct Event {
  std::chrono::milliseconds after{0};
  std::variant<std::vector<LocationFix>, LocationError> what;
};
using Step = std::vector<Event>;  // empty: silence

// A location source that plays a script: the n-th request gets the n-th step, and requests
// past the end of the script get the last step again (or silence).
class ScriptedSource : public platform::LocationSource {
 public:
  explicit ScriptedSource(std::vector<Step> script) : log_(std::make_shared<Log>()), script_(std::move(script)) {}

  struct Log {
    std::vector<Clock::time_point> requests;
    int stops = 0;
    int deliveredAfterStop = 0;
  };
  const Log& log() const { return *log_; }

  std::unique_ptr<platform::LocationManager> makeManager(platform::LocationDelegate delegate) override {
    return std::make_unique<Manager>(std::move(delegate), log_, script_);
  }

 private:
  class Manager : public platform::LocationManager {
   public:
    Manager(platform::LocationDelegate delegate, std::shared_ptr<Log> log, std::vector<Step> script)
        : state_(std::make_shared<State>(State{std::move(delegate), false})), log_(std::move(log)),
          script_(std::move(script)) {}
    ~Manager() override { state_->stopped = true; }

    void requestLocation() override {
      log_->requests.push_back(Clock::now());
      const std::size_t index = log_->requests.size() - 1;
      if (script_.empty()) return;
      const Step& step = script_[std::min(index, script_.size() - 1)];
      for (const Event& event : step) {
        // The delegate is only ever called from the main queue, never from in here.
        platform::mainQueue::after(event.after, [state = state_, log = log_, event] {
          if (state->stopped) {
            ++log->deliveredAfterStop;
            return;
          }
          // A copy: the delegate may drop this manager.
          platform::LocationDelegate delegate = state->delegate;
          if (auto* fixes = std::get_if<std::vector<LocationFix>>(&event.what)) delegate.didUpdateLocations(*fixes);
          else delegate.didFailWithError(std::get<LocationError>(event.what));
        });
      }
    }
    void stopUpdatingLocation() override {
      if (!state_->stopped) ++log_->stops;
      state_->stopped = true;
    }

   private:
    struct State {
      platform::LocationDelegate delegate;
      bool stopped;
    };
    std::shared_ptr<State> state_;
    std::shared_ptr<Log> log_;
    std::vector<Step> script_;
  };

  std::shared_ptr<Log> log_;
  std::vector<Step> script_;
};

struct Located {
  std::vector<FixOutcome> answers;
  Clock::duration took{};
};

// Runs one locate on the real main queue (this thread), and goes on running the loop for
// `linger` after the answer, so that late events and the deadline's timer get their chance
// to answer a second time.
Located locate(ScriptedSource& source, std::chrono::duration<double> timeout,
               std::chrono::milliseconds linger = 60ms) {
  Located located;
  const Clock::time_point started = Clock::now();
  auto finished = std::make_shared<bool>(false);
  OneShotLocator::make(source, kFast)->locate(timeout, [&located, started, linger, finished](FixOutcome outcome) {
    located.answers.push_back(std::move(outcome));
    if (located.answers.size() > 1) return;
    located.took = Clock::now() - started;
    platform::mainQueue::after(linger, [finished] {
      *finished = true;
      platform::mainQueue::quit();
    });
  });
  // A locator that never answers must fail the test, not hang it.
  auto limit = std::chrono::ceil<std::chrono::milliseconds>(timeout) + 2s;
  platform::mainQueue::after(limit, [finished] {
    if (*finished) return;
    *finished = true;
    platform::mainQueue::quit();
  });
  platform::mainQueue::run();
  return located;
}

const HelperError& failureOf(const Located& located) {
  static const HelperError none(ErrorCode::UnknownAction, "no failure");
  if (located.answers.empty() || !std::holds_alternative<HelperError>(located.answers[0])) return none;
  return std::get<HelperError>(located.answers[0]);
}

const LocationError kUnknown{LocationErrorKind::LocationUnknown, "the position is not known yet"};

TEST(OneShotLocator, AnswersWithTheNewestUsableFixOfADelivery) {
  struct Case {
    const char* name;
    std::vector<Step> script;
    double expectedLatitude;
    std::size_t expectedRequests;
  };
  const Case cases[] = {
      {"one fix", {{{5ms, std::vector{fix(48.1, 12)}}}}, 48.1, 1},
      {"the newest usable one, from the end",
       {{{5ms, std::vector{fix(1, 10), fix(2, 10), fix(3, -1)}}}}, 2, 1},
      {"an accuracy of zero is usable", {{{5ms, std::vector{fix(4, 0)}}}}, 4, 1},
      {"a delivery with no usable fix asks again",
       {{{5ms, std::vector{fix(5, -1), fix(6, -5)}}}, {{5ms, std::vector{fix(7, 30)}}}}, 7, 2},
      {"location unknown with time left asks again",
       {{{5ms, kUnknown}}, {{5ms, kUnknown}}, {{5ms, std::vector{fix(8, 30)}}}}, 8, 3},
      {"a late error after the fix changes nothing",
       {{{5ms, std::vector{fix(9, 30)}}, {10ms, LocationError{LocationErrorKind::Denied, "no"}}}}, 9, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedSource source(c.script);
    Located located = locate(source, 2s);
    ASSERT_EQ(located.answers.size(), 1u);
    ASSERT_TRUE(std::holds_alternative<LocationFix>(located.answers[0])) << failureOf(located).message();
    EXPECT_EQ(std::get<LocationFix>(located.answers[0]).latitude, c.expectedLatitude);
    EXPECT_EQ(source.log().requests.size(), c.expectedRequests);
    EXPECT_EQ(source.log().stops, 1) << "the manager is stopped once the answer is given";
    EXPECT_LT(located.took, 1s) << "the answer does not wait for the deadline";
  }
}

TEST(OneShotLocator, RetriesComeOneRetryDelayApart) {
  ScriptedSource source({{{0ms, std::vector{fix(0, -1)}}}, {{0ms, kUnknown}}, {{0ms, std::vector{fix(1, 5)}}}});
  Located located = locate(source, 2s);
  ASSERT_EQ(source.log().requests.size(), 3u);
  for (std::size_t i = 1; i < 3; ++i) EXPECT_GE(source.log().requests[i] - source.log().requests[i - 1], kFast.retryDelay);
}

TEST(OneShotLocator, FailuresOfTheSourceBecomeTheMethodsErrors) {
  struct Case {
    const char* name;
    std::vector<Step> script;
    ErrorCode code;
    std::string message;
    bool settingsUrl;
  };
  const Case cases[] = {
      {"denied",
       {{{5ms, LocationError{LocationErrorKind::Denied, "GeoClue refused"}}}},
       ErrorCode::OsPermission,
       "macOS has not allowed Wren to use this Mac's location: System Settings → Privacy & Security → Location "
       "Services → turn on Wren.",
       true},
      {"another error",
       {{{5ms, LocationError{LocationErrorKind::Other, "the location file is broken"}}}},
       ErrorCode::ExecutionFailed,
       "This Mac could not work out its location: the location file is broken",
       false},
      {"denied after a fruitless delivery",
       {{{5ms, std::vector{fix(0, -1)}}}, {{5ms, LocationError{LocationErrorKind::Denied, "no"}}}},
       ErrorCode::OsPermission,
       "macOS has not allowed Wren to use this Mac's location: System Settings → Privacy & Security → Location "
       "Services → turn on Wren.",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedSource source(c.script);
    Located located = locate(source, 2s);
    ASSERT_EQ(located.answers.size(), 1u);
    const HelperError& error = failureOf(located);
    EXPECT_EQ(error.code(), c.code);
    EXPECT_EQ(error.message(), c.message);
    if (c.settingsUrl) {
      ASSERT_TRUE(error.details());
      EXPECT_EQ(*error.details(),
                (Json{{"settingsUrl", "x-apple.systempreferences:com.apple.preference.security?Privacy_LocationServices"}}));
    } else {
      EXPECT_FALSE(error.details());
    }
    EXPECT_EQ(source.log().stops, 1);
  }
}

TEST(OneShotLocator, LocationUnknownNearTheDeadlineEndsTheRequestAsAFailureNotATimeout) {
  // Every request is answered "unknown" at once: the locator asks again every retry delay
  // until less than the margin is left, and the last "unknown" ends the request.
  ScriptedSource source({{{0ms, kUnknown}}});
  Located located = locate(source, 200ms);
  ASSERT_EQ(located.answers.size(), 1u);
  EXPECT_EQ(failureOf(located).code(), ErrorCode::ExecutionFailed);
  EXPECT_EQ(failureOf(located).message(), "This Mac could not work out its location: the position is not known yet");
  EXPECT_GE(located.took, 200ms - kFast.unknownMargin - kFast.retryDelay);
  EXPECT_LT(located.took, 200ms);
  EXPECT_GE(source.log().requests.size(), 5u) << "it kept asking while time was left";
}

TEST(OneShotLocator, SilenceEndsAtTheDeadlineWithTheTimeoutInWholeSeconds) {
  ScriptedSource source({});
  Located located = locate(source, 1.3s);
  ASSERT_EQ(located.answers.size(), 1u);
  EXPECT_EQ(failureOf(located).code(), ErrorCode::Timeout);
  EXPECT_EQ(failureOf(located).message(),
            "This Mac could not work out its location within 1 s (Location Services usually need Wi-Fi turned on). "
            "Try again later.");
  EXPECT_GE(located.took, 1300ms);
  EXPECT_LT(located.took, 1800ms);
  EXPECT_EQ(source.log().requests.size(), 1u);
  EXPECT_EQ(source.log().stops, 1);
}

TEST(OneShotLocator, AFixAfterTheDeadlineIsNeitherAnsweredNorDelivered) {
  ScriptedSource source({{{150ms, std::vector{fix(1, 5)}}}});
  Located located = locate(source, 50ms, 200ms);
  ASSERT_EQ(located.answers.size(), 1u);
  EXPECT_EQ(failureOf(located).code(), ErrorCode::Timeout);
  EXPECT_EQ(source.log().deliveredAfterStop, 1) << "the late fix found its manager stopped";
}

TEST(OneShotLocator, FruitlessDeliveriesUntilTheDeadlineTimeOut) {
  // Fixes that are never usable are not an error: the request runs out of time.
  ScriptedSource source({{{0ms, std::vector{fix(0, -1)}}}});
  Located located = locate(source, 120ms);
  ASSERT_EQ(located.answers.size(), 1u);
  EXPECT_EQ(failureOf(located).code(), ErrorCode::Timeout);
  EXPECT_GE(source.log().requests.size(), 4u);
}

TEST(OneShotLocator, ManyLocatorsAtOnceEachAnswerOnce) {
  constexpr int kCount = 50;
  ScriptedSource source({{{1ms, kUnknown}}, {{2ms, std::vector{fix(3, 3)}}}});
  int answered = 0, fixes = 0;
  for (int i = 0; i < kCount; ++i)
    OneShotLocator::make(source, kFast)->locate(i % 2 ? 1s : 25ms, [&](FixOutcome outcome) {
      ++answered;
      fixes += std::holds_alternative<LocationFix>(outcome);
      if (answered == kCount) platform::mainQueue::quit();
    });
  platform::mainQueue::run();
  EXPECT_EQ(answered, kCount);
  EXPECT_EQ(source.log().stops, kCount);
  EXPECT_GE(fixes, kCount / 2) << "the locators with time to retry all got their fix";
}

}  // namespace
}  // namespace wren

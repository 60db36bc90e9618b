#include "app/Router.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

namespace wren {
namespace {

// The outcome a dispatch delivers, waited for.
Outcome outcomeOf(const Router& router, const std::string& method, const Params& params = Params()) {
  std::promise<Outcome> promise;
  std::future<Outcome> future = promise.get_future();
  router.dispatch(method, params, Reply([&promise](Outcome outcome) { promise.set_value(std::move(outcome)); }));
  return future.get();
}

std::string errorCode(const Outcome& outcome) {
  const HelperError* error = std::get_if<HelperError>(&outcome);
  return error ? std::string(wireName(error->code())) : "(no error)";
}

TEST(Router, MethodNamesCompareExactly) {
  Router router;
  router.registerMethod("calendar.status", [](const Params&) { return Json("ok"); });
  EXPECT_EQ(std::get<Json>(outcomeOf(router, "calendar.status")), "ok");
  for (const char* name : {"Calendar.status", "calendar.status ", "", "calendar"}) {
    SCOPED_TRACE(name);
    Outcome outcome = outcomeOf(router, name);
    ASSERT_EQ(errorCode(outcome), "unknown_action");
    EXPECT_EQ(std::get<HelperError>(outcome).message(), std::string("wren-mac-helper has no method ") + name);
    EXPECT_FALSE(std::get<HelperError>(outcome).details());
  }
}

TEST(Router, LaterRegistrationReplacesEarlierWhateverItsForm) {
  Router router;
  router.registerMethod("m", [](const Params&) { return Json(1); });
  router.registerMethod("m", [](const Params&) { return Json(2); });
  EXPECT_EQ(router.handle("m", Params()), 2);
  router.registerAsyncMethod("m", [](const Params&, Reply reply) { reply.succeed(Json(3)); });
  EXPECT_EQ(router.handle("m", Params()), 3);
  router.registerMethod("m", [](const Params&) { return Json(4); });
  EXPECT_EQ(router.handle("m", Params()), 4);
}

TEST(Router, PlainHandlerFailuresBecomeOutcomes) {
  Router router;
  router.registerMethod("helper", [](const Params&) -> Json { throw HelperError(ErrorCode::InvalidArgs, "bad"); });
  router.registerMethod("other", [](const Params&) -> Json { throw std::runtime_error("disk on fire"); });
  EXPECT_EQ(errorCode(outcomeOf(router, "helper")), "invalid_args");
  Outcome other = outcomeOf(router, "other");
  EXPECT_EQ(errorCode(other), "execution_failed");
  EXPECT_EQ(std::get<HelperError>(other).message(), "disk on fire");
  EXPECT_THROW(router.handle("helper", Params()), HelperError);
}

// An asynchronous handler returns before it answers; the answer comes from another thread.
TEST(Router, AsyncHandlersAnswerLaterFromAnyThread) {
  Router router;
  std::thread answerer;
  router.registerAsyncMethod("later", [&answerer](const Params& params, Reply reply) {
    std::string name = *params.string("name");  // params are read during the call
    answerer = std::thread([reply, name] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      reply.succeed(Json("hello " + name));
    });
  });
  EXPECT_EQ(router.handle("later", Params(Json{{"name", "Ann"}})), "hello Ann");
  answerer.join();
}

TEST(Router, AsyncHandlerThatThrowsBeforeAnsweringFailsTheRequestOnce) {
  Router router;
  router.registerAsyncMethod("throws", [](const Params&, Reply) { throw HelperError(ErrorCode::InvalidArgs, "x is required"); });
  router.registerAsyncMethod("answersThenThrows", [](const Params&, Reply reply) {
    reply.succeed(Json("answered"));
    throw std::runtime_error("too late to matter");
  });
  router.registerAsyncMethod("forgets", [](const Params&, Reply) {});
  Outcome thrown = outcomeOf(router, "throws");
  EXPECT_EQ(std::get<HelperError>(thrown).message(), "x is required");
  EXPECT_EQ(std::get<Json>(outcomeOf(router, "answersThenThrows")), "answered");
  EXPECT_EQ(errorCode(outcomeOf(router, "forgets")), "execution_failed");
}

}  // namespace
}  // namespace wren

#include "app/Reply.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace wren {
namespace {

// Collects what a Reply delivers.
struct Delivered {
  std::mutex mutex;
  std::vector<Outcome> outcomes;

  Reply reply() {
    return Reply([this](Outcome outcome) {
      std::lock_guard lock(mutex);
      outcomes.push_back(std::move(outcome));
    });
  }
};

TEST(Reply, TheFirstAnswerIsDeliveredAndLaterOnesAreIgnored) {
  Delivered delivered;
  Reply reply = delivered.reply();
  Reply copy = reply;
  EXPECT_FALSE(reply.answered());
  EXPECT_TRUE(copy.succeed(Json{{"a", 1}}));
  EXPECT_TRUE(reply.answered());
  EXPECT_FALSE(reply.fail(HelperError(ErrorCode::Timeout, "late")));
  EXPECT_FALSE(copy.succeed(Json(2)));
  ASSERT_EQ(delivered.outcomes.size(), 1u);
  EXPECT_EQ(std::get<Json>(delivered.outcomes[0]), Json({{"a", 1}}));
}

TEST(Reply, ARequestLeftWithoutAnAnswerIsAnsweredWhenTheLastCopyGoes) {
  Delivered delivered;
  {
    Reply reply = delivered.reply();
    std::vector<Reply> copies(3, reply);
    EXPECT_TRUE(delivered.outcomes.empty());
  }
  ASSERT_EQ(delivered.outcomes.size(), 1u);
  const HelperError& error = std::get<HelperError>(delivered.outcomes[0]);
  EXPECT_EQ(error.code(), "execution_failed");
  EXPECT_EQ(error.message(), "wren-mac-helper ended the request without an answer");
}

// Several threads answer one request at once (an answer and a deadline, say): one delivery.
// Run under ThreadSanitizer.
TEST(Reply, RacingAnswersDeliverOnce) {
  for (int round = 0; round < 200; ++round) {
    Delivered delivered;
    std::atomic<int> winners{0};
    {
      Reply reply = delivered.reply();
      std::vector<std::thread> answerers;
      for (int t = 0; t < 4; ++t)
        answerers.emplace_back([reply, t, &winners] {
          if (t % 2 ? reply.succeed(Json(t)) : reply.fail(HelperError(ErrorCode::Timeout, "t"))) ++winners;
        });
      for (std::thread& answerer : answerers) answerer.join();
    }
    ASSERT_EQ(winners, 1);
    ASSERT_EQ(delivered.outcomes.size(), 1u);
  }
}

TEST(CurrentFailure, HelperErrorsPassOthersBecomeExecutionFailures) {
  auto failureOf = [](auto thrower) {
    try {
      thrower();
    } catch (...) {
      return currentFailure();
    }
    return HelperError(ErrorCode::InvalidArgs, "nothing thrown");
  };
  HelperError passed = failureOf([] { throw HelperError(ErrorCode::OsPermission, "no", Json{{"settingsUrl", "x"}}); });
  EXPECT_EQ(passed.code(), "os_permission");
  EXPECT_EQ(passed.message(), "no");
  EXPECT_EQ(passed.details(), Json({{"settingsUrl", "x"}}));
  HelperError described = failureOf([] { throw std::runtime_error("disk on fire"); });
  EXPECT_EQ(described.code(), "execution_failed");
  EXPECT_EQ(described.message(), "disk on fire");
  EXPECT_FALSE(described.details());
  EXPECT_EQ(failureOf([] { throw 7; }).message(), "unknown error");
}

}  // namespace
}  // namespace wren

#include "system/OwnerAuth.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <optional>

#include "platform/MainQueue.h"
#include "support/MainQueueThread.h"
#include "support/TestSupport.h"

namespace wren {
namespace {

using Kind = platform::AuthorityAnswer::Kind;

// An authority that answers as scripted, on the main queue as the real one does, or never.
class ScriptedAuthority : public platform::OwnerAuthority {
 public:
  explicit ScriptedAuthority(std::optional<platform::AuthorityAnswer> script) : script_(std::move(script)) {}

  Cancel check(const std::string& reason, Answer answer) override {
    {
      std::lock_guard lock(mutex_);
      reasons_.push_back(reason);
    }
    if (script_) platform::mainQueue::post([answer, script = *script_] { answer(script); });
    return [this] { cancelled_ = true; };
  }

  std::vector<std::string> reasons() const {
    std::lock_guard lock(mutex_);
    return reasons_;
  }
  bool cancelled() const { return cancelled_; }

 private:
  std::optional<platform::AuthorityAnswer> script_;
  mutable std::mutex mutex_;
  std::vector<std::string> reasons_;
  std::atomic<bool> cancelled_{false};
};

class OwnerVerify : public ::testing::Test {
 protected:
  // The reply to one request against the authority: the result, or the failure as
  // {"code", "message"}.
  Json verify(std::shared_ptr<ScriptedAuthority> authority, Json params = Json::object(),
              std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    Router router;
    router.registerAsyncMethod("owner.verify", [authority, deadline](const Params& p, Reply reply) {
      ownerVerify(p, std::move(reply), authority, deadline);
    });
    try {
      return router.handle("owner.verify", Params(std::move(params)));
    } catch (const HelperError& error) {
      return Json{{"code", error.code()}, {"message", error.message()}};
    }
  }

  testing::MainQueueThread mainThread_;
};

TEST_F(OwnerVerify, AuthorityAnswersMapOntoTheReply) {
  const Json cancelled = {{"code", "cancelled"}, {"message", "未通过验证"}};
  const struct {
    const char* what;
    platform::AuthorityAnswer answer;
    Json reply;
  } cases[] = {
      {"verified", {Kind::Authorized, ""}, {{"verified", true}}},
      {"dismissed or failed", {Kind::NotAuthorized, ""}, cancelled},
      {"check failed", {Kind::Failed, "Operation was cancelled"}, cancelled},
      {"no polkit",
       {Kind::NoAuthority, "Could not connect: No such file or directory"},
       {{"code", "unsupported"}, {"message", "Could not connect: No such file or directory"}}},
      {"no agent",
       {Kind::NoAgent, "Authorization requires authentication but no agent is available."},
       {{"code", "unsupported"}, {"message", "Authorization requires authentication but no agent is available."}}},
      {"no action",
       {Kind::NoAction, "Action org.wren.mac-helper.verify-owner is not registered"},
       {{"code", "unsupported"}, {"message", "Action org.wren.mac-helper.verify-owner is not registered"}}},
      {"unsupported without a description",
       {Kind::NoAuthority, ""},
       {{"code", "unsupported"}, {"message", "这台 Mac 不能验证本人"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(verify(std::make_shared<ScriptedAuthority>(c.answer)), c.reply);
  }
}

TEST_F(OwnerVerify, ReasonDefaultsWhenAbsentOrBlank) {
  const std::pair<Json, std::string> cases[] = {
      {Json::object(), "查看已保存的密码"},
      {{{"reason", "   \t\n"}}, "查看已保存的密码"},
      {{{"reason", 42}}, "查看已保存的密码"},
      {{{"reason", "  导出钥匙串  "}}, "导出钥匙串"},
  };
  for (const auto& [params, reason] : cases) {
    SCOPED_TRACE(params.dump());
    auto authority = std::make_shared<ScriptedAuthority>(platform::AuthorityAnswer{Kind::Authorized, ""});
    verify(authority, params);
    EXPECT_EQ(authority->reasons(), std::vector<std::string>{reason});
  }
}

TEST_F(OwnerVerify, AnAuthorityThatNeverAnswersIsCancelledAtTheDeadline) {
  auto authority = std::make_shared<ScriptedAuthority>(std::nullopt);
  Json reply = verify(authority, Json::object(), std::chrono::milliseconds(50));
  EXPECT_EQ(reply, (Json{{"code", "cancelled"}, {"message", "未通过验证"}}));
  // The dialog nobody waits for is taken down.
  EXPECT_TRUE(authority->cancelled());
}

TEST_F(OwnerVerify, ConcurrentChecksAnswerIndependently) {
  auto yes = std::make_shared<ScriptedAuthority>(platform::AuthorityAnswer{Kind::Authorized, ""});
  auto no = std::make_shared<ScriptedAuthority>(platform::AuthorityAnswer{Kind::NotAuthorized, ""});
  std::vector<std::thread> threads;
  std::atomic<int> verified{0}, refused{0};
  for (int i = 0; i < 16; ++i) {
    threads.emplace_back([&, i] {
      Json reply = verify(i % 2 ? yes : no);
      (reply.contains("verified") ? verified : refused)++;
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(verified, 8);
  EXPECT_EQ(refused, 8);
}

}  // namespace
}  // namespace wren

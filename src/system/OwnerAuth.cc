#include "system/OwnerAuth.h"

#include <optional>
#include <string>
#include <utility>

#include "platform/MainQueue.h"
#include "platform/OneShot.h"

namespace wren {

namespace {

constexpr const char* kNotVerified = "未通过验证";
// For a machine that cannot verify its owner and gives no reason why.
constexpr const char* kCannotVerify = "这台 Mac 不能验证本人";

using AnswerSlot = platform::OneShot<platform::AuthorityAnswer>;

void answer(const Reply& reply, const std::optional<platform::AuthorityAnswer>& outcome) {
  using Kind = platform::AuthorityAnswer::Kind;
  if (!outcome) {
    reply.fail(HelperError(ErrorCode::Cancelled, kNotVerified));
    return;
  }
  switch (outcome->kind) {
    case Kind::Authorized:
      reply.succeed(Json{{"verified", true}});
      return;
    case Kind::NoAuthority:
    case Kind::NoAgent:
    case Kind::NoAction:
      reply.fail(HelperError(ErrorCode::Unsupported,
                             outcome->description.empty() ? kCannotVerify : outcome->description));
      return;
    case Kind::NotAuthorized:
    case Kind::Failed:
      break;
  }
  reply.fail(HelperError(ErrorCode::Cancelled, kNotVerified));
}

}  // namespace

void ownerVerify(const Params& params, Reply reply, std::shared_ptr<platform::OwnerAuthority> authority,
                 std::chrono::milliseconds deadline) {
  std::string reason = params.string("reason").value_or(kDefaultOwnerReason);
  // The wait starts on the main queue, where the deadline's timer and the authority's answer
  // come too: the cancel function of the check is set and read there only.
  platform::mainQueue::post([reason, reply, authority, deadline] {
    auto cancel = std::make_shared<platform::OwnerAuthority::Cancel>();
    auto slot = AnswerSlot::start(deadline, [reply, cancel](std::optional<platform::AuthorityAnswer> outcome) {
      // A dialog nobody waits for any more is taken down.
      if (!outcome && *cancel) (*cancel)();
      answer(reply, outcome);
    });
    *cancel = authority->check(reason, [slot](platform::AuthorityAnswer outcome) { slot->resolve(std::move(outcome)); });
  });
}

void registerOwnerAuth(Router& router, std::shared_ptr<platform::OwnerAuthority> authority) {
  router.registerAsyncMethod("owner.verify", [authority](const Params& params, Reply reply) {
    ownerVerify(params, std::move(reply), authority);
  });
}

}  // namespace wren

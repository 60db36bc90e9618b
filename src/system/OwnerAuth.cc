#include "system/OwnerAuth.h"

#include <mutex>
#include <optional>
#include <string>
#include <utility>

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
  // The deadline may pass before the check has handed back its cancel function: the wish to
  // cancel then waits here for it.
  struct CancelBox {
    std::mutex mutex;
    platform::OwnerAuthority::Cancel cancel;
    bool wanted = false;
  };
  auto box = std::make_shared<CancelBox>();
  auto slot = AnswerSlot::start(deadline, [reply, box](std::optional<platform::AuthorityAnswer> outcome) {
    if (!outcome) {
      // A dialog nobody waits for any more is taken down.
      platform::OwnerAuthority::Cancel cancel;
      {
        std::lock_guard lock(box->mutex);
        box->wanted = true;
        cancel = box->cancel;
      }
      if (cancel) cancel();
    }
    answer(reply, outcome);
  });
  platform::OwnerAuthority::Cancel cancel =
      authority->check(reason, [slot](platform::AuthorityAnswer outcome) { slot->resolve(std::move(outcome)); });
  bool wanted = false;
  {
    std::lock_guard lock(box->mutex);
    box->cancel = cancel;
    wanted = box->wanted;
  }
  if (wanted && cancel) cancel();
}

void registerOwnerAuth(Router& router, std::shared_ptr<platform::OwnerAuthority> authority) {
  router.registerAsyncMethod("owner.verify", [authority](const Params& params, Reply reply) {
    ownerVerify(params, std::move(reply), authority);
  });
}

}  // namespace wren

#pragma once

#include <chrono>
#include <memory>

#include "app/Params.h"
#include "app/Reply.h"
#include "app/Router.h"
#include "platform/OwnerAuthority.h"

namespace wren {

// The reason the dialog shows when the request gives none: "view saved passwords".
inline constexpr const char* kDefaultOwnerReason = "查看已保存的密码";

// The person may take as long as they need, but not for ever: a dialog left open this long,
// or an authority that never answers, ends the wait as a verification that did not succeed.
inline constexpr std::chrono::minutes kOwnerVerifyDeadline(10);

// owner.verify: asks the authority to confirm the owner, showing `reason` (the default reason
// when absent or white space), and answers `reply` with {"verified": true}, or fails with
// "unsupported" (no authority, agent or action; the system's description) or "cancelled"
// "未通过验证" (dismissed, failed, refused, cut off by the deadline). No thread waits for the
// person meanwhile.
void ownerVerify(const Params& params, Reply reply, std::shared_ptr<platform::OwnerAuthority> authority,
                 std::chrono::milliseconds deadline = kOwnerVerifyDeadline);

// Registers owner.verify.
void registerOwnerAuth(Router& router, std::shared_ptr<platform::OwnerAuthority> authority);

}  // namespace wren

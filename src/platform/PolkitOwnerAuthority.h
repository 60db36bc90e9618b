#pragma once

#include <string>

#include "platform/OwnerAuthority.h"

namespace wren::platform {

// The helper's own polkit action, installed with the program from data/ (see the README). Its
// default asks every user for their own password (auth_self), so polkit's authentication agent
// shows its dialog and polkit alone sees the password.
inline constexpr const char* kVerifyOwnerAction = "org.wren.mac-helper.verify-owner";

// Owner verification through polkit on the system bus: one CheckAuthorization of the action
// for this very process, with user interaction allowed and the reason as the dialog's message.
// No system bus or no polkit daemon is NoAuthority, an action polkit does not know NoAction,
// a check that needed a dialog no agent could show NoAgent; each with polkit's (or D-Bus's)
// own description. Root is always authorised by polkit, without a dialog.
class PolkitOwnerAuthority : public OwnerAuthority {
 public:
  explicit PolkitOwnerAuthority(std::string actionId = kVerifyOwnerAction) : actionId_(std::move(actionId)) {}

  Cancel check(const std::string& reason, Answer answer) override;

 private:
  std::string actionId_;
};

}  // namespace wren::platform
